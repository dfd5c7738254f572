// SettingsStore: the one value the program keeps between runs, the serial number for the
// next unit, in the per-user settings store. The window and the station share it, so that
// either goes on from the number the other left.
#pragma once

#include <QString>

#include <cstdint>

inline const QString SettingsOrganization = QStringLiteral("Maradine");
inline const QString SettingsApplication = QStringLiteral("OrvelBinLoader");
inline const QString SerialNumberValue = QStringLiteral("SerialNumber");

// The stored number; false (and number unchanged) when none is stored, or what is stored
// under that name is no 32-bit integer (another program, a hand edit).
bool LoadStoredSerialNumber(int32_t& number);
void StoreSerialNumber(int32_t number);
