#include "RecordKeeper.h"

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

QString UnitText(const QJsonObject& entry)
{
    QString text = entry.value(QStringLiteral("unit")).toString();
    const int serial = entry.value(QStringLiteral("serial")).toInt(-1);
    const int taken = entry.value(QStringLiteral("serialTaken")).toInt(-1);
    if (taken > 0)
        text += QStringLiteral(" (serial number %1 taken)").arg(taken);
    else if (serial > 0)
        text += QStringLiteral(" (serial number %1)").arg(serial);
    return text;
}

QByteArray Line(const QJsonObject& entry)
{
    return QJsonDocument(entry).toJson(QJsonDocument::Compact) + '\n';
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

TKeepResult TRecordKeeper::Keep(const QJsonObject& entry)
{
    QString why;
    // Once the waiting records are in, the store is back: this one goes straight in too.
    if (Flush(why) >= 0 && why.isEmpty() && FStore->Write(entry, why))
        return {};
    QString kept;
    if (Append(entry, kept))
        return {TKept::Waiting, QStringLiteral("the record of %1 waits in %2 until the store takes it: %3")
                                    .arg(UnitText(entry), FFallbackPath, why)};
    return {TKept::Lost, QStringLiteral("the record of %1 could be kept neither in the store (%2) nor in %3 (%4): %5")
                             .arg(UnitText(entry), why, FFallbackPath, kept, QString::fromUtf8(Line(entry)).trimmed())};
}

int TRecordKeeper::Flush(QString& error)
{
    if (!FStore->OpenError().isEmpty()) {
        error = FStore->OpenError();
        return -1;
    }
    if (!QFileInfo::exists(FFallbackPath))
        return 0;
    QLockFile lock(FFallbackPath + QStringLiteral(".lock"));
    if (!lock.tryLock(LockWaitMs)) {
        error = QStringLiteral("%1 is locked by another program").arg(FFallbackPath);
        return -1;
    }
    QFile file(FFallbackPath);
    if (!file.open(QIODevice::ReadOnly)) {
        error = QStringLiteral("can't read %1: %2").arg(FFallbackPath, file.errorString());
        return -1;
    }
    const QList<QByteArray> lines = file.readAll().split('\n');
    file.close();

    int written = 0;
    QByteArray waiting;
    for (const QByteArray& line : lines) {
        if (line.trimmed().isEmpty())
            continue;
        const QJsonObject entry = QJsonDocument::fromJson(line).object();
        // Once the store fails, the rest waits for the next time.
        if (error.isEmpty() && !entry.isEmpty() && FStore->Write(entry, error))
            ++written;
        else
            waiting += line + '\n';
    }
    if (written == 0)
        return 0;
    if (waiting.isEmpty()) {
        file.remove();
        return written;
    }
    QSaveFile rest(FFallbackPath);
    if (!rest.open(QIODevice::WriteOnly) || rest.write(waiting) != waiting.size() || !rest.commit()) {
        // The file still holds every line; the written ones are offered again, harmlessly.
        error = QStringLiteral("can't rewrite %1: %2").arg(FFallbackPath, rest.errorString());
        return -1;
    }
    return written;
}

bool TRecordKeeper::Append(const QJsonObject& entry, QString& error)
{
    QDir().mkpath(QFileInfo(FFallbackPath).path());
    QLockFile lock(FFallbackPath + QStringLiteral(".lock"));
    if (!lock.tryLock(LockWaitMs)) {
        error = QStringLiteral("it is locked by another program");
        return false;
    }
    QFile file(FFallbackPath);
    const QByteArray line = Line(entry);
    // On the disk before the next unit starts: the record may be all that tells of it.
    if (!file.open(QIODevice::Append) || file.write(line) != line.size() || !file.flush() ||
        ::fsync(file.handle()) != 0) {
        error = file.errorString();
        return false;
    }
    return true;
}
