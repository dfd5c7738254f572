// The checks both front ends make of a send job: one unit's settings refused for several
// units, in the words each front end shows.
#include "JobChecks.h"

#include "TestPrinters.h"

#include <gtest/gtest.h>

#include <functional>

namespace {

using ::PrintTo;   // table rows print as their names

const TOneUnitSettingWords WindowWords{QStringLiteral("a static IP address"),
                                       QStringLiteral("choose DHCP"),
                                       QStringLiteral("a NAD alias"),
                                       QStringLiteral("untick it (or make it 0)"),
                                       QString(),
                                       QStringLiteral(" from the main window")};
const TOneUnitSettingWords CommandLineWords{QStringLiteral("--ip"),
                                            QStringLiteral("use --dhcp"),
                                            QStringLiteral("--nad-alias"),
                                            QStringLiteral("leave it out (or 0)"),
                                            QStringLiteral(" with station, --fresh, --all or several units"),
                                            QString()};

const char* const WindowAddress = "a static IP address would give every unit the same address: choose DHCP, or send "
                                  "to one unit at a time from the main window";
const char* const WindowAlias = "a NAD alias would give every unit the same alias: untick it (or make it 0), or send "
                                "to one unit at a time from the main window";
const char* const CommandLineAddress = "--ip would give every unit the same address with station, --fresh, --all or "
                                       "several units: use --dhcp, or send to one unit at a time";
const char* const CommandLineAlias = "--nad-alias would give every unit the same alias with station, --fresh, --all or "
                                     "several units: leave it out (or 0), or send to one unit at a time";

void StaticAddress(TOperationInputs& in)
{
    in.SetIPAddress = true;
    in.DHCP = false;
}

void Alias(TOperationInputs& in, const char* text)
{
    in.SetNadAlias = true;
    in.NadAliasText = QLatin1String(text);
}

struct TOneUnitCase {
    const char* Name;
    std::function<void(TOperationInputs&)> Set;
    const char* Window;        // the refusal in the window's words; "": none
    const char* CommandLine;   // in orvel-loader's
};

class OneUnitSettings : public ::testing::TestWithParam<TOneUnitCase> {};

TEST_P(OneUnitSettings, AreRefusedForSeveralUnitsInEachFrontEndsWords)
{
    TOperationInputs inputs;
    inputs.KernelChecked = true;
    GetParam().Set(inputs);
    EXPECT_EQ(OneUnitSettingRefusal(inputs, WindowWords), QLatin1String(GetParam().Window));
    EXPECT_EQ(OneUnitSettingRefusal(inputs, CommandLineWords), QLatin1String(GetParam().CommandLine));
}

INSTANTIATE_TEST_SUITE_P(
    JobChecks, OneUnitSettings,
    ::testing::Values(TOneUnitCase{"none", [](TOperationInputs&) {}, "", ""},
                      TOneUnitCase{"dhcp", [](TOperationInputs& in) { in.SetIPAddress = true; }, "", ""},
                      TOneUnitCase{"static_address", StaticAddress, WindowAddress, CommandLineAddress},
                      TOneUnitCase{"static_address_unticked",
                                   [](TOperationInputs& in) {
                                       StaticAddress(in);
                                       in.SetIPAddress = false;
                                   },
                                   "", ""},
                      TOneUnitCase{"alias", [](TOperationInputs& in) { Alias(in, "7"); }, WindowAlias,
                                   CommandLineAlias},
                      TOneUnitCase{"alias_zero_is_none", [](TOperationInputs& in) { Alias(in, "0"); }, "", ""},
                      TOneUnitCase{"alias_unticked",
                                   [](TOperationInputs& in) {
                                       Alias(in, "7");
                                       in.SetNadAlias = false;
                                   },
                                   "", ""},
                      TOneUnitCase{"address_before_alias",
                                   [](TOperationInputs& in) {
                                       StaticAddress(in);
                                       Alias(in, "7");
                                   },
                                   WindowAddress, CommandLineAddress}),
    [](const auto& info) { return std::string(info.param.Name); });

}   // namespace
