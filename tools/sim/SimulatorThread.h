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

private:
    QThread FThread;
    TControllerSimulator* FSimulator;   // lives on FThread, deleted there as the thread ends
};
