// orvel-loader run as the operator runs it, against simulated units in this process on
// loopback: bad input refused before anything is sent, each exit code, several fresh units
// at once with --json parsed, a unit of the other platform, Ctrl-C, the station, and the
// record store the runs write and the store commands read (SQLite files in a temporary
// folder; this process plays the other program that holds a store locked).
// Every run names the loopback adapter, so nothing leaves 127.0.0.0/8.
#include "LoaderOptions.h"
#include "OrvelSimulator.h"
#include "Recipe.h"
#include "SampleImages.h"
#include "SettingNames.h"
#include "TestPrinters.h"
#include "uABus.h"
#include "StoreCommands.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSet>
#include <QSqlDatabase>
#include <QSqlQuery>
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
        return RunThrough({}, std::move(arguments), onLine);
    }

    // Runs orvel-loader as Run does, its standard output piped into the shell command pipe
    // (empty: read here); Tick, when set, sees the process every 10 ms.
    TRun RunThrough(const QString& pipe, QStringList arguments,
                    const std::function<void(QProcess&, const QString&)>& onLine = {})
    {
        const QString command = arguments.takeFirst();
        arguments = QStringList{command, QStringLiteral("--adapter"), QStringLiteral("lo"), QStringLiteral("--port"),
                                QString::number(Sim.Port() ? Sim.Port() : 9)} +
                    arguments;
        QProcess process;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("HOME"), Dir.path());   // the settings store, kept apart
        environment.insert(QStringLiteral("XDG_CONFIG_HOME"), Dir.filePath(QStringLiteral("config")));
        environment.insert(QStringLiteral("XDG_DATA_HOME"),
                           Dir.filePath(QStringLiteral("data")));   // the default store
        environment.remove(QStringLiteral("ORVEL_PASSWORD"));
        environment.remove(QStringLiteral("ORVEL_RECORDS"));
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
        QTimer tick;
        if (Tick) {
            QObject::connect(&tick, &QTimer::timeout, [&] { Tick(process); });
            tick.start(10);
        }
        if (pipe.isEmpty()) {
            process.start(QStringLiteral(ORVEL_LOADER), arguments);
        } else {
            // The shell tells the loader's own exit code on its last line of standard error.
            process.start(QStringLiteral("bash"),
                          QStringList{QStringLiteral("-c"),
                                      QStringLiteral("\"$0\" \"$@\" | ") + pipe +
                                          QStringLiteral("; echo \"loader exit ${PIPESTATUS[0]}\" >&2"),
                                      QStringLiteral(ORVEL_LOADER)} +
                              arguments);
        }
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

    // A recipe of the files given (empty: none), with its series (empty: none), saved as
    // DIR/name.
    QString SaveRecipe(const QString& name, const QString& kernel, const QString& program, const QString& series,
                       bool verify = false)
    {
        TJob job;
        if (!kernel.isEmpty())
            job.Kernel = TJobFile{kernel, QString()};
        if (!program.isEmpty())
            job.Program = TJobFile{program, QString()};
        job.Verify = verify;
        TRecipe recipe;
        QString error;
        const QString path = Dir.filePath(name);
        EXPECT_TRUE(RecipeOfJob(QStringLiteral("release 3.1"), job, series, recipe, error) &&
                    WriteRecipe(path, recipe, error))
            << error.toStdString();
        return path;
    }

    int FramesReceived()
    {
        int frames = 0;
        for (int i = 0; i < Sim.Count(); ++i)
            frames += int(Sim.Controller(i).ReceivedFrames.size());
        return frames;
    }

    // orvel-loader send --fresh --no-serial of the kernel, its records in store, while another
    // program holds the store's write lock: a SIGINT 500 ms after unit 0 holds its kernel, a
    // second at the run's "interrupted:" line.
    TRun SendInterruptedTwiceWhileTheStoreIsHeld(const QString& store)
    {
        const QString holder = QStringLiteral("the other program");
        TRun run;
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), holder);
            db.setDatabaseName(store);
            EXPECT_TRUE(db.open());
            QSqlQuery lock(db);
            EXPECT_TRUE(lock.exec(QStringLiteral("BEGIN IMMEDIATE")));
            QElapsedTimer sent;
            int signals = 0;
            Tick = [this, &sent, &signals](QProcess& process) {
                if (!sent.isValid() && Sim.Controller(0).HoldsValidKernel())
                    sent.start();
                if (signals == 0 && sent.isValid() && sent.elapsed() > 500) {
                    ++signals;
                    ::kill(pid_t(process.processId()), SIGINT);
                }
            };
            run = Run({QStringLiteral("send"), QStringLiteral("--fresh"), QStringLiteral("--no-serial"),
                       QStringLiteral("--kernel"), Kernel, QStringLiteral("--records"), store, QStringLiteral("--json"),
                       QStringLiteral("--log"), Dir.filePath(QStringLiteral("p.log"))},
                      [&signals](QProcess& process, const QString& line) {
                          if (signals == 1 && line.contains(QLatin1String("interrupted: "))) {
                              ++signals;
                              ::kill(pid_t(process.processId()), SIGINT);
                          }
                      });
            Tick = {};
            EXPECT_EQ(signals, 2) << run.Out.toStdString();
            lock.exec(QStringLiteral("ROLLBACK"));
        }
        QSqlDatabase::removeDatabase(holder);
        return run;
    }

    QTemporaryDir Dir;
    TControllerSimulator Sim;
    std::function<void(QProcess&)> Tick;
    QString Kernel, XaKernel, Program;
};

// ---- bad input: refused in words that name it, before anything is sent ----

struct TBadInputCase {
    const char* Name;
    QStringList Arguments;   // after "send --fresh"
    const char* Says;        // part of the refusal
};

// A recipe that writes one static address and no serial number.
const char* const StaticAddressRecipe = R"({"format": "orvel-recipe", "version": 1, "name": "r",
    "settings": {"ip": {"dhcp": false, "address": "10.0.0.5", "mask": "255.0.0.0", "gateway": "0.0.0.0",
                        "dns": "0.0.0.0"}}})";

class OrvelLoaderBadInput : public OrvelLoader, public ::testing::WithParamInterface<TBadInputCase> {};

TEST_P(OrvelLoaderBadInput, IsRefusedBeforeAnyUnitIsTouched)
{
    StartUnits(1);
    QStringList arguments = GetParam().Arguments;
    for (QString& argument : arguments)
        argument.replace(QStringLiteral("DIR"), Dir.path());
    WriteFile(QStringLiteral("huge.bin"), QByteArray(70000, '\0'));
    WriteFile(QStringLiteral("junk.bin"), QByteArray(20000, '\x11'));
    // Recipes whose kernel or program changed since they were saved; one of a newer version.
    const QString kernel = WriteFile(QStringLiteral("kr.bin"), SampleKernel(3, 16 * 1024));
    const QString program = WriteFile(QStringLiteral("pr.bin"), SampleProgram(8 * 1024));
    SaveRecipe(QStringLiteral("changed-kernel.recipe"), kernel, Program, QString());
    SaveRecipe(QStringLiteral("changed-program.recipe"), Kernel, program, QString());
    WriteFile(QStringLiteral("kr.bin"), SampleKernel(3, 20 * 1024));
    WriteFile(QStringLiteral("pr.bin"), SampleProgram(9 * 1024));
    WriteFile(QStringLiteral("newer.recipe"), R"({"format": "orvel-recipe", "version": 2, "name": "r"})");
    WriteFile(QStringLiteral("static.recipe"), StaticAddressRecipe);
    const TRun run = Run(QStringList{QStringLiteral("send"), QStringLiteral("--fresh")} + arguments);
    // A store that cannot be opened is no bad input, but refused as early.
    const bool store = QLatin1String(GetParam().Says).startsWith(QLatin1String("record store"));
    EXPECT_EQ(run.ExitCode, store ? ExitStore : ExitBadInput) << run.Out.toStdString();
    EXPECT_TRUE(
        (run.Out + run.Err).contains(QString::fromLatin1(GetParam().Says).replace(QStringLiteral("DIR"), Dir.path())))
        << run.Err.toStdString() << run.Out.toStdString();
    EXPECT_FALSE(run.Err.contains(QLatin1String("QIODevice"))) << run.Err.toStdString();   // the words are ours
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
        TBadInputCase{"station_name_of_two_lines",
                      {"--serial", "5", "--station", "line\n1"},
                      "--station: a name without control characters"},
        TBadInputCase{"serial_negative", {"--serial", "-5"}, "invalid serial number"},
        TBadInputCase{"serial_too_large", {"--serial", "2147483648"}, "invalid serial number"},
        TBadInputCase{"serial_with_a_blank", {"--serial", " 5"}, "invalid serial number: \" 5\""},
        TBadInputCase{"serial_in_hexadecimal", {"--serial", "0x10"}, "invalid serial number: \"0x10\""},
        TBadInputCase{"fresh_units_without_a_number_source",
                      {},
                      "--series NAME, --serial N, --autoincrement or --no-serial"},
        // Each unit would be counted done with nothing written into it.
        TBadInputCase{"nothing_to_send", {"--no-serial"}, "nothing to send: give --kernel, --program"},
        TBadInputCase{"no_serial_and_a_number_source",
                      {"--no-serial", "--serial", "5"},
                      "--no-serial goes with none of"},
        TBadInputCase{"one_static_address_for_every_fresh_unit",
                      {"--serial", "5", "--ip", "10.0.0.5", "--mask", "255.0.0.0"},
                      "--ip would give every unit the same address"},
        TBadInputCase{"one_alias_for_every_fresh_unit",
                      {"--serial", "5", "--nad-alias", "7"},
                      "--nad-alias would give every unit the same alias"},
        TBadInputCase{"misspelt_series",
                      {"--records", "DIR/r.sqlite", "--series", "defualt"},
                      "no serial number series \"defualt\" in the record store DIR/r.sqlite"},
        TBadInputCase{"autoincrement_without_a_kept_number", {"--autoincrement"}, "no serial number is kept"},
        TBadInputCase{"unknown_adapter", {"--adapter", "nosuch0"}, "no adapter is named or addressed \"nosuch0\""},
        TBadInputCase{"missing_password_file", {"--password-file", "DIR/none.txt"}, "can't read the password file"},
        TBadInputCase{"unknown_option", {"--kernal", "x.bin"}, "Unknown option"},
        TBadInputCase{"two_sources_of_serial_numbers",
                      {"--series", "default", "--serial", "5"},
                      "--series goes with neither"},
        TBadInputCase{"local_numbers_with_a_named_store",
                      {"--records", "DIR/r.sqlite", "--autoincrement"},
                      "with the record store --records serial numbers come from its series: use --series NAME"},
        TBadInputCase{"recipe_whose_kernel_changed",
                      {"--recipe", "DIR/changed-kernel.recipe"},
                      "kernel file changed since the recipe was saved: DIR/kr.bin"},
        TBadInputCase{"recipe_whose_program_changed",
                      {"--recipe", "DIR/changed-program.recipe"},
                      "plc program file changed since the recipe was saved: DIR/pr.bin"},
        TBadInputCase{"recipe_of_a_newer_version",
                      {"--recipe", "DIR/newer.recipe"},
                      "recipe DIR/newer.recipe: made by a newer OrvelBinLoader"},
        TBadInputCase{"recipe_missing", {"--recipe", "DIR/none.recipe"}, "recipe DIR/none.recipe: not found"},
        TBadInputCase{"recipe_with_one_static_address_for_every_fresh_unit",
                      {"--recipe", "DIR/static.recipe"},
                      "the recipe's static address would give every unit the same address"},
        TBadInputCase{"store_that_cannot_be_opened",
                      {"--records", "DIR/huge.bin/r.sqlite", "--no-serial", "--kernel", "DIR/kernel.bin"},
                      "record store DIR/huge.bin/r.sqlite: can't open"}),
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
    EXPECT_TRUE(help.Out.contains(QLatin1String("--no-serial"))) << help.Out.toStdString();
    const TRun noNumbers = Run({QStringLiteral("station"), QStringLiteral("--kernel"), Kernel});
    EXPECT_EQ(noNumbers.ExitCode, ExitBadInput);
    EXPECT_TRUE(noNumbers.Err.contains(QLatin1String("say where serial numbers come from")))
        << noNumbers.Err.toStdString();
    // One unit named may take one static address.
    const TRun oneUnit = Run({QStringLiteral("send"), QStringLiteral("127.0.0.2"), QStringLiteral("--ip"),
                              QStringLiteral("10.0.0.5"), QStringLiteral("--mask"), QStringLiteral("255.0.0.0")});
    EXPECT_EQ(oneUnit.ExitCode, ExitNoUnit) << oneUnit.Err.toStdString();
}

// ---- exit codes over real runs ----

// The kept counter has given 2147483647: nothing is left to start with.
TEST_F(OrvelLoader, AutoincrementWithEveryNumberGivenIsRefused)
{
    StartUnits(1);
    ASSERT_TRUE(QDir().mkpath(Dir.filePath(QStringLiteral("config/Maradine"))));
    WriteFile(QStringLiteral("config/Maradine/OrvelBinLoader.conf"), "[General]\nSerialNumber=2147483648\n");
    const TRun run = Run({QStringLiteral("send"), QStringLiteral("--fresh"), QStringLiteral("--autoincrement")});
    EXPECT_EQ(run.ExitCode, ExitBadInput) << run.Out.toStdString();
    EXPECT_TRUE(run.Err.contains(QLatin1String("every serial number up to 2147483647 has been given")))
        << run.Err.toStdString();
    EXPECT_EQ(FramesReceived(), 0);
}

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
                          QStringLiteral("--no-serial"), QStringLiteral("--json"), QStringLiteral("--log"),
                          Dir.filePath(QStringLiteral("p.log"))});
    EXPECT_EQ(run.ExitCode, ExitUnitFailed);
    const QList<QJsonObject> results = run.Kind(QStringLiteral("result"));
    ASSERT_EQ(results.size(), 2);
    for (const QJsonObject& result : results) {
        const bool xaUnit = result.value(QStringLiteral("platform")).toString() == QStringLiteral("Orvel/XA");
        EXPECT_EQ(result.value(QStringLiteral("outcome")).toString(), xaUnit ? "ok" : "failed");
        if (!xaUnit) {
            EXPECT_EQ(result.value(QStringLiteral("message")).toString(),
                      QStringLiteral("error: no valid kernel file"));
        }
    }
}

// The summary names each failed unit's cause and counts the units by kind of failure.
TEST_F(OrvelLoader, SummaryCountsFailuresByKind)
{
    TSimControllerConfig xa;
    xa.LoaderMajor = 2;
    StartUnits(1, {xa});
    const TRun run = Run({QStringLiteral("send"), QStringLiteral("--fresh"), QStringLiteral("--kernel"), XaKernel,
                          QStringLiteral("--no-serial"), QStringLiteral("--log"),
                          Dir.filePath(QStringLiteral("p.log"))});
    EXPECT_EQ(run.ExitCode, ExitUnitFailed);
    // The failed unit's line ends with why, and the summary's last line counts the kinds.
    EXPECT_TRUE(run.Out.contains(QStringLiteral("  (error: no valid kernel file)\n"))) << run.Out.toStdString();
    EXPECT_TRUE(run.Out.endsWith(QStringLiteral("\nnot done: 1 wrong platform\n"))) << run.Out.toStdString();
}

// ---- signals: an orderly stop, a record for every unit written ----

struct TSignalCase {
    const char* Name;
    int Signal;
    int ExitCode;
};

class OrvelLoaderSignal : public OrvelLoader, public ::testing::WithParamInterface<TSignalCase> {};

// INT (Ctrl-C), TERM (a service stopped) and HUP (the SSH terminal closed) in the middle:
// every unit stops after its request under way and says what it got.
TEST_P(OrvelLoaderSignal, StopsEveryUnitAndSaysWhichSignal)
{
    StartUnits(2);
    for (int i = 0; i < 2; ++i) {
        TSimFaults slow;
        slow.LatencyMs = 3;   // so that the run is still under way when the signal comes
        Sim.Controller(i).SetFaults(slow);
    }
    // The signal comes once both units write their kernel: each has its number, neither its
    // kernel, however late a busy machine started the second runner.
    bool signalled = false;
    QSet<QString> sending;
    const int signal = GetParam().Signal;
    const TRun run = Run({QStringLiteral("send"), QStringLiteral("--fresh"), QStringLiteral("--kernel"), Kernel,
                          QStringLiteral("--serial"), QStringLiteral("10"), QStringLiteral("--json"),
                          QStringLiteral("--log"), Dir.filePath(QStringLiteral("p.log"))},
                         [&signalled, &sending, signal](QProcess& process, const QString& line) {
                             const QJsonObject json = QJsonDocument::fromJson(line.toUtf8()).object();
                             if (json.value(QStringLiteral("text")).toString() == QStringLiteral("sending kernel"))
                                 sending.insert(json.value(QStringLiteral("unit")).toString());
                             if (!signalled && sending.size() == 2) {
                                 signalled = true;
                                 ::kill(pid_t(process.processId()), signal);
                             }
                         });
    EXPECT_TRUE(signalled);
    EXPECT_EQ(run.ExitCode, GetParam().ExitCode) << run.Out.toStdString();
    const QList<QJsonObject> results = run.Kind(QStringLiteral("result"));
    ASSERT_EQ(results.size(), 2);
    for (const QJsonObject& result : results) {
        EXPECT_EQ(result.value(QStringLiteral("outcome")).toString(), QStringLiteral("interrupted"));
        const QJsonObject steps = result.value(QStringLiteral("steps")).toObject();
        EXPECT_EQ(steps.value(QStringLiteral("serial")).toString(), QStringLiteral("ok"));
        EXPECT_EQ(steps.value(QStringLiteral("kernel")).toString(), QStringLiteral("interrupted"));
    }
    const TRun records = Run({QStringLiteral("records"), QStringLiteral("--json")});
    EXPECT_EQ(records.Json.size(), 2) << records.Out.toStdString() << records.Err.toStdString();
}

INSTANTIATE_TEST_SUITE_P(Cli, OrvelLoaderSignal,
                         ::testing::Values(TSignalCase{"interrupt", SIGINT, ExitInterrupted},
                                           TSignalCase{"terminate", SIGTERM, ExitTerminated},
                                           TSignalCase{"hang_up", SIGHUP, ExitHangUp}),
                         [](const auto& info) { return std::string(info.param.Name); });

// A signal while the first discovery still collects answers ends the run there, at once:
// the discovery waits no longer, and no unit is touched.
class OrvelLoaderSignalInDiscovery : public OrvelLoader, public ::testing::WithParamInterface<const char*> {};

TEST_P(OrvelLoaderSignalInDiscovery, EndsTheRun)
{
    StartUnits(1);
    QStringList arguments = QString::fromLatin1(GetParam()).split(u' ');
    for (QString& argument : arguments) {
        argument.replace(QStringLiteral("KERNEL"), Kernel);
        argument.replace(QStringLiteral("DIR"), Dir.path());
    }
    QElapsedTimer signalled;
    Tick = [this, &signalled](QProcess& process) {
        if (!signalled.isValid() && FramesReceived() > 0) {   // the discovery's broadcast is out
            signalled.start();
            ::kill(pid_t(process.processId()), SIGINT);
        }
    };
    const int wait = 3000;
    const TRun run = Run(arguments + QStringList{QStringLiteral("--wait"), QString::number(wait)});
    ASSERT_TRUE(signalled.isValid());
    // Generous for a busy machine; a discovery that ran its wait out takes all of it.
    EXPECT_LT(signalled.elapsed(), wait / 2) << "the discovery waited on after the signal";
    EXPECT_EQ(run.ExitCode, ExitInterrupted) << run.Out.toStdString() << run.Err.toStdString();
    EXPECT_TRUE(run.Out.contains(QLatin1String("interrupted: every unit stops"))) << run.Out.toStdString();
    EXPECT_EQ(FramesReceived(), 1) << "more than the discovery reached the unit";
}

INSTANTIATE_TEST_SUITE_P(Cli, OrvelLoaderSignalInDiscovery,
                         ::testing::Values("discover", "send --fresh --no-serial --kernel KERNEL",
                                           "verify --all --kernel KERNEL", "info --all", "start --all", "stop --all",
                                           "dump kernel 127.0.0.2 -o DIR/dump.bin",
                                           "station --no-serial --kernel KERNEL"),
                         [](const auto& info) {
                             return std::string(QString::fromLatin1(info.param).section(u' ', 0, 0).toLatin1());
                         });

// A second Ctrl-C ends the run at once, the unit's erase still under way, and keeps a
// record for it all the same.
TEST_F(OrvelLoader, SecondSignalEndsTheRunAtOnceWithARecordForEveryUnit)
{
    StartUnits(1);
    TSimFaults endlessErase;
    endlessErase.LatencyFor.insert(CmdEraseFlash, 100000);
    Sim.Controller(0).SetFaults(endlessErase);
    int signals = 0;
    const TRun run = Run({QStringLiteral("send"), QStringLiteral("--fresh"), QStringLiteral("--kernel"), Kernel,
                          QStringLiteral("--serial"), QStringLiteral("40"), QStringLiteral("--timeout"),
                          QStringLiteral("200000"), QStringLiteral("--log"), Dir.filePath(QStringLiteral("p.log"))},
                         [&signals](QProcess& process, const QString& line) {
                             // The first when the erase starts, the second once the first was heard.
                             if ((signals == 0 && line.contains(QLatin1String("erasing flash"))) ||
                                 (signals == 1 && line.contains(QLatin1String("interrupted: ")))) {
                                 ++signals;
                                 ::kill(pid_t(process.processId()), SIGINT);
                             }
                         });
    EXPECT_EQ(signals, 2) << run.Out.toStdString();
    EXPECT_EQ(run.ExitCode, ExitInterrupted) << run.Out.toStdString();
    const TRun records = Run({QStringLiteral("records"), QStringLiteral("--json")});
    ASSERT_EQ(records.Json.size(), 1) << records.Out.toStdString() << records.Err.toStdString();
    EXPECT_EQ(records.Json[0].value(QStringLiteral("outcome")).toString(), QStringLiteral("interrupted"));
}

// A second signal while a finished unit's record waits for a store another program holds:
// the run ends once the record is kept, and says where it went (here: waiting on this
// machine), as a single signal's run does.
TEST_F(OrvelLoader, SecondSignalTellsWhereARecordOnItsWayWent)
{
    StartUnits(1);
    const QString store = Dir.filePath(QStringLiteral("records.sqlite"));
    ASSERT_EQ(Run({QStringLiteral("records"), QStringLiteral("--records"), store}).ExitCode, ExitOk);
    const TRun run = SendInterruptedTwiceWhileTheStoreIsHeld(store);
    EXPECT_TRUE(run.Out.contains(QLatin1String("until the store takes it"))) << run.Out.toStdString();
    EXPECT_TRUE(run.Out.contains(QLatin1String("records kept as far as they got: 1"))) << run.Out.toStdString();
    const TRun records = Run({QStringLiteral("records"), QStringLiteral("--records"), store, QStringLiteral("--json")});
    EXPECT_EQ(records.Json.size(), 1) << records.Out.toStdString() << records.Err.toStdString();
}

// A second signal while a finished unit's record waits for a held store, and no file on
// this machine can take it either: the record is kept nowhere, and the run must say so in
// its words and in its exit code, not count it among the records kept.
TEST_F(OrvelLoader, SecondSignalWithARecordKeptNowhereEndsAsAStoreFailure)
{
    StartUnits(1);
    const QString store = Dir.filePath(QStringLiteral("records.sqlite"));
    ASSERT_EQ(Run({QStringLiteral("records"), QStringLiteral("--records"), store}).ExitCode, ExitOk);
    // The folder of the file a record waits in is a plain file: nothing can be written there.
    const QString data = Dir.filePath(QStringLiteral("data"));
    QDir(data).removeRecursively();
    WriteFile(QStringLiteral("data"), "not a folder");
    const TRun run = SendInterruptedTwiceWhileTheStoreIsHeld(store);
    EXPECT_TRUE(run.Out.contains(QLatin1String("could be kept neither"))) << run.Out.toStdString();
    EXPECT_FALSE(run.Out.contains(QLatin1String("records kept as far as they got: 1"))) << run.Out.toStdString();
    EXPECT_EQ(run.ExitCode, ExitStore) << run.Out.toStdString() << run.Err.toStdString();
}

// A second signal while one unit's record waits for a held store and another unit is still
// under way: that unit stops after its request while the first record is drained, and its
// record must be kept (and told) too, not dropped with the process.
TEST_F(OrvelLoader, SecondSignalKeepsTheRecordOfAUnitThatEndsWhileAnotherIsDrained)
{
    StartUnits(2);
    TSimFaults slow;
    slow.LatencyFor.insert(CmdWriteBlock, 300);   // still sending when the signals come
    Sim.Controller(1).SetFaults(slow);
    const QString store = Dir.filePath(QStringLiteral("records.sqlite"));
    ASSERT_EQ(Run({QStringLiteral("records"), QStringLiteral("--records"), store}).ExitCode, ExitOk);
    const TRun run = SendInterruptedTwiceWhileTheStoreIsHeld(store);
    const TRun records = Run({QStringLiteral("records"), QStringLiteral("--records"), store, QStringLiteral("--json")});
    EXPECT_EQ(records.Json.size(), 2) << run.Out.toStdString() << records.Out.toStdString()
                                      << records.Err.toStdString();
}

// A closed pipe (| head) loses the output, not the run: every unit is written and recorded.
TEST_F(OrvelLoader, ClosedOutputPipeLetsTheRunGoOn)
{
    StartUnits(2);
    for (int i = 0; i < 2; ++i) {
        TSimFaults slow;
        slow.LatencyMs = 2;
        Sim.Controller(i).SetFaults(slow);
    }
    const TRun run = RunThrough(QStringLiteral("head -n 1"),
                                {QStringLiteral("send"), QStringLiteral("--fresh"), QStringLiteral("--kernel"), Kernel,
                                 QStringLiteral("--serial"), QStringLiteral("20"), QStringLiteral("--json"),
                                 QStringLiteral("--log"), Dir.filePath(QStringLiteral("p.log"))});
    EXPECT_TRUE(run.Err.contains(QLatin1String("loader exit 0"))) << run.Err.toStdString();
    for (int i = 0; i < 2; ++i)
        EXPECT_TRUE(Sim.Controller(i).HoldsValidKernel()) << i;
    const TRun records = Run({QStringLiteral("records"), QStringLiteral("--json")});
    EXPECT_EQ(records.Json.size(), 2) << records.Out.toStdString() << records.Err.toStdString();
}

// The record is in the store before the console says anything of the unit: a kill right
// after its result line cannot lose it.
TEST_F(OrvelLoader, RecordIsKeptBeforeTheResultIsPrinted)
{
    StartUnits(1);
    const TRun run = Run({QStringLiteral("send"), QStringLiteral("--fresh"), QStringLiteral("--kernel"), Kernel,
                          QStringLiteral("--serial"), QStringLiteral("30"), QStringLiteral("--json"),
                          QStringLiteral("--log"), Dir.filePath(QStringLiteral("p.log"))},
                         [](QProcess& process, const QString& line) {
                             if (line.contains(QLatin1String("\"kind\":\"result\"")))
                                 ::kill(pid_t(process.processId()), SIGKILL);
                         });
    EXPECT_EQ(run.Kind(QStringLiteral("result")).size(), 1);
    const TRun records = Run({QStringLiteral("records"), QStringLiteral("--json")});
    ASSERT_EQ(records.Json.size(), 1) << records.Out.toStdString() << records.Err.toStdString();
    EXPECT_EQ(records.Json[0].value(QStringLiteral("serial")).toInt(), 30);
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

// A fixture with a fixed address: a unit finished there leaves for the next one at the same
// address, which is a new unit; a unit that failed there is taken again only after the
// address fell silent for a scan (the unit was swapped), and the operator reads why once.
TEST_F(OrvelLoader, StationTellsUnitsAtAnAddressUsedBeforeApart)
{
    TSimControllerConfig old;
    old.LoaderMajor = 1;    // fails at once and stays fresh
    StartUnits(1, {old});   // 127.0.0.2 good, 127.0.0.3 too old
    int skipped = 0;
    bool replaced = false;
    bool swapped = false;
    const TRun run =
        Run({QStringLiteral("station"), QStringLiteral("--kernel"), Kernel, QStringLiteral("--serial"),
             QStringLiteral("900"), QStringLiteral("--units"), QStringLiteral("3"), QStringLiteral("--scan"),
             QStringLiteral("150"), QStringLiteral("--json"), QStringLiteral("--log"),
             Dir.filePath(QStringLiteral("p.log"))},
            [&](QProcess&, const QString& line) {
                const QJsonObject json = QJsonDocument::fromJson(line.toUtf8()).object();
                const QString unit = json.value(QStringLiteral("unit")).toString();
                if (!replaced && json.value(QStringLiteral("kind")).toString() == QStringLiteral("result") &&
                    unit == QStringLiteral("127.0.0.2")) {
                    replaced = true;   // the finished unit leaves; a fresh one takes its place
                    Sim.Controller(0) = TSimController({}, Sim.Controller(0).Address);
                }
                if (json.value(QStringLiteral("text")).toString().startsWith(QStringLiteral("skipped 127.0.0.3: "))) {
                    ++skipped;
                    if (!swapped) {
                        swapped = true;   // silent for a while, then a good unit answers there
                        TSimFaults silent;
                        silent.DropShare = 1;
                        Sim.Controller(1).SetFaults(silent);
                        QTimer::singleShot(1000, &Sim, [this] {
                            Sim.Controller(1) = TSimController({}, Sim.Controller(1).Address);
                        });
                    }
                }
            });
    EXPECT_EQ(run.ExitCode, ExitUnitFailed) << run.Out.toStdString();
    EXPECT_EQ(skipped, 1) << run.Out.toStdString();
    std::set<int> serials;
    for (const QJsonObject& result : run.Kind(QStringLiteral("result")))
        if (result.value(QStringLiteral("outcome")).toString() == QStringLiteral("ok"))
            serials.insert(result.value(QStringLiteral("serial")).toInt());
    EXPECT_EQ(serials, (std::set<int>{900, 901, 902}));
    EXPECT_GE(Sim.Controller(0).Serial(), 900u);
    EXPECT_GE(Sim.Controller(1).Serial(), 900u);
}

// Names holding "%1" print and are kept as they were given.
TEST_F(OrvelLoader, NamesHoldingPlaceholdersStayAsGiven)
{
    StartUnits(1);
    ASSERT_TRUE(QDir(Dir.path()).mkdir(QStringLiteral("a%1")));
    const QString store = Dir.filePath(QStringLiteral("a%1/records %2.sqlite"));
    const QString series = QStringLiteral("s%1");
    const QString station = QStringLiteral("line %1 %2");
    ASSERT_EQ(Run({QStringLiteral("serials"), QStringLiteral("set"), QStringLiteral("--next"), QStringLiteral("5"),
                   QStringLiteral("--series"), series, QStringLiteral("--records"), store})
                  .ExitCode,
              ExitOk);
    const TRun run = Run({QStringLiteral("station"), QStringLiteral("--kernel"), Kernel, QStringLiteral("--records"),
                          store, QStringLiteral("--series"), series, QStringLiteral("--station"), station,
                          QStringLiteral("--units"), QStringLiteral("1"), QStringLiteral("--scan"),
                          QStringLiteral("200"), QStringLiteral("--log"), Dir.filePath(QStringLiteral("p%1.log"))});
    EXPECT_EQ(run.ExitCode, ExitOk) << run.Out.toStdString();
    EXPECT_TRUE(run.Out.contains(QStringLiteral("station ") + station + QStringLiteral(": records go to ") + store))
        << run.Out.toStdString();
    const TRun records = Run({QStringLiteral("records"), QStringLiteral("--records"), store, QStringLiteral("--json")});
    ASSERT_EQ(records.Json.size(), 1) << records.Err.toStdString();
    EXPECT_EQ(records.Json[0].value(QStringLiteral("station")).toString(), station);
    EXPECT_EQ(records.Json[0].value(QStringLiteral("series")).toString(), series);
}

// ---- the record store ----

TEST_F(OrvelLoader, StoreCommandsRefuseBadInputInWords)
{
    const struct {
        QStringList Arguments;
        const char* Says;
    } cases[] = {
        {{"serials", "set"}, "give the next number with --next N"},
        {{"serials", "set", "--next", "0"}, "--next takes a whole number from 1 to 2147483647"},
        {{"serials", "count"}, "serials set, serials show or serials ledger, not \"count\""},
        {{"serials", "show", "--next", "5"}, "serials show takes no --next"},
        {{"records", "--since", "yesterday"}, "--since takes a date or a time"},
        {{"records", "--serial", "-1"}, "--serial takes a whole number"},
        {{"records", "--csv", "--json"}, "--csv or --json, not both"},
    };
    for (const auto& c : cases) {
        const TRun run = Run(c.Arguments);
        EXPECT_EQ(run.ExitCode, ExitBadInput) << c.Arguments.join(u' ').toStdString();
        EXPECT_TRUE(run.Err.contains(QLatin1String(c.Says))) << run.Err.toStdString();
    }
}

// Four fresh units at a station that takes its numbers from the store: four records with
// consecutive numbers, the series moved on by four, the text log as it always was.
TEST_F(OrvelLoader, StationRecordsFourUnitsWithConsecutiveSerialNumbers)
{
    StartUnits(4);
    const QString store = Dir.filePath(QStringLiteral("records.sqlite"));
    const QString log = Dir.filePath(QStringLiteral("p.log"));
    ASSERT_EQ(Run({QStringLiteral("serials"), QStringLiteral("set"), QStringLiteral("--next"), QStringLiteral("500"),
                   QStringLiteral("--records"), store})
                  .ExitCode,
              ExitOk);
    const TRun station = Run(
        {QStringLiteral("station"), QStringLiteral("--kernel"), Kernel, QStringLiteral("--program"), Program,
         QStringLiteral("--records"), store, QStringLiteral("--series"), QStringLiteral("default"),
         QStringLiteral("--station"), QStringLiteral("line-1"), QStringLiteral("--units"), QStringLiteral("4"),
         QStringLiteral("--scan"), QStringLiteral("200"), QStringLiteral("--json"), QStringLiteral("--log"), log});
    EXPECT_EQ(station.ExitCode, ExitOk) << station.Out.toStdString();

    const TRun records = Run({QStringLiteral("records"), QStringLiteral("--records"), store, QStringLiteral("--json")});
    ASSERT_EQ(records.ExitCode, ExitOk) << records.Err.toStdString();
    ASSERT_EQ(records.Json.size(), 4) << records.Out.toStdString();
    std::set<int> serials;
    for (const QJsonObject& record : records.Json) {
        EXPECT_EQ(record.value(QStringLiteral("outcome")).toString(), QStringLiteral("ok"));
        EXPECT_EQ(record.value(QStringLiteral("station")).toString(), QStringLiteral("line-1"));
        EXPECT_EQ(record.value(QStringLiteral("series")).toString(), QStringLiteral("default"));
        EXPECT_EQ(record.value(QStringLiteral("serial")).toInt(), record.value(QStringLiteral("serialTaken")).toInt());
        EXPECT_EQ(record.value(QStringLiteral("programSha256")).toString().size(), 64);
        serials.insert(record.value(QStringLiteral("serial")).toInt());
    }
    EXPECT_EQ(serials, (std::set<int>{500, 501, 502, 503}));
    for (int i = 0; i < 4; ++i)
        EXPECT_TRUE(serials.count(int(Sim.Controller(i).Serial())));   // each unit holds its recorded number

    const TRun shown = Run({QStringLiteral("serials"), QStringLiteral("show"), QStringLiteral("--records"), store,
                            QStringLiteral("--json")});
    ASSERT_EQ(shown.Json.size(), 1);
    EXPECT_EQ(shown.Json[0].value(QStringLiteral("next")).toInt(), 504);
    EXPECT_EQ(shown.Json[0].value(QStringLiteral("taken")).toInt(), 4);
    // What went into unit 502, in words.
    const TRun unit = Run({QStringLiteral("records"), QStringLiteral("--records"), store, QStringLiteral("--serial"),
                           QStringLiteral("502")});
    EXPECT_TRUE(unit.Out.contains(QLatin1String("program.bin, SHA-256 "))) << unit.Out.toStdString();
    EXPECT_TRUE(unit.Out.contains(QLatin1String("steps           serial ok, kernel ok, program ok")));
    QFile file(log);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll().count("\r\n"), 4);
}

// A number of --serial that another run gave already (here to the unit at 127.0.0.2) is
// passed over: the store knows every number given, whatever gave it.
TEST_F(OrvelLoader, SerialNumbersGivenElsewhereArePassedOver)
{
    StartUnits(3);
    const auto serialOf = [](const TRun& run) {
        QList<int> serials;
        for (const QJsonObject& result : run.Kind(QStringLiteral("result")))
            serials << result.value(QStringLiteral("serial")).toInt();
        std::sort(serials.begin(), serials.end());
        return serials;
    };
    const TRun first = Run({QStringLiteral("send"), QStringLiteral("127.0.0.2"), QStringLiteral("--serial"),
                            QStringLiteral("1001"), QStringLiteral("--json")});
    ASSERT_EQ(first.ExitCode, ExitOk) << first.Out.toStdString();
    EXPECT_EQ(serialOf(first), QList<int>{1001});
    const TRun second = Run({QStringLiteral("send"), QStringLiteral("--fresh"), QStringLiteral("--serial"),
                             QStringLiteral("1000"), QStringLiteral("--json")});
    ASSERT_EQ(second.ExitCode, ExitOk) << second.Out.toStdString();
    EXPECT_EQ(serialOf(second), (QList<int>{1000, 1002}));
}

// Two stations on one segment and one store, started together: both see the same fresh
// units. A result that says ok must name the number its unit holds, and the unit must hold
// what was written (a second station erasing behind the first leaves it half written).
TEST_F(OrvelLoader, TwoStationsOnOneSegmentNeverReportOkForAUnitTheOtherWrote)
{
    StartUnits(6);
    QProcess other;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("HOME"), Dir.path());
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), Dir.filePath(QStringLiteral("config")));
    environment.insert(QStringLiteral("XDG_DATA_HOME"), Dir.filePath(QStringLiteral("data")));
    other.setProcessEnvironment(environment);
    const QStringList common{QStringLiteral("--kernel"),  Kernel,
                             QStringLiteral("--program"), Program,
                             QStringLiteral("--units"),   QStringLiteral("3"),
                             QStringLiteral("--scan"),    QStringLiteral("100"),
                             QStringLiteral("--timeout"), QStringLiteral("300"),
                             QStringLiteral("--json")};
    other.start(QStringLiteral(ORVEL_LOADER),
                QStringList{QStringLiteral("station"), QStringLiteral("--adapter"), QStringLiteral("lo"),
                            QStringLiteral("--port"), QString::number(Sim.Port()), QStringLiteral("--serial"),
                            QStringLiteral("2000"), QStringLiteral("--station"), QStringLiteral("B")} +
                    common);
    ASSERT_TRUE(other.waitForStarted());
    // A station that lost units to the other waits for more that never come: both are
    // stopped once the six units have had time enough.
    QProcess* first = nullptr;
    QTimer::singleShot(8000, [&] {
        for (QProcess* station : {first, &other})
            if (station && station->state() == QProcess::Running)
                ::kill(pid_t(station->processId()), SIGINT);
    });
    const TRun firstRun = Run(QStringList{QStringLiteral("station"), QStringLiteral("--serial"), QStringLiteral("1000"),
                                          QStringLiteral("--station"), QStringLiteral("A")} +
                                  common,
                              [&first](QProcess& process, const QString&) { first = &process; });
    first = nullptr;   // gone with Run
    QEventLoop ended;
    QObject::connect(&other, &QProcess::finished, &ended, &QEventLoop::quit);
    QTimer::singleShot(30000, &ended, &QEventLoop::quit);
    if (other.state() != QProcess::NotRunning)
        ended.exec();
    other.kill();
    other.waitForFinished();
    QList<QJsonObject> results = firstRun.Kind(QStringLiteral("result"));
    for (const QByteArray& line : other.readAllStandardOutput().split('\n')) {
        const QJsonObject json = QJsonDocument::fromJson(line).object();
        if (json.value(QStringLiteral("kind")).toString() == QStringLiteral("result"))
            results << json;
    }
    ASSERT_FALSE(results.isEmpty());
    for (const QJsonObject& result : results) {
        if (result.value(QStringLiteral("outcome")).toString() != QStringLiteral("ok"))
            continue;
        const QString address = result.value(QStringLiteral("unit")).toString();
        for (int i = 0; i < Sim.Count(); ++i) {
            const TSimController& unit = Sim.Controller(i);
            if (unit.Address != address)
                continue;
            EXPECT_EQ(unit.Serial(), uint32_t(result.value(QStringLiteral("serial")).toInt()))
                << address.toStdString() << " reported ok by "
                << result.value(QStringLiteral("station")).toString().toStdString();
            EXPECT_TRUE(unit.HoldsValidKernel()) << address.toStdString();
        }
    }
}

// Two stations on one segment and one store, the unit slow to give its record: both read
// the unit fresh before either writes its number. Every record saying its number was
// written must name a number a unit holds; one written over by the other station is not.
TEST_F(OrvelLoader, TwoStationsOnOneSegmentNeverRecordANumberNoUnitHolds)
{
    StartUnits(4);
    for (int i = 0; i < Sim.Count(); ++i) {
        TSimFaults slowRecord;
        slowRecord.LatencyFor.insert(CmdReadLoaderRecord, 60);
        Sim.Controller(i).SetFaults(slowRecord);
    }
    QProcess other;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("HOME"), Dir.path());
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), Dir.filePath(QStringLiteral("config")));
    environment.insert(QStringLiteral("XDG_DATA_HOME"), Dir.filePath(QStringLiteral("data")));
    other.setProcessEnvironment(environment);
    const QStringList common{QStringLiteral("--kernel"),  Kernel,
                             QStringLiteral("--program"), Program,
                             QStringLiteral("--units"),   QStringLiteral("4"),
                             QStringLiteral("--scan"),    QStringLiteral("100"),
                             QStringLiteral("--timeout"), QStringLiteral("500"),
                             QStringLiteral("--json")};
    other.start(QStringLiteral(ORVEL_LOADER),
                QStringList{QStringLiteral("station"), QStringLiteral("--adapter"), QStringLiteral("lo"),
                            QStringLiteral("--port"), QString::number(Sim.Port()), QStringLiteral("--serial"),
                            QStringLiteral("2000"), QStringLiteral("--station"), QStringLiteral("B")} +
                    common);
    ASSERT_TRUE(other.waitForStarted());
    QProcess* first = nullptr;
    QTimer::singleShot(8000, [&] {
        for (QProcess* station : {first, &other})
            if (station && station->state() == QProcess::Running)
                ::kill(pid_t(station->processId()), SIGINT);
    });
    Run(QStringList{QStringLiteral("station"), QStringLiteral("--serial"), QStringLiteral("1000"),
                    QStringLiteral("--station"), QStringLiteral("A")} +
            common,
        [&first](QProcess& process, const QString&) { first = &process; });
    first = nullptr;
    QEventLoop ended;
    QObject::connect(&other, &QProcess::finished, &ended, &QEventLoop::quit);
    QTimer::singleShot(30000, &ended, &QEventLoop::quit);
    if (other.state() != QProcess::NotRunning)
        ended.exec();
    other.kill();
    other.waitForFinished();

    QSet<uint32_t> held;
    for (int i = 0; i < Sim.Count(); ++i)
        held.insert(Sim.Controller(i).Serial());
    const TRun records = Run({QStringLiteral("records"), QStringLiteral("--json")});
    int written = 0;
    for (const QJsonObject& record : records.Json) {
        if (record.value(QStringLiteral("steps")).toObject().value(QStringLiteral("serial")).toString() !=
            QStringLiteral("ok"))
            continue;
        ++written;
        EXPECT_TRUE(held.contains(uint32_t(record.value(QStringLiteral("serial")).toInt())))
            << "station " << record.value(QStringLiteral("station")).toString().toStdString()
            << " recorded serial number " << record.value(QStringLiteral("serial")).toInt()
            << " as written, but no unit holds it";
    }
    EXPECT_GT(written, 0);
    // A unit the other station numbered first is no unit of this one: one record per number held.
    QHash<int, int> recordsOf;
    for (const QJsonObject& record : records.Json)
        ++recordsOf[record.value(QStringLiteral("serial")).toInt()];
    for (const uint32_t serial : held)
        EXPECT_EQ(recordsOf.value(int(serial)), 1) << "records of serial number " << serial;
}

// Another program holds the store: the unit gets no number and nothing else, the operator
// reads why, the record waits on this machine and reaches the store when it is free.
TEST_F(OrvelLoader, LockedStoreLeavesTheUnitUntouchedAndItsRecordWaits)
{
    StartUnits(1);
    const QString store = Dir.filePath(QStringLiteral("records.sqlite"));
    ASSERT_EQ(Run({QStringLiteral("serials"), QStringLiteral("set"), QStringLiteral("--next"), QStringLiteral("70"),
                   QStringLiteral("--records"), store})
                  .ExitCode,
              ExitOk);
    TRun run;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("holder"));
        db.setDatabaseName(store);
        ASSERT_TRUE(db.open());
        QSqlQuery lock(db);
        ASSERT_TRUE(lock.exec(QStringLiteral("BEGIN IMMEDIATE")));
        run = Run({QStringLiteral("send"), QStringLiteral("--fresh"), QStringLiteral("--kernel"), Kernel,
                   QStringLiteral("--records"), store, QStringLiteral("--series"), QStringLiteral("default"),
                   QStringLiteral("--json"), QStringLiteral("--log"), Dir.filePath(QStringLiteral("p.log"))});
        lock.exec(QStringLiteral("ROLLBACK"));
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("holder"));
    EXPECT_EQ(run.ExitCode, ExitUnitFailed) << run.Out.toStdString();
    const QList<QJsonObject> results = run.Kind(QStringLiteral("result"));
    ASSERT_EQ(results.size(), 1);
    EXPECT_TRUE(results[0]
                    .value(QStringLiteral("message"))
                    .toString()
                    .contains(QLatin1String("error: no serial number: record store ")))
        << results[0].value(QStringLiteral("message")).toString().toStdString();
    EXPECT_TRUE(results[0].value(QStringLiteral("message")).toString().contains(QLatin1String("database is locked")));
    EXPECT_EQ(Sim.Controller(0).Serial(), NoSerialNumber);
    EXPECT_FALSE(Sim.Controller(0).HoldsValidKernel());
    bool waits = false;
    for (const QJsonObject& note : run.Kind(QStringLiteral("note")))
        waits = waits ||
                note.value(QStringLiteral("text")).toString().contains(QLatin1String("until the store takes it"));
    EXPECT_TRUE(waits) << run.Out.toStdString();

    const TRun records = Run({QStringLiteral("records"), QStringLiteral("--records"), store, QStringLiteral("--failed"),
                              QStringLiteral("--json")});
    EXPECT_TRUE(records.Err.contains(QLatin1String("1 records that waited in"))) << records.Err.toStdString();
    ASSERT_EQ(records.Json.size(), 1);
    EXPECT_EQ(records.Json[0].value(QStringLiteral("serialTaken")).toInt(), -1);
    EXPECT_EQ(records.Json[0].value(QStringLiteral("steps")).toObject().value(QStringLiteral("serial")).toString(),
              QStringLiteral("err"));
    // The number the unit could not get is still the next one.
    const TRun shown = Run({QStringLiteral("serials"), QStringLiteral("show"), QStringLiteral("--records"), store,
                            QStringLiteral("--series"), QStringLiteral("default"), QStringLiteral("--json")});
    ASSERT_EQ(shown.Json.size(), 1);
    EXPECT_EQ(shown.Json[0].value(QStringLiteral("next")).toInt(), 70);
}

// ---- recipes ----

// The command line overrides single fields of a recipe, and only those.
TEST_F(OrvelLoader, CommandLineOverridesSingleFieldsOfARecipe)
{
    const QString kernel = WriteFile(QStringLiteral("kr.bin"), SampleKernel(3, 16 * 1024));
    const QString recipe = SaveRecipe(QStringLiteral("r.recipe"), kernel, Program, QStringLiteral("line-a"), true);
    WriteFile(QStringLiteral("kr.bin"), SampleKernel(3, 20 * 1024));   // changed, but replaced below
    const auto parse = [&](const QStringList& more) {
        return ParseLoaderCommandLine(QStringList{QStringLiteral("station"), QStringLiteral("--adapter"),
                                                  QStringLiteral("lo"), QStringLiteral("--recipe"), recipe,
                                                  QStringLiteral("--kernel"), Kernel} +
                                          more,
                                      {});
    };
    TParsedCommandLine parsed = parse({});
    ASSERT_FALSE(parsed.Done()) << parsed.Text.toStdString();
    const TLoaderOptions& o = parsed.Options;
    // The units did not get the recipe's kernel: their records say so.
    EXPECT_EQ(o.Recipe, QStringLiteral("release 3.1 (kernel replaced)"));
    ASSERT_TRUE(o.Job.Kernel && o.Job.Program);
    EXPECT_EQ(*o.Job.Kernel, (TJobFile{Kernel, QString()}));   // the command line's file, loaded unchecked
    EXPECT_EQ(o.Job.Program->Path, Program);
    EXPECT_TRUE(o.Images.KernelLoaded && o.Images.ProgramLoaded);
    EXPECT_EQ(o.Job.Serial, (TSerialSource{true, -1, false, QStringLiteral("line-a")}));
    EXPECT_TRUE(o.Job.Verify);

    parsed = parse({QStringLiteral("--no-serial")});
    ASSERT_FALSE(parsed.Done()) << parsed.Text.toStdString();
    EXPECT_EQ(parsed.Options.Job.Serial, TSerialSource{});

    parsed = parse({QStringLiteral("--serial"), QStringLiteral("7")});
    ASSERT_FALSE(parsed.Done()) << parsed.Text.toStdString();
    EXPECT_EQ(parsed.Options.Job.Serial, (TSerialSource{true, 7, false, QString()}));

    // A recipe without a series writes no serial number: a station needs nothing more.
    const QString none = SaveRecipe(QStringLiteral("none.recipe"), Kernel, QString(), QString());
    parsed = ParseLoaderCommandLine({QStringLiteral("station"), QStringLiteral("--adapter"), QStringLiteral("lo"),
                                     QStringLiteral("--recipe"), none},
                                    {});
    ASSERT_FALSE(parsed.Done()) << parsed.Text.toStdString();
    EXPECT_FALSE(parsed.Options.Job.Serial.Write);
    EXPECT_FALSE(parsed.Options.Job.Program);

    // --dhcp replaces a recipe's static address, which a station could not give every unit.
    const QString fixed = WriteFile(QStringLiteral("static.recipe"), StaticAddressRecipe);
    parsed = ParseLoaderCommandLine({QStringLiteral("station"), QStringLiteral("--adapter"), QStringLiteral("lo"),
                                     QStringLiteral("--recipe"), fixed, QStringLiteral("--dhcp")},
                                    {});
    ASSERT_FALSE(parsed.Done()) << parsed.Text.toStdString();
    EXPECT_EQ(parsed.Options.Job.Settings.Ip, TIpSetting{});

    // The other commands refuse a recipe.
    parsed = ParseLoaderCommandLine({QStringLiteral("verify"), QStringLiteral("--all"), QStringLiteral("--recipe"),
                                     none},
                                    {});
    EXPECT_EQ(parsed.ExitCode, ExitBadInput);
    EXPECT_TRUE(parsed.Text.contains(QLatin1String("--recipe goes with send and station")))
        << parsed.Text.toStdString();
}

// records --recipe NAME answers "which units got release X": a unit whose kernel the command
// line replaced did not get that release, and its record must not say it came from the recipe
// as it is (records --recipe would list it among the release's units).
TEST_F(OrvelLoader, ARecipeWhoseFileTheCommandLineReplacedIsNotRecordedAsTheRecipe)
{
    const QString kernel = WriteFile(QStringLiteral("kr.bin"), SampleKernel(3, 16 * 1024));
    const QString recipe = SaveRecipe(QStringLiteral("r.recipe"), kernel, Program, QString());
    const TParsedCommandLine parsed = ParseLoaderCommandLine({QStringLiteral("send"), QStringLiteral("--adapter"),
                                                              QStringLiteral("lo"), QStringLiteral("--recipe"), recipe,
                                                              QStringLiteral("--kernel"), Kernel,
                                                              QStringLiteral("--no-serial"), QStringLiteral("42")},
                                                             {});
    ASSERT_FALSE(parsed.Done()) << parsed.Text.toStdString();
    EXPECT_NE(parsed.Options.Recipe, QStringLiteral("release 3.1"));
}

// The same for a setting, start or clock the command line lays over the recipe: the units got
// another job than the recipe's, as the window's records of an edited recipe say too. An option
// that leaves the job as the recipe has it changes nothing.
TEST_F(OrvelLoader, ARecipeWhoseJobTheCommandLineChangedIsNotRecordedAsTheRecipe)
{
    const QString recipe = SaveRecipe(QStringLiteral("r.recipe"), Kernel, Program, QString(), true);
    const struct {
        QStringList Options;
        bool Changed;
    } cases[] = {
        {{QStringLiteral("--model"), QStringLiteral("Orvel-L")}, true},
        {{QStringLiteral("--nad-alias"), QStringLiteral("5")}, true},
        {{QStringLiteral("--dhcp")}, true},
        {{QStringLiteral("--start-plc")}, true},
        {{QStringLiteral("--set-rtc")}, true},
        {{QStringLiteral("--verify")}, false},
    };
    for (const auto& one : cases) {
        const TParsedCommandLine parsed =
            ParseLoaderCommandLine(QStringList{QStringLiteral("send"), QStringLiteral("--adapter"),
                                               QStringLiteral("lo"), QStringLiteral("--recipe"), recipe,
                                               QStringLiteral("--no-serial"), QStringLiteral("42")} +
                                       one.Options,
                                   {});
        ASSERT_FALSE(parsed.Done()) << parsed.Text.toStdString();
        EXPECT_EQ(parsed.Options.Recipe == QStringLiteral("release 3.1"), !one.Changed)
            << one.Options.join(u' ').toStdString() << ": " << parsed.Options.Recipe.toStdString();
    }
}

// A station run by a recipe: every record names the recipe and the SHA-256 of each file as
// read, and records --recipe lists exactly its units, not the one sent without it.
TEST_F(OrvelLoader, StationWithARecipeRecordsItsUnitsAndRecordsFindsThem)
{
    StartUnits(3);
    const QString store = Dir.filePath(QStringLiteral("records.sqlite"));
    const QString log = Dir.filePath(QStringLiteral("p.log"));
    ASSERT_EQ(Run({QStringLiteral("serials"), QStringLiteral("set"), QStringLiteral("--next"), QStringLiteral("500"),
                   QStringLiteral("--records"), store, QStringLiteral("--series"), QStringLiteral("line-a")})
                  .ExitCode,
              ExitOk);
    const TRun first = Run({QStringLiteral("send"), QStringLiteral("127.0.0.2"), QStringLiteral("--kernel"), Kernel,
                            QStringLiteral("--records"), store, QStringLiteral("--series"), QStringLiteral("line-a"),
                            QStringLiteral("--log"), log});
    ASSERT_EQ(first.ExitCode, ExitOk) << first.Out.toStdString() << first.Err.toStdString();

    const QString recipe = SaveRecipe(QStringLiteral("release 3.1.recipe"), Kernel, Program, QStringLiteral("line-a"),
                                      true);
    const TRun station = Run({QStringLiteral("station"), QStringLiteral("--recipe"), recipe,
                              QStringLiteral("--records"), store, QStringLiteral("--units"), QStringLiteral("2"),
                              QStringLiteral("--scan"), QStringLiteral("200"), QStringLiteral("--json"),
                              QStringLiteral("--log"), log});
    EXPECT_EQ(station.ExitCode, ExitOk) << station.Out.toStdString() << station.Err.toStdString();

    const auto sha256 = [](const QString& path) {
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::ReadOnly));
        return QString::fromLatin1(QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha256).toHex());
    };
    const TRun records = Run({QStringLiteral("records"), QStringLiteral("--records"), store, QStringLiteral("--recipe"),
                              QStringLiteral("release 3.1"), QStringLiteral("--json")});
    ASSERT_EQ(records.ExitCode, ExitOk) << records.Err.toStdString();
    ASSERT_EQ(records.Json.size(), 2) << records.Out.toStdString();
    std::set<QString> units;
    for (const QJsonObject& record : records.Json) {
        units.insert(record.value(QStringLiteral("unit")).toString());
        EXPECT_EQ(record.value(QStringLiteral("recipe")).toString(), QStringLiteral("release 3.1"));
        EXPECT_EQ(record.value(QStringLiteral("kernelSourceSha256")).toString(), sha256(Kernel));
        EXPECT_EQ(record.value(QStringLiteral("programSourceSha256")).toString(), sha256(Program));
        // The kernel as written carries its stamp and settings: not the file's bytes.
        EXPECT_NE(record.value(QStringLiteral("kernelSha256")).toString(), sha256(Kernel));
        EXPECT_EQ(record.value(QStringLiteral("series")).toString(), QStringLiteral("line-a"));
        EXPECT_EQ(record.value(QStringLiteral("steps")).toObject().value(QStringLiteral("verify")).toString(),
                  QStringLiteral("ok"));
    }
    EXPECT_EQ(units, (std::set<QString>{QStringLiteral("127.0.0.3"), QStringLiteral("127.0.0.4")}));

    const TRun table = Run({QStringLiteral("records"), QStringLiteral("--records"), store, QStringLiteral("--recipe"),
                            QStringLiteral("release 3.1")});
    EXPECT_EQ(table.Out.count(QStringLiteral("release 3.1")), 2) << table.Out.toStdString();
    EXPECT_TRUE(table.Out.contains(QStringLiteral("program.bin (") + sha256(Program).left(12) + u')'))
        << table.Out.toStdString();
    EXPECT_FALSE(table.Out.contains(QLatin1String("127.0.0.2"))) << table.Out.toStdString();
}

TEST(RecordsExport, CsvQuotesWhatWouldBreakAField)
{
    TStoredRecord record;
    record.Unit.Serial = 12;
    record.Unit.KernelStep = TStepResult::Ok;
    record.Unit.Message = QStringLiteral("error: \"x\", then\ny");
    const QString csv = RecordsCsv({record});
    EXPECT_EQ(csv.section(u'\n', 0, 0).split(u',').indexOf(QStringLiteral("steps.kernel")), 28);
    EXPECT_EQ(csv.section(u'\n', 1).split(u',').value(8), QStringLiteral("12")) << csv.toStdString();
    EXPECT_TRUE(csv.endsWith(QStringLiteral(",ok,---,---,0,0,0,\"error: \"\"x\"\", then\ny\",unknown\n")))
        << csv.toStdString();
}

}   // namespace

// ---- the option table ----

// Each declared range holds at its bounds and refuses one past them, for every command that
// declares it; parsing alone, nothing is read.
TEST(OrvelLoaderOptionTable, DeclaredRangesTakeTheirBoundsAndRefuseOnePast)
{
    const struct {
        QStringList Command;
        const char* Option;
        qlonglong Low, High;
    } cases[] = {
        {{"info", "--all"}, "--port", 1, 65535},
        {{"discover"}, "--wait", 1, 60000},
        {{"info", "--all"}, "--parallel", 1, 64},
        {{"station", "--no-serial", "--set-rtc"}, "--parallel", 1, 64},
        {{"station", "--no-serial", "--set-rtc"}, "--scan", 100, 600000},
        {{"station", "--no-serial", "--set-rtc"}, "--units", 0, 2147483647},
    };
    for (const auto& c : cases) {
        const auto parse = [&c](qlonglong value) {
            return ParseLoaderCommandLine(c.Command + QStringList{QStringLiteral("--adapter"), QStringLiteral("lo"),
                                                                  QLatin1String(c.Option), QString::number(value)},
                                          {});
        };
        for (const qlonglong bound : {c.Low, c.High})
            EXPECT_FALSE(parse(bound).Done()) << c.Option << ' ' << bound << parse(bound).Text.toStdString();
        for (const qlonglong past : {c.Low - 1, c.High + 1}) {
            const TParsedCommandLine parsed = parse(past);
            EXPECT_EQ(parsed.ExitCode, ExitBadInput) << c.Option << ' ' << past;
            EXPECT_TRUE(parsed.Text.contains(QLatin1String(c.Option) + QStringLiteral(" takes a whole number from ")))
                << parsed.Text.toStdString();
        }
    }
}

// Every model and baud rate of the names table is taken as the window lists it, in any case,
// and a baud rate without its unit.
TEST(OrvelLoaderOptionTable, ChoicesTakeEveryNameOfTheTable)
{
    const auto parse = [](const char* option, const QString& value) {
        return ParseLoaderCommandLine({QStringLiteral("verify"), QStringLiteral("--all"), QStringLiteral("--adapter"),
                                       QStringLiteral("lo"), QLatin1String(option), value},
                                      {});
    };
    const QStringList models = Names(HardwareModels);
    for (int i = 0; i < models.size(); ++i) {
        for (const QString& text : {models[i], models[i].toLower()}) {
            const TParsedCommandLine parsed = parse("--model", text);
            ASSERT_FALSE(parsed.Done()) << parsed.Text.toStdString();
            EXPECT_EQ(parsed.Options.Job.Settings.HardwareModel, i) << text.toStdString();
        }
    }
    const QStringList rates = Names(IEXBaudRates);
    for (int i = 0; i < rates.size(); ++i) {
        for (const QString& text : {rates[i], rates[i].toUpper(), QString(rates[i]).remove(QStringLiteral("kbps"))}) {
            const TParsedCommandLine parsed = parse("--iex-baud", text);
            ASSERT_FALSE(parsed.Done()) << parsed.Text.toStdString();
            EXPECT_EQ(parsed.Options.Job.Settings.IEXBaudRate, i) << text.toStdString();
        }
    }
    EXPECT_TRUE(
        parse("--model", QStringLiteral("Orvel-X")).Text.contains(QLatin1String("(Orvel-J, Orvel-K or Orvel-L)")));
    EXPECT_TRUE(
        parse("--iex-baud", QStringLiteral("300")).Text.contains(QLatin1String("(20, 50, 100, 250 or 500 kbps)")));
}

// dump named neither the memory nor the unit: refused in words, not ended by a crash.
TEST(OrvelLoaderOptionTable, DumpWithNothingToDumpIsRefusedInWords)
{
    const TParsedCommandLine parsed = ParseLoaderCommandLine({QStringLiteral("dump"), QStringLiteral("-o"),
                                                              QStringLiteral("x.bin"), QStringLiteral("--adapter"),
                                                              QStringLiteral("lo")},
                                                             {});
    EXPECT_EQ(parsed.ExitCode, ExitBadInput);
    EXPECT_TRUE(parsed.Text.contains(QLatin1String("dump what: kernel or program, not \"\"")))
        << parsed.Text.toStdString();
}

// --version names the program and its version on one line, as manual page generators read it.
TEST(OrvelLoaderOptionTable, VersionNamesTheProgramAndItsVersion)
{
    const TParsedCommandLine parsed = ParseLoaderCommandLine({QStringLiteral("--version")}, {});
    EXPECT_EQ(parsed.ExitCode, ExitOk);
    EXPECT_EQ(parsed.Text, QStringLiteral("orvel-loader " ORVEL_VERSION_TEXT));
}
