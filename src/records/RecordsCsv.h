// RecordsCsv: unit records as the store hands them out (RecordEntry's shape), read field by
// field and exported as comma-separated values, for orvel-loader records --csv and the
// station window's export alike.
#pragma once

#include <QJsonObject>
#include <QJsonValue>
#include <QList>
#include <QString>

// A field of a record by key; "steps.kernel": "kernel" inside "steps".
QJsonValue RecordField(const QJsonObject& record, const QString& key);
// A value as text: numbers whole, texts as they are, anything else empty.
QString RecordValueText(const QJsonValue& value);
QString RecordFieldText(const QJsonObject& record, const QString& key);
// Every record as a line of comma-separated values under a header line of the keys; a field
// holding a comma, a quote or a line break is quoted.
QString RecordsCsv(const QList<QJsonObject>& records);
