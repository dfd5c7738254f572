#include "RecordsCsv.h"

#include <QStringList>

namespace {

// The columns of the export, by key ("steps.kernel": inside "steps").
const char* const CsvColumns[] = {
    "id",
    "start",
    "end",
    "station",
    "unit",
    "outcome",
    "nadBefore",
    "nadAfter",
    "serial",
    "serialTaken",
    "series",
    "platform",
    "kernelVersion",
    "kernelFile",
    "kernelSha256",
    "programFile",
    "programSha256",
    "recipe",
    "kernelSourceSha256",
    "programSourceSha256",
    "settings.nadAlias",
    "settings.hardwareModel",
    "settings.iexBaudRate",
    "settings.ipAddress",
    "settings.subnetMask",
    "settings.gateway",
    "settings.dnsServer",
    "steps.serial",
    "steps.kernel",
    "steps.program",
    "steps.verify",
    "durationMs",
    "requests",
    "resent",
    "message",
};

QString CsvField(const QString& text)
{
    if (!text.contains(u',') && !text.contains(u'"') && !text.contains(u'\n') && !text.contains(u'\r'))
        return text;
    return u'"' + QString(text).replace(QStringLiteral("\""), QStringLiteral("\"\"")) + u'"';
}

}   // namespace

QJsonValue RecordField(const QJsonObject& record, const QString& key)
{
    const qsizetype dot = key.indexOf(u'.');
    return dot < 0 ? record.value(key) : record.value(key.left(dot)).toObject().value(key.mid(dot + 1));
}

QString RecordValueText(const QJsonValue& value)
{
    if (value.isDouble())
        return QString::number(value.toInteger());
    return value.toString();
}

QString RecordFieldText(const QJsonObject& record, const QString& key)
{
    return RecordValueText(RecordField(record, key));
}

QString RecordsCsv(const QList<QJsonObject>& records)
{
    QStringList header;
    for (const char* column : CsvColumns)
        header << QLatin1String(column);
    QString text = header.join(u',') + u'\n';
    for (const QJsonObject& record : records) {
        QStringList fields;
        for (const char* column : CsvColumns)
            fields << CsvField(RecordFieldText(record, QLatin1String(column)));
        text += fields.join(u',') + u'\n';
    }
    return text;
}
