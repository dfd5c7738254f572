// LoaderConsole: what orvel-loader prints. On a terminal: the window's time-stamped message
// lines, each with its unit, above one live progress line per unit (percentage, bytes, time
// left estimated from the progress so far), and a summary per unit at the end. Elsewhere the
// same without the live lines. With --json: JSON lines only, one event per line and one
// result record per unit.
#pragma once

#include "UnitRecord.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QMap>
#include <QString>

#include <cstdio>
#include <vector>

// How many units ended with each kind of failure, for the summary's last line: "2 not
// answering, 1 refused"; empty when none failed.
QString FailureCounts(const std::vector<TUnitRecord>& records);

class TLoaderConsole {
public:
    TLoaderConsole(FILE* out, bool json, bool terminal);

    void Message(const QString& unit, const QDateTime& moment, const QString& text);
    void Progress(const QString& unit, qint64 done, qint64 total);
    // The unit's result; the live line of the unit goes.
    void Result(const TUnitRecord& record);
    // A unit as discover and info show it.
    void UnitInfo(const TUnitRecord& record);
    // A line about the whole run (station, refusals, the end).
    void Note(const QString& text);
    void Summary(const std::vector<TUnitRecord>& records);

    // The live line's text for a unit: "45%  29.5 KiB of 65.6 KiB  0:03 left".
    static QString ProgressText(qint64 done, qint64 total, qint64 elapsedMs);

private:
    struct TLive {
        qint64 Done = 0;
        qint64 Total = 0;
        QElapsedTimer Since;   // from the unit's first progress
        qint64 LastJsonMs = -1;
    };
    void Print(const QString& line);
    void JsonLine(const QString& unit, const QString& kind, QJsonObject fields);
    void EraseLive();
    void DrawLive();

    FILE* FOut;
    bool FJson;
    bool FTerminal;
    QMap<QString, TLive> FLive;
    int FLiveLines = 0;   // live lines on screen below the messages
};
