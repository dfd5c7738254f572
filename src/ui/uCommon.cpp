#include "uCommon.h"

#include <QStringList>

QString VersionTextParts(const QString& fileVersion, int parts)
{
    if (parts <= 0 || fileVersion.isEmpty())
        return {};
    if (parts >= 4)
        return fileVersion;
    return fileVersion.split(u'.').mid(0, parts).join(u'.');
}

QString GetVersionText(int parts)
{
    return VersionTextParts(QStringLiteral(ORVEL_VERSION_TEXT), parts);
}

QString MessageLogLine(const QDateTime& moment, const QString& text)
{
    return moment.toString(QStringLiteral("yyyy-MM-dd hh:mm:ss: ")) + text;
}

void InitPictureResources()
{
    static const bool registered = [] {
        Q_INIT_RESOURCE(OrvelBinLoader);
        return true;
    }();
    Q_UNUSED(registered);
}
