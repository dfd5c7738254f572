#include "ConfigHeader.h"

#include "IntegerText.h"
#include "SettingNames.h"
#include "uEthernetUtils.h"

namespace {

uint16_t ItemCode(TNameTable table, int itemIndex, uint16_t none)
{
    return itemIndex >= 0 && size_t(itemIndex) < table.size() ? table[size_t(itemIndex)].Code : none;
}

}   // namespace

uint16_t HardwareModelCode(int itemIndex)
{
    return ItemCode(HardwareModels, itemIndex, 0xFFFF);
}

uint16_t IEXBaudRateCode(int itemIndex)
{
    return ItemCode(IEXBaudRates, itemIndex, 3);
}

TKernelHeader MakeConfigHeader(const TKernelHeader& base, const TKernelHeader& controller, bool controllerValid,
                               const TUnitSettings& settings)
{
    TKernelHeader header = base;
    if (controllerValid)
        CopyUnitSettings(controller, header);   // a new kernel keeps the unit's settings

    if (settings.NadAlias) {
        header.NadAlias = settings.NadAlias->isEmpty()
                              ? 0
                              : uint32_t(IntegerTextOrDefault(*settings.NadAlias, int32_t(controller.NadAlias)));
    }
    if (settings.HardwareModel && *settings.HardwareModel >= 0)
        header.HardwareModel = HardwareModelCode(*settings.HardwareModel);
    if (settings.IEXBaudRate && *settings.IEXBaudRate >= 0)
        header.IEXBaudRate = IEXBaudRateCode(*settings.IEXBaudRate);

    // No network setting keeps the unit's own configuration, carried over above like the
    // other settings: a unit with a static address must stay reachable at it. A unit with no
    // header to keep it from gets DHCP.
    if (settings.Ip && !settings.Ip->Dhcp) {
        header.IPAddress = StrToIPDef(settings.Ip->Address, controller.IPAddress);
        header.SubnetMask = StrToIPDef(settings.Ip->Mask, controller.SubnetMask);
        header.Gateway = StrToIPDef(settings.Ip->Gateway, controller.Gateway);
        header.DNSServer = StrToIPDef(settings.Ip->Dns, controller.DNSServer);
    } else if (settings.Ip || !controllerValid) {
        header.IPAddress = header.SubnetMask = header.Gateway = header.DNSServer = 0;
    }
    return header;
}

bool SameConfiguration(const TKernelHeader& a, const TKernelHeader& b)
{
    return a.Magic == b.Magic && a.HardwareModel == b.HardwareModel && a.IEXBaudRate == b.IEXBaudRate &&
           a.NadAlias == b.NadAlias && a.IPAddress == b.IPAddress && a.SubnetMask == b.SubnetMask &&
           a.Gateway == b.Gateway && a.DNSServer == b.DNSServer;
}
