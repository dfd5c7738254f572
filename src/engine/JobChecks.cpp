#include "JobChecks.h"

#include "IntegerText.h"

namespace {

bool SetsStaticAddress(const TOperationInputs& inputs)
{
    return inputs.SetIPAddress && !inputs.DHCP;
}

bool SetsNadAlias(const TOperationInputs& inputs)
{
    return inputs.SetNadAlias && IntegerTextOrDefault(inputs.NadAliasText, -1) > 0;
}

// The settings that are one unit's, in the order they are refused: whether inputs set it,
// and the refusal's words for it.
struct TOneUnitSetting {
    bool (*Sets)(const TOperationInputs&);
    QString TOneUnitSettingWords::*Setting;
    const char* Same;   // what every unit would share
    QString TOneUnitSettingWords::*Instead;
};
const TOneUnitSetting OneUnitSettings[] = {
    {SetsStaticAddress, &TOneUnitSettingWords::StaticAddress, "address", &TOneUnitSettingWords::UseDhcp},
    {SetsNadAlias, &TOneUnitSettingWords::NadAlias, "alias", &TOneUnitSettingWords::NoNadAlias},
};

}   // namespace

QString OneUnitSettingRefusal(const TOperationInputs& inputs, const TOneUnitSettingWords& words)
{
    for (const TOneUnitSetting& setting : OneUnitSettings) {
        if (setting.Sets(inputs))
            return words.*setting.Setting + QStringLiteral(" would give every unit the same ") +
                   QLatin1String(setting.Same) + words.Several + QStringLiteral(": ") + words.*setting.Instead +
                   QStringLiteral(", or send to one unit at a time") + words.OneAtATime;
    }
    return {};
}

QString NothingToSendRefusal(const TOperationInputs& inputs, const QString& howToGiveIt)
{
    // The send starts the PLC and sets the clock even when it writes nothing else.
    const bool something = inputs.KernelChecked || inputs.ProgramChecked || inputs.SerialNumberChecked ||
                           inputs.SetNadAlias || inputs.SetHardwareModel || inputs.SetIEXBaudRate ||
                           inputs.SetIPAddress || inputs.StartPlc || inputs.SetRtc;
    return something ? QString() : QStringLiteral("nothing to send: ") + howToGiveIt;
}
