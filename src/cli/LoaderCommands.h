// LoaderCommands: one run of orvel-loader over unit runners.
//
//   options -> bind a discovery link to the adapter -> discover -> the units named (NADs,
//   addresses, --fresh, --all) -> one job per unit -> runners, P at a time -> console
//   station: discover again every scan interval; every fresh unit not seen before gets the
//   send, until the units asked for are done or the run is interrupted
//
// The discovery link lives on the main thread; each runner has its own link on its own
// thread. Ctrl-C stops every runner after its request under way, starts no more, and the
// summary says per unit what was written.
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
#include <QList>
#include <QObject>
#include <QSet>
#include <QTimer>

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
    // Stops the run as Ctrl-C does.
    void Interrupt();

private:
    bool OpenRecords();
    void KeepRecord(const TUnitRecord& record);
    bool Discover(QList<TUnitAddress>& found);
    QList<TUnitAddress> Chosen(const QList<TUnitAddress>& found);
    TUnitJob JobFor(const TUnitAddress& unit) const;
    void Queue(const TUnitAddress& unit);
    void StartWaiting();
    void RunnerFinished(const TUnitRecord& record);
    void Scan();
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
    QSet<QString> FSeen;   // station: units given a job already, by address
    int FSucceeded = 0;
    bool FFailed = false;   // a unit failed, or a named unit did not answer
    bool FInterrupted = false;
    bool FRecordLost = false;   // a record could be kept nowhere: no unit is started after it
    bool FScanning = false;
    QTimer FScanTimer;
    QEventLoop FLoop;
};
