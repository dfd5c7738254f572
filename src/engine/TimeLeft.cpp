#include "TimeLeft.h"

#include <algorithm>

std::optional<qint64> TimeLeftMs(qint64 done, qint64 total, qint64 elapsedMs)
{
    if (done <= 0 || done >= total || elapsedMs <= 0)
        return std::nullopt;
    return (total - done) * elapsedMs / done;
}

QString MinutesText(qint64 ms)
{
    const qint64 secs = std::max<qint64>(ms, 0) / 1000;
    return QString::number(secs / 60) + u':' + QString::number(secs % 60).rightJustified(2, u'0');
}
