// link_bench: what the controller link costs on top of the network.
//
// One simulated controller answers on loopback from a thread of its own. The link lives on a
// worker thread, as the window's and the station's runners keep it, and blocks there on its
// socket. The mean round trip of a 256-byte WriteBlock and of a 256-byte ReadBlock through
// TCommunicator is measured next to a minimal client (a plain POSIX socket with a blocking
// receive) that sends the same frames to the same controller on the same thread, the two
// taking turns in short rounds of one run; the target is a ratio of at most 1.1. Then
// whole-image writes of 64 KiB and 2 MiB. Everything goes to 127.0.0.x only.
#include "uCommunication.h"

#include "LoopbackAdapter.h"
#include "OrvelSimulator.h"
#include "RawClient.h"
#include "SimulatorThread.h"
#include "uABus.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>
#include <QtEndian>

#include <cstdio>
#include <functional>
#include <memory>
#include <utility>

namespace {

constexpr uint32_t ControllerNad = 1001;
constexpr const char* ControllerAddress = "127.0.0.2";
constexpr int RoundTrips = 2000;
constexpr int WarmUp = 100;
constexpr int Rounds = 20;
constexpr uint16_t ProgramBlock = ProgramAddress / 256;

// Mean microseconds per round trip of each of two clients. They take turns in short rounds,
// so that load from elsewhere on the machine weighs on both alike. -1 when a call failed.
std::pair<double, double> MeanMicroseconds(const std::function<bool()>& first, const std::function<bool()>& second)
{
    qint64 spent[2] = {0, 0};
    const std::function<bool()>* clients[2] = {&first, &second};
    for (int c = 0; c < 2; ++c) {
        for (int i = 0; i < WarmUp; ++i) {
            if (!(*clients[c])())
                return {-1, -1};
        }
    }
    QElapsedTimer clock;
    for (int round = 0; round < Rounds; ++round) {
        for (int c = 0; c < 2; ++c) {
            clock.start();
            for (int i = 0; i < RoundTrips / Rounds; ++i) {
                if (!(*clients[c])())
                    return {-1, -1};
            }
            spent[c] += clock.nsecsElapsed();
        }
    }
    return {spent[0] / 1000.0 / RoundTrips, spent[1] / 1000.0 / RoundTrips};
}

QByteArray CommandFrame(uint8_t command, const QByteArray& arguments)
{
    QByteArray frame = arguments;
    BuildFrame(HostNad, ControllerNad, command, frame, 0);
    return frame;
}

QByteArray BlockArguments(uint16_t block, uint16_t count)
{
    QByteArray arguments(4, '\0');
    qToLittleEndian<uint16_t>(block, arguments.data());
    qToLittleEndian<uint16_t>(count, arguments.data() + 2);
    return arguments;
}

void Compare(const char* what, std::pair<double, double> figures)
{
    const auto [link, raw] = figures;
    std::printf("%-10s link %7.1f us   raw client %7.1f us   ratio %.2f\n", what, link, raw, link / raw);
}

double WriteMemoryMilliseconds(TCommunicator& link, uint32_t address, int size)
{
    const QByteArray image(size, char(0x5A));
    QElapsedTimer clock;
    clock.start();
    const bool ok = link.WriteMemory(address, image);
    return ok ? double(clock.nsecsElapsed()) / 1e6 : -1;
}

// Everything measured, on the calling thread, against the controller on port.
int Measure(int port)
{
    // The link believes the host has one adapter, the loopback one.
    const TLoopbackAdapter loopback;
    TCommunicator link;
    if (!link.SelectAdapter(LoopbackAdapterName) || link.Adapter.Broadcast != QStringLiteral("127.255.255.255")) {
        std::fprintf(stderr, "the link could not bind to the loopback adapter\n");
        return 1;
    }
    link.ControllerPort = port;
    link.SetNad(int32_t(ControllerNad));
    link.TargetIP = QString::fromLatin1(ControllerAddress);   // unicast, as after a ping

    const QByteArray block(256, char(0x5A));
    const auto* data = reinterpret_cast<const uint8_t*>(block.constData());
    uint8_t buffer[1040];
    TRawClient raw(ControllerAddress, port);
    const QByteArray writeFrame = CommandFrame(CmdWriteBlock, BlockArguments(ProgramBlock, 256) + block);
    const QByteArray readFrame = CommandFrame(CmdReadBlock, BlockArguments(ProgramBlock, 256));

    std::printf("mean round trip over %d requests, link on a worker thread, controller on its own\n", RoundTrips);
    Compare("WriteBlock", MeanMicroseconds([&] { return link.WriteBlock(ProgramBlock, 256, data); },
                                           [&] { return raw.RoundTrip(writeFrame); }));
    Compare("ReadBlock", MeanMicroseconds([&] { return link.ReadBlock(ProgramBlock, 256, buffer, sizeof buffer); },
                                          [&] { return raw.RoundTrip(readFrame); }));

    std::printf("WriteMemory   64 KiB: %8.1f ms\n", WriteMemoryMilliseconds(link, KernelAddress, 64 * 1024));
    std::printf("WriteMemory    2 MiB: %8.1f ms\n", WriteMemoryMilliseconds(link, ProgramAddress, 2 * 1024 * 1024));
    return 0;
}

}   // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    // The simulated controller is served by its own event loop, so that the link's thread
    // only does the link's work.
    TSimulatorThread simulator;
    TSimControllerConfig config;
    config.Serial = ControllerNad;
    simulator.AddController(config);
    const int port = simulator.Start() ? simulator.Port() : 0;
    if (port == 0) {
        std::fprintf(stderr, "the simulator could not bind on loopback\n");
        return 1;
    }
    int result = 1;
    std::unique_ptr<QThread> worker(QThread::create([&] { result = Measure(port); }));
    worker->start();
    worker->wait();
    return result;
}
