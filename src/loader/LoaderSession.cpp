#include "LoaderSession.h"

#include "IntegerText.h"
#include "ConfigHeader.h"
#include "LoaderFiles.h"
#include "uABus.h"

#include <QThread>

#include <algorithm>
#include <cstring>

void SleepFor(int milliseconds)
{
    QThread::msleep(ulong(std::max(milliseconds, 0)));
}

bool CompareStreams(const QByteArray& image, const QByteArray& read, qsizetype start)
{
    if (image.size() != read.size())
        return false;
    if (start >= image.size())
        return true;
    return std::memcmp(image.constData() + start, read.constData() + start, size_t(image.size() - start)) == 0;
}

TLoaderSession::TLoaderSession(TCommunicator& link, TEventSink report)
    : Link(link), Report(std::move(report)), ProductionLogPath(DefaultProductionLogPath())
{
    Link.OnProgress = [this](int position, int maximum) { TransferProgress(position, maximum); };
}

TLoaderSession::~TLoaderSession()
{
    Link.OnProgress = nullptr;
}

// ---- connection ----

void TLoaderSession::ReportConnection(const QString& text)
{
    if (!Link.Stopping())
        Say(text);
}

TConnectResult TLoaderSession::ConnectToNad(const TNadChoice& choice)
{
    int32_t nad = 0;
    if (NextNad != 0) {
        nad = NextNad;
        NextNad = 0;
    } else if (choice.NadNotAssigned) {
        nad = -1;
    } else if (!choice.NadText.isEmpty()) {
        nad = IntegerTextOrDefault(choice.NadText, -1);
    }

    TConnectResult result;
    Failure = {};
    if (nad == 0) {
        ClearControllerImages();
        Failure = {TFailureKind::InvalidJob, QStringLiteral("invalid nad")};
        if (!choice.NadText.isEmpty())
            ReportConnection(Failure.Text);
        result.Outcome = TConnectOutcome::NoNad;
        return result;
    }

    Link.SetNad(nad);
    Link.Timeout = 500;
    Connected = Link.Ping();
    if (Connected) {
        ReadControllerInfo();
        result.Outcome = TConnectOutcome::Answered;
        result.Panel = PanelTexts();
    } else {
        ClearControllerImages();
        Failure = {LinkFailureKind(), QStringLiteral("error connecting to ") + QString::number(Link.Nad)};
        Link.Disconnect();
        ReportConnection(Failure.Text);
        result.Outcome = TConnectOutcome::NotAnswered;
    }
    return result;
}

void TLoaderSession::ForgetController()
{
    Connected = false;
    ClearControllerImages();
    Info.Identification = {};
    Info.KernelHeader = {};
    Info.ProgramHeader = {};
}

void TLoaderSession::ReadControllerInfo()
{
    Info.Identified = Link.ReadLoaderRecord(Info.Identification);
    if (Info.Identified) {
        // From now on the unit is addressed by its own serial number, whatever reached it.
        Link.SetNad(int32_t(Info.Identification.Serial));
        Link.Ping();
        if (Info.IsOldLoader())
            return;
        Info.Platform = Info.Identification.LoaderMajor == 2 ? TPlatform::XA : TPlatform::ARM;
    }

    RefreshPlcStatus();

    QByteArray bytes;
    const bool read = Link.ReadMemory(KernelAddress + uint32_t(KernelHeaderOffset(Info.Platform)), KernelHeaderSize,
                                      &bytes);
    const auto header = KernelHeaderFromBytes(bytes);
    Info.KernelHeaderValid = read && (header.Magic == KernelMagicA || header.Magic == KernelMagicB);
    if (!Info.KernelHeaderValid)
        return;

    Info.KernelHeader = header;
    TProgramHeader program{};
    const bool programRead = Link.ReadStatus(Info.Status.Mode, Info.Status.PlcState) && Info.Status.PlcState != 3 &&
                             Link.ReadProgramHeader(program);
    Info.ProgramHeader = programRead ? program : TProgramHeader{};
    ReportConnection(QStringLiteral("connected"));
}

bool TLoaderSession::RefreshPlcStatus()
{
    const bool ok = Link.ReadStatus(Info.Status.Mode, Info.Status.PlcState);
    Report(Event::TPlcStatus{ok ? PlcStatusText(Info.Status) : QString()});
    return ok;
}

void TLoaderSession::ClearControllerImages()
{
    KernelDump.clear();
    ProgramDump.clear();
}

TInfoPanelTexts TLoaderSession::PanelTexts() const
{
    return ControllerInfoTexts(Info, Link.TargetIP);
}

// ---- operation frame ----

void TLoaderSession::TransferProgress(int position, int maximum)
{
    if (CurrentOperation != OpSend && CurrentOperation != OpVerify && CurrentOperation != OpSaveKernel &&
        CurrentOperation != OpSaveProgram)
        return;
    if (position > CurrentPosition)
        TotalDone += position - CurrentPosition;
    CurrentPosition = position;
    Report(Event::TProgress{position, maximum, TotalDone, TotalBytes});
}

void TLoaderSession::ResetProgress()
{
    CurrentPosition = 0;
}

QString TLoaderSession::ErrorLine(const QString& generic) const
{
    return Link.ReplyCode >= 2 ? QStringLiteral("error: ") + ReplyCodeText(Link.ReplyCode) : generic;
}

TFailureKind TLoaderSession::LinkFailureKind() const
{
    if (Link.Stopping())
        return TFailureKind::Interrupted;
    // As ErrorLine tells it: the code of the unit's last refusal, or a request it left unanswered.
    return Link.ReplyCode >= 2 ? TFailureKind::Refused : TFailureKind::NotAnswering;
}

void TLoaderSession::Fail(TFailureKind kind, const QString& line)
{
    Failure = {kind, line};
    Say(line);
}

void TLoaderSession::Say(const QString& text)
{
    Report(Event::TMessage{text});
}

void TLoaderSession::ReportFileError(const QString& text)
{
    Say(QStringLiteral("error: ") + text);
    Report(Event::TFileError{text});
}

bool TLoaderSession::RunPlcCommand(const QString& message, const std::function<bool()>& command)
{
    Say(message);
    const bool ok = command();
    if (ok)
        Say(QStringLiteral("command executed successfully"));
    else
        Fail(LinkFailureKind(), ErrorLine(QStringLiteral("error")));
    return ok;
}

// ---- image files and configuration header ----

TFailureKind TLoaderSession::KernelRefusal(const TLoadedImages& images) const
{
    if (images.KernelLoaded && images.KernelPlatform == Info.Platform)
        return TFailureKind::None;
    const bool otherPlatform = images.KernelPlatform != TPlatform::Unknown && images.KernelPlatform != Info.Platform;
    return otherPlatform ? TFailureKind::WrongPlatform : TFailureKind::FileError;
}

void TLoaderSession::LoadImageFiles(const TJob& job)
{
    if (job.Kernel && KernelFileState == TFileState::NotLoaded && !LoadKernelFile(job.Kernel->Path))
        return;   // an unreadable file stops the loading, as a file error does
    if (job.Program && ProgramFileState == TFileState::NotLoaded)
        LoadProgramFile(job.Program->Path);
}

bool TLoaderSession::LoadKernelFile(const QString& path)
{
    KernelFileHeader = {};
    KernelFilePlatform = TPlatform::Unknown;
    KernelSourceSha256.clear();
    QString error;
    const TImageRead read = ReadImageFile(path, MaxKernelSize, KernelImage, &error);
    if (read == TImageRead::Missing) {
        Say(QStringLiteral("kernel file not found"));
        return true;
    }
    if (read == TImageRead::Failed) {
        ReportFileError(QStringLiteral("can't read ") + path + QStringLiteral(": ") + error);
        return false;
    }
    const int headerOffset = KernelHeaderOffset(Info.Platform);
    if (read == TImageRead::TooLarge || !IsValidKernel(KernelImage, headerOffset)) {
        KernelFileState = TFileState::Invalid;
        // A kernel of the other platform is refused for that reason.
        KernelFilePlatform = KernelPlatformOf(KernelImage);
        Say(QStringLiteral("invalid kernel file"));
        return true;
    }

    KernelSourceSha256 = Sha256Hex(KernelImage);
    // The copy in memory carries the loading moment, its own length and a fresh checksum.
    StampKernel(KernelImage, QDateTime::currentDateTime(), headerOffset);
    KernelFileHeader = ReadKernelHeader(KernelImage, headerOffset);
    KernelFilePlatform = Info.Platform;
    KernelFileState = TFileState::Loaded;
    const uint16_t release = Info.IsXaPlatform() ? KernelFileHeader.ReleaseXA : KernelFileHeader.ReleaseARM;
    Say(QString::asprintf("kernel file loaded (v%d.%d.%d)", KernelFileHeader.VersionMajor,
                          KernelFileHeader.VersionMinor, release));
    return true;
}

void TLoaderSession::LoadProgramFile(const QString& path)
{
    QString error;
    const TImageRead read = ReadImageFile(path, ProgramAreaSize, ProgramImage, &error);
    ProgramSourceSha256.clear();
    if (read == TImageRead::Missing) {
        Say(QStringLiteral("plc program not found"));
    } else if (read == TImageRead::Failed) {
        ReportFileError(QStringLiteral("can't read ") + path + QStringLiteral(": ") + error);
    } else if (read == TImageRead::Read && IsValidProgram(ProgramImage, Info.IsXaPlatform())) {
        ProgramFileState = TFileState::Loaded;
        ProgramSourceSha256 = Sha256Hex(ProgramImage);
        Say(QStringLiteral("plc program loaded"));
    } else {
        ProgramFileState = TFileState::Invalid;
        Say(QStringLiteral("invalid plc program"));
    }
}

void TLoaderSession::ForgetImageFile(TImageKind kind)
{
    (kind == TImageKind::Kernel ? KernelFileState : ProgramFileState) = TFileState::NotLoaded;
}

TLoadedImages TLoaderSession::TakeImages() const
{
    const bool kernel = KernelFileState == TFileState::Loaded;
    const bool program = ProgramFileState == TFileState::Loaded;
    return {KernelImage,
            kernel,
            KernelFileHeader,
            KernelFilePlatform,
            ProgramImage,
            program,
            kernel ? KernelSourceSha256 : QString(),
            program ? ProgramSourceSha256 : QString()};
}

void TLoaderSession::BuildConfigHeader(const TJob& job, const TLoadedImages& images)
{
    TKernelHeader base = DefaultKernelHeader();
    if (images.KernelLoaded && job.Kernel)
        base = images.KernelFileHeader;
    else if (Info.KernelHeaderValid)
        base = Info.KernelHeader;
    ConfigHeader = MakeConfigHeader(base, Info.KernelHeader, Info.KernelHeaderValid, job.Settings);
}
