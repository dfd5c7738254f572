// SimulatorThread: a TControllerSimulator on a thread of its own, for tests and benchmarks
// whose own thread is busy (a station flashing many units, a link that blocks while it
// waits) and still needs the controllers to answer at once and on time.
//
// TSimulatorThread owns the thread and the simulator living on it. Every call may come from
// any other thread and blocks until the simulator's thread has done it, so its effect is in
// place when it returns: after Start the units answer, after SetFaults the next command
// sees the new triggers. Reads hand back copies made on the simulator's thread. Run does
// anything else on that thread, e.g. adding a unit and setting its timing in one step, so
// that no command reaches it in between:
//
//   simulator.Run([&](TControllerSimulator& s) {
//       if (TSimController* unit = s.AddLiveController(config))
//           unit->SetFaults(timing);
//   });
//
// References handed to Run's work belong to the simulator's thread: keep none past it.
// An index must be below Count().
#pragma once

#include "OrvelSimulator.h"

#include <QThread>

#include <functional>
#include <type_traits>

class TSimulatorThread {
public:
    TSimulatorThread();    // the thread runs from here on, the simulator stopped
    ~TSimulatorThread();   // stops the simulator and ends the thread
    TSimulatorThread(const TSimulatorThread&) = delete;
    TSimulatorThread& operator=(const TSimulatorThread&) = delete;

    int AddController(const TSimControllerConfig& config);   // its index; before Start
    bool Start(int port = 0, QString* error = nullptr);
    // Its index, or -1 with the reason in error (see TControllerSimulator::AddLiveController).
    int AddLiveController(const TSimControllerConfig& config, QString* error = nullptr);
    // See TControllerSimulator::ReplaceController.
    std::unique_ptr<TSimController> ReplaceController(int index, const TSimControllerConfig& config);
    void Stop();

    int Port() const;   // 0 while stopped
    int Count() const;
    QString Address(int index) const;
    uint32_t Serial(int index) const;
    QByteArray Memory(int index, uint32_t address, uint32_t length) const;
    void SetFaults(int index, const TSimFaults& faults);

    // Runs work on the simulator's thread and returns when it is done; at once when called
    // on that thread.
    void Run(const std::function<void(TControllerSimulator&)>& work) const;

    // One unit as another thread sees it: each call runs on the simulator's thread and hands
    // back a copy. It reads like a pointer to the unit (unit->Serial()).
    class TUnit {
    public:
        TUnit() = default;
        TUnit(const TSimulatorThread* owner, int index) : FOwner(owner), FIndex(index) {}
        const TUnit* operator->() const { return this; }

        QString Address() const;
        uint32_t Serial() const;
        QByteArray Memory(uint32_t address, uint32_t length) const;
        void SetMemory(uint32_t address, const QByteArray& bytes) const;
        void SetFaults(const TSimFaults& faults) const;
        void Restart() const;
        QByteArray LoaderRecord() const;
        void SetLoaderRecord(const QByteArray& record) const;
        uint8_t PlcState() const;
        QByteArray Clock() const;
        QList<QByteArray> ReceivedFrames() const;
        QHash<uint8_t, int> CommandCounts() const;
        bool HoldsValidKernel() const;
        bool HoldsValidProgram() const;

    private:
        // Runs work on the unit, on the simulator's thread.
        void On(const std::function<void(TSimController&)>& work) const;
        // What read gives there, handed over to the calling thread.
        template <typename TRead>
        auto Get(TRead read) const
        {
            std::invoke_result_t<TRead, TSimController&> value{};
            On([&](TSimController& unit) { value = read(unit); });
            return value;
        }

        const TSimulatorThread* FOwner = nullptr;
        int FIndex = 0;
    };
    TUnit Unit(int index) const { return {this, index}; }

private:
    QThread FThread;
    TControllerSimulator* FSimulator;   // lives on FThread, deleted there as the thread ends
};
