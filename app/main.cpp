// OrvelBinLoader: the main window (with the station window it asks for) and its three
// dialogs, then the event loop until the main window closes. --help and --version answer
// without a window.
#include "AppWindows.h"
#include "fAbout.h"
#include "fHelp.h"
#include "fMain.h"
#include "fPassword.h"
#include "TraceFile.h"
#include "uCommunication.h"

#include <QApplication>
#include <QCommandLineParser>

namespace {

// Prints the help or the version and ends the process when the command line asks for one.
// It needs no display, so that a shell without one and help2man get the text; any other
// argument is left to QApplication as before.
void AnswerHelpOrVersion(int argc, char* argv[])
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Finds Orvel controllers on the Ethernet segment, gives fresh units their serial number, "
                       "writes the firmware kernel and the PLC program into flash, sets the unit's settings, "
                       "verifies by read-back and keeps a production log. For the same without a window, see "
                       "orvel-loader."));
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
    parser.parse(arguments);
    if (!parser.isSet(help) && !parser.isSet(QStringLiteral("help-all")) && !parser.isSet(version))
        return;
    QCoreApplication application(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("OrvelBinLoader"));
    QCoreApplication::setApplicationVersion(QStringLiteral(ORVEL_VERSION_TEXT));
    parser.process(application);   // prints and ends the process
}

}   // namespace

int main(int argc, char* argv[])
{
    AnswerHelpOrVersion(argc, argv);
    QApplication application(argc, argv);
    QGuiApplication::setApplicationDisplayName(QStringLiteral("OrvelBinLoader"));
    InstallTraceFile(lcFrames().categoryName(), QStringLiteral("debug.log"));

    // The dialogs live from start to end and keep their state between showings.
    TAppWindows windows;
    TfmMain& fmMain = windows.Main();
    TfmAbout fmAbout(&fmMain);
    TfmPassword fmPassword(&fmMain);
    TfmHelp fmHelp(&fmMain);
    fmMain.SetDialogs(&fmAbout, &fmPassword, &fmHelp);

    fmMain.show();
    const int code = application.exec();
    // Ended by a signal: the shell learns which, as from any process a signal ended.
    return windows.Signal() != 0 ? TSignalWatcher::ExitCodeFor(windows.Signal()) : code;
}
