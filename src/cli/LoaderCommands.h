// LoaderCommands: one run of orvel-loader over the engine.
//
//   options -> (send, station) open the record store -> station: the engine watches for
//   fresh units; other commands: discover once, the units named (NADs, addresses, --fresh,
//   --all) -> the engine runs one job per unit, P at a time -> console
//
// The first signal (INT, TERM, HUP) stops every runner after its request under way, starts
// no more, and the summary says per unit what was written; a second ends the run at once,
// keeping a record of every unit as far as its runner got.
#pragma once

#include "LoaderConsole.h"
#include "LoaderOptions.h"
#include "Engine.h"

#include <QEventLoop>
#include <QList>
#include <QObject>

#include <atomic>
#include <memory>

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
    // ExitOk, or the exit code of a store that cannot serve the run.
    int OpenRecords(TEnginePlan& plan);
    [[noreturn]] void EndNow();
    void Connect(TEngine& station);
    void Note(TNoteLevel level, const QString& text);
    // The units that answered a discovery and were named; false when the adapter cannot be
    // bound. A signal ends the discovery's wait.
    bool DiscoverNamed(QList<TUnitAddress>& chosen);
    QList<TUnitAddress> Chosen(const QList<TUnitAddress>& found);
    TEnginePlan Plan() const;
    int ExitCode() const;

    const TLoaderOptions FOptions;
    TLoaderConsole& FConsole;
    std::shared_ptr<TSerialCounter> FNumbers;   // --serial, --autoincrement
    std::unique_ptr<TEngine> FEngine;
    std::atomic<bool> FStop{false};   // ends the discovery's wait
    bool FFailed = false;             // a named unit did not answer
    bool FInterrupted = false;
    int FSignal = 0;   // the first signal that came
    QEventLoop FLoop;
};
