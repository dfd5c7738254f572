// RecordKeeper: every unit's record reaches the record store, or waits in a fallback file
// on this machine until the store takes it again.
//
//   Keep(entry) -> the waiting records first, oldest first -> the store
//                  store unreachable, locked or full -> one JSON line appended to the
//                  fallback file (on the disk, cut back if a full disk cuts it short)
//                  -> Waiting
//                  the fallback file cannot be written either -> Lost: the caller stops
//                  before the next unit, since nothing could answer for it
//
// Writing a record twice is harmless (each has a key of its own), so a record that reached
// the store just before its connection broke may wait in the file and be offered again.
// Several programs on one machine may share a fallback file; a lock file beside it lets one
// of them at a time read or change it.
#pragma once

#include "RecordStore.h"

#include <QJsonObject>
#include <QString>

#include <memory>

enum class TKept { Stored, Waiting, Lost };

struct TKeepResult {
    TKept Kept = TKept::Stored;
    QString Text;   // what the operator is told; empty when the record was stored
    // What the operator is told whatever became of the record: lines of the fallback file
    // set aside, a serial number another unit holds already; empty: nothing.
    QString Notes;
};

class TRecordKeeper {
public:
    TRecordKeeper(std::shared_ptr<TRecordStore> store, QString fallbackPath);

    TRecordStore& Store() const { return *FStore; }
    const std::shared_ptr<TRecordStore>& SharedStore() const { return FStore; }
    const QString& FallbackPath() const { return FFallbackPath; }
    // Where lines of the fallback file that cannot be read, or that the store refused, go.
    QString SetAsidePath() const;

    TKeepResult Keep(const TStoredRecord& entry);
    // Writes the waiting records to the store, each on its disk, and then takes them out of
    // the file; how many were written, and the reason when some still wait (error empty: none
    // waits). Lines that hold no record, or one the store refuses, go to SetAsidePath(), and
    // notes says so; they hold back none of the others.
    int Flush(QString& error, QStringList* notes = nullptr);

    // unwritten-records-HASH.jsonl beside the default SQLite file, HASH from the store's
    // location: each store has its own, and records never reach a store they were not for.
    static QString DefaultFallbackPath(const TRecordStore& store);

private:
    bool Append(const TStoredRecord& entry, QString& error);

    const std::shared_ptr<TRecordStore> FStore;
    const QString FFallbackPath;
};
