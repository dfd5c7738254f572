// The record store on a real PostgreSQL server, started for this program by
// with_postgres.sh: two stations (processes) taking numbers from one series at once, the
// server stopped in the middle of a run and started again, a take and `serials set` at
// once, a row lock held by another station, and what waits for the disk. Without the
// server these tests fail: a store that was never reached proves nothing.
#include "RecordKeeper.h"
#include "RecordStore.h"
#include "StoreSerialCounter.h"

#include <QFile>
#include <QJsonDocument>
#include <QSqlError>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QThread>
#include <QUrl>
#include <QUrlQuery>

#include <gtest/gtest.h>

#include <memory>
#include <set>

namespace {

class PostgresStore : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(Dir.isValid());
        ASSERT_FALSE(Url.isEmpty()) << "no PostgreSQL server: run this program through tests/records/with_postgres.sh";
        Store = std::make_shared<TRecordStore>();
        QString error;
        ASSERT_TRUE(Store->Open(Url, error)) << error.toStdString();
    }

    static void Server(const char* command)
    {
        ASSERT_EQ(QProcess::execute(QStringLiteral("sh"), {QStringLiteral("-c"), qEnvironmentVariable(command)}), 0)
            << command;
    }

    // A connection of its own, as another station's server process.
    QSqlDatabase OtherStation()
    {
        const QUrl url(Url);
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), QStringLiteral("other"));
        db.setHostName(QUrlQuery(url).queryItemValue(QStringLiteral("host")));
        db.setUserName(url.userName());
        db.setDatabaseName(url.path().mid(1));
        EXPECT_TRUE(db.open()) << db.lastError().text().toStdString();
        return db;
    }

    static void Sql(QSqlQuery& query, const char* sql)
    {
        ASSERT_TRUE(query.exec(QLatin1String(sql))) << sql << ": " << query.lastError().text().toStdString();
    }

    void TearDown() override { QSqlDatabase::removeDatabase(QStringLiteral("other")); }

    static TUnitRecord Unit(int32_t serial)
    {
        TUnitRecord record;
        record.IP = QStringLiteral("127.0.0.%1").arg(serial % 250 + 2);
        record.Serial = record.SerialTaken = serial;
        record.SerialStep = TStepResult::Ok;
        record.Started = record.Ended = QDateTime::currentDateTime();
        return record;
    }

    const QString Url = qEnvironmentVariable("ORVEL_TEST_POSTGRES");
    QTemporaryDir Dir;
    std::shared_ptr<TRecordStore> Store;
};

// Two stations, eight runners each, five hundred numbers per runner. The numbers are one set
// for the whole store: each test takes from a range of its own.
TEST_F(PostgresStore, TwoProcessesTakeEveryNumberOnceAndLoseNone)
{
    QString error;
    ASSERT_TRUE(Store->SetNextSerial(QStringLiteral("two"), 1, error)) << error.toStdString();
    QProcess stations[2];
    for (QProcess& station : stations)
        station.start(QStringLiteral(SERIAL_TAKER),
                      {Url, QStringLiteral("two"), QStringLiteral("8"), QStringLiteral("500")});
    std::multiset<int> taken;
    for (QProcess& station : stations) {
        ASSERT_TRUE(station.waitForFinished(240000));
        EXPECT_EQ(station.exitCode(), 0) << station.readAllStandardError().toStdString();
        for (const QByteArray& line : station.readAllStandardOutput().split('\n'))
            if (!line.isEmpty())
                taken.insert(line.toInt());
    }
    EXPECT_EQ(taken.size(), 8000u);
    EXPECT_EQ(std::set<int>(taken.begin(), taken.end()).size(), 8000u);   // none twice
    EXPECT_EQ(*taken.begin(), 1);
    EXPECT_EQ(*taken.rbegin(), 8000);   // none lost
    QList<TSeriesState> series;
    ASSERT_TRUE(Store->ReadSeries(series, error));
    for (const TSeriesState& state : series)
        if (state.Name == QStringLiteral("two")) {
            EXPECT_EQ(state.Next, 8001);
            EXPECT_EQ(state.Taken, 8000);
        }
}

TEST_F(PostgresStore, ServerGoneMidRunIsReportedAndRecordsWaitUntilItIsBack)
{
    QString error;
    ASSERT_TRUE(Store->SetNextSerial(QStringLiteral("outage"), 100001, error)) << error.toStdString();
    TStoreSerialCounter counter(Store, QStringLiteral("outage"), QStringLiteral("line-9"));
    const QString fallback = Dir.filePath(QStringLiteral("waiting.jsonl"));
    TRecordKeeper keeper(Store, fallback);
    const auto entry = [](int32_t serial) {
        TUnitRecord record;
        record.IP = QStringLiteral("127.0.0.%1").arg(serial % 100 + 1);
        record.Serial = record.SerialTaken = serial;
        record.Started = record.Ended = QDateTime::currentDateTime();
        return RecordEntry(record, QStringLiteral("line-9"), QStringLiteral("outage"));
    };

    EXPECT_EQ(counter.Take().Number, 100001);
    EXPECT_EQ(keeper.Keep(entry(100001)).Kept, TKept::Stored);

    Server("ORVEL_TEST_POSTGRES_STOP");
    const TSerialTake gone = counter.Take();
    EXPECT_EQ(gone.Number, -1);
    EXPECT_TRUE(gone.Error.startsWith(
        QStringLiteral("record store %1: can't take a serial number from series \"outage\": ").arg(Url)))
        << gone.Error.toStdString();
    const TKeepResult waiting = keeper.Keep(entry(100002));
    EXPECT_EQ(waiting.Kept, TKept::Waiting) << waiting.Text.toStdString();
    EXPECT_TRUE(QFile::exists(fallback));

    Server("ORVEL_TEST_POSTGRES_START");
    const TSerialTake back = counter.Take();
    EXPECT_EQ(back.Number, 100002) << back.Error.toStdString();   // nothing used up while it was gone
    EXPECT_EQ(keeper.Keep(entry(100003)).Kept, TKept::Stored);
    EXPECT_FALSE(QFile::exists(fallback));
    QList<TStoredRecord> records;
    ASSERT_TRUE(Store->Query({{}, {}, false, QStringLiteral("line-9"), {}}, records, error)) << error.toStdString();
    EXPECT_EQ(records.size(), 3);
}

// The server's default may be not to wait for the disk: a number taken, a number claimed and
// a record replayed from the fallback file (which is then removed) wait all the same.
TEST_F(PostgresStore, NumbersAndReplayedRecordsWaitForTheDisk)
{
    {
        QSqlDatabase db = OtherStation();
        QSqlQuery query(db);
        Sql(query, "ALTER DATABASE orvel SET synchronous_commit = off");
        Sql(query, "CREATE TABLE commit_modes (what TEXT, mode TEXT)");
        Sql(query, "CREATE FUNCTION note_commit_mode() RETURNS trigger AS $$ BEGIN"
                   " INSERT INTO commit_modes VALUES (TG_TABLE_NAME, current_setting('synchronous_commit'));"
                   " RETURN NEW; END $$ LANGUAGE plpgsql");
        for (const char* table : {"serial_ledger", "given_serials", "unit_records"})
            ASSERT_TRUE(query.exec(QStringLiteral("CREATE TRIGGER note_%1 AFTER INSERT ON %1 FOR EACH ROW"
                                                  " EXECUTE FUNCTION note_commit_mode()")
                                       .arg(QLatin1String(table))))
                << query.lastError().text().toStdString();
        db.close();
    }
    auto store = std::make_shared<TRecordStore>();
    QString error;
    ASSERT_TRUE(store->Open(Url, error)) << error.toStdString();
    ASSERT_TRUE(store->SetNextSerial(QStringLiteral("disk"), 200001, error)) << error.toStdString();
    ASSERT_EQ(store->TakeSerial(QStringLiteral("disk"), QStringLiteral("line-1"), error), 200001)
        << error.toStdString();
    ASSERT_TRUE(store->ClaimSerial(200900, QStringLiteral("--serial"), QStringLiteral("line-1"), error))
        << error.toStdString();
    const QString fallback = Dir.filePath(QStringLiteral("waiting.jsonl"));
    {
        QFile file(fallback);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(
            QJsonDocument(StoredRecordJson(RecordEntry(Unit(200001), QStringLiteral("line-1"), QStringLiteral("disk"))))
                .toJson(QJsonDocument::Compact) +
            '\n');
    }
    TRecordKeeper keeper(store, fallback);
    QString why;
    ASSERT_EQ(keeper.Flush(why), 1) << why.toStdString();
    EXPECT_FALSE(QFile::exists(fallback));

    QSqlDatabase db = OtherStation();
    QSqlQuery query(db);
    Sql(query, "SELECT what, mode FROM commit_modes ORDER BY what");
    QStringList modes;
    while (query.next())
        modes << query.value(0).toString() + u'=' + query.value(1).toString();
    EXPECT_EQ(modes, (QStringList{QStringLiteral("given_serials=on"), QStringLiteral("given_serials=on"),
                                  QStringLiteral("serial_ledger=on"), QStringLiteral("unit_records=on")}));
    Sql(query, "ALTER DATABASE orvel RESET synchronous_commit");
    for (const char* table : {"serial_ledger", "given_serials", "unit_records"})
        query.exec(QStringLiteral("DROP TRIGGER note_%1 ON %1").arg(QLatin1String(table)));
}

// `serials set` while another station's take is in flight: it waits for the take and then
// sees the number taken, instead of setting the series back onto it.
TEST_F(PostgresStore, SetWaitsForATakeInFlight)
{
    QString error;
    ASSERT_TRUE(Store->SetNextSerial(QStringLiteral("race"), 300040, error)) << error.toStdString();
    QSqlDatabase db = OtherStation();
    QSqlQuery take(db);
    Sql(take, "BEGIN");
    Sql(take, "UPDATE serial_series SET next_number = next_number + 1 WHERE name = 'race'");
    Sql(take, "INSERT INTO given_serials (number, source, series, station, given)"
              " VALUES (300040, 'series race', 'race', 'line-2', '2026-03-02T09:00:00.000Z')");
    Sql(take, "INSERT INTO serial_ledger (series, number, station, taken)"
              " VALUES ('race', 300040, 'line-2', '2026-03-02T09:00:00.000Z')");
    bool set = true;
    QString setError;
    std::unique_ptr<QThread> setter(
        QThread::create([&] { set = Store->SetNextSerial(QStringLiteral("race"), 300040, setError); }));
    setter->start();
    QThread::msleep(500);   // the set reaches the lock, and waits there
    Sql(take, "COMMIT");
    ASSERT_TRUE(setter->wait(60000));
    EXPECT_FALSE(set);
    EXPECT_TRUE(setError.contains(QLatin1String("up to 300040"))) << setError.toStdString();
    EXPECT_EQ(Store->TakeSerial(QStringLiteral("race"), QStringLiteral("line-1"), error), 300041)
        << error.toStdString();
}

// Another station holds the series' row: a take ends in words after the lock time-out, and
// Cancel ends a longer wait at once.
TEST_F(PostgresStore, HeldRowLockEndsInWordsAndCancelEndsAWait)
{
    QString error;
    ASSERT_TRUE(Store->SetNextSerial(QStringLiteral("held"), 400001, error)) << error.toStdString();
    QSqlDatabase db = OtherStation();
    QSqlQuery hold(db);
    Sql(hold, "BEGIN");
    Sql(hold, "SELECT next_number FROM serial_series WHERE name = 'held' FOR UPDATE");

    TRecordStore shortWait;
    shortWait.LockTimeoutMs = 300;
    ASSERT_TRUE(shortWait.Open(Url, error)) << error.toStdString();
    EXPECT_EQ(shortWait.TakeSerial(QStringLiteral("held"), QStringLiteral("line-1"), error), -1);
    EXPECT_TRUE(error.contains(QLatin1String("lock timeout"))) << error.toStdString();

    TRecordStore longWait;
    longWait.LockTimeoutMs = 600000;
    ASSERT_TRUE(longWait.Open(Url, error)) << error.toStdString();
    int32_t taken = 0;
    QString takeError;
    std::unique_ptr<QThread> taker(QThread::create(
        [&] { taken = longWait.TakeSerial(QStringLiteral("held"), QStringLiteral("line-1"), takeError); }));
    taker->start();
    // Until the take has reached the lock, there is no wait to end yet.
    for (int i = 0; i < 300 && !taker->wait(200); ++i)
        longWait.Cancel();
    ASSERT_TRUE(taker->isFinished());
    EXPECT_EQ(taken, -1);
    EXPECT_TRUE(takeError.contains(QLatin1String("canceling statement"))) << takeError.toStdString();
    Sql(hold, "ROLLBACK");
    EXPECT_EQ(longWait.TakeSerial(QStringLiteral("held"), QStringLiteral("line-1"), error), 400001)
        << error.toStdString();
}

// The server restarted between two units: the next record reaches it, not the fallback file.
TEST_F(PostgresStore, FirstWriteAfterARestartReconnects)
{
    QString error;
    ASSERT_TRUE(Store->SetNextSerial(QStringLiteral("restart"), 500001, error)) << error.toStdString();
    const QString fallback = Dir.filePath(QStringLiteral("waiting.jsonl"));
    TRecordKeeper keeper(Store, fallback);
    ASSERT_EQ(Store->TakeSerial(QStringLiteral("restart"), QStringLiteral("line-1"), error), 500001);
    ASSERT_EQ(keeper.Keep(RecordEntry(Unit(500001), QStringLiteral("line-1"), QStringLiteral("restart"))).Kept,
              TKept::Stored);
    Server("ORVEL_TEST_POSTGRES_STOP");
    Server("ORVEL_TEST_POSTGRES_START");
    const TKeepResult kept = keeper.Keep(
        RecordEntry(Unit(500001), QStringLiteral("line-1"), QStringLiteral("restart")));
    EXPECT_EQ(kept.Kept, TKept::Stored) << kept.Text.toStdString();
    EXPECT_FALSE(QFile::exists(fallback));
    Server("ORVEL_TEST_POSTGRES_STOP");
    Server("ORVEL_TEST_POSTGRES_START");
    EXPECT_EQ(Store->TakeSerial(QStringLiteral("restart"), QStringLiteral("line-1"), error), 500002)
        << error.toStdString();
}

}   // namespace
