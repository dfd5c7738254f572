// The record store on SQLite files in a temporary folder: the schema made and upgraded from
// its first version, records written and found again, serial numbers taken by eight
// threads at once, series that refuse, a store locked by another connection, and the
// fallback file that keeps records meanwhile.
#include "ConcurrentTakers.h"
#include "RecordKeeper.h"
#include "RecordStore.h"
#include "StoreSerialCounter.h"

#include <QFile>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <limits>
#include <memory>
#include <set>
#include <vector>

namespace {

TUnitRecord Unit(const QString& ip, int32_t serial, TUnitOutcome outcome, const QDateTime& started)
{
    TUnitRecord record;
    record.IP = ip;
    record.Serial = record.NadAfter = serial;
    record.SerialTaken = serial;
    record.Platform = QStringLiteral("Orvel/ARM");
    record.KernelVersion = QStringLiteral("3.1.7");
    record.KernelFile = QStringLiteral("kernel.bin");
    record.KernelSha256 = QString(64, u'a');
    record.ProgramFile = QStringLiteral("program.bin");
    record.ProgramSha256 = QString(64, u'b');
    record.SettingsWritten = true;
    record.Settings.IPAddress = 0x0A000005;
    record.SerialStep = record.KernelStep = QStringLiteral("ok");
    record.ProgramStep = outcome == TUnitOutcome::Succeeded ? QStringLiteral("ok") : QStringLiteral("err");
    record.Started = started;
    record.Ended = started.addMSecs(2500);
    record.Requests = 300;
    record.Resent = 2;
    record.Outcome = outcome;
    record.Message = outcome == TUnitOutcome::Succeeded ? QStringLiteral("sent successfully")
                                                        : QStringLiteral("error: plc not responding");
    return record;
}

class RecordStore : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(Dir.isValid()); }

    std::shared_ptr<TRecordStore> Open(const QString& name = QStringLiteral("records.sqlite"))
    {
        auto store = std::make_shared<TRecordStore>();
        store->BusyTimeoutMs = 300;
        QString error;
        EXPECT_TRUE(store->Open(Dir.filePath(name), error)) << error.toStdString();
        return store;
    }

    QList<QJsonObject> Query(TRecordStore& store, const TRecordFilter& filter = {})
    {
        QList<QJsonObject> records;
        QString error;
        EXPECT_TRUE(store.Query(filter, records, error)) << error.toStdString();
        return records;
    }

    // A connection of its own on the file, as another program has.
    QSqlDatabase OtherProgram(const QString& name = QStringLiteral("records.sqlite"))
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("other"));
        db.setDatabaseName(Dir.filePath(name));
        EXPECT_TRUE(db.open());
        return db;
    }

    void TearDown() override { QSqlDatabase::removeDatabase(QStringLiteral("other")); }

    QTemporaryDir Dir;
    const QDateTime Morning = QDateTime(QDate(2026, 3, 2), QTime(9, 0));
};

TEST_F(RecordStore, KeepsRecordsAndFindsThemByEachFilter)
{
    auto store = Open();
    QString error;
    const QJsonObject first = RecordEntry(Unit(QStringLiteral("127.0.0.2"), 1000, TUnitOutcome::Succeeded, Morning),
                                          QStringLiteral("line-1"), TRecordStore::DefaultSeries);
    ASSERT_TRUE(store->Write(first, error)) << error.toStdString();
    ASSERT_TRUE(store->Write(first, error));   // offered again: still one row
    ASSERT_TRUE(
        store->Write(RecordEntry(Unit(QStringLiteral("127.0.0.3"), 1001, TUnitOutcome::Failed, Morning.addDays(1)),
                                 QStringLiteral("line-2"), TRecordStore::DefaultSeries),
                     error));
    TUnitRecord serviced = Unit(QStringLiteral("127.0.0.4"), 1000, TUnitOutcome::Succeeded, Morning.addDays(2));
    serviced.SerialTaken = -1;   // the unit had its number; only its program went in
    ASSERT_TRUE(store->Write(RecordEntry(serviced, QStringLiteral("service"), QString()), error));

    const QList<QJsonObject> all = Query(*store);
    ASSERT_EQ(all.size(), 3);
    // Everything the runner said comes back as it said it, times in UTC.
    QJsonObject back = all[0];
    EXPECT_GT(back.take(QStringLiteral("id")).toInteger(), 0);
    EXPECT_EQ(back, first);
    EXPECT_EQ(back.value(QStringLiteral("settings")).toObject().value(QStringLiteral("ipAddress")).toString(),
              QStringLiteral("10.0.0.5"));
    EXPECT_EQ(QDateTime::fromString(back.value(QStringLiteral("start")).toString(), Qt::ISODateWithMs), Morning);

    struct TCase {
        const char* Name;
        TRecordFilter Filter;
        QStringList Units;
    };
    const TCase cases[] = {
        {"serial in the unit or taken for it", {1000, {}, false, {}}, {"127.0.0.2", "127.0.0.4"}},
        {"serial nobody has", {999, {}, false, {}}, {}},
        {"since a day", {{}, Morning.addSecs(3600), false, {}}, {"127.0.0.3", "127.0.0.4"}},
        {"failed only", {{}, {}, true, {}}, {"127.0.0.3"}},
        {"one station", {{}, {}, false, QStringLiteral("line-2")}, {"127.0.0.3"}},
        {"all at once", {1000, Morning, false, QStringLiteral("line-1")}, {"127.0.0.2"}},
    };
    for (const TCase& c : cases) {
        QStringList units;
        for (const QJsonObject& record : Query(*store, c.Filter))
            units << record.value(QStringLiteral("unit")).toString();
        EXPECT_EQ(units, c.Units) << c.Name;
    }
}

// The first version's file as that version wrote it, with a unit that took number 41.
TEST_F(RecordStore, UpgradesAStoreOfTheFirstVersion)
{
    {
        QSqlDatabase db = OtherProgram();
        QSqlQuery query(db);
        for (const char* sql : {
                 "CREATE TABLE schema_version (version INTEGER NOT NULL)",
                 "INSERT INTO schema_version VALUES (1)",
                 "CREATE TABLE unit_records (id INTEGER PRIMARY KEY, record_key TEXT NOT NULL UNIQUE, station TEXT NOT "
                 "NULL,"
                 " unit_ip TEXT NOT NULL, outcome TEXT NOT NULL, nad_before BIGINT, nad_after BIGINT, serial BIGINT,"
                 " serial_taken BIGINT, series TEXT, platform TEXT, kernel_version TEXT, kernel_file TEXT,"
                 " kernel_sha256 TEXT, program_file TEXT, program_sha256 TEXT, settings TEXT, serial_step TEXT,"
                 " kernel_step TEXT, program_step TEXT, verify_step TEXT, started TEXT NOT NULL, ended TEXT,"
                 " duration_ms BIGINT, requests BIGINT, resent BIGINT, message TEXT)",
                 "CREATE INDEX unit_records_serial ON unit_records (serial)",
                 "CREATE INDEX unit_records_serial_taken ON unit_records (serial_taken)",
                 "CREATE INDEX unit_records_started ON unit_records (started)",
                 "CREATE TABLE serial_series (name TEXT PRIMARY KEY, next_number BIGINT NOT NULL)",
                 "INSERT INTO serial_series VALUES ('default', 42)",
                 "INSERT INTO unit_records (record_key, station, unit_ip, outcome, serial, serial_taken, series, "
                 "started)"
                 " VALUES ('k1', 'line-1', '127.0.0.2', 'failed', -1, 41, 'default', '2026-03-01T08:00:00.000Z')",
             })
            ASSERT_TRUE(query.exec(QLatin1String(sql))) << sql;
        db.close();
    }
    auto store = Open();
    const QList<QJsonObject> records = Query(*store, {41, {}, false, {}});
    ASSERT_EQ(records.size(), 1);
    EXPECT_EQ(records[0].value(QStringLiteral("station")).toString(), QStringLiteral("line-1"));

    // The ledger knows number 41 from the old records: the series cannot be set back over it.
    QString error;
    EXPECT_FALSE(store->SetNextSerial(TRecordStore::DefaultSeries, 41, error));
    EXPECT_TRUE(error.contains(QLatin1String("numbers up to 41"))) << error.toStdString();
    EXPECT_EQ(store->TakeSerial(TRecordStore::DefaultSeries, QStringLiteral("line-1"), error), 42)
        << error.toStdString();
    QList<TSeriesState> series;
    ASSERT_TRUE(store->ReadSeries(series, error));
    ASSERT_EQ(series.size(), 1);
    EXPECT_EQ(series[0].Next, 43);
    EXPECT_EQ(series[0].Taken, 2);
}

TEST_F(RecordStore, RefusesAStoreOfANewerSchemaInWords)
{
    Open();
    {
        QSqlDatabase db = OtherProgram();
        ASSERT_TRUE(QSqlQuery(db).exec(QStringLiteral("UPDATE schema_version SET version = 99")));
        db.close();
    }
    TRecordStore store;
    QString error;
    EXPECT_FALSE(store.Open(Dir.filePath(QStringLiteral("records.sqlite")), error));
    EXPECT_TRUE(error.contains(QLatin1String("schema is version 99, newer than this program knows (2)")))
        << error.toStdString();
}

TEST_F(RecordStore, StoreThatCannotBeOpenedSaysWhere)
{
    QFile blocker(Dir.filePath(QStringLiteral("file")));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    TRecordStore store;
    QString error;
    EXPECT_FALSE(store.Open(Dir.filePath(QStringLiteral("file/records.sqlite")), error));
    EXPECT_TRUE(
        error.startsWith(QStringLiteral("record store %1: can't open").arg(Dir.filePath("file/records.sqlite"))))
        << error.toStdString();

    // A shared store out of reach: the password is used to log in, never shown.
    TRecordStore shared;
    const QString url = QStringLiteral("postgresql://station:s3cr3t@/orvel?host=%1").arg(Dir.filePath("none"));
    EXPECT_FALSE(shared.Open(url, error));
    EXPECT_FALSE(error.contains(QLatin1String("s3cr3t"))) << error.toStdString();
    EXPECT_TRUE(error.contains(QLatin1String("postgresql://station@/orvel"))) << error.toStdString();
}

TEST_F(RecordStore, SeriesRefuseWhatWouldGiveANumberTwiceOrNone)
{
    auto store = Open();
    QString error;
    EXPECT_EQ(store->TakeSerial(QStringLiteral("nosuch"), QStringLiteral("s"), error), -1);
    EXPECT_TRUE(
        error.contains(QLatin1String("no such series; start it with 'orvel-loader serials set --series nosuch")))
        << error.toStdString();

    for (const int64_t next : {int64_t(0), int64_t(-5), int64_t(std::numeric_limits<int32_t>::max()) + 1})
        EXPECT_FALSE(store->SetNextSerial(TRecordStore::DefaultSeries, next, error)) << next;

    ASSERT_TRUE(store->SetNextSerial(QStringLiteral("last"), std::numeric_limits<int32_t>::max(), error));
    EXPECT_EQ(store->TakeSerial(QStringLiteral("last"), QStringLiteral("s"), error),
              std::numeric_limits<int32_t>::max());
    EXPECT_EQ(store->TakeSerial(QStringLiteral("last"), QStringLiteral("s"), error), -1);
    EXPECT_TRUE(error.contains(QLatin1String("used up"))) << error.toStdString();

    ASSERT_TRUE(store->SetNextSerial(TRecordStore::DefaultSeries, 100, error));
    EXPECT_EQ(store->TakeSerial(TRecordStore::DefaultSeries, QStringLiteral("s"), error), 100);
    EXPECT_FALSE(store->SetNextSerial(TRecordStore::DefaultSeries, 100, error));
    EXPECT_TRUE(store->SetNextSerial(TRecordStore::DefaultSeries, 5000, error)) << error.toStdString();
    EXPECT_EQ(store->TakeSerial(TRecordStore::DefaultSeries, QStringLiteral("s"), error), 5000);
}

// Eight runners' threads, five hundred numbers each, each on its own connection.
TEST_F(RecordStore, EightThreadsTakeEveryNumberOnceAndLoseNone)
{
    auto store = Open();
    QString error;
    ASSERT_TRUE(store->SetNextSerial(TRecordStore::DefaultSeries, 1, error));
    TStoreSerialCounter counter(store, TRecordStore::DefaultSeries, QStringLiteral("line-1"));
    const std::multiset<int32_t> all = TakeFromThreads(8, 500, [&counter] { return counter.Take(); });
    EXPECT_EQ(all.size(), 4000u);
    EXPECT_EQ(std::set<int32_t>(all.begin(), all.end()).size(), 4000u);   // none twice
    EXPECT_EQ(*all.begin(), 1);
    EXPECT_EQ(*all.rbegin(), 4000);   // none lost
    QList<TSeriesState> series;
    ASSERT_TRUE(store->ReadSeries(series, error));
    ASSERT_EQ(series.size(), 1);
    EXPECT_EQ(series[0].Next, 4001);
    EXPECT_EQ(series[0].Taken, 4000);
}

// Another program holds the file's write lock: taking and writing fail in words after the
// busy time-out, records wait in the fallback file, and reach the store once it is free.
TEST_F(RecordStore, LockedStoreIsReportedAndRecordsWaitUntilItIsFree)
{
    auto store = Open();
    QString error;
    ASSERT_TRUE(store->SetNextSerial(TRecordStore::DefaultSeries, 7, error));
    const QString fallback = Dir.filePath(QStringLiteral("waiting.jsonl"));
    TRecordKeeper keeper(store, fallback);
    TStoreSerialCounter counter(store, TRecordStore::DefaultSeries, QStringLiteral("line-1"));

    QSqlDatabase other = OtherProgram();
    QSqlQuery lock(other);
    ASSERT_TRUE(lock.exec(QStringLiteral("BEGIN IMMEDIATE")));

    EXPECT_EQ(counter.Take(), -1);
    EXPECT_TRUE(
        counter.LastError().contains(QLatin1String("database is locked (another program holds it; waited 0.3 s)")))
        << counter.LastError().toStdString();
    const TKeepResult waiting = keeper.Keep(
        RecordEntry(Unit(QStringLiteral("127.0.0.2"), 6, TUnitOutcome::Succeeded, Morning), "line-1", "default"));
    EXPECT_EQ(waiting.Kept, TKept::Waiting);
    EXPECT_TRUE(waiting.Text.contains(fallback)) << waiting.Text.toStdString();
    EXPECT_TRUE(QFile::exists(fallback));

    ASSERT_TRUE(lock.exec(QStringLiteral("COMMIT")));
    EXPECT_EQ(counter.Take(), 7);   // nothing was used up meanwhile
    EXPECT_TRUE(counter.LastError().isEmpty());
    const TKeepResult stored = keeper.Keep(
        RecordEntry(Unit(QStringLiteral("127.0.0.3"), 7, TUnitOutcome::Succeeded, Morning.addSecs(60)), "line-1",
                    "default"));
    EXPECT_EQ(stored.Kept, TKept::Stored) << stored.Text.toStdString();
    EXPECT_FALSE(QFile::exists(fallback));
    EXPECT_EQ(Query(*store).size(), 2);
}

TEST_F(RecordStore, RecordKeptNeitherInTheStoreNorInTheFallbackFileIsLost)
{
    auto store = Open();
    QFile blocker(Dir.filePath(QStringLiteral("file")));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    TRecordKeeper keeper(store, Dir.filePath(QStringLiteral("file/waiting.jsonl")));
    QSqlDatabase other = OtherProgram();
    QSqlQuery lock(other);
    ASSERT_TRUE(lock.exec(QStringLiteral("BEGIN IMMEDIATE")));
    const TKeepResult lost = keeper.Keep(
        RecordEntry(Unit(QStringLiteral("127.0.0.2"), 9, TUnitOutcome::Failed, Morning), "line-1", "default"));
    EXPECT_EQ(lost.Kept, TKept::Lost);
    // The operator has the record itself on screen at least.
    EXPECT_TRUE(lost.Text.contains(QLatin1String("could be kept neither in the store"))) << lost.Text.toStdString();
    EXPECT_TRUE(lost.Text.contains(QLatin1String("\"serialTaken\":9")));
    lock.exec(QStringLiteral("ROLLBACK"));
}

}   // namespace
