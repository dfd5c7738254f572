#include "FallbackFile.h"

#include <QJsonDocument>
#include <QJsonParseError>

namespace {

// A record as RecordEntry makes it names these, as text; a line without them is no record
// of ours, and the store would refuse it.
const char* const RequiredTexts[] = {"key", "unit", "station", "start"};

}   // namespace

TFallbackContent ReadFallback(const QByteArray& bytes)
{
    TFallbackContent content;
    qsizetype number = 0;
    for (const QByteArray& raw : bytes.split('\n')) {
        ++number;
        const QByteArray line = raw.endsWith('\r') ? raw.chopped(1) : raw;
        if (line.trimmed().isEmpty())
            continue;
        QJsonParseError parse{};
        const QJsonDocument document = QJsonDocument::fromJson(line, &parse);
        QString why;
        if (parse.error != QJsonParseError::NoError)
            why = QStringLiteral("not a whole record (") + parse.errorString() + QStringLiteral(" at byte ") +
                  QString::number(parse.offset) + u')';
        else if (!document.isObject())
            why = QStringLiteral("not a record");
        for (const char* key : RequiredTexts)
            if (why.isEmpty() && document.object().value(QLatin1String(key)).toString().isEmpty())
                why = QStringLiteral("a record without its \"") + QLatin1String(key) + u'"';
        if (why.isEmpty())
            content.Entries.append({number, line, document.object(), {}});
        else
            content.Bad.append({number, line, {}, why});
    }
    return content;
}
