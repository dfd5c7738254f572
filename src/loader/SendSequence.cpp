// The send: serial number, configuration, kernel and PLC program into one controller, in a
// fixed order that stops at the first failure, then the production log, start and clock.
#include "LoaderSession.h"

#include "uABus.h"
#include "uOrvelVars.h"

#include <algorithm>
#include <limits>

struct TLoaderSession::TSendRun {
    TLoadedImages Images;   // taken when the send starts
    TProductionLogEntry Entry;
    bool Xa = false;
    bool Good = true;
    QString Pending;   // the error text logged when the run has failed
    TFailureKind PendingKind = TFailureKind::None;
    bool SomethingSent = false;
    bool SerialSpent = false;   // the unit took a number, or a shared counter gave one away
    bool SettingsChange = false;
    bool KernelWrite = false;
    bool KernelFromController = false;
    bool ProgramCheck = false;
    int64_t RecordedLength = 0;
    int64_t StoredLength = 0;
    QByteArray Kernel;   // the kernel to send, apart from KernelImage
    // For the words after a stop: an area erased, and the bytes of the transfer under way.
    bool KernelErased = false;
    bool ProgramErased = false;
    int64_t BytesWritten = 0;
    int64_t BytesToWrite = 0;

    void Fail(TFailureKind kind, const QString& text)
    {
        Pending = text;
        PendingKind = kind;
        Good = false;
    }
};

namespace {

int32_t ClampedTotal(int64_t bytes)
{
    return int32_t(std::min<int64_t>(bytes, std::numeric_limits<int32_t>::max()));
}

constexpr int PauseSliceMs = 20;

QString KiB(int64_t bytes)
{
    return QString::number(double(bytes) / 1024.0, 'f', 1);
}

// What an area holds after a stop, in words.
QString AreaWords(const QString& area, bool done, bool erased, bool underWay, int64_t written, int64_t total)
{
    if (done)
        return area + QStringLiteral(" written");
    if (!erased)
        return area + QStringLiteral(" area untouched");
    if (!underWay)
        return area + QStringLiteral(" area erased");
    return area + QStringLiteral(" area erased, ") + KiB(written) + QStringLiteral(" of ") + KiB(total) +
           QStringLiteral(" KiB written");
}

}   // namespace

QString SendStepText(const TSendReport& report, TSendStep step)
{
    if (step == TSendStep::None)
        return {};
    if (step == TSendStep::Serial && report.SerialUnknown)
        return QStringLiteral("unknown");
    if (report.Interrupted == step)
        return QStringLiteral("interrupted");
    // "ok ", "err" or "---" as the production log has them, without the padding.
    const QString& result = step == TSendStep::Serial   ? report.Entry.SerialResult
                            : step == TSendStep::Kernel ? report.Entry.KernelResult
                                                        : report.Entry.ProgramResult;
    return result.trimmed();
}

void TLoaderSession::Pause(int milliseconds)
{
    if (!Link.StopRequested) {
        Wait(milliseconds);
        return;
    }
    for (int left = milliseconds; left > 0 && !Link.Stopping(); left -= PauseSliceMs)
        Wait(std::min(left, PauseSliceMs));
}

void TLoaderSession::EndStep(TSendRun& run)
{
    LastSend.Step = TSendStep::None;
    LastSend.Entry = run.Entry;
}

void TLoaderSession::EnterStep(TSendRun& run, TSendStep step)
{
    LastSend.Step = step;
    LastSend.Entry = run.Entry;
    if (step == TSendStep::Kernel)
        LastSend.KernelRan = true;
    else if (step == TSendStep::Program)
        LastSend.ProgramRan = true;
    run.BytesWritten = run.BytesToWrite = 0;
    Report(Event::TSendStepBegins{step});
}

bool TLoaderSession::DoSend(const TJob& job, const TLoadedImages& images, const TTakeSerial& take)
{
    CurrentOperation = OpSend;
    Failure = {};
    TSendRun run;
    LastSend = {};
    run.Images = images;
    run.Entry = PrepareLogEntry(Link.Nad, job, PanelTexts().KernelVersion);
    LastSend.Entry = run.Entry;
    run.Xa = Info.IsXaPlatform();
    TotalDone = 0;
    TotalBytes = ClampedTotal((job.Kernel ? run.Images.Kernel.size() : 0) +
                              (job.Program ? run.Images.Program.size() : 0));

    if (!Link.Ping())
        run.Fail(LinkFailureKind(), QStringLiteral("plc not responding"));
    CheckImagesFitUnit(job, run);
    SendSerialNumber(job.Serial, take, run);
    // Checked after the serial number: a number already written stays written.
    if (run.Good && !SettingsValid(job.Settings))
        run.Fail(TFailureKind::InvalidJob, QStringLiteral("some parameters are invalid"));
    PlanSend(job, run);
    PrepareKernel(job, run);
    WriteKernel(run);
    CheckStoredProgram(run);
    WriteProgram(job, run);
    FinishSend(job, run);
    return run.Good;
}

void TLoaderSession::CheckImagesFitUnit(const TJob& job, TSendRun& run)
{
    // Before the unit takes a serial number: a unit refused for its files stays fresh and
    // spends no number. A kernel loaded while a unit of the other platform was connected has
    // its header elsewhere: it is no valid kernel for this unit, and writing the configuration
    // header at this unit's offset would overwrite its code.
    const TFailureKind kernelRefusal = job.Kernel ? KernelRefusal(run.Images) : TFailureKind::None;
    if (run.Good && kernelRefusal != TFailureKind::None)
        run.Fail(kernelRefusal, QStringLiteral("no valid kernel file"));
    if (run.Good && job.Program && !run.Images.ProgramLoaded)
        run.Fail(TFailureKind::FileError, QStringLiteral("no valid plc program file"));
    // Loaded for another platform, the program would not be sealed for this unit.
    if (run.Good && job.Program && !run.Images.Program.isEmpty() && !IsValidProgram(run.Images.Program, run.Xa))
        run.Fail(TFailureKind::WrongPlatform, QStringLiteral("invalid plc program"));
}

void TLoaderSession::SendSerialNumber(const TSerialSource& source, const TTakeSerial& take, TSendRun& run)
{
    if (!run.Good || !source.Write)
        return;
    // -1 is what a box without a whole number gives, NAD 0 is reserved for discovery, and a
    // negative number goes out as a NAD above 2147483647 that no NAD box can take: a unit
    // given any of them could never be chosen again.
    const bool shared = bool(take);
    if (!shared && source.Number < 1) {
        run.Fail(TFailureKind::InvalidJob, QStringLiteral("invalid serial number"));
        return;
    }
    if (Info.Identification.Serial != NoSerialNumber) {
        run.Fail(TFailureKind::UnitTaken, QStringLiteral("serial number already set"));
        return;
    }
    // A shared counter gives its number now, to a unit that is about to hold it.
    QString why;
    const int32_t serial = shared ? take(why) : source.Number;
    if (serial < 1) {
        run.Fail(TFailureKind::StoreError,
                 why.isEmpty() ? QStringLiteral("invalid serial number") : QStringLiteral("no serial number: ") + why);
        return;
    }
    // Taken from a shared counter, the number is spent whatever the write below does.
    if (shared)
        LastSend.SerialTaken = serial;
    run.Entry.Serial = NineDigits(serial);
    run.SerialSpent = shared;
    // Another station on the segment may have found the same fresh unit since it was
    // connected: it is asked again right before the write, with nothing (such as the store's
    // transaction above) in between that another station's whole send could fit into.
    if (!UnitHolds(NoSerialNumber, run))
        return;
    EnterStep(run, TSendStep::Serial);

    TLoaderRecord record = Info.Identification;
    record.Serial = uint32_t(serial);
    const QByteArray bytes = LoaderRecordToBytes(record);
    if (!Link.WriteBlock(4, uint16_t(bytes.size()), reinterpret_cast<const uint8_t*>(bytes.constData())) &&
        !SerialWrittenAfterAll(serial, run))
        return;

    NextNad = serial;
    run.SerialSpent = true;
    LastSend.SerialWritten = serial;
    if (source.Autoincrement) {
        if (serial == std::numeric_limits<int32_t>::max())
            Say(QStringLiteral("serial number 2147483647 is the highest; the serial number was not advanced"));
        else
            Report(Event::TSerialAdvanced{serial + 1});
    }
    run.SomethingSent = true;
    run.Entry.SerialResult = StepOk;
    EndStep(run);
}

bool TLoaderSession::UnitHolds(uint32_t serial, TSendRun& run)
{
    TLoaderRecord held;
    if (!Link.ReadLoaderRecord(held)) {
        run.Fail(LinkFailureKind(), QStringLiteral("can't read the unit's serial number"));
        return false;
    }
    // Another unit may answer at the address since the connection (a unit swapped on its
    // fixture): the send was planned for the loader, the platform and the record connected,
    // and the serial number write would carry that record into the other unit.
    if (held.LoaderMajor != Info.Identification.LoaderMajor || held.LoaderMinor != Info.Identification.LoaderMinor) {
        run.Fail(TFailureKind::Mismatch, QStringLiteral("another unit answers here now, not the one connected: "
                                                        "connect to it again"));
        return false;
    }
    if (held.Serial == serial)
        return true;
    run.Fail(TFailureKind::UnitTaken, QStringLiteral("another station or program wrote serial number ") +
                                          QString::number(held.Serial) + QStringLiteral(" into this unit meanwhile") +
                                          ForgetOverwrittenSerial(held.Serial, run) +
                                          QStringLiteral(": one station per network segment"));
    return false;
}

QString TLoaderSession::ForgetOverwrittenSerial(uint32_t held, TSendRun& run)
{
    if (LastSend.SerialWritten <= 0 || held == uint32_t(LastSend.SerialWritten))
        return {};
    // The number this send wrote is gone from the unit: on record as not written, so that no
    // record claims a number no unit holds.
    const QString over = QStringLiteral(" over ") + QString::number(LastSend.SerialWritten) +
                         QStringLiteral(", which no unit holds now");
    LastSend.SerialWritten = -1;
    run.Entry.SerialResult = QStringLiteral("err");
    NextNad = int32_t(held);
    return over;
}

bool TLoaderSession::StillTheUnitsOwn(TSendRun& run)
{
    return UnitHolds(LastSend.SerialWritten > 0 ? uint32_t(LastSend.SerialWritten) : Info.Identification.Serial, run);
}

bool TLoaderSession::SerialWrittenAfterAll(int32_t serial, TSendRun& run)
{
    // The write may have reached the unit with only its replies lost (or its reply may be an
    // error to a resend of a write already done): only the unit can tell.
    const TFailureKind write = LinkFailureKind();
    TLoaderRecord held;
    if (Link.Stopping() || !Link.ReadLoaderRecord(held)) {
        run.SerialSpent = true;
        LastSend.SerialUnknown = true;
        run.Fail(LinkFailureKind(),
                 Link.Stopping()
                     ? QStringLiteral("serial number ") + QString::number(serial) +
                           QStringLiteral(" may have been written: stopped before reading it back")
                     : QStringLiteral("serial number ") + QString::number(serial) +
                           QStringLiteral(" may have been written: the unit's record could not be read back") +
                           (Link.LastRejection == TRejection::ErrorCode
                                ? QStringLiteral(" (") + ReplyCodeText(Link.ReplyCode) + u')'
                                : QStringLiteral(" (no answer)")));
        return false;
    }
    if (held.Serial != uint32_t(serial)) {
        run.Fail(write, QStringLiteral("loader write failed"));
        return false;
    }
    Say(QStringLiteral("serial number ") + QString::number(serial) +
        QStringLiteral(" written (its reply was lost; read back from the unit)"));
    return true;
}

void TLoaderSession::PlanSend(const TJob& job, TSendRun& run)
{
    if (!run.Good)
        return;
    run.SettingsChange = job.Settings.Any();
    run.KernelWrite = run.SettingsChange || job.Kernel;
    run.KernelFromController = run.SettingsChange && !job.Kernel;
    run.ProgramCheck = !job.Program && Info.HoldsProgram();

    int64_t total = TotalBytes;
    if (run.KernelFromController)
        total += 2 * int64_t(Info.KernelHeader.ImageSize);
    if (run.ProgramCheck) {
        const uint32_t length = Info.ProgramHeader.ProgramLength;
        run.RecordedLength = run.Xa ? length % 0x10000 : length;
        run.StoredLength = Link.StoredProgramLength(run.Xa);
        if (run.StoredLength >= run.RecordedLength)
            total += 2 * run.StoredLength;
    }
    TotalBytes = ClampedTotal(total);
}

void TLoaderSession::PrepareKernel(const TJob& job, TSendRun& run)
{
    if (!run.Good)
        return;
    if (run.KernelFromController) {
        Say(QStringLiteral("reading kernel"));
        const uint32_t size = Info.KernelHeader.ImageSize;
        // A size beyond the kernel area cannot belong to a valid kernel; reading it would run
        // through the program area.
        if (size > uint32_t(MaxKernelSize))
            run.Fail(TFailureKind::Mismatch, QStringLiteral("no valid kernel found in plc"));
        else if (!Link.ReadMemory(KernelAddress, size, &run.Kernel))
            run.Fail(LinkFailureKind(), QStringLiteral("can't read kernel"));
        else if (!IsValidKernel(run.Kernel, KernelHeaderOffset(Info.Platform)))
            run.Fail(TFailureKind::Mismatch, QStringLiteral("no valid kernel found in plc"));
    } else if (job.Kernel) {
        run.Kernel = run.Images.Kernel;
    }

    if (run.Good && run.KernelWrite) {
        BuildConfigHeader(job, run.Images);
        WriteKernelHeader(run.Kernel, ConfigHeader, KernelHeaderOffset(Info.Platform));
    }
}

void TLoaderSession::WriteKernel(TSendRun& run)
{
    if (!run.Good || !run.KernelWrite)
        return;
    run.SomethingSent = true;
    const int headerOffset = KernelHeaderOffset(Info.Platform);
    StampKernel(run.Kernel, QDateTime::currentDateTime(), headerOffset);
    if (!IsValidKernel(run.Kernel, headerOffset)) {
        run.Fail(run.KernelFromController ? TFailureKind::Mismatch : TFailureKind::FileError,
                 QStringLiteral("invalid kernel"));
        return;
    }
    // Nothing is erased in a unit that another station has taken meanwhile.
    if (!StillTheUnitsOwn(run))
        return;

    EnterStep(run, TSendStep::Kernel);
    Say(QStringLiteral("starting loader"));
    bool ok = Link.StartLoader();
    if (ok) {
        Report(Event::TPlcStatus{ModeNames[0]});
        Say(QStringLiteral("erasing flash"));
        ok = Link.EraseFlash(2, 1);
        run.KernelErased = true;   // as far as anybody can tell after a stop
    }
    if (ok) {
        Say(QStringLiteral("sending kernel"));
        ok = WriteArea(run, KernelAddress, run.Kernel);
    }
    if (ok) {
        Say(QStringLiteral("starting kernel"));
        ok = Link.StartKernel();
    }
    if (ok) {
        Pause(500);   // the kernel needs this long before it answers a status request
        uint8_t mode = 0;
        uint8_t state = 0;
        ok = Link.ReadStatus(mode, state);
    }
    if (!ok) {
        run.Good = false;   // no pending text: the error line tells which command failed
        return;
    }
    RefreshPlcStatus();
    run.Entry.KernelResult = StepOk;
    EndStep(run);
    LastSend.Kernel = run.Kernel;
    LastSend.Configuration = ConfigHeader;
}

void TLoaderSession::CheckStoredProgram(TSendRun& run)
{
    if (!run.Good || !run.ProgramCheck)
        return;
    Say(QStringLiteral("reading plc program"));
    QByteArray readBack;
    // A stored length beyond the program area comes from a damaged header; it is not read.
    // A length short of the recorded one comes of a header read that failed.
    const QString unread = QStringLiteral("can't read plc program");
    if (run.StoredLength > ProgramAreaSize)
        run.Fail(TFailureKind::Mismatch, unread);
    else if (run.StoredLength < run.RecordedLength ||
             !Link.ReadMemory(ProgramAddress, uint32_t(run.StoredLength), &readBack))
        run.Fail(LinkFailureKind(), unread);
    else if (!IsValidProgram(readBack, run.Xa))
        run.Fail(TFailureKind::Mismatch, QStringLiteral("no valid program found in plc"));
}

void TLoaderSession::WriteProgram(const TJob& job, TSendRun& run)
{
    QByteArray& program = run.Images.Program;
    if (!run.Good || !job.Program || program.isEmpty())
        return;
    run.SomethingSent = true;
    if (!StillTheUnitsOwn(run))
        return;
    SealProgram(program, ProgramHeaderImage, run.Xa, QDateTime::currentDateTime());
    EnterStep(run, TSendStep::Program);

    Say(QStringLiteral("erasing flash"));
    run.ProgramErased = true;   // as far as anybody can tell after a stop
    if (!Link.EraseFlash(uint8_t(ProgramEraseArea(int32_t(program.size()))), 1)) {
        run.Good = false;
        return;
    }
    RefreshPlcStatus();
    Say(QStringLiteral("sending plc program"));
    // The sealed header goes last, so the area reads as erased until the body is complete.
    if (!WriteArea(run, ProgramAddress, program) || !Link.WriteMemory(ProgramAddress, ProgramHeaderImage)) {
        run.Good = false;
        return;
    }
    run.Entry.ProgramResult = StepOk;
    EndStep(run);
    SetProgramHeader(program, ProgramHeaderImage);
    LastSend.Program = program;
}

void TLoaderSession::FinishSend(const TJob& job, TSendRun& run)
{
    // A unit another station wrote into meanwhile holds what neither sent: never "sent".
    if (run.Good && run.SomethingSent)
        StillTheUnitsOwn(run);
    // The line of a failure that names no reason of its own tells the unit's last refusal.
    TOperationFailure failure = run.Pending.isEmpty()
                                    ? TOperationFailure{LinkFailureKind(), ErrorLine(QStringLiteral("error"))}
                                    : TOperationFailure{run.PendingKind, QStringLiteral("error: ") + run.Pending};
    // A send that the unit refused after its number went in (another station's writes in the
    // way, for one) asks once more whether the unit still holds that number. A unit that went
    // silent is not waited for again.
    TLoaderRecord held;
    if (!run.Good && LastSend.SerialWritten > 0 && !Link.Stopping() && Link.LastRejection == TRejection::ErrorCode &&
        Link.ReadLoaderRecord(held)) {
        const QString over = ForgetOverwrittenSerial(held.Serial, run);
        if (!over.isEmpty())
            failure = {TFailureKind::UnitTaken,
                       QStringLiteral("error: another station or program wrote serial number ") +
                           QString::number(held.Serial) + QStringLiteral(" into this unit meanwhile") + over +
                           QStringLiteral(": one station per network segment")};
    }
    if (run.Good) {
        if (run.SomethingSent) {
            Say(QStringLiteral("sent successfully"));
            WriteProductionLog(run.Entry);
        } else {
            Say(QStringLiteral("nothing to send"));
        }
        ClearControllerImages();
        Report(Event::TUnitChanged{});
    } else {
        // A stop cut the step under way short: that step is "interrupted", and the last line
        // says what the unit now holds.
        if (Link.Stopping()) {
            LastSend.Interrupted = LastSend.Step;
            failure = {TFailureKind::Interrupted, InterruptedLine(run)};
        }
        Fail(failure.Kind, failure.Text);
        // The unit took its serial number before a later step failed, or a shared counter
        // gave one that did not reach the unit: the number is spent, so it goes on record
        // with the steps that failed or never ran still at "err".
        if (run.SerialSpent)
            WriteProductionLog(run.Entry);
    }
    CurrentOperation = OpNone;
    LastSend.Entry = run.Entry;
    LastSend.Step = TSendStep::None;

    if (run.Good && job.StartPlc) {
        Pause(200);
        run.Good = RunPlcCommand(QStringLiteral("starting plc program"), [this] { return Link.StartPlc(); });
    }
    if (run.Good && job.SetClock)
        run.Good = RunPlcCommand(QStringLiteral("writing real-time clock"), [this] { return Link.WriteClock(); });
}

bool TLoaderSession::WriteArea(TSendRun& run, uint32_t address, const QByteArray& image)
{
    run.BytesToWrite = image.size();
    run.BytesWritten = 0;
    ResetProgress();   // a transfer of its own: the total counts all its bytes
    // Counts the bytes the unit acknowledged, for the words after a stop, and moves the bars.
    const auto bars = Link.OnProgress;
    Link.OnProgress = [&run, &bars](int position, int maximum) {
        run.BytesWritten = position;
        if (bars)
            bars(position, maximum);
    };
    const bool ok = Link.WriteMemory(address, image);
    Link.OnProgress = bars;
    return ok;
}

QString TLoaderSession::InterruptedLine(const TSendRun& run) const
{
    QStringList held;
    if (LastSend.SerialWritten > 0)
        held << QStringLiteral("serial number ") + QString::number(LastSend.SerialWritten) + QStringLiteral(" written");
    else if (LastSend.SerialUnknown)
        held << QStringLiteral("serial number ") + QString::number(run.Entry.Serial.toInt()) +
                    QStringLiteral(" may have been written");
    else if (LastSend.SerialTaken > 0)
        held << QStringLiteral("serial number ") + QString::number(LastSend.SerialTaken) +
                    QStringLiteral(" taken, not written");
    // The step whose transfer had begun when the stop came.
    const TSendStep step = run.BytesToWrite > 0 ? LastSend.Step : TSendStep::None;
    if (LastSend.KernelRan)
        held << AreaWords(QStringLiteral("kernel"), run.Entry.KernelResult == StepOk, run.KernelErased,
                          step == TSendStep::Kernel, run.BytesWritten, run.BytesToWrite);
    if (LastSend.ProgramRan)
        held << AreaWords(QStringLiteral("plc program"), run.Entry.ProgramResult == StepOk, run.ProgramErased,
                          step == TSendStep::Program, run.BytesWritten, run.BytesToWrite);
    if (held.isEmpty())
        held << QStringLiteral("nothing written");
    return QStringLiteral("interrupted: ") + held.join(QStringLiteral("; "));
}

void TLoaderSession::WriteProductionLog(const TProductionLogEntry& entry)
{
    QString error;
    // The unit is written either way; a missing log line must not go unnoticed.
    if (!AppendProductionLog(ProductionLogPath, ProductionLogLine(entry, QDateTime::currentDateTime()), &error))
        ReportFileError(QStringLiteral("can't write production log ") + ProductionLogPath + QStringLiteral(": ") +
                        error);
}
