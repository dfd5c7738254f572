#include "ProgramFolders.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

QString UserDataFolder()
{
    const QString dataLocation = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    return dataLocation.isEmpty() ? QString() : QDir(dataLocation).filePath(QStringLiteral("OrvelBinLoader"));
}

QStringList SystemPrefixes()
{
    // ORVEL_INSTALL_PREFIX: where `cmake --install` of this build puts the programs.
    return {QStringLiteral("/usr"), QStringLiteral("/usr/local"), QStringLiteral("/opt"),
            QStringLiteral(ORVEL_INSTALL_PREFIX)};
}

bool InSystemPrefix(const QString& folder, const QStringList& prefixes)
{
    const QString canonical = QFileInfo(folder).canonicalFilePath();
    const QString path = canonical.isEmpty() ? QDir::cleanPath(folder) : canonical;
    for (const QString& prefix : prefixes) {
        const QString clean = QDir::cleanPath(prefix);
        if (clean == QLatin1String("/"))   // a prefix of / would take in every folder there is
            continue;
        if (path == clean || path.startsWith(clean + u'/'))
            return true;
    }
    return false;
}

bool IsFolderWritable(const QString& folder)
{
    const QFileInfo info(folder);
    return info.isDir() && info.isWritable();
}

QString WritableFolder(const QString& programFolder, const TFolderWritable& isWritable,
                       const QStringList& systemPrefixes)
{
    if (!InSystemPrefix(programFolder, systemPrefixes) && isWritable(programFolder))
        return programFolder;
    const QString dataFolder = UserDataFolder();
    if (dataFolder.isEmpty())   // no home folder: the write fails and says so, in the program's folder
        return programFolder;
    // A folder that cannot be made shows when the file is written, as any other write error.
    QDir().mkpath(dataFolder);
    return dataFolder;
}

QString WritableProgramFolder()
{
    return WritableFolder(QCoreApplication::applicationDirPath());
}

QString ProgramDataFile(const QString& programFolder, const QString& fileName)
{
    // ORVEL_DATA_FROM_BIN: the installed data folder as seen from the installed executable's.
    const QString installed = QDir(programFolder).filePath(QStringLiteral(ORVEL_DATA_FROM_BIN "/") + fileName);
    return QFileInfo::exists(installed) ? QDir::cleanPath(installed) : QDir(programFolder).filePath(fileName);
}
