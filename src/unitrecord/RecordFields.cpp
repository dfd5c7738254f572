#include "RecordFields.h"

#include "uEthernetUtils.h"

#include <type_traits>

namespace {

using U = TUnitRecord;
using S = TStoredRecord;

constexpr TColumnRule Required = TColumnRule::Required;
constexpr TColumnRule Key = TColumnRule::Key;

const TRecordField Fields[] = {
    {"id", nullptr, &S::Id},
    {"start", "started", &U::Started, 1, Required},
    {"end", "ended", &U::Ended, 1},
    {"station", "station", &S::Station, 1, Required},
    {"unit", "unit_ip", &U::IP, 1, Required},
    {"outcome", "outcome", &U::Outcome, 1, Required},
    {"nadBefore", "nad_before", &U::NadBefore, 1},
    {"nadAfter", "nad_after", &U::NadAfter, 1},
    {"serial", "serial", &U::Serial, 1},
    {"serialTaken", "serial_taken", &U::SerialTaken, 1},
    {"series", "series", &S::Series, 1},
    {"platform", "platform", &U::Platform, 1},
    {"kernelVersion", "kernel_version", &U::KernelVersion, 1},
    {"kernelFile", "kernel_file", &U::KernelFile, 1},
    {"kernelSha256", "kernel_sha256", &U::KernelSha256, 1},
    {"programFile", "program_file", &U::ProgramFile, 1},
    {"programSha256", "program_sha256", &U::ProgramSha256, 1},
    {"recipe", "recipe", &U::Recipe, 4},
    {"kernelSourceSha256", "kernel_source_sha256", &U::KernelSourceSha256, 4},
    {"programSourceSha256", "program_source_sha256", &U::ProgramSourceSha256, 4},
    {"settings", "settings", &U::Settings, 1},
    {"steps.serial", "serial_step", &U::SerialStep, 1},
    {"steps.kernel", "kernel_step", &U::KernelStep, 1},
    {"steps.program", "program_step", &U::ProgramStep, 1},
    {"steps.verify", "verify_step", &U::VerifyStep, 1},
    {"durationMs", "duration_ms", &U::DurationMs, 1},
    {"requests", "requests", &U::Requests, 1},
    {"resent", "resent", &U::Resent, 1},
    {"message", "message", &U::Message, 1},
    {"failure", "failure", &U::Failure, 5},
    {"key", "record_key", &S::Key, 1, Key},
};

using H = TKernelHeader;

// A code by its name: the first of 0 to 255 whose name it is; 0 when none is.
uint16_t CodeNamed(QString (*name)(uint16_t), const QString& text)
{
    for (uint16_t code = 0; code < 256; ++code)
        if (name(code) == text)
            return code;
    return 0;
}

// The fields of "settings": the configuration header as the operator reads it, and back.
struct TSettingsField {
    const char* Key;
    QJsonValue (*Get)(const H& header);
    void (*Set)(H& header, const QJsonValue& value);
};

const TSettingsField SettingsFields[] = {
    {"nadAlias", [](const H& h) -> QJsonValue { return qint64(h.NadAlias); },
     [](H& h, const QJsonValue& v) { h.NadAlias = uint32_t(v.toInteger()); }},
    {"hardwareModel", [](const H& h) -> QJsonValue { return HardwareModelName(h.HardwareModel); },
     [](H& h, const QJsonValue& v) { h.HardwareModel = CodeNamed(HardwareModelName, v.toString()); }},
    {"iexBaudRate", [](const H& h) -> QJsonValue { return IEXBaudRateText(h.IEXBaudRate); },
     [](H& h, const QJsonValue& v) { h.IEXBaudRate = CodeNamed(IEXBaudRateText, v.toString()); }},
    {"ipAddress", [](const H& h) -> QJsonValue { return IPToStr(h.IPAddress); },
     [](H& h, const QJsonValue& v) { h.IPAddress = StrToIPDef(v.toString(), 0); }},
    {"subnetMask", [](const H& h) -> QJsonValue { return IPToStr(h.SubnetMask); },
     [](H& h, const QJsonValue& v) { h.SubnetMask = StrToIPDef(v.toString(), 0); }},
    {"gateway", [](const H& h) -> QJsonValue { return IPToStr(h.Gateway); },
     [](H& h, const QJsonValue& v) { h.Gateway = StrToIPDef(v.toString(), 0); }},
    {"dnsServer", [](const H& h) -> QJsonValue { return IPToStr(h.DNSServer); },
     [](H& h, const QJsonValue& v) { h.DNSServer = StrToIPDef(v.toString(), 0); }},
};

template <typename... F>
struct TOverloaded : F... {
    using F::operator()...;
};

enum class TTimes { Local, Utc };

QJsonValue FieldValue(const TRecordField& field, const TStoredRecord& stored, TTimes times)
{
    const TUnitRecord& unit = stored.Unit;
    return std::visit(TOverloaded{
                          [&](QString U::*m) -> QJsonValue { return unit.*m; },
                          [&](int32_t U::*m) -> QJsonValue { return unit.*m; },
                          [&](uint64_t U::*m) -> QJsonValue { return qint64(unit.*m); },
                          [&](TStepResult U::*m) -> QJsonValue { return StepResultText(unit.*m); },
                          [&](TUnitOutcome U::*m) -> QJsonValue { return OutcomeText(unit.*m); },
                          [&](QDateTime U::*m) -> QJsonValue {
                              return times == TTimes::Utc ? UtcText(unit.*m) : (unit.*m).toString(Qt::ISODateWithMs);
                          },
                          [&](TKernelHeader U::*m) -> QJsonValue {
                              if (!unit.SettingsWritten)
                                  return QJsonValue::Undefined;
                              QJsonObject json;
                              for (const TSettingsField& setting : SettingsFields)
                                  json.insert(QLatin1String(setting.Key), setting.Get(unit.*m));
                              return json;
                          },
                          [&](TOperationFailure U::*m) -> QJsonValue {
                              // A record kept before failures had kinds: its unit failed of a cause unknown.
                              const bool unknown = (unit.*m).Kind == TFailureKind::None &&
                                                   unit.Outcome != TUnitOutcome::Succeeded;
                              return unknown ? QStringLiteral("unknown") : FailureKindName((unit.*m).Kind);
                          },
                          [&](qint64 (U::*m)() const) -> QJsonValue { return (unit.*m)(); },
                          [&](QString S::*m) -> QJsonValue { return stored.*m; },
                          [&](qint64 S::*m) -> QJsonValue {
                              return stored.*m < 0 ? QJsonValue::Undefined : QJsonValue(stored.*m);
                          },
                      },
                      field.Member);
}

void SetFieldValue(const TRecordField& field, TStoredRecord& stored, const QJsonValue& value)
{
    TUnitRecord& unit = stored.Unit;
    std::visit(TOverloaded{
                   [&](QString U::*m) { unit.*m = value.toString(); },
                   [&](int32_t U::*m) { unit.*m = int32_t(value.toInteger(-1)); },
                   [&](uint64_t U::*m) { unit.*m = uint64_t(value.toInteger()); },
                   [&](TStepResult U::*m) { unit.*m = StepResultFromText(value.toString()); },
                   [&](TUnitOutcome U::*m) { unit.*m = OutcomeFromText(value.toString()); },
                   [&](QDateTime U::*m) { unit.*m = QDateTime::fromString(value.toString(), Qt::ISODateWithMs); },
                   [&](TKernelHeader U::*m) {
                       unit.SettingsWritten = value.isObject();
                       for (const TSettingsField& setting : SettingsFields)
                           if (unit.SettingsWritten)
                               setting.Set(unit.*m, value.toObject().value(QLatin1String(setting.Key)));
                   },
                   [&](TOperationFailure U::*m) {
                       // After "message" in the table: a failure's words are the record's message.
                       const TFailureKind kind = FailureKindNamed(value.toString());
                       unit.*m = {kind, kind == TFailureKind::None ? QString() : unit.Message};
                   },
                   [&](qint64 (U::*)() const) {},
                   [&](QString S::*m) { stored.*m = value.toString(); },
                   [&](qint64 S::*m) { stored.*m = value.toInteger(-1); },
               },
               field.Member);
}

}   // namespace

TFieldType TRecordField::Type() const
{
    if (std::holds_alternative<TKernelHeader U::*>(Member))
        return TFieldType::Settings;
    return std::visit(
        [](auto m) {
            using TMember = decltype(m);
            constexpr bool number = std::is_same_v<TMember, int32_t U::*> || std::is_same_v<TMember, uint64_t U::*> ||
                                    std::is_same_v<TMember, qint64 (U::*)() const> ||
                                    std::is_same_v<TMember, qint64 S::*>;
            return number ? TFieldType::Integer : TFieldType::Text;
        },
        Member);
}

bool TRecordField::StoreOnly() const
{
    return std::holds_alternative<QString S::*>(Member) || std::holds_alternative<qint64 S::*>(Member);
}

std::span<const TRecordField> RecordFields()
{
    return Fields;
}

const QStringList& SettingsKeys()
{
    static const QStringList keys = [] {
        QStringList all;
        for (const TSettingsField& setting : SettingsFields)
            all << QLatin1String(setting.Key);
        return all;
    }();
    return keys;
}

QJsonObject UnitRecordJson(const TUnitRecord& record)
{
    const TStoredRecord stored{record, {}, {}, {}, -1};
    QJsonObject json;
    for (const TRecordField& field : Fields) {
        const QJsonValue value = field.StoreOnly() ? QJsonValue::Undefined : FieldValue(field, stored, TTimes::Local);
        if (!value.isUndefined())
            SetRecordField(json, QLatin1String(field.Path), value);
    }
    return json;
}

QJsonObject StoredRecordJson(const TStoredRecord& record)
{
    QJsonObject json;
    for (const TRecordField& field : Fields) {
        const QJsonValue value = FieldValue(field, record, TTimes::Utc);
        if (!value.isUndefined())
            SetRecordField(json, QLatin1String(field.Path), value);
    }
    return json;
}

TStoredRecord StoredRecordFromJson(const QJsonObject& json)
{
    TStoredRecord record;
    for (const TRecordField& field : Fields) {
        const QJsonValue value = RecordField(json, QLatin1String(field.Path));
        if (!value.isUndefined())
            SetFieldValue(field, record, value);
    }
    return record;
}

QString UtcText(const QDateTime& moment)
{
    return moment.isValid() ? moment.toUTC().toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss.zzz'Z'")) : QString();
}

QJsonValue RecordField(const QJsonObject& record, const QString& path)
{
    const qsizetype dot = path.indexOf(u'.');
    return dot < 0 ? record.value(path) : record.value(path.left(dot)).toObject().value(path.mid(dot + 1));
}

void SetRecordField(QJsonObject& record, const QString& path, const QJsonValue& value)
{
    const qsizetype dot = path.indexOf(u'.');
    if (dot < 0) {
        record.insert(path, value);
        return;
    }
    QJsonObject inner = record.value(path.left(dot)).toObject();
    inner.insert(path.mid(dot + 1), value);
    record.insert(path.left(dot), inner);
}

QString RecordValueText(const QJsonValue& value)
{
    if (value.isDouble())
        return QString::number(value.toInteger());
    return value.toString();
}

QString RecordFieldText(const QJsonObject& record, const QString& path)
{
    return RecordValueText(RecordField(record, path));
}
