// UnitJob: one unit's work for the production station and the command-line loader, a plain
// value taken once when the work is planned. Nothing a front end does afterwards reaches it.
//
//   front end -> TUnitJob -> TUnitRunner (a thread, a link pinned to the unit's address and a
//   loader session of its own) -> the same send, verify, start/stop and dump sequences as the
//   window's -> TUnitRecord
#pragma once

#include "LoaderSession.h"

#include <QString>

#include <cstdint>

enum class TUnitOperation { Info, Send, Verify, StartPlc, StopPlc, DumpKernel, DumpProgram };

// A unit as discovery found it. Fresh units all answer to NAD -1, so the address tells
// them apart.
struct TUnitAddress {
    QString IP;
    int32_t Nad = -1;
};

struct TUnitJob {
    TUnitAddress Unit;
    TUnitOperation Operation = TUnitOperation::Info;
    TJob What;              // what the unit is to get, for send and verify
    TLoadedImages Images;   // the job's files as loaded
    QString DumpPath;       // where a dump is written
    TLinkOptions Link;
    QString ProductionLogPath;
    QString Recipe;   // the name of the recipe the job came from; empty: none
};
