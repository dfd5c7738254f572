// The window's session runner against simulated units on loopback: who wins when the operator
// changes the NAD while a connection waits for a unit that never answers, and a send whose
// reports reach the front end in the order the session gave them while its thread is free, and
// a unit that falls silent during a send, recorded as a station records it.
#include "LoopbackAdapter.h"
#include "OrvelSimulator.h"
#include "RecordStore.h"
#include "SampleImages.h"
#include "SessionRunner.h"
#include "TestPrinters.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <thread>

namespace {

// What happens while a first connection waits for NAD 4242, which nobody answers.
struct TTakeOverCase {
    const char* Name;
    std::function<void(TSessionRunner&, const std::function<void(const QString&)>& connect)> During;
    QStringList Connected;   // "serial outcome" per connection that reported, in order
    QStringList Messages;    // what the connections logged
    bool Discovered;         // the case ends with a discovery's list
};

class SessionRunnerTakeOver : public ::testing::TestWithParam<TTakeOverCase> {
protected:
    TLoopbackAdapter Loopback;
    TControllerSimulator Sim;
};

TEST_P(SessionRunnerTakeOver, OnlyTheNewestConnectionReports)
{
    TSimControllerConfig unit;
    unit.Serial = 1001;
    unit.Kernel = SampleKernel(3);   // a unit with a kernel says "connected"
    Sim.AddController(unit);
    QString error;
    ASSERT_TRUE(Sim.Start(0, &error)) << error.toStdString();

    TSessionRunner runner;
    TLinkOptions options;
    options.Port = Sim.Port();   // eight attempts of a second each: the first connection waits long
    runner.SetLink(options);
    QStringList connected;
    QStringList messages;
    bool discovered = false;
    QObject::connect(&runner, &TSessionRunner::Connected, [&](const TConnectResult& result) {
        connected << result.Panel.Serial + u' ' + QString::number(int(result.Outcome));
    });
    QObject::connect(&runner, &TSessionRunner::Message, [&](const QString& text) { messages << text; });
    QObject::connect(&runner, &TSessionRunner::Discovered, [&](const QStringList&) { discovered = true; });
    const auto connect = [&](const QString& nad) {
        runner.Connect({LoopbackAdapterName, false, TNadChoice{false, nad}, false});
    };

    QEventLoop idle;
    QObject::connect(&runner, &TSessionRunner::Idle, &idle, &QEventLoop::quit);
    QTimer::singleShot(60000, &idle, &QEventLoop::quit);
    QElapsedTimer clock;
    clock.start();
    connect(QStringLiteral("4242"));
    QTimer::singleShot(100, [&] { GetParam().During(runner, connect); });
    idle.exec();

    EXPECT_FALSE(runner.Busy());
    EXPECT_LT(clock.elapsed(), 4000) << "the first connection was not cut short";
    EXPECT_EQ(connected, GetParam().Connected);
    EXPECT_EQ(messages, GetParam().Messages);
    EXPECT_EQ(discovered, GetParam().Discovered);
}

const QString Answered = QString::number(int(TConnectOutcome::Answered));

INSTANTIATE_TEST_SUITE_P(
    Station, SessionRunnerTakeOver,
    ::testing::Values(TTakeOverCase{"newer_choice_takes_over",
                                    [](TSessionRunner&, const auto& connect) { connect(QStringLiteral("1001")); },
                                    {QStringLiteral("1001 ") + Answered},
                                    {"connected"},
                                    false},
                      TTakeOverCase{"two_newer_choices_connect_once_more_with_the_last",
                                    [](TSessionRunner&, const auto& connect) {
                                        connect(QStringLiteral("4243"));
                                        connect(QStringLiteral("1001"));
                                    },
                                    {QStringLiteral("1001 ") + Answered},
                                    {"connected"},
                                    false},
                      TTakeOverCase{"discovery_ends_the_connection_without_a_result",
                                    [](TSessionRunner& runner, const auto&) {
                                        runner.Discover({LoopbackAdapterName, false, {}, false}, 50);
                                    },
                                    {},
                                    {},
                                    true}),
    [](const auto& info) { return std::string(info.param.Name); });

// The window's runner connected to one simulated unit, with what it reports.
class WindowSession : public ::testing::Test {
protected:
    void SetUp() override
    {
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, Dir.path());
        qputenv("XDG_DATA_HOME", Dir.path().toLocal8Bit());
        // Every send keeps its unit's record in the default store: this test's own, never the
        // operator's.
        ASSERT_TRUE(TRecordStore::DefaultPath().startsWith(Dir.path())) << TRecordStore::DefaultPath().toStdString();
        TSimControllerConfig unit;
        unit.Serial = 1001;
        Sim.AddController(unit);
        QString error;
        ASSERT_TRUE(Sim.Start(0, &error)) << error.toStdString();
        TLinkOptions options;
        options.Port = Sim.Port();
        Runner.SetLink(options);
        Runner.SetProductionLogPath(Dir.filePath(QStringLiteral("window.log")));
        QObject::connect(&Runner, &TSessionRunner::Message, [this](const QString& text) { Messages << text; });
        QObject::connect(&Runner, &TSessionRunner::Finished, [this](const TUnitRecord& kept, bool) { Record = kept; });
        QObject::connect(&Runner, &TSessionRunner::StateChanged, [this](const TSessionState& now) { State = now; });
        Runner.Connect({LoopbackAdapterName, true, TNadChoice{false, QStringLiteral("1001")}, false});
        WaitIdle();
        ASSERT_TRUE(State.Connected);
        Messages.clear();
    }

    void WaitIdle()
    {
        QEventLoop idle;
        QObject::connect(&Runner, &TSessionRunner::Idle, &idle, &QEventLoop::quit);
        QTimer::singleShot(60000, &idle, &QEventLoop::quit);
        idle.exec();
    }

    // A send of the file, loaded as the window loads it.
    TUnitJob SendOf(TImageKind kind, const QByteArray& image)
    {
        QFile file(Dir.filePath(QStringLiteral("image.bin")));
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(image);
        file.close();
        TUnitJob job;
        job.Operation = TUnitOperation::Send;
        const bool kernel = kind == TImageKind::Kernel;
        (kernel ? job.What.Kernel : job.What.Program) = TJobFile{file.fileName(), QString()};
        Runner.LoadImageFiles(kind, job.What);
        return job;
    }

    const TLoopbackAdapter Loopback;
    QTemporaryDir Dir;
    TControllerSimulator Sim;
    TSessionRunner Runner;
    TSessionState State;
    QStringList Messages;
    TUnitRecord Record;
};

TEST_F(WindowSession, SendReportsInOrderWhileTheFrontEndThreadStaysFree)
{
    const TUnitJob job = SendOf(TImageKind::Program, SealedProgram(SampleProgram(64 * 1024), false));
    // The front end's thread handles its events all through the send: a timer every 5 ms
    // keeps firing.
    int ticks = 0;
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, [&] { ++ticks; });
    tick.start(5);
    Runner.Run(job);
    WaitIdle();

    EXPECT_EQ(Messages,
              QStringList({"plc program loaded", "erasing flash", "sending plc program", "sent successfully"}));
    EXPECT_EQ(Record.Outcome, TUnitOutcome::Succeeded);
    EXPECT_EQ(Record.ProgramStep, TStepResult::Ok);
    EXPECT_GT(ticks, 0);
}

// A unit that falls silent during the window's own send: its record says why in the words a
// station's record of the same unit would, not the log's bare "error".
TEST_F(WindowSession, UnitFallingSilentIsRecordedAsAStationRecordsIt)
{
    const TUnitJob job = SendOf(TImageKind::Kernel, SampleKernel(3, 48 * 1024));
    TSimFaults gone;   // a few blocks into the kernel
    gone.VanishAfterWrites = 3;
    Sim.Controller(0).SetFaults(gone);
    Runner.Run(job);
    WaitIdle();

    EXPECT_EQ(Messages.last(), QStringLiteral("error"));   // the log says what it always said
    EXPECT_EQ(Record.Outcome, TUnitOutcome::Failed);
    EXPECT_EQ(Record.Failure.Kind, TFailureKind::NotAnswering);
    EXPECT_EQ(Record.Message, QStringLiteral("error: the unit did not answer while sending kernel"));
    EXPECT_EQ(Record.KernelStep, TStepResult::Err);
}

// Requests given from a thread other than the runner's owner (a station's thread, a helper
// of the window): each is run and counted once, and the runner ends idle, saying so.
TEST(SessionRunner, RequestsFromAnotherThreadLeaveItIdle)
{
    TSessionRunner runner;
    int idles = 0;
    QObject::connect(&runner, &TSessionRunner::Idle, [&] { ++idles; });
    std::atomic<bool> given{false};
    std::thread giver([&runner, &given] {
        for (int i = 0; i < 20000; ++i)
            runner.SetFixedWaits([](int) {});
        given = true;
    });
    // The owner's thread takes the runner's reports while the other thread gives requests.
    QEventLoop loop;
    QTimer check;
    QObject::connect(&check, &QTimer::timeout, &loop, [&] {
        if (given && !runner.Busy())
            loop.quit();
    });
    check.start(1);
    QTimer::singleShot(20000, &loop, &QEventLoop::quit);
    loop.exec();
    giver.join();

    EXPECT_FALSE(runner.Busy()) << "requests given and not ended stay counted";
    EXPECT_GE(idles, 1);
}

}   // namespace
