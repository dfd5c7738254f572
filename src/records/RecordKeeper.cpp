#include "RecordKeeper.h"

#include "FallbackFile.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QLockFile>
#include <QSaveFile>

#include <unistd.h>

namespace {

constexpr int LockWaitMs = 10000;

QString UnitText(const TUnitRecord& unit)
{
    QString text = unit.IP;
    const int serial = unit.Serial;
    const int taken = unit.SerialTaken;
    if (taken > 0)
        text += QStringLiteral(" (serial number %1 taken)").arg(taken);
    else if (serial > 0)
        text += QStringLiteral(" (serial number %1)").arg(serial);
    return text;
}

// The fallback file keeps each record as one line of its JSON.
QByteArray Line(const TStoredRecord& record)
{
    return QJsonDocument(StoredRecordJson(record)).toJson(QJsonDocument::Compact) + '\n';
}

// Why the lock beside path could not be had, in the lock's own terms: a full disk or a
// folder that is not one is no other program's doing.
QString LockFailure(const QLockFile& lock, const QString& path)
{
    const QString lockPath = path + QStringLiteral(".lock");
    switch (lock.error()) {
    case QLockFile::LockFailedError: {
        qint64 pid = 0;
        QString host, application;
        if (lock.getLockInfo(&pid, &host, &application))
            return path + QStringLiteral(" is in use by ") + application + QStringLiteral(" (process ") +
                   QString::number(pid) + QStringLiteral(" on ") + host + u')';
        return path + QStringLiteral(" is in use by another program");
    }
    case QLockFile::PermissionError:
        return QStringLiteral("can't make the lock file ") + lockPath + QStringLiteral(": no permission");
    case QLockFile::NoError:
    case QLockFile::UnknownError:
        break;
    }
    return QStringLiteral("can't make the lock file ") + lockPath +
           QStringLiteral(" (is the disk full, or its folder no folder?)");
}

// Appends lines to the file at path and waits for the disk. The file ends with a line end
// first (a crash may have cut its last line short), and goes back to its old length when
// the append fails (a full disk), so that no half line is left for the next to be glued to.
bool AppendDurably(const QString& path, QByteArray lines, QString& error)
{
    QFile file(path);
    // Unbuffered: what a failed write left is known, and nothing is written again at close.
    if (!file.open(QIODevice::ReadWrite | QIODevice::Unbuffered)) {
        error = file.errorString();
        return false;
    }
    const qint64 length = file.size();
    if (length > 0 && file.seek(length - 1) && file.read(1) != "\n")
        lines.prepend('\n');
    if (file.seek(length) && file.write(lines) == lines.size() && ::fsync(file.handle()) == 0)
        return true;
    error = file.errorString();
    if (!file.resize(length) || ::fsync(file.handle()) != 0)
        error += QStringLiteral("; and it could not be cut back to its old length: ") + file.errorString();
    return false;
}

}   // namespace

TRecordKeeper::TRecordKeeper(std::shared_ptr<TRecordStore> store, QString fallbackPath)
    : FStore(std::move(store)), FFallbackPath(std::move(fallbackPath))
{
}

QString TRecordKeeper::DefaultFallbackPath(const TRecordStore& store)
{
    const QByteArray hash = QCryptographicHash::hash(store.Location().toUtf8(), QCryptographicHash::Sha256).toHex();
    return QFileInfo(TRecordStore::DefaultPath())
        .dir()
        .filePath(QStringLiteral("unwritten-records-%1.jsonl").arg(QString::fromLatin1(hash.left(12))));
}

TKeepResult TRecordKeeper::Keep(const TStoredRecord& entry)
{
    QString why;
    QStringList notes;
    // Once the waiting records are in, the store is back: this one goes straight in too.
    TWriteNotes written;
    if (Flush(why, &notes) >= 0 && why.isEmpty() &&
        FStore->Write(entry, why, TRecordStore::TDurability::Soon, &written)) {
        if (!written.Clash.isEmpty())
            notes << written.Clash;
        return {TKept::Stored, {}, notes.join(QStringLiteral("; "))};
    }
    if (!written.Clash.isEmpty())
        notes << written.Clash;
    QString kept;
    if (Append(entry, kept))
        return {TKept::Waiting,
                QStringLiteral("the record of ") + UnitText(entry.Unit) + QStringLiteral(" waits in ") + FFallbackPath +
                    QStringLiteral(" until the store takes it: ") + why,
                notes.join(QStringLiteral("; "))};
    return {TKept::Lost,
            QStringLiteral("the record of ") + UnitText(entry.Unit) +
                QStringLiteral(" could be kept neither in the store (") + why + QStringLiteral(") nor in ") +
                FFallbackPath + QStringLiteral(" (") + kept + QStringLiteral("): ") +
                QString::fromUtf8(Line(entry)).trimmed(),
            notes.join(QStringLiteral("; "))};
}

int TRecordKeeper::Flush(QString& error, QStringList* notes)
{
    if (!FStore->OpenError().isEmpty()) {
        error = FStore->OpenError();
        return -1;
    }
    if (!QFileInfo::exists(FFallbackPath))
        return 0;
    QLockFile lock(FFallbackPath + QStringLiteral(".lock"));
    if (!lock.tryLock(LockWaitMs)) {
        error = LockFailure(lock, FFallbackPath);
        return -1;
    }
    QFile file(FFallbackPath);
    if (!file.open(QIODevice::ReadOnly)) {
        error = QStringLiteral("can't read ") + FFallbackPath + QStringLiteral(": ") + file.errorString();
        return -1;
    }
    const TFallbackContent content = ReadFallback(file.readAll());
    file.close();

    // Each record is on the store's disk before the file lets go of it: a crash right
    // after the file is gone must not take the records with it.
    int written = 0;
    QList<TFallbackLine> aside = content.Bad;
    QByteArray waiting;
    for (const TFallbackLine& line : content.Entries) {
        TWriteNotes store;
        QString why;
        // Once the store fails, the rest waits for the next time; a record it refuses is
        // set aside and holds none back.
        if (!error.isEmpty()) {
            waiting += line.Text + '\n';
        } else if (FStore->WriteEntry(line.Entry, why, TRecordStore::TDurability::OnDisk, &store)) {
            ++written;
            if (notes && !store.Clash.isEmpty())
                *notes << store.Clash;
        } else if (store.Refused) {
            aside.append({line.Number, line.Text, {}, QStringLiteral("refused by the store: ") + why});
        } else {
            error = why;
            waiting += line.Text + '\n';
        }
    }
    if (written == 0 && aside.isEmpty())
        return 0;
    if (!aside.isEmpty()) {
        QByteArray lines;
        QStringList whys;
        for (const TFallbackLine& line : std::as_const(aside)) {
            lines += line.Text + '\n';
            whys << QStringLiteral("line ") + QString::number(line.Number) + QStringLiteral(": ") + line.Why;
        }
        QString why;
        if (AppendDurably(SetAsidePath(), lines, why)) {
            if (notes)
                *notes << QString::number(aside.size()) + QStringLiteral(" lines of ") + FFallbackPath +
                              QStringLiteral(" hold no record the store takes, and are set aside in ") +
                              SetAsidePath() + QStringLiteral(" (") + whys.join(QStringLiteral("; ")) + u')';
        } else {
            // They stay where they are rather than be lost.
            waiting = lines + waiting;
            if (notes)
                *notes << QString::number(aside.size()) + QStringLiteral(" lines of ") + FFallbackPath +
                              QStringLiteral(" hold no record the store takes, and could not be set aside in ") +
                              SetAsidePath() + QStringLiteral(" (") + why + QStringLiteral("): ") +
                              whys.join(QStringLiteral("; "));
        }
    }
    if (waiting.isEmpty()) {
        file.remove();
        return written;
    }
    QSaveFile rest(FFallbackPath);
    if (!rest.open(QIODevice::WriteOnly) || rest.write(waiting) != waiting.size() || !rest.commit()) {
        // The file still holds every line; the written ones are offered again, harmlessly.
        error = QStringLiteral("can't rewrite ") + FFallbackPath + QStringLiteral(": ") + rest.errorString();
        return -1;
    }
    return written;
}

bool TRecordKeeper::Append(const TStoredRecord& entry, QString& error)
{
    QDir().mkpath(QFileInfo(FFallbackPath).path());
    QLockFile lock(FFallbackPath + QStringLiteral(".lock"));
    if (!lock.tryLock(LockWaitMs)) {
        error = LockFailure(lock, FFallbackPath);
        return false;
    }
    // On the disk before the next unit starts: the record may be all that tells of it.
    return AppendDurably(FFallbackPath, Line(entry), error);
}

QString TRecordKeeper::SetAsidePath() const
{
    return FFallbackPath + QStringLiteral(".set-aside");
}
