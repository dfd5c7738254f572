#include "SerialCounter.h"

#include "SettingsStore.h"

namespace {

// Why the last Take on this thread gave no number.
thread_local QString LastTakeError;

}   // namespace

QString TSerialCounter::LastError() const
{
    return LastTakeError;
}

TMemorySerialCounter::TMemorySerialCounter(int32_t first) : FNext(first) {}

int32_t TMemorySerialCounter::Take()
{
    const QMutexLocker lock(&FMutex);
    if (FNext >= SerialNumbersUsedUp) {
        LastTakeError = SerialNumbersUsedUpText();
        return -1;
    }
    if (FNext < 1) {
        LastTakeError = QStringLiteral("serial number ") + QString::number(FNext) + QStringLiteral(" is not valid");
        return -1;
    }
    return int32_t(FNext++);
}

TSettingsSerialCounter::TSettingsSerialCounter(int32_t first) : FNext(first) {}

int32_t TSettingsSerialCounter::Take()
{
    const QMutexLocker lock(&FMutex);
    const TStoredSerial taken = TakeStoredSerial(FNext);
    if (taken.Number < 1) {
        LastTakeError = taken.Error;
        return -1;
    }
    FNext = int64_t(taken.Number) + 1;
    return taken.Number;
}
