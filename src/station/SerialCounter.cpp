#include "SerialCounter.h"

#include "SettingsStore.h"

#include <limits>

TSettingsSerialCounter::TSettingsSerialCounter(int32_t first) : FNext(first) {}

int32_t TSettingsSerialCounter::Take()
{
    const QMutexLocker lock(&FMutex);
    if (FNext < 1 || FNext > std::numeric_limits<int32_t>::max())
        return -1;
    const auto number = int32_t(FNext++);
    // The highest number leaves nothing to store; the next Take says so.
    if (FNext <= std::numeric_limits<int32_t>::max())
        StoreSerialNumber(int32_t(FNext));
    return number;
}
