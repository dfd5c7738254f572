// Engine: the engine that runs many units at once, for orvel-loader and the station window.
//
//   Scan (station) -> every scan interval, a discovery on a thread of its own -> each fresh
//                     unit (NAD -1) at an address not taken before -> UnitTaken
//   Run (named)    -> the units given -> UnitTaken
//   -> one runner per unit (a thread, a link pinned to the unit), Parallel at a time
//   -> its record kept (the store, else the fallback file) on a records thread of the
//      station's, one at a time and in order, before UnitFinished tells anyone: a closed
//      terminal or a closed window never costs a record, and a slow or locked store never
//      holds the front end's thread
//   Stop -> every runner stops after its request under way, no unit starts, the scans end,
//           every record is kept -> Ended
//   Finish -> no unit starts, the scans end, the runners finish their units, every record is
//             kept -> Ended
//
// The station remembers each address it gave a unit: a fresh unit at the address of one
// written successfully with a serial number is a new unit (that one answers under its
// number now); at the address of one that failed, or of one written without a number, it is
// taken only after the address fell silent for a scan (the unit was swapped).
//
// A record that can be kept nowhere stops the station before the next unit: a unit must not
// be written without a record that answers for it.
//
// Threads: the object lives on its front end's thread and never blocks it; discovery and
// every runner block on sockets of their own, the records thread on the store. Signals
// reach the front end on its thread.
#pragma once

#include "RecordKeeper.h"
#include "SerialCounter.h"
#include "UnitJob.h"
#include "UnitRecord.h"

#include <QDateTime>
#include <QHash>
#include <QList>
#include <QObject>
#include <QSet>
#include <QString>
#include <QThread>

#include <atomic>
#include <memory>
#include <vector>

class TUnitRunner;
class TDiscoveryThread;

// How a line about the whole station reads: "warning: " and "error: " before its text.
enum class TNoteLevel { Info, Warning, Error };

// The line as the operator reads it, in the terminal, the station window and the main window's
// message log alike.
QString NoteLine(TNoteLevel level, const QString& text);

struct TEnginePlan {
    TUnitJob Job;   // every unit's job but its address
    int Parallel = 8;
    int Units = 0;   // Scan: ends once this many units succeeded; 0: when stopped
    uint32_t ScanInterval = 1000;
    uint32_t DiscoveryWait = 200;
    QString Station;   // the station's name in the records
    QString Series;    // the series the numbers come from, as the records name it; empty: none
    // The records: none for operations that write nothing (info, verify, start, stop, dump).
    std::shared_ptr<TRecordKeeper> Records;
    // Where a send's serial numbers come from; none: the job's own inputs.
    std::shared_ptr<TSerialCounter> Serials;
};

// The units that answered a discovery, as TCommunicator::Discover lists them (NADs and
// addresses side by side), each address once: a unit may answer twice.
QList<TUnitAddress> AnsweredUnits(const QStringList& nads, const QStringList& ips);

class TEngine : public QObject {
    Q_OBJECT
public:
    explicit TEngine(TEnginePlan plan, QObject* parent = nullptr);
    // Stops every runner and waits for them, keeping their records, on this thread.
    ~TEngine() override;

    const TEnginePlan& Plan() const { return FPlan; }

    // Watches for fresh units: binds a discovery link to the job's adapter and scans at once,
    // then every scan interval. false, with an Error note and Ended, when the adapter cannot
    // be bound.
    bool Scan();
    // Runs the job on the units given, then ends.
    void Run(const QList<TUnitAddress>& units);
    // Every runner stops after its request under way; no unit starts after this. Ended
    // follows once every record is kept. Safe to call again, and after Ended.
    void Stop();
    // No unit is taken or started after this; the units running go on to the end of their
    // jobs. Ended follows once every record is kept. A Stop meanwhile still interrupts them.
    void Finish();
    // For a process that ends at once (a second signal) right after: waits for the records
    // on their way, and keeps the record of every runner still running as far as it got, on
    // this thread; how many were kept (in the store or the fallback file).
    int KeepRecordsNow();

    // Scan or Run was called, and the station has not ended.
    bool Running() const { return FStarted && !FEnded; }
    bool Stopped() const { return FStopped; }
    bool RecordLost() const { return FRecordLost; }
    int Succeeded() const { return FSucceeded; }
    int Failed() const { return FFailedCount; }
    // Units taken and not yet told finished: waiting, running, or their record on its way.
    int InProgress() const { return int(FRunning.size() + FWaiting.size()) + FKeeping; }
    const std::vector<TUnitRecord>& Finished() const { return FFinished; }

Q_SIGNALS:
    void Note(TNoteLevel level, const QString& text);
    void UnitTaken(const TUnitAddress& unit);
    // A runner's message lines and the progress of its whole operation, in bytes.
    void UnitMessage(const QString& ip, const QDateTime& moment, const QString& text);
    void UnitProgress(const QString& ip, qint64 done, qint64 total);
    // The unit's record, kept already.
    void UnitFinished(const TUnitRecord& record);
    // A unit taken but never started, because the station stopped first: nothing was sent to
    // it, and it has no record.
    void UnitNotStarted(const QString& ip);
    void Ended();

private:
    enum class TAddressUse { Running, Written, Failed };
    struct TAddress {
        TAddressUse Use = TAddressUse::Running;
        qint64 Since = 0;   // when its unit ended (the steady clock, ms)
    };

    void Take(const TUnitAddress& unit);
    void StartWaiting();
    void RunnerFinished(const TUnitRecord& record);
    // The unit's record is kept: UnitFinished, and the next units.
    void Told(const TUnitRecord& record);
    // Keeps the record on the calling thread.
    TKeepResult KeepNow(const TUnitRecord& record) const;
    // What became of a record, for the operator; a record kept nowhere stops the station.
    void Tell(const TKeepResult& kept);
    // Returns once every record on its way is kept.
    void DrainRecords();
    // began: when the scan began; answers sent before a unit there ended are no longer true.
    void Discovered(const QList<TUnitAddress>& found, qint64 began);
    bool IsNewUnit(const TUnitAddress& unit, qint64 began);
    void ForgetSilentAddresses(const QList<TUnitAddress>& found, qint64 began);
    // No scan follows; the discovery's thread ends within the link's stop check.
    void EndScans();
    // Every unit taken and not started is dropped, and told.
    void DropWaiting();
    void EndIfDone();

    const TEnginePlan FPlan;
    std::unique_ptr<TDiscoveryThread> FDiscovery;
    QThread FRecordsThread;
    QObject* FRecordsContext = nullptr;   // lives on FRecordsThread
    int FKeeping = 0;                     // records on their way to the store
    int FKeptAtLast = 0;                  // records kept from the records thread (store or fallback file)
    QList<TUnitJob> FWaiting;
    QList<TUnitRunner*> FRunning;
    std::vector<TUnitRecord> FFinished;
    QHash<QString, TAddress> FAddresses;   // Scan: the addresses it gave a unit
    QSet<QString> FSkipSaid;               // Scan: addresses whose skip was said
    int FSucceeded = 0;
    int FFailedCount = 0;
    bool FStarted = false;
    bool FScan = false;       // watching for fresh units
    bool FScanning = false;   // and the scans go on
    bool FStopped = false;
    bool FFinishing = false;   // no unit starts: after Finish or Stop
    bool FRecordLost = false;
    bool FEnded = false;
};
