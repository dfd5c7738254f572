// station_bench: how well several units flash at once.
//
// 1, 2, 4 and 8 fresh simulated units, each busy 1 ms with every block write as a real
// controller is, each get a serial number, a 64 KiB kernel and a 512 KiB program from runners
// of their own, all at the same time. For each count it prints the wall time, the throughput
// ratio T(1) x K / T(K) (K units would take K times as long one after the other; the target
// is 8 units within 1.3 x the time of one, a ratio of at least 6) and the CPU time of this
// process per unit. The simulator answers from a thread of its own; everything stays on
// 127.0.0.x.
#include "LoopbackAdapter.h"
#include "SampleImages.h"
#include "SimulatorThread.h"
#include "UnitRunner.h"
#include "uABus.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTemporaryDir>

#include <sys/resource.h>

#include <cstdio>
#include <memory>
#include <vector>

namespace {

constexpr int KernelSize = 64 * 1024;
constexpr int ProgramSize = 512 * 1024;
constexpr int BlockWriteLatencyMs = 1;
constexpr double TargetRatio = 6;

double CpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

struct TFigures {
    double WallSeconds = 0;
    double CpuSeconds = 0;
    int Succeeded = 0;
};

TFigures FlashAtOnce(int units, const TLoadedImages& images, const QString& logPath)
{
    TSimulatorThread sim;
    TSimFaults timing;
    timing.LatencyFor.insert(CmdWriteBlock, BlockWriteLatencyMs);
    for (int i = 0; i < units; ++i)
        sim.AddController({});
    QString error;
    if (!sim.Start(0, &error)) {
        std::fprintf(stderr, "simulator: %s\n", qPrintable(error));
        return {};
    }
    for (int i = 0; i < units; ++i)
        sim.SetFaults(i, timing);

    auto serials = std::make_shared<TMemorySerialCounter>(1000);
    std::vector<std::unique_ptr<TUnitRunner>> runners;
    TFigures figures;
    int finished = 0;
    QEventLoop allDone;
    for (int i = 0; i < units; ++i) {
        TUnitJob job;
        job.Unit = {sim.Address(i), -1};
        job.Operation = TUnitOperation::Send;
        job.What.Kernel = TJobFile{QStringLiteral("kernel.bin"), QString()};
        job.What.Program = TJobFile{QStringLiteral("program.bin"), QString()};
        job.What.Serial.Write = true;
        job.Images = images;
        job.Link.AdapterName = LoopbackAdapterName;
        job.Link.Port = sim.Port();
        job.ProductionLogPath = logPath;
        runners.push_back(std::make_unique<TUnitRunner>(job, serials));
        QObject::connect(runners.back().get(), &TUnitRunner::Finished, &allDone, [&](const TUnitRecord& record) {
            if (++finished == units)
                allDone.quit();
            if (record.Outcome == TUnitOutcome::Succeeded)
                ++figures.Succeeded;
            else
                std::fprintf(stderr, "%s: %s\n", qPrintable(record.IP), qPrintable(record.Message));
        });
    }

    const double cpuBefore = CpuSeconds();
    QElapsedTimer clock;
    clock.start();
    for (auto& runner : runners)
        runner->start();
    allDone.exec();
    figures.WallSeconds = double(clock.nsecsElapsed()) / 1e9;
    figures.CpuSeconds = CpuSeconds() - cpuBefore;
    return figures;
}

}   // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const TLoopbackAdapter loopback;
    QTemporaryDir dir;

    TLoadedImages images;
    images.Kernel = SampleKernel(3, KernelSize);
    images.KernelFileHeader = ReadKernelHeader(images.Kernel, KernelHeaderOffsetARM);
    images.KernelPlatform = TPlatform::ARM;
    images.KernelLoaded = true;
    images.Program = SampleProgram(ProgramSize);
    images.ProgramLoaded = true;

    std::printf("station_bench: fresh units flashed at once, each %d KiB kernel + %d KiB program, %d ms per block "
                "write\n\n",
                KernelSize / 1024, ProgramSize / 1024, BlockWriteLatencyMs);
    std::printf("%6s %10s %8s %8s %14s\n", "units", "wall s", "ok", "ratio", "CPU s per unit");
    double single = 0;
    double ratioAtEight = 0;
    for (const int units : {1, 2, 4, 8}) {
        const TFigures figures = FlashAtOnce(units, images, dir.filePath(QStringLiteral("station.log")));
        if (units == 1)
            single = figures.WallSeconds;
        const double ratio = figures.WallSeconds > 0 ? single * units / figures.WallSeconds : 0;
        if (units == 8)
            ratioAtEight = ratio;
        std::printf("%6d %10.2f %5d/%-2d %8.2f %14.3f\n", units, figures.WallSeconds, figures.Succeeded, units, ratio,
                    figures.CpuSeconds / units);
    }
    std::printf("\n8 units: ratio %.2f (target at least %.0f: 8 units within %.2f x the time of one) %s\n",
                ratioAtEight, TargetRatio, 8 / TargetRatio, ratioAtEight >= TargetRatio ? "met" : "NOT met");
    return 0;
}
