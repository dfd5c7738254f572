#include "OptionTable.h"

#include <QRegularExpression>

#include <limits>

namespace {

constexpr unsigned Bits(std::initializer_list<TCommand> commands)
{
    unsigned bits = 0;
    for (const TCommand command : commands)
        bits |= CommandBit(command);
    return bits;
}

constexpr unsigned StoreOnly = Bits({TCommand::Serials, TCommand::Records});
constexpr unsigned AllCommands = (CommandBit(TCommand::Records) << 1) - 1;
constexpr unsigned Reaching = AllCommands & ~StoreOnly;
constexpr unsigned Targets = Bits(
    {TCommand::Info, TCommand::Send, TCommand::Verify, TCommand::Start, TCommand::Stop, TCommand::Dump});
constexpr unsigned Writing = Bits({TCommand::Send, TCommand::Station});
constexpr unsigned Comparing = Writing | CommandBit(TCommand::Verify);
constexpr unsigned Station = CommandBit(TCommand::Station);
constexpr unsigned Serials = CommandBit(TCommand::Serials);
constexpr unsigned Records = CommandBit(TCommand::Records);

constexpr int64_t Int32Max = std::numeric_limits<int32_t>::max();

const TChoices ModelChoices{HardwareModels, "hardware model", ""};
const TChoices BaudRateChoices{IEXBaudRates, "IEX baud rate", "kbps"};

// In the order help lists them. The store commands reach no unit; they take the link
// options all the same, unlisted, so that a script may give every command the same ones.
const TOptionDeclaration Options[] = {
    {"adapter", "NAME|IP", "Network adapter, by name or address (default: the one carrying this host's address).",
     Reaching, StoreOnly},
    {"port", "N", "Controller UDP port (default 8442).", Reaching, StoreOnly, TRange{1, 65535}},
    {"password-file", "FILE", "File whose first line is the controllers' password.", Reaching, StoreOnly},
    {"timeout", "MS", "Reply time-out of each attempt in ms (default 1000).", Reaching, StoreOnly, TRange{1, 600000}},
    {"attempts", "N", "Sends of one request at most (default 8).", Reaching, StoreOnly, TRange{1, 100}},
    {"wait", "MS", "How long discovery collects answers, in ms (default 200).", Reaching, StoreOnly, TRange{1, 60000}},
    {"json", "", "JSON lines only: one event per line, one result per unit.", Reaching},
    {"json", "", "JSON lines: one object per line.", StoreOnly},
    {"records", "URL|FILE",
     "Record store: an SQLite file, or postgresql://user@host:port/database (default: ORVEL_RECORDS, else the "
     "SQLite file in the user's data folder).",
     Writing | StoreOnly},
    {"fresh", "", "Every unit without serial number that answers.", Targets},
    {"all", "", "Every unit that answers.", Targets},
    {"parallel", "P", "Units at a time (default 8).", Targets, 0, TRange{1, 64}},
    {"kernel", "FILE", "Kernel image file (.bin).", Comparing},
    {"program", "FILE", "PLC program image file (.bin).", Comparing},
    {"nad-alias", "N",
     "NAD alias (0: none); one unit's: a send to several units (station, --fresh, --all) refuses another.", Comparing},
    {"model", "NAME", "Hardware model: %1.", Comparing, 0, std::nullopt, &ModelChoices},
    {"iex-baud", "RATE", "IEX baud rate: %1.", Comparing, 0, std::nullopt, &BaudRateChoices},
    {"dhcp", "", "IP configuration by DHCP.", Comparing},
    {"ip", "IP",
     "Static IP address; one unit's: a send to several units (station, --fresh, --all) refuses it (use --dhcp).",
     Comparing},
    {"mask", "IP", "Subnet mask of the static address.", Comparing},
    {"gateway", "IP", "Gateway (default 0.0.0.0: none).", Comparing},
    {"dns", "IP", "DNS server (default 0.0.0.0: none).", Comparing},
    {"series", "NAME",
     "Serial numbers from this series of the record store, each taken when its unit is about to receive it; the "
     "window's setting is not used.",
     Writing},
    {"serial", "N",
     "Serial number for the first fresh unit; the next units get the following numbers (not with a store named by "
     "--records or ORVEL_RECORDS).",
     Writing},
    {"no-serial", "",
     "Write no serial number: the units stay fresh (a station, --fresh and --all need this or a source of numbers).",
     Writing},
    {"autoincrement", "",
     "Go on from the serial number the window keeps, and keep the next one there (not with a store named by "
     "--records or ORVEL_RECORDS).",
     Writing},
    {"station", "NAME", "Station name in the records (default: the host name).", Writing},
    {"start-plc", "", "Start the PLC program after the send.", Writing},
    {"set-rtc", "", "Set the unit's clock after the send.", Writing},
    {"verify", "", "Read everything back after the send.", Writing},
    {"log", "FILE", "Production log file (default: the window's).", Writing},
    {"parallel", "P", "Units at a time (default 8).", Station, 0, TRange{1, 64}},
    {"units", "K", "Stop after this many units (default: until Ctrl-C).", Station, 0,
     TRange{0, std::numeric_limits<int>::max()}},
    {"scan", "MS", "Time between two looks for new units, in ms (default 1000).", Station, 0, TRange{100, 600000}},
    {"o,output", "FILE", "The dump file.", CommandBit(TCommand::Dump)},
    {"series", "NAME", "The series (default \"default\"; show and ledger: every series).", Serials},
    {"next", "N",
     "set: the series' next number, above every number it gave already and not given already by any "
     "source.",
     Serials, 0, TRange{1, Int32Max}},
    {"since", "DATE", "ledger: numbers given at or after this local date or time (2026-03-02, 2026-03-02T14:30).",
     Serials},
    {"serial", "N", "The unit with this serial number, or the one it was taken for: everything that went into it.",
     Records, 0, TRange{1, Int32Max}},
    {"since", "DATE", "Units started at or after this local date or time (2026-03-02, 2026-03-02T14:30).", Records},
    {"failed", "", "Only units that failed or were interrupted.", Records},
    {"station", "NAME", "Only units of this station.", Records},
    {"recipe", "NAME", "Only units whose job came from the recipe of this name: which units got a release.", Records},
    {"csv", "", "Comma-separated values with a header line.", Records},
    // Known to every command, so that the others refuse it in words of their own.
    {"recipe", "FILE",
     "Recipe file: its kernel and program (each refused when it changed since the recipe was saved), settings, "
     "--verify and series. Options given here override single fields: --kernel FILE takes that file unchecked (the "
     "records then name the recipe \"NAME (kernel replaced)\"), --no-serial or --serial N replace the series.",
     Writing, AllCommands & ~Writing & ~Records, std::nullopt, nullptr,
     "--recipe goes with send and station (a recipe file) and records (a recipe's name) only"},
};

const TExclusion Exclusions[] = {
    {Comparing,
     "dhcp",
     {QStringLiteral("ip"), QStringLiteral("mask"), QStringLiteral("gateway"), QStringLiteral("dns")},
     "--dhcp goes with none of --ip, --mask, --gateway and --dns"},
    {Writing,
     "no-serial",
     {QStringLiteral("series"), QStringLiteral("serial"), QStringLiteral("autoincrement")},
     "--no-serial goes with none of --series, --serial and --autoincrement"},
    {Writing,
     "series",
     {QStringLiteral("serial"), QStringLiteral("autoincrement")},
     "--series goes with neither --serial nor --autoincrement"},
    {Records, "csv", {QStringLiteral("json")}, "--csv or --json, not both"},
};

bool TakenBy(const TOptionDeclaration& option, TCommand command)
{
    return ((option.Listed | option.Unlisted) & CommandBit(command)) != 0;
}

QStringList NamesOf(const TOptionDeclaration& option)
{
    return QString::fromLatin1(option.Names).split(u',');
}

QString HelpOf(const TOptionDeclaration& option)
{
    const QString help = QLatin1String(option.Help);
    return option.Choices ? help.arg(ChoicesInWords(*option.Choices)) : help;
}

}   // namespace

std::optional<qlonglong> DecimalNumber(const QString& text)
{
    static const QRegularExpression decimal(QStringLiteral("^-?[0-9]{1,18}$"));
    if (!decimal.match(text).hasMatch())
        return std::nullopt;
    return text.toLongLong();
}

const TOptionDeclaration* FindOption(TCommand command, const QString& name)
{
    for (const TOptionDeclaration& option : Options) {
        if (TakenBy(option, command) && NamesOf(option).contains(name))
            return &option;
    }
    return nullptr;
}

void AddOptions(QCommandLineParser& parser, TCommand command)
{
    parser.addHelpOption();
    for (const TOptionDeclaration& declaration : Options) {
        if (!TakenBy(declaration, command))
            continue;
        QCommandLineOption option(NamesOf(declaration), HelpOf(declaration), QLatin1String(declaration.ValueName));
        if ((declaration.Listed & CommandBit(command)) == 0)
            option.setFlags(QCommandLineOption::HiddenFromHelp);
        parser.addOption(option);
    }
}

QString DeclaredRefusal(const QCommandLineParser& parser, TCommand command)
{
    const auto given = [&parser, command](const TOptionDeclaration& option) {
        return TakenBy(option, command) && parser.isSet(NamesOf(option).last());
    };
    for (const TOptionDeclaration& option : Options) {
        if (given(option) && option.Refusal && (option.Unlisted & CommandBit(command)) != 0)
            return QLatin1String(option.Refusal);
    }
    for (const TOptionDeclaration& option : Options) {
        if (!given(option) || !option.Range)
            continue;
        const QString name = NamesOf(option).last();
        const std::optional<qlonglong> number = DecimalNumber(parser.value(name));
        if (!number || *number < option.Range->Low || *number > option.Range->High)
            return QStringLiteral("--") + name + QStringLiteral(" takes a whole number from ") +
                   QString::number(option.Range->Low) + QStringLiteral(" to ") + QString::number(option.Range->High) +
                   QStringLiteral(", not \"") + parser.value(name) + u'"';
    }
    for (const TExclusion& exclusion : Exclusions) {
        if ((exclusion.Commands & CommandBit(command)) == 0 || !parser.isSet(QLatin1String(exclusion.Option)))
            continue;
        for (const QString& other : exclusion.Others) {
            if (parser.isSet(other))
                return QLatin1String(exclusion.Text);
        }
    }
    return QString();
}

int ChoiceIndex(const TChoices& choices, const QString& text)
{
    const QString unit = QLatin1String(choices.Unit);
    return NameIndex(choices.Table, text.endsWith(unit, Qt::CaseInsensitive) ? text : text + unit);
}

QString ChoicesInWords(const TChoices& choices)
{
    QStringList names = Names(choices.Table);
    const QString unit = QLatin1String(choices.Unit);
    if (unit.isEmpty())
        return NamesInWords(names);
    for (QString& name : names)
        name.chop(unit.size());
    return NamesInWords(names) + u' ' + unit;
}
