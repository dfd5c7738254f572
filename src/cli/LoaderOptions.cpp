#include "LoaderOptions.h"

#include "OptionReader.h"

namespace {

const QString Program = QStringLiteral("orvel-loader");

QString ProgramHelp()
{
    QString text = QStringLiteral(
                       "Usage: %1 COMMAND [options]\n\n"
                       "Finds Orvel controllers on one network adapter and writes, verifies, starts, stops and\n"
                       "dumps them, several units at once. Everything the window does for one unit, scriptable.\n\n"
                       "Commands:\n")
                       .arg(Program);
    for (const TCommandInfo& command : Commands())
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

TParsedCommandLine Refused(const QString& text)
{
    TParsedCommandLine result;
    result.Text = text;
    result.ExitCode = ExitBadInput;
    return result;
}

// The parser names the program by the path it was started with; the usage line names the
// command too.
QString CommandHelp(const QCommandLineParser& parser, const TCommandInfo& command)
{
    QString help = parser.helpText();
    help.replace(0, help.indexOf(u'\n'),
                 (QStringLiteral("Usage: ") + Program + u' ' + QLatin1String(command.Name) +
                  QStringLiteral(" [options] ") + QLatin1String(command.Arguments))
                     .trimmed());
    return help;
}

// Text into values, then what the values name, in the order the refusals are to be heard.
void Read(TOptionReader& reader)
{
    const TCommand command = reader.O.Command;
    reader.Refuse(DeclaredRefusal(reader.P, command));
    ParseLink(reader);
    if (command == TCommand::Serials)
        ParseSerials(reader, reader.P.positionalArguments());
    else
        ParseUnits(reader, reader.P.positionalArguments());
    if (Takes(command, TakesImages))
        ParseSettings(reader);
    if (Takes(command, TakesSerials))
        ParseSerialSource(reader);
    if (command == TCommand::Station) {
        reader.Number("parallel", reader.O.Parallel);
        reader.Number("units", reader.O.Units);
        reader.Number("scan", reader.O.ScanInterval);
    }
    if (command == TCommand::Records)
        ParseRecordFilter(reader);
    if (!reader.Ok())
        return;
    PrepareLink(reader);
    if (Takes(command, TakesImages))
        PrepareSettings(reader);
    if (Takes(command, TakesSerials))
        PrepareSerialSource(reader);
}

}   // namespace

TParsedCommandLine ParseLoaderCommandLine(const QStringList& arguments, const TLoaderEnvironment& environment)
{
    TParsedCommandLine result;
    const QString first = arguments.value(0);
    if (first.isEmpty() || first == QLatin1String("--help") || first == QLatin1String("-h") ||
        first == QLatin1String("help")) {
        result.Text = ProgramHelp();
        result.ExitCode = first.isEmpty() ? ExitBadInput : ExitOk;
        return result;
    }
    if (first == QLatin1String("--version")) {
        result.Text = Program + QStringLiteral(" " ORVEL_VERSION_TEXT);
        return result;
    }
    const TCommandInfo* command = FindCommand(first);
    if (!command)
        return Refused(Program + QStringLiteral(": unknown command \"") + first + QStringLiteral("\"; '") + Program +
                       QStringLiteral(" --help' lists the commands"));
    TLoaderOptions& options = result.Options;
    options.Command = command->Command;
    options.Operation = command->Operation;

    QCommandLineParser parser;
    parser.setApplicationDescription(QLatin1String(command->Summary));
    if (command->Command == TCommand::Serials)
        parser.addPositionalArgument(
            QStringLiteral("action"),
            QStringLiteral("set: give the series its next number; show: the series and their next numbers."),
            QLatin1String(command->Arguments));
    else
        parser.addPositionalArgument(QStringLiteral("targets"), QStringLiteral("Units by NAD or IP address."),
                                     QLatin1String(command->Arguments));
    AddOptions(parser, command->Command);
    const QString prefix = Program + u' ' + first + QStringLiteral(": ");
    if (!parser.parse(QStringList{Program + u' ' + first} + arguments.mid(1)))
        return Refused(prefix + parser.errorText());
    if (parser.isSet(QStringLiteral("help"))) {
        result.Text = CommandHelp(parser, *command);
        return result;
    }
    TOptionReader reader(parser, options, environment);
    Read(reader);
    if (!reader.Ok()) {
        result.Text = prefix + reader.Error;
        result.ExitCode = ExitBadInput;
    }
    return result;
}
