#include "RecordFields.h"

#include "uEthernetUtils.h"

#include <utility>

namespace {

using R = const TUnitRecord&;

QJsonValue Time(const QDateTime& moment)
{
    return moment.toString(Qt::ISODateWithMs);
}

using H = const TKernelHeader&;

// The fields of "settings": the configuration header as the operator reads it.
const std::pair<const char*, QJsonValue (*)(H)> SettingsFields[] = {
    {"nadAlias", [](H h) -> QJsonValue { return qint64(h.NadAlias); }},
    {"hardwareModel", [](H h) -> QJsonValue { return HardwareModelName(h.HardwareModel); }},
    {"iexBaudRate", [](H h) -> QJsonValue { return IEXBaudRateText(h.IEXBaudRate); }},
    {"ipAddress", [](H h) -> QJsonValue { return IPToStr(h.IPAddress); }},
    {"subnetMask", [](H h) -> QJsonValue { return IPToStr(h.SubnetMask); }},
    {"gateway", [](H h) -> QJsonValue { return IPToStr(h.Gateway); }},
    {"dnsServer", [](H h) -> QJsonValue { return IPToStr(h.DNSServer); }},
};

QJsonValue Settings(R record)
{
    if (!record.SettingsWritten)
        return QJsonValue::Undefined;
    QJsonObject json;
    for (const auto& [key, value] : SettingsFields)
        json.insert(QLatin1String(key), value(record.Settings));
    return json;
}

using T = TFieldType;

const TRecordField Fields[] = {
    {"id", nullptr, T::Integer, nullptr},
    {"start", "started", T::Text, [](R r) { return Time(r.Started); }},
    {"end", "ended", T::Text, [](R r) { return Time(r.Ended); }},
    {"station", "station", T::Text, nullptr},
    {"unit", "unit_ip", T::Text, [](R r) -> QJsonValue { return r.IP; }},
    {"outcome", "outcome", T::Text, [](R r) -> QJsonValue { return OutcomeText(r.Outcome); }},
    {"nadBefore", "nad_before", T::Integer, [](R r) -> QJsonValue { return r.NadBefore; }},
    {"nadAfter", "nad_after", T::Integer, [](R r) -> QJsonValue { return r.NadAfter; }},
    {"serial", "serial", T::Integer, [](R r) -> QJsonValue { return r.Serial; }},
    {"serialTaken", "serial_taken", T::Integer, [](R r) -> QJsonValue { return r.SerialTaken; }},
    {"series", "series", T::Text, nullptr},
    {"platform", "platform", T::Text, [](R r) -> QJsonValue { return r.Platform; }},
    {"kernelVersion", "kernel_version", T::Text, [](R r) -> QJsonValue { return r.KernelVersion; }},
    {"kernelFile", "kernel_file", T::Text, [](R r) -> QJsonValue { return r.KernelFile; }},
    {"kernelSha256", "kernel_sha256", T::Text, [](R r) -> QJsonValue { return r.KernelSha256; }},
    {"programFile", "program_file", T::Text, [](R r) -> QJsonValue { return r.ProgramFile; }},
    {"programSha256", "program_sha256", T::Text, [](R r) -> QJsonValue { return r.ProgramSha256; }},
    {"recipe", "recipe", T::Text, [](R r) -> QJsonValue { return r.Recipe; }},
    {"kernelSourceSha256", "kernel_source_sha256", T::Text, [](R r) -> QJsonValue { return r.KernelSourceSha256; }},
    {"programSourceSha256", "program_source_sha256", T::Text, [](R r) -> QJsonValue { return r.ProgramSourceSha256; }},
    {"settings", "settings", T::Settings, Settings},
    {"steps.serial", "serial_step", T::Text, [](R r) -> QJsonValue { return StepResultText(r.SerialStep); }},
    {"steps.kernel", "kernel_step", T::Text, [](R r) -> QJsonValue { return StepResultText(r.KernelStep); }},
    {"steps.program", "program_step", T::Text, [](R r) -> QJsonValue { return StepResultText(r.ProgramStep); }},
    {"steps.verify", "verify_step", T::Text, [](R r) -> QJsonValue { return StepResultText(r.VerifyStep); }},
    {"durationMs", "duration_ms", T::Integer, [](R r) -> QJsonValue { return r.DurationMs(); }},
    {"requests", "requests", T::Integer, [](R r) -> QJsonValue { return qint64(r.Requests); }},
    {"resent", "resent", T::Integer, [](R r) -> QJsonValue { return qint64(r.Resent); }},
    {"message", "message", T::Text, [](R r) -> QJsonValue { return r.Message; }},
    {"key", "record_key", T::Text, nullptr},
};

}   // namespace

std::span<const TRecordField> RecordFields()
{
    return Fields;
}

const QStringList& SettingsKeys()
{
    static const QStringList keys = [] {
        QStringList all;
        for (const auto& field : SettingsFields)
            all << QLatin1String(field.first);
        return all;
    }();
    return keys;
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
