// OrvelBinLoader: the main window and its three dialogs, then the event loop until the
// main window closes.
#include "fAbout.h"
#include "fHelp.h"
#include "fMain.h"
#include "fPassword.h"
#include "TraceFile.h"
#include "uCommunication.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    QApplication application(argc, argv);
    QGuiApplication::setApplicationDisplayName(QStringLiteral("OrvelBinLoader"));
    InstallTraceFile(lcFrames().categoryName(), QStringLiteral("debug.log"));

    // The dialogs live from start to end and keep their state between showings.
    TfmMain fmMain;
    TfmAbout fmAbout(&fmMain);
    TfmPassword fmPassword(&fmMain);
    TfmHelp fmHelp(&fmMain);
    fmMain.SetDialogs(&fmAbout, &fmPassword, &fmHelp);

    fmMain.show();
    return application.exec();
}
