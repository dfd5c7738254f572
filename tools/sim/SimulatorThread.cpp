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
    return Result(*this, [&](TControllerSimulator& s) { return s.Controller(index).Address; });
}

uint32_t TSimulatorThread::Serial(int index) const
{
    return Result(*this, [&](TControllerSimulator& s) { return s.Controller(index).Serial(); });
}

QByteArray TSimulatorThread::Memory(int index, uint32_t address, uint32_t length) const
{
    return Result(*this, [&](TControllerSimulator& s) { return s.Controller(index).Memory(address, length); });
}

void TSimulatorThread::SetFaults(int index, const TSimFaults& faults)
{
    Run([&](TControllerSimulator& s) { s.Controller(index).SetFaults(faults); });
}
