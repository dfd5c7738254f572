// LoaderOptions: the command line of orvel-loader, read and checked before anything is
// sent. Every option is named after the window's input it stands for; every bad value is
// refused in words that name it (exit code 2). The commands are in LoaderCommand, their
// options in OptionTable, the reading of each family of commands in OptionReader.
#pragma once

#include "LoaderCommand.h"
#include "RecordStore.h"
#include "UnitJob.h"

#include <QString>
#include <QStringList>

#include <cstdint>
#include <optional>

enum TExitCode : int {
    ExitOk = 0,
    ExitUnitFailed = 1,
    ExitBadInput = 2,
    ExitNoUnit = 3,
    ExitStore = 4,
    // Ended by a signal, as shells report it: 128 + the signal's number.
    ExitHangUp = 129,        // SIGHUP: the terminal closed
    ExitInterrupted = 130,   // SIGINT: Ctrl-C
    ExitTerminated = 143,    // SIGTERM
};

// A unit named on the command line.
struct TTargetChoice {
    QStringList IPs;
    QList<int32_t> Nads;
    bool Fresh = false;   // every unit without serial number that answers
    bool All = false;
};

// What orvel-loader takes from its environment.
struct TLoaderEnvironment {
    QString Password;   // ORVEL_PASSWORD
    QString Records;    // ORVEL_RECORDS
};

struct TLoaderOptions {
    TCommand Command = TCommand::Info;
    TTargetChoice Targets;
    TLinkOptions Link;   // the adapter resolved to its name
    uint32_t DiscoveryWait = 200;
    bool Json = false;
    TUnitOperation Operation = TUnitOperation::Info;
    TJob Job;   // send, verify and station
    TLoadedImages Images;
    QString DumpPath;
    QString ProductionLogPath;
    int Parallel = 8;
    int Units = 0;   // station: stop after this many units; 0: until interrupted
    uint32_t ScanInterval = 1000;
    // The record store: --records or ORVEL_RECORDS; empty: the default SQLite file.
    QString Records;
    QString Station;   // send and station: --station, else the host name
    QString Series;    // serials and records: the series named
    QString Recipe;    // send and station: the name of the recipe (--recipe) the run follows; empty: none
    // serials: "set" or "show"; set gives NextSerial to Series ("default" unless named)
    QString SerialsAction;
    int64_t NextSerial = 0;
    // records
    TRecordFilter Filter;
    bool Csv = false;
};

struct TParsedCommandLine {
    TLoaderOptions Options;
    int ExitCode = ExitOk;   // ExitOk: run Options; otherwise print Text and end with it
    QString Text;            // the help text, or why the command line was refused
    bool Done() const { return ExitCode != ExitOk || !Text.isEmpty(); }
};

// arguments without the program name.
TParsedCommandLine ParseLoaderCommandLine(const QStringList& arguments, const TLoaderEnvironment& environment);
