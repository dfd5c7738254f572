// orvel-loader: the loader without a window, for production lines and service work.
// 'orvel-loader --help' lists the commands, 'orvel-loader COMMAND --help' their options.
#include "LoaderCommands.h"
#include "LoaderOptions.h"
#include "StoreCommands.h"
#include "TraceFile.h"
#include "uCommunication.h"

#include <QCoreApplication>

#include <csignal>
#include <cstdio>
#include <unistd.h>

int main(int argc, char* argv[])
{
    // A closed pipe (| head, | tee) or terminal loses the output, never the run: a unit must
    // not be left half written and without a record because nobody reads any more.
    std::signal(SIGPIPE, SIG_IGN);
    QCoreApplication application(argc, argv);
    // The window's name: both keep their production log and data in the same user folder.
    QCoreApplication::setApplicationName(QStringLiteral("OrvelBinLoader"));
    InstallTraceFile(lcFrames().categoryName(), QStringLiteral("debug.log"));
    const TParsedCommandLine parsed = ParseLoaderCommandLine(application.arguments().mid(1),
                                                             {qEnvironmentVariable("ORVEL_PASSWORD"),
                                                              qEnvironmentVariable("ORVEL_RECORDS")});
    if (parsed.Done()) {
        std::fprintf(parsed.ExitCode == ExitOk ? stdout : stderr, "%s\n", qPrintable(parsed.Text.trimmed()));
        return parsed.ExitCode;
    }
    if (Takes(parsed.Options.Command, TakesStoreOnly))
        return RunStoreCommand(parsed.Options, stdout, stderr);
    TLoaderConsole console(stdout, parsed.Options.Json, ::isatty(STDOUT_FILENO) != 0);
    TLoaderRun run(parsed.Options, console);
    return run.Exec();
}
