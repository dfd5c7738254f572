#include "LoaderFiles.h"

#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

QString Sha256Hex(const QByteArray& bytes)
{
    return QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex());
}

TImageRead ReadImageFile(const QString& path, qint64 maxSize, QByteArray& bytes, QString* error)
{
    bytes.clear();
    const QFileInfo info(path);
    if (path.isEmpty() || !info.isFile())
        return TImageRead::Missing;
    if (info.size() > maxSize)
        return TImageRead::TooLarge;

    QFile file(path);
    if (file.open(QIODevice::ReadOnly)) {
        bytes = file.read(maxSize + 1);
        // A file that grew after the size check is judged by what it holds now.
        if (bytes.size() > maxSize) {
            bytes.clear();
            return TImageRead::TooLarge;
        }
        if (file.error() == QFileDevice::NoError)
            return TImageRead::Read;
    }
    bytes.clear();
    if (error)
        *error = file.errorString();
    return TImageRead::Failed;
}

bool WriteDumpFile(const QString& path, const QByteArray& bytes, QString* error)
{
    QSaveFile file(path);
    const bool ok = file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.commit();
    if (!ok) {
        if (error)
            *error = file.errorString();
        file.cancelWriting();
    }
    return ok;
}
