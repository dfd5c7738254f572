#include "SimulatorThread.h"

#include <type_traits>

namespace {

// What work gives back on the simulator's thread, handed over to the calling one.
template <typename TWork>
auto Result(const TSimulatorThread& owner, TWork work)
{
    std::invoke_result_t<TWork, TControllerSimulator&> result{};
    owner.Run([&](TControllerSimulator& simulator) { result = work(simulator); });
    return result;
}

}   // namespace

TSimulatorThread::TSimulatorThread() : FSimulator(new TControllerSimulator)
{
    FSimulator->moveToThread(&FThread);
    // Emitted on the thread itself as it ends; the deletion happens there before it is gone.
    QObject::connect(&FThread, &QThread::finished, FSimulator, &QObject::deleteLater);
    FThread.setObjectName(QStringLiteral("orvel-sim"));
    FThread.start();
}

TSimulatorThread::~TSimulatorThread()
{
    Stop();
    FThread.quit();
    FThread.wait();
}

void TSimulatorThread::Run(const std::function<void(TControllerSimulator&)>& work) const
{
    if (QThread::currentThread() == &FThread) {
        work(*FSimulator);
        return;
    }
    QMetaObject::invokeMethod(
        FSimulator, [&] { work(*FSimulator); }, Qt::BlockingQueuedConnection);
}

int TSimulatorThread::AddController(const TSimControllerConfig& config)
{
    return Result(*this, [&](TControllerSimulator& s) {
        s.AddController(config);
        return s.Count() - 1;
    });
}

bool TSimulatorThread::Start(int port, QString* error)
{
    return Result(*this, [&](TControllerSimulator& s) { return s.Start(port, error); });
}

int TSimulatorThread::AddLiveController(const TSimControllerConfig& config, QString* error)
{
    return Result(*this,
                  [&](TControllerSimulator& s) { return s.AddLiveController(config, error) ? s.Count() - 1 : -1; });
}

std::unique_ptr<TSimController> TSimulatorThread::ReplaceController(int index, const TSimControllerConfig& config)
{
    std::unique_ptr<TSimController> left;
    Run([&](TControllerSimulator& s) { left = s.ReplaceController(index, config); });
    return left;
}

void TSimulatorThread::Stop()
{
    Run([](TControllerSimulator& s) { s.Stop(); });
}

int TSimulatorThread::Port() const
{
    return Result(*this, [](TControllerSimulator& s) { return s.Port(); });
}

int TSimulatorThread::Count() const
{
    return Result(*this, [](TControllerSimulator& s) { return s.Count(); });
}

QString TSimulatorThread::Address(int index) const
{
    return Unit(index).Address();
}

uint32_t TSimulatorThread::Serial(int index) const
{
    return Unit(index).Serial();
}

QByteArray TSimulatorThread::Memory(int index, uint32_t address, uint32_t length) const
{
    return Unit(index).Memory(address, length);
}

void TSimulatorThread::SetFaults(int index, const TSimFaults& faults)
{
    Unit(index).SetFaults(faults);
}

void TSimulatorThread::TUnit::On(const std::function<void(TSimController&)>& work) const
{
    FOwner->Run([&](TControllerSimulator& simulator) { work(simulator.Controller(FIndex)); });
}

QString TSimulatorThread::TUnit::Address() const
{
    return Get([](TSimController& unit) { return unit.Address; });
}

uint32_t TSimulatorThread::TUnit::Serial() const
{
    return Get([](TSimController& unit) { return unit.Serial(); });
}

QByteArray TSimulatorThread::TUnit::Memory(uint32_t address, uint32_t length) const
{
    return Get([=](TSimController& unit) { return unit.Memory(address, length); });
}

void TSimulatorThread::TUnit::SetMemory(uint32_t address, const QByteArray& bytes) const
{
    On([&](TSimController& unit) { unit.SetMemory(address, bytes); });
}

void TSimulatorThread::TUnit::SetFaults(const TSimFaults& faults) const
{
    On([&](TSimController& unit) { unit.SetFaults(faults); });
}

void TSimulatorThread::TUnit::Restart() const
{
    On([](TSimController& unit) { unit.Restart(); });
}

QByteArray TSimulatorThread::TUnit::LoaderRecord() const
{
    return Get([](TSimController& unit) { return unit.LoaderRecord; });
}

void TSimulatorThread::TUnit::SetLoaderRecord(const QByteArray& record) const
{
    On([&](TSimController& unit) { unit.LoaderRecord = record; });
}

uint8_t TSimulatorThread::TUnit::PlcState() const
{
    return Get([](TSimController& unit) { return unit.PlcState; });
}

QByteArray TSimulatorThread::TUnit::Clock() const
{
    return Get([](TSimController& unit) { return unit.Clock; });
}

QList<QByteArray> TSimulatorThread::TUnit::ReceivedFrames() const
{
    return Get([](TSimController& unit) { return unit.ReceivedFrames; });
}

QHash<uint8_t, int> TSimulatorThread::TUnit::CommandCounts() const
{
    return Get([](TSimController& unit) { return unit.CommandCounts; });
}

bool TSimulatorThread::TUnit::HoldsValidKernel() const
{
    return Get([](TSimController& unit) { return unit.HoldsValidKernel(); });
}

bool TSimulatorThread::TUnit::HoldsValidProgram() const
{
    return Get([](TSimController& unit) { return unit.HoldsValidProgram(); });
}
