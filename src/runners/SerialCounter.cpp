#include "SerialCounter.h"

TMemorySerialCounter::TMemorySerialCounter(int32_t first) : FNext(first) {}

TSerialTake TMemorySerialCounter::Take()
{
    const QMutexLocker lock(&FMutex);
    if (FNext >= SerialNumbersUsedUp)
        return {-1, SerialNumbersUsedUpText()};
    if (FNext < 1)
        return {-1, QStringLiteral("serial number ") + QString::number(FNext) + QStringLiteral(" is not valid")};
    return {int32_t(FNext++), {}};
}

TSettingsSerialCounter::TSettingsSerialCounter(int32_t first) : FNext(first) {}

TSerialTake TSettingsSerialCounter::Take()
{
    const QMutexLocker lock(&FMutex);
    const TSerialTake taken = TakeStoredSerial(FNext);
    if (taken.Number >= 1)
        FNext = int64_t(taken.Number) + 1;
    return taken;
}
