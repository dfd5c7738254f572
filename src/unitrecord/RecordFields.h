// RecordFields: the one table of a unit record's fields, in the order the export lists them:
// each field's JSON path (also the export's header), its column in the store and the member
// that holds it, whose type gives the field's. The JSON result line, the store's entries and
// columns, the fallback file, the CSV export and the listings all read it; a new field is one
// line here and, for the store, one migration step.
#pragma once

#include "UnitRecord.h"

#include <QJsonObject>
#include <QJsonValue>
#include <QString>
#include <QStringList>

#include <span>
#include <variant>

// A unit's record as the store keeps it: the station, the series its number was taken from
// and a key of its own; the store numbers what it holds.
struct TStoredRecord {
    TUnitRecord Unit;
    QString Station;
    QString Series;   // empty: none
    QString Key;
    qint64 Id = -1;   // -1: not in a store yet
};

enum class TFieldType {
    Text,
    Integer,
    Settings,   // an object of its own ("settings"), kept in the store as compact JSON
};

using TRecordMember = std::variant<QString TUnitRecord::*, int32_t TUnitRecord::*, uint64_t TUnitRecord::*,
                                   TStepResult TUnitRecord::*, TUnitOutcome TUnitRecord::*, QDateTime TUnitRecord::*,
                                   TKernelHeader TUnitRecord::*,       // when SettingsWritten
                                   TOperationFailure TUnitRecord::*,   // its kind; its words are the message
                                   qint64 (TUnitRecord::*)() const,    // worked out: written, never read back
                                   QString TStoredRecord::*, qint64 TStoredRecord::*>;

struct TRecordField {
    const char* Path;     // "steps.kernel": "kernel" inside "steps"; also the export's header
    const char* Column;   // its column in unit_records; nullptr: none (the store's own id)
    TRecordMember Member;

    TFieldType Type() const;
    // Not in a unit's JSON result line: the store's alone.
    bool StoreOnly() const;
};

std::span<const TRecordField> RecordFields();
// The fields of "settings", in the export's order.
const QStringList& SettingsKeys();

// The record as the store hands it out and the fallback file keeps it: UnitRecordJson with
// the station, the series, the key, times in UTC and, once stored, the id.
QJsonObject StoredRecordJson(const TStoredRecord& record);
// Back from that shape (or from a unit's JSON result line); a field it lacks keeps its default.
TStoredRecord StoredRecordFromJson(const QJsonObject& json);
// A time as the store keeps it: UTC text of one fixed width, so that text order is time order.
QString UtcText(const QDateTime& moment);

// A field of a record's JSON by path; undefined when it has none.
QJsonValue RecordField(const QJsonObject& record, const QString& path);
void SetRecordField(QJsonObject& record, const QString& path, const QJsonValue& value);
// A value as text: numbers whole, texts as they are, anything else empty.
QString RecordValueText(const QJsonValue& value);
QString RecordFieldText(const QJsonObject& record, const QString& path);
