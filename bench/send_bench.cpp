// send_bench: what one whole send costs, next to what the network alone would cost.
//
// One fresh simulated controller answers on loopback from a thread of its own. The send
// writes a serial number, a 64 KiB kernel and a 1 MiB PLC program, starts the PLC and sets
// the clock, exactly as the window runs it. Its wall time is printed with the two fixed
// waits (500 ms after the kernel starts, 200 ms before the PLC starts) apart, and the rest is
// compared with (requests x the round trip of a minimal blocking client that sends 256-byte
// WriteBlock frames to the same controller in the same run). Everything stays on 127.0.0.x.
#include "LoaderSession.h"

#include "LoopbackAdapter.h"
#include "OrvelSimulator.h"
#include "RawClient.h"
#include "SampleImages.h"
#include "SimulatorThread.h"
#include "uABus.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QtEndian>

#include <cstdio>

namespace {

constexpr int KernelSize = 64 * 1024;
constexpr int ProgramSize = 1024 * 1024;
constexpr int RoundTrips = 2000;
constexpr int WarmUp = 100;
constexpr double TargetRatio = 1.3;

// Every command frame the controller received so far.
int Frames(const TSimulatorThread& simulator)
{
    return int(simulator.Unit(0)->ReceivedFrames().size());
}

// Mean microseconds of a 256-byte WriteBlock round trip; -1 when one got no answer.
double RawRoundTripMicroseconds(int port)
{
    QByteArray frame(4 + 256, '\x5A');
    qToLittleEndian<uint16_t>(uint16_t(ProgramAddress / 256 + 4095), frame.data());   // the program's last block
    qToLittleEndian<uint16_t>(256, frame.data() + 2);
    BuildFrame(HostNad, NoSerialNumber, CmdWriteBlock, frame, 0);

    TRawClient client("127.0.0.2", port);   // the simulator's one unit
    for (int i = 0; i < WarmUp; ++i) {
        if (!client.RoundTrip(frame))
            return -1;
    }
    QElapsedTimer clock;
    clock.start();
    for (int i = 0; i < RoundTrips; ++i) {
        if (!client.RoundTrip(frame))
            return -1;
    }
    return clock.nsecsElapsed() / 1000.0 / RoundTrips;
}

QString WriteFile(const QTemporaryDir& dir, const QString& name, const QByteArray& bytes)
{
    QFile file(dir.filePath(name));
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() ? file.fileName() : QString();
}

}   // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    // The link sees the loopback adapter only, so nothing leaves 127.0.0.0/8.
    const TLoopbackAdapter loopback;

    // The controller is served by its own event loop, so that the sending thread does only
    // its own work.
    TSimulatorThread simulator;
    simulator.AddController(TSimControllerConfig{});   // fresh: no serial number, empty flash
    const int port = simulator.Start() ? simulator.Port() : 0;
    QTemporaryDir dir;
    TCommunicator link;
    if (port == 0 || !dir.isValid() || !link.SelectAdapter(LoopbackAdapterName)) {
        std::fprintf(stderr, "send_bench: no simulator, folder or loopback binding\n");
        return 1;
    }
    link.ControllerPort = port;

    // What the send tells, reduced to what a benchmark needs to see.
    QStringList messages;
    TLoaderSession session(link, [&messages](const TOperationEvent& event) {
        if (const auto* message = std::get_if<Event::TMessage>(&event))
            messages << message->Text;
        else if (const auto* error = std::get_if<Event::TFileError>(&event))
            std::fprintf(stderr, "%s\n", qPrintable(error->Text));
    });
    session.ProductionLogPath = dir.filePath(QStringLiteral("send_bench.log"));
    qint64 waitedNs = 0;
    session.Wait = [&waitedNs](int milliseconds) {
        QElapsedTimer clock;
        clock.start();
        SleepFor(milliseconds);
        waitedNs += clock.nsecsElapsed();
    };

    const double rawBefore = RawRoundTripMicroseconds(port);
    const TConnectResult connected = session.ConnectToNad(TNadChoice{true, QString()});
    TJob job;
    job.Kernel = TJobFile{WriteFile(dir, QStringLiteral("kernel.bin"), SampleKernel(3, KernelSize)), QString()};
    job.Program = TJobFile{WriteFile(dir, QStringLiteral("program.bin"), SampleProgram(ProgramSize)), QString()};
    session.LoadImageFiles(job);
    job.Serial = {true, 1000, true, QString()};
    job.StartPlc = true;
    job.SetClock = true;

    const int framesBefore = Frames(simulator);
    QElapsedTimer clock;
    clock.start();
    const bool sent = connected.Outcome == TConnectOutcome::Answered && session.DoSend(job, session.TakeImages());
    const qint64 wallNs = clock.nsecsElapsed();
    const int requests = Frames(simulator) - framesBefore;
    const double rawAfter = RawRoundTripMicroseconds(port);

    if (!sent || rawBefore < 0 || rawAfter < 0) {
        std::fprintf(stderr, "send_bench: the send or a raw round trip failed\n%s\n",
                     qPrintable(messages.join(QLatin1Char('\n'))));
        return 1;
    }

    const double rawUs = (rawBefore + rawAfter) / 2;
    const double wallMs = wallNs / 1e6;
    const double waitsMs = waitedNs / 1e6;
    const double workMs = wallMs - waitsMs;
    const double networkMs = requests * rawUs / 1000;
    const double ratio = workMs / networkMs;
    std::printf("send_bench: serial number, %d-byte kernel, %d-byte program, start, clock\n", KernelSize, ProgramSize);
    std::printf("  wall time              %10.1f ms\n", wallMs);
    std::printf("  fixed waits (500+200)  %10.1f ms\n", waitsMs);
    std::printf("  wall without the waits %10.1f ms\n", workMs);
    std::printf("  requests               %10d\n", requests);
    std::printf("  raw UDP round trip     %10.1f us (%.1f before, %.1f after the send; 256-byte WriteBlock)\n", rawUs,
                rawBefore, rawAfter);
    std::printf("  requests x round trip  %10.1f ms\n", networkMs);
    std::printf("  ratio                  %10.2f (target at most %.1f)\n", ratio, TargetRatio);
    return 0;
}
