// TimeLeft: how long a unit's operation still takes, estimated from its progress so far, as
// both front ends show it (the station window's Time left column, orvel-loader's live line),
// and a span of time as they print it.
#pragma once

#include <QString>

#include <optional>

// How long the rest of total bytes takes at the pace of done bytes in elapsedMs, in ms; none
// before the first byte, once the last is done, or before any time has gone by.
std::optional<qint64> TimeLeftMs(qint64 done, qint64 total, qint64 elapsedMs);
// A span as minutes and seconds, "3:07"; one below 0 as "0:00".
QString MinutesText(qint64 ms);
