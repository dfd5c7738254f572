#include "UnitRunner.h"

// The session's front end on the runner's thread: lines and progress become signals, the
// dump's file name is the job's, and nothing waits for an operator.
class TUnitRunner::THost : public TOperationHost {
public:
    explicit THost(TUnitRunner& runner) : FRunner(runner) {}

    QString LastMessage;

    void AddMessage(const QString& text) override
    {
        LastMessage = text;
        Q_EMIT FRunner.Message(FRunner.FJob.Unit.IP, QDateTime::currentDateTime(), text);
    }
    void DisableControls() override {}
    void EnableControls() override {}
    void ClearVerifyIcons() override {}
    void ShowVerifyResult(TVerifyCheck, bool) override {}
    void ShowPlcStatus(const QString&) override {}
    void ShowProgress(int, int, int total, int totalMaximum) override
    {
        Q_EMIT FRunner.Progress(FRunner.FJob.Unit.IP, total, totalMaximum);
    }
    QString AskSaveFileName(const QString&) override { return FRunner.FJob.DumpPath; }
    void SerialNumberAdvanced(int32_t) override {}
    // The text is in the log already ("error: " and the same words).
    void ShowError(const QString&) override {}

private:
    TUnitRunner& FRunner;
};

TUnitRunner::TUnitRunner(TUnitJob job, std::shared_ptr<TSerialCounter> serials, QObject* parent)
    : QThread(parent), FJob(std::move(job)), FSerials(std::move(serials))
{
    qRegisterMetaType<TUnitRecord>();
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

void TUnitRunner::run()
{
    TUnitRecord record;
    record.IP = FJob.Unit.IP;
    record.NadBefore = record.NadAfter = FJob.Unit.Nad;
    record.Started = QDateTime::currentDateTime();

    // Everything of the link lives on this thread: its socket, its waits, its timers.
    TCommunicator link;
    link.PinnedIP = FJob.Unit.IP;
    link.ControllerPort = FJob.Link.Port;
    link.RequestTimeout = link.Timeout = FJob.Link.Timeout;
    link.Attempts = FJob.Link.Attempts;
    link.PasswordCode = FJob.Link.PasswordCode;
    link.StopRequested = &FStop;
    THost host(*this);
    bool ok = false;
    {
        TLoaderSession session(link, host);
        session.ProductionLogPath = FJob.ProductionLogPath;
        if (link.SelectAdapter(FJob.Link.AdapterName))
            ok = RunJob(session, record);
        else
            host.AddMessage(QStringLiteral("error: can't bind to adapter ") + FJob.Link.AdapterName);
    }

    record.Requests = link.RequestsSent;
    record.Resent = link.DatagramsSent - link.RequestsSent;
    record.Ended = QDateTime::currentDateTime();
    record.Outcome = ok ? TUnitOutcome::Succeeded : FStop ? TUnitOutcome::Interrupted : TUnitOutcome::Failed;
    record.Message = host.LastMessage;
    Q_EMIT Finished(record);
}

bool TUnitRunner::RunJob(TLoaderSession& session, TUnitRecord& record)
{
    const int32_t nad = FJob.Unit.Nad;
    const TConnectResult connected = session.ConnectToNad({nad == -1, QString::number(nad)});
    if (connected.Outcome != TConnectOutcome::Answered)
        return false;
    NoteConnectedUnit(session, record);
    if (session.Info.IsOldLoader()) {
        session.Host.AddMessage(QStringLiteral("error: the unit's loader is too old for this tool"));
        return false;
    }

    session.KernelImage = FJob.Images.Kernel;
    session.KernelFileHeader = FJob.Images.KernelFileHeader;
    session.KernelFileState = FJob.Images.KernelLoaded ? TFileState::Loaded : TFileState::NotLoaded;
    session.ProgramImage = FJob.Images.Program;
    session.ProgramFileState = FJob.Images.ProgramLoaded ? TFileState::Loaded : TFileState::NotLoaded;

    switch (FJob.Operation) {
    case TUnitOperation::Info:
        return true;
    case TUnitOperation::Send:
        return Send(session, record);
    case TUnitOperation::Verify: {
        const bool verified = session.DoVerify(FJob.Inputs);
        record.VerifyStep = verified ? QStringLiteral("ok") : QStringLiteral("err");
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

bool TUnitRunner::Send(TLoaderSession& session, TUnitRecord& record)
{
    TOperationInputs inputs = FJob.Inputs;
    inputs.KernelVersionShown = record.KernelVersion;
    if (FSerials)
        inputs.TakeSerialNumber = [this](QString& why) {
            const int32_t serial = FSerials->Take();
            if (serial < 1)
                why = FSerials->LastError();
            return serial;
        };

    bool ok = session.DoSend(inputs);
    NoteSend(session, inputs, record);

    if (ok && FJob.VerifyAfterSend) {
        // Read back as the window would after a send: connected anew, under the new number.
        ok = session.ConnectToNad({record.NadAfter == -1, QString::number(record.NadAfter)}).Outcome ==
                 TConnectOutcome::Answered &&
             session.DoVerify(inputs);
        record.VerifyStep = ok ? QStringLiteral("ok") : QStringLiteral("err");
    }
    return ok;
}
