#include "JobChecks.h"

#include "IntegerText.h"

namespace {

bool SetsStaticAddress(const TUnitSettings& settings)
{
    return settings.Ip && !settings.Ip->Dhcp;
}

bool SetsNadAlias(const TUnitSettings& settings)
{
    return settings.NadAlias && IntegerTextOrDefault(*settings.NadAlias, -1) > 0;
}

// The settings that are one unit's, in the order they are refused: whether a job sets it,
// and the refusal's words for it.
struct TOneUnitSetting {
    bool (*Sets)(const TUnitSettings&);
    QString TOneUnitSettingWords::*Setting;
    const char* Same;   // what every unit would share
    QString TOneUnitSettingWords::*Instead;
};
const TOneUnitSetting OneUnitSettings[] = {
    {SetsStaticAddress, &TOneUnitSettingWords::StaticAddress, "address", &TOneUnitSettingWords::UseDhcp},
    {SetsNadAlias, &TOneUnitSettingWords::NadAlias, "alias", &TOneUnitSettingWords::NoNadAlias},
};

}   // namespace

QString OneUnitSettingRefusal(const TUnitSettings& settings, const TOneUnitSettingWords& words)
{
    for (const TOneUnitSetting& setting : OneUnitSettings) {
        if (setting.Sets(settings))
            return words.*setting.Setting + QStringLiteral(" would give every unit the same ") +
                   QLatin1String(setting.Same) + words.Several + QStringLiteral(": ") + words.*setting.Instead +
                   QStringLiteral(", or send to one unit at a time") + words.OneAtATime;
    }
    return {};
}

QString NothingToSendRefusal(const TJob& job, const QString& howToGiveIt)
{
    // The send starts the PLC and sets the clock even when it writes nothing else.
    return job.DoesAnything() ? QString() : QStringLiteral("nothing to send: ") + howToGiveIt;
}
