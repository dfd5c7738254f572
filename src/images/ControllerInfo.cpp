#include "ControllerInfo.h"

#include "RecordBytes.h"
#include "SettingNames.h"
#include "uOrvelVars.h"

namespace {

constexpr auto LoaderRecordFields = [](auto& r, auto&& field) {
    field(r.LoaderMajor);
    field(r.LoaderMinor);
    field(r.Reserved4);
    field(r.Serial);
    field(r.Reserved16);
};
static_assert(FieldBytes<TLoaderRecord>(LoaderRecordFields) == LoaderRecordSize);

constexpr auto PlcStatusFields = [](auto& s, auto&& field) {
    field(s.Mode);
    field(s.PlcState);
};
static_assert(FieldBytes<TPlcStatus>(PlcStatusFields) == PlcStatusSize);

const QString Dash = QStringLiteral("-");
const QString None = QStringLiteral("none");

QString PlcStateName(uint8_t state)
{
    return state < PlcStateNames.size() ? PlcStateNames[state] : QString();
}

// Mode 0 shows the loader, mode 1 the PLC state; anything else is not shown.
QString ShownPlcStatus(const TPlcStatus& status)
{
    switch (status.Mode) {
    case 0:
        return ModeNames[0];
    case 1:
        return PlcStateName(status.PlcState);
    default:
        return Dash;
    }
}

QString IPAddressText(const TControllerInfo& info, const QString& targetIP)
{
    if (info.KernelHeaderValid)
        return targetIP + QStringLiteral(" (") +
               (info.KernelHeader.IPAddress != 0 ? QStringLiteral("static") : QStringLiteral("dhcp")) + u')';
    return info.Identified ? targetIP : Dash;
}

}   // namespace

TLoaderRecord LoaderRecordFromBytes(const QByteArray& bytes, int offset)
{
    return ReadRecord<TLoaderRecord, LoaderRecordSize>(bytes, offset, LoaderRecordFields);
}

QByteArray LoaderRecordToBytes(const TLoaderRecord& record)
{
    return WriteRecord(record, LoaderRecordFields);
}

TPlcStatus PlcStatusFromBytes(const QByteArray& bytes, int offset)
{
    return ReadRecord<TPlcStatus, PlcStatusSize>(bytes, offset, PlcStatusFields);
}

QByteArray PlcStatusToBytes(const TPlcStatus& status)
{
    return WriteRecord(status, PlcStatusFields);
}

QString PlatformText(const TControllerInfo& info)
{
    if (info.Identified) {
        switch (info.Identification.LoaderMajor) {
        case 2:
            return QStringLiteral("Orvel/XA");
        case 3:
            return QStringLiteral("Orvel/ARM");
        }
    }
    return Dash;
}

QString HardwareModelName(uint16_t code)
{
    if (const std::optional<QString> name = NameOfCode(HardwareModels, code))
        return *name;
    // Codes 1 to 9 are the models before Orvel-J, which no unit is set to any more but a
    // unit may still report.
    if (code < 1 || code > 9)
        return QStringLiteral("unknown");
    return QStringLiteral("Orvel-") + QChar(u'A' + (code - 1));
}

QString IEXBaudRateText(uint16_t code)
{
    if (code == 0)
        return QStringLiteral("none");
    return NameOfCode(IEXBaudRates, code).value_or(QStringLiteral("invalid (") + QString::number(code) + u')');
}

QString FileDateText(uint32_t packed)
{
    if (packed == 0 || packed == 0xFFFFFFFF)
        return None;
    const QString text = PackedDateTimeText(packed);
    return text.isEmpty() ? QStringLiteral("error") : text;
}

QString PlcStatusText(const TPlcStatus& status)
{
    // Mode 1 and 2 both show the PLC state name here, unlike the full panel.
    return status.Mode == 0 ? ModeNames[0] : PlcStateName(status.PlcState);
}

TInfoPanelTexts ControllerInfoTexts(const TControllerInfo& info, const QString& targetIP)
{
    TInfoPanelTexts texts;
    const TLoaderRecord& id = info.Identification;
    const bool loaderKnown = info.Identified && !info.IsOldLoader();
    const bool kernelKnown = info.KernelHeaderValid && !info.IsOldLoader();

    texts.Platform = PlatformText(info);
    texts.PLCStatus = ShownPlcStatus(info.Status);
    texts.IPAddress = IPAddressText(info, targetIP);
    texts.LoaderVersion = loaderKnown ? QStringLiteral("%1.%2").arg(id.LoaderMajor).arg(id.LoaderMinor) : Dash;
    texts.Serial = !loaderKnown ? Dash : id.Serial == NoSerialNumber ? None : QString::number(int32_t(id.Serial));

    const TKernelHeader& kernel = info.KernelHeader;
    if (kernelKnown) {
        const uint16_t release = info.IsXaPlatform() ? kernel.ReleaseXA : kernel.ReleaseARM;
        texts.KernelVersion = QStringLiteral("%1.%2.%3").arg(kernel.VersionMajor).arg(kernel.VersionMinor).arg(release);
        texts.NADAlias = kernel.NadAlias == 0 ? None : QString::number(kernel.NadAlias);
        texts.HardwareModel = HardwareModelName(kernel.HardwareModel);
        texts.IEXBaudrate = IEXBaudRateText(kernel.IEXBaudRate);
        texts.KernelTransferDate = FileDateText(kernel.TransferDate);
    } else {
        texts.KernelVersion = texts.NADAlias = texts.HardwareModel = texts.IEXBaudrate = texts.KernelTransferDate =
            Dash;
    }

    const TProgramHeader& program = info.ProgramHeader;
    if (info.HoldsProgram()) {
        texts.PLCProgram = QStringLiteral("ok");
        texts.FileSystem = program.FileTableAddress == 0 ? None : QStringLiteral("%1 file(s)").arg(program.FileCount);
        texts.PLCProgramTransferDate = FileDateText(program.TransferDate);
        texts.ModbusAddress = QString::number(program.ModbusAddress);
    } else {
        texts.PLCProgram = texts.FileSystem = texts.PLCProgramTransferDate = texts.ModbusAddress = Dash;
    }
    return texts;
}
