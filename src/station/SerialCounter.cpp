#include "SerialCounter.h"

#include "SettingsStore.h"

namespace {

// Why the last Take on this thread gave no number.
thread_local QString LastTakeError;

}   // namespace

QString TSerialCounter::LastError()
{
    return LastTakeError;
}

void TSerialCounter::SetLastError(const QString& error)
{
    LastTakeError = error;
}

TMemorySerialCounter::TMemorySerialCounter(int32_t first) : FNext(first) {}

int32_t TMemorySerialCounter::Take()
{
    const QMutexLocker lock(&FMutex);
    if (FNext >= SerialNumbersUsedUp) {
        SetLastError(SerialNumbersUsedUpText());
        return -1;
    }
    if (FNext < 1) {
        SetLastError(QStringLiteral("serial number ") + QString::number(FNext) + QStringLiteral(" is not valid"));
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
        SetLastError(taken.Error);
        return -1;
    }
    FNext = int64_t(taken.Number) + 1;
    return taken.Number;
}
