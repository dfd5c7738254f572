#include "UnitRecord.h"

#include "uEthernetUtils.h"

namespace {

QString IsoTime(const QDateTime& moment)
{
    return moment.toString(Qt::ISODateWithMs);
}

QJsonObject SettingsJson(const TKernelHeader& header)
{
    return {{QStringLiteral("nadAlias"), qint64(header.NadAlias)},
            {QStringLiteral("hardwareModel"), HardwareModelName(header.HardwareModel)},
            {QStringLiteral("iexBaudRate"), IEXBaudRateText(header.IEXBaudRate)},
            {QStringLiteral("ipAddress"), IPToStr(header.IPAddress)},
            {QStringLiteral("subnetMask"), IPToStr(header.SubnetMask)},
            {QStringLiteral("gateway"), IPToStr(header.Gateway)},
            {QStringLiteral("dnsServer"), IPToStr(header.DNSServer)}};
}

}  // namespace

QString OutcomeText(TUnitOutcome outcome)
{
    switch (outcome) {
    case TUnitOutcome::Succeeded:
        return QStringLiteral("ok");
    case TUnitOutcome::Interrupted:
        return QStringLiteral("interrupted");
    case TUnitOutcome::Failed:
        break;
    }
    return QStringLiteral("failed");
}

QJsonObject UnitRecordJson(const TUnitRecord& record)
{
    QJsonObject json{
        {QStringLiteral("unit"), record.IP},
        {QStringLiteral("outcome"), OutcomeText(record.Outcome)},
        {QStringLiteral("nadBefore"), record.NadBefore},
        {QStringLiteral("nadAfter"), record.NadAfter},
        {QStringLiteral("serial"), record.Serial},
        {QStringLiteral("serialTaken"), record.SerialTaken},
        {QStringLiteral("platform"), record.Platform},
        {QStringLiteral("kernelVersion"), record.KernelVersion},
        {QStringLiteral("kernelFile"), record.KernelFile},
        {QStringLiteral("programFile"), record.ProgramFile},
        {QStringLiteral("kernelSha256"), record.KernelSha256},
        {QStringLiteral("programSha256"), record.ProgramSha256},
        {QStringLiteral("steps"), QJsonObject{{QStringLiteral("serial"), record.SerialStep},
                                              {QStringLiteral("kernel"), record.KernelStep},
                                              {QStringLiteral("program"), record.ProgramStep},
                                              {QStringLiteral("verify"), record.VerifyStep}}},
        {QStringLiteral("start"), IsoTime(record.Started)},
        {QStringLiteral("end"), IsoTime(record.Ended)},
        {QStringLiteral("durationMs"), record.DurationMs()},
        {QStringLiteral("requests"), qint64(record.Requests)},
        {QStringLiteral("resent"), qint64(record.Resent)},
        {QStringLiteral("message"), record.Message},
    };
    if (record.SettingsWritten)
        json.insert(QStringLiteral("settings"), SettingsJson(record.Settings));
    return json;
}
