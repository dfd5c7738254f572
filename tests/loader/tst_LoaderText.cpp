// The loader's pure rules: typed integers, the production log line, the configuration
// header and the comparison of read-back memory.
#include "ConfigHeader.h"
#include "IntegerText.h"
#include "LoaderSession.h"
#include "ProductionLog.h"
#include "TestPrinters.h"

#include <QFileInfo>

#include <gtest/gtest.h>

#include <array>
#include <limits>

namespace {

using ::PrintTo;   // table rows print as their names

// ---- integer text ----

struct TIntegerCase {
    const char* Name;
    const char* Text;
    int32_t Expected;   // default is 99
};

class IntegerText : public ::testing::TestWithParam<TIntegerCase> {};

TEST_P(IntegerText, ReadsTheToolkitWay)
{
    EXPECT_EQ(IntegerTextOrDefault(QString::fromLatin1(GetParam().Text), 99), GetParam().Expected);
}

INSTANTIATE_TEST_SUITE_P(
    Loader, IntegerText,
    ::testing::Values(TIntegerCase{"decimal", "42", 42}, TIntegerCase{"leading_zeros", "00042", 42},
                      TIntegerCase{"leading_blanks", "  7", 7}, TIntegerCase{"plus", "+5", 5},
                      TIntegerCase{"minus", "-5", -5}, TIntegerCase{"dollar_hex", "$1F", 31},
                      TIntegerCase{"x_hex", "x1f", 31}, TIntegerCase{"zero_x_hex", "0X10", 16},
                      TIntegerCase{"negative_hex", "-$10", -16},
                      TIntegerCase{"largest", "2147483647", std::numeric_limits<int32_t>::max()},
                      TIntegerCase{"smallest", "-2147483648", std::numeric_limits<int32_t>::min()},
                      TIntegerCase{"one_too_large", "2147483648", 99}, TIntegerCase{"hex_too_large", "$80000000", 99},
                      TIntegerCase{"trailing_blank", "42 ", 99}, TIntegerCase{"empty", "", 99},
                      TIntegerCase{"blank", " ", 99}, TIntegerCase{"letters", "abc", 99},
                      TIntegerCase{"trailing_garbage", "12ab", 99}, TIntegerCase{"prefix_only", "0x", 99},
                      TIntegerCase{"sign_only", "-", 99}, TIntegerCase{"blank_after_sign", "- 5", 99}),
    [](const auto& info) { return std::string(info.param.Name); });

// ---- production log line ----

struct TLogCase {
    const char* Name;
    int32_t Nad;
    std::pair<TJob, QString> Inputs;   // and the unit's kernel version
    bool SerialOk, KernelOk, ProgramOk;
    const char* Expected;   // after the date and time
};

std::pair<TJob, QString> Ticked(bool serial, int32_t number, bool kernel, const char* unitKernel, bool program,
                                const char* path)
{
    TJob inputs;
    inputs.Serial.Write = serial;
    inputs.Serial.Number = number;
    if (kernel)
        inputs.Kernel = TJobFile{};
    if (program)
        inputs.Program = TJobFile{QString::fromLatin1(path), QString()};
    return {inputs, QString::fromLatin1(unitKernel)};
}

class ProductionLogLine : public ::testing::TestWithParam<TLogCase> {};

TEST_P(ProductionLogLine, HasTheExactLayout)
{
    const TLogCase& c = GetParam();
    TProductionLogEntry entry = PrepareLogEntry(c.Nad, c.Inputs.first, c.Inputs.second);
    if (c.SerialOk)
        entry.SerialResult = StepOk;
    if (c.KernelOk)
        entry.KernelResult = StepOk;
    if (c.ProgramOk)
        entry.ProgramResult = StepOk;
    const QDateTime moment(QDate(2026, 3, 2), QTime(9, 5, 7));
    EXPECT_EQ(::ProductionLogLine(entry, moment),
              QStringLiteral("2026-03-02 09:05:07") + QString::fromLatin1(c.Expected) + QStringLiteral("\r\n"));
}

INSTANTIATE_TEST_SUITE_P(
    Loader, ProductionLogLine,
    ::testing::Values(TLogCase{"fresh_unit_everything", -1, Ticked(true, 1234, true, "3.0.5", true, "/images/prog.bin"),
                               true, true, true,
                               " nad none      serial 000001234 ok  kernel v3.0.5 ok  plc ok  (prog.bin)"},
                      TLogCase{"settings_only", 1000, Ticked(false, 5, false, "3.0.5", false, "/x/prog.bin"), false,
                               true, false, " nad 000001000 serial --------- --- kernel ------ ok  plc --- (-)"},
                      TLogCase{"failed_steps_stay_err", 7, Ticked(true, 8, true, "3.0.5", true, "p.bin"), true, false,
                               false, " nad 000000007 serial 000000008 ok  kernel v3.0.5 err plc err (p.bin)"},
                      TLogCase{"ten_digit_nad", 1234567890, Ticked(false, 0, false, "", false, ""), false, false, false,
                               " nad 1234567890 serial --------- --- kernel ------ --- plc --- (-)"},
                      TLogCase{"negative_nad", -5, Ticked(false, 0, false, "", false, ""), false, false, false,
                               " nad -000000005 serial --------- --- kernel ------ --- plc --- (-)"},
                      TLogCase{"no_kernel_version_shown", 1, Ticked(false, 0, true, "-", false, ""), false, true, false,
                               " nad 000000001 serial --------- --- kernel v- ok  plc --- (-)"},
                      TLogCase{"program_path_is_a_folder", 1, Ticked(false, 0, false, "", true, "/images/"), false,
                               false, true, " nad 000000001 serial --------- --- kernel ------ --- plc ok  ()"},
                      // One unit, one line: control characters in a file name or a version
                      // the unit reports are written escaped, and so is the backslash.
                      TLogCase{"control_characters_escaped", 1,
                               Ticked(false, 0, true, "3.0\r5", true, "/images/a\nb\tc\\d\x7f.bin"), false, true, true,
                               " nad 000000001 serial --------- --- kernel v3.0\\x0d5 ok  plc ok  "
                               "(a\\x0ab\\x09c\\x5cd\\x7f.bin)"}),
    [](const auto& info) { return std::string(info.param.Name); });

// orvel-loader appends to the window's log, not to one named after itself: one log answers
// for every unit of the line.
TEST(ProductionLogPath, TheWindowsLogIsBesideThisProgramsUnderTheWindowsName)
{
    const QFileInfo window(WindowProductionLogPath());
    EXPECT_EQ(window.fileName(), QStringLiteral("OrvelBinLoader.log"));
    EXPECT_EQ(window.path(), QFileInfo(DefaultProductionLogPath()).path());
}

// ---- configuration header ----

TKernelHeader StaticController()
{
    TKernelHeader header = DefaultKernelHeader();
    header.VersionMajor = 3;
    header.HardwareModel = 11;
    header.IEXBaudRate = 5;
    header.NadAlias = 4711;
    header.IPAddress = 0xC0A80114;
    header.SubnetMask = 0xFFFFFF00;
    header.Gateway = 0xC0A80101;
    header.DNSServer = 0x08080808;
    return header;
}

// ---- the job's settings ----

// A send refuses settings it cannot write as given; a front end shows which one is wrong.
TEST(UnitSettings, AreValidOnlyWhenEverySettingGivenCanBeWritten)
{
    const TIpSetting fixed{false, QStringLiteral("10.0.0.5"), QStringLiteral("255.0.0.0"), QStringLiteral("10.0.0.1"),
                           QStringLiteral("0.0.0.0")};
    struct TCase {
        const char* Name;
        TUnitSettings Settings;
        bool Valid;
    };
    const auto with = [](auto set) {
        TUnitSettings settings;
        set(settings);
        return settings;
    };
    const TCase cases[] = {
        {"nothing", {}, true},
        {"alias", with([](TUnitSettings& s) { s.NadAlias = QStringLiteral("12"); }), true},
        {"empty_alias_is_none", with([](TUnitSettings& s) { s.NadAlias = QString(); }), true},
        {"negative_alias", with([](TUnitSettings& s) { s.NadAlias = QStringLiteral("-3"); }), false},
        {"alias_not_a_number", with([](TUnitSettings& s) { s.NadAlias = QStringLiteral("twelve"); }), false},
        {"model_named", with([](TUnitSettings& s) { s.HardwareModel = 0; }), true},
        {"model_naming_none", with([](TUnitSettings& s) { s.HardwareModel = -1; }), false},
        {"baud_rate_not_chosen", with([](TUnitSettings& s) { s.IEXBaudRate = -1; }), true},
        {"dhcp_ignores_addresses", with([](TUnitSettings& s) {
             s.Ip = TIpSetting{true, QStringLiteral("x"), {}, {}, {}};
         }),
         true},
        {"static", with([&fixed](TUnitSettings& s) { s.Ip = fixed; }), true},
        {"static_bad_mask", with([&fixed](TUnitSettings& s) {
             s.Ip = fixed;
             s.Ip->Mask = QStringLiteral("255.0.255.0");
         }),
         false},
        {"static_empty_gateway", with([&fixed](TUnitSettings& s) {
             s.Ip = fixed;
             s.Ip->Gateway.clear();
         }),
         false},
    };
    for (const TCase& c : cases)
        EXPECT_EQ(SettingsValid(c.Settings), c.Valid) << c.Name;
}

TEST(ConfigHeader, KeepsTheUnitsSettingsWhenNothingIsTicked)
{
    TKernelHeader file = DefaultKernelHeader();
    file.VersionMajor = 3;
    file.VersionMinor = 1;
    const TKernelHeader built = MakeConfigHeader(file, StaticController(), true, TUnitSettings{});
    EXPECT_EQ(+built.VersionMinor, 1);   // the base is the file's header
    EXPECT_EQ(+built.HardwareModel, 11);
    EXPECT_EQ(+built.IEXBaudRate, 5);
    EXPECT_EQ(+built.NadAlias, 4711u);
}

// The four IP fields over (box ticked or not) x (DHCP or static chosen) x (unit static, unit
// on DHCP, unit without a valid kernel header). An unticked box keeps what the unit has;
// a unit with nothing to keep gets DHCP, even from a kernel file that carries an address.
TEST(ConfigHeader, IpFieldsFollowTheTickedBoxOrKeepTheUnitsOwn)
{
    enum TUnit { UnitStatic, UnitDhcp, UnitWithoutKernel };
    using TIp = std::array<uint32_t, 4>;
    const TIp none{0, 0, 0, 0};
    const TIp typed{0x0A000005, 0xFF000000, 0x0A000001, 0x0A000002};
    const TIp unitOwn{0xC0A80114, 0xFFFFFF00, 0xC0A80101, 0x08080808};
    TKernelHeader fileWithAddress = DefaultKernelHeader();
    fileWithAddress.IPAddress = 0x01020304;
    fileWithAddress.SubnetMask = 0xFF000000;

    for (const bool ticked : {true, false}) {
        for (const bool dhcp : {true, false}) {
            for (const TUnit unit : {UnitStatic, UnitDhcp, UnitWithoutKernel}) {
                SCOPED_TRACE(testing::Message() << "ticked " << ticked << " dhcp " << dhcp << " unit " << unit);
                TKernelHeader controller = StaticController();
                if (unit == UnitDhcp)
                    controller.IPAddress = controller.SubnetMask = controller.Gateway = controller.DNSServer = 0;
                TUnitSettings inputs;
                if (ticked)
                    inputs.Ip = TIpSetting{dhcp, QStringLiteral("10.0.0.5"), QStringLiteral("255.0.0.0"),
                                           QStringLiteral("10.0.0.1"), QStringLiteral("10.0.0.2")};

                const TKernelHeader built = MakeConfigHeader(fileWithAddress, controller, unit != UnitWithoutKernel,
                                                             inputs);
                const TIp expected = ticked ? (dhcp ? none : typed) : unit == UnitStatic ? unitOwn : none;
                EXPECT_EQ((TIp{built.IPAddress, built.SubnetMask, built.Gateway, built.DNSServer}), expected);
            }
        }
    }
}

TEST(ConfigHeader, WithoutFileOrControllerHeaderIsTheDefaultChangedByTheTickedInputs)
{
    TUnitSettings inputs;
    inputs.IEXBaudRate = 3;   // "250kbps"
    const TKernelHeader built = MakeConfigHeader(DefaultKernelHeader(), StaticController(), false, inputs);
    EXPECT_EQ(+built.Magic, KernelMagicB);
    EXPECT_EQ(+built.VersionMajor, 0);
    EXPECT_EQ(+built.HardwareModel, 10);
    EXPECT_EQ(+built.IEXBaudRate, 4);
    EXPECT_EQ(+built.NadAlias, 0u);
}

TEST(ConfigHeader, TickedInputsWinAndUnreadableTextFallsBackToTheControllersValue)
{
    TUnitSettings inputs;
    inputs.HardwareModel = 1;   // "Orvel-K"
    inputs.NadAlias = QStringLiteral("abc");
    inputs.Ip = TIpSetting{false, QStringLiteral("10.0.0.5"), QStringLiteral("255.0.0.0"),
                           QStringLiteral("not an address"), QStringLiteral("0.0.0.0")};
    const TKernelHeader built = MakeConfigHeader(StaticController(), StaticController(), true, inputs);
    EXPECT_EQ(+built.HardwareModel, 11);
    EXPECT_EQ(+built.NadAlias, 4711u);
    EXPECT_EQ(+built.IPAddress, 0x0A000005u);
    EXPECT_EQ(+built.SubnetMask, 0xFF000000u);
    EXPECT_EQ(+built.Gateway, 0xC0A80101u);
    EXPECT_EQ(+built.DNSServer, 0u);

    inputs.NadAlias->clear();   // an empty alias means none
    EXPECT_EQ(+MakeConfigHeader(StaticController(), StaticController(), true, inputs).NadAlias, 0u);
}

// ---- comparing read-back memory ----

struct TCompareCase {
    const char* Name;
    QByteArray Read;
    qsizetype Start;
    bool Expected;
};

class CompareStreamsCase : public ::testing::TestWithParam<TCompareCase> {};

TEST_P(CompareStreamsCase, ComparesFromTheStartOffset)
{
    EXPECT_EQ(CompareStreams(QByteArrayLiteral("abcdef"), GetParam().Read, GetParam().Start), GetParam().Expected);
}

INSTANTIATE_TEST_SUITE_P(Loader, CompareStreamsCase,
                         ::testing::Values(TCompareCase{"equal", "abcdef", 0, true},
                                           TCompareCase{"differs_before_start", "xbcdef", 1, true},
                                           TCompareCase{"differs_after_start", "abcdex", 1, false},
                                           TCompareCase{"shorter", "abcde", 0, false},
                                           TCompareCase{"start_at_end", "xxxxxx", 6, true}),
                         [](const auto& info) { return std::string(info.param.Name); });

}   // namespace
