#include "LoaderOptions.h"

#include "ConfigHeader.h"
#include "IntegerText.h"
#include "ImageFiles.h"
#include "ProductionLog.h"
#include "Recipe.h"
#include "SettingsStore.h"
#include "Station.h"
#include "uABus.h"
#include "uEthernetUtils.h"

#include <QCommandLineParser>
#include <QDir>
#include <QSysInfo>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTextStream>

#include <algorithm>
#include <limits>

namespace {

const QString Program = QStringLiteral("orvel-loader");

// A number on the command line: decimal digits, a minus sign at most before them, nothing
// else (no blanks, no hexadecimal), so that a slip of the keyboard is never read as a number.
std::optional<qlonglong> DecimalNumber(const QString& text)
{
    static const QRegularExpression decimal(QStringLiteral("^-?[0-9]{1,18}$"));
    if (!decimal.match(text).hasMatch())
        return std::nullopt;
    return text.toLongLong();
}

struct TCommandInfo {
    const char* Name;
    const char* Arguments;   // the positional arguments as help shows them
    const char* Summary;
};

const TCommandInfo Commands[] = {
    {"discover", "", "List every unit that answers on the adapter."},
    {"info", "NAD|IP...", "Show what the units report about themselves."},
    {"send", "NAD|IP...", "Write serial number, kernel, program and settings into the units."},
    {"verify", "NAD|IP...", "Compare the units with the files and settings, writing nothing."},
    {"start", "NAD|IP...", "Start the PLC program."},
    {"stop", "NAD|IP...", "Stop the PLC program."},
    {"dump", "kernel|program NAD|IP", "Save the unit's kernel or program memory into a file (-o)."},
    {"station", "", "Production: give every fresh unit that appears the send, several at a time."},
    {"serials", "set|show|ledger",
     "Set or show the next number of a serial number series in the record store, or list every number given."},
    {"records", "", "List the units' records from the record store: a table, or --csv or --json to export."},
};

const TCommandInfo* FindCommand(const QString& name)
{
    for (const TCommandInfo& command : Commands) {
        if (name == QLatin1String(command.Name))
            return &command;
    }
    return nullptr;
}

QString ProgramHelp()
{
    QString text = QStringLiteral(
                       "Usage: %1 COMMAND [options]\n\n"
                       "Finds Orvel controllers on one network adapter and writes, verifies, starts, stops and\n"
                       "dumps them, several units at once. Everything the window does for one unit, scriptable.\n\n"
                       "Commands:\n")
                       .arg(Program);
    for (const TCommandInfo& command : Commands)
        text += QStringLiteral("  %1 %2\n      %3\n")
                    .arg(QLatin1String(command.Name), QLatin1String(command.Arguments), QLatin1String(command.Summary));
    text += QStringLiteral(
                "\n'%1 COMMAND --help' lists the options of a command.\n\n"
                "The password comes from --password-file FILE or the environment variable ORVEL_PASSWORD,\n"
                "never from the command line.\n\n"
                "Every unit a send or the station writes gets a record in the record store: an SQLite file\n"
                "in the user's data folder unless --records or the environment variable ORVEL_RECORDS names\n"
                "another file or a PostgreSQL database (postgresql://user@host:port/database) that several\n"
                "stations share. Serial numbers come from one source: --series NAME takes each from that\n"
                "series of the store when its unit is about to receive it (the window's SerialNumber\n"
                "setting is then neither read nor changed); --serial N counts from N for this run;\n"
                "--autoincrement goes on from the window's setting. With a store named by --records or\n"
                "ORVEL_RECORDS, only --series may give serial numbers. The station, --fresh and --all need\n"
                "one of them, or --no-serial to write none: a unit left without a number stays fresh, and\n"
                "would be taken for a new unit and written again.\n\n"
                "--recipe FILE gives send and station the files, settings, --verify and series a line lead\n"
                "saved: each file is refused (exit 2, before anything is sent) when it changed since the\n"
                "recipe was saved. An option given as well overrides its own field: --kernel FILE takes that\n"
                "file unchecked, --series, --serial, --autoincrement or --no-serial replace the recipe's\n"
                "series. Every unit's record names the recipe; 'records --recipe NAME' lists its units.\n\n"
                "A static --ip or a --nad-alias other than 0 is one unit's: the station, --fresh, --all\n"
                "and several units named refuse them (use --dhcp, or send to one unit at a time).\n\n"
                "The station takes a fresh unit at an address it wrote before as a new unit when the one\n"
                "before was written successfully (it answers under its number now); after a unit that\n"
                "failed there, only once that address fell silent for a scan (the unit was swapped). It\n"
                "says once per unit when it skips one, and why.\n\n"
                "Exit codes: 0 every unit succeeded; 1 at least one unit failed; 2 bad usage or bad input\n"
                "(said before anything is sent, an unknown --series too); 3 no unit answered or the\n"
                "adapter could not be bound; 4 the record store could not be opened or refused, or a\n"
                "record could be kept neither in it nor in its fallback file (the run stops before the\n"
                "next unit); 130 interrupted by Ctrl-C (SIGINT), 143 by SIGTERM, 129 by SIGHUP (the\n"
                "terminal closed): each unit stops after its request under way and its record is kept;\n"
                "a second signal ends the run at once, keeping a record of every unit as far as it got.\n"
                "A closed output (| head) loses the output, never the run.\n")
                .arg(Program);
    return text;
}

// serials and records work on the record store alone and send nothing.
bool UsesStoreOnly(const QString& command)
{
    return command == QLatin1String("serials") || command == QLatin1String("records");
}

bool TakesTargets(const QString& command)
{
    return command != QLatin1String("discover") && command != QLatin1String("station") && !UsesStoreOnly(command);
}

bool WritesUnits(const QString& command)
{
    return command == QLatin1String("send") || command == QLatin1String("station");
}

bool ComparesUnits(const QString& command)
{
    return WritesUnits(command) || command == QLatin1String("verify");
}

void AddOptions(QCommandLineParser& parser, const QString& command)
{
    parser.addHelpOption();
    // The store commands reach no unit; they take the link options all the same, unlisted,
    // so that a script may give every command the same ones.
    for (QCommandLineOption option : std::initializer_list<QCommandLineOption>{
             {QStringLiteral("adapter"),
              QStringLiteral("Network adapter, by name or address (default: the one carrying this host's address)."),
              QStringLiteral("NAME|IP")},
             {QStringLiteral("port"), QStringLiteral("Controller UDP port (default 8442)."), QStringLiteral("N")},
             {QStringLiteral("password-file"), QStringLiteral("File whose first line is the controllers' password."),
              QStringLiteral("FILE")},
             {QStringLiteral("timeout"), QStringLiteral("Reply time-out of each attempt in ms (default 1000)."),
              QStringLiteral("MS")},
             {QStringLiteral("attempts"), QStringLiteral("Sends of one request at most (default 8)."),
              QStringLiteral("N")},
             {QStringLiteral("wait"), QStringLiteral("How long discovery collects answers, in ms (default 200)."),
              QStringLiteral("MS")},
         }) {
        if (UsesStoreOnly(command))
            option.setFlags(QCommandLineOption::HiddenFromHelp);
        parser.addOption(option);
    }
    parser.addOption(
        {QStringLiteral("json"), UsesStoreOnly(command)
                                     ? QStringLiteral("JSON lines: one object per line.")
                                     : QStringLiteral("JSON lines only: one event per line, one result per unit.")});
    if (WritesUnits(command) || UsesStoreOnly(command))
        parser.addOption({QStringLiteral("records"),
                          QStringLiteral("Record store: an SQLite file, or postgresql://user@host:port/database "
                                         "(default: ORVEL_RECORDS, else the SQLite file in the user's data folder)."),
                          QStringLiteral("URL|FILE")});
    if (TakesTargets(command)) {
        parser.addOptions({
            {QStringLiteral("fresh"), QStringLiteral("Every unit without serial number that answers.")},
            {QStringLiteral("all"), QStringLiteral("Every unit that answers.")},
            {QStringLiteral("parallel"), QStringLiteral("Units at a time (default 8)."), QStringLiteral("P")},
        });
    }
    if (ComparesUnits(command)) {
        parser.addOptions({
            {QStringLiteral("kernel"), QStringLiteral("Kernel image file (.bin)."), QStringLiteral("FILE")},
            {QStringLiteral("program"), QStringLiteral("PLC program image file (.bin)."), QStringLiteral("FILE")},
            {QStringLiteral("nad-alias"),
             QStringLiteral("NAD alias (0: none); one unit's: a send to several units (station, --fresh, --all) "
                            "refuses another."),
             QStringLiteral("N")},
            {QStringLiteral("model"), QStringLiteral("Hardware model: Orvel-J, Orvel-K or Orvel-L."),
             QStringLiteral("NAME")},
            {QStringLiteral("iex-baud"), QStringLiteral("IEX baud rate: 20, 50, 100, 250 or 500 kbps."),
             QStringLiteral("RATE")},
            {QStringLiteral("dhcp"), QStringLiteral("IP configuration by DHCP.")},
            {QStringLiteral("ip"),
             QStringLiteral("Static IP address; one unit's: a send to several units (station, --fresh, --all) refuses "
                            "it (use --dhcp)."),
             QStringLiteral("IP")},
            {QStringLiteral("mask"), QStringLiteral("Subnet mask of the static address."), QStringLiteral("IP")},
            {QStringLiteral("gateway"), QStringLiteral("Gateway (default 0.0.0.0: none)."), QStringLiteral("IP")},
            {QStringLiteral("dns"), QStringLiteral("DNS server (default 0.0.0.0: none)."), QStringLiteral("IP")},
        });
    }
    if (WritesUnits(command)) {
        parser.addOptions({
            {QStringLiteral("series"),
             QStringLiteral("Serial numbers from this series of the record store, each taken when its unit is about to "
                            "receive it; the window's setting is not used."),
             QStringLiteral("NAME")},
            {QStringLiteral("serial"),
             QStringLiteral("Serial number for the first fresh unit; the next units get the following numbers (not "
                            "with a store named by --records or ORVEL_RECORDS)."),
             QStringLiteral("N")},
            {QStringLiteral("no-serial"),
             QStringLiteral("Write no serial number: the units stay fresh (a station, --fresh and --all need this or "
                            "a source of numbers).")},
            {QStringLiteral("autoincrement"),
             QStringLiteral("Go on from the serial number the window keeps, and keep the next one there (not with a "
                            "store named by --records or ORVEL_RECORDS).")},
            {QStringLiteral("station"), QStringLiteral("Station name in the records (default: the host name)."),
             QStringLiteral("NAME")},
            {QStringLiteral("start-plc"), QStringLiteral("Start the PLC program after the send.")},
            {QStringLiteral("set-rtc"), QStringLiteral("Set the unit's clock after the send.")},
            {QStringLiteral("verify"), QStringLiteral("Read everything back after the send.")},
            {QStringLiteral("log"), QStringLiteral("Production log file (default: the window's)."),
             QStringLiteral("FILE")},
        });
    }
    if (command == QLatin1String("station")) {
        parser.addOptions({
            {QStringLiteral("parallel"), QStringLiteral("Units at a time (default 8)."), QStringLiteral("P")},
            {QStringLiteral("units"), QStringLiteral("Stop after this many units (default: until Ctrl-C)."),
             QStringLiteral("K")},
            {QStringLiteral("scan"), QStringLiteral("Time between two looks for new units, in ms (default 1000)."),
             QStringLiteral("MS")},
        });
    }
    if (command == QLatin1String("dump"))
        parser.addOption({{QStringLiteral("o"), QStringLiteral("output")},
                          QStringLiteral("The dump file."),
                          QStringLiteral("FILE")});
    if (command == QLatin1String("serials")) {
        parser.addOptions({
            {QStringLiteral("series"),
             QStringLiteral("The series (default \"default\"; show and ledger: every series)."),
             QStringLiteral("NAME")},
            {QStringLiteral("next"),
             QStringLiteral("set: the series' next number, above every number it gave already and not given already "
                            "by any source."),
             QStringLiteral("N")},
            {QStringLiteral("since"),
             QStringLiteral(
                 "ledger: numbers given at or after this local date or time (2026-03-02, 2026-03-02T14:30)."),
             QStringLiteral("DATE")},
        });
    }
    if (command == QLatin1String("records")) {
        parser.addOptions({
            {QStringLiteral("serial"),
             QStringLiteral(
                 "The unit with this serial number, or the one it was taken for: everything that went into it."),
             QStringLiteral("N")},
            {QStringLiteral("since"),
             QStringLiteral("Units started at or after this local date or time (2026-03-02, 2026-03-02T14:30)."),
             QStringLiteral("DATE")},
            {QStringLiteral("failed"), QStringLiteral("Only units that failed or were interrupted.")},
            {QStringLiteral("station"), QStringLiteral("Only units of this station."), QStringLiteral("NAME")},
            {QStringLiteral("recipe"),
             QStringLiteral("Only units whose job came from the recipe of this name: which units got a release."),
             QStringLiteral("NAME")},
            {QStringLiteral("csv"), QStringLiteral("Comma-separated values with a header line.")},
        });
    }
    if (WritesUnits(command)) {
        parser.addOption(
            {QStringLiteral("recipe"),
             QStringLiteral("Recipe file: its kernel and program (each refused when it changed since the recipe was "
                            "saved), settings, --verify and series. Options given here override single fields: "
                            "--kernel FILE takes that file unchecked (the records then name the recipe \"NAME (kernel "
                            "replaced)\"), --no-serial or --serial N replace the series."),
             QStringLiteral("FILE")});
    } else if (command != QLatin1String("records")) {
        // Known to every command, so that the others refuse it in words of their own.
        QCommandLineOption recipe(QStringLiteral("recipe"), QString(), QStringLiteral("FILE"));
        recipe.setFlags(QCommandLineOption::HiddenFromHelp);
        parser.addOption(recipe);
    }
}

// Reads the options into TLoaderOptions; the first refusal wins.
class TReader {
public:
    TReader(const QCommandLineParser& parser, TLoaderOptions& options) : P(parser), O(options) {}

    QString Error;

    bool Ok() const { return Error.isEmpty(); }
    void Refuse(const QString& text)
    {
        if (Error.isEmpty())
            Error = text;
    }

    // An integer option in [low, high]; unchanged when not given.
    template <typename T>
    void Number(const char* name, T& value, int64_t low, int64_t high)
    {
        const QString option = QLatin1String(name);
        if (!P.isSet(option))
            return;
        const std::optional<qlonglong> number = DecimalNumber(P.value(option));
        if (!number || *number < low || *number > high)
            Refuse(QStringLiteral("--%1 takes a whole number from %2 to %3, not \"%4\"")
                       .arg(option, QString::number(low), QString::number(high), P.value(option)));
        else
            value = T(*number);
    }

    void Link(const QString& environmentPassword, bool adapterRequired)
    {
        Number("port", O.Link.Port, 1, 65535);
        Number("timeout", O.Link.Timeout, 1, 600000);
        Number("attempts", O.Link.Attempts, 1, 100);
        Number("wait", O.DiscoveryWait, 1, 60000);
        O.Json = P.isSet(QStringLiteral("json"));
        if (adapterRequired || P.isSet(QStringLiteral("adapter")))
            Adapter();
        QString password = environmentPassword;
        if (P.isSet(QStringLiteral("password-file"))) {
            QFile file(P.value(QStringLiteral("password-file")));
            if (file.open(QIODevice::ReadOnly | QIODevice::Text))
                password = QTextStream(&file).readLine();
            else
                Refuse(QStringLiteral("can't read the password file %1: %2").arg(file.fileName(), file.errorString()));
        }
        O.Link.PasswordCode = password.isEmpty() ? 0 : TextChecksum(password, 0);
    }

    void Targets(const QStringList& positional)
    {
        O.Targets.Fresh = P.isSet(QStringLiteral("fresh"));
        O.Targets.All = P.isSet(QStringLiteral("all"));
        Number("parallel", O.Parallel, 1, 64);
        for (const QString& text : positional) {
            if (IsValidIPText(text)) {
                O.Targets.IPs << text;
                continue;
            }
            const int32_t nad = IntegerTextOrDefault(text, 0);
            if (nad == 0)
                Refuse(QStringLiteral("not a NAD or an IP address: \"%1\"").arg(text));
            else
                O.Targets.Nads << nad;
        }
        if (O.Targets.IPs.isEmpty() && O.Targets.Nads.isEmpty() && !O.Targets.Fresh && !O.Targets.All)
            Refuse(QStringLiteral("name the units: NADs, IP addresses, --fresh or --all"));
    }

    // --recipe FILE: the recipe's files, settings, verify and series, before the options
    // that override single fields are read. The files the command line does not replace are
    // loaded and checked against the recipe's hashes here, before any unit is touched.
    void Recipe()
    {
        if (!P.isSet(QStringLiteral("recipe")))
            return;
        TRecipe recipe;
        QString error;
        if (!ReadRecipe(P.value(QStringLiteral("recipe")), recipe, error)) {
            Refuse(error);
            return;
        }
        ApplyRecipe(recipe, O.Inputs);
        // A unit whose file the command line replaced did not get the recipe's release: its
        // record says so, and records --recipe NAME does not count it among the recipe's.
        QStringList replaced;
        if (P.isSet(QStringLiteral("kernel"))) {
            recipe.Kernel.reset();
            replaced << QStringLiteral("kernel");
        }
        if (P.isSet(QStringLiteral("program"))) {
            recipe.Program.reset();
            replaced << QStringLiteral("program");
        }
        if (!LoadRecipeFiles(recipe, O.Images, error))
            Refuse(error);
        O.Recipe = replaced.isEmpty() ? recipe.Name
                                      : recipe.Name + QStringLiteral(" (") + replaced.join(QStringLiteral(" and ")) +
                                            QStringLiteral(" replaced)");
        O.VerifyAfterSend = recipe.VerifyAfterSend;
        FRecipeSeries = recipe.Series;
    }

    void Images()
    {
        TOperationInputs& in = O.Inputs;
        QString error;
        if (P.isSet(QStringLiteral("kernel"))) {
            in.KernelChecked = true;
            in.KernelPath = P.value(QStringLiteral("kernel"));
            if (!LoadKernelFile(in.KernelPath, O.Images, error))
                Refuse(error);
        }
        if (P.isSet(QStringLiteral("program"))) {
            in.ProgramChecked = true;
            in.ProgramPath = P.value(QStringLiteral("program"));
            if (!LoadProgramFile(in.ProgramPath, O.Images, error))
                Refuse(error);
        }
    }

    void Settings()
    {
        TOperationInputs& in = O.Inputs;
        if (P.isSet(QStringLiteral("nad-alias"))) {
            in.SetNadAlias = true;
            in.NadAliasText = P.value(QStringLiteral("nad-alias"));
            if (IntegerTextOrDefault(in.NadAliasText, -1) < 0)
                Refuse(QStringLiteral("invalid NAD alias: \"%1\"").arg(in.NadAliasText));
        }
        if (P.isSet(QStringLiteral("model"))) {
            in.SetHardwareModel = true;
            in.HardwareModelIndex = ItemIndex({"Orvel-J", "Orvel-K", "Orvel-L"}, P.value(QStringLiteral("model")));
            if (in.HardwareModelIndex < 0)
                Refuse(QStringLiteral("unknown hardware model: \"%1\" (Orvel-J, Orvel-K or Orvel-L)")
                           .arg(P.value(QStringLiteral("model"))));
        }
        if (P.isSet(QStringLiteral("iex-baud"))) {
            in.SetIEXBaudRate = true;
            QString rate = P.value(QStringLiteral("iex-baud"));
            if (!rate.endsWith(QLatin1String("kbps"), Qt::CaseInsensitive))
                rate += QStringLiteral("kbps");
            in.IEXBaudRateIndex = ItemIndex({"20kbps", "50kbps", "100kbps", "250kbps", "500kbps"}, rate);
            if (in.IEXBaudRateIndex < 0)
                Refuse(QStringLiteral("unknown IEX baud rate: \"%1\" (20, 50, 100, 250 or 500 kbps)")
                           .arg(P.value(QStringLiteral("iex-baud"))));
        }
        IpSettings();
    }

    // A static address or an alias is one unit's: given to several, they would collide.
    void OneUnitSettings()
    {
        if (!ManyUnits())
            return;
        const TOperationInputs& in = O.Inputs;
        const QString many = QStringLiteral(" with station, --fresh, --all or several units");
        // Named as the operator gave it: an option, or a setting of the recipe.
        const auto given = [this](const char* option, const char* setting) {
            return P.isSet(QLatin1String(option)) || !P.isSet(QStringLiteral("recipe"))
                       ? QStringLiteral("--") + QLatin1String(option)
                       : QStringLiteral("the recipe's ") + QLatin1String(setting);
        };
        if (SetsStaticAddress(in))
            Refuse(given("ip", "static address") + QStringLiteral(" would give every unit the same address") + many +
                   QStringLiteral(": use --dhcp, or send to one unit at a time"));
        if (SetsNadAlias(in))
            Refuse(given("nad-alias", "NAD alias") + QStringLiteral(" would give every unit the same alias") + many +
                   QStringLiteral(": leave it out (or 0), or send to one unit at a time"));
    }

    void Records(const QString& environmentRecords)
    {
        O.Records = P.isSet(QStringLiteral("records")) ? P.value(QStringLiteral("records")) : environmentRecords;
    }

    void Serial()
    {
        O.Autoincrement = P.isSet(QStringLiteral("autoincrement"));
        O.Station = P.isSet(QStringLiteral("station")) ? P.value(QStringLiteral("station"))
                                                       : QSysInfo::machineHostName();
        O.Series = P.value(QStringLiteral("series"));
        if (P.isSet(QStringLiteral("series")) && O.Series.isEmpty())
            Refuse(QStringLiteral("--series: name the series"));
        Name("station", O.Station);
        Name("series", O.Series);
        // One source of numbers; a named store is shared, and a number counted here would
        // be given there too.
        const bool local = P.isSet(QStringLiteral("serial")) || O.Autoincrement;
        bool none = P.isSet(QStringLiteral("no-serial"));
        bool series = P.isSet(QStringLiteral("series"));
        // A recipe's series, or its none, holds unless the command line names a source.
        if (FRecipeSeries && !local && !none && !series) {
            O.Series = *FRecipeSeries;
            series = !O.Series.isEmpty();
            none = !series;
        }
        if (none && (local || series))
            Refuse(QStringLiteral("--no-serial goes with none of --series, --serial and --autoincrement"));
        else if (!none && !local && !series && ManyUnits())
            // A unit left without a number stays fresh: the next run, or the next scan of
            // this one, would take it for a new unit and write it again.
            Refuse(QStringLiteral("say where serial numbers come from: --series NAME, --serial N, --autoincrement or "
                                  "--no-serial (the units stay fresh)"));
        else if (local && series)
            Refuse(QStringLiteral("--series goes with neither --serial nor --autoincrement"));
        else if (local && !O.Records.isEmpty())
            Refuse(QStringLiteral("with the record store %1 serial numbers come from its series: use --series NAME")
                       .arg(P.isSet(QStringLiteral("records")) ? QStringLiteral("--records")
                                                               : QStringLiteral("ORVEL_RECORDS")));
        if (P.isSet(QStringLiteral("serial"))) {
            const QString text = P.value(QStringLiteral("serial"));
            const qlonglong serial = DecimalNumber(text).value_or(-1);
            if (serial < 1 || serial > std::numeric_limits<int32_t>::max())
                Refuse(QStringLiteral("invalid serial number: \"") + text +
                       QStringLiteral("\" (decimal digits, 1 to 2147483647)"));
            O.FirstSerial = int32_t(serial);
        } else if (O.Autoincrement) {
            const std::optional<int64_t> stored = LoadStoredNextSerial();
            if (!stored || *stored < 1)
                Refuse(QStringLiteral("--autoincrement: no serial number is kept yet; give --serial N"));
            else if (*stored >= SerialNumbersUsedUp)
                Refuse(QStringLiteral("--autoincrement: ") + SerialNumbersUsedUpText());
            else
                O.FirstSerial = int32_t(*stored);
        }
        O.Inputs.SerialNumberChecked = O.FirstSerial.has_value() || !O.Series.isEmpty();
        // The recipe's, or the command line's.
        O.Inputs.StartPlc = O.Inputs.StartPlc || P.isSet(QStringLiteral("start-plc"));
        O.Inputs.SetRtc = O.Inputs.SetRtc || P.isSet(QStringLiteral("set-rtc"));
        O.VerifyAfterSend = O.VerifyAfterSend || P.isSet(QStringLiteral("verify"));
        O.ProductionLogPath =
            P.isSet(QStringLiteral("log"))
                ? P.value(QStringLiteral("log"))
                : QFileInfo(DefaultProductionLogPath()).dir().filePath(QStringLiteral("OrvelBinLoader.log"));
    }

    void Serials(const QStringList& positional)
    {
        O.SerialsAction = positional.value(0);
        O.Series = P.value(QStringLiteral("series"));
        Name("series", O.Series);
        if (positional.size() != 1 ||
            (O.SerialsAction != QLatin1String("set") && O.SerialsAction != QLatin1String("show") &&
             O.SerialsAction != QLatin1String("ledger")))
            Refuse(QStringLiteral("serials set, serials show or serials ledger, not \"") + positional.join(u' ') +
                   u'"');
        if (O.SerialsAction != QLatin1String("ledger") && P.isSet(QStringLiteral("since")))
            Refuse(QStringLiteral("only serials ledger takes --since"));
        Since();
        if (O.SerialsAction == QLatin1String("set")) {
            if (O.Series.isEmpty())
                O.Series = TRecordStore::DefaultSeries;
            if (!P.isSet(QStringLiteral("next")))
                Refuse(QStringLiteral("serials set: give the next number with --next N"));
            Number("next", O.NextSerial, 1, std::numeric_limits<int32_t>::max());
        } else if (P.isSet(QStringLiteral("next"))) {
            Refuse(QStringLiteral("serials ") + O.SerialsAction + QStringLiteral(" takes no --next"));
        }
    }

    void RecordFilter()
    {
        TRecordFilter& filter = O.Filter;
        if (P.isSet(QStringLiteral("serial"))) {
            int32_t serial = 0;
            Number("serial", serial, 1, std::numeric_limits<int32_t>::max());
            filter.Serial = serial;
        }
        Since();
        filter.FailedOnly = P.isSet(QStringLiteral("failed"));
        filter.Station = P.value(QStringLiteral("station"));
        filter.Recipe = P.value(QStringLiteral("recipe"));
        if (P.isSet(QStringLiteral("recipe")) && filter.Recipe.isEmpty())
            Refuse(QStringLiteral("--recipe: name the recipe"));
        O.Csv = P.isSet(QStringLiteral("csv"));
        if (O.Csv && O.Json)
            Refuse(QStringLiteral("--csv or --json, not both"));
    }

    // --since into the filter: records started, or numbers given, at or after it.
    void Since()
    {
        if (!P.isSet(QStringLiteral("since")))
            return;
        QString text = P.value(QStringLiteral("since"));
        O.Filter.Since = QDateTime::fromString(text.replace(u' ', u'T'), Qt::ISODate);
        if (!O.Filter.Since.isValid())
            Refuse(QStringLiteral("--since takes a date or a time like 2026-03-02 or 2026-03-02T14:30, not \"") +
                   P.value(QStringLiteral("since")) + u'"');
    }

    void Station()
    {
        Number("parallel", O.Parallel, 1, 64);
        Number("units", O.Units, 0, std::numeric_limits<int>::max());
        Number("scan", O.ScanInterval, 100, 600000);
    }

private:
    // A station or series name goes into every record, listing and log line: one line each.
    void Name(const char* option, const QString& name)
    {
        if (std::any_of(name.cbegin(), name.cend(), [](QChar c) { return c.category() == QChar::Other_Control; }))
            Refuse(QStringLiteral("--") + QLatin1String(option) +
                   QStringLiteral(": a name without control characters (newlines, tabs)"));
    }

    // The station, --fresh, --all or more than one unit named.
    bool ManyUnits() const
    {
        const TTargetChoice& t = O.Targets;
        return O.Command == QLatin1String("station") || t.Fresh || t.All || t.IPs.size() + t.Nads.size() > 1;
    }

    static int ItemIndex(std::initializer_list<const char*> items, const QString& text)
    {
        int index = 0;
        for (const char* item : items) {
            if (text.compare(QLatin1String(item), Qt::CaseInsensitive) == 0)
                return index;
            ++index;
        }
        return -1;
    }

    void Adapter()
    {
        TEthernetAdapterInfoList adapters;
        adapters.Refresh();
        if (!P.isSet(QStringLiteral("adapter"))) {
            TEthernetAdapterInfo local;
            if (!local.DetectLocal())
                Refuse(QStringLiteral("no adapter carries this host's address: choose one with --adapter"));
            O.Link.AdapterName = local.AdapterName;
            return;
        }
        const QString wanted = P.value(QStringLiteral("adapter"));
        for (int i = 0; i < adapters.Count(); ++i) {
            const TEthernetAdapterInfo* adapter = adapters.Items(i);
            if (adapter->AdapterName == wanted || adapter->IPAddress == wanted) {
                O.Link.AdapterName = adapter->AdapterName;
                return;
            }
        }
        Refuse(QStringLiteral("no adapter is named or addressed \"%1\"").arg(wanted));
    }

    void IpSettings()
    {
        TOperationInputs& in = O.Inputs;
        const bool dhcp = P.isSet(QStringLiteral("dhcp"));
        const bool staticIP = P.isSet(QStringLiteral("ip")) || P.isSet(QStringLiteral("mask")) ||
                              P.isSet(QStringLiteral("gateway")) || P.isSet(QStringLiteral("dns"));
        if (!dhcp && !staticIP)
            return;
        in.SetIPAddress = true;
        in.DHCP = dhcp;
        if (dhcp && staticIP) {
            Refuse(QStringLiteral("--dhcp goes with none of --ip, --mask, --gateway and --dns"));
            return;
        }
        if (dhcp)
            return;
        if (!P.isSet(QStringLiteral("ip")) || !P.isSet(QStringLiteral("mask")))
            Refuse(QStringLiteral("a static address needs --ip and --mask"));
        in.IPAddress = P.value(QStringLiteral("ip"));
        in.SubnetMask = P.value(QStringLiteral("mask"));
        in.Gateway = P.isSet(QStringLiteral("gateway")) ? P.value(QStringLiteral("gateway"))
                                                        : QStringLiteral("0.0.0.0");
        in.DNSServer = P.isSet(QStringLiteral("dns")) ? P.value(QStringLiteral("dns")) : QStringLiteral("0.0.0.0");
        for (const auto& [option, text] :
             {std::pair{"ip", in.IPAddress}, std::pair{"gateway", in.Gateway}, std::pair{"dns", in.DNSServer}}) {
            if (!IsValidIPText(text))
                Refuse(QStringLiteral("--%1: not an IP address: \"%2\"").arg(QLatin1String(option), text));
        }
        if (!IsValidIPText(in.SubnetMask) || !IsValidSubnetMask(StrToIP(in.SubnetMask)))
            Refuse(QStringLiteral("--mask: not a subnet mask: \"%1\"").arg(in.SubnetMask));
    }

    const QCommandLineParser& P;
    TLoaderOptions& O;
    std::optional<QString> FRecipeSeries;   // --recipe: its series; empty: it writes no serial number
};

TUnitOperation OperationOf(const QString& command)
{
    if (command == QLatin1String("send") || command == QLatin1String("station"))
        return TUnitOperation::Send;
    if (command == QLatin1String("verify"))
        return TUnitOperation::Verify;
    if (command == QLatin1String("start"))
        return TUnitOperation::StartPlc;
    if (command == QLatin1String("stop"))
        return TUnitOperation::StopPlc;
    return TUnitOperation::Info;
}

}   // namespace

TParsedCommandLine ParseLoaderCommandLine(const QStringList& arguments, const TLoaderEnvironment& environment)
{
    TParsedCommandLine result;
    TLoaderOptions& options = result.Options;
    const QString first = arguments.value(0);
    if (first.isEmpty() || first == QLatin1String("--help") || first == QLatin1String("-h") ||
        first == QLatin1String("help")) {
        result.Text = ProgramHelp();
        result.ExitCode = first.isEmpty() ? ExitBadInput : ExitOk;
        return result;
    }
    const TCommandInfo* command = FindCommand(first);
    if (!command) {
        result.Text = QStringLiteral("%1: unknown command \"%2\"; '%1 --help' lists the commands").arg(Program, first);
        result.ExitCode = ExitBadInput;
        return result;
    }
    options.Command = first;
    options.Operation = OperationOf(first);

    QCommandLineParser parser;
    parser.setApplicationDescription(QLatin1String(command->Summary));
    if (first == QLatin1String("serials"))
        parser.addPositionalArgument(
            QStringLiteral("action"),
            QStringLiteral("set: give the series its next number; show: the series and their next numbers."),
            QLatin1String(command->Arguments));
    else
        parser.addPositionalArgument(QStringLiteral("targets"), QStringLiteral("Units by NAD or IP address."),
                                     QLatin1String(command->Arguments));
    AddOptions(parser, first);
    if (!parser.parse(QStringList{Program + QLatin1Char(' ') + first} + arguments.mid(1))) {
        result.Text = QStringLiteral("%1 %2: %3").arg(Program, first, parser.errorText());
        result.ExitCode = ExitBadInput;
        return result;
    }
    if (parser.isSet(QStringLiteral("help"))) {
        // The parser names the program by the path it was started with; the usage line names
        // the command too.
        QString help = parser.helpText();
        help.replace(0, help.indexOf(u'\n'),
                     QStringLiteral("Usage: %1 %2 [options] %3")
                         .arg(Program, first, QLatin1String(command->Arguments))
                         .trimmed());
        result.Text = help;
        return result;
    }

    TReader reader(parser, options);
    if (!WritesUnits(first) && first != QLatin1String("records") && parser.isSet(QStringLiteral("recipe")))
        reader.Refuse(QStringLiteral("--recipe goes with send and station (a recipe file) and records (a recipe's "
                                     "name) only"));
    reader.Link(environment.Password, !UsesStoreOnly(first));
    if (WritesUnits(first) || UsesStoreOnly(first))
        reader.Records(environment.Records);
    QStringList positional = parser.positionalArguments();
    if (first == QLatin1String("dump")) {
        const QString what = positional.value(0);
        if (what == QLatin1String("kernel"))
            options.Operation = TUnitOperation::DumpKernel;
        else if (what == QLatin1String("program"))
            options.Operation = TUnitOperation::DumpProgram;
        else
            reader.Refuse(QStringLiteral("dump what: kernel or program, not \"%1\"").arg(what));
        positional.removeFirst();
        options.DumpPath = parser.value(QStringLiteral("output"));
        if (options.DumpPath.isEmpty())
            reader.Refuse(QStringLiteral("dump: name the file with -o FILE"));
        if (positional.size() != 1)
            reader.Refuse(QStringLiteral("dump: name exactly one unit"));
    } else if (first == QLatin1String("serials")) {
        reader.Serials(positional);
    } else if (!TakesTargets(first) && !positional.isEmpty()) {
        reader.Refuse(QStringLiteral("%1 takes no units: \"%2\"").arg(first, positional.join(u' ')));
    }
    if (TakesTargets(first))
        reader.Targets(positional);
    if (WritesUnits(first))
        reader.Recipe();
    if (ComparesUnits(first)) {
        reader.Images();
        reader.Settings();
    }
    if (WritesUnits(first)) {
        reader.OneUnitSettings();
        reader.Serial();
    }
    if (first == QLatin1String("station"))
        reader.Station();
    if (first == QLatin1String("records"))
        reader.RecordFilter();
    if (first == QLatin1String("verify") && !options.Inputs.KernelChecked && !options.Inputs.ProgramChecked &&
        !options.Inputs.SetNadAlias && !options.Inputs.SetHardwareModel && !options.Inputs.SetIEXBaudRate &&
        !options.Inputs.SetIPAddress)
        reader.Refuse(QStringLiteral("verify what: give --kernel, --program or a setting"));
    if (!reader.Ok()) {
        result.Text = QStringLiteral("%1 %2: %3").arg(Program, first, reader.Error);
        result.ExitCode = ExitBadInput;
    }
    return result;
}
