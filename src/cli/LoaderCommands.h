// LoaderCommands: one run of orvel-loader over unit runners.
//
//   options -> bind a discovery link to the adapter -> discover -> the units named (NADs,
//   addresses, --fresh, --all) -> one job per unit -> runners, P at a time -> console
//   station: discover again every scan interval; every fresh unit not seen before gets the
//   send, until the units asked for are done or the run is interrupted
//
// The discovery link lives on the main thread; each runner has its own link on its own
// thread. The first signal (INT, TERM, HUP) stops every runner after its request under way,
// starts no more, and the summary says per unit what was written; a second ends the run at
// once, keeping a record of every unit as far as its runner got.
//
// The station remembers each address it gave a unit: a fresh unit at the address of one
// written successfully is a new unit (that one answers under its number now); at the address
// of one that failed, or of one written without a number, it is taken only after the address
// fell silent for a scan (the unit was swapped).
//
// send and station open the record store before anything is sent, and keep every unit's
// record there as its runner finishes (on this thread), or in the store's fallback file while
// the store cannot take it. A record that can be kept in neither stops the run before the
// next unit: a unit must not be written without a record that answers for it.
#pragma once

#include "LoaderConsole.h"
#include "LoaderOptions.h"
#include "RecordKeeper.h"
#include "SerialCounter.h"
#include "UnitRunner.h"

#include <QEventLoop>
#include <QHash>
#include <QList>
#include <QObject>
#include <QSet>
#include <QTimer>

#include <atomic>
#include <memory>
#include <vector>

class TCommunicator;

class TLoaderRun : public QObject {
    Q_OBJECT
public:
    TLoaderRun(TLoaderOptions options, TLoaderConsole& console);
    ~TLoaderRun() override;

    // Runs the command to its end; the exit code.
    int Exec();
    // The first signal stops the run as Ctrl-C does; a second ends it at once (EndNow).
    void Interrupt(int signal);

private:
    // What the station knows of an address it gave a unit.
    enum class TAddressUse { Running, Written, Failed };

    // ExitOk, or the exit code of a store that cannot serve the run.
    int OpenRecords();
    bool SeriesExists(int& exitCode);
    [[noreturn]] void EndNow();
    void KeepRecord(const TUnitRecord& record);
    bool Discover(QList<TUnitAddress>& found);
    QList<TUnitAddress> Chosen(const QList<TUnitAddress>& found);
    TUnitJob JobFor(const TUnitAddress& unit) const;
    void Queue(const TUnitAddress& unit);
    void StartWaiting();
    void RunnerFinished(const TUnitRecord& record);
    void Scan();
    // Station: whether a fresh unit found at its address is one to write now; says once per
    // unit when it is not, and why.
    bool IsNewUnit(const TUnitAddress& unit);
    void ForgetSilentAddresses(const QList<TUnitAddress>& found);
    bool Ended() const;
    int ExitCode() const;

    const TLoaderOptions FOptions;
    TLoaderConsole& FConsole;
    std::unique_ptr<TCommunicator> FDiscovery;
    std::shared_ptr<TSerialCounter> FSerials;
    std::unique_ptr<TRecordKeeper> FRecords;   // send and station
    QList<TUnitJob> FWaiting;
    QList<TUnitRunner*> FRunning;
    std::vector<TUnitRecord> FFinished;
    QHash<QString, TAddressUse> FAddresses;   // station: the addresses it gave a unit
    QSet<QString> FSkipSaid;                  // station: addresses whose skip was said
    std::atomic<bool> FStop{false};           // ends the discovery's wait
    int FSucceeded = 0;
    bool FFailed = false;   // a unit failed, or a named unit did not answer
    bool FInterrupted = false;
    int FSignal = 0;            // the first signal that came
    bool FRecordLost = false;   // a record could be kept nowhere: no unit is started after it
    bool FScanning = false;
    QTimer FScanTimer;
    QEventLoop FLoop;
};
