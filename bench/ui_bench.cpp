// ui_bench: how the window feels while it works.
//
// Prints the time from the program's start to a visible window, the idle window's resident
// memory, and the window's worst event-loop lag during a whole Send (serial number, a
// 64 KiB kernel, a 256 KiB program, start and clock) to a simulated unit: a timer asks to
// run every millisecond, and the lag is how much later than that its worst turn came. The
// target is a worst lag under 20 ms. The simulator answers from a thread of its own on
// 127.0.0.x; the settings and the record store live in a temporary folder. The window is
// shown on the offscreen platform unless QT_QPA_PLATFORM names another.
//
// ui_bench station: the station window flashing 24 fresh simulated units at once (each busy
// 1 ms with every block write), in rounds that show the units' progress as it comes
// ("before") and coalesced to about 20 repaints a second ("after"), interleaved after one
// warm-up round that is not counted, in the order before, after, after, before so that
// neither mode always comes first. Each round prints the worst event-loop lag, the repaints
// per second of the units' table and the peak resident memory while the units are in flight
// (sampled every 50 ms) above that before the round, per unit; then the averages and their
// ratios. The warm-up round's memory is the honest cost of a station: the later rounds reuse
// the heap it grew. Targets:
// a worst lag under 30 ms, under 1 MB per unit, about 20 repaints a second. The units are an
// orvel-sim process of their own for each round (beside this program), so that this
// process's memory is the window's alone: a simulated unit holds megabytes of flash.
#include "AppWindows.h"
#include "LoopbackAdapter.h"
#include "RunUntil.h"
#include "SampleImages.h"
#include "SimulatorThread.h"
#include "StationUnits.h"
#include "fMain.h"
#include "fStation.h"
#include "uABus.h"

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProcess>
#include <QDir>
#include <QSettings>
#include <QSpinBox>
#include <QTableView>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <iterator>

namespace {

constexpr int KernelSize = 64 * 1024;
constexpr int ProgramSize = 256 * 1024;
constexpr double TargetLagMs = 20;

// Resident memory of this process in KiB, from /proc.
long ResidentKiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong();
    return -1;
}

QString WriteFile(const QTemporaryDir& dir, const QString& name, const QByteArray& bytes)
{
    QFile file(dir.filePath(name));
    if (file.open(QIODevice::WriteOnly))
        file.write(bytes);
    return file.fileName();
}

// Counts the paint events a widget gets.
class TPaintCounter : public QObject {
public:
    int Paints = 0;
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Paint)
            ++Paints;
        return QObject::eventFilter(watched, event);
    }
};

// The worst lateness of a timer asked to run every millisecond, while it runs.
class TLagMeter {
public:
    TLagMeter()
    {
        FTicker.setTimerType(Qt::PreciseTimer);
        QObject::connect(&FTicker, &QTimer::timeout, [this] {
            const qint64 lateNs = FTurn.nsecsElapsed() - 1000000;
            if (lateNs > WorstNs) {
                WorstNs = lateNs;
                WorstAtMs = FSince.elapsed();
            }
            FTurn.restart();
        });
    }
    void Start()
    {
        WorstNs = 0;
        FSince.start();
        FTurn.start();
        FTicker.start(1);
    }
    void Stop() { FTicker.stop(); }
    qint64 WorstNs = 0;
    qint64 WorstAtMs = 0;   // how long after Start the worst turn came

private:
    QTimer FTicker;
    QElapsedTimer FTurn;
    QElapsedTimer FSince;
};

struct TRound {
    double WorstLagMs = 0;
    double RepaintsPerSecond = 0;
    double KiBPerUnit = 0;
    double Seconds = 0;
    double WorstAtSeconds = 0;
};

constexpr int StationUnits = 24;
// After a warm-up round: whether each counted round is coalesced.
constexpr bool StationRoundCoalesced[] = {false, true, true, false};
constexpr double TargetStationLagMs = 30;
constexpr double TargetKiBPerUnit = 1024;

// orvel-sim with StationUnits fresh units, each busy 1 ms with every block write; its port,
// 0 when it did not start.
int StartUnits(QProcess& sim)
{
    sim.setProgram(QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("orvel-sim")));
    sim.setArguments({QStringLiteral("--port"), QStringLiteral("0"), QStringLiteral("--latency"),
                      QString::number(CmdWriteBlock) + QStringLiteral(":1"), QStringLiteral("--arrive"),
                      QString::number(StationUnits), QStringLiteral("--every"), QStringLiteral("0")});
    sim.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    sim.start();
    QByteArray out;
    const bool arrived = RunUntil(
        [&] {
            out += sim.readAllStandardOutput();
            return out.count("orvel-sim: arrived") == StationUnits || sim.state() == QProcess::NotRunning;
        },
        30000);
    const int at = out.indexOf("orvel-sim: port ");
    if (!arrived || at < 0) {
        std::fprintf(stderr, "orvel-sim did not start: %s\n", out.constData());
        return 0;
    }
    return out.mid(at + 16).split(',').value(0).toInt();
}

bool RunStationRound(TfmMain& window, TfmStation& station, int repaintIntervalMs, TRound& round)
{
    QProcess sim;
    const int port = StartUnits(sim);
    if (port == 0)
        return false;
    window.LinkOptions.Port = port;
    station.Units().ClearFinished(true);
    station.RepaintIntervalMs = repaintIntervalMs;
    auto* viewport = station.findChild<QTableView*>(QStringLiteral("tblUnits"))->viewport();
    TPaintCounter paints;
    viewport->installEventFilter(&paints);
    TLagMeter lag;
    const long rssBefore = ResidentKiB();
    long rssPeak = rssBefore;
    QTimer rssSampler;
    QObject::connect(&rssSampler, &QTimer::timeout, [&rssPeak] { rssPeak = std::max(rssPeak, ResidentKiB()); });
    rssSampler.start(50);
    QElapsedTimer clock;
    clock.start();
    lag.Start();
    station.findChild<QAbstractButton*>(QStringLiteral("btnStationStart"))->click();
    const TStationUnits& units = station.Units();
    const bool done = RunUntil([&] { return units.rowCount() == StationUnits && units.InProgress() == 0; }, 600000);
    lag.Stop();
    rssSampler.stop();
    round.Seconds = double(clock.elapsed()) / 1000;
    station.findChild<QAbstractButton*>(QStringLiteral("btnStationStop"))->click();
    RunUntil([&] { return !station.Running(); }, 60000);
    viewport->removeEventFilter(&paints);
    round.WorstLagMs = double(lag.WorstNs) / 1e6;
    round.WorstAtSeconds = double(lag.WorstAtMs) / 1000;
    round.RepaintsPerSecond = paints.Paints / std::max(round.Seconds, 0.001);
    round.KiBPerUnit = double(rssPeak - rssBefore) / StationUnits;
    sim.terminate();
    sim.waitForFinished(5000);
    if (!done)
        std::fprintf(stderr, "the round did not end: %d rows, %d in progress\n", units.rowCount(), units.InProgress());
    return done;
}

int StationMode(const QTemporaryDir& dir)
{
    TAppWindows windows;
    TfmMain& window = windows.Main();
    window.show();
    TfmStation& station = windows.Station();
    station.RecordsLocation = dir.filePath(QStringLiteral("records.sqlite"));
    station.ProductionLogPath = dir.filePath(QStringLiteral("station.log"));
    // A round that timed out with units in flight still ends without a question.
    station.AskHowToStop = [](int) { return TfmStation::TStopChoice::Interrupt; };
    station.show();
    const auto find = [&window](const char* name) { return window.findChild<QWidget*>(QLatin1String(name)); };
    for (const char* name : {"ckSerialNumber", "ckAutoincrement", "ckKernel", "ckPLCProgram"})
        static_cast<QAbstractButton*>(find(name))->setChecked(true);
    static_cast<QLineEdit*>(find("edSerialNumber"))->setText(QStringLiteral("1000"));
    static_cast<QLineEdit*>(find("leKernelBinary"))
        ->setText(WriteFile(dir, QStringLiteral("kernel.bin"), SampleKernel(3, KernelSize)));
    static_cast<QLineEdit*>(find("leTamixBinary"))
        ->setText(WriteFile(dir, QStringLiteral("program.bin"), SampleProgram(ProgramSize)));
    station.findChild<QSpinBox*>(QStringLiteral("spParallel"))->setValue(StationUnits);
    RunUntil([] { return false; }, 500);   // the files loaded, the window settled

    std::printf("ui_bench station: %d fresh units at once, each %d KiB kernel + %d KiB program, 1 ms per block "
                "write\n\n",
                StationUnits, KernelSize / 1024, ProgramSize / 1024);
    std::printf("%-8s %8s %14s %10s %14s %12s\n", "round", "wall s", "worst lag ms", "at s", "repaints/s",
                "KiB per unit");
    const int coalescedMs = station.RepaintIntervalMs;
    const auto print = [](const char* name, const TRound& round) {
        std::printf("%-8s %8.1f %14.2f %10.2f %14.1f %12.1f\n", name, round.Seconds, round.WorstLagMs,
                    round.WorstAtSeconds, round.RepaintsPerSecond, round.KiBPerUnit);
    };
    TRound warmUp;
    if (!RunStationRound(window, station, coalescedMs, warmUp))
        return 1;
    print("warm-up", warmUp);
    constexpr int perMode = int(std::size(StationRoundCoalesced)) / 2;
    TRound sums[2];
    for (const bool coalesced : StationRoundCoalesced) {
        TRound round;
        if (!RunStationRound(window, station, coalesced ? coalescedMs : 0, round))
            return 1;
        print(coalesced ? "after" : "before", round);
        TRound& sum = sums[coalesced ? 1 : 0];
        sum.WorstLagMs = std::max(sum.WorstLagMs, round.WorstLagMs);
        sum.RepaintsPerSecond += round.RepaintsPerSecond / perMode;
        sum.KiBPerUnit += round.KiBPerUnit / perMode;
    }
    const TRound& before = sums[0];
    const TRound& after = sums[1];
    std::printf("\nworst event-loop lag: before %.2f ms, after %.2f ms (ratio %.2f; target under %.0f ms) %s\n",
                before.WorstLagMs, after.WorstLagMs, before.WorstLagMs / std::max(after.WorstLagMs, 0.001),
                TargetStationLagMs, after.WorstLagMs < TargetStationLagMs ? "met" : "NOT met");
    std::printf("repaints of the units' table per second: before %.1f, after %.1f (ratio %.2f; target about 20)\n",
                before.RepaintsPerSecond, after.RepaintsPerSecond,
                before.RepaintsPerSecond / std::max(after.RepaintsPerSecond, 0.001));
    // The first round grows the heap the later ones reuse: its figure is what a station costs.
    std::printf("peak resident memory per unit in flight: first run %.1f KiB (target under %.0f KiB) %s; later rounds "
                "before %.1f KiB, after %.1f KiB\n",
                warmUp.KiBPerUnit, TargetKiBPerUnit, warmUp.KiBPerUnit < TargetKiBPerUnit ? "met" : "NOT met",
                before.KiBPerUnit, after.KiBPerUnit);
    return 0;
}

}   // namespace

int main(int argc, char* argv[])
{
    QElapsedTimer sinceStart;
    sinceStart.start();
    QTemporaryDir dir;
    // The settings and the record store of this run only.
    qputenv("XDG_CONFIG_HOME", dir.filePath(QStringLiteral("config")).toLocal8Bit());
    qputenv("XDG_DATA_HOME", dir.filePath(QStringLiteral("data")).toLocal8Bit());
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const TLoopbackAdapter loopback;
    if (argc > 1 && QByteArrayView(argv[1]) == "station")
        return StationMode(dir);

    TfmMain window;
    window.show();
    QCoreApplication::processEvents();
    const qint64 startupMs = sinceStart.elapsed();
    RunUntil([&] { return sinceStart.elapsed() > startupMs + 500; }, 1000);
    const long idleKiB = ResidentKiB();

    TSimulatorThread sim;
    TSimControllerConfig fresh;
    fresh.Kernel = SampleKernel(3);
    sim.AddController(fresh);
    QString error;
    if (!sim.Start(0, &error)) {
        std::fprintf(stderr, "simulator: %s\n", qPrintable(error));
        return 1;
    }
    window.LinkOptions.Port = sim.Port();
    window.Runner->SetProductionLogPath(dir.filePath(QStringLiteral("production.log")));
    const auto find = [&window](const char* name) { return window.findChild<QWidget*>(QLatin1String(name)); };
    const auto box = [&find](const char* name) { return static_cast<QAbstractButton*>(find(name)); };
    const auto sendEnabled = [&] {
        window.alActionsUpdate();
        return find("btnSend")->isEnabled();
    };
    box("ckNadNotAssigned")->click();
    for (const char* name : {"ckSerialNumber", "ckAutoincrement", "ckKernel", "ckPLCProgram", "ckStartPLC", "ckSetRTC"})
        box(name)->setChecked(true);
    static_cast<QLineEdit*>(find("edSerialNumber"))->setText(QStringLiteral("1000"));
    static_cast<QLineEdit*>(find("leKernelBinary"))
        ->setText(WriteFile(dir, QStringLiteral("kernel.bin"), SampleKernel(3, KernelSize)));
    static_cast<QLineEdit*>(find("leTamixBinary"))
        ->setText(WriteFile(dir, QStringLiteral("program.bin"), SampleProgram(ProgramSize)));
    if (!RunUntil(sendEnabled, 10000)) {
        std::fprintf(stderr, "the window did not connect to the simulated unit\n");
        return 1;
    }

    // The lag: each turn of a 1 ms timer, measured against the one before.
    QElapsedTimer turn;
    qint64 worstNs = 0;
    qint64 turns = 0;
    QTimer ticker;
    ticker.setTimerType(Qt::PreciseTimer);
    const auto log = [&find] { return static_cast<QPlainTextEdit*>(find("meStatus"))->toPlainText(); };
    QElapsedTimer sendClock;
    qint64 worstAtMs = 0;
    QString worstAfter;   // the log's last line when the worst turn came
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        const qint64 lateNs = turn.nsecsElapsed() - 1000000;
        if (lateNs > worstNs) {
            worstNs = lateNs;
            worstAtMs = sendClock.elapsed();
            worstAfter = log().section(u'\n', -1).section(QStringLiteral(": "), 1);
        }
        turn.restart();
        ++turns;
    });
    QTimer::singleShot(0, [&] {
        turn.start();
        ticker.start(1);
        sendClock.start();
        box("btnSend")->click();
    });
    const bool ended = RunUntil(
        [&] { return sendClock.isValid() && log().contains(QLatin1String("sent successfully")) && sendEnabled(); },
        120000);
    ticker.stop();
    if (!ended) {
        std::fprintf(stderr, "the send did not end: %s\n", qPrintable(log()));
        return 1;
    }
    const double worstMs = double(worstNs) / 1e6;
    std::printf("start-up to a visible window: %lld ms\n", startupMs);
    std::printf("idle window resident memory: %ld KiB\n", idleKiB);
    std::printf("send of %d KiB kernel + %d KiB program: %lld ms, %lld timer turns\n", KernelSize / 1024,
                ProgramSize / 1024, sendClock.elapsed(), turns);
    std::printf("worst event-loop lag during the send: %.2f ms (target under %.0f ms) %s, %lld ms into the send, "
                "after \"%s\"\n",
                worstMs, TargetLagMs, worstMs < TargetLagMs ? "met" : "NOT met", worstAtMs, qPrintable(worstAfter));
    return 0;
}
