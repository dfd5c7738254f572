// orvel-screenshot: the main window connected to a simulated ARM unit, grabbed to a PNG for
// the documentation. As in the tests, the host's adapter table is made up (the loopback
// adapter only) and the simulator runs in-process, so nothing leaves 127.0.0.0/8.
#include "fMain.h"
#include "LoopbackAdapter.h"
#include "OrvelSimulator.h"
#include "SampleImages.h"

#include <QApplication>
#include <QComboBox>
#include <QEventLoop>
#include <QSettings>
#include <QTemporaryDir>

#include <cstdio>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: orvel-screenshot <file.png>\n");
        return 2;
    }

    // Keeps the operator's stored serial number out of the picture and untouched.
    QTemporaryDir settings;
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settings.path());
    const TLoopbackAdapter loopback;

    TControllerSimulator simulator;
    TSimControllerConfig unit;
    unit.Serial = 4711;
    unit.Kernel = SampleKernel(3);
    unit.Program = SealedProgram(SampleProgram(), false);
    simulator.AddController(unit);
    QString error;
    if (!simulator.Start(0, &error)) {
        std::fprintf(stderr, "simulator: %s\n", qPrintable(error));
        return 1;
    }

    TfmMain window;
    window.LinkOptions.Port = simulator.Port();
    window.show();
    // The simulator answers on this thread while the window waits for its runner.
    QEventLoop connected;
    QObject::connect(window.Runner, &TSessionRunner::Idle, &connected, &QEventLoop::quit);
    window.findChild<QComboBox*>(QStringLiteral("cbNAD"))->setEditText(QStringLiteral("4711"));
    connected.exec();
    window.alActionsUpdate();
    QCoreApplication::processEvents();

    if (!window.grab().save(QString::fromLocal8Bit(argv[1]))) {
        std::fprintf(stderr, "cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
