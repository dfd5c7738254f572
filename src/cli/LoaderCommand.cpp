#include "LoaderCommand.h"

#include <algorithm>
#include <iterator>

namespace {

const TCommandInfo CommandTable[] = {
    {TCommand::Discover, "discover", "", "List every unit that answers on the adapter.", TakesListing,
     TUnitOperation::Info},
    {TCommand::Info, "info", "NAD|IP...", "Show what the units report about themselves.", TakesUnits | TakesListing,
     TUnitOperation::Info},
    {TCommand::Send, "send", "NAD|IP...", "Write serial number, kernel, program and settings into the units.",
     TakesUnits | TakesImages | TakesSerials, TUnitOperation::Send},
    {TCommand::Verify, "verify", "NAD|IP...", "Compare the units with the files and settings, writing nothing.",
     TakesUnits | TakesImages, TUnitOperation::Verify},
    {TCommand::Start, "start", "NAD|IP...", "Start the PLC program.", TakesUnits, TUnitOperation::StartPlc},
    {TCommand::Stop, "stop", "NAD|IP...", "Stop the PLC program.", TakesUnits, TUnitOperation::StopPlc},
    {TCommand::Dump, "dump", "kernel|program NAD|IP", "Save the unit's kernel or program memory into a file (-o).",
     TakesUnits, TUnitOperation::DumpKernel},
    {TCommand::Station, "station", "", "Production: give every fresh unit that appears the send, several at a time.",
     TakesImages | TakesSerials, TUnitOperation::Send},
    {TCommand::Serials, "serials", "set|show|ledger",
     "Set or show the next number of a serial number series in the record store, or list every number given.",
     TakesStoreOnly, TUnitOperation::Info},
    {TCommand::Records, "records", "",
     "List the units' records from the record store: a table, or --csv or --json to export.", TakesStoreOnly,
     TUnitOperation::Info},
};

}   // namespace

std::span<const TCommandInfo> Commands()
{
    return CommandTable;
}

const TCommandInfo& CommandInfo(TCommand command)
{
    return *std::find_if(std::begin(CommandTable), std::end(CommandTable),
                         [command](const TCommandInfo& info) { return info.Command == command; });
}

const TCommandInfo* FindCommand(const QString& name)
{
    for (const TCommandInfo& info : CommandTable) {
        if (name == QLatin1String(info.Name))
            return &info;
    }
    return nullptr;
}

QString CommandName(TCommand command)
{
    return QLatin1String(CommandInfo(command).Name);
}

bool Takes(TCommand command, TTakes what)
{
    return (CommandInfo(command).Takes & what) != 0;
}
