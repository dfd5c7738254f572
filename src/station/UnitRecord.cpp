#include "UnitRecord.h"

#include "LoaderFiles.h"
#include "uEthernetUtils.h"

#include <QFileInfo>

namespace {

QString Sha256(const QByteArray& bytes)
{
    return bytes.isEmpty() ? QString() : Sha256Hex(bytes);
}

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

}   // namespace

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
        {QStringLiteral("recipe"), record.Recipe},
        {QStringLiteral("kernelSourceSha256"), record.KernelSourceSha256},
        {QStringLiteral("programSourceSha256"), record.ProgramSourceSha256},
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

void NoteConnectedUnit(const TLoaderSession& session, TUnitRecord& record)
{
    record.Panel = session.PanelTexts();
    record.Platform = record.Panel.Platform;
    record.KernelVersion = record.Panel.KernelVersion;
    record.Serial = int32_t(session.Info.Identification.Serial);
}

void NoteSend(const TLoaderSession& session, const TOperationInputs& inputs, const TLoadedImages& images,
              TUnitRecord& record)
{
    NoteSend(session.LastSend, inputs, images, record);
}

void NoteSend(const TSendReport& sent, const TOperationInputs& inputs, const TLoadedImages& images, TUnitRecord& record)
{
    // Only a step that began put anything of its file into the unit.
    if (inputs.KernelChecked && sent.KernelRan) {
        record.KernelFile = QFileInfo(inputs.KernelPath).fileName();
        record.KernelSourceSha256 = images.KernelSourceSha256;
    }
    if (inputs.ProgramChecked && sent.ProgramRan) {
        record.ProgramFile = QFileInfo(inputs.ProgramPath).fileName();
        record.ProgramSourceSha256 = images.ProgramSourceSha256;
    }
    record.SerialStep = SendStepText(sent, TSendStep::Serial);
    record.KernelStep = SendStepText(sent, TSendStep::Kernel);
    record.ProgramStep = SendStepText(sent, TSendStep::Program);
    record.KernelSha256 = Sha256(sent.Kernel);
    record.ProgramSha256 = Sha256(sent.Program);
    record.SettingsWritten = !sent.Kernel.isEmpty();
    record.Settings = sent.Configuration;
    record.SerialTaken = sent.SerialTaken;
    if (sent.SerialWritten > 0)
        record.Serial = record.NadAfter = sent.SerialWritten;
}
