// RecordFields: the one table of a unit record's fields, in the order the export lists them:
// each field's JSON path (also the export's header), its column in the store, the member that
// holds it, whose type gives the field's and its column's, and the version of the store's
// schema that brought the column. The JSON result line, the store's entries, columns and
// their migrations, the fallback file, the CSV export and the listings all read it; a new
// field is a member of TUnitRecord and one line here, its column brought by a schema version
// one above the store's newest (TRecordStore::SchemaVersion, which goes up with it).
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

// What a column holds beside its type. A column added after the first version of the schema
// is optional: the records kept before it have none.
enum class TColumnRule {
    Optional,
    Required,   // every record has it: the store refuses one without
    Key,        // required, and no two records share it
};

struct TRecordField {
    const char* Path;     // "steps.kernel": "kernel" inside "steps"; also the export's header
    const char* Column;   // its column in unit_records; nullptr: none (the store's own id)
    TRecordMember Member;
    int Schema = 0;   // the version of the store's schema that brought the column
    TColumnRule Rule = TColumnRule::Optional;

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
