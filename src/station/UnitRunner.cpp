#include "UnitRunner.h"

#include "UnitNotes.h"

#include <algorithm>

namespace {

// A step under way, as the snapshot shows it: were the run to end now, it was cut short.
constexpr TStepResult UnderWay = TStepResult::Interrupted;

// Why the unit failed, for its record and the station's row: the window's bare "error" says
// no more than that a request went unanswered or was refused, so the cause and the step
// under way are told.
QString FailureInWords(const TOperationFailure& failure, const QString& step, const TCommunicator& link)
{
    if (failure.Text != QLatin1String("error"))
        return failure.Text;
    QString cause;
    switch (link.LastRejection) {
    case TRejection::None:
    case TRejection::TimeOut:
        cause = QStringLiteral("the unit did not answer");
        break;
    case TRejection::WrongSender:
        cause = QStringLiteral("replies came from another address than the unit's");
        break;
    default:
        cause = QStringLiteral("the unit's replies were unreadable (") + RejectionText(link.LastRejection) +
                QLatin1Char(')');
        break;
    }
    return QStringLiteral("error: ") + cause + (step.isEmpty() ? QString() : QStringLiteral(" while ") + step);
}

}   // namespace

// The session's front end on the runner's thread: lines and progress become signals, the
// dump's file name is the job's, and nothing waits for an operator. Every line also renews
// the runner's snapshot of the record.
class TUnitRunner::THost : public TOperationHost {
public:
    THost(TUnitRunner& runner, const TUnitRecord& record) : FRunner(runner), FRecord(record) {}

    QString LastMessage;
    QString LastStep;   // the last line that was no error: what the unit was doing
    // Set while a send runs: its session and inputs, for the snapshot.
    const TLoaderSession* Sending = nullptr;
    const TOperationInputs* Inputs = nullptr;
    // The progress of a send followed by a verify is one total: the verify's bytes are
    // counted on from the send's (Base), and known before (After).
    qint64 Base = 0;
    qint64 After = 0;

    void AddMessage(const QString& text) override
    {
        LastMessage = text;
        if (!text.startsWith(QLatin1String("error")))
            LastStep = text;
        Q_EMIT FRunner.Message(FRunner.FJob.Unit.IP, QDateTime::currentDateTime(), text);
        KeepSnapshot();
    }
    void ClearVerifyIcons() override {}
    void ShowVerifyResult(TVerifyCheck, bool) override {}
    void ShowPlcStatus(const QString&) override {}
    void ShowProgress(int, int, int total, int totalMaximum) override
    {
        FDone = std::max(FDone, Base + total);
        FMaximum = std::max(FDone, Base + totalMaximum + After);
        Q_EMIT FRunner.Progress(FRunner.FJob.Unit.IP, FDone, FMaximum);
    }
    QString AskSaveFileName(const QString&) override { return FRunner.FJob.DumpPath; }
    void SerialNumberAdvanced(int32_t) override {}
    // The text is in the log already ("error: " and the same words).
    void ShowError(const QString&) override {}

    qint64 Maximum() const { return FMaximum; }

    // The record as it would be were the run to end now.
    void KeepSnapshot()
    {
        TUnitRecord now = FRecord;
        if (Sending) {
            TSendReport sent = Sending->LastSend;
            sent.Interrupted = sent.Step;
            NoteSend(sent, *Inputs, FRunner.FJob.Images, now);
        }
        now.Message = LastMessage;
        FRunner.Keep(now);
    }

private:
    TUnitRunner& FRunner;
    const TUnitRecord& FRecord;
    qint64 FDone = 0;
    qint64 FMaximum = 0;
};

TUnitRunner::TUnitRunner(TUnitJob job, std::shared_ptr<TSerialCounter> serials, QObject* parent)
    : QThread(parent), FJob(std::move(job)), FSerials(std::move(serials))
{
    qRegisterMetaType<TUnitRecord>();
    // The snapshot of a runner not yet started names its unit.
    FSnapshot.IP = FJob.Unit.IP;
    FSnapshot.Recipe = FJob.Recipe;
    FSnapshot.NadBefore = FSnapshot.NadAfter = FJob.Unit.Nad;
    FSnapshot.Outcome = TUnitOutcome::Interrupted;
    FSnapshot.Failure.Kind = TFailureKind::Interrupted;
}

TUnitRunner::~TUnitRunner()
{
    RequestStop();
    wait();
}

void TUnitRunner::RequestStop()
{
    FStop = true;
}

TUnitRecord TUnitRunner::Snapshot() const
{
    const QMutexLocker lock(&FSnapshotMutex);
    TUnitRecord record = FSnapshot;
    if (!record.Ended.isValid())
        record.Ended = QDateTime::currentDateTime();
    return record;
}

void TUnitRunner::Keep(const TUnitRecord& record)
{
    const QMutexLocker lock(&FSnapshotMutex);
    FSnapshot = record;
    FSnapshot.Ended = {};
    // Were the run to end now, it was cut short after its last line.
    FSnapshot.Outcome = TUnitOutcome::Interrupted;
    FSnapshot.Failure = {TFailureKind::Interrupted, record.Message};
}

void TUnitRunner::run()
{
    TUnitRecord record;
    record.IP = FJob.Unit.IP;
    record.Recipe = FJob.Recipe;
    record.NadBefore = record.NadAfter = FJob.Unit.Nad;
    record.Started = QDateTime::currentDateTime();
    record.Outcome = TUnitOutcome::Interrupted;
    Keep(record);

    // Everything of the link lives on this thread: its socket, its waits, its timers.
    TCommunicator link;
    TLinkOptions options = FJob.Link;
    options.PinnedIP = FJob.Unit.IP;
    link.SetOptions(options);
    link.StopRequested = &FStop;
    THost host(*this, record);
    bool ok = false;
    TOperationFailure failure;
    {
        TLoaderSession session(link, host);
        session.ProductionLogPath = FJob.ProductionLogPath;
        if (link.SelectAdapter(FJob.Link.AdapterName)) {
            ok = RunJob(session, host, record);
            failure = session.Failure;
        } else {
            failure = {TFailureKind::NoAdapter,
                       QStringLiteral("error: can't bind to adapter ") + FJob.Link.AdapterName};
            host.AddMessage(failure.Text);
        }
    }

    record.Requests = link.RequestsSent();
    record.Resent = link.DatagramsSent() - link.RequestsSent();
    record.Ended = QDateTime::currentDateTime();
    record.Outcome = ok ? TUnitOutcome::Succeeded : FStop ? TUnitOutcome::Interrupted : TUnitOutcome::Failed;
    // A stop may cut any request short: the record tells what the unit held when it came.
    if (record.Outcome == TUnitOutcome::Interrupted)
        record.Failure = {TFailureKind::Interrupted, host.LastMessage};
    else if (record.Outcome == TUnitOutcome::Failed)
        record.Failure = {failure.Kind, FailureInWords(failure, host.LastStep, link)};
    record.Message = record.Outcome == TUnitOutcome::Failed ? record.Failure.Text : host.LastMessage;
    {
        const QMutexLocker lock(&FSnapshotMutex);
        FSnapshot = record;
    }
    Q_EMIT Finished(record);
}

bool TUnitRunner::RunJob(TLoaderSession& session, THost& host, TUnitRecord& record)
{
    const int32_t nad = FJob.Unit.Nad;
    const TConnectResult connected = session.ConnectToNad({nad == -1, QString::number(nad)});
    if (connected.Outcome != TConnectOutcome::Answered)
        return false;
    NoteConnectedUnit(session, record);
    host.KeepSnapshot();
    if (session.Info.IsOldLoader()) {
        session.Failure = {TFailureKind::WrongPlatform,
                           QStringLiteral("error: the unit's loader is too old for this tool")};
        session.Host.AddMessage(session.Failure.Text);
        return false;
    }

    switch (FJob.Operation) {
    case TUnitOperation::Info:
        return true;
    case TUnitOperation::Send:
        return Send(session, host, record);
    case TUnitOperation::Verify: {
        record.VerifyStep = UnderWay;
        const bool verified = session.DoVerify(FJob.Inputs, FJob.Images);
        record.VerifyStep = VerifyStepResult(verified);
        return verified;
    }
    case TUnitOperation::StartPlc:
        return session.DoStartPlc();
    case TUnitOperation::StopPlc:
        return session.DoStopPlc();
    case TUnitOperation::DumpKernel:
        return session.DoSaveKernel();
    case TUnitOperation::DumpProgram:
        return session.DoSaveProgram();
    }
    return false;
}

bool TUnitRunner::Send(TLoaderSession& session, THost& host, TUnitRecord& record)
{
    TOperationInputs inputs = FJob.Inputs;
    inputs.KernelVersionShown = record.KernelVersion;
    if (FSerials)
        inputs.TakeSerialNumber = [this, &host](QString& why) {
            const TSerialTake serial = FSerials->Take();
            if (serial.Number < 1) {
                why = serial.Error;
            } else {
                // On record from the moment it is taken, before the unit holds it.
                TUnitRecord taken = Snapshot();
                taken.SerialTaken = serial.Number;
                taken.SerialStep = UnderWay;
                Keep(taken);
            }
            return serial.Number;
        };
    if (FJob.VerifyAfterSend)
        host.After = (inputs.KernelChecked ? FJob.Images.Kernel.size() : 0) +
                     (inputs.ProgramChecked ? FJob.Images.Program.size() : 0);

    host.Sending = &session;
    host.Inputs = &inputs;
    bool ok = session.DoSend(inputs, FJob.Images);
    host.Sending = nullptr;
    NoteSend(session, inputs, FJob.Images, record);

    if (ok && FJob.VerifyAfterSend) {
        host.Base = host.Maximum() - host.After;
        host.After = 0;
        record.VerifyStep = UnderWay;
        // Read back as the window would after a send: connected anew, under the new number.
        ok = session.ConnectToNad({record.NadAfter == -1, QString::number(record.NadAfter)}).Outcome ==
                 TConnectOutcome::Answered &&
             session.DoVerify(inputs, FJob.Images);
        record.VerifyStep = VerifyStepResult(ok);
    }
    return ok;
}

TStepResult TUnitRunner::VerifyStepResult(bool verified) const
{
    return verified ? TStepResult::Ok : FStop ? TStepResult::Interrupted : TStepResult::Err;
}
