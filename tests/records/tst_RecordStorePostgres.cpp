// The record store on a real PostgreSQL server, started for this program by
// with_postgres.sh: two stations (processes) taking numbers from one series at once, and
// the server stopped in the middle of a run and started again. Without the server these
// tests fail: a store that was never reached proves nothing.
#include "RecordKeeper.h"
#include "RecordStore.h"
#include "StoreSerialCounter.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

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

    const QString Url = qEnvironmentVariable("ORVEL_TEST_POSTGRES");
    QTemporaryDir Dir;
    std::shared_ptr<TRecordStore> Store;
};

// Two stations, eight runners each, five hundred numbers per runner.
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
    ASSERT_TRUE(Store->SetNextSerial(QStringLiteral("outage"), 1, error)) << error.toStdString();
    TStoreSerialCounter counter(Store, QStringLiteral("outage"), QStringLiteral("line-9"));
    const QString fallback = Dir.filePath(QStringLiteral("waiting.jsonl"));
    TRecordKeeper keeper(Store, fallback);
    const auto entry = [](int32_t serial) {
        TUnitRecord record;
        record.IP = QStringLiteral("127.0.0.%1").arg(serial + 1);
        record.Serial = record.SerialTaken = serial;
        record.Started = record.Ended = QDateTime::currentDateTime();
        return RecordEntry(record, QStringLiteral("line-9"), QStringLiteral("outage"));
    };

    EXPECT_EQ(counter.Take(), 1);
    EXPECT_EQ(keeper.Keep(entry(1)).Kept, TKept::Stored);

    Server("ORVEL_TEST_POSTGRES_STOP");
    EXPECT_EQ(counter.Take(), -1);
    EXPECT_TRUE(counter.LastError().startsWith(
        QStringLiteral("record store %1: can't take a serial number from series \"outage\": ").arg(Url)))
        << counter.LastError().toStdString();
    const TKeepResult waiting = keeper.Keep(entry(2));
    EXPECT_EQ(waiting.Kept, TKept::Waiting) << waiting.Text.toStdString();
    EXPECT_TRUE(QFile::exists(fallback));

    Server("ORVEL_TEST_POSTGRES_START");
    EXPECT_EQ(counter.Take(), 2) << counter.LastError().toStdString();   // nothing used up while it was gone
    EXPECT_EQ(keeper.Keep(entry(3)).Kept, TKept::Stored);
    EXPECT_FALSE(QFile::exists(fallback));
    QList<QJsonObject> records;
    ASSERT_TRUE(Store->Query({{}, {}, false, QStringLiteral("line-9")}, records, error)) << error.toStdString();
    EXPECT_EQ(records.size(), 3);
}

}   // namespace
