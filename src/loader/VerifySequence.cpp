// Verify: whether the controller holds what a send with the same inputs would have put
// there (unit settings, kernel, PLC program), without writing anything.
#include "LoaderSession.h"

#include "ConfigHeader.h"

bool TLoaderSession::DoVerify(const TOperationInputs& inputs, const TLoadedImages& images)
{
    CurrentOperation = OpVerify;
    Host.ClearVerifyIcons();
    const bool settings = inputs.SetNadAlias || inputs.SetHardwareModel || inputs.SetIEXBaudRate || inputs.SetIPAddress;

    QString refusal;
    if (!settings && !inputs.KernelChecked && !inputs.ProgramChecked)
        refusal = QStringLiteral("nothing to verify");
    // A kernel loaded for the other platform has no header where this unit's kernel has it.
    else if (inputs.KernelChecked && !(images.KernelLoaded && IsValidKernel(images.Kernel)))
        refusal = QStringLiteral("no valid kernel");
    else if (inputs.ProgramChecked && !images.ProgramLoaded)
        refusal = QStringLiteral("no valid plc program");
    if (!refusal.isEmpty()) {
        Host.AddMessage(refusal);
        CurrentOperation = OpNone;
        return false;
    }

    Host.AddMessage(QStringLiteral("verifying"));
    TotalDone = 0;
    TotalBytes = int32_t((inputs.KernelChecked ? images.Kernel.size() : 0) +
                         (inputs.ProgramChecked ? images.Program.size() : 0));
    bool allPassed = true;

    if (Connected && settings) {
        const bool passed = VerifyConfiguration(inputs, images);
        Host.ShowVerifyResult(TVerifyCheck::Config, passed);
        allPassed = allPassed && passed;
    }
    // The kernel compared gets the configuration a send would give it, so that it compares
    // equal with a kernel sent with the same inputs. It is a copy: the loaded kernel stays
    // as loaded for the sends that follow.
    QByteArray kernel = images.Kernel;
    if (Connected && Info.KernelHeaderValid) {
        if (inputs.ParametersValid) {
            BuildConfigHeader(inputs, images);
            if (images.KernelLoaded)
                WriteKernelHeader(kernel, ConfigHeader);
        }
        allPassed = allPassed && inputs.ParametersValid;
    }
    if (Connected && !kernel.isEmpty() && inputs.KernelChecked && images.KernelLoaded)
        allPassed = VerifyImage(TVerifyCheck::Kernel, kernel, KernelDump) && allPassed;
    if (Connected && !images.Program.isEmpty() && inputs.ProgramChecked && images.ProgramLoaded)
        allPassed = VerifyImage(TVerifyCheck::Program, images.Program, ProgramDump) && allPassed;

    if (allPassed)
        Host.AddMessage(QStringLiteral("verified successfully"));
    else
        AddErrorLine(QStringLiteral("verify error"));
    CurrentOperation = OpNone;
    return allPassed;
}

bool TLoaderSession::VerifyConfiguration(const TOperationInputs& inputs, const TLoadedImages& images)
{
    if (!inputs.ParametersValid) {
        Host.AddMessage(QStringLiteral("at least one input parameter is invalid"));
        return false;
    }
    BuildConfigHeader(inputs, images);
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
    ResetProgress();   // a transfer of its own: the total counts all its bytes
    const bool passed = Link.ReadMemory(kernel ? KernelAddress : ProgramAddress, uint32_t(image.size()), &read) &&
                        CompareStreams(image, read, start);
    if (passed)
        Host.AddMessage(kernel ? QStringLiteral("kernel ok") : QStringLiteral("plc program ok"));
    Host.ShowVerifyResult(check, passed);
    dump = read;
    return passed;
}
