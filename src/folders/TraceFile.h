// TraceFile: the file a logging category is written to, for the traces an executable keeps
// (the link's frame trace, debug.log). The file is in WritableProgramFolder(), opened at the
// first line and kept open; every line is stamped with the local time to the millisecond and
// reaches the disk at once, so that a trace read after a crash ends at its last frame.
#pragma once

#include <QDateTime>
#include <QString>

// Sends every message of the category to fileName in WritableProgramFolder(); messages of
// other categories go on to the handler that was installed before. Called once by an
// executable before its first message.
void InstallTraceFile(const char* category, const QString& fileName);
// The line written for a message at that moment, newline included.
QString TraceLine(const QDateTime& moment, const QString& message);
