// SettingsStore: the one value the program keeps between runs, the serial number for the
// next unit, in the per-user settings store. The window and the stations share it, so that
// either goes on from the number the other left; several of them may run at once, so every
// change of the number is made under a lock that spans processes (a lock file beside the
// settings file), with the stored value read again inside it.
#pragma once

#include <QString>

#include <cstdint>
#include <limits>
#include <optional>

inline const QString SettingsOrganization = QStringLiteral("Maradine");
inline const QString SettingsApplication = QStringLiteral("OrvelBinLoader");
inline const QString SerialNumberValue = QStringLiteral("SerialNumber");

// Stored as the next number once 2147483647 has been given: there is none left.
inline constexpr int64_t SerialNumbersUsedUp = int64_t(std::numeric_limits<int32_t>::max()) + 1;

// The stored number; false (and number unchanged) when none is stored, every number has
// been given, or what is stored under that name is no 32-bit integer (another program, a
// hand edit).
bool LoadStoredSerialNumber(int32_t& number);
// The stored next number, SerialNumbersUsedUp when every number has been given; nullopt
// when nothing usable is stored.
std::optional<int64_t> LoadStoredNextSerial();

// A serial number taken from a counter: Number, or -1 and Error in words when none was given.
struct TSerialTake {
    int32_t Number = -1;
    QString Error;
};
// Takes wanted, or the stored next number when that is higher (another program gave the
// numbers below it), and stores the number after it: no number is given twice, whatever
// runs at once.
TSerialTake TakeStoredSerial(int64_t wanted);
// Stores next unless the stored number is higher already: the counter never goes back
// below a number given elsewhere.
void StoreNextSerialAtLeast(int32_t next);
// Why a counter gives no number past the highest one.
QString SerialNumbersUsedUpText();
