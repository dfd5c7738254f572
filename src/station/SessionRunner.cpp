#include "SessionRunner.h"

#include "SettingsStore.h"
#include "UnitNotes.h"

#include <QMetaObject>

// The session's front end on the worker: every report becomes a signal of the runner, queued
// to the window's thread in the order the session gave it.
class TSessionRunner::TWorker : public QObject, public TOperationHost {
public:
    explicit TWorker(TSessionRunner& runner) : FRunner(runner), Link(new TCommunicator(this)), Session(*Link, *this)
    {
        Link->StopRequested = &runner.FStop;
    }

    TSessionRunner& FRunner;
    TCommunicator* Link;   // a child: it moves to the worker's thread with this object
    TLoaderSession Session;
    QString DumpPath;      // the running job's
    QString LastMessage;   // for the unit's record
    bool NeedsBinding = true;

    void AddMessage(const QString& text) override
    {
        LastMessage = text;
        Q_EMIT FRunner.Message(text);
    }
    void ClearVerifyIcons() override { Q_EMIT FRunner.VerifyIconsCleared(); }
    void ShowVerifyResult(TVerifyCheck check, bool passed) override { Q_EMIT FRunner.VerifyResult(check, passed); }
    void ShowPlcStatus(const QString& text) override { Q_EMIT FRunner.PlcStatus(text); }
    void ShowProgress(int current, int currentMaximum, int total, int totalMaximum) override
    {
        Q_EMIT FRunner.Progress(current, currentMaximum, total, totalMaximum);
    }
    QString AskSaveFileName(const QString&) override { return DumpPath; }
    void SerialNumberAdvanced(int32_t next) override
    {
        // Stored here, under the settings' lock that spans processes, and then shown.
        StoreNextSerialAtLeast(next);
        Q_EMIT FRunner.SerialNumberAdvanced(next);
    }
    void ShowError(const QString& text) override { Q_EMIT FRunner.FileError(text); }
    void ClearInfoPanel() override { Q_EMIT FRunner.InfoPanelCleared(); }

    TBinding Bind(const TConnectOrder& order, bool forConnection)
    {
        TBinding binding;
        binding.ForConnection = forConnection;
        if (order.Bind || NeedsBinding) {
            binding.Tried = true;
            binding.Bound = !order.AdapterName.isEmpty() && Link->SelectAdapter(order.AdapterName);
            NeedsBinding = !binding.Bound;
        }
        binding.Adapter = Link->Adapter;
        binding.LocalIP = Link->LocalIP;
        return binding;
    }

    // Connects as the order says; false when a stop request cut the connection short.
    bool Connect(const TConnectOrder& order, TConnectResult& result)
    {
        if (order.Forget)
            Session.ForgetController();
        Q_EMIT FRunner.Bound(Bind(order, true));
        result = Session.ConnectToNad(order.Choice);
        // A connection that failed has let go of its socket.
        if (result.Outcome == TConnectOutcome::NotAnswered)
            NeedsBinding = true;
        return !Link->Stopping();
    }

    void Discover(const TConnectOrder& order, uint32_t timeout)
    {
        Session.ClearControllerImages();
        Session.MarkDisconnected();
        // An unbound socket would send the broadcast from whatever address the system picks.
        const TBinding binding = Bind(order, false);
        if (binding.Tried)
            Q_EMIT FRunner.Bound(binding);
        QStringList nads;
        QStringList addresses;
        Link->Discover(&nads, &addresses, timeout);
        nads.removeDuplicates();
        nads.sort();
        Q_EMIT FRunner.Discovered(nads);
    }

    bool Run(const TSessionJob& job, TUnitRecord& record)
    {
        DumpPath = job.DumpPath;
        Session.ResetProgress();
        switch (job.Operation) {
        case TUnitOperation::Info:
            return true;
        case TUnitOperation::Send: {
            const bool sent = Send(job.Inputs, record);
            if (job.KeepRecord)
                job.KeepRecord(record, *this);
            return sent;
        }
        case TUnitOperation::Verify:
            return Session.DoVerify(job.Inputs, Session.TakeImages());
        case TUnitOperation::StartPlc:
            return Session.DoStartPlc();
        case TUnitOperation::StopPlc:
            return Session.DoStopPlc();
        case TUnitOperation::DumpKernel:
            return Session.DoSaveKernel();
        case TUnitOperation::DumpProgram:
            return Session.DoSaveProgram();
        }
        return false;
    }

    // The send, and the record of the unit as connected and of what went into it.
    bool Send(const TOperationInputs& inputs, TUnitRecord& record)
    {
        record.IP = Link->PeerIP;   // the unit that answered the connection
        record.NadBefore = record.NadAfter = Link->Nad;
        NoteConnectedUnit(Session, record);
        const uint64_t requests = Link->RequestsSent();
        const uint64_t datagrams = Link->DatagramsSent();
        record.Started = QDateTime::currentDateTime();
        const TLoadedImages images = Session.TakeImages();
        const bool sent = Session.DoSend(inputs, images);
        record.Ended = QDateTime::currentDateTime();
        NoteSend(Session, inputs, images, record);
        record.Requests = Link->RequestsSent() - requests;
        record.Resent = Link->DatagramsSent() - datagrams - record.Requests;
        record.Outcome = sent ? TUnitOutcome::Succeeded : TUnitOutcome::Failed;
        record.Message = LastMessage;
        record.Failure = Session.Failure;
        return sent;
    }

    TSessionState State() const
    {
        TSessionState state;
        state.Connected = Session.Connected;
        state.OldLoader = Session.Info.IsOldLoader();
        state.Nad = Link->Nad;
        state.LocalIP = Link->LocalIP;
        state.BoundPort = Link->BoundPort;
        state.PasswordCode = Link->PasswordCode;
        return state;
    }
};

TSessionRunner::TSessionRunner(QObject* parent) : QObject(parent)
{
    qRegisterMetaType<TUnitRecord>();
    qRegisterMetaType<TBinding>();
    qRegisterMetaType<TSessionState>();
    FWorker = new TWorker(*this);
    FWorker->moveToThread(&FThread);
    connect(&FThread, &QThread::finished, FWorker, &QObject::deleteLater);
    FThread.start();
}

TSessionRunner::~TSessionRunner()
{
    CancelConnection();
    FThread.quit();
    FThread.wait();
}

void TSessionRunner::Post(std::function<void()> work, bool connect)
{
    ++FPending;
    if (connect)
        ++FConnects;
    QMetaObject::invokeMethod(
        FWorker,
        [this, work = std::move(work), connect] {
            {
                // A stop aims at the connection under way when it was asked for, never at a
                // later request.
                const QMutexLocker lock(&FMutex);
                FStop = false;
            }
            work();
            Q_EMIT StateChanged(FWorker->State());
            QMetaObject::invokeMethod(
                this, [this, connect] { Done(connect); }, Qt::QueuedConnection);
        },
        Qt::QueuedConnection);
}

void TSessionRunner::Done(bool connect)
{
    if (connect)
        --FConnects;
    if (--FPending == 0)
        Q_EMIT Idle();
}

void TSessionRunner::SetLink(const TLinkOptions& options)
{
    Post([this, options] { FWorker->Link->SetOptions(options); });
}

void TSessionRunner::SetDirectConnection(bool on)
{
    Post([this, on] { FWorker->Link->SetDirectConnection(on); });
}

void TSessionRunner::SetProductionLogPath(const QString& path)
{
    Post([this, path] { FWorker->Session.ProductionLogPath = path; });
}

void TSessionRunner::SetFixedWaits(const TTimedWait& wait)
{
    Post([this, wait] { FWorker->Session.Wait = wait; });
}

void TSessionRunner::Connect(const TConnectOrder& order)
{
    {
        // Only the newest order runs: one not yet begun is replaced, one under way is stopped.
        // A controller that an order replaced was to be forgotten stays forgotten.
        const QMutexLocker lock(&FMutex);
        const bool forget = order.Forget || (FNextConnect && FNextConnect->Forget);
        FNextConnect = order;
        FNextConnect->Forget = forget;
        if (FConnecting)
            FStop = true;
    }
    Post(
        [this] {
            std::optional<TConnectOrder> next;
            {
                const QMutexLocker lock(&FMutex);
                next.swap(FNextConnect);
                if (!next)
                    return;   // an earlier request ran it already
                FConnecting = true;
            }
            TConnectResult result;
            const bool whole = FWorker->Connect(*next, result);
            bool newest = false;
            {
                const QMutexLocker lock(&FMutex);
                FConnecting = false;
                newest = !FNextConnect;
            }
            if (whole && newest)
                Q_EMIT Connected(result);
        },
        true);
}

void TSessionRunner::CancelConnection()
{
    const QMutexLocker lock(&FMutex);
    FNextConnect.reset();
    if (FConnecting)
        FStop = true;
}

void TSessionRunner::Discover(const TConnectOrder& order, uint32_t timeout)
{
    CancelConnection();
    Post([this, order, timeout] { FWorker->Discover(order, timeout); });
}

void TSessionRunner::MarkDisconnected()
{
    Post([this] { FWorker->Session.MarkDisconnected(); });
}

void TSessionRunner::LoadImageFiles(std::optional<TImageKind> forget, const TOperationInputs& inputs)
{
    Post([this, forget, inputs] {
        if (forget)
            FWorker->Session.ForgetImageFile(*forget);
        FWorker->Session.LoadImageFiles(inputs);
        Q_EMIT FilesLoaded(FWorker->Session.KernelFileState, FWorker->Session.ProgramFileState);
    });
}

void TSessionRunner::Run(const TSessionJob& job)
{
    Post([this, job] {
        TUnitRecord record;
        const bool ok = FWorker->Run(job, record);
        Q_EMIT Finished(record, ok);
    });
}
