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

void StaticAddress(TUnitSettings& in)
{
    in.Ip = TIpSetting{false, QStringLiteral("10.0.0.5"), QStringLiteral("255.0.0.0"), QString(), QString()};
}

void Alias(TUnitSettings& in, const char* text)
{
    in.NadAlias = QLatin1String(text);
}

struct TOneUnitCase {
    const char* Name;
    std::function<void(TUnitSettings&)> Set;
    const char* Window;        // the refusal in the window's words; "": none
    const char* CommandLine;   // in orvel-loader's
};

class OneUnitSettings : public ::testing::TestWithParam<TOneUnitCase> {};

TEST_P(OneUnitSettings, AreRefusedForSeveralUnitsInEachFrontEndsWords)
{
    TUnitSettings settings;
    GetParam().Set(settings);
    EXPECT_EQ(OneUnitSettingRefusal(settings, WindowWords), QLatin1String(GetParam().Window));
    EXPECT_EQ(OneUnitSettingRefusal(settings, CommandLineWords), QLatin1String(GetParam().CommandLine));
}

INSTANTIATE_TEST_SUITE_P(
    JobChecks, OneUnitSettings,
    ::testing::Values(TOneUnitCase{"none", [](TUnitSettings&) {}, "", ""},
                      TOneUnitCase{"dhcp", [](TUnitSettings& in) { in.Ip = TIpSetting{}; }, "", ""},
                      TOneUnitCase{"static_address", StaticAddress, WindowAddress, CommandLineAddress},
                      TOneUnitCase{"alias", [](TUnitSettings& in) { Alias(in, "7"); }, WindowAlias, CommandLineAlias},
                      TOneUnitCase{"alias_zero_is_none", [](TUnitSettings& in) { Alias(in, "0"); }, "", ""},
                      TOneUnitCase{"address_before_alias",
                                   [](TUnitSettings& in) {
                                       StaticAddress(in);
                                       Alias(in, "7");
                                   },
                                   WindowAddress, CommandLineAddress}),
    [](const auto& info) { return std::string(info.param.Name); });

struct TNothingCase {
    const char* Name;
    std::function<void(TJob&)> Set;
    bool Refused;
};

class NothingToSend : public ::testing::TestWithParam<TNothingCase> {};

TEST_P(NothingToSend, IsRefusedOnlyWhenTheSendWouldDoNothing)
{
    TJob job;
    GetParam().Set(job);
    const QString how = QStringLiteral("tick something");
    EXPECT_EQ(NothingToSendRefusal(job, how),
              GetParam().Refused ? QStringLiteral("nothing to send: tick something") : QString());
}

INSTANTIATE_TEST_SUITE_P(
    JobChecks, NothingToSend,
    ::testing::Values(TNothingCase{"nothing", [](TJob&) {}, true},
                      // A number the job does not write is nothing to do.
                      TNothingCase{"serial_not_written",
                                   [](TJob& in) {
                                       in.Serial.Number = 1000;
                                       in.Serial.Autoincrement = true;
                                   },
                                   true},
                      TNothingCase{"kernel", [](TJob& in) { in.Kernel = TJobFile{}; }, false},
                      TNothingCase{"program", [](TJob& in) { in.Program = TJobFile{}; }, false},
                      TNothingCase{"serial", [](TJob& in) { in.Serial.Write = true; }, false},
                      TNothingCase{"alias", [](TJob& in) { in.Settings.NadAlias = QString(); }, false},
                      TNothingCase{"model", [](TJob& in) { in.Settings.HardwareModel = 0; }, false},
                      TNothingCase{"baud_rate", [](TJob& in) { in.Settings.IEXBaudRate = 0; }, false},
                      TNothingCase{"address", [](TJob& in) { in.Settings.Ip = TIpSetting{}; }, false},
                      TNothingCase{"start_plc_alone", [](TJob& in) { in.StartPlc = true; }, false},
                      TNothingCase{"set_rtc_alone", [](TJob& in) { in.SetClock = true; }, false}),
    [](const auto& info) { return std::string(info.param.Name); });

}   // namespace
