#include "SerialCounter.h"

#include "SettingsStore.h"

#include <limits>

namespace {

// The next number of a counter at next, or -1 when there is none; next moves on.
int32_t TakeFrom(int64_t& next)
{
    if (next < 1 || next > std::numeric_limits<int32_t>::max())
        return -1;
    return int32_t(next++);
}

}   // namespace

TMemorySerialCounter::TMemorySerialCounter(int32_t first) : FNext(first) {}

int32_t TMemorySerialCounter::Take()
{
    const QMutexLocker lock(&FMutex);
    return TakeFrom(FNext);
}

TSettingsSerialCounter::TSettingsSerialCounter(int32_t first) : FNext(first) {}

int32_t TSettingsSerialCounter::Take()
{
    const QMutexLocker lock(&FMutex);
    const int32_t number = TakeFrom(FNext);
    // The highest number leaves nothing to store; the next Take says so.
    if (number > 0 && FNext <= std::numeric_limits<int32_t>::max())
        StoreSerialNumber(int32_t(FNext));
    return number;
}
