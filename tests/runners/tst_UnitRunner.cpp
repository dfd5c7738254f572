// Unit runners against simulated units on loopback: several fresh units flashed at once, a
// unit that falls silent, a stop in the middle, a unit of the other platform, the serial
// counter shared by threads.
#include "ConcurrentTakers.h"
#include "LoopbackAdapter.h"
#include "OrvelSimulator.h"
#include "SampleImages.h"
#include "SettingsStore.h"
#include "TestPrinters.h"
#include "UnitRunner.h"
#include "uABus.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

#include <cstdio>
#include <limits>
#include <memory>
#include <set>
#include <vector>

namespace {

class StationRunners : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(Dir.isValid());
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, Dir.path());
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, Dir.path());
        Kernel = SampleKernel(3, 16 * 1024);
        Program = SampleProgram(8 * 1024);
        ASSERT_TRUE(IsValidKernel(Kernel, KernelHeaderOffsetARM));
        Images.Kernel = Kernel;
        Images.KernelFileHeader = ReadKernelHeader(Kernel, KernelHeaderOffsetARM);
        Images.KernelPlatform = TPlatform::ARM;
        Images.KernelLoaded = true;
        Images.Program = Program;
        Images.ProgramLoaded = true;
        Images.KernelSourceSha256 = QString(64, u'a');
        Images.ProgramSourceSha256 = QString(64, u'b');
    }

    // count fresh units of a platform, started on a free port.
    void StartUnits(int count, uint16_t loaderMajor = 3)
    {
        for (int i = 0; i < count; ++i) {
            TSimControllerConfig config;
            config.LoaderMajor = loaderMajor;
            Sim.AddController(config);
        }
        QString error;
        ASSERT_TRUE(Sim.Start(0, &error)) << error.toStdString();
    }

    TUnitJob SendJob(int unit)
    {
        TUnitJob job;
        job.Unit = {Sim.Controller(unit).Address, -1};
        job.Operation = TUnitOperation::Send;
        job.What.Serial.Write = true;
        job.What.Kernel = TJobFile{QStringLiteral("/images/kernel.bin"), QString()};
        job.What.Program = TJobFile{QStringLiteral("/images/program.bin"), QString()};
        job.Images = Images;
        job.Link.AdapterName = LoopbackAdapterName;
        job.Link.Port = Sim.Port();
        job.Link.Timeout = 200;
        job.Link.Attempts = 3;
        job.ProductionLogPath = Dir.filePath(QStringLiteral("station.log"));
        return job;
    }

    // Starts one runner per job and lets the simulator answer until every runner finished.
    std::vector<TUnitRecord> Run(const std::vector<TUnitJob>& jobs, std::shared_ptr<TSerialCounter> serials,
                                 const std::function<void(TUnitRunner&, const QString&)>& onMessage = {})
    {
        std::vector<std::unique_ptr<TUnitRunner>> runners;
        std::vector<TUnitRecord> records;
        QEventLoop allDone;
        QTimer::singleShot(60000, &allDone, &QEventLoop::quit);   // a runner that never ends fails the test
        for (const TUnitJob& job : jobs) {
            runners.push_back(std::make_unique<TUnitRunner>(job, serials));
            TUnitRunner* runner = runners.back().get();
            QObject::connect(runner, &TUnitRunner::Finished, runner, [&](const TUnitRecord& record) {
                records.push_back(record);
                if (records.size() == jobs.size())
                    allDone.quit();
            });
            if (onMessage)
                QObject::connect(runner, &TUnitRunner::Message, runner,
                                 [runner, onMessage](const QString&, const QDateTime&, const QString& text) {
                                     onMessage(*runner, text);
                                 });
        }
        for (auto& runner : runners)
            runner->start();
        allDone.exec();
        return records;
    }

    QStringList LogLines() const
    {
        QFile file(Dir.filePath(QStringLiteral("station.log")));
        return file.open(QIODevice::ReadOnly)
                   ? QString::fromLatin1(file.readAll()).split(QStringLiteral("\r\n"), Qt::SkipEmptyParts)
                   : QStringList();
    }

    TLoopbackAdapter Loopback;
    QTemporaryDir Dir;
    TControllerSimulator Sim;
    QByteArray Kernel;
    QByteArray Program;
    TLoadedImages Images;
};

const TUnitRecord* RecordOf(const std::vector<TUnitRecord>& records, const QString& ip)
{
    for (const TUnitRecord& record : records)
        if (record.IP == ip)
            return &record;
    return nullptr;
}

TEST_F(StationRunners, FourFreshUnitsAtOnceGetTheirBytesAndConsecutiveNumbers)
{
    StartUnits(4);
    std::vector<TUnitJob> jobs;
    for (int i = 0; i < 4; ++i) {
        jobs.push_back(SendJob(i));
        jobs.back().Recipe = QStringLiteral("release %1");
    }
    const auto records = Run(jobs, std::make_shared<TSettingsSerialCounter>(1000));
    ASSERT_EQ(records.size(), 4u);

    std::set<int32_t> serials;
    for (int i = 0; i < 4; ++i) {
        const TSimController& unit = Sim.Controller(i);
        const TUnitRecord* record = RecordOf(records, unit.Address);
        ASSERT_NE(record, nullptr);
        EXPECT_EQ(record->Outcome, TUnitOutcome::Succeeded) << record->Message.toStdString();
        EXPECT_EQ(record->Serial, int32_t(unit.Serial()));
        EXPECT_EQ(record->NadAfter, record->Serial);
        serials.insert(record->Serial);
        EXPECT_EQ(record->KernelStep, TStepResult::Ok);
        EXPECT_EQ(record->ProgramStep, TStepResult::Ok);
        // The hashes name exactly what lies in the unit's flash.
        const QByteArray kernel = unit.Memory(KernelAddress, uint32_t(Kernel.size()));
        const QByteArray program = unit.Memory(ProgramAddress, uint32_t(Program.size()));
        EXPECT_EQ(record->KernelSha256, QCryptographicHash::hash(kernel, QCryptographicHash::Sha256).toHex());
        EXPECT_EQ(record->ProgramSha256, QCryptographicHash::hash(program, QCryptographicHash::Sha256).toHex());
        EXPECT_EQ(kernel.mid(KernelHeaderOffsetARM + 88), Kernel.mid(KernelHeaderOffsetARM + 88));
        EXPECT_EQ(program.mid(16), Program.mid(16));
        // The job's recipe and the files it was made of, as they were read.
        EXPECT_EQ(record->Recipe, QStringLiteral("release %1"));
        EXPECT_EQ(record->KernelSourceSha256, Images.KernelSourceSha256);
        EXPECT_EQ(record->ProgramSourceSha256, Images.ProgramSourceSha256);
        EXPECT_GT(record->Requests, 0u);
    }
    EXPECT_EQ(serials, (std::set<int32_t>{1000, 1001, 1002, 1003}));
    EXPECT_EQ(LogLines().size(), 4);
    int32_t stored = 0;
    EXPECT_TRUE(LoadStoredSerialNumber(stored));
    EXPECT_EQ(stored, 1004);   // where the window, or the next run, goes on
}

TEST_F(StationRunners, UnitFallingSilentFailsAloneAndVerifyReadsBack)
{
    StartUnits(3);
    std::vector<TUnitJob> jobs;
    for (int i = 0; i < 3; ++i) {
        jobs.push_back(SendJob(i));
        jobs.back().What.Verify = true;
    }
    // The second unit is gone a few blocks into its kernel, after its serial number's write.
    TSimFaults gone;
    gone.VanishAfterWrites = 4;
    Sim.Controller(1).SetFaults(gone);
    const auto records = Run(jobs, std::make_shared<TMemorySerialCounter>(500));
    ASSERT_EQ(records.size(), 3u);
    for (int i = 0; i < 3; ++i) {
        const TUnitRecord* record = RecordOf(records, Sim.Controller(i).Address);
        ASSERT_NE(record, nullptr);
        if (i == 1) {
            EXPECT_EQ(record->Outcome, TUnitOutcome::Failed);
            EXPECT_EQ(record->SerialStep, TStepResult::Ok);   // the number it took is on record
            EXPECT_EQ(record->KernelStep, TStepResult::Err);
            EXPECT_GT(record->Resent, 0u);
            // Why, in words, where the window's log says a bare "error".
            EXPECT_EQ(record->Message, QStringLiteral("error: the unit did not answer while sending kernel"));
        } else {
            EXPECT_EQ(record->Outcome, TUnitOutcome::Succeeded) << record->Message.toStdString();
            EXPECT_EQ(record->VerifyStep, TStepResult::Ok);
        }
    }
    EXPECT_EQ(LogLines().size(), 3);   // the silent unit's number is spent: it is logged too
}

TEST_F(StationRunners, StopEndsEveryRunnerAfterItsRequestAndSaysWhatWasWritten)
{
    StartUnits(2);
    const auto records = Run({SendJob(0), SendJob(1)}, std::make_shared<TMemorySerialCounter>(700),
                             [](TUnitRunner& runner, const QString& text) {
                                 if (text == QStringLiteral("sending kernel"))
                                     runner.RequestStop();
                             });
    ASSERT_EQ(records.size(), 2u);
    for (const TUnitRecord& record : records) {
        EXPECT_EQ(record.Outcome, TUnitOutcome::Interrupted);
        EXPECT_EQ(record.SerialStep, TStepResult::Ok);
        EXPECT_EQ(record.KernelStep, TStepResult::Interrupted);
        EXPECT_EQ(record.ProgramStep, TStepResult::Err);
        // The program step never began: nothing of its file is in the unit.
        EXPECT_EQ(record.KernelFile, QStringLiteral("kernel.bin"));
        EXPECT_EQ(record.ProgramFile, QString());
        EXPECT_TRUE(record.Message.startsWith(QStringLiteral("interrupted: serial number ") +
                                              QString::number(record.Serial) +
                                              QStringLiteral(" written; kernel area erased, ")))
            << record.Message.toStdString();
        EXPECT_EQ(record.Resent, 0u);
    }
}

// An erase that the unit never answers waits 10 x 2 s for each of 3 attempts: a stop ends
// it at once, and the record says what the unit holds.
TEST_F(StationRunners, StopEndsALongEraseAtOnce)
{
    StartUnits(1);
    TSimFaults stuck;
    stuck.LatencyFor[CmdEraseFlash] = 600000;
    Sim.Controller(0).SetFaults(stuck);
    TUnitJob job = SendJob(0);
    job.Link.Timeout = 2000;
    const auto records = Run({job}, std::make_shared<TMemorySerialCounter>(300),
                             [](TUnitRunner& runner, const QString& text) {
                                 if (text == QStringLiteral("erasing flash"))
                                     QTimer::singleShot(100, &runner, [&runner] { runner.RequestStop(); });
                             });
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].Outcome, TUnitOutcome::Interrupted);
    EXPECT_EQ(records[0].KernelStep, TStepResult::Interrupted);
    EXPECT_EQ(records[0].Message, QStringLiteral("interrupted: serial number 300 written; kernel area erased"));
    EXPECT_EQ(Sim.Controller(0).CommandCounts.value(CmdEraseFlash), 1);
}

// A record of a runner not yet ended, for a front end that must end the run at once: the
// number taken, the steps done and the step under way as cut short.
TEST_F(StationRunners, SnapshotIsTheRecordAsFarAsKnown)
{
    StartUnits(1);
    TUnitRecord seen;
    const auto records = Run({SendJob(0)}, std::make_shared<TMemorySerialCounter>(600),
                             [&seen](TUnitRunner& runner, const QString& text) {
                                 // The simulator answers on this thread: the unit waits for it now.
                                 if (text != QStringLiteral("sending kernel"))
                                     return;
                                 seen = runner.Snapshot();
                                 runner.RequestStop();
                             });
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(seen.IP, Sim.Controller(0).Address);
    EXPECT_EQ(seen.SerialTaken, 600);
    EXPECT_EQ(seen.Serial, 600);
    EXPECT_EQ(seen.SerialStep, TStepResult::Ok);
    EXPECT_EQ(seen.KernelStep, TStepResult::Interrupted);
    EXPECT_EQ(seen.KernelFile, QStringLiteral("kernel.bin"));
    EXPECT_EQ(seen.ProgramFile, QString());
    EXPECT_EQ(seen.Outcome, TUnitOutcome::Interrupted);
    EXPECT_TRUE(seen.Ended.isValid());
}

// Send and then verify: one total for both, never going back, so the time left can be
// told from it.
TEST_F(StationRunners, SendThenVerifyProgressIsOneTotalThatNeverGoesBack)
{
    StartUnits(1);
    TUnitJob job = SendJob(0);
    job.What.Verify = true;
    TUnitRunner runner(job, std::make_shared<TMemorySerialCounter>(900));
    QList<std::pair<qint64, qint64>> progress;
    QObject::connect(&runner, &TUnitRunner::Progress, &runner, [&](const QString&, qint64 done, qint64 total) {
        progress.append({done, total});
    });
    TUnitRecord record;
    QEventLoop loop;
    QObject::connect(&runner, &TUnitRunner::Finished, &loop, [&](const TUnitRecord& ended) {
        record = ended;
        loop.quit();
    });
    QTimer::singleShot(60000, &loop, &QEventLoop::quit);
    runner.start();
    loop.exec();

    ASSERT_EQ(record.VerifyStep, TStepResult::Ok);
    ASSERT_FALSE(progress.isEmpty());
    const qint64 total = 2 * (Kernel.size() + Program.size());
    for (qsizetype i = 0; i < progress.size(); ++i) {
        EXPECT_EQ(progress[i].second, total) << i;
        if (i > 0) {
            EXPECT_GE(progress[i].first, progress[i - 1].first) << i;
        }
    }
    EXPECT_EQ(progress.last().first, total);
    EXPECT_EQ(runner.Snapshot().VerifyStep, TStepResult::Ok);
}

TEST_F(StationRunners, UnitOfTheOtherPlatformFailsWithTheReasonOthersGoOn)
{
    TSimControllerConfig xa;
    xa.LoaderMajor = 2;
    Sim.AddController(xa);
    StartUnits(1);
    const auto records = Run({SendJob(0), SendJob(1)}, std::make_shared<TMemorySerialCounter>(800));
    ASSERT_EQ(records.size(), 2u);
    const TUnitRecord* wrong = RecordOf(records, Sim.Controller(0).Address);
    const TUnitRecord* right = RecordOf(records, Sim.Controller(1).Address);
    ASSERT_TRUE(wrong && right);
    EXPECT_EQ(wrong->Outcome, TUnitOutcome::Failed);
    EXPECT_EQ(wrong->Message, QStringLiteral("error: no valid kernel file"));
    EXPECT_EQ(wrong->Platform, QStringLiteral("Orvel/XA"));
    // Refused before anything was written: no number spent, the unit still fresh.
    EXPECT_EQ(wrong->SerialTaken, -1);
    EXPECT_EQ(Sim.Controller(0).Serial(), NoSerialNumber);
    EXPECT_EQ(right->Outcome, TUnitOutcome::Succeeded);
    EXPECT_EQ(right->Serial, 800);
}

// A send that failed after the unit took its number writes the production log, and the log
// cannot be written: that error comes last, yet the unit failed for its silence, and its
// record and the summaries say so.
TEST_F(StationRunners, FailedSendKeepsItsCauseWhenTheLogCannotBeWritten)
{
    StartUnits(1);
    TUnitJob job = SendJob(0);
    job.ProductionLogPath = Dir.path();   // a folder: no line can be appended
    TSimFaults gone;                      // a few blocks into the kernel, after the serial number's write
    gone.VanishAfterWrites = 4;
    Sim.Controller(0).SetFaults(gone);
    QStringList lines;
    const auto records = Run({job}, std::make_shared<TMemorySerialCounter>(200),
                             [&lines](TUnitRunner&, const QString& text) { lines << text; });
    ASSERT_EQ(records.size(), 1u);
    ASSERT_TRUE(lines.last().startsWith(QStringLiteral("error: can't write production log ")))
        << lines.join(u'\n').toStdString();
    EXPECT_EQ(records[0].Outcome, TUnitOutcome::Failed);
    EXPECT_EQ(records[0].Message, QStringLiteral("error: the unit did not answer while sending kernel"));
    EXPECT_EQ(FailureKindName(records[0].Failure.Kind), FailureKindName(TFailureKind::NotAnswering));
}

// Each way a unit's operation can end, caused as the station meets it, and the kind its
// record keeps: the summaries count and show causes from it, not from message lines.
struct TFailureCase {
    const char* Name;
    TFailureKind Kind;
    TSimControllerConfig Unit;
    // Turns the fixture's send job into the case's; the unit is started.
    std::function<void(TUnitJob&, TSimController&, const QString& dir)> Arrange;
    QString StopAt;   // a stop request at this line; empty: none
};

using ::PrintTo;

class UnitFailures : public StationRunners, public ::testing::WithParamInterface<TFailureCase> {};

TEST_P(UnitFailures, RecordKeepsTheKindAndWordsOfTheFailure)
{
    const TFailureCase& c = GetParam();
    Sim.AddController(c.Unit);
    QString error;
    ASSERT_TRUE(Sim.Start(0, &error)) << error.toStdString();
    TUnitJob job = SendJob(0);
    if (c.Arrange)
        c.Arrange(job, Sim.Controller(0), Dir.path());
    const bool spent = c.Kind == TFailureKind::StoreError;
    auto serials = std::make_shared<TMemorySerialCounter>(spent ? std::numeric_limits<int32_t>::max() : 100);
    if (spent)
        serials->Take();   // the highest number, before the run: the unit is given none
    const QString stopAt = c.StopAt;
    const auto records = Run({job}, serials, [stopAt](TUnitRunner& runner, const QString& text) {
        if (text == stopAt)
            runner.RequestStop();
    });
    ASSERT_EQ(records.size(), 1u);
    const TUnitRecord& record = records[0];
    EXPECT_EQ(FailureKindName(record.Failure.Kind), FailureKindName(c.Kind)) << record.Message.toStdString();
    EXPECT_EQ(record.Outcome == TUnitOutcome::Succeeded, c.Kind == TFailureKind::None);
    // The words the summaries show are the record's message, as before.
    EXPECT_EQ(record.Failure.Text, c.Kind == TFailureKind::None ? QString() : record.Message);
}

TSimControllerConfig UnitWithLoader(uint16_t major)
{
    TSimControllerConfig config;
    config.LoaderMajor = major;
    return config;
}

TSimControllerConfig UnitWithSerial(uint32_t serial)
{
    TSimControllerConfig config;
    config.Serial = serial;
    return config;
}

// The job reads back what the fresh unit does not hold.
void VerifyOnly(TUnitJob& job, TSimController&, const QString&)
{
    job.Operation = TUnitOperation::Verify;
    job.What.Serial.Write = false;
}

const TFailureCase FailureCases[] = {
    {"Sent", TFailureKind::None, {}, {}, {}},
    {"SilentUnit",
     TFailureKind::NotAnswering,
     {},
     [](TUnitJob&, TSimController& unit, const QString&) {
         TSimFaults gone;
         gone.VanishAfterWrites = 0;
         unit.SetFaults(gone);
     },
     {}},
    {"EraseRefused",
     TFailureKind::Refused,
     {},
     [](TUnitJob&, TSimController& unit, const QString&) {
         TSimFaults refuse;
         refuse.ReplyCodeFor[CmdEraseFlash] = 5;
         unit.SetFaults(refuse);
     },
     {}},
    {"OtherPlatform", TFailureKind::WrongPlatform, UnitWithLoader(2), {}, {}},
    {"OldLoader", TFailureKind::WrongPlatform, UnitWithLoader(1), {}, {}},
    {"DumpIntoAFolder",
     TFailureKind::FileError,
     {},
     [](TUnitJob& job, TSimController&, const QString& dir) {
         job.Operation = TUnitOperation::DumpKernel;
         job.DumpPath = dir;
     },
     {}},
    {"KernelNotLoaded",
     TFailureKind::FileError,
     {},
     [](TUnitJob& job, TSimController&, const QString&) { job.Images.KernelLoaded = false; },
     {}},
    {"StopWhileSending", TFailureKind::Interrupted, {}, {}, QStringLiteral("sending kernel")},
    {"NoSerialNumberLeft", TFailureKind::StoreError, {}, {}, {}},
    {"VerifyFindsOtherBytes", TFailureKind::Mismatch, {}, VerifyOnly, {}},
    {"NothingToVerify",
     TFailureKind::InvalidJob,
     {},
     [](TUnitJob& job, TSimController& unit, const QString& dir) {
         VerifyOnly(job, unit, dir);
         job.What.Kernel.reset();
         job.What.Program.reset();
     },
     {}},
    {"SerialNumberAlreadySet",
     TFailureKind::UnitTaken,
     UnitWithSerial(4321),
     [](TUnitJob& job, TSimController&, const QString&) { job.Unit.Nad = 4321; },
     {}},
    {"NoSuchAdapter",
     TFailureKind::NoAdapter,
     {},
     [](TUnitJob& job, TSimController&, const QString&) { job.Link.AdapterName = QStringLiteral("no-such-adapter"); },
     {}},
};

INSTANTIATE_TEST_SUITE_P(Kinds, UnitFailures, ::testing::ValuesIn(FailureCases),
                         [](const auto& info) { return std::string(info.param.Name); });

// Eight threads take 50 numbers each from one counter: every number once, none missing.
TEST_F(StationRunners, SettingsCounterHandsEachNumberOutOnce)
{
    TSettingsSerialCounter counter(1);
    const std::multiset<int32_t> all = TakeFromThreads(8, 50, [&counter] { return counter.Take().Number; });
    EXPECT_EQ(all.size(), 400u);
    EXPECT_EQ(std::set<int32_t>(all.begin(), all.end()).size(), 400u);   // none twice
    EXPECT_EQ(*all.begin(), 1);
    EXPECT_EQ(*all.rbegin(), 400);   // none lost

    TSettingsSerialCounter last(std::numeric_limits<int32_t>::max());
    EXPECT_EQ(last.Take().Number, std::numeric_limits<int32_t>::max());
    EXPECT_EQ(last.Take().Number, -1);
}

// What each Take of a counter gives, in order.
std::vector<int32_t> Takes(TSerialCounter& counter, int count)
{
    std::vector<int32_t> taken;
    for (int i = 0; i < count; ++i)
        taken.push_back(counter.Take().Number);
    return taken;
}

// Two stations (or a station and the window) started from the same stored number: each
// number is taken under the lock from the stored value, so the two never give the same one.
TEST_F(StationRunners, SettingsCountersOfTwoProgramsNeverGiveTheSameNumber)
{
    StoreNextSerialAtLeast(100);
    TSettingsSerialCounter first(100);
    TSettingsSerialCounter second(100);
    std::vector<int32_t> all;
    for (int i = 0; i < 3; ++i) {
        all.push_back(first.Take().Number);
        all.push_back(second.Take().Number);
    }
    EXPECT_EQ(all, (std::vector<int32_t>{100, 101, 102, 103, 104, 105}));
    EXPECT_EQ(LoadStoredNextSerial(), 106);
}

// The same with two programs taking at once.
TEST_F(StationRunners, SettingsCounterSharedByProcessesGivesEachNumberOnce)
{
    constexpr int TakesEach = 40;
    std::vector<std::unique_ptr<QProcess>> takers;
    for (int i = 0; i < 2; ++i) {
        auto taker = std::make_unique<QProcess>();
        taker->start(QStringLiteral(SETTINGS_SERIAL_TAKER), {Dir.path(), QString::number(TakesEach)});
        takers.push_back(std::move(taker));
    }
    std::multiset<int32_t> all;
    for (auto& taker : takers) {
        ASSERT_TRUE(taker->waitForFinished(120000));
        const QString output = QString::fromLatin1(taker->readAllStandardOutput());
        for (const QString& word :
             output.section(QStringLiteral("taken:"), 1).section(u'\n', 0, 0).split(u' ', Qt::SkipEmptyParts))
            all.insert(word.toInt());
    }
    EXPECT_EQ(all.size(), size_t(2 * TakesEach));
    EXPECT_EQ(std::set<int32_t>(all.begin(), all.end()).size(), all.size());   // none twice
}

// After 2147483647 the counter has ended, in this run and in every later one, and says so;
// a number lower than the stored one is never given again.
TEST_F(StationRunners, SettingsCounterEndsAfterTheHighestNumberAndNeverGoesBack)
{
    constexpr int32_t Highest = std::numeric_limits<int32_t>::max();
    TSettingsSerialCounter last(Highest - 1);
    EXPECT_EQ(Takes(last, 2), (std::vector<int32_t>{Highest - 1, Highest}));
    const TSerialTake pastLast = last.Take();
    EXPECT_EQ(pastLast.Number, -1);
    EXPECT_TRUE(pastLast.Error.contains(QStringLiteral("2147483647")));
    EXPECT_EQ(LoadStoredNextSerial(), int64_t(Highest) + 1);

    const TSerialTake nextRun = TSettingsSerialCounter(1).Take();
    EXPECT_EQ(nextRun.Number, -1);
    EXPECT_FALSE(nextRun.Error.isEmpty());

    TMemorySerialCounter memory(Highest);
    EXPECT_EQ(Takes(memory, 1), (std::vector<int32_t>{Highest}));
    const TSerialTake pastMemory = memory.Take();
    EXPECT_EQ(pastMemory.Number, -1);
    EXPECT_TRUE(pastMemory.Error.contains(QStringLiteral("2147483647")));
}

TEST_F(StationRunners, SettingsCounterStartsAtTheStoredNumberWhenThatIsHigher)
{
    StoreNextSerialAtLeast(500);
    StoreNextSerialAtLeast(20);   // never back below a number given
    TSettingsSerialCounter counter(10);
    EXPECT_EQ(Takes(counter, 2), (std::vector<int32_t>{500, 501}));
    TSettingsSerialCounter above(900);
    EXPECT_EQ(above.Take().Number, 900);
    EXPECT_EQ(LoadStoredNextSerial(), 901);
}

}   // namespace
