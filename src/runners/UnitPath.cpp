#include "UnitPath.h"

#include "UnitNotes.h"

namespace {

// A step under way, as the snapshot shows it: were the run to end now, it was cut short.
constexpr TStepResult UnderWay = TStepResult::Interrupted;

// Why the unit failed, for its record and the operator: a bare "error" says no more than that
// a request went unanswered or was refused, so the cause and the step under way are told.
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

TUnitPath::TUnitPath(const TUnitJob& job, std::shared_ptr<TSerialCounter> serials, const std::atomic<bool>& stop)
    : FJob(job), FSerials(std::move(serials)), FStop(stop)
{
    FRecord.IP = FJob.Unit.IP;
    FRecord.Recipe = FJob.Recipe;
    FRecord.NadBefore = FRecord.NadAfter = FJob.Unit.Nad;
}

void TUnitPath::Start(const TLoaderSession& session)
{
    if (FStarted)
        return;
    FStarted = true;
    FRecord.Started = QDateTime::currentDateTime();
    FRequests = session.Link.RequestsSent();
    FDatagrams = session.Link.DatagramsSent();
    Snapshot();
}

void TUnitPath::Notice(const TOperationEvent& event)
{
    if (const auto* message = std::get_if<Event::TMessage>(&event)) {
        FLastMessage = message->Text;
        if (!message->Text.startsWith(QLatin1String("error")))
            FLastStep = message->Text;
        Snapshot();
    } else if (std::holds_alternative<Event::TSendStepBegins>(event)) {
        Snapshot();
    }
}

void TUnitPath::Snapshot()
{
    if (!OnSnapshot)
        return;
    TUnitRecord now = FRecord;
    if (FSending) {
        TSendReport sent = FSending->LastSend;
        sent.Interrupted = sent.Step;
        NoteSend(sent, FJob.What, FJob.Images, now);
    }
    now.Message = FLastMessage;
    now.Ended = {};
    now.Outcome = TUnitOutcome::Interrupted;
    now.Failure = {TFailureKind::Interrupted, FLastMessage};
    OnSnapshot(now);
}

bool TUnitPath::Connect(TLoaderSession& session)
{
    Start(session);
    const int32_t nad = FJob.Unit.Nad;
    return session.ConnectToNad({nad == -1, QString::number(nad)}).Outcome == TConnectOutcome::Answered &&
           Begin(session);
}

bool TUnitPath::Begin(TLoaderSession& session)
{
    Start(session);
    NoteConnectedUnit(session, FRecord);
    Snapshot();
    if (!session.Info.IsOldLoader())
        return true;
    Fail(session, {TFailureKind::WrongPlatform, QStringLiteral("error: the unit's loader is too old for this tool")});
    return false;
}

void TUnitPath::Fail(TLoaderSession& session, const TOperationFailure& failure)
{
    Start(session);
    session.Failure = failure;
    session.Report(Event::TMessage{failure.Text});
}

bool TUnitPath::Run(TLoaderSession& session)
{
    session.ResetProgress();
    switch (FJob.Operation) {
    case TUnitOperation::Info:
        return true;
    case TUnitOperation::Send:
        return Send(session);
    case TUnitOperation::Verify:
        return Verify(session);
    case TUnitOperation::StartPlc:
        return session.DoStartPlc();
    case TUnitOperation::StopPlc:
        return session.DoStopPlc();
    case TUnitOperation::DumpKernel:
        return session.DoSaveKernel(FJob.DumpPath);
    case TUnitOperation::DumpProgram:
        return session.DoSaveProgram(FJob.DumpPath);
    }
    return false;
}

bool TUnitPath::Verify(TLoaderSession& session)
{
    FRecord.VerifyStep = UnderWay;
    const bool verified = session.DoVerify(FJob.What, FJob.Images);
    FRecord.VerifyStep = StepResult(verified);
    return verified;
}

bool TUnitPath::Send(TLoaderSession& session)
{
    TTakeSerial take;
    if (FSerials)
        take = [this, &session](QString& why) {
            const TSerialTake serial = FSerials->Take();
            if (serial.Number < 1) {
                why = serial.Error;
                return serial.Number;
            }
            // On record from the moment it is taken, before the unit holds it.
            FRecord.SerialTaken = serial.Number;
            FRecord.SerialStep = UnderWay;
            Snapshot();
            session.Report(Event::TSerialTaken{serial.Number});
            return serial.Number;
        };

    FSending = &session;
    bool ok = session.DoSend(FJob.What, FJob.Images, take);
    FSending = nullptr;
    NoteSend(session, FJob.What, FJob.Images, FRecord);

    if (ok && FJob.What.Verify) {
        // Read back as after any send: connected anew, under the new number.
        FRecord.VerifyStep = UnderWay;
        const int32_t nad = FRecord.NadAfter;
        ok = session.ConnectToNad({nad == -1, QString::number(nad)}).Outcome == TConnectOutcome::Answered &&
             session.DoVerify(FJob.What, FJob.Images);
        FRecord.VerifyStep = StepResult(ok);
    }
    return ok;
}

TStepResult TUnitPath::StepResult(bool ok) const
{
    return ok ? TStepResult::Ok : FStop ? TStepResult::Interrupted : TStepResult::Err;
}

TUnitRecord TUnitPath::Finish(const TLoaderSession& session, bool ok)
{
    TUnitRecord record = FRecord;
    record.Requests = session.Link.RequestsSent() - FRequests;
    record.Resent = session.Link.DatagramsSent() - FDatagrams - record.Requests;
    record.Ended = QDateTime::currentDateTime();
    record.Outcome = ok ? TUnitOutcome::Succeeded : FStop ? TUnitOutcome::Interrupted : TUnitOutcome::Failed;
    // A stop may cut any request short: the record tells what the unit held when it came.
    if (record.Outcome == TUnitOutcome::Interrupted)
        record.Failure = {TFailureKind::Interrupted, FLastMessage};
    else if (record.Outcome == TUnitOutcome::Failed)
        record.Failure = {session.Failure.Kind, FailureInWords(session.Failure, FLastStep, session.Link)};
    record.Message = record.Outcome == TUnitOutcome::Failed ? record.Failure.Text : FLastMessage;
    return record;
}
