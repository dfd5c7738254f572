// RecordFields: the one table of a unit record's fields, in the order the export lists them:
// each field's JSON path (also the export's header), its column in the store and its type.
// The JSON result line, the store's columns, the CSV export and the listings all read it;
// a new field is one line here and, for the store, one migration step.
#pragma once

#include "UnitRecord.h"

#include <QJsonObject>
#include <QJsonValue>
#include <QString>
#include <QStringList>

#include <span>

enum class TFieldType {
    Text,
    Integer,
    Settings,   // an object of its own ("settings"), kept in the store as compact JSON
};

struct TRecordField {
    const char* Path;     // "steps.kernel": "kernel" inside "steps"; also the export's header
    const char* Column;   // its column in unit_records; nullptr: none (the store's own id)
    TFieldType Type;
    // Its value in a unit's JSON result line; undefined: left out. nullptr: a field of the
    // store alone (its id and key, the station, the series).
    QJsonValue (*Value)(const TUnitRecord& record);
};

std::span<const TRecordField> RecordFields();
// The fields of "settings", in the export's order.
const QStringList& SettingsKeys();

// A field of a record's JSON by path; undefined when it has none.
QJsonValue RecordField(const QJsonObject& record, const QString& path);
void SetRecordField(QJsonObject& record, const QString& path, const QJsonValue& value);
// A value as text: numbers whole, texts as they are, anything else empty.
QString RecordValueText(const QJsonValue& value);
QString RecordFieldText(const QJsonObject& record, const QString& path);
