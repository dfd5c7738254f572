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
                               const TOperationInputs& inputs)
{
    TKernelHeader header = base;
    if (controllerValid)
        CopyUnitSettings(controller, header);   // a new kernel keeps the unit's settings

    if (inputs.SetNadAlias) {
        header.NadAlias = inputs.NadAliasText.isEmpty()
                              ? 0
                              : uint32_t(IntegerTextOrDefault(inputs.NadAliasText, int32_t(controller.NadAlias)));
    }
    if (inputs.SetHardwareModel && inputs.HardwareModelIndex >= 0)
        header.HardwareModel = HardwareModelCode(inputs.HardwareModelIndex);
    if (inputs.SetIEXBaudRate && inputs.IEXBaudRateIndex >= 0)
        header.IEXBaudRate = IEXBaudRateCode(inputs.IEXBaudRateIndex);

    // An unticked "IP address:" keeps the unit's own configuration, carried over above like
    // the other settings: a unit with a static address must stay reachable at it. A unit
    // with no header to keep it from gets DHCP.
    if (inputs.SetIPAddress && !inputs.DHCP) {
        header.IPAddress = StrToIPDef(inputs.IPAddress, controller.IPAddress);
        header.SubnetMask = StrToIPDef(inputs.SubnetMask, controller.SubnetMask);
        header.Gateway = StrToIPDef(inputs.Gateway, controller.Gateway);
        header.DNSServer = StrToIPDef(inputs.DNSServer, controller.DNSServer);
    } else if (inputs.SetIPAddress || !controllerValid) {
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
