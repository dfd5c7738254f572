// SerialCounter: serial numbers for the units of a station, handed out one at a time and
// only to a unit that is about to receive one, so that no number goes out twice.
#pragma once

#include "SettingsStore.h"

#include <QMutex>

#include <cstdint>

class TSerialCounter {
public:
    virtual ~TSerialCounter() = default;
    // The next number, taken for good; -1 and why when there is none to give (past
    // 2147483647, or the store refused it).
    virtual TSerialTake Take() = 0;
};

// Counts up from a first number, keeping nothing.
class TMemorySerialCounter : public TSerialCounter {
public:
    explicit TMemorySerialCounter(int32_t first);
    TSerialTake Take() override;

private:
    QMutex FMutex;
    int64_t FNext;
};

// Counts up from a first number and keeps the next one in the settings store, where the
// window reads its serial number too, so the window or the next run goes on from there.
// Each number is taken under the settings' lock from the stored value when another program
// (a second station, the window) has gone past this counter's own next number.
class TSettingsSerialCounter : public TSerialCounter {
public:
    explicit TSettingsSerialCounter(int32_t first);
    TSerialTake Take() override;

private:
    QMutex FMutex;
    int64_t FNext;
};
