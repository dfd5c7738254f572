// The record store on SQLite files in a temporary folder: the schema made and upgraded from
// its earlier versions, records written and found again, serial numbers taken by eight
// threads at once, one set of given numbers across series and sources, series that
// refuse, locations that are refused, a store locked by another connection, and the
// fallback file that keeps records meanwhile, whatever a crash or a full disk left in it.
#include "ConcurrentTakers.h"
#include "FallbackFile.h"
#include "RecordFields.h"
#include "RecordKeeper.h"
#include "RecordStore.h"
#include "StoreCommands.h"
#include "StoreSerialCounter.h"
#include "StoredRecordsJson.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QProcess>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <limits>
#include <memory>
#include <set>
#include <vector>

#include <sys/resource.h>
#include <unistd.h>

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
    record.SerialStep = record.KernelStep = TStepResult::Ok;
    record.ProgramStep = outcome == TUnitOutcome::Succeeded ? TStepResult::Ok : TStepResult::Err;
    record.Started = started;
    record.Ended = started.addMSecs(2500);
    record.Requests = 300;
    record.Resent = 2;
    record.Outcome = outcome;
    record.Message = outcome == TUnitOutcome::Succeeded ? QStringLiteral("sent successfully")
                                                        : QStringLiteral("error: plc not responding");
    return record;
}

// The tables of the first version's store, as that version made them.
const char* const FirstVersionTables[] = {
    "CREATE TABLE schema_version (version INTEGER NOT NULL)",
    "INSERT INTO schema_version VALUES (1)",
    "CREATE TABLE unit_records (id INTEGER PRIMARY KEY, record_key TEXT NOT NULL UNIQUE, station TEXT NOT NULL,"
    " unit_ip TEXT NOT NULL, outcome TEXT NOT NULL, nad_before BIGINT, nad_after BIGINT, serial BIGINT,"
    " serial_taken BIGINT, series TEXT, platform TEXT, kernel_version TEXT, kernel_file TEXT,"
    " kernel_sha256 TEXT, program_file TEXT, program_sha256 TEXT, settings TEXT, serial_step TEXT,"
    " kernel_step TEXT, program_step TEXT, verify_step TEXT, started TEXT NOT NULL, ended TEXT,"
    " duration_ms BIGINT, requests BIGINT, resent BIGINT, message TEXT)",
    "CREATE INDEX unit_records_serial ON unit_records (serial)",
    "CREATE INDEX unit_records_serial_taken ON unit_records (serial_taken)",
    "CREATE INDEX unit_records_started ON unit_records (started)",
    "CREATE TABLE serial_series (name TEXT PRIMARY KEY, next_number BIGINT NOT NULL)",
};

// The columns of an SQLite store's unit_records, by name, each as "name TYPE" and its
// constraints.
QStringList UnitRecordColumns(const QString& file)
{
    QStringList columns;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("columns"));
        db.setDatabaseName(file);
        EXPECT_TRUE(db.open());
        QSqlQuery query(db);
        QStringList unique;
        EXPECT_TRUE(query.exec(QStringLiteral("SELECT i.name FROM pragma_index_list('unit_records') l,"
                                              " pragma_index_info(l.name) i WHERE l.\"unique\" = 1")));
        while (query.next())
            unique << query.value(0).toString();
        EXPECT_TRUE(
            query.exec(QStringLiteral("SELECT name, type, \"notnull\", pk FROM pragma_table_info('unit_records')")));
        while (query.next()) {
            const QString name = query.value(0).toString();
            columns << name + u' ' + query.value(1).toString() +
                           (query.value(2).toInt() ? QStringLiteral(" NOT NULL") : QString()) +
                           (query.value(3).toInt() ? QStringLiteral(" PRIMARY KEY") : QString()) +
                           (unique.contains(name) ? QStringLiteral(" UNIQUE") : QString());
        }
    }
    QSqlDatabase::removeDatabase(QStringLiteral("columns"));
    columns.sort();
    return columns;
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
        QList<TStoredRecord> records;
        QString error;
        EXPECT_TRUE(store.Query(filter, records, error)) << error.toStdString();
        return StoredRecordsJson(records);
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

    // What orvel-loader prints for a command line, its errors after its results.
    static QString RunToText(const QStringList& arguments)
    {
        const TParsedCommandLine parsed = ParseLoaderCommandLine(arguments, {});
        if (parsed.Done())
            return parsed.Text;
        FILE* out = std::tmpfile();
        RunStoreCommand(parsed.Options, out, out);
        std::rewind(out);
        QByteArray text;
        char buffer[4096];
        for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, out)) > 0;)
            text.append(buffer, qsizetype(n));
        std::fclose(out);
        return QString::fromUtf8(text);
    }

    QTemporaryDir Dir;
    const QDateTime Morning = QDateTime(QDate(2026, 3, 2), QTime(9, 0));
};

TEST_F(RecordStore, KeepsRecordsAndFindsThemByEachFilter)
{
    auto store = Open();
    QString error;
    const TStoredRecord first = RecordEntry(Unit(QStringLiteral("127.0.0.2"), 1000, TUnitOutcome::Succeeded, Morning),
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
    EXPECT_EQ(back, StoredRecordJson(first));
    EXPECT_EQ(back.value(QStringLiteral("settings")).toObject().value(QStringLiteral("ipAddress")).toString(),
              QStringLiteral("10.0.0.5"));
    EXPECT_EQ(QDateTime::fromString(back.value(QStringLiteral("start")).toString(), Qt::ISODateWithMs), Morning);

    struct TCase {
        const char* Name;
        TRecordFilter Filter;
        QStringList Units;
    };
    const TCase cases[] = {
        {"serial in the unit or taken for it", {1000, {}, false, {}, {}}, {"127.0.0.2", "127.0.0.4"}},
        {"serial nobody has", {999, {}, false, {}, {}}, {}},
        {"since a day", {{}, Morning.addSecs(3600), false, {}, {}}, {"127.0.0.3", "127.0.0.4"}},
        {"failed only", {{}, {}, true, {}, {}}, {"127.0.0.3"}},
        {"one station", {{}, {}, false, QStringLiteral("line-2"), {}}, {"127.0.0.3"}},
        {"all at once", {1000, Morning, false, QStringLiteral("line-1"), {}}, {"127.0.0.2"}},
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
        for (const char* sql : FirstVersionTables)
            ASSERT_TRUE(query.exec(QLatin1String(sql))) << sql;
        for (const char* sql : {
                 "INSERT INTO serial_series VALUES ('default', 42)",
                 "INSERT INTO unit_records (record_key, station, unit_ip, outcome, serial, serial_taken, series, "
                 "started)"
                 " VALUES ('k1', 'line-1', '127.0.0.2', 'failed', -1, 41, 'default', '2026-03-01T08:00:00.000Z')",
                 // 41 taken from a second series as well: the ledger's later one is a clash.
                 "INSERT INTO unit_records (record_key, station, unit_ip, outcome, serial, serial_taken, series, "
                 "started)"
                 " VALUES ('k4', 'line-2', '127.0.0.5', 'failed', -1, 41, 'other', '2026-03-01T08:30:00.000Z')",
                 // Two units that both received 77 by hand: both records stay, the clash is told.
                 "INSERT INTO unit_records (record_key, station, unit_ip, outcome, serial, serial_step, started)"
                 " VALUES ('k2', 'line-1', '127.0.0.3', 'ok', 77, 'ok', '2026-03-01T09:00:00.000Z')",
                 "INSERT INTO unit_records (record_key, station, unit_ip, outcome, serial, serial_step, started)"
                 " VALUES ('k3', 'line-2', '127.0.0.4', 'ok', 77, 'ok', '2026-03-01T10:00:00.000Z')",
             })
            ASSERT_TRUE(query.exec(QLatin1String(sql))) << sql;
        db.close();
    }
    auto store = Open();
    const QList<QJsonObject> records = Query(*store, {41, {}, false, {}, {}});
    ASSERT_EQ(records.size(), 2);
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

    EXPECT_EQ(Query(*store, {77, {}, false, {}, {}}).size(), 2);
    QStringList clashes;
    ASSERT_TRUE(store->Clashes(clashes, error)) << error.toStdString();
    ASSERT_EQ(clashes.size(), 2);
    EXPECT_TRUE(clashes[0].startsWith(QLatin1String("serial number 41 was taken twice by line-2")))
        << clashes[0].toStdString();
    EXPECT_TRUE(clashes[1].startsWith(QLatin1String("serial number 77 went into 127.0.0.4 at line-2")))
        << clashes[1].toStdString();
    EXPECT_FALSE(store->ClaimSerial(77, QStringLiteral("--serial"), QStringLiteral("line-3"), error));
}

// A store made new holds every column of one upgraded from the first version, each of the type
// and with the constraints the first version gave it, and the columns added since.
TEST_F(RecordStore, NewStoreHasTheColumnsOfAnUpgradedOne)
{
    Open();
    {
        QSqlDatabase db = OtherProgram(QStringLiteral("first.sqlite"));
        QSqlQuery query(db);
        for (const char* sql : FirstVersionTables)
            ASSERT_TRUE(query.exec(QLatin1String(sql))) << sql;
        db.close();
    }
    Open(QStringLiteral("first.sqlite"));
    const QStringList made = UnitRecordColumns(Dir.filePath(QStringLiteral("records.sqlite")));
    const QStringList upgraded = UnitRecordColumns(Dir.filePath(QStringLiteral("first.sqlite")));
    EXPECT_TRUE(made.contains(QStringLiteral("record_key TEXT NOT NULL UNIQUE"))) << made.join(u'\n').toStdString();
    EXPECT_EQ(made, upgraded);
}

// A store of the third version (this version's, its recipe columns dropped again) keeps its
// records when upgraded; the units of one recipe are found by its name, exactly.
TEST_F(RecordStore, UpgradesAStoreOfTheThirdVersionAndFindsTheUnitsOfARecipe)
{
    const TStoredRecord old = RecordEntry(Unit(QStringLiteral("127.0.0.2"), 500, TUnitOutcome::Succeeded, Morning),
                                          QStringLiteral("line-1"), TRecordStore::DefaultSeries);
    {
        auto store = Open();
        QString error;
        ASSERT_TRUE(store->Write(old, error)) << error.toStdString();
    }
    {
        QSqlDatabase db = OtherProgram();
        QSqlQuery query(db);
        for (const char* sql :
             {"DROP INDEX unit_records_recipe", "ALTER TABLE unit_records DROP COLUMN recipe",
              "ALTER TABLE unit_records DROP COLUMN kernel_source_sha256",
              "ALTER TABLE unit_records DROP COLUMN program_source_sha256",
              "ALTER TABLE unit_records DROP COLUMN failure", "UPDATE schema_version SET version = 3"})
            ASSERT_TRUE(query.exec(QLatin1String(sql))) << sql << query.lastError().text().toStdString();
        db.close();
    }
    auto store = Open();
    QString error;
    const auto unit = [this](const char* ip, int32_t serial, const char* recipe) {
        TUnitRecord record = Unit(QLatin1String(ip), serial, TUnitOutcome::Succeeded, Morning.addDays(1));
        record.Recipe = QString::fromUtf8(recipe);
        record.KernelSourceSha256 = QString(64, u'c');
        record.ProgramSourceSha256 = QString(64, u'd');
        record.Message = QStringLiteral("error: refused");
        record.Failure = {TFailureKind::Refused, record.Message};
        return RecordEntry(record, QStringLiteral("line-1"), TRecordStore::DefaultSeries);
    };
    for (const TStoredRecord& entry : {unit("127.0.0.3", 501, "release 3.1"), unit("127.0.0.4", 502, "release 3.1 %1"),
                                       unit("127.0.0.5", 503, "release 3.1")})
        ASSERT_TRUE(store->Write(entry, error)) << error.toStdString();

    const QList<QJsonObject> all = Query(*store);
    ASSERT_EQ(all.size(), 4);
    QJsonObject back = all[0];
    back.remove(QStringLiteral("id"));
    // The old record comes back as written, with no recipe and no source hashes.
    for (const char* key : {"recipe", "kernelSourceSha256", "programSourceSha256"})
        EXPECT_EQ(back.take(QLatin1String(key)).toString(), QString()) << key;
    QJsonObject written = StoredRecordJson(old);
    for (const char* key : {"recipe", "kernelSourceSha256", "programSourceSha256"})
        written.remove(QLatin1String(key));
    EXPECT_EQ(back, written);
    EXPECT_EQ(all[1].value(QStringLiteral("kernelSourceSha256")).toString(), QString(64, u'c'));
    EXPECT_EQ(all[1].value(QStringLiteral("programSourceSha256")).toString(), QString(64, u'd'));
    EXPECT_EQ(all[1].value(QStringLiteral("failure")).toString(), QStringLiteral("refused"));

    TRecordFilter release;
    release.Recipe = QStringLiteral("release 3.1");
    QStringList units;
    for (const QJsonObject& record : Query(*store, release))
        units << record.value(QStringLiteral("unit")).toString();
    EXPECT_EQ(units, QStringList({QStringLiteral("127.0.0.3"), QStringLiteral("127.0.0.5")}));
}

// A failed unit's record kept before records had kinds of failure (schema 4) has no kind: an
// upgrade must not make it read as one that failed of no cause ("none" is a success's).
TEST_F(RecordStore, FailedRecordOfTheFourthVersionIsNotReadAsFailingOfNoKind)
{
    {
        auto store = Open();
        QString error;
        ASSERT_TRUE(store->Write(RecordEntry(Unit(QStringLiteral("127.0.0.2"), 500, TUnitOutcome::Failed, Morning),
                                             QStringLiteral("line-1"), TRecordStore::DefaultSeries),
                                 error))
            << error.toStdString();
    }
    {
        QSqlDatabase db = OtherProgram();
        QSqlQuery query(db);
        for (const char* sql :
             {"ALTER TABLE unit_records DROP COLUMN failure", "UPDATE schema_version SET version = 4"})
            ASSERT_TRUE(query.exec(QLatin1String(sql))) << sql << query.lastError().text().toStdString();
        db.close();
    }
    auto store = Open();
    const QList<QJsonObject> all = Query(*store);
    ASSERT_EQ(all.size(), 1);
    EXPECT_EQ(all[0].value(QStringLiteral("outcome")).toString(), QStringLiteral("failed"));
    EXPECT_NE(all[0].value(QStringLiteral("failure")).toString(), QStringLiteral("none"));
}

// A number is given once, whichever series or source gives it: takes move past numbers
// given already, claims and series that would give one again are refused in words, and a
// record whose number another unit holds is kept and told.
TEST_F(RecordStore, EveryNumberIsGivenOnceAcrossSeriesAndSources)
{
    auto store = Open();
    QString error;
    ASSERT_TRUE(store->SetNextSerial(QStringLiteral("a"), 100, error)) << error.toStdString();
    ASSERT_TRUE(store->SetNextSerial(QStringLiteral("b"), 102, error)) << error.toStdString();
    ASSERT_TRUE(store->ClaimSerial(101, QStringLiteral("--serial"), QStringLiteral("line-1"), error))
        << error.toStdString();
    EXPECT_FALSE(store->ClaimSerial(101, QStringLiteral("the window"), QStringLiteral("desk"), error));
    EXPECT_TRUE(error.startsWith(QLatin1String("serial number 101 was given already (by --serial at line-1")))
        << error.toStdString();

    EXPECT_EQ(store->TakeSerial(QStringLiteral("a"), QStringLiteral("line-1"), error), 100);
    EXPECT_EQ(store->TakeSerial(QStringLiteral("a"), QStringLiteral("line-1"), error), 102) << error.toStdString();
    EXPECT_EQ(store->TakeSerial(QStringLiteral("b"), QStringLiteral("line-2"), error), 103) << error.toStdString();
    EXPECT_FALSE(store->ClaimSerial(103, QStringLiteral("--autoincrement"), QStringLiteral("line-3"), error));
    EXPECT_TRUE(error.contains(QLatin1String("by series b at line-2"))) << error.toStdString();

    EXPECT_FALSE(store->SetNextSerial(QStringLiteral("c"), 101, error));
    EXPECT_TRUE(error.contains(QLatin1String("101 to 103 are given already"))) << error.toStdString();
    ASSERT_TRUE(store->SetNextSerial(QStringLiteral("c"), 104, error)) << error.toStdString();

    // Records: the one that took 100 answers for it; a --serial unit's number enters the
    // set; a second unit holding 500 is kept and told; a number never written does not count.
    TUnitRecord took = Unit(QStringLiteral("127.0.0.2"), 100, TUnitOutcome::Succeeded, Morning);
    TWriteNotes notes;
    ASSERT_TRUE(store->Write(RecordEntry(took, "line-1", "a"), error, TRecordStore::TDurability::Soon, &notes));
    EXPECT_TRUE(notes.Clash.isEmpty()) << notes.Clash.toStdString();
    TUnitRecord manual = Unit(QStringLiteral("127.0.0.3"), 500, TUnitOutcome::Succeeded, Morning);
    manual.SerialTaken = -1;
    ASSERT_TRUE(store->Write(RecordEntry(manual, "line-1", QString()), error, TRecordStore::TDurability::Soon, &notes));
    EXPECT_TRUE(notes.Clash.isEmpty());
    EXPECT_FALSE(store->ClaimSerial(500, QStringLiteral("--serial"), QStringLiteral("line-2"), error));
    manual.IP = QStringLiteral("127.0.0.4");
    ASSERT_TRUE(store->Write(RecordEntry(manual, "line-2", QString()), error, TRecordStore::TDurability::Soon, &notes));
    EXPECT_TRUE(notes.Clash.contains(QLatin1String("serial number 500 of 127.0.0.4 was given already")))
        << notes.Clash.toStdString();
    EXPECT_EQ(Query(*store, {500, {}, false, {}, {}}).size(), 2);
    TUnitRecord notWritten = Unit(QStringLiteral("127.0.0.5"), 600, TUnitOutcome::Failed, Morning);
    notWritten.SerialTaken = -1;
    notWritten.SerialStep = TStepResult::Err;
    ASSERT_TRUE(store->Write(RecordEntry(notWritten, "line-1", QString()), error));
    EXPECT_TRUE(store->ClaimSerial(600, QStringLiteral("--serial"), QStringLiteral("line-1"), error))
        << error.toStdString();
    // A serial whose write's reply was lost may be in the unit: it counts as given.
    TUnitRecord unknown = Unit(QStringLiteral("127.0.0.6"), 700, TUnitOutcome::Failed, Morning);
    unknown.Serial = -1;
    unknown.SerialTaken = 700;
    unknown.SerialStep = TStepResult::Unknown;
    ASSERT_TRUE(store->Write(RecordEntry(unknown, "line-1", QString()), error));
    EXPECT_FALSE(store->ClaimSerial(700, QStringLiteral("--serial"), QStringLiteral("line-1"), error));

    QStringList clashes;
    ASSERT_TRUE(store->Clashes(clashes, error));
    EXPECT_EQ(clashes.size(), 1);
    const QString shown = RunToText(
        {QStringLiteral("serials"), QStringLiteral("show"), QStringLiteral("--records"), store->Location()});
    EXPECT_TRUE(shown.contains(QLatin1String("warning: serial number 500 went into 127.0.0.4"))) << shown.toStdString();
}

// A series that meets more numbers given already than a take moves past fails in words,
// and uses none of them up.
TEST_F(RecordStore, TakeThatMeetsOnlyGivenNumbersFailsInWords)
{
    auto store = Open();
    QString error;
    ASSERT_TRUE(store->SetNextSerial(QStringLiteral("a"), 10, error));
    {
        QSqlDatabase db = OtherProgram();
        ASSERT_TRUE(QSqlQuery(db).exec(QStringLiteral(
            "WITH RECURSIVE n(x) AS (SELECT 10 UNION ALL SELECT x + 1 FROM n WHERE x < 2010)"
            " INSERT INTO given_serials (number, source, station, given) SELECT x, '--serial', 'line-2', '' FROM n")));
        db.close();
    }
    EXPECT_EQ(store->TakeSerial(QStringLiteral("a"), QStringLiteral("line-1"), error), -1);
    EXPECT_TRUE(error.contains(QLatin1String("numbers 10 to 1010 are all given already"))) << error.toStdString();
    QList<TSeriesState> series;
    ASSERT_TRUE(store->ReadSeries(series, error));
    ASSERT_EQ(series.size(), 1);
    EXPECT_EQ(series[0].Next, 10);
}

// serials set refused at a run of given numbers names the first free number after it: that
// number must exist and must be free, also after the highest number and after a long run.
TEST_F(RecordStore, RefusedNextNumberNamesOnlyAFreeNumberThatExists)
{
    auto store = Open();
    QString error;
    ASSERT_TRUE(store->ClaimSerial(2147483647, QStringLiteral("--serial"), QStringLiteral("line-1"), error))
        << error.toStdString();
    EXPECT_FALSE(store->SetNextSerial(QStringLiteral("a"), 2147483647, error));
    EXPECT_FALSE(error.contains(QLatin1String("2147483648"))) << error.toStdString();
    {
        QSqlDatabase db = OtherProgram();
        ASSERT_TRUE(QSqlQuery(db).exec(QStringLiteral(
            "WITH RECURSIVE n(x) AS (SELECT 10 UNION ALL SELECT x + 1 FROM n WHERE x < 2010)"
            " INSERT INTO given_serials (number, source, station, given) SELECT x, '--serial', 'line-2', '' FROM n")));
        db.close();
    }
    EXPECT_FALSE(store->SetNextSerial(QStringLiteral("a"), 10, error));
    EXPECT_TRUE(error.contains(QLatin1String("the first number free from there is 2011"))) << error.toStdString();
}

// The ledger answers for numbers whose unit has no record: taken by a station that was
// killed before it could keep one.
TEST_F(RecordStore, LedgerShowsNumbersWithAndWithoutARecord)
{
    auto store = Open();
    QString error;
    ASSERT_TRUE(store->SetNextSerial(QStringLiteral("a"), 10, error));
    ASSERT_EQ(store->TakeSerial(QStringLiteral("a"), QStringLiteral("line-1"), error), 10);
    ASSERT_EQ(store->TakeSerial(QStringLiteral("a"), QStringLiteral("line-1"), error), 11);
    ASSERT_TRUE(store->Write(RecordEntry(Unit(QStringLiteral("127.0.0.2"), 11, TUnitOutcome::Succeeded, Morning),
                                         "line-1", "a"),
                             error));
    ASSERT_TRUE(store->ClaimSerial(50, QStringLiteral("--serial"), QStringLiteral("line-2"), error));

    QList<TGivenSerial> given;
    ASSERT_TRUE(store->Ledger({}, given, error)) << error.toStdString();
    ASSERT_EQ(given.size(), 3);
    EXPECT_EQ(given[0].Number, 10);
    EXPECT_EQ(given[0].Series, QStringLiteral("a"));
    EXPECT_EQ(given[0].Station, QStringLiteral("line-1"));
    EXPECT_FALSE(given[0].HasRecord);
    EXPECT_TRUE(given[1].HasRecord);
    EXPECT_EQ(given[2].Source, QStringLiteral("--serial"));
    given.clear();
    ASSERT_TRUE(store->Ledger({{}, QStringLiteral("a"), {}}, given, error));
    EXPECT_EQ(given.size(), 2);

    // orvel-loader records --serial 10: the ledger entry, with no record of a unit.
    const QString file = Dir.filePath(QStringLiteral("records.sqlite"));
    QString out = RunToText({QStringLiteral("records"), QStringLiteral("--records"), file, QStringLiteral("--serial"),
                             QStringLiteral("10")});
    EXPECT_TRUE(out.contains(QLatin1String("serial number 10: taken from series a by line-1"))) << out.toStdString();
    EXPECT_TRUE(out.contains(QLatin1String("no record of a unit"))) << out.toStdString();
    out = RunToText({QStringLiteral("serials"), QStringLiteral("ledger"), QStringLiteral("--records"), file});
    EXPECT_EQ(out.count(u'\n'), 4) << out.toStdString();   // a header and three numbers
    EXPECT_TRUE(out.contains(QLatin1String("serial number 50: given by --serial by line-2"))) << out.toStdString();
    out = RunToText({QStringLiteral("serials"), QStringLiteral("ledger"), QStringLiteral("--records"), file,
                     QStringLiteral("--series"), QStringLiteral("a"), QStringLiteral("--since"),
                     QStringLiteral("2026-03-02")});
    EXPECT_EQ(out.count(u'\n'), 3) << out.toStdString();
    EXPECT_TRUE(out.contains(QLatin1String("no record of a unit"))) << out.toStdString();

    // A series' name is printed as it is, "%1" in it too.
    ASSERT_TRUE(store->SetNextSerial(QStringLiteral("odd%1"), 900, error));
    out = RunToText({QStringLiteral("serials"), QStringLiteral("show"), QStringLiteral("--records"), file});
    EXPECT_TRUE(out.contains(QRegularExpression(QStringLiteral("odd%1 +900 +0\n")))) << out.toStdString();
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
    EXPECT_TRUE(error.contains(
        QStringLiteral("schema is version 99, newer than this program knows (%1)").arg(TRecordStore::SchemaVersion)))
        << error.toStdString();
    // Nothing is written into a store of a schema this program does not know.
    EXPECT_FALSE(store.ClaimSerial(5, QStringLiteral("the window"), QStringLiteral("desk"), error));
    EXPECT_EQ(store.TakeSerial(TRecordStore::DefaultSeries, QStringLiteral("desk"), error), -1);
    EXPECT_FALSE(store.SetNextSerial(TRecordStore::DefaultSeries, 10, error));
    EXPECT_TRUE(error.contains(QLatin1String("newer than this program knows"))) << error.toStdString();
    QSqlDatabase db = OtherProgram();
    QSqlQuery given(db);
    ASSERT_TRUE(given.exec(QStringLiteral("SELECT COUNT(*) FROM given_serials")) && given.next());
    EXPECT_EQ(given.value(0).toInt(), 0);
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
    const std::multiset<int32_t> all = TakeFromThreads(8, 500, [&counter] { return counter.Take().Number; });
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
TEST_F(RecordStore, ProgramWhoseThreadUsedTheStoreEndsCleanly)
{
    // A thread's connections left to close at the thread's very end met the program's
    // destroyed statics, and the program crashed on its way out.
    QProcess program;
    program.start(QStringLiteral(STORE_THREAD_EXIT), {Dir.filePath(QStringLiteral("records.sqlite"))});
    ASSERT_TRUE(program.waitForFinished(10000));
    EXPECT_EQ(program.exitStatus(), QProcess::NormalExit) << program.readAllStandardError().toStdString();
    EXPECT_EQ(program.exitCode(), 0);
}

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

    const TSerialTake locked = counter.Take();
    EXPECT_EQ(locked.Number, -1);
    EXPECT_TRUE(locked.Error.contains(QLatin1String("database is locked (another program holds it; waited 0.3 s)")))
        << locked.Error.toStdString();
    const TKeepResult waiting = keeper.Keep(
        RecordEntry(Unit(QStringLiteral("127.0.0.2"), 6, TUnitOutcome::Succeeded, Morning), "line-1", "default"));
    EXPECT_EQ(waiting.Kept, TKept::Waiting);
    EXPECT_TRUE(waiting.Text.contains(fallback)) << waiting.Text.toStdString();
    EXPECT_TRUE(QFile::exists(fallback));

    ASSERT_TRUE(lock.exec(QStringLiteral("COMMIT")));
    const TSerialTake unlocked = counter.Take();
    EXPECT_EQ(unlocked.Number, 7);   // nothing was used up meanwhile
    EXPECT_TRUE(unlocked.Error.isEmpty());
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
    // Its folder is a file: no other program holds it, and the operator is told what is wrong.
    EXPECT_TRUE(lost.Text.contains(QLatin1String("can't make the lock file"))) << lost.Text.toStdString();
    lock.exec(QStringLiteral("ROLLBACK"));
}

// Locations: PostgreSQL in any spelling of its scheme, or refused in words; never an SQLite
// file named after a URL, and never a password shown or made into a folder.
TEST_F(RecordStore, LocationsThatAreNoFileAreRefusedInWordsWithoutTheirPassword)
{
    struct TCase {
        const char* Location;
        const char* Says;
    };
    const TCase cases[] = {
        {"POSTGRESQL://station:s3cr3t@/orvel?host=DIR/none", "record store postgresql://station@/orvel"},
        {"Postgres://station:s3cr3t@/orvel?host=DIR/none", "record store postgresql://station@/orvel"},
        {"postgresql:/station:s3cr3t@/orvel", "write a PostgreSQL store as postgresql://user@host:port/database"},
        {"PostgreSQL:station:s3cr3t", "write a PostgreSQL store as postgresql://user@host:port/database"},
        {"mysql://station:s3cr3t@db/orvel", "\"mysql://\" is no record store"},
    };
    const QString previous = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(Dir.path()));
    for (const TCase& c : cases) {
        TRecordStore store;
        QString error;
        EXPECT_FALSE(store.Open(QString::fromLatin1(c.Location).replace(QStringLiteral("DIR"), Dir.path()), error))
            << c.Location;
        EXPECT_TRUE(error.contains(QLatin1String(c.Says))) << c.Location << ": " << error.toStdString();
        EXPECT_FALSE(error.contains(QLatin1String("s3cr3t"))) << error.toStdString();
        EXPECT_FALSE(store.Location().contains(QLatin1String("s3cr3t"))) << store.Location().toStdString();
    }
    QDir::setCurrent(previous);
    EXPECT_EQ(QDir(Dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList());
}

// The fallback file as a crash, a full disk or another program may leave it.
// A record goes into the store and the fallback file as JSON and comes back from it whole:
// every field of the table is read back as it was written, settings named by their texts too.
TEST(RecordFields, StoredRecordComesBackFromItsJson)
{
    const QDateTime morning(QDate(2026, 3, 2), QTime(9, 0));
    TStoredRecord stored{Unit(QStringLiteral("127.0.0.2"), 7, TUnitOutcome::Interrupted, morning),
                         QStringLiteral("line-1"), QStringLiteral("default"), QStringLiteral("key-1"), 12};
    TUnitRecord& unit = stored.Unit;
    unit.NadBefore = 3;
    unit.Recipe = QStringLiteral("release 4");
    unit.KernelSourceSha256 = QString(64, u'c');
    unit.ProgramSourceSha256 = QString(64, u'd');
    unit.Settings.NadAlias = 40;
    unit.Settings.HardwareModel = 3;
    unit.Settings.IEXBaudRate = 9;   // no rate of the table: kept as its number
    unit.Settings.SubnetMask = 0xFFFFFF00;
    unit.SerialStep = TStepResult::Unknown;
    unit.KernelStep = TStepResult::Interrupted;
    unit.ProgramStep = TStepResult::NotAsked;
    unit.VerifyStep = TStepResult::Err;
    unit.Message = QStringLiteral("stopped while sending kernel");
    unit.Failure = {TFailureKind::Interrupted, unit.Message};
    const QJsonObject json = StoredRecordJson(stored);

    const TStoredRecord back = StoredRecordFromJson(json);
    EXPECT_EQ(StoredRecordJson(back), json);
    EXPECT_EQ(back.Id, 12);
    EXPECT_EQ(back.Unit.Started, morning);
    EXPECT_EQ(back.Unit.Outcome, TUnitOutcome::Interrupted);
    EXPECT_EQ(back.Unit.SerialStep, TStepResult::Unknown);
    EXPECT_EQ(back.Unit.Failure.Kind, TFailureKind::Interrupted);
    EXPECT_EQ(back.Unit.Failure.Text, unit.Message);
    EXPECT_EQ(back.Unit.Settings.HardwareModel, 3);
    EXPECT_EQ(back.Unit.Settings.IEXBaudRate, 9);
    EXPECT_EQ(back.Unit.Settings.SubnetMask, 0xFFFFFF00u);
    // The fields of a unit's result line are those of the stored record, but the store's own.
    QJsonObject line = UnitRecordJson(unit);
    for (const char* own : {"id", "station", "series", "key"})
        EXPECT_FALSE(line.contains(QLatin1String(own))) << own;
    EXPECT_EQ(StoredRecordJson(StoredRecordFromJson(line)).value(QStringLiteral("steps")),
              json.value(QStringLiteral("steps")));

    // A record without settings or a number of the store's keeps none.
    const TStoredRecord bare = StoredRecordFromJson(StoredRecordJson({TUnitRecord{}, {}, {}, {}, -1}));
    EXPECT_FALSE(bare.Unit.SettingsWritten);
    EXPECT_EQ(bare.Id, -1);
    EXPECT_EQ(bare.Unit.Serial, -1);
    EXPECT_EQ(bare.Unit.VerifyStep, TStepResult::NotAsked);
}

// A unit's serial number as the listings and the station window show it: a number taken and
// not held by the unit says what became of it, so that nobody reads it as the unit's.
TEST(UnitRecord, SerialNumberSaysWhatBecameOfTheNumberTaken)
{
    const struct {
        const char* Name;
        int32_t Serial, Taken;
        TStepResult Step;
        const char* Text;
    } cases[] = {
        {"none", -1, -1, TStepResult::NotAsked, "-"},
        {"held before", 17, -1, TStepResult::NotAsked, "17"},
        {"taken and written", 1005, 1005, TStepResult::Ok, "1005"},
        {"taken, refused", -1, 1005, TStepResult::Err, "1005 (taken, not written)"},
        {"taken over an old number", 17, 1005, TStepResult::Err, "1005 (taken, not written)"},
        {"taken, never tried", -1, 1005, TStepResult::NotAsked, "1005 (taken, not written)"},
        {"taken, unanswered", -1, 1005, TStepResult::Unknown, "1005 (taken, unknown whether written)"},
        {"taken, stopped", -1, 1005, TStepResult::Interrupted, "1005 (taken, interrupted while written)"},
    };
    for (const auto& c : cases) {
        TUnitRecord record;
        record.Serial = c.Serial;
        record.SerialTaken = c.Taken;
        record.SerialStep = c.Step;
        EXPECT_EQ(SerialNumberText(record), QLatin1String(c.Text)) << c.Name;
    }
}

TEST(FallbackFile, ReadsEveryWholeLineAndTellsTheRest)
{
    const QByteArray good =
        R"({"key":"k1","unit":"127.0.0.2","station":"s","start":"2026-03-02T09:00:00.000Z","outcome":"ok"})";
    struct TCase {
        const char* Name;
        QByteArray Bytes;
        int Entries;
        QList<qsizetype> BadLines;
    };
    const TCase cases[] = {
        {"empty", "", 0, {}},
        {"one line", good + "\n", 1, {}},
        {"last line cut by a crash", good + "\n" + good.left(30), 1, {2}},
        {"half line with the next glued to it", good.left(30) + good + "\n" + good + "\n", 1, {1}},
        {"blank lines and CRLF", "\n" + good + "\r\n\n", 1, {}},
        {"not an object", "[1,2]\n" + good + "\n", 1, {1}},
        {"an object without key or unit", "{\"unit\":\"x\"}\n", 0, {1}},
        {"zero bytes of a disk that lost its tail", good + "\n" + QByteArray(20, '\0'), 1, {2}},
    };
    for (const TCase& c : cases) {
        const TFallbackContent content = ReadFallback(c.Bytes);
        EXPECT_EQ(content.Entries.size(), c.Entries) << c.Name;
        QList<qsizetype> bad;
        for (const TFallbackLine& line : content.Bad) {
            bad << line.Number;
            EXPECT_FALSE(line.Why.isEmpty()) << c.Name;
        }
        EXPECT_EQ(bad, c.BadLines) << c.Name;
    }
}

// A crash left half a line at the end of the file: it is set aside, said where, and holds
// nothing back; the records after it reach the store.
TEST_F(RecordStore, HalfLineLeftByACrashIsSetAsideAndHoldsNothingBack)
{
    auto store = Open();
    const QString fallback = Dir.filePath(QStringLiteral("waiting.jsonl"));
    {
        QFile file(fallback);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(R"({"key":"cut","unit":"127.0.0.9","sta)");
    }
    TRecordKeeper keeper(store, fallback);
    QSqlDatabase other = OtherProgram();
    QSqlQuery lock(other);
    ASSERT_TRUE(lock.exec(QStringLiteral("BEGIN IMMEDIATE")));
    const TKeepResult waiting = keeper.Keep(
        RecordEntry(Unit(QStringLiteral("127.0.0.2"), 6, TUnitOutcome::Succeeded, Morning), "line-1", "default"));
    EXPECT_EQ(waiting.Kept, TKept::Waiting) << waiting.Text.toStdString();
    // The warning is about this unit alone, not one of those that waited before it.
    EXPECT_FALSE(waiting.Text.contains(QLatin1String("127.0.0.9"))) << waiting.Text.toStdString();
    EXPECT_TRUE(waiting.Notes.contains(keeper.SetAsidePath())) << waiting.Notes.toStdString();
    EXPECT_TRUE(waiting.Notes.contains(QLatin1String("line 1: not a whole record"))) << waiting.Notes.toStdString();
    ASSERT_TRUE(lock.exec(QStringLiteral("COMMIT")));

    const TKeepResult stored = keeper.Keep(
        RecordEntry(Unit(QStringLiteral("127.0.0.3"), 7, TUnitOutcome::Succeeded, Morning), "line-1", "default"));
    EXPECT_EQ(stored.Kept, TKept::Stored) << stored.Text.toStdString();
    EXPECT_FALSE(QFile::exists(fallback));
    EXPECT_EQ(Query(*store).size(), 2);
    QFile aside(keeper.SetAsidePath());
    ASSERT_TRUE(aside.open(QIODevice::ReadOnly));
    EXPECT_EQ(aside.readAll(), QByteArray(R"({"key":"cut","unit":"127.0.0.9","sta)") + '\n');
}

// A full disk cuts an append short: the file goes back to its old length, so no half line
// is left for the next record to be glued to. The process' file size limit stands in for
// the full disk.
TEST_F(RecordStore, AppendCutShortLeavesTheFileAsItWas)
{
    auto store = Open();
    const QString fallback = Dir.filePath(QStringLiteral("waiting.jsonl"));
    TRecordKeeper keeper(store, fallback);
    QSqlDatabase other = OtherProgram();
    QSqlQuery lock(other);
    ASSERT_TRUE(lock.exec(QStringLiteral("BEGIN IMMEDIATE")));
    ASSERT_EQ(keeper
                  .Keep(RecordEntry(Unit(QStringLiteral("127.0.0.2"), 6, TUnitOutcome::Succeeded, Morning), "line-1",
                                    "default"))
                  .Kept,
              TKept::Waiting);
    const qint64 before = QFileInfo(fallback).size();

    rlimit previous{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &previous), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit limit = previous;
    limit.rlim_cur = rlim_t(before + 100);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);
    const TKeepResult lost = keeper.Keep(
        RecordEntry(Unit(QStringLiteral("127.0.0.3"), 7, TUnitOutcome::Succeeded, Morning), "line-1", "default"));
    setrlimit(RLIMIT_FSIZE, &previous);
    std::signal(SIGXFSZ, oldHandler);

    EXPECT_EQ(lost.Kept, TKept::Lost);
    EXPECT_EQ(QFileInfo(fallback).size(), before);
    lock.exec(QStringLiteral("ROLLBACK"));
}

// A store this user may read but not change (another user's file, a folder without write
// permission): `records` reads it as it is, and neither writes nor needs to.
TEST_F(RecordStore, StoreThisUserMayOnlyReadIsListed)
{
    const QString path = Dir.filePath(QStringLiteral("records.sqlite"));
    {
        auto store = Open();
        QString error;
        ASSERT_TRUE(store->Write(RecordEntry(Unit(QStringLiteral("127.0.0.2"), 31, TUnitOutcome::Succeeded, Morning),
                                             "line-1", QString()),
                                 error))
            << error.toStdString();
    }
    ASSERT_FALSE(QFile::exists(path + QStringLiteral("-wal")));   // the last connection folded it in
    const bool root = ::geteuid() == 0;
    // root may write anything: the store is read by nobody instead.
    ASSERT_TRUE(QFile::setPermissions(Dir.path(), QFileDevice::ReadOwner | QFileDevice::ExeOwner |
                                                      QFileDevice::ReadOther | QFileDevice::ExeOther));
    QProcess loader;
    const QStringList arguments{QStringLiteral("records"), QStringLiteral("--records"), path};
    if (root)
        loader.start(QStringLiteral("runuser"), QStringList{QStringLiteral("-u"), QStringLiteral("nobody"),
                                                            QStringLiteral("--"), QStringLiteral(ORVEL_LOADER)} +
                                                    arguments);
    else
        loader.start(QStringLiteral(ORVEL_LOADER), arguments);
    ASSERT_TRUE(loader.waitForFinished(60000));
    QFile::setPermissions(Dir.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    const QString out = QString::fromUtf8(loader.readAllStandardOutput() + loader.readAllStandardError());
    EXPECT_EQ(loader.exitCode(), 0) << out.toStdString();
    EXPECT_TRUE(out.contains(QLatin1String("127.0.0.2"))) << out.toStdString();
    EXPECT_EQ(QDir(Dir.path()).entryList(QDir::Files), QStringList{QStringLiteral("records.sqlite")});
}

// The store cannot be opened, and a crash left half a line at the end of the fallback file:
// the record goes on a line of its own, not glued to the half line.
TEST_F(RecordStore, AppendStartsOnALineOfItsOwn)
{
    const QString fallback = Dir.filePath(QStringLiteral("waiting.jsonl"));
    const QByteArray half = R"({"key":"cut","unit":"127.0.0.9","sta)";
    {
        QFile file(fallback);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(half);
    }
    TRecordKeeper keeper(std::make_shared<TRecordStore>(), fallback);
    const TStoredRecord entry = RecordEntry(Unit(QStringLiteral("127.0.0.2"), 6, TUnitOutcome::Succeeded, Morning),
                                            "line-1", "default");
    EXPECT_EQ(keeper.Keep(entry).Kept, TKept::Waiting);
    QFile file(fallback);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const TFallbackContent content = ReadFallback(file.readAll());
    ASSERT_EQ(content.Entries.size(), 1);
    EXPECT_EQ(content.Entries[0].Entry, StoredRecordJson(entry));
    ASSERT_EQ(content.Bad.size(), 1);
    EXPECT_EQ(content.Bad[0].Text, half);
}

// A line the store refuses (here: a record without its outcome) is set aside, said why, and
// the records after it go in.
TEST_F(RecordStore, RecordTheStoreRefusesIsSetAsideAndHoldsNothingBack)
{
    auto store = Open();
    const QString fallback = Dir.filePath(QStringLiteral("waiting.jsonl"));
    QJsonObject refused = StoredRecordJson(
        RecordEntry(Unit(QStringLiteral("127.0.0.2"), 6, TUnitOutcome::Succeeded, Morning), "line-1", QString()));
    refused.remove(QStringLiteral("outcome"));
    const QJsonObject good = StoredRecordJson(
        RecordEntry(Unit(QStringLiteral("127.0.0.3"), 7, TUnitOutcome::Succeeded, Morning), "line-1", QString()));
    {
        QFile file(fallback);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        for (const QJsonObject& entry : {refused, good})
            file.write(QJsonDocument(entry).toJson(QJsonDocument::Compact) + '\n');
    }
    TRecordKeeper keeper(store, fallback);
    QString error;
    QStringList notes;
    EXPECT_EQ(keeper.Flush(error, &notes), 1);
    EXPECT_TRUE(error.isEmpty()) << error.toStdString();
    ASSERT_EQ(notes.size(), 1);
    EXPECT_TRUE(notes[0].contains(QLatin1String("line 1: refused by the store"))) << notes[0].toStdString();
    EXPECT_FALSE(QFile::exists(fallback));
    const QList<QJsonObject> records = Query(*store);
    ASSERT_EQ(records.size(), 1);
    EXPECT_EQ(records[0].value(QStringLiteral("unit")).toString(), QStringLiteral("127.0.0.3"));
}

// Whether the store refused a record is told by that record's own write: a store that is not
// open refuses none, whatever a write to another store on the same thread met before.
TEST_F(RecordStore, StoreThatIsNotOpenRefusesNoRecordWhateverAnotherStoreRefused)
{
    Open(QStringLiteral("newer.sqlite"));
    {
        QSqlDatabase db = OtherProgram(QStringLiteral("newer.sqlite"));
        ASSERT_TRUE(QSqlQuery(db).exec(QStringLiteral("UPDATE schema_version SET version = 99")));
        db.close();
    }
    TRecordStore newer;
    QString error;
    ASSERT_FALSE(newer.Open(Dir.filePath(QStringLiteral("newer.sqlite")), error));

    QJsonObject entry = StoredRecordJson(
        RecordEntry(Unit(QStringLiteral("127.0.0.2"), 6, TUnitOutcome::Succeeded, Morning), "line-1", QString()));
    entry.remove(QStringLiteral("outcome"));
    auto store = Open();
    TWriteNotes notes;
    ASSERT_FALSE(store->WriteEntry(entry, error, TRecordStore::TDurability::Soon, &notes));
    ASSERT_TRUE(notes.Refused) << error.toStdString();
    EXPECT_FALSE(newer.WriteEntry(entry, error, TRecordStore::TDurability::Soon, &notes));
    EXPECT_FALSE(notes.Refused) << error.toStdString();
}

}   // namespace
