#include "Job.h"

#include "IntegerText.h"
#include "uEthernetUtils.h"

#include <algorithm>

bool NadAliasValid(const QString& text)
{
    // An alias is unsigned; the integer text is signed, so every negative value is refused.
    return text.isEmpty() || IntegerTextOrDefault(text, -1) >= 0;
}

std::array<bool, 4> IpFieldsValid(const TIpSetting& ip)
{
    if (ip.Dhcp)
        return {true, true, true, true};
    return {IsValidIPText(ip.Address), IsValidIPText(ip.Mask) && IsValidSubnetMask(StrToIP(ip.Mask)),
            IsValidIPText(ip.Gateway), IsValidIPText(ip.Dns)};
}

bool SettingsValid(const TUnitSettings& settings)
{
    const auto allValid = [](const std::array<bool, 4>& fields) {
        return std::all_of(fields.begin(), fields.end(), [](bool valid) { return valid; });
    };
    return (!settings.NadAlias || NadAliasValid(*settings.NadAlias)) &&
           (!settings.HardwareModel || *settings.HardwareModel >= 0) &&
           (!settings.Ip || allValid(IpFieldsValid(*settings.Ip)));
}

TJob LaidOver(const TJob& over, TJob base)
{
    const auto replace = [](const auto& given, auto& field) {
        if (given)
            field = given;
    };
    replace(over.Kernel, base.Kernel);
    replace(over.Program, base.Program);
    replace(over.Settings.NadAlias, base.Settings.NadAlias);
    replace(over.Settings.HardwareModel, base.Settings.HardwareModel);
    replace(over.Settings.IEXBaudRate, base.Settings.IEXBaudRate);
    replace(over.Settings.Ip, base.Settings.Ip);
    base.StartPlc = base.StartPlc || over.StartPlc;
    base.SetClock = base.SetClock || over.SetClock;
    base.Verify = base.Verify || over.Verify;
    return base;
}
