#include "SessionRunner.h"

#include "RecordKeeper.h"
#include "SettingsStore.h"
#include "StationRecords.h"
#include "StoreSerialCounter.h"
#include "UnitPath.h"

#include <QMetaObject>
#include <QSysInfo>

// The session on the worker: its events become signals of the runner, queued to the window's
// thread in the order the session gave them.
class TSessionRunner::TWorker : public QObject {
public:
    explicit TWorker(TSessionRunner& runner)
        : FRunner(runner),
          Link(new TCommunicator(this)),
          Session(*Link, [this](const TOperationEvent& event) { Report(event); })
    {
        Link->StopRequested = &runner.FStop;
    }

    TSessionRunner& FRunner;
    TCommunicator* Link;   // a child: it moves to the worker's thread with this object
    TLoaderSession Session;
    bool NeedsBinding = true;
    // The operation under way: its path notes what its record needs; the number the
    // operator asked for, to say when the store gave another.
    TUnitPath* Path = nullptr;
    int32_t Wanted = -1;

    void Report(const TOperationEvent& event)
    {
        if (Path)
            Path->Notice(event);
        std::visit(TEventHandlers{[this](const Event::TMessage& message) { Q_EMIT FRunner.Message(message.Text); },
                                  [this](const Event::TVerifyBegins&) { Q_EMIT FRunner.VerifyIconsCleared(); },
                                  [this](const Event::TVerifyResult& result) {
                                      Q_EMIT FRunner.VerifyResult(result.Check, result.Passed);
                                  },
                                  [this](const Event::TPlcStatus& status) { Q_EMIT FRunner.PlcStatus(status.Text); },
                                  [this](const Event::TProgress& progress) {
                                      Q_EMIT FRunner.Progress(progress.Current, progress.CurrentMaximum, progress.Done,
                                                              progress.Total);
                                  },
                                  [this](const Event::TSerialTaken& taken) {
                                      if (taken.Number == Wanted)
                                          return;
                                      Q_EMIT FRunner.Message(
                                          QStringLiteral("serial number ") + QString::number(taken.Number) +
                                          QStringLiteral(" given instead of ") + QString::number(Wanted) +
                                          QStringLiteral(": the numbers below it were given already"));
                                      Q_EMIT FRunner.SerialNumberTaken(taken.Number);
                                  },
                                  [this](const Event::TSerialAdvanced& advanced) {
                                      // Stored here, under the settings' lock that spans processes, and then shown.
                                      StoreNextSerialAtLeast(advanced.Next);
                                      Q_EMIT FRunner.SerialNumberAdvanced(advanced.Next);
                                  },
                                  [this](const Event::TFileError& error) { Q_EMIT FRunner.FileError(error.Text); },
                                  [this](const Event::TUnitChanged&) { Q_EMIT FRunner.InfoPanelCleared(); },
                                  [](const Event::TSendStepBegins&) {}},
                   event);
    }

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

    // The job on the unit connected now, as a station's unit of one: its number claimed in
    // the record store, its record kept there before the end is reported.
    TUnitRecord Run(TUnitJob job, const std::optional<TRecipe>& recipe, bool& ok)
    {
        job.Unit = {Link->PeerIP, Link->Nad};
        job.Images = Session.TakeImages();
        const bool send = job.Operation == TUnitOperation::Send;
        TUnitPath path(job, send ? Serials(job.What.Serial) : nullptr, FRunner.FStop);
        Wanted = job.What.Serial.Number;
        Path = &path;
        ok = path.Begin(Session) && path.Run(Session);
        Path = nullptr;
        TUnitRecord record = path.Finish(Session, ok);
        if (send) {
            if (recipe && FilesAsPinned(*recipe, record.KernelSourceSha256, record.ProgramSourceSha256))
                record.Recipe = recipe->Name;
            Keep(record);
        }
        return record;
    }

    // The record store, opened at the first send and again at every send while it does not
    // open: meanwhile the keeper finds it closed and keeps the record in the fallback file,
    // and no number is given.
    TRecordKeeper& Keeper()
    {
        if (!FKeeper || !FKeeper->Store().OpenError().isEmpty()) {
            auto store = std::make_shared<TRecordStore>();
            QString error;
            store->Open(QString(), error);
            FKeeper = std::make_unique<TRecordKeeper>(store, TRecordKeeper::DefaultFallbackPath(*store));
        }
        return *FKeeper;
    }

    // The number a send writes, claimed first in the record store's set of given numbers, so
    // that no station or other window gives it too: the box's number as typed (refused in
    // words when it was given already), or with autoincrement the next one from the stored
    // counter that nobody gave yet. None when the box holds no number: the send says so.
    std::shared_ptr<TSerialCounter> Serials(const TSerialSource& source)
    {
        if (!source.Write || source.Number < 1)
            return nullptr;
        std::shared_ptr<TSerialCounter> numbers;
        if (source.Autoincrement)
            numbers = std::make_shared<TSettingsSerialCounter>(source.Number);
        else
            numbers = std::make_shared<TMemorySerialCounter>(source.Number);
        return std::make_shared<TClaimedSerialCounter>(numbers, Keeper().SharedStore(), QStringLiteral("the window"),
                                                       QSysInfo::machineHostName(),
                                                       source.Autoincrement ? TClaimedSerialCounter::PassOverGiven
                                                                            : TClaimedSerialCounter::RefuseGiven);
    }

    void Keep(const TUnitRecord& record)
    {
        const TKeepResult kept = Keeper().Keep(RecordEntry(record, QSysInfo::machineHostName(), QString()));
        TellKept(kept, QString(),
                 [this](TNoteLevel level, const QString& text) { Q_EMIT FRunner.Message(NoteLine(level, text)); });
        if (kept.Kept == TKept::Lost)
            Q_EMIT FRunner.FileError(kept.Text);
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

private:
    std::unique_ptr<TRecordKeeper> FKeeper;
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

void TSessionRunner::LoadImageFiles(std::optional<TImageKind> forget, const TJob& job)
{
    Post([this, forget, job] {
        if (forget)
            FWorker->Session.ForgetImageFile(*forget);
        FWorker->Session.LoadImageFiles(job);
        Q_EMIT FilesLoaded(FWorker->Session.KernelFileState, FWorker->Session.ProgramFileState);
    });
}

void TSessionRunner::Run(const TUnitJob& job, const std::optional<TRecipe>& recipe)
{
    Post([this, job, recipe] {
        bool ok = false;
        const TUnitRecord record = FWorker->Run(job, recipe, ok);
        Q_EMIT Finished(record, ok);
    });
}
