// ui_bench: how the window feels while it works.
//
// Prints the time from the program's start to a visible window, the idle window's resident
// memory, and the window's worst event-loop lag during a whole Send (serial number, a
// 64 KiB kernel, a 256 KiB program, start and clock) to a simulated unit: a timer asks to
// run every millisecond, and the lag is how much later than that its worst turn came. The
// target is a worst lag under 20 ms. The simulator answers from a thread of its own on
// 127.0.0.x; the settings and the record store live in a temporary folder. The window is
// shown on the offscreen platform unless QT_QPA_PLATFORM names another.
#include "LoopbackAdapter.h"
#include "SampleImages.h"
#include "SimulatorThread.h"
#include "fMain.h"

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <functional>

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

// Runs the event loop until done says so; false after timeoutMs.
bool RunUntil(const std::function<bool()>& done, int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    QEventLoop loop;
    QTimer look;
    QObject::connect(&look, &QTimer::timeout, [&] {
        if (done() || clock.elapsed() > timeoutMs)
            loop.quit();
    });
    look.start(5);
    loop.exec();
    return done();
}

QString WriteFile(const QTemporaryDir& dir, const QString& name, const QByteArray& bytes)
{
    QFile file(dir.filePath(name));
    if (file.open(QIODevice::WriteOnly))
        file.write(bytes);
    return file.fileName();
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
