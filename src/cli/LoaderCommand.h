// LoaderCommand: orvel-loader's commands and one table of what each takes (units, image
// files and settings, serial numbers and the record store), what it does to a unit and how
// help names it. Everything that tells the commands apart asks this table.
#pragma once

#include "UnitJob.h"

#include <QString>

#include <span>

enum class TCommand { Discover, Info, Send, Verify, Start, Stop, Dump, Station, Serials, Records };

// What a command takes; a command takes the sum of its flags.
enum TTakes : unsigned {
    TakesUnits = 1,       // units named: NADs, IP addresses, --fresh, --all
    TakesImages = 2,      // image files and unit settings, compared with the units
    TakesSerials = 4,     // writes units: serial numbers, a recipe, the production log, the store
    TakesStoreOnly = 8,   // the record store alone: no adapter, no unit
    TakesListing = 16,    // prints what the units report instead of messages and a summary
};

struct TCommandInfo {
    TCommand Command;
    const char* Name;
    const char* Arguments;   // the positional arguments as help shows them
    const char* Summary;
    unsigned Takes;
    TUnitOperation Operation;   // dump: the positional argument chooses
};

const TCommandInfo& CommandInfo(TCommand command);
// The command of that name; nothing for an unknown one.
const TCommandInfo* FindCommand(const QString& name);
QString CommandName(TCommand command);
bool Takes(TCommand command, TTakes what);
// Every command, in the order help lists them.
std::span<const TCommandInfo> Commands();
