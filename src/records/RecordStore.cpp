#include "RecordStore.h"

#include "ProgramFolders.h"
#include "RecordFields.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonDocument>
#include <QMutexLocker>
#include <QRegularExpression>
#include <QSqlError>
#include <QSqlQuery>
#include <QThread>
#include <QThreadStorage>
#include <QUrl>
#include <QUrlQuery>
#include <QUuid>

#include <atomic>
#include <iterator>
#include <limits>

namespace {

const QString Sqlite = QStringLiteral("QSQLITE");
const QString Postgres = QStringLiteral("QPSQL");
constexpr int64_t HighestSerial = std::numeric_limits<int32_t>::max();
// How many numbers given already one take moves past before it gives up in words.
constexpr int MostSkipped = 1000;

// Each open PostgreSQL connection's server process, by connection name, for Cancel. Kept
// apart from the stores, and never destroyed: a thread's connections are closed when the
// thread ends, which may be after main has returned and statics are being destroyed.
struct TBackends {
    QMutex Mutex;
    QHash<QString, int> Pids;
};
TBackends& Backends()
{
    static auto* backends = new TBackends;
    return *backends;
}

// The connections a thread opened, closed when the thread ends: a connection may only be
// used, and is best closed, on its own thread. The store closes whatever is left with it.
// Kept in QThreadStorage, which a QThread empties as it finishes, before wait() returns: a
// thread_local would be destroyed later, at the thread's very end, when the program may
// have returned from main and Qt SQL's table of connections may be gone.
struct TThreadConnections {
    QStringList Names;
    ~TThreadConnections()
    {
        for (const QString& name : std::as_const(Names)) {
            QSqlDatabase::removeDatabase(name);
            const QMutexLocker lock(&Backends().Mutex);
            Backends().Pids.remove(name);
        }
    }
};
QThreadStorage<TThreadConnections> ThreadConnections;

// The columns of unit_records, from the record's fields: every field with a column.
const QList<const TRecordField*>& StoredFields()
{
    static const QList<const TRecordField*> fields = [] {
        QList<const TRecordField*> all;
        for (const TRecordField& field : RecordFields())
            if (field.Column)
                all << &field;
        return all;
    }();
    return fields;
}

QVariant ColumnValue(const QJsonObject& entry, const TRecordField& field)
{
    const QJsonValue value = RecordField(entry, QLatin1String(field.Path));
    switch (field.Type()) {
    case TFieldType::Integer:
        return value.isDouble() ? QVariant(qint64(value.toDouble())) : QVariant(QMetaType::fromType<qint64>());
    case TFieldType::Settings:
        return value.isObject()
                   ? QVariant(QString::fromUtf8(QJsonDocument(value.toObject()).toJson(QJsonDocument::Compact)))
                   : QVariant(QMetaType::fromType<QString>());
    case TFieldType::Text:
        break;
    }
    return value.toString();
}

void SetColumnValue(QJsonObject& entry, const TRecordField& field, const QVariant& value)
{
    QJsonValue json;
    switch (field.Type()) {
    case TFieldType::Integer:
        json = value.isNull() ? QJsonValue(-1) : QJsonValue(value.toLongLong());
        break;
    case TFieldType::Settings:
        if (value.isNull())
            return;
        json = QJsonDocument::fromJson(value.toString().toUtf8()).object();
        break;
    case TFieldType::Text:
        json = value.toString();
        break;
    }
    SetRecordField(entry, QLatin1String(field.Path), json);
}

QString ColumnList()
{
    QStringList names;
    for (const TRecordField* field : StoredFields())
        names << QLatin1String(field->Column);
    return names.join(QStringLiteral(", "));
}

// A field's column as the store declares it, its type from the field's: the same on SQLite
// and PostgreSQL.
QString ColumnDefinition(const TRecordField& field)
{
    const QString definition = QLatin1String(field.Column) + (field.Type() == TFieldType::Integer
                                                                  ? QStringLiteral(" BIGINT")
                                                                  : QStringLiteral(" TEXT"));
    switch (field.Rule) {
    case TColumnRule::Optional:
        break;
    case TColumnRule::Required:
        return definition + QStringLiteral(" NOT NULL");
    case TColumnRule::Key:
        return definition + QStringLiteral(" NOT NULL UNIQUE");
    }
    return definition;
}

// The columns of unit_records that a version of the schema brought, from RecordFields: the
// first makes the table with its columns, each later one adds its own.
QStringList FieldColumns(int version)
{
    QStringList columns;
    for (const TRecordField* field : StoredFields())
        if (field->Schema == version)
            columns << ColumnDefinition(*field);
    if (version == 1)
        return {QStringLiteral("CREATE TABLE unit_records (id %ID, ") + columns.join(QStringLiteral(", ")) + u')'};
    for (QString& column : columns)
        column.prepend(QStringLiteral("ALTER TABLE unit_records ADD COLUMN "));
    return columns;
}

// The schema's steps: Migrations[n] takes a store from version n to n + 1, after the columns
// of unit_records that version brings (FieldColumns). "%ID" is the dialect's self-numbering
// key. A step is never changed once released; a new one is added, with SchemaVersion one up,
// empty when a field's column is all the new version brings.
const QStringList Migrations[] = {
    {
        // 1: unit records and the serial number series.
        QStringLiteral("CREATE INDEX unit_records_serial ON unit_records (serial)"),
        QStringLiteral("CREATE INDEX unit_records_serial_taken ON unit_records (serial_taken)"),
        QStringLiteral("CREATE INDEX unit_records_started ON unit_records (started)"),
        QStringLiteral("CREATE TABLE serial_series (name TEXT PRIMARY KEY, next_number BIGINT NOT NULL)"),
    },
    {
        // 2: every number taken, with where and when, in the transaction that takes it: the
        // station that took it answers for a number whose unit record has not arrived, and
        // a series is never set back over numbers already given.
        QStringLiteral("CREATE TABLE serial_ledger (series TEXT NOT NULL, number BIGINT NOT NULL,"
                       " station TEXT NOT NULL, taken TEXT NOT NULL, PRIMARY KEY (series, number))"),
        QStringLiteral("INSERT INTO serial_ledger (series, number, station, taken)"
                       " SELECT series, serial_taken, MIN(station), MIN(started) FROM unit_records"
                       " WHERE series IS NOT NULL AND series <> '' AND serial_taken > 0 GROUP BY series, serial_taken"),
    },
    {
        // 3: one set of every number given, from any series or source, unique by its key; the
        // record that answers for each; and every unit found holding a number given to
        // another, kept and told rather than lost. A number is given by the first to take
        // it: the ledger's first, else the first unit record that holds it.
        QStringLiteral("CREATE TABLE given_serials (number BIGINT PRIMARY KEY, source TEXT NOT NULL, series TEXT,"
                       " station TEXT NOT NULL, given TEXT NOT NULL, record_key TEXT)"),
        QStringLiteral("CREATE TABLE serial_clashes (number BIGINT NOT NULL, unit_ip TEXT NOT NULL,"
                       " station TEXT NOT NULL, noted TEXT NOT NULL, record_key TEXT)"),
        QStringLiteral("INSERT INTO given_serials (number, source, series, station, given)"
                       " SELECT l.number, 'series ' || l.series, l.series, l.station, l.taken FROM serial_ledger l"
                       " WHERE NOT EXISTS (SELECT 1 FROM serial_ledger o WHERE o.number = l.number"
                       " AND (o.taken < l.taken OR (o.taken = l.taken AND o.series < l.series)))"),
        QStringLiteral("INSERT INTO serial_clashes (number, unit_ip, station, noted)"
                       " SELECT l.number, '', l.station, l.taken FROM serial_ledger l WHERE NOT EXISTS"
                       " (SELECT 1 FROM given_serials g WHERE g.number = l.number AND g.series = l.series)"),
        QStringLiteral("UPDATE given_serials SET record_key = (SELECT MIN(r.record_key) FROM unit_records r"
                       " WHERE r.serial = given_serials.number AND r.serial_taken = given_serials.number"
                       " AND r.serial_step IN ('ok', 'unknown') AND r.series = given_serials.series"
                       " AND r.station = given_serials.station)"),
        QStringLiteral("INSERT INTO given_serials (number, source, station, given, record_key)"
                       " SELECT r.serial, 'a unit record', r.station, r.started, r.record_key FROM unit_records r"
                       " WHERE r.serial > 0 AND r.serial_step IN ('ok', 'unknown')"
                       " AND NOT EXISTS (SELECT 1 FROM given_serials g WHERE g.number = r.serial)"
                       " AND NOT EXISTS (SELECT 1 FROM unit_records o WHERE o.serial = r.serial"
                       " AND o.serial_step IN ('ok', 'unknown')"
                       " AND (o.started < r.started OR (o.started = r.started AND o.id < r.id)))"),
        QStringLiteral("INSERT INTO serial_clashes (number, unit_ip, station, noted, record_key)"
                       " SELECT r.serial, r.unit_ip, r.station, r.started, r.record_key FROM unit_records r"
                       " WHERE r.serial > 0 AND r.serial_step IN ('ok', 'unknown') AND NOT EXISTS"
                       " (SELECT 1 FROM given_serials g WHERE g.number = r.serial AND g.record_key = r.record_key)"),
    },
    {
        // 4: the recipe a unit's job came from and the SHA-256 of each file as read, so
        // that the units of one release are found by its recipe. Older records have none.
        QStringLiteral("CREATE INDEX unit_records_recipe ON unit_records (recipe)"),
    },
    {
        // 5: the kind of failure that ended a unit's operation, so that a day's failures are
        // counted by cause. Older records have none.
    },
};
static_assert(std::size(Migrations) == TRecordStore::SchemaVersion);

// The database's own words for a failure, else the driver's, with its code.
TSqlFailure Why(const QSqlError& error)
{
    const QString text = error.databaseText().trimmed();
    return {text.isEmpty() ? error.driverText().trimmed() : text, error.nativeErrorCode()};
}

bool Exec(QSqlQuery& query, const QString& sql, const QVariantList& values, TSqlFailure& why)
{
    if (!query.prepare(sql)) {
        why = Why(query.lastError());
        return false;
    }
    for (const QVariant& value : values)
        query.addBindValue(value);
    if (!query.exec()) {
        why = Why(query.lastError());
        return false;
    }
    return true;
}

bool Exec(QSqlQuery& query, const QString& sql, TSqlFailure& why)
{
    if (!query.exec(sql)) {
        why = Why(query.lastError());
        return false;
    }
    return true;
}

// The store refused the statement's data (a constraint, a value out of range) and is
// otherwise well: offering the same again cannot help.
bool Refused(const QString& code, bool postgres)
{
    if (postgres)
        return code.startsWith(QLatin1String("22")) || code.startsWith(QLatin1String("23"));
    const int result = code.toInt() & 0xff;
    return result == 19 || result == 20 || result == 25;   // constraint, type mismatch, range
}

// SQLite's "busy" and "locked": another connection holds the file.
bool Busy(const QString& code)
{
    const int result = code.toInt() & 0xff;
    return result == 5 || result == 6;
}

// "by SOURCE at STATION, TIME" from a query on given_serials' source, station, given.
QString GivenBy(const QSqlQuery& query)
{
    const QString when = query.value(2).toString();
    return QStringLiteral("by ") + query.value(0).toString() + QStringLiteral(" at ") + query.value(1).toString() +
           (when.isEmpty() ? QString() : QStringLiteral(", ") + when);
}

// The number a unit record says its unit holds, or may hold; -1: none.
int64_t NumberInUnit(const TUnitRecord& record)
{
    const int64_t serial = record.Serial;
    const int64_t taken = record.SerialTaken;
    switch (record.SerialStep) {
    case TStepResult::Ok:
        return serial > 0 ? serial : -1;
    // Its write's reply was lost, or the write was cut short: the unit may hold it.
    case TStepResult::Unknown:
    case TStepResult::Interrupted:
        return serial > 0 ? serial : (taken > 0 ? taken : -1);
    case TStepResult::NotAsked:
    case TStepResult::Err:
        break;
    }
    return -1;
}

// " WHERE a AND b ..." for the conditions given; nothing when there are none.
QString Where(const QStringList& conditions)
{
    return conditions.isEmpty() ? QString() : QStringLiteral(" WHERE ") + conditions.join(QStringLiteral(" AND "));
}

std::atomic<int> NextStoreId{1};

}   // namespace

TStoredRecord RecordEntry(const TUnitRecord& record, const QString& station, const QString& series)
{
    return {record, station, record.SerialTaken > 0 ? series : QString(),
            QUuid::createUuid().toString(QUuid::WithoutBraces), -1};
}

TRecordStore::TRecordStore() : FId(NextStoreId++) {}

TRecordStore::~TRecordStore()
{
    const QMutexLocker lock(&FNamesMutex);
    for (const QString& name : std::as_const(FNames))
        QSqlDatabase::removeDatabase(name);
}

QString TRecordStore::DefaultPath()
{
    return QDir(UserDataFolder()).filePath(QStringLiteral("records.sqlite"));
}

bool TRecordStore::Open(const QString& location, QString& error)
{
    FOpenError.clear();   // the schema's migrations write while it opens
    const bool opened = OpenStore(location, error);
    FOpenError = opened ? QString() : error;
    return opened;
}

bool TRecordStore::OpenStore(const QString& location, QString& error)
{
    // "scheme:" and "scheme://" are never file names: a URL mistyped must not become an
    // SQLite file (or a folder named after its password).
    static const QRegularExpression schemePattern(QStringLiteral("^([A-Za-z][A-Za-z0-9+.-]*):(//)?"));
    const QRegularExpressionMatch scheme = schemePattern.match(location);
    const QString schemeName = scheme.captured(1).toLower();
    const bool postgres = schemeName == QLatin1String("postgresql") || schemeName == QLatin1String("postgres");
    const bool slashes = scheme.hasMatch() && !scheme.captured(2).isEmpty();
    if (postgres && !slashes) {
        error = QStringLiteral("can't open the record store: write a PostgreSQL store as "
                               "postgresql://user@host:port/database");
        return false;
    }
    if (slashes && !postgres) {
        error = QStringLiteral("can't open the record store: \"") + scheme.captured(1) +
                QStringLiteral("://\" is no record store; give an SQLite file or postgresql://user@host:port/database");
        return false;
    }
    if (postgres) {
        if (!ReadUrl(QStringLiteral("postgresql") + location.mid(scheme.capturedLength(1)), error))
            return false;
    } else {
        FDriver = Sqlite;
        FFile = QFileInfo(location.isEmpty() ? DefaultPath() : location).absoluteFilePath();
        if (!QDir().mkpath(QFileInfo(FFile).path())) {
            error = Failure(QStringLiteral("open"), QStringLiteral("its folder cannot be made"));
            return false;
        }
    }
    if (!QSqlDatabase::isDriverAvailable(FDriver)) {
        error = Failure(QStringLiteral("open"),
                        QStringLiteral("Qt's SQL driver %1 is not installed (Debian package %2)")
                            .arg(FDriver, IsPostgres() ? QStringLiteral("libqt6sql6-psql")
                                                       : QStringLiteral("libqt6sql6-sqlite")));
        return false;
    }
    TSqlFailure why;
    if (!Database(why).isValid()) {
        error = Failure(QStringLiteral("open"), why.Words);
        return false;
    }
    return Migrate(error);
}

bool TRecordStore::ReadUrl(const QString& location, QString& error)
{
    const QUrl url(location, QUrl::StrictMode);
    const QUrlQuery query(url);
    FDriver = Postgres;
    FHost = query.hasQueryItem(QStringLiteral("host"))
                ? query.queryItemValue(QStringLiteral("host"), QUrl::FullyDecoded)
                : url.host();
    FPort = query.hasQueryItem(QStringLiteral("port")) ? query.queryItemValue(QStringLiteral("port")).toInt()
                                                       : url.port();
    FUser = url.userName();
    FPassword = url.password();
    FDatabase = url.path().mid(1);
    if (!url.isValid() || FDatabase.isEmpty()) {
        error = QStringLiteral("not a PostgreSQL URL of the form postgresql://user@host:port/database: \"") +
                Location() + u'"';
        return false;
    }
    return true;
}

QString TRecordStore::Location() const
{
    if (!IsPostgres())
        return FFile;
    QUrl url;
    url.setScheme(QStringLiteral("postgresql"));
    url.setUserName(FUser);
    url.setPath(QLatin1Char('/') + FDatabase);
    QUrlQuery query;
    if (FHost.startsWith(QLatin1Char('/')))
        query.addQueryItem(QStringLiteral("host"), FHost);
    else
        url.setHost(FHost);
    if (FPort > 0 && FHost.startsWith(QLatin1Char('/')))
        query.addQueryItem(QStringLiteral("port"), QString::number(FPort));
    else if (FPort > 0)
        url.setPort(FPort);
    url.setQuery(query);
    return url.toDisplayString();
}

QString TRecordStore::Failure(const QString& what, const QString& why) const
{
    return QStringLiteral("record store %1: can't %2: %3").arg(Location(), what, why);
}

QSqlDatabase TRecordStore::Database(TSqlFailure& why)
{
    const QString name =
        QStringLiteral("orvel-records-%1-%2").arg(FId).arg(quintptr(QThread::currentThreadId()), 0, 16);
    QSqlDatabase db;
    if (QSqlDatabase::contains(name)) {
        db = QSqlDatabase::database(name, false);
        if (db.isOpen())
            return db;
    } else {
        db = QSqlDatabase::addDatabase(FDriver, name);
        if (IsPostgres()) {
            db.setHostName(FHost);
            db.setPort(FPort);
            db.setUserName(FUser);
            db.setPassword(FPassword);
            db.setDatabaseName(FDatabase);
            // A server that went away is noticed within seconds, not at TCP's leisure.
            // The server's notices ("already exists, skipping") are no news to the operator.
            // A statement, or a lock another station holds, waits a few seconds at most.
            db.setConnectOptions(QStringLiteral("connect_timeout=5;keepalives_idle=10;keepalives_interval=3;"
                                                "keepalives_count=3;options='-c client_min_messages=warning"
                                                " -c statement_timeout=%1 -c lock_timeout=%2'")
                                     .arg(StatementTimeoutMs)
                                     .arg(LockTimeoutMs));
        } else {
            // A store this user may read but not change is read as it is: nothing is made in
            // its folder. Without a shared-memory file beside it that this user may read,
            // SQLite reads it only as unchanging, and misses what a station writing it
            // meanwhile has not folded into the file yet.
            const QFileInfo file(FFile);
            const bool readOnly = file.exists() && (!file.isWritable() || !QFileInfo(file.path()).isWritable());
            const bool sharedMemory = QFileInfo(FFile + QStringLiteral("-shm")).isReadable();
            QUrl uri = QUrl::fromLocalFile(FFile);
            uri.setQuery(sharedMemory ? QStringLiteral("mode=ro") : QStringLiteral("immutable=1"));
            db.setDatabaseName(readOnly ? uri.toString(QUrl::FullyEncoded) : FFile);
            db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=") + QString::number(BusyTimeoutMs) +
                                 (readOnly ? QStringLiteral(";QSQLITE_OPEN_READONLY;QSQLITE_OPEN_URI") : QString()));
        }
        ThreadConnections.localData().Names << name;
        const QMutexLocker lock(&FNamesMutex);
        FNames << name;
    }
    if (!db.open()) {
        why = Why(db.lastError());
        return {};
    }
    QSqlQuery first(db);
    if (IsPostgres()) {
        if (!Exec(first, QStringLiteral("SELECT pg_backend_pid()"), why) || !first.next()) {
            first.finish();
            db.close();
            return {};
        }
        const QMutexLocker lock(&Backends().Mutex);
        Backends().Pids.insert(name, first.value(0).toInt());
    } else if (!db.connectOptions().contains(QLatin1String("READONLY")) &&
               // Readers go on while a station writes.
               !Exec(first, QStringLiteral("PRAGMA journal_mode=WAL"), why)) {
        first.finish();
        db.close();
        return {};
    }
    return db;
}

bool TRecordStore::InTransaction(const QString& what, TDurability durability,
                                 const std::function<bool(QSqlDatabase&, TSqlFailure&)>& work, QString& error,
                                 QString* code)
{
    // A store that did not open may be of a schema this program does not know: never written.
    if (!FOpenError.isEmpty()) {
        error = FOpenError;
        return false;
    }
    const bool onDisk = durability == TDurability::OnDisk;
    for (int attempt = 0;; ++attempt) {
        TSqlFailure why;
        QSqlDatabase db = Database(why);
        // No connection: no statement of the transaction was refused.
        if (!db.isValid()) {
            error = Failure(what, why.Words);
            return false;
        }
        QMutexLocker writer(&FWriters);
        if (IsPostgres())
            writer.unlock();
        bool begun = false;
        bool ok = false;
        {
            QSqlQuery query(db);
            if (IsPostgres())
                // The server's default may be not to wait for the disk: say which, each time.
                ok = (begun = Exec(query, QStringLiteral("BEGIN"), why)) &&
                     Exec(query,
                          onDisk ? QStringLiteral("SET LOCAL synchronous_commit TO ON")
                                 : QStringLiteral("SET LOCAL synchronous_commit TO OFF"),
                          why);
            else
                ok = Exec(query,
                          onDisk ? QStringLiteral("PRAGMA synchronous=FULL")
                                 : QStringLiteral("PRAGMA synchronous=NORMAL"),
                          why) &&
                     (begun = Exec(query, QStringLiteral("BEGIN IMMEDIATE"), why));
            ok = ok && work(db, why) && Exec(query, QStringLiteral("COMMIT"), why);
            if (!ok && db.isOpen())
                query.exec(QStringLiteral("ROLLBACK"));
        }
        if (ok)
            return true;
        const bool busy = !IsPostgres() && Busy(why.Code);
        // Whatever broke, the next call starts on a fresh connection.
        db.close();
        // A server restarted since this connection's last use: nothing was sent in a
        // transaction yet, so a fresh connection may try once more.
        // A stop request (query_canceled) is no dead connection: it ends here.
        if (IsPostgres() && !begun && attempt == 0 && why.Code != QLatin1String("57014"))
            continue;
        if (busy)
            why.Words += QStringLiteral(" (another program holds it; waited %1 s)").arg(BusyTimeoutMs / 1000.0);
        error = Failure(what, why.Words);
        if (code)
            *code = why.Code;
        return false;
    }
}

bool TRecordStore::Migrate(QString& error)
{
    // A store of this version opens without the write lock, which another station may hold.
    TSqlFailure why;
    QSqlDatabase db = Database(why);
    {
        QSqlQuery query(db);
        if (db.isValid() && query.exec(QStringLiteral("SELECT MAX(version) FROM schema_version")) && query.next() &&
            query.value(0).toInt() == SchemaVersion)
            return true;
    }
    return InTransaction(
        QStringLiteral("upgrade its schema"), TDurability::OnDisk,
        [this](QSqlDatabase& db, TSqlFailure& why) {
            QSqlQuery query(db);
            // Two stations opening a new shared store at once: one creates the tables, the
            // other finds them made.
            if (IsPostgres() && !Exec(query, QStringLiteral("SELECT pg_advisory_xact_lock(424242)"), why))
                return false;
            if (!Exec(query, QStringLiteral("CREATE TABLE IF NOT EXISTS schema_version (version INTEGER NOT NULL)"),
                      why) ||
                !Exec(query, QStringLiteral("SELECT MAX(version) FROM schema_version"), why))
                return false;
            const int version = query.next() ? query.value(0).toInt() : 0;
            if (version > SchemaVersion) {
                why.Words = QStringLiteral("its schema is version %1, newer than this program knows (%2): use a newer "
                                           "OrvelBinLoader")
                                .arg(version)
                                .arg(SchemaVersion);
                return false;
            }
            const QString id = IsPostgres() ? QStringLiteral("BIGSERIAL PRIMARY KEY")
                                            : QStringLiteral("INTEGER PRIMARY KEY");
            for (int step = version; step < SchemaVersion; ++step) {
                for (QString sql : FieldColumns(step + 1) + Migrations[step]) {
                    if (!Exec(query, sql.replace(QStringLiteral("%ID"), id), why))
                        return false;
                }
            }
            return version == SchemaVersion ||
                   (Exec(query, QStringLiteral("DELETE FROM schema_version"), why) &&
                    Exec(query, QStringLiteral("INSERT INTO schema_version (version) VALUES (?)"), {SchemaVersion},
                         why));
        },
        error);
}

bool TRecordStore::Write(const TStoredRecord& record, QString& error, TDurability durability, TWriteNotes* notes)
{
    // The columns hold the record's fields as its JSON words them.
    return WriteEntry(StoredRecordJson(record), error, durability, notes);
}

bool TRecordStore::WriteEntry(const QJsonObject& entry, QString& error, TDurability durability, TWriteNotes* notes)
{
    const TStoredRecord record = StoredRecordFromJson(entry);
    const QString& station = record.Station;
    const QString& unit = record.Unit.IP;
    const QString& key = record.Key;
    const int64_t number = NumberInUnit(record.Unit);
    const QString series = record.Unit.SerialTaken == number ? record.Series : QString();
    QString clash;
    QString code;
    // A unit's record need not wait for the disk (the budget is a few milliseconds a unit);
    // the number it took went to the ledger durably when it was taken. The operation is not
    // named after the unit: the caller says whose record it is.
    const bool ok = InTransaction(
        QStringLiteral("write a unit's record"), durability,
        [&](QSqlDatabase& db, TSqlFailure& why) {
            QStringList marks;
            QVariantList values;
            for (const TRecordField* field : StoredFields()) {
                marks << QStringLiteral("?");
                values << ColumnValue(entry, *field);
            }
            QSqlQuery query(db);
            if (!Exec(query,
                      QStringLiteral("INSERT INTO unit_records (%1) VALUES (%2) ON CONFLICT (record_key) DO NOTHING")
                          .arg(ColumnList(), marks.join(QStringLiteral(", "))),
                      values, why))
                return false;
            // Offered again: its number was seen to when it was first written.
            if (query.numRowsAffected() != 1 || number < 1)
                return true;
            if (!Exec(query,
                      QStringLiteral("INSERT INTO given_serials (number, source, series, station, given, record_key)"
                                     " VALUES (?, ?, ?, ?, ?, ?) ON CONFLICT (number) DO NOTHING"),
                      {qint64(number),
                       series.isEmpty() ? QStringLiteral("a unit record") : QStringLiteral("series ") + series,
                       series.isEmpty() ? QVariant(QMetaType::fromType<QString>()) : QVariant(series), station,
                       entry.value(QStringLiteral("start")).toString(), key},
                      why))
                return false;
            if (query.numRowsAffected() == 1)
                return true;
            if (!Exec(query,
                      QStringLiteral("SELECT source, station, given, record_key, series FROM given_serials"
                                     " WHERE number = ?"),
                      {qint64(number)}, why) ||
                !query.next())
                return false;
            // The number was taken or claimed for this unit by its own station, and no
            // record answers for it yet: this one does.
            if (query.value(3).isNull() && query.value(1).toString() == station &&
                (query.value(4).isNull() || query.value(4).toString() == series)) {
                query.finish();
                return Exec(query, QStringLiteral("UPDATE given_serials SET record_key = ? WHERE number = ?"),
                            {key, qint64(number)}, why);
            }
            clash = QStringLiteral("serial number ") + QString::number(number) + QStringLiteral(" of ") + unit +
                    QStringLiteral(" was given already (") + GivenBy(query) +
                    (query.value(3).isNull() ? QString() : QStringLiteral(", to another unit")) +
                    QStringLiteral("): both units hold it");
            query.finish();
            return Exec(query,
                        QStringLiteral("INSERT INTO serial_clashes (number, unit_ip, station, noted, record_key)"
                                       " VALUES (?, ?, ?, ?, ?)"),
                        {qint64(number), unit, station, entry.value(QStringLiteral("start")).toString(), key}, why);
        },
        error, &code);
    if (notes)
        *notes = {!ok && Refused(code, IsPostgres()), ok ? clash : QString()};
    return ok;
}

int32_t TRecordStore::TakeSerial(const QString& series, const QString& station, QString& error)
{
    int32_t taken = -1;
    const QString what = QStringLiteral("take a serial number from series \"") + series + u'"';
    // Durable: a number given out must never be given again after a crash.
    const bool ok = InTransaction(
        what, TDurability::OnDisk,
        [&](QSqlDatabase& db, TSqlFailure& why) {
            QSqlQuery query(db);
            const QString now = UtcText(QDateTime::currentDateTime());
            int64_t first = -1;
            for (int skipped = 0;; ++skipped) {
                if (!Exec(query,
                          QStringLiteral("UPDATE serial_series SET next_number = next_number + 1"
                                         " WHERE name = ? AND next_number BETWEEN 1 AND ? RETURNING next_number - 1"),
                          {series, qint64(HighestSerial)}, why))
                    return false;
                if (!query.next()) {
                    if (!Exec(query, QStringLiteral("SELECT next_number FROM serial_series WHERE name = ?"), {series},
                              why))
                        return false;
                    why.Words = query.next() ? QStringLiteral("the series is used up (2147483647 is the highest serial "
                                                              "number)")
                                             : QStringLiteral("no such series; start it with 'orvel-loader serials set "
                                                              "--series ") +
                                                   series + QStringLiteral(" --next N'");
                    return false;
                }
                const int64_t number = query.value(0).toLongLong();
                query.finish();
                if (first < 0)
                    first = number;
                // A number given already by another series or source is passed by.
                if (!Exec(query,
                          QStringLiteral("INSERT INTO given_serials (number, source, series, station, given)"
                                         " VALUES (?, ?, ?, ?, ?) ON CONFLICT (number) DO NOTHING"),
                          {qint64(number), QStringLiteral("series ") + series, series, station, now}, why))
                    return false;
                if (query.numRowsAffected() == 1) {
                    taken = int32_t(number);
                    break;
                }
                if (skipped == MostSkipped) {
                    why.Words = QStringLiteral("numbers %1 to %2 are all given already; set the series past them with "
                                               "'orvel-loader serials set'")
                                    .arg(first)
                                    .arg(number);
                    return false;
                }
            }
            return Exec(query,
                        QStringLiteral(
                            "INSERT INTO serial_ledger (series, number, station, taken) VALUES (?, ?, ?, ?)"),
                        {series, qint64(taken), station, now}, why);
        },
        error);
    return ok ? taken : -1;
}

bool TRecordStore::ClaimSerial(int32_t number, const QString& source, const QString& station, QString& error,
                               bool* givenAlready)
{
    const QString what = QStringLiteral("note serial number ") + QString::number(number) + QStringLiteral(" as given");
    if (number < 1) {
        error = Failure(what, QStringLiteral("serial numbers run from 1 to 2147483647"));
        return false;
    }
    QString given;
    // Durable, as a number taken from a series.
    const bool ok = InTransaction(
        what, TDurability::OnDisk,
        [&](QSqlDatabase& db, TSqlFailure& why) {
            QSqlQuery query(db);
            if (!Exec(query,
                      QStringLiteral("INSERT INTO given_serials (number, source, station, given) VALUES (?, ?, ?, ?)"
                                     " ON CONFLICT (number) DO NOTHING"),
                      {qint64(number), source, station, UtcText(QDateTime::currentDateTime())}, why))
                return false;
            if (query.numRowsAffected() == 1)
                return true;
            if (!Exec(query, QStringLiteral("SELECT source, station, given FROM given_serials WHERE number = ?"),
                      {qint64(number)}, why) ||
                !query.next())
                return false;
            given = QStringLiteral("serial number ") + QString::number(number) +
                    QStringLiteral(" was given already (") + GivenBy(query) + u')';
            return false;
        },
        error);
    if (!given.isEmpty())
        error = given;
    if (givenAlready)
        *givenAlready = !given.isEmpty();
    return ok;
}

bool TRecordStore::SetNextSerial(const QString& series, int64_t next, QString& error)
{
    const QString what = QStringLiteral("set the next number of series \"") + series + u'"';
    if (series.isEmpty() || next < 1 || next > HighestSerial) {
        error = Failure(what, QStringLiteral("a series has a name and a next number from 1 to 2147483647"));
        return false;
    }
    return InTransaction(
        what, TDurability::OnDisk,
        [&](QSqlDatabase& db, TSqlFailure& why) {
            QSqlQuery query(db);
            // A take in flight holds the series' row: wait for it, then see what it took.
            if (IsPostgres() &&
                !Exec(query, QStringLiteral("SELECT next_number FROM serial_series WHERE name = ? FOR UPDATE"),
                      {series}, why))
                return false;
            query.finish();
            if (!Exec(query, QStringLiteral("SELECT MAX(number) FROM serial_ledger WHERE series = ?"), {series}, why))
                return false;
            if (query.next() && !query.value(0).isNull() && query.value(0).toLongLong() >= next) {
                why.Words = QStringLiteral(
                                "the series has given numbers up to %1 already; the next must be above that, or "
                                "those numbers would go out twice")
                                .arg(query.value(0).toLongLong());
                return false;
            }
            query.finish();
            // Given already, by any series or source: the run of given numbers from next on, and
            // the first number free after it.
            if (!Exec(query, QStringLiteral("SELECT source, station, given FROM given_serials WHERE number = ?"),
                      {qint64(next)}, why))
                return false;
            if (query.next()) {
                const QString firstBy = GivenBy(query);
                query.finish();
                if (!Exec(query,
                          QStringLiteral("SELECT MIN(g.number) FROM given_serials g WHERE g.number >= ? AND NOT EXISTS"
                                         " (SELECT 1 FROM given_serials h WHERE h.number = g.number + 1)"),
                          {qint64(next)}, why) ||
                    !query.next())
                    return false;
                const int64_t last = query.value(0).toLongLong();
                why.Words = (last == next
                                 ? QString::number(next) + QStringLiteral(" is given already (") + firstBy + u')'
                                 : QString::number(next) + QStringLiteral(" to ") + QString::number(last) +
                                       QStringLiteral(" are given already (the first ") + firstBy + u')') +
                            (last < HighestSerial
                                 ? QStringLiteral("; the first number free from there is ") + QString::number(last + 1)
                                 : QStringLiteral("; no number is free from there up to 2147483647"));
                return false;
            }
            query.finish();
            return Exec(query,
                        QStringLiteral("INSERT INTO serial_series (name, next_number) VALUES (?, ?)"
                                       " ON CONFLICT (name) DO UPDATE SET next_number = excluded.next_number"),
                        {series, qint64(next)}, why);
        },
        error);
}

bool TRecordStore::ReadSeries(QList<TSeriesState>& series, QString& error)
{
    return Read(
        QStringLiteral("read the serial series"),
        QStringLiteral("SELECT s.name, s.next_number, (SELECT COUNT(*) FROM serial_ledger l WHERE l.series = s.name)"
                       " FROM serial_series s ORDER BY s.name"),
        {},
        [&series](const QSqlQuery& row) {
            series.append({row.value(0).toString(), row.value(1).toLongLong(), row.value(2).toLongLong()});
        },
        error);
}

bool TRecordStore::Query(const TRecordFilter& filter, QList<TStoredRecord>& records, QString& error)
{
    QStringList conditions;
    QVariantList values;
    if (filter.Serial) {
        conditions << QStringLiteral("(serial = ? OR serial_taken = ?)");
        values << qint64(*filter.Serial) << qint64(*filter.Serial);
    }
    if (filter.Since.isValid()) {
        conditions << QStringLiteral("started >= ?");
        values << UtcText(filter.Since);
    }
    if (filter.FailedOnly)
        conditions << QStringLiteral("outcome <> 'ok'");
    if (!filter.Station.isEmpty()) {
        conditions << QStringLiteral("station = ?");
        values << filter.Station;
    }
    if (!filter.Recipe.isEmpty()) {
        conditions << QStringLiteral("recipe = ?");
        values << filter.Recipe;
    }
    return Read(
        QStringLiteral("read the records"),
        QStringLiteral("SELECT id, ") + ColumnList() + QStringLiteral(" FROM unit_records") + Where(conditions) +
            QStringLiteral(" ORDER BY started, id"),
        values,
        [&records](const QSqlQuery& row) {
            QJsonObject entry{{QStringLiteral("id"), row.value(0).toLongLong()}};
            int field = 1;
            for (const TRecordField* stored : StoredFields())
                SetColumnValue(entry, *stored, row.value(field++));
            records.append(StoredRecordFromJson(entry));
        },
        error);
}

bool TRecordStore::Ledger(const TLedgerFilter& filter, QList<TGivenSerial>& given, QString& error)
{
    QStringList conditions;
    QVariantList values;
    if (filter.Serial) {
        conditions << QStringLiteral("g.number = ?");
        values << qint64(*filter.Serial);
    }
    if (!filter.Series.isEmpty()) {
        conditions << QStringLiteral("g.series = ?");
        values << filter.Series;
    }
    if (filter.Since.isValid()) {
        conditions << QStringLiteral("g.given >= ?");
        values << UtcText(filter.Since);
    }
    // A record answers for a number when it holds it or took it, written or not.
    return Read(
        QStringLiteral("read the serial numbers given"),
        QStringLiteral("SELECT g.number, g.source, g.series, g.station, g.given, CASE WHEN g.record_key IS NOT NULL"
                       " OR EXISTS (SELECT 1 FROM unit_records r WHERE r.serial_taken = g.number OR r.serial ="
                       " g.number) THEN 1 ELSE 0 END FROM given_serials g") +
            Where(conditions) + QStringLiteral(" ORDER BY g.number"),
        values,
        [&given](const QSqlQuery& row) {
            given.append({row.value(0).toLongLong(), row.value(1).toString(), row.value(2).toString(),
                          row.value(3).toString(), row.value(4).toString(), row.value(5).toInt() == 1});
        },
        error);
}

bool TRecordStore::Clashes(QStringList& clashes, QString& error)
{
    return Read(
        QStringLiteral("read the serial numbers given twice"),
        QStringLiteral("SELECT number, unit_ip, station, noted FROM serial_clashes ORDER BY noted, number"), {},
        [&clashes](const QSqlQuery& row) {
            const QString unit = row.value(1).toString();
            clashes << QStringLiteral("serial number ") + row.value(0).toString() +
                           (unit.isEmpty() ? QStringLiteral(" was taken twice by ")
                                           : QStringLiteral(" went into ") + unit + QStringLiteral(" at ")) +
                           row.value(2).toString() + QStringLiteral(", ") + row.value(3).toString() +
                           QStringLiteral(", though another unit had it already");
        },
        error);
}

bool TRecordStore::Read(const QString& what, const QString& sql, const QVariantList& values,
                        const std::function<void(const QSqlQuery&)>& row, QString& error)
{
    TSqlFailure why;
    QSqlDatabase db = Database(why);
    QSqlQuery query(db);
    if (!db.isValid() || !Exec(query, sql, values, why)) {
        error = Failure(what, why.Words);
        return false;
    }
    while (query.next())
        row(query);
    return true;
}

void TRecordStore::Cancel()
{
    if (!IsPostgres())
        return;
    const QString prefix = QStringLiteral("orvel-records-%1-").arg(FId);
    QList<int> backends;
    {
        const QMutexLocker lock(&Backends().Mutex);
        for (auto it = Backends().Pids.cbegin(); it != Backends().Pids.cend(); ++it)
            if (it.key().startsWith(prefix))
                backends << it.value();
    }
    if (backends.isEmpty())
        return;
    // A connection of its own: those waiting are busy until the wait ends.
    const QString name = QStringLiteral("orvel-cancel-%1-%2").arg(FId).arg(quintptr(QThread::currentThreadId()), 0, 16);
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(FDriver, name);
        db.setHostName(FHost);
        db.setPort(FPort);
        db.setUserName(FUser);
        db.setPassword(FPassword);
        db.setDatabaseName(FDatabase);
        db.setConnectOptions(QStringLiteral("connect_timeout=2;options='-c client_min_messages=warning'"));
        if (db.open()) {
            QSqlQuery query(db);
            for (const int backend : std::as_const(backends))
                query.exec(QStringLiteral("SELECT pg_cancel_backend(") + QString::number(backend) + u')');
        }
        db.close();
    }
    QSqlDatabase::removeDatabase(name);
}
