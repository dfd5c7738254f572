// RecordStore: the production records of every unit and the serial number series, in one
// database: an SQLite file on a single station (the default, made on first use), or a
// PostgreSQL database that several stations share.
//
//   location: ""                               the default SQLite file in the data folder
//             "postgresql://user@host:port/db"  PostgreSQL (also "postgres://", in any case;
//                                               a socket folder as "?host=/path")
//             "other://..." or "postgresql:..." refused in words: never taken for a file
//             anything else                     the path of an SQLite file
//
// Open applies the schema's migrations in one transaction, so a store written by an older
// version is upgraded to SchemaVersion, and refuses a store whose schema is newer than this
// program knows.
//
// Threads: a database connection may only be used on the thread that opened it, and the
// runners take serial numbers on their own threads. So every thread that uses the store
// gets a connection of its own, opened on its first call and closed when the thread ends
// (or with the store). On SQLite the writers of one process queue on a mutex before they
// ask for the file's lock: SQLite's busy wait is no queue, and eight threads polling it
// could starve one another past the busy time-out. Only another process then waits on the
// lock, for BusyTimeoutMs, and a store still locked after that is reported in words.
//
// A serial number is taken, and its ledger entry written, in a transaction that returns only
// once it is on the disk; a unit's record is committed without waiting for the disk (see
// InTransaction): it costs a station well under the few milliseconds a unit may spare.
//
// Every number the store knows as given, from any series or source (--serial,
// --autoincrement, the window, a unit record), is in one set that is unique by constraint:
// a take moves past a number given already, a claim of one is refused, and a unit record
// whose number another unit holds is kept all the same and reported as a clash.
//
// PostgreSQL: every statement and every lock wait is bounded (StatementTimeoutMs,
// LockTimeoutMs), and Cancel ends the waits at once from any thread.
//
// Every failure is a result: false (or -1) and the reason in words, naming the store.
// Passwords are never kept or shown: Location() leaves them out.
#pragma once

#include "RecordFields.h"

#include <QDateTime>
#include <QJsonObject>
#include <QList>
#include <QMutex>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <optional>

// Which records a query returns; every condition given must hold.
struct TRecordFilter {
    std::optional<int32_t> Serial;   // the unit's serial number, or the number taken for it
    QDateTime Since;                 // started at or after; invalid: any time
    bool FailedOnly = false;
    QString Station;   // empty: any
    QString Recipe;    // the recipe's name, exactly; empty: any
};

// A number of the set of given numbers, as `serials ledger` and `records --serial` show it.
struct TGivenSerial {
    int64_t Number = 0;
    QString Source;   // "series NAME", "--serial", "--autoincrement", "the window", "a unit record"
    QString Series;   // the series it was taken from; empty: none
    QString Station;
    QString Given;            // UTC, as stored
    bool HasRecord = false;   // a unit record answers for it
};

// Which given numbers a ledger listing shows; every condition given must hold.
struct TLedgerFilter {
    std::optional<int32_t> Serial;
    QString Series;    // empty: any
    QDateTime Since;   // invalid: any time
};

// What the operator learns of a record written besides success or failure.
struct TWriteNotes {
    bool Refused = false;   // the store refused this record itself; it is reachable
    QString Clash;          // the unit's number was given to another unit already
};

struct TSeriesState {
    QString Name;
    int64_t Next = 0;
    int64_t Taken = 0;   // numbers taken from it so far
};

// Why a statement failed: in the database's words, with its code for the failure (SQLSTATE on
// PostgreSQL, SQLite's result code); in words alone when the program gave up itself.
struct TSqlFailure {
    QString Words;
    QString Code;
};

// A unit's record as the store keeps it: with the station, the series its number was taken
// from (empty: none) and a key of its own.
TStoredRecord RecordEntry(const TUnitRecord& record, const QString& station, const QString& series);

class TRecordStore {
public:
    // The version of the schema this program makes and reads: one for each step of the
    // store's migrations (RecordStore.cpp, which says what each version brought, the columns
    // of unit_records from the version each field of RecordFields names).
    static constexpr int SchemaVersion = 5;
    static inline const QString DefaultSeries = QStringLiteral("default");

    TRecordStore();
    ~TRecordStore();
    TRecordStore(const TRecordStore&) = delete;
    TRecordStore& operator=(const TRecordStore&) = delete;

    // How long an SQLite store locked by another process is waited for; set before Open.
    int BusyTimeoutMs = 5000;
    // PostgreSQL: how long a statement may run, and wait for a lock held by another station.
    int StatementTimeoutMs = 15000;
    int LockTimeoutMs = 5000;

    // A durable transaction returns once its commit is on the disk; another may return
    // before, and is on the disk with the next durable one (SQLite) or within a fraction of
    // a second (PostgreSQL): a crash of the store's machine in between loses it, but never
    // corrupts the store.
    enum class TDurability { OnDisk, Soon };

    bool Open(const QString& location, QString& error);
    // Why the store is not open (not opened yet, or Open failed); empty once it is. A store
    // that is not open is not written: it may be one whose schema this program does not know.
    const QString& OpenError() const { return FOpenError; }
    // The store as the operator may read it: the file, or the URL without its password.
    QString Location() const;
    bool IsPostgres() const { return FDriver == QLatin1String("QPSQL"); }

    // Writes one unit's record (as RecordEntry makes it). An entry whose key is in the
    // store already is not written again, so a record may be offered twice. A record whose
    // serial step is "ok", "unknown" or "interrupted" enters its number into the set of given
    // numbers; a
    // number another unit holds already is noted in notes->Clash, the record kept.
    bool Write(const TStoredRecord& record, QString& error, TDurability durability = TDurability::Soon,
               TWriteNotes* notes = nullptr);
    // The same for a record in its JSON (StoredRecordJson's shape; a line of the fallback
    // file), written as it stands: what another version wrote is not read and made anew.
    bool WriteEntry(const QJsonObject& entry, QString& error, TDurability durability = TDurability::Soon,
                    TWriteNotes* notes = nullptr);
    // The next number of the series not given already, taken for good in one durable
    // transaction; -1 and the reason when the series is unknown or used up, or the store
    // cannot be reached.
    int32_t TakeSerial(const QString& series, const QString& station, QString& error);
    // A number given by another source (--serial, --autoincrement, the window) enters the
    // set of given numbers, durably; false and "serial number N was given already (by ...)"
    // when it is there already (givenAlready then true), or the store's reason.
    bool ClaimSerial(int32_t number, const QString& source, const QString& station, QString& error,
                     bool* givenAlready = nullptr);
    // The series starts or goes on from next (1 to 2147483647); refused at or below a
    // number the series has given already, or at a number given already by any source,
    // saying which numbers from next on are given.
    bool SetNextSerial(const QString& series, int64_t next, QString& error);
    bool ReadSeries(QList<TSeriesState>& series, QString& error);
    // The records the filter lets through, oldest first, each with its id.
    bool Query(const TRecordFilter& filter, QList<TStoredRecord>& records, QString& error);
    // The given numbers the filter lets through, by number.
    bool Ledger(const TLedgerFilter& filter, QList<TGivenSerial>& given, QString& error);
    // Units whose numbers clash with an earlier unit's, each in words; empty: none.
    bool Clashes(QStringList& clashes, QString& error);

    // Callable from any thread: every wait of this store's connections ends at once with a
    // failure (PostgreSQL: cancelled from a connection of its own). SQLite waits are bounded
    // by BusyTimeoutMs.
    void Cancel();

    // The default SQLite file: records.sqlite in the data folder the window and
    // orvel-loader share (UserDataFolder).
    static QString DefaultPath();

private:
    bool OpenStore(const QString& location, QString& error);
    // Takes a postgresql:// URL apart; false and the reason when it is no such URL.
    bool ReadUrl(const QString& location, QString& error);
    // The calling thread's open connection; invalid and the reason when it cannot be opened.
    QSqlDatabase Database(TSqlFailure& why);
    // Runs a read on the calling thread's connection, each row to row; false and the reason,
    // naming what, when it fails.
    bool Read(const QString& what, const QString& sql, const QVariantList& values,
              const std::function<void(const QSqlQuery&)>& row, QString& error);
    bool Migrate(QString& error);
    // Runs work inside one write transaction (immediate on SQLite, behind the process's
    // writer mutex); rolls back when work fails, and hands the failed statement's code to
    // code when given one (empty: work gave up itself). A PostgreSQL connection found dead
    // before the transaction began (a restarted server) is opened again once.
    bool InTransaction(const QString& what, TDurability durability,
                       const std::function<bool(QSqlDatabase&, TSqlFailure&)>& work, QString& error,
                       QString* code = nullptr);
    QString Failure(const QString& what, const QString& why) const;

    const int FId;   // tells this store's connections from another store's
    QString FOpenError = QStringLiteral("the record store is not open");
    QString FDriver;
    QString FFile;                                // SQLite
    QString FHost, FUser, FPassword, FDatabase;   // PostgreSQL
    int FPort = -1;
    QMutex FWriters;   // SQLite: one writer of this process at a time
    QMutex FNamesMutex;
    QStringList FNames;   // every connection opened, to close them with the store
};
