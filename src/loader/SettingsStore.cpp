#include "SettingsStore.h"

#include <QSettings>

bool LoadStoredSerialNumber(int32_t& number)
{
    const QVariant value = QSettings(SettingsOrganization, SettingsApplication).value(SerialNumberValue);
    bool ok = false;
    int stored = 0;
    if (value.typeId() == QMetaType::Int)
        stored = value.toInt(&ok);
    else if (value.typeId() == QMetaType::QString)
        stored = value.toString().toInt(&ok);
    if (ok)
        number = stored;
    return ok;
}

void StoreSerialNumber(int32_t number)
{
    QSettings(SettingsOrganization, SettingsApplication).setValue(SerialNumberValue, number);
}
