// The engine against simulated fresh units on loopback: units taken as they answer,
// each with its own number and record; a stop that keeps the records and tells the units it
// never started; an adapter that cannot be bound.
#include "LoopbackAdapter.h"
#include "StoredRecordsJson.h"
#include "SampleImages.h"
#include "SimulatorThread.h"
#include "Engine.h"
#include "StationRecords.h"
#include "TestPrinters.h"
#include "uABus.h"

#include <QEventLoop>
#include <QSettings>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <utility>

namespace {

class StationEngine : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(Dir.isValid());
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, Dir.path());
        // Fallback files go beside the default store, in the data folder: this test's own.
        qputenv("XDG_DATA_HOME", Dir.path().toLocal8Bit());
    }

    QString StorePath() const { return Dir.filePath(QStringLiteral("records.sqlite")); }

    void StartUnits(int count, const TSimFaults& faults = {})
    {
        for (int i = 0; i < count; ++i)
            Sim.AddController({});
        QString error;
        ASSERT_TRUE(Sim.Start(0, &error)) << error.toStdString();
        for (int i = 0; i < count; ++i)
            Sim.SetFaults(i, faults);
    }

    // A send of a small kernel and program with a serial number from 500 on, its records in a
    // store of this test.
    TEnginePlan SendPlan()
    {
        TEnginePlan plan;
        TUnitJob& job = plan.Job;
        job.Operation = TUnitOperation::Send;
        job.What.Serial.Write = true;
        job.What.Kernel = TJobFile{QStringLiteral("/images/kernel.bin"), QString()};
        job.What.Program = TJobFile{QStringLiteral("/images/program.bin"), QString()};
        job.Images.Kernel = SampleKernel(3, 16 * 1024);
        job.Images.KernelFileHeader = ReadKernelHeader(job.Images.Kernel, KernelHeaderOffsetARM);
        job.Images.KernelPlatform = TPlatform::ARM;
        job.Images.KernelLoaded = true;
        job.Images.Program = SampleProgram(8 * 1024);
        job.Images.ProgramLoaded = true;
        job.Link.AdapterName = LoopbackAdapterName;
        job.Link.Port = Sim.Port();
        job.Link.Timeout = 200;
        job.Link.Attempts = 2;
        job.ProductionLogPath = Dir.filePath(QStringLiteral("station.log"));
        plan.ScanInterval = 100;
        plan.DiscoveryWait = 50;
        plan.Station = QStringLiteral("line 1");
        const auto opened =
            OpenStationRecords(Dir.filePath(QStringLiteral("records.sqlite")), QStringLiteral("the window"),
                               std::make_shared<TMemorySerialCounter>(500), plan,
                               [](TNoteLevel, const QString& text) { ADD_FAILURE() << text.toStdString(); });
        EXPECT_EQ(opened, TRecordsOpened::Ok);
        return plan;
    }

    // Runs the event loop until the station ends, or fails after a minute.
    static void WaitForEnd(TEngine& station)
    {
        QEventLoop loop;
        QObject::connect(&station, &TEngine::Ended, &loop, &QEventLoop::quit);
        QTimer::singleShot(60000, &loop, [&loop] {
            ADD_FAILURE() << "the station did not end";
            loop.quit();
        });
        if (station.Running())
            loop.exec();
    }

    QList<QJsonObject> Records(const TEnginePlan& plan)
    {
        QList<TStoredRecord> records;
        QString error;
        EXPECT_TRUE(plan.Records->Store().Query({}, records, error)) << error.toStdString();
        return StoredRecordsJson(records);
    }

    QTemporaryDir Dir;
    const TLoopbackAdapter Loopback;
    TSimulatorThread Sim;
};

TEST_F(StationEngine, TakesEveryFreshUnitOnceWithItsOwnNumberAndRecord)
{
    StartUnits(3);
    TEnginePlan plan = SendPlan();
    plan.Parallel = 2;   // the third waits for a free runner
    plan.Units = 3;
    TEngine station(plan);
    QStringList taken;
    QObject::connect(&station, &TEngine::UnitTaken, [&](const TUnitAddress& unit) { taken.append(unit.IP); });
    ASSERT_TRUE(station.Scan());
    WaitForEnd(station);

    EXPECT_EQ(taken.size(), 3);
    EXPECT_EQ(station.Succeeded(), 3);
    QList<int32_t> serials;
    for (const TUnitRecord& record : station.Finished())
        serials.append(record.Serial);
    std::sort(serials.begin(), serials.end());
    EXPECT_EQ(serials, (QList<int32_t>{500, 501, 502}));
    EXPECT_EQ(Records(plan).size(), 3);
}

// How a station ends while one unit is under way and two wait for a runner: Stop interrupts
// the unit, Finish lets it finish, and a Stop after a Finish still interrupts it. The units
// waiting are never started either way.
struct TEndCase {
    const char* Name;
    std::function<void(TEngine&)> End;
    TUnitOutcome Outcome;
    const char* Recorded;
};

class StationEnd : public StationEngine, public ::testing::WithParamInterface<TEndCase> {};

TEST_P(StationEnd, KeepsTheRecordOfTheUnitUnderWayAndTellsTheOnesNeverStarted)
{
    TSimFaults slow;
    slow.LatencyFor.insert(CmdWriteBlock, 20);
    StartUnits(3, slow);
    TEnginePlan plan = SendPlan();
    plan.Parallel = 1;
    TEngine station(plan);
    QStringList notStarted;
    QObject::connect(&station, &TEngine::UnitNotStarted, [&](const QString& ip) { notStarted.append(ip); });
    // Ends once the first unit's kernel is on its way and the others wait.
    bool ended = false;
    QObject::connect(&station, &TEngine::UnitProgress, &station, [&](const QString&, qint64 done, qint64) {
        if (done > 0 && station.InProgress() == 3 && !std::exchange(ended, true))
            GetParam().End(station);
    });
    ASSERT_TRUE(station.Scan());
    WaitForEnd(station);

    ASSERT_EQ(station.Finished().size(), 1u);
    EXPECT_EQ(station.Finished().front().Outcome, GetParam().Outcome);
    EXPECT_EQ(notStarted.size(), 2);
    const QList<QJsonObject> records = Records(plan);
    ASSERT_EQ(records.size(), 1);
    EXPECT_EQ(records.front().value(QStringLiteral("outcome")).toString(), QLatin1String(GetParam().Recorded));
}

INSTANTIATE_TEST_SUITE_P(StationEngine, StationEnd,
                         ::testing::Values(TEndCase{"Stop", [](TEngine& station) { station.Stop(); },
                                                    TUnitOutcome::Interrupted, "interrupted"},
                                           TEndCase{"Finish", [](TEngine& station) { station.Finish(); },
                                                    TUnitOutcome::Succeeded, "ok"},
                                           TEndCase{"FinishThenStop",
                                                    [](TEngine& station) {
                                                        station.Finish();
                                                        station.Stop();
                                                    },
                                                    TUnitOutcome::Interrupted, "interrupted"}),
                         [](const auto& info) { return std::string(info.param.Name); });

TEST_F(StationEngine, RecordWaitingForALockedStoreLeavesTheFrontEndsThreadFree)
{
    StartUnits(1);
    TEnginePlan plan = SendPlan();
    plan.Units = 1;
    // Once the unit is written, another program takes the store's write lock, and lets it
    // go only from this thread (the front end's): a record kept on this thread would wait
    // out the lock and go to the fallback file, with the front end frozen meanwhile.
    auto other = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("other program"));
    other.setDatabaseName(StorePath());
    ASSERT_TRUE(other.open());
    TEngine station(plan);
    QObject::connect(&station, &TEngine::UnitMessage, &station,
                     [&](const QString&, const QDateTime&, const QString& text) {
                         if (text != QLatin1String("sent successfully"))
                             return;
                         EXPECT_TRUE(QSqlQuery(other).exec(QStringLiteral("BEGIN IMMEDIATE")));
                         QTimer::singleShot(300, &station, [&] { QSqlQuery(other).exec(QStringLiteral("COMMIT")); });
                     });
    QStringList warnings;
    QObject::connect(&station, &TEngine::Note, [&](TNoteLevel level, const QString& text) {
        if (level != TNoteLevel::Info)
            warnings.append(text);
    });
    ASSERT_TRUE(station.Scan());
    WaitForEnd(station);

    EXPECT_EQ(station.Succeeded(), 1);
    EXPECT_TRUE(warnings.isEmpty()) << warnings.join(u'\n').toStdString();
    EXPECT_EQ(Records(plan).size(), 1);
    other.close();
    other = {};
    QSqlDatabase::removeDatabase(QStringLiteral("other program"));
}

TEST_F(StationEngine, AnAdapterThatCannotBeBoundEndsTheStationInWords)
{
    StartUnits(1);
    TEnginePlan plan = SendPlan();
    plan.Job.Link.AdapterName = QStringLiteral("no such adapter");
    TEngine station(plan);
    QString error;
    bool ended = false;
    QObject::connect(&station, &TEngine::Note, [&](TNoteLevel level, const QString& text) {
        if (level == TNoteLevel::Error)
            error = text;
    });
    QObject::connect(&station, &TEngine::Ended, [&] { ended = true; });
    EXPECT_FALSE(station.Scan());
    EXPECT_TRUE(ended);
    EXPECT_FALSE(station.Running());
    EXPECT_EQ(error, QStringLiteral("can't bind to adapter no such adapter"));
}

// A discovery's replies come over its whole wait, on the discovery's thread, while the
// runners finish on theirs: a reply a unit sent as still fresh, just before its runner
// wrote its number, must not take the unit again once that runner has finished. A short
// job (a serial number alone) and scans that follow one another (--scan under --wait) show it.
TEST_F(StationEngine, AFreshReplyFromBeforeTheUnitWasWrittenDoesNotTakeItAgain)
{
    StartUnits(6);
    TEnginePlan plan = SendPlan();
    plan.Job.What.Kernel.reset();
    plan.Job.What.Program.reset();
    plan.Job.Images = {};
    plan.ScanInterval = 100;
    plan.DiscoveryWait = 200;
    TEngine station(plan);
    QStringList taken;
    QObject::connect(&station, &TEngine::UnitTaken, [&](const TUnitAddress& unit) { taken.append(unit.IP); });
    ASSERT_TRUE(station.Scan());
    QTimer::singleShot(3000, &station, &TEngine::Stop);
    WaitForEnd(station);

    EXPECT_EQ(taken.size(), 6) << taken.join(u' ').toStdString();
    EXPECT_EQ(station.Succeeded(), 6);
    EXPECT_EQ(station.Failed(), 0);
    EXPECT_EQ(Records(plan).size(), 6);
}

// A discovery's replies as both front ends take them: each address once, the first answer's
// NAD, a fresh unit's NAD as -1, and a list cut short by the other's end.
TEST(AnsweredUnits, EachAddressOnceWithItsFirstNad)
{
    const struct {
        const char* Name;
        QStringList Nads, Ips;
        QList<TUnitAddress> Units;
    } cases[] = {
        {"none", {}, {}, {}},
        {"two units", {"1001", "4294967295"}, {"127.0.0.2", "127.0.0.3"}, {{"127.0.0.2", 1001}, {"127.0.0.3", -1}}},
        {"a unit that answered twice",
         {"4294967295", "1002", "4294967295"},
         {"127.0.0.2", "127.0.0.3", "127.0.0.2"},
         {{"127.0.0.2", -1}, {"127.0.0.3", 1002}}},
        {"more addresses than NADs", {"1001"}, {"127.0.0.2", "127.0.0.3"}, {{"127.0.0.2", 1001}}},
    };
    for (const auto& c : cases) {
        const QList<TUnitAddress> units = AnsweredUnits(c.Nads, c.Ips);
        ASSERT_EQ(units.size(), c.Units.size()) << c.Name;
        for (qsizetype i = 0; i < units.size(); ++i) {
            EXPECT_EQ(units[i].IP, c.Units[i].IP) << c.Name;
            EXPECT_EQ(units[i].Nad, c.Units[i].Nad) << c.Name;
        }
    }
}

// What the operator hears of a kept record, in the lines every front end shows: notes
// whatever became of it, then where it waits or that it is lost, and nothing of a record
// stored quietly.
TEST(TellKept, SaysWhereTheRecordIsInLinesOfTheirLevel)
{
    const QString lost = QStringLiteral("; and so on");
    const struct {
        const char* Name;
        TKeepResult Kept;
        QStringList Lines;
    } cases[] = {
        {"stored", {TKept::Stored, {}, {}}, {}},
        {"stored with a note", {TKept::Stored, {}, "number 7 is held"}, {"warning: number 7 is held"}},
        {"waiting", {TKept::Waiting, "it waits", {}}, {"warning: it waits"}},
        {"waiting with a note",
         {TKept::Waiting, "it waits", "a line set aside"},
         {"warning: a line set aside", "warning: it waits"}},
        {"lost", {TKept::Lost, "kept nowhere", {}}, {"error: kept nowhere; and so on"}},
    };
    for (const auto& c : cases) {
        QStringList lines;
        TellKept(c.Kept, lost, [&lines](TNoteLevel level, const QString& text) { lines << NoteLine(level, text); });
        EXPECT_EQ(lines, c.Lines) << c.Name;
    }
    EXPECT_EQ(NoteLine(TNoteLevel::Info, QStringLiteral("station: waiting")), QStringLiteral("station: waiting"));
}

}   // namespace
