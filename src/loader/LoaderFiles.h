// LoaderFiles: reading image files and writing memory dumps, with every failure a result.
#pragma once

#include <QByteArray>
#include <QString>

enum class TImageRead { Missing, TooLarge, Failed, Read };

// Reads the whole file into bytes, unless it does not exist, is larger than maxSize (then
// nothing is read: such a file cannot hold a valid image) or fails to read (error says why).
TImageRead ReadImageFile(const QString& path, qint64 maxSize, QByteArray& bytes, QString* error);

// The SHA-256 of bytes in lower-case hex digits, as recipes and records name a file's contents.
QString Sha256Hex(const QByteArray& bytes);

// Replaces the file with bytes all at once: a failed write leaves whatever was there before.
bool WriteDumpFile(const QString& path, const QByteArray& bytes, QString* error);
