// ProductionLog: one line per unit that a send has written, appended to a text file
// beside the executable (its path with ".log" instead of the extension), or of that name in
// the user's data folder for an installed program or one whose folder cannot be written
// (WritableProgramFolder).
//
//   2026-03-02 09:05:07 nad none      serial 000001234 ok  kernel v3.0.5 ok  plc ok  (prog.bin)
//
// The send fills the entry before it writes anything, every result "err" or "---", and
// turns a result into "ok " when its step is done.
#pragma once

#include "Job.h"

#include <QDateTime>
#include <QString>

#include <cstdint>

struct TProductionLogEntry {
    QString Nad;             // 9 digits at least, "none     " for -1
    QString Serial;          // 9 digits at least, "---------" when none is written
    QString SerialResult;    // "err", "ok " or "---"
    QString KernelVersion;   // "v" and the version shown before the send, or "------"
    QString KernelResult;
    QString ProgramResult;
    QString ProgramFile;   // file name without folder, "-" when no program is written
};

inline const QString StepOk = QStringLiteral("ok ");

// A NAD or serial number column: nine digits at least.
QString NineDigits(int32_t value);
// The columns known when a send starts: nad is the link's current NAD, unitKernel the kernel
// version the unit reported when it was connected.
TProductionLogEntry PrepareLogEntry(int32_t nad, const TJob& job, const QString& unitKernel);
// The whole line, CR LF included, stamped with moment.
QString ProductionLogLine(const TProductionLogEntry& entry, const QDateTime& moment);
// The executable's path with its extension replaced by ".log", in the user's data folder
// instead for an installed program or one whose folder cannot be written.
QString DefaultProductionLogPath();
// The window's production log, which orvel-loader appends to as well: OrvelBinLoader.log, after
// the window's executable, where DefaultProductionLogPath puts this program's (the two are
// installed side by side).
QString WindowProductionLogPath();
// Appends the line (creating the file), one caller at a time across threads; false and the
// reason in error when any step fails.
bool AppendProductionLog(const QString& path, const QString& line, QString* error);
