// orvel-screenshot: pictures of the windows for the documentation, grabbed to PNG files:
//
//   orvel-screenshot FILE.png             the main window connected to a simulated ARM unit
//   orvel-screenshot --station FILE.png   the station window with 8 simulated fresh units
//                                         in flight, slowed down so that each is mid-way
//
// As in the tests, the host's adapter table is made up (the loopback adapter only) and the
// simulator runs in-process, so nothing leaves 127.0.0.0/8.
#include "AppWindows.h"
#include "fMain.h"
#include "fStation.h"
#include "LoopbackAdapter.h"
#include "RunUntil.h"
#include "OrvelSimulator.h"
#include "SampleImages.h"
#include "SimulatorThread.h"
#include "StationUnits.h"
#include "uABus.h"

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QLineEdit>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>

namespace {

constexpr int StationUnits = 8;

bool Save(QWidget& window, const QString& path)
{
    if (window.grab().save(path))
        return true;
    std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
    return false;
}

// The station's units answer from a thread of their own: its runners block on their sockets.
int StationPicture(const QString& path, const QTemporaryDir& dir)
{
    TSimulatorThread sim;
    QString error;
    if (!sim.Start(0, &error)) {
        std::fprintf(stderr, "simulator: %s\n", qPrintable(error));
        return 1;
    }
    TAppWindows windows;
    TfmMain& window = windows.Main();
    window.LinkOptions.Port = sim.Port();
    TfmStation& station = windows.Station();
    station.RecordsLocation = dir.filePath(QStringLiteral("records.sqlite"));
    station.ProductionLogPath = dir.filePath(QStringLiteral("station.log"));
    const auto write = [&dir](const QString& name, const QByteArray& bytes) {
        QFile file(dir.filePath(name));
        if (file.open(QIODevice::WriteOnly))
            file.write(bytes);
        return file.fileName();
    };
    for (const char* name : {"ckSerialNumber", "ckAutoincrement", "ckKernel", "ckPLCProgram"})
        window.findChild<QAbstractButton*>(QLatin1String(name))->setChecked(true);
    window.findChild<QLineEdit*>(QStringLiteral("edSerialNumber"))->setText(QStringLiteral("1000"));
    window.findChild<QLineEdit*>(QStringLiteral("leKernelBinary"))
        ->setText(write(QStringLiteral("kernel.bin"), SampleKernel(3, 64 * 1024)));
    window.findChild<QLineEdit*>(QStringLiteral("leTamixBinary"))
        ->setText(write(QStringLiteral("program.bin"), SampleProgram(256 * 1024)));
    station.resize(1100, 720);
    station.show();
    station.findChild<QAbstractButton*>(QStringLiteral("btnStationStart"))->click();
    // Each unit slower than the one before, so that the rows stand at different points.
    sim.Run([](TControllerSimulator& s) {
        for (int i = 0; i < StationUnits; ++i) {
            TSimFaults timing;
            timing.LatencyFor.insert(CmdWriteBlock, 8 + 3 * i);
            if (TSimController* unit = s.AddLiveController({}))
                unit->SetFaults(timing);
        }
    });
    const TStationUnits& units = station.Units();
    const auto progress = [&units](int row) {
        return units.index(row, TStationUnits::ColProgress).data(TStationUnits::ProgressRole).toInt();
    };
    // The fastest unit well on its way, the slowest started.
    if (!RunUntil([&] { return units.rowCount() == StationUnits && progress(0) >= 600 && progress(7) > 0; })) {
        std::fprintf(stderr, "the simulated units did not get under way\n");
        return 1;
    }
    RunUntil([] { return false; }, 100);   // the last figures shown
    return Save(station, path) ? 0 : 1;
}

}   // namespace

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    const bool station = argc == 3 && QByteArrayView(argv[1]) == "--station";
    if (argc != 2 && !station) {
        std::fprintf(stderr, "usage: orvel-screenshot [--station] <file.png>\n");
        return 2;
    }
    const QString path = QString::fromLocal8Bit(argv[argc - 1]);

    // Keeps the operator's stored serial number and records out of the picture and untouched.
    QTemporaryDir settings;
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settings.path());
    const TLoopbackAdapter loopback;
    if (station)
        return StationPicture(path, settings);

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

    return Save(window, path) ? 0 : 1;
}
