#include "RecordsCsv.h"

#include <QStringList>

namespace {

// The export's columns: every field of a record but its key, the settings spread into theirs.
const QStringList& CsvColumns()
{
    static const QStringList columns = [] {
        QStringList all;
        for (const TRecordField& field : RecordFields()) {
            const QString path = QLatin1String(field.Path);
            if (field.Type() == TFieldType::Settings)
                for (const QString& key : SettingsKeys())
                    all << path + u'.' + key;
            else if (path != QLatin1String("key"))
                all << path;
        }
        return all;
    }();
    return columns;
}

QString CsvField(const QString& text)
{
    if (!text.contains(u',') && !text.contains(u'"') && !text.contains(u'\n') && !text.contains(u'\r'))
        return text;
    return u'"' + QString(text).replace(QStringLiteral("\""), QStringLiteral("\"\"")) + u'"';
}

}   // namespace

QString RecordsCsv(const QList<TStoredRecord>& records)
{
    QString text = CsvColumns().join(u',') + u'\n';
    for (const TStoredRecord& stored : records) {
        const QJsonObject record = StoredRecordJson(stored);
        QStringList fields;
        for (const QString& column : CsvColumns())
            fields << CsvField(RecordFieldText(record, column));
        text += fields.join(u',') + u'\n';
    }
    return text;
}
