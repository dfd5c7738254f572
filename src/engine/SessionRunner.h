// SessionRunner: the window's engine. One link and one loader session, kept for as long as
// the window lives, on a worker thread of their own: every request blocks that thread while
// it waits for its controller, never the window's.
//
//   window --(plain values, queued, run in the order given)--> Connect / Discover /
//          LoadImageFiles / Run ...                  worker: TCommunicator + TLoaderSession
//   window <--(queued signals)-- message lines, progress, PLC status, verify results, the
//          information panel, the serial number shown, the binding, the connection's and
//          the operation's outcome
//
// An operation is a one-unit job on the unit the window is connected to, and takes the path
// every station's unit takes (TUnitPath): the same serial number claim in the record store,
// the same record, kept there (else in its fallback file) before the operation reports its
// end, the same kinds of failure and the same words.
//
// Nothing on the worker touches a widget, and nothing the window does afterwards reaches a
// request already given. A newer Connect, or a Discover, cancels the connection under way:
// its wait ends at once, it says nothing, and only the newest connection reports. An
// operation is never cut short by the window: Busy() says it is still under way.
#pragma once

#include "LoaderSession.h"
#include "Recipe.h"
#include "UnitJob.h"
#include "UnitRecord.h"

#include <QMutex>
#include <QObject>
#include <QStringList>
#include <QThread>

#include <atomic>
#include <optional>

// What a connection binds to and whom it asks for.
struct TConnectOrder {
    QString AdapterName;   // the adapter chosen in the window
    bool Bind = false;     // bind the link to it first (the choice changed since the last binding)
    TNadChoice Choice;
    bool Forget = false;   // forget the controller first, so that nothing of it outlives a failure
};

// The link's binding as a connection found it, for the window's adapter check.
struct TBinding {
    bool ForConnection = false;   // else for a discovery, which only binds
    bool Tried = false;           // the link was bound anew
    bool Bound = false;           // and that succeeded
    TEthernetAdapterInfo Adapter;
    QString LocalIP;
};
Q_DECLARE_METATYPE(TBinding)

// The session as the last finished request left it.
struct TSessionState {
    bool Connected = false;
    bool OldLoader = false;   // the connected unit's loader is too old for the operations
    int32_t Nad = -1;
    QString LocalIP;
    int BoundPort = 0;   // 0: the link's socket is not bound (nothing was sent)
    uint16_t PasswordCode = 0;
};
Q_DECLARE_METATYPE(TSessionState)

class TSessionRunner : public QObject {
    Q_OBJECT
public:
    explicit TSessionRunner(QObject* parent = nullptr);
    // Cancels a connection under way, lets an operation end, and ends the thread.
    ~TSessionRunner() override;

    // ---- requests, from any thread (usually the window's): each returns at once and runs
    // on the worker after those given before it ----
    // The link's port, time-out, attempts and password code, for the requests after this.
    void SetLink(const TLinkOptions& options);
    void SetDirectConnection(bool on);
    void SetProductionLogPath(const QString& path);
    void SetFixedWaits(const TTimedWait& wait);
    void Connect(const TConnectOrder& order);
    // Ends a connection under way without a result, binds when asked and lists the NADs that
    // answer within timeout ms (Discovered).
    void Discover(const TConnectOrder& order, uint32_t timeout);
    // Ends the connection under way within the link's stop check, and drops one not yet
    // begun; neither reports. At once, from the calling thread.
    void CancelConnection();
    void MarkDisconnected();
    // Forgets the file of kind, when given, and loads each file of the job not loaded (FilesLoaded).
    void LoadImageFiles(std::optional<TImageKind> forget, const TJob& job);
    // Runs job on the unit connected now; its images are the files loaded here as they
    // stand then. The record of a send names recipe when the files sent are its own as
    // pinned.
    void Run(const TUnitJob& job, const std::optional<TRecipe>& recipe = std::nullopt);

    // ---- for the window's thread ----
    bool Busy() const { return FPending > 0; }
    bool Connecting() const { return FConnects > 0; }

Q_SIGNALS:
    void Message(const QString& text);
    void PlcStatus(const QString& text);
    void Progress(int current, int currentMaximum, int total, int totalMaximum);
    void VerifyIconsCleared();
    void VerifyResult(TVerifyCheck check, bool passed);
    // A send took this number from the record store, other than the one asked for.
    void SerialNumberTaken(int32_t number);
    void SerialNumberAdvanced(int32_t next);   // and stored in the settings already
    void InfoPanelCleared();
    void FileError(const QString& text);
    void FilesLoaded(TFileState kernel, TFileState program);
    void Bound(const TBinding& binding);
    // The newest connection's outcome; none for one that a newer one cancelled.
    void Connected(const TConnectResult& result);
    void Discovered(const QStringList& nads);
    // An operation has ended; for a send, the unit's record, kept already.
    void Finished(const TUnitRecord& record, bool ok);
    // After every request, before the next.
    void StateChanged(const TSessionState& state);
    // Every request given has ended.
    void Idle();

private:
    class TWorker;
    // Queues work for the worker; counted in Busy until it has ended.
    void Post(std::function<void()> work, bool connect = false);
    void Done(bool connect);

    QThread FThread;
    TWorker* FWorker = nullptr;   // lives on FThread
    std::atomic<bool> FStop{false};
    // The newest connection asked for and not yet begun; guarded by FMutex with FConnecting.
    mutable QMutex FMutex;
    std::optional<TConnectOrder> FNextConnect;
    bool FConnecting = false;
    std::atomic<int> FPending{0};    // requests given and not ended
    std::atomic<int> FConnects{0};   // of which connections
};
