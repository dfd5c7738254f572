#include "SettingsStore.h"

#include <QDir>
#include <QFileInfo>
#include <QLockFile>
#include <QSettings>
#include <QThread>

#include <algorithm>
#include <functional>

namespace {

constexpr int LockTimeoutMs = 10000;
// QSettings reads its file again only when the file's size or time stamp changed, and the
// system stamps files with a clock that ticks in steps of up to 10 ms. Holding the lock this
// long after a write gives the next write another time stamp, so no program takes the value
// it read before for the value stored now.
constexpr unsigned long TimeStampStepMs = 20;

std::optional<int64_t> NextSerialIn(const QSettings& settings)
{
    const QVariant value = settings.value(SerialNumberValue);
    bool ok = false;
    int64_t stored = 0;
    switch (value.typeId()) {
    case QMetaType::Int:
    case QMetaType::LongLong:
        stored = value.toLongLong(&ok);
        break;
    case QMetaType::QString:
        stored = value.toString().toLongLong(&ok);
        break;
    default:
        break;
    }
    if (!ok || stored < 0 || stored > SerialNumbersUsedUp)
        return std::nullopt;
    return stored;
}

// Runs change on the settings under the lock that spans processes; false and the reason
// when the lock cannot be had or the settings cannot be written.
bool ChangeUnderLock(const std::function<void(QSettings&)>& change, QString& error)
{
    QSettings settings(SettingsOrganization, SettingsApplication);
    const QString path = settings.fileName();
    QDir().mkpath(QFileInfo(path).absolutePath());
    // Not QSettings' own "<file>.lock": QSettings takes that one while it writes.
    QLockFile lock(path + QStringLiteral(".serial-lock"));
    if (!lock.tryLock(LockTimeoutMs)) {
        error = QStringLiteral("can't lock the serial number counter (") + lock.fileName() + QStringLiteral("): ") +
                (lock.error() == QLockFile::LockFailedError ? QStringLiteral("another program holds it")
                                                            : QStringLiteral("the lock file cannot be written"));
        return false;
    }
    settings.sync();   // what another program stored meanwhile
    change(settings);
    settings.sync();
    if (settings.status() != QSettings::NoError) {
        error = QStringLiteral("can't store the next serial number in ") + path;
        return false;
    }
    QThread::msleep(TimeStampStepMs);
    return true;
}

}   // namespace

QString SerialNumbersUsedUpText()
{
    return QStringLiteral("every serial number up to 2147483647 has been given");
}

bool LoadStoredSerialNumber(int32_t& number)
{
    const std::optional<int64_t> stored = LoadStoredNextSerial();
    if (!stored || *stored > std::numeric_limits<int32_t>::max())
        return false;
    number = int32_t(*stored);
    return true;
}

std::optional<int64_t> LoadStoredNextSerial()
{
    return NextSerialIn(QSettings(SettingsOrganization, SettingsApplication));
}

TSerialTake TakeStoredSerial(int64_t wanted)
{
    TSerialTake taken;
    int64_t number = 0;
    const bool changed = ChangeUnderLock(
        [&](QSettings& settings) {
            number = std::max(wanted, NextSerialIn(settings).value_or(0));
            if (number >= 1 && number < SerialNumbersUsedUp)
                settings.setValue(SerialNumberValue, qlonglong(number + 1));
        },
        taken.Error);
    if (!changed)
        return taken;
    if (number >= SerialNumbersUsedUp)
        taken.Error = SerialNumbersUsedUpText();
    else if (number < 1)
        taken.Error = QStringLiteral("serial number ") + QString::number(number) + QStringLiteral(" is not valid");
    else
        taken.Number = int32_t(number);
    return taken;
}

void StoreNextSerialAtLeast(int32_t next)
{
    QString error;
    ChangeUnderLock(
        [next](QSettings& settings) {
            if (next > NextSerialIn(settings).value_or(0))
                settings.setValue(SerialNumberValue, next);
        },
        error);
}
