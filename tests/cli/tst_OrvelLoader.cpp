// orvel-loader run as the operator runs it, against simulated units in this process on
// loopback: bad input refused before anything is sent, each exit code, several fresh units
// at once with --json parsed, a unit of the other platform, Ctrl-C, and the station.
// Every run names the loopback adapter, so nothing leaves 127.0.0.0/8.
#include "LoaderOptions.h"
#include "OrvelSimulator.h"
#include "SampleImages.h"
#include "TestPrinters.h"
#include "uABus.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

#include <csignal>
#include <functional>
#include <set>

namespace {

using ::PrintTo;   // table rows print as their names

struct TRun {
    int ExitCode = -1;
    QString Out;
    QString Err;
    QList<QJsonObject> Json;   // the lines of Out that are JSON objects

    QList<QJsonObject> Kind(const QString& kind) const
    {
        QList<QJsonObject> found;
        for (const QJsonObject& line : Json)
            if (line.value(QStringLiteral("kind")).toString() == kind)
                found << line;
        return found;
    }
};

class OrvelLoader : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(Dir.isValid());
        Kernel = WriteFile(QStringLiteral("kernel.bin"), SampleKernel(3, 16 * 1024));
        XaKernel = WriteFile(QStringLiteral("kernel-xa.bin"), SampleKernel(2, 16 * 1024));
        Program = WriteFile(QStringLiteral("program.bin"), SampleProgram(8 * 1024));
    }

    QString WriteFile(const QString& name, const QByteArray& bytes)
    {
        QFile file(Dir.filePath(name));
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
        return file.fileName();
    }

    void StartUnits(int fresh, const QList<TSimControllerConfig>& others = {})
    {
        for (int i = 0; i < fresh; ++i)
            Sim.AddController({});
        for (const TSimControllerConfig& config : others)
            Sim.AddController(config);
        QString error;
        ASSERT_TRUE(Sim.Start(0, &error)) << error.toStdString();
    }

    // Runs orvel-loader COMMAND on the loopback adapter and the simulator's port; the
    // simulator answers from this thread's events meanwhile. onLine sees each line of
    // standard output as it comes.
    TRun Run(QStringList arguments, const std::function<void(QProcess&, const QString&)>& onLine = {})
    {
        const QString command = arguments.takeFirst();
        arguments = QStringList{command, QStringLiteral("--adapter"), QStringLiteral("lo"), QStringLiteral("--port"),
                                QString::number(Sim.Port() ? Sim.Port() : 9)} +
                    arguments;
        QProcess process;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("HOME"), Dir.path());   // the settings store, kept apart
        environment.insert(QStringLiteral("XDG_CONFIG_HOME"), Dir.filePath(QStringLiteral("config")));
        environment.remove(QStringLiteral("ORVEL_PASSWORD"));
        process.setProcessEnvironment(environment);
        TRun run;
        QObject::connect(&process, &QProcess::readyReadStandardOutput, [&] {
            while (process.canReadLine()) {
                const QString line = QString::fromUtf8(process.readLine());
                run.Out += line;
                const QJsonObject json = QJsonDocument::fromJson(line.toUtf8()).object();
                if (!json.isEmpty())
                    run.Json << json;
                if (onLine)
                    onLine(process, line);
            }
        });
        QEventLoop ended;
        QObject::connect(&process, &QProcess::finished, &ended, &QEventLoop::quit);
        QObject::connect(&process, &QProcess::errorOccurred, &ended, &QEventLoop::quit);
        QTimer::singleShot(60000, &ended, &QEventLoop::quit);   // a run that never ends fails the test
        process.start(QStringLiteral(ORVEL_LOADER), arguments);
        ended.exec();
        if (process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished();
        }
        run.Out += QString::fromUtf8(process.readAllStandardOutput());
        run.Err = QString::fromUtf8(process.readAllStandardError());
        run.ExitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
        return run;
    }

    int FramesReceived()
    {
        int frames = 0;
        for (int i = 0; i < Sim.Count(); ++i)
            frames += int(Sim.Controller(i).ReceivedFrames.size());
        return frames;
    }

    QTemporaryDir Dir;
    TControllerSimulator Sim;
    QString Kernel, XaKernel, Program;
};

// ---- bad input: refused in words that name it, before anything is sent ----

struct TBadInputCase {
    const char* Name;
    QStringList Arguments;   // after "send --fresh"
    const char* Says;        // part of the refusal
};

class OrvelLoaderBadInput : public OrvelLoader, public ::testing::WithParamInterface<TBadInputCase> {};

TEST_P(OrvelLoaderBadInput, IsRefusedBeforeAnyUnitIsTouched)
{
    StartUnits(1);
    QStringList arguments = GetParam().Arguments;
    for (QString& argument : arguments)
        argument.replace(QStringLiteral("DIR"), Dir.path());
    WriteFile(QStringLiteral("huge.bin"), QByteArray(70000, '\0'));
    WriteFile(QStringLiteral("junk.bin"), QByteArray(20000, '\x11'));
    const TRun run = Run(QStringList{QStringLiteral("send"), QStringLiteral("--fresh")} + arguments);
    EXPECT_EQ(run.ExitCode, ExitBadInput) << run.Out.toStdString();
    EXPECT_TRUE(run.Err.contains(QLatin1String(GetParam().Says))) << run.Err.toStdString();
    EXPECT_EQ(FramesReceived(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Cli, OrvelLoaderBadInput,
    ::testing::Values(
        TBadInputCase{"missing_kernel", {"--kernel", "DIR/none.bin"}, "kernel file not found"},
        TBadInputCase{"oversize_kernel", {"--kernel", "DIR/huge.bin"}, "kernel file too large"},
        TBadInputCase{"no_kernel_for_either_platform", {"--kernel", "DIR/junk.bin"}, "not a valid kernel file"},
        TBadInputCase{"invalid_program", {"--program", "DIR/junk.bin"}, "not a valid plc program file"},
        TBadInputCase{"unknown_model", {"--model", "Orvel-X"}, "unknown hardware model: \"Orvel-X\""},
        TBadInputCase{"unknown_baud_rate", {"--iex-baud", "300"}, "unknown IEX baud rate"},
        TBadInputCase{"bad_ip_text", {"--ip", "10.0.0.256", "--mask", "255.0.0.0"}, "--ip: not an IP address"},
        TBadInputCase{"bad_mask", {"--ip", "10.0.0.5", "--mask", "255.0.255.0"}, "--mask: not a subnet mask"},
        TBadInputCase{"dhcp_and_static", {"--dhcp", "--ip", "10.0.0.5"}, "--dhcp goes with none"},
        TBadInputCase{"negative_alias", {"--nad-alias", "-3"}, "invalid NAD alias"},
        TBadInputCase{"serial_zero", {"--serial", "0"}, "invalid serial number"},
        TBadInputCase{"serial_negative", {"--serial", "-5"}, "invalid serial number"},
        TBadInputCase{"serial_too_large", {"--serial", "2147483648"}, "invalid serial number"},
        TBadInputCase{"autoincrement_without_a_kept_number", {"--autoincrement"}, "no serial number is kept"},
        TBadInputCase{"unknown_adapter", {"--adapter", "nosuch0"}, "no adapter is named or addressed \"nosuch0\""},
        TBadInputCase{"missing_password_file", {"--password-file", "DIR/none.txt"}, "can't read the password file"},
        TBadInputCase{"unknown_option", {"--kernal", "x.bin"}, "Unknown option"}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST_F(OrvelLoader, UsageMistakesAndHelp)
{
    EXPECT_EQ(Run({QStringLiteral("flash")}).ExitCode, ExitBadInput);
    const TRun noUnits = Run({QStringLiteral("send")});
    EXPECT_EQ(noUnits.ExitCode, ExitBadInput);
    EXPECT_TRUE(noUnits.Err.contains(QLatin1String("name the units")));
    const TRun help = Run({QStringLiteral("station"), QStringLiteral("--help")});
    EXPECT_EQ(help.ExitCode, ExitOk);
    EXPECT_TRUE(help.Out.contains(QLatin1String("--parallel"))) << help.Out.toStdString();
}

// ---- exit codes over real runs ----

TEST_F(OrvelLoader, NoUnitAnsweringGivesThree)
{
    StartUnits(0);
    const TRun run = Run({QStringLiteral("info"), QStringLiteral("--all")});
    EXPECT_EQ(run.ExitCode, ExitNoUnit);
    EXPECT_TRUE(run.Out.contains(QLatin1String("no unit answered"))) << run.Out.toStdString();
}

TEST_F(OrvelLoader, FourFreshUnitsGetConsecutiveNumbersAndJsonSaysSo)
{
    StartUnits(4);
    const QString log = Dir.filePath(QStringLiteral("production.log"));
    const TRun run = Run({QStringLiteral("send"), QStringLiteral("--fresh"), QStringLiteral("--kernel"), Kernel,
                          QStringLiteral("--program"), Program, QStringLiteral("--serial"), QStringLiteral("1000"),
                          QStringLiteral("--verify"), QStringLiteral("--json"), QStringLiteral("--log"), log});
    EXPECT_EQ(run.ExitCode, ExitOk) << run.Out.toStdString();
    for (const QString& line : run.Out.split(u'\n', Qt::SkipEmptyParts))
        EXPECT_FALSE(QJsonDocument::fromJson(line.toUtf8()).isNull()) << "not JSON: " << line.toStdString();
    const QList<QJsonObject> results = run.Kind(QStringLiteral("result"));
    ASSERT_EQ(results.size(), 4);
    std::set<int> serials;
    for (const QJsonObject& result : results) {
        EXPECT_EQ(result.value(QStringLiteral("outcome")).toString(), QStringLiteral("ok"));
        EXPECT_EQ(result.value(QStringLiteral("steps")).toObject().value(QStringLiteral("verify")).toString(),
                  QStringLiteral("ok"));
        EXPECT_EQ(result.value(QStringLiteral("kernelSha256")).toString().size(), 64);
        EXPECT_EQ(result.value(QStringLiteral("programFile")).toString(), QStringLiteral("program.bin"));
        serials.insert(result.value(QStringLiteral("serial")).toInt());
    }
    EXPECT_EQ(serials, (std::set<int>{1000, 1001, 1002, 1003}));
    EXPECT_FALSE(run.Kind(QStringLiteral("message")).isEmpty());
    EXPECT_FALSE(run.Kind(QStringLiteral("progress")).isEmpty());
    QFile file(log);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll().count("\r\n"), 4);
}

TEST_F(OrvelLoader, UnitOfTheOtherPlatformFailsAloneAndGivesOne)
{
    TSimControllerConfig xa;
    xa.LoaderMajor = 2;
    StartUnits(1, {xa});
    const TRun run = Run({QStringLiteral("send"), QStringLiteral("--fresh"), QStringLiteral("--kernel"), XaKernel,
                          QStringLiteral("--json"), QStringLiteral("--log"), Dir.filePath(QStringLiteral("p.log"))});
    EXPECT_EQ(run.ExitCode, ExitUnitFailed);
    const QList<QJsonObject> results = run.Kind(QStringLiteral("result"));
    ASSERT_EQ(results.size(), 2);
    for (const QJsonObject& result : results) {
        const bool xaUnit = result.value(QStringLiteral("platform")).toString() == QStringLiteral("Orvel/XA");
        EXPECT_EQ(result.value(QStringLiteral("outcome")).toString(), xaUnit ? "ok" : "failed");
        if (!xaUnit) {
            EXPECT_EQ(result.value(QStringLiteral("message")).toString(), QStringLiteral("error: no valid kernel file"));
        }
    }
}

// Ctrl-C in the middle: every unit stops after its request under way and says what it got.
TEST_F(OrvelLoader, InterruptStopsEveryUnitAndGivesOneHundredThirty)
{
    StartUnits(2);
    for (int i = 0; i < 2; ++i) {
        TSimFaults slow;
        slow.LatencyMs = 3;   // so that the run is still under way when the signal comes
        Sim.Controller(i).SetFaults(slow);
    }
    bool signalled = false;
    const TRun run = Run({QStringLiteral("send"), QStringLiteral("--fresh"), QStringLiteral("--kernel"), Kernel,
                          QStringLiteral("--serial"), QStringLiteral("10"), QStringLiteral("--json"),
                          QStringLiteral("--log"), Dir.filePath(QStringLiteral("p.log"))},
                         [&signalled](QProcess& process, const QString& line) {
                             if (!signalled && line.contains(QLatin1String("sending kernel"))) {
                                 signalled = true;
                                 ::kill(pid_t(process.processId()), SIGINT);
                             }
                         });
    EXPECT_TRUE(signalled);
    EXPECT_EQ(run.ExitCode, ExitInterrupted) << run.Out.toStdString();
    const QList<QJsonObject> results = run.Kind(QStringLiteral("result"));
    ASSERT_EQ(results.size(), 2);
    for (const QJsonObject& result : results) {
        EXPECT_EQ(result.value(QStringLiteral("outcome")).toString(), QStringLiteral("interrupted"));
        const QJsonObject steps = result.value(QStringLiteral("steps")).toObject();
        EXPECT_EQ(steps.value(QStringLiteral("serial")).toString(), QStringLiteral("ok"));
        EXPECT_EQ(steps.value(QStringLiteral("kernel")).toString(), QStringLiteral("err"));
    }
}

TEST_F(OrvelLoader, StationFlashesFreshUnitsOnceUntilEnoughAreDone)
{
    TSimControllerConfig numbered;
    numbered.Serial = 77;
    StartUnits(3, {numbered});
    const TRun run = Run({QStringLiteral("station"), QStringLiteral("--kernel"), Kernel, QStringLiteral("--serial"),
                          QStringLiteral("500"), QStringLiteral("--units"), QStringLiteral("3"),
                          QStringLiteral("--scan"), QStringLiteral("200"), QStringLiteral("--json"),
                          QStringLiteral("--log"), Dir.filePath(QStringLiteral("p.log"))});
    EXPECT_EQ(run.ExitCode, ExitOk) << run.Out.toStdString();
    const QList<QJsonObject> results = run.Kind(QStringLiteral("result"));
    ASSERT_EQ(results.size(), 3);
    std::set<int> serials;
    for (const QJsonObject& result : results)
        serials.insert(result.value(QStringLiteral("serial")).toInt());
    EXPECT_EQ(serials, (std::set<int>{500, 501, 502}));
    EXPECT_EQ(Sim.Controller(3).CommandCounts.value(CmdWriteBlock), 0);   // the numbered unit was left alone
}

// Units arrive one after the other while the station runs, as on a production line.
TEST_F(OrvelLoader, StationTakesUnitsAsTheyArrive)
{
    StartUnits(1);
    for (const int after : {400, 900}) {
        QTimer::singleShot(after, &Sim, [this] {
            QString error;
            EXPECT_NE(Sim.AddLiveController({}, &error), nullptr) << error.toStdString();
        });
    }
    const TRun run = Run({QStringLiteral("station"), QStringLiteral("--kernel"), Kernel, QStringLiteral("--serial"),
                          QStringLiteral("600"), QStringLiteral("--units"), QStringLiteral("3"),
                          QStringLiteral("--scan"), QStringLiteral("150"), QStringLiteral("--json"),
                          QStringLiteral("--log"), Dir.filePath(QStringLiteral("p.log"))});
    EXPECT_EQ(run.ExitCode, ExitOk) << run.Out.toStdString();
    std::set<int> serials;
    for (const QJsonObject& result : run.Kind(QStringLiteral("result")))
        serials.insert(result.value(QStringLiteral("serial")).toInt());
    EXPECT_EQ(serials, (std::set<int>{600, 601, 602}));
    ASSERT_EQ(Sim.Count(), 3);
    for (int i = 0; i < 3; ++i)
        EXPECT_TRUE(Sim.Controller(i).HoldsValidKernel()) << i;
}

}  // namespace
