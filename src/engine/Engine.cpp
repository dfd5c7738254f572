#include "Engine.h"

#include "StationRecords.h"
#include "UnitRunner.h"
#include "uCommunication.h"

#include <QCoreApplication>
#include <QMutex>
#include <QThread>
#include <QWaitCondition>

#include <chrono>

namespace {

// Milliseconds of the steady clock: when a scan began, when a unit ended.
qint64 SteadyMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

}   // namespace

// Asks who answers on the adapter, every scan interval, on a thread of its own, so that the
// front end's thread never waits for the replies. The link is made and bound on that thread.
class TDiscoveryThread : public QThread {
    Q_OBJECT
public:
    TDiscoveryThread(TLinkOptions link, uint32_t wait, uint32_t interval)
        : FLink(std::move(link)), FWait(wait), FInterval(interval)
    {
    }
    ~TDiscoveryThread() override
    {
        Stop();
        wait();
    }

    // Binds the link and scans; false and the reason when the adapter cannot be bound.
    bool Begin(QString& localIP)
    {
        start();
        const QMutexLocker lock(&FMutex);
        while (!FBindTried)
            FChanged.wait(&FMutex);
        localIP = FLocalIP;
        return FBound;
    }
    // The wait under way ends within 20 ms; no scan follows.
    void Stop()
    {
        FStop = true;
        const QMutexLocker lock(&FMutex);
        FChanged.wakeAll();
    }

Q_SIGNALS:
    // The units that answered a scan begun at began (SteadyMs).
    void Found(const QList<TUnitAddress>& units, qint64 began);

protected:
    void run() override
    {
        TCommunicator link;
        link.StopRequested = &FStop;
        link.SetOptions(FLink);
        const bool bound = link.SelectAdapter(FLink.AdapterName);
        {
            const QMutexLocker lock(&FMutex);
            FBindTried = true;
            FBound = bound;
            FLocalIP = link.LocalIP;
            FChanged.wakeAll();
        }
        if (!bound)
            return;
        while (!FStop) {
            const auto began = std::chrono::steady_clock::now();
            const qint64 beganMs = SteadyMs();
            QStringList nads;
            QStringList ips;
            link.Discover(&nads, &ips, FWait);
            if (FStop)
                break;
            Q_EMIT Found(AnsweredUnits(nads, ips), beganMs);
            const auto next = began + std::chrono::milliseconds(FInterval);
            const QMutexLocker lock(&FMutex);
            while (!FStop && std::chrono::steady_clock::now() < next)
                FChanged.wait(&FMutex, QDeadlineTimer(next));
        }
    }

private:
    const TLinkOptions FLink;
    const uint32_t FWait;
    const uint32_t FInterval;
    std::atomic<bool> FStop{false};
    QMutex FMutex;
    QWaitCondition FChanged;
    bool FBindTried = false;
    bool FBound = false;
    QString FLocalIP;
};

QString NoteLine(TNoteLevel level, const QString& text)
{
    static const QString Prefixes[] = {QString(), QStringLiteral("warning: "), QStringLiteral("error: ")};
    return Prefixes[int(level)] + text;
}

QList<TUnitAddress> AnsweredUnits(const QStringList& nads, const QStringList& ips)
{
    QList<TUnitAddress> units;
    QSet<QString> addresses;
    for (qsizetype i = 0; i < nads.size() && i < ips.size(); ++i) {
        if (addresses.contains(ips[i]))
            continue;
        addresses.insert(ips[i]);
        // A fresh unit's NAD, -1, comes as the unsigned number of the same bits.
        units.append({ips[i], int32_t(nads[i].toUInt())});
    }
    return units;
}

TEngine::TEngine(TEnginePlan plan, QObject* parent) : QObject(parent), FPlan(std::move(plan))
{
    qRegisterMetaType<TUnitRecord>();
    qRegisterMetaType<TUnitAddress>();
    qRegisterMetaType<QList<TUnitAddress>>();
    if (FPlan.Records) {
        FRecordsContext = new QObject;
        FRecordsContext->moveToThread(&FRecordsThread);
        connect(&FRecordsThread, &QThread::finished, FRecordsContext, &QObject::deleteLater);
        FRecordsThread.start();
    }
}

TEngine::~TEngine()
{
    FDiscovery.reset();
    for (TUnitRunner* runner : std::as_const(FRunning))
        runner->RequestStop();
    // Runners that end now still bring their records: each is kept before it goes, after
    // the records on their way.
    DrainRecords();
    for (TUnitRunner* runner : std::as_const(FRunning)) {
        runner->wait();
        if (FPlan.Records)
            Tell(KeepNow(runner->Snapshot()));
    }
    qDeleteAll(FRunning);
    FRecordsThread.quit();
    FRecordsThread.wait();
}

bool TEngine::Scan()
{
    FStarted = FScan = FScanning = true;
    FDiscovery = std::make_unique<TDiscoveryThread>(FPlan.Job.Link, FPlan.DiscoveryWait, FPlan.ScanInterval);
    connect(FDiscovery.get(), &TDiscoveryThread::Found, this, &TEngine::Discovered);
    QString localIP;
    if (!FDiscovery->Begin(localIP)) {
        FDiscovery.reset();
        Q_EMIT Note(TNoteLevel::Error, QStringLiteral("can't bind to adapter ") + FPlan.Job.Link.AdapterName);
        FScanning = false;
        FEnded = true;
        Q_EMIT Ended();
        return false;
    }
    Q_EMIT Note(TNoteLevel::Info, QStringLiteral("station: waiting for fresh units on ") + FPlan.Job.Link.AdapterName +
                                      QStringLiteral(" (") + localIP + QLatin1Char(')'));
    return true;
}

void TEngine::Run(const QList<TUnitAddress>& units)
{
    FStarted = true;
    for (const TUnitAddress& unit : units)
        Take(unit);
    StartWaiting();
    EndIfDone();
}

void TEngine::Finish()
{
    if (FFinishing)
        return;
    FFinishing = true;
    EndScans();
    DropWaiting();
    EndIfDone();
}

void TEngine::Stop()
{
    if (FStopped)
        return;
    FStopped = FFinishing = true;
    EndScans();
    // A runner waiting on the store (a number's transaction behind another station's lock)
    // ends its wait now too.
    if (FPlan.Records)
        FPlan.Records->Store().Cancel();
    DropWaiting();
    for (TUnitRunner* runner : std::as_const(FRunning))
        runner->RequestStop();
    EndIfDone();
}

int TEngine::KeepRecordsNow()
{
    // Runners that ended already bring their own records, waiting in the queue; while the
    // records on their way are kept, more runners may end: until none is on its way, each is
    // kept, and what became of it told, before the process ends.
    const int keptBefore = FKeptAtLast;
    QCoreApplication::sendPostedEvents(this, QEvent::MetaCall);
    while (FKeeping > 0) {
        DrainRecords();
        QCoreApplication::sendPostedEvents(this, QEvent::MetaCall);
    }
    int kept = FKeptAtLast - keptBefore;
    if (FPlan.Records) {
        for (const TUnitRunner* runner : std::as_const(FRunning)) {
            const TKeepResult result = KeepNow(runner->Snapshot());
            Tell(result);
            kept += result.Kept == TKept::Lost ? 0 : 1;
        }
    }
    return kept;
}

void TEngine::Take(const TUnitAddress& unit)
{
    TUnitJob job = FPlan.Job;
    job.Unit = unit;
    FWaiting.append(job);
    Q_EMIT UnitTaken(unit);
}

void TEngine::StartWaiting()
{
    // No unit starts while a record is on its way to the store: should it be kept nowhere,
    // nothing would answer for the next unit.
    while (!FWaiting.isEmpty() && FRunning.size() < FPlan.Parallel && FKeeping == 0 && !FFinishing && !FRecordLost) {
        auto* runner = new TUnitRunner(FWaiting.takeFirst(), FPlan.Serials);
        connect(runner, &TUnitRunner::Message, this, &TEngine::UnitMessage);
        connect(runner, &TUnitRunner::Progress, this, &TEngine::UnitProgress);
        connect(runner, &TUnitRunner::Finished, this, &TEngine::RunnerFinished);
        FRunning.append(runner);
        runner->start();
    }
}

void TEngine::RunnerFinished(const TUnitRecord& record)
{
    auto* runner = qobject_cast<TUnitRunner*>(sender());
    if (!FRunning.removeOne(runner))
        return;              // its record was kept already, at a second signal
    runner->deleteLater();   // its thread ends right after this signal
    FFinished.push_back(record);
    const bool succeeded = record.Outcome == TUnitOutcome::Succeeded;
    if (succeeded)
        ++FSucceeded;
    else
        ++FFailedCount;
    if (FScan)
        FAddresses[record.IP] = TAddress{succeeded ? TAddressUse::Written : TAddressUse::Failed, SteadyMs()};
    if (!FPlan.Records) {
        Told(record);
        return;
    }
    // Kept before anyone hears of it, on the records' thread: a closed terminal or a kill
    // while printing must not cost the record, and a slow or locked store must not hold the
    // front end's thread.
    ++FKeeping;
    QMetaObject::invokeMethod(FRecordsContext, [this, record] {
        const TKeepResult kept = KeepNow(record);
        QMetaObject::invokeMethod(
            this,
            [this, record, kept] {
                --FKeeping;
                FKeptAtLast += kept.Kept == TKept::Lost ? 0 : 1;
                Tell(kept);
                Told(record);
            },
            Qt::QueuedConnection);
    });
}

void TEngine::Told(const TUnitRecord& record)
{
    Q_EMIT UnitFinished(record);
    if (FScan && FPlan.Units > 0 && FSucceeded >= FPlan.Units) {
        EndScans();
        DropWaiting();
    }
    StartWaiting();
    EndIfDone();
}

TKeepResult TEngine::KeepNow(const TUnitRecord& record) const
{
    return FPlan.Records->Keep(RecordEntry(record, FPlan.Station, FPlan.Series));
}

void TEngine::DrainRecords()
{
    if (FRecordsThread.isRunning())
        QMetaObject::invokeMethod(
            FRecordsContext, [] {}, Qt::BlockingQueuedConnection);
}

void TEngine::Tell(const TKeepResult& kept)
{
    TellKept(kept, QStringLiteral("; the station stops: no unit starts until its records can be kept"),
             [this](TNoteLevel level, const QString& text) { Q_EMIT Note(level, text); });
    if (kept.Kept == TKept::Lost) {
        FRecordLost = true;
        EndScans();
        DropWaiting();
    }
}

void TEngine::Discovered(const QList<TUnitAddress>& found, qint64 began)
{
    if (!FScanning)
        return;   // ended while the discovery waited
    ForgetSilentAddresses(found, began);
    for (const TUnitAddress& unit : found) {
        if (unit.Nad != -1 || !IsNewUnit(unit, began))
            continue;
        // A unit whose record is on its way is counted among the succeeded already.
        if (FPlan.Units > 0 && FSucceeded + FRunning.size() + FWaiting.size() >= FPlan.Units)
            break;
        FAddresses[unit.IP] = TAddress{TAddressUse::Running, 0};
        FSkipSaid.remove(unit.IP);
        Q_EMIT Note(TNoteLevel::Info, QStringLiteral("fresh unit at ") + unit.IP);
        Take(unit);
    }
    StartWaiting();
}

void TEngine::ForgetSilentAddresses(const QList<TUnitAddress>& found, qint64 began)
{
    QSet<QString> answering;
    for (const TUnitAddress& unit : found)
        answering.insert(unit.IP);
    for (auto it = FAddresses.begin(); it != FAddresses.end();) {
        // A scan begun before the unit there ended may have missed it while it was written.
        if (it->Use != TAddressUse::Running && it->Since < began && !answering.contains(it.key())) {
            FSkipSaid.remove(it.key());
            it = FAddresses.erase(it);
        } else {
            ++it;
        }
    }
}

bool TEngine::IsNewUnit(const TUnitAddress& unit, qint64 began)
{
    const auto use = FAddresses.constFind(unit.IP);
    if (use == FAddresses.cend())
        return true;
    // A fresh answer from a scan begun before the unit there ended was sent before its
    // runner wrote it: it says nothing of the unit there now.
    if (use->Use != TAddressUse::Running && use->Since >= began)
        return false;
    QString why;
    switch (use->Use) {
    case TAddressUse::Running:
        return false;   // still fresh until its runner writes its number
    case TAddressUse::Written:
        // Written with a number, it answers under that number: a fresh unit here is another.
        if (FPlan.Serials)
            return true;
        why = QStringLiteral("written already and left without a serial number");
        break;
    case TAddressUse::Failed:
        why = QStringLiteral("the unit there failed");
        break;
    }
    if (!FSkipSaid.contains(unit.IP)) {
        FSkipSaid.insert(unit.IP);
        Q_EMIT Note(TNoteLevel::Info,
                    QStringLiteral("skipped ") + unit.IP + QStringLiteral(": ") + why +
                        QStringLiteral("; a fresh unit there is taken once the address has been silent for a "
                                       "scan (the unit swapped)"));
    }
    return false;
}

void TEngine::EndScans()
{
    FScanning = false;
    // Its last Found, if one is on its way, is dropped; the thread is joined with the station.
    if (FDiscovery)
        FDiscovery->Stop();
}

void TEngine::DropWaiting()
{
    for (const TUnitJob& job : std::as_const(FWaiting)) {
        Q_EMIT Note(TNoteLevel::Info, QStringLiteral("not started: ") + job.Unit.IP);
        Q_EMIT UnitNotStarted(job.Unit.IP);
    }
    FWaiting.clear();
}

void TEngine::EndIfDone()
{
    if (FEnded || !FStarted || !FRunning.isEmpty() || !FWaiting.isEmpty() || FKeeping > 0 || FScanning)
        return;
    FEnded = true;
    Q_EMIT Ended();
}

#include "Engine.moc"
