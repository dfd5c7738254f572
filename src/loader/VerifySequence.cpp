// Verify: whether the controller holds what a send with the same inputs would have put
// there (unit settings, kernel, PLC program), without writing anything.
#include "LoaderSession.h"

#include "ConfigHeader.h"

bool TLoaderSession::DoVerify(const TOperationInputs& inputs)
{
    CurrentOperation = OpVerify;
    Host.ClearVerifyIcons();
    const bool settings = inputs.SetNadAlias || inputs.SetHardwareModel || inputs.SetIEXBaudRate || inputs.SetIPAddress;

    QString refusal;
    if (!settings && !inputs.KernelChecked && !inputs.ProgramChecked)
        refusal = QStringLiteral("nothing to verify");
    else if (inputs.KernelChecked && KernelFileState != TFileState::Loaded)
        refusal = QStringLiteral("no valid kernel");
    else if (inputs.ProgramChecked && ProgramFileState != TFileState::Loaded)
        refusal = QStringLiteral("no valid plc program");
    if (!refusal.isEmpty()) {
        Host.AddMessage(refusal);
        CurrentOperation = OpNone;
        return false;
    }

    Host.AddMessage(QStringLiteral("verifying"));
    Host.DisableControls();
    TotalDone = 0;
    TotalBytes = int32_t((inputs.KernelChecked ? KernelImage.size() : 0) + (inputs.ProgramChecked ? ProgramImage.size() : 0));
    bool allPassed = true;

    if (Connected && settings) {
        const bool passed = VerifyConfiguration(inputs);
        Host.ShowVerifyResult(TVerifyCheck::Config, passed);
        allPassed = allPassed && passed;
    }
    // The loaded kernel gets the configuration a send would give it, so that it compares
    // equal with a kernel sent with the same inputs.
    if (Connected && Info.KernelHeaderValid) {
        if (inputs.ParametersValid) {
            BuildConfigHeader(inputs);
            if (KernelFileState == TFileState::Loaded)
                WriteKernelHeader(KernelImage, ConfigHeader);
        }
        allPassed = allPassed && inputs.ParametersValid;
    }
    if (Connected && !KernelImage.isEmpty() && inputs.KernelChecked && KernelFileState == TFileState::Loaded)
        allPassed = VerifyImage(TVerifyCheck::Kernel, KernelImage, KernelDump) && allPassed;
    if (Connected && !ProgramImage.isEmpty() && inputs.ProgramChecked && ProgramFileState == TFileState::Loaded)
        allPassed = VerifyImage(TVerifyCheck::Program, ProgramImage, ProgramDump) && allPassed;

    if (allPassed)
        Host.AddMessage(QStringLiteral("verified successfully"));
    else
        AddErrorLine(QStringLiteral("verify error"));
    Host.EnableControls();
    CurrentOperation = OpNone;
    return allPassed;
}

bool TLoaderSession::VerifyConfiguration(const TOperationInputs& inputs)
{
    if (!inputs.ParametersValid) {
        Host.AddMessage(QStringLiteral("at least one input parameter is invalid"));
        return false;
    }
    BuildConfigHeader(inputs);
    Host.AddMessage(QStringLiteral("reading kernel header"));
    QByteArray bytes;
    if (!Link.ReadMemory(KernelAddress + uint32_t(KernelHeaderOffset), KernelHeaderSize, &bytes) ||
        !SameConfiguration(KernelHeaderFromBytes(bytes), ConfigHeader))
        return false;
    Host.AddMessage(QStringLiteral("reading plc program header"));
    Host.AddMessage(QStringLiteral("config ok"));
    return true;
}

bool TLoaderSession::VerifyImage(TVerifyCheck check, const QByteArray& image, QByteArray& dump)
{
    const bool kernel = check == TVerifyCheck::Kernel;
    Host.AddMessage(kernel ? QStringLiteral("reading kernel") : QStringLiteral("reading plc program"));
    // The first bytes up to the end of the header's stamped part (version, magic, checksum,
    // size, date) differ after every send and are not compared.
    const qsizetype start = kernel ? KernelHeaderOffset + 16 : SealedHeaderSize;
    QByteArray read;
    const bool passed = Link.ReadMemory(kernel ? KernelAddress : ProgramAddress, uint32_t(image.size()), &read) &&
                        CompareStreams(image, read, start);
    if (passed)
        Host.AddMessage(kernel ? QStringLiteral("kernel ok") : QStringLiteral("plc program ok"));
    Host.ShowVerifyResult(check, passed);
    dump = read;
    return passed;
}
