// Verify: whether the controller holds what a send of the same job would have put
// there (unit settings, kernel, PLC program), without writing anything.
#include "LoaderSession.h"

#include "ConfigHeader.h"

bool TLoaderSession::DoVerify(const TJob& job, const TLoadedImages& images)
{
    CurrentOperation = OpVerify;
    Failure = {};
    Report(Event::TVerifyBegins{});
    const bool settings = job.Settings.Any();
    const bool settingsValid = SettingsValid(job.Settings);

    TOperationFailure refusal;
    const TFailureKind kernelRefusal = job.Kernel ? KernelRefusal(images) : TFailureKind::None;
    if (!job.Verifiable())
        refusal = {TFailureKind::InvalidJob, QStringLiteral("nothing to verify")};
    // A kernel loaded for the other platform has no header where this unit's kernel has it.
    else if (kernelRefusal != TFailureKind::None)
        refusal = {kernelRefusal, QStringLiteral("no valid kernel")};
    else if (job.Program && !images.ProgramLoaded)
        refusal = {TFailureKind::FileError, QStringLiteral("no valid plc program")};
    if (refusal.Failed()) {
        Fail(refusal.Kind, refusal.Text);
        CurrentOperation = OpNone;
        return false;
    }

    Say(QStringLiteral("verifying"));
    TotalDone = 0;
    TotalBytes = int32_t((job.Kernel ? images.Kernel.size() : 0) + (job.Program ? images.Program.size() : 0));
    // The first check that did not pass tells the failure's kind.
    TFailureKind cause = TFailureKind::None;
    const auto note = [&cause](TFailureKind kind) {
        if (cause == TFailureKind::None)
            cause = kind;
    };

    if (Connected && settings) {
        const TFailureKind config = VerifyConfiguration(job, images);
        Report(Event::TVerifyResult{TVerifyCheck::Config, config == TFailureKind::None});
        note(config);
    }
    // The kernel compared gets the configuration a send would give it, so that it compares
    // equal with a kernel sent with the same job. It is a copy: the loaded kernel stays
    // as loaded for the sends that follow.
    QByteArray kernel = images.Kernel;
    if (Connected && Info.KernelHeaderValid) {
        if (settingsValid) {
            BuildConfigHeader(job, images);
            if (images.KernelLoaded)
                WriteKernelHeader(kernel, ConfigHeader, KernelHeaderOffset(Info.Platform));
        }
        if (!settingsValid)
            note(TFailureKind::InvalidJob);
    }
    if (Connected && !kernel.isEmpty() && job.Kernel && images.KernelLoaded)
        note(VerifyImage(TVerifyCheck::Kernel, kernel, KernelDump));
    if (Connected && !images.Program.isEmpty() && job.Program && images.ProgramLoaded)
        note(VerifyImage(TVerifyCheck::Program, images.Program, ProgramDump));

    const bool allPassed = cause == TFailureKind::None;
    if (allPassed)
        Say(QStringLiteral("verified successfully"));
    else
        Fail(cause, ErrorLine(QStringLiteral("verify error")));
    CurrentOperation = OpNone;
    return allPassed;
}

TFailureKind TLoaderSession::VerifyConfiguration(const TJob& job, const TLoadedImages& images)
{
    if (!SettingsValid(job.Settings)) {
        Say(QStringLiteral("at least one input parameter is invalid"));
        return TFailureKind::InvalidJob;
    }
    BuildConfigHeader(job, images);
    Say(QStringLiteral("reading kernel header"));
    QByteArray bytes;
    if (!Link.ReadMemory(KernelAddress + uint32_t(KernelHeaderOffset(Info.Platform)), KernelHeaderSize, &bytes))
        return LinkFailureKind();
    if (!SameConfiguration(KernelHeaderFromBytes(bytes), ConfigHeader))
        return TFailureKind::Mismatch;
    Say(QStringLiteral("reading plc program header"));
    Say(QStringLiteral("config ok"));
    return TFailureKind::None;
}

TFailureKind TLoaderSession::VerifyImage(TVerifyCheck check, const QByteArray& image, QByteArray& dump)
{
    const bool kernel = check == TVerifyCheck::Kernel;
    Say(kernel ? QStringLiteral("reading kernel") : QStringLiteral("reading plc program"));
    // The first bytes up to the end of the header's stamped part (version, magic, checksum,
    // size, date) differ after every send and are not compared.
    const qsizetype start = kernel ? KernelHeaderOffset(Info.Platform) + 16 : SealedHeaderSize;
    QByteArray read;
    ResetProgress();   // a transfer of its own: the total counts all its bytes
    const bool answered = Link.ReadMemory(kernel ? KernelAddress : ProgramAddress, uint32_t(image.size()), &read);
    const TFailureKind result = !answered                             ? LinkFailureKind()
                                : !CompareStreams(image, read, start) ? TFailureKind::Mismatch
                                                                      : TFailureKind::None;
    if (result == TFailureKind::None)
        Say(kernel ? QStringLiteral("kernel ok") : QStringLiteral("plc program ok"));
    Report(Event::TVerifyResult{check, result == TFailureKind::None});
    dump = read;
    return result;
}
