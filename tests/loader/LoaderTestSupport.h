// LoaderTestSupport: a recording front end and a fixture that puts one simulated controller
// and the link on the loopback adapter, for the loader's end-to-end tests.
#pragma once

#include "LoaderSession.h"
#include "LoopbackAdapter.h"
#include "SimulatorThread.h"

#include <QList>
#include <QMap>
#include <QStringList>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <functional>
#include <memory>

// Records what the operations tell their front end. Calls holds every message and file
// error in order (messages as their text, the rest in brackets), so tests can see where the
// panel was cleared or an error shown.
class TRecordedEvents {
public:
    QStringList Messages;
    QStringList Calls;
    QStringList PlcStatus;
    QStringList Errors;
    QMap<TVerifyCheck, bool> Verify;
    QList<int32_t> Advanced;
    int LastTotal = 0;
    int LastTotalMaximum = 0;
    // Runs for every message, in the middle of the operation that logs it.
    std::function<void(const QString&)> OnMessage;
    // Runs for every move of the bars, with the bytes done of the whole operation.
    std::function<void(int total)> OnProgress;

    void Take(const TOperationEvent& event);
    TEventSink Sink()
    {
        return [this](const TOperationEvent& event) { Take(event); };
    }
    void Clear();
};

// Images the way the tests use them: the sample kernel with another version, for telling
// a unit's old kernel from the one a send writes.
QByteArray KernelWithVersion(QByteArray kernel, int headerOffset, uint16_t minor, uint16_t releaseArm);
// A kernel whose header claims another size than the image has.
QByteArray KernelClaimingSize(QByteArray kernel, int headerOffset, uint32_t imageSize);

class TLoaderFixture : public ::testing::Test {
public:
    void SetUp() override;
    void TearDown() override;

    // Adds one controller with this configuration, starts the simulator, binds the link to
    // the loopback adapter and creates the session. Call once per test.
    void Start(const TSimControllerConfig& config);
    // Steers the simulated unit: the given reply code for every frame of this command.
    void Refuse(uint8_t command, uint8_t code);
    // The window's Connect after the binding: "No serial number" when nadText is empty.
    TConnectResult Connect(const QString& nadText = {});
    // Writes a file into the test's folder; gives its path.
    QString WriteFile(const QString& name, const QByteArray& bytes);
    // Puts the files into job and loads them as the window does after a path change.
    void LoadFiles(TJob& job, const QByteArray& kernel, const QByteArray& program);
    QStringList ProductionLogLines() const;
    int CommandCount(uint8_t code) const;

    TLoopbackAdapter Loopback;   // the only adapter the link can see, so nothing leaves 127.0.0.0/8
    // The units answer from a thread of their own while the link blocks this one.
    TSimulatorThread Sim;
    TSimulatorThread::TUnit Unit;   // the unit Start added
    std::unique_ptr<TCommunicator> Link;
    TRecordedEvents Events;
    std::unique_ptr<TLoaderSession> Session;
    QTemporaryDir Dir;
    QList<int> Waits;   // the fixed waits the send asked for; the tests do not sleep
};
