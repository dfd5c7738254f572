// The checks both front ends make of a send job: one unit's settings refused for several
// units, and a job with nothing to do refused, in the words each front end shows.
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

struct TNothingCase {
    const char* Name;
    std::function<void(TOperationInputs&)> Set;
    bool Refused;
};

class NothingToSend : public ::testing::TestWithParam<TNothingCase> {};

TEST_P(NothingToSend, IsRefusedOnlyWhenTheSendWouldDoNothing)
{
    TOperationInputs inputs;
    GetParam().Set(inputs);
    const QString how = QStringLiteral("tick something");
    EXPECT_EQ(NothingToSendRefusal(inputs, how),
              GetParam().Refused ? QStringLiteral("nothing to send: tick something") : QString());
}

INSTANTIATE_TEST_SUITE_P(
    JobChecks, NothingToSend,
    ::testing::Values(TNothingCase{"nothing", [](TOperationInputs&) {}, true},
                      // Paths and values without their ticks are nothing to do.
                      TNothingCase{"values_unticked",
                                   [](TOperationInputs& in) {
                                       in.KernelPath = QStringLiteral("kernel.bin");
                                       in.SerialNumber = 1000;
                                       in.NadAliasText = QStringLiteral("7");
                                       in.Autoincrement = true;
                                   },
                                   true},
                      TNothingCase{"kernel", [](TOperationInputs& in) { in.KernelChecked = true; }, false},
                      TNothingCase{"program", [](TOperationInputs& in) { in.ProgramChecked = true; }, false},
                      TNothingCase{"serial", [](TOperationInputs& in) { in.SerialNumberChecked = true; }, false},
                      TNothingCase{"alias", [](TOperationInputs& in) { in.SetNadAlias = true; }, false},
                      TNothingCase{"model", [](TOperationInputs& in) { in.SetHardwareModel = true; }, false},
                      TNothingCase{"baud_rate", [](TOperationInputs& in) { in.SetIEXBaudRate = true; }, false},
                      TNothingCase{"address", [](TOperationInputs& in) { in.SetIPAddress = true; }, false},
                      TNothingCase{"start_plc_alone", [](TOperationInputs& in) { in.StartPlc = true; }, false},
                      TNothingCase{"set_rtc_alone", [](TOperationInputs& in) { in.SetRtc = true; }, false}),
    [](const auto& info) { return std::string(info.param.Name); });

}   // namespace
