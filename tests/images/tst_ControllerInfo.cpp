// The Information group's texts for a controller record, and the small name functions.
#include "ControllerInfo.h"

#include "TestPrinters.h"

#include <gtest/gtest.h>

#include <functional>
#include <utility>
#include <vector>

namespace {

auto CaseName = [](const auto& info) { return std::string(info.param.name); };

uint32_t Packed(int year, int month, int day, int hour, int minute, int twoSeconds)
{
    return uint32_t(((year - 1980) << 9 | month << 5 | day) << 16 | (hour << 11 | minute << 5 | twoSeconds));
}

const QString TargetIP = QStringLiteral("127.0.0.2");

// An identified ARM controller with a kernel and a sealed program with two files.
TControllerInfo Controller()
{
    TControllerInfo info;
    info.Identified = true;
    info.Identification.LoaderMajor = 3;
    info.Identification.LoaderMinor = 14;
    info.Identification.Serial = 1000;
    info.Status = {1, 2};
    info.KernelHeaderValid = true;
    info.KernelHeader = DefaultKernelHeader();
    info.KernelHeader.VersionMajor = 3;
    info.KernelHeader.VersionMinor = 1;
    info.KernelHeader.ReleaseXA = 7;
    info.KernelHeader.ReleaseARM = 9;
    info.KernelHeader.TransferDate = Packed(2024, 3, 15, 13, 45, 15);
    info.ProgramHeader.Marker = 0;
    info.ProgramHeader.Kind = ProgramKindARM;
    info.ProgramHeader.FileTableAddress = 0x30000;
    info.ProgramHeader.FileCount = 2;
    info.ProgramHeader.ModbusAddress = 5;
    return info;
}

using Field = QString TInfoPanelTexts::*;

struct PanelCase {
    const char* name;
    std::function<void(TControllerInfo&)> change;
    std::vector<std::pair<Field, const char*>> texts;
};

class InfoPanel : public testing::TestWithParam<PanelCase> {};

TEST_P(InfoPanel, Texts)
{
    TControllerInfo info = Controller();
    GetParam().change(info);
    const TInfoPanelTexts texts = ControllerInfoTexts(info, TargetIP);
    for (const auto& [field, expected] : GetParam().texts)
        EXPECT_EQ(texts.*field, QString::fromLatin1(expected));
}

using T = TInfoPanelTexts;
const std::vector<std::pair<Field, const char*>> KernelItemsHidden = {{&T::KernelVersion, "-"},
                                                                      {&T::NADAlias, "-"},
                                                                      {&T::HardwareModel, "-"},
                                                                      {&T::IEXBaudrate, "-"},
                                                                      {&T::KernelTransferDate, "-"}};
const std::vector<std::pair<Field, const char*>> ProgramItemsHidden = {{&T::PLCProgram, "-"},
                                                                       {&T::FileSystem, "-"},
                                                                       {&T::PLCProgramTransferDate, "-"},
                                                                       {&T::ModbusAddress, "-"}};

template <typename... Lists>
std::vector<std::pair<Field, const char*>> Join(const Lists&... lists)
{
    std::vector<std::pair<Field, const char*>> all;
    (all.insert(all.end(), lists.begin(), lists.end()), ...);
    return all;
}

INSTANTIATE_TEST_SUITE_P(
    Images, InfoPanel,
    testing::Values(
        PanelCase{"ARM", [](TControllerInfo&) {},
                  {{&T::Platform, "Orvel/ARM"}, {&T::PLCStatus, "run"}, {&T::IPAddress, "127.0.0.2 (dhcp)"},
                   {&T::LoaderVersion, "3.14"}, {&T::Serial, "1000"}, {&T::KernelVersion, "3.1.9"},
                   {&T::NADAlias, "none"}, {&T::HardwareModel, "Orvel-J"}, {&T::IEXBaudrate, "100kbps"},
                   {&T::KernelTransferDate, "2024-03-15 13:45:30"}, {&T::PLCProgram, "ok"},
                   {&T::FileSystem, "2 file(s)"}, {&T::PLCProgramTransferDate, "none"}, {&T::ModbusAddress, "5"}}},
        PanelCase{"XA", [](TControllerInfo& i) { i.Identification.LoaderMajor = 2; },
                  {{&T::Platform, "Orvel/XA"}, {&T::LoaderVersion, "2.14"}, {&T::KernelVersion, "3.1.7"}}},
        PanelCase{"LoaderMajor4", [](TControllerInfo& i) { i.Identification.LoaderMajor = 4; },
                  {{&T::Platform, "-"}, {&T::LoaderVersion, "4.14"}, {&T::KernelVersion, "3.1.9"}}},
        PanelCase{"OldLoader", [](TControllerInfo& i) { i.Identification.LoaderMajor = 1; },
                  Join(KernelItemsHidden,
                       std::vector<std::pair<Field, const char*>>{{&T::Platform, "-"},
                                                                  {&T::LoaderVersion, "-"},
                                                                  {&T::Serial, "-"},
                                                                  {&T::IPAddress, "127.0.0.2 (dhcp)"},
                                                                  {&T::PLCProgram, "ok"}})},
        PanelCase{"NoAnswer",
                  [](TControllerInfo& i) {
                      i.Identified = false;
                      i.KernelHeaderValid = false;
                      i.Status = {};
                  },
                  Join(KernelItemsHidden,
                       std::vector<std::pair<Field, const char*>>{{&T::Platform, "-"},
                                                                  {&T::PLCStatus, "loader"},
                                                                  {&T::IPAddress, "-"},
                                                                  {&T::LoaderVersion, "-"},
                                                                  {&T::Serial, "-"},
                                                                  {&T::PLCProgram, "ok"}})},
        PanelCase{"NoKernelHeader", [](TControllerInfo& i) { i.KernelHeaderValid = false; },
                  Join(KernelItemsHidden, std::vector<std::pair<Field, const char*>>{{&T::IPAddress, "127.0.0.2"}})},
        PanelCase{"StaticIP", [](TControllerInfo& i) { i.KernelHeader.IPAddress = 0xC0A8010A; },
                  {{&T::IPAddress, "127.0.0.2 (static)"}}},
        PanelCase{"SerialZero", [](TControllerInfo& i) { i.Identification.Serial = 0; }, {{&T::Serial, "0"}}},
        PanelCase{"SerialTopBitSigned", [](TControllerInfo& i) { i.Identification.Serial = 0x80000000; },
                  {{&T::Serial, "-2147483648"}}},
        PanelCase{"NoSerial", [](TControllerInfo& i) { i.Identification.Serial = 0xFFFFFFFF; },
                  {{&T::Serial, "none"}}},
        PanelCase{"AliasTopBitUnsigned", [](TControllerInfo& i) { i.KernelHeader.NadAlias = 0x80000000; },
                  {{&T::NADAlias, "2147483648"}}},
        PanelCase{"KernelDateBroken", [](TControllerInfo& i) { i.KernelHeader.TransferDate = Packed(2024, 13, 1, 0, 0, 0); },
                  {{&T::KernelTransferDate, "error"}}},
        PanelCase{"ModeLoader", [](TControllerInfo& i) { i.Status = {0, 2}; }, {{&T::PLCStatus, "loader"}}},
        PanelCase{"PlcState8", [](TControllerInfo& i) { i.Status = {1, 8}; }, {{&T::PLCStatus, ""}}},
        PanelCase{"Mode2", [](TControllerInfo& i) { i.Status = {2, 2}; }, {{&T::PLCStatus, "-"}}},
        PanelCase{"NoFileTable",
                  [](TControllerInfo& i) {
                      i.ProgramHeader.FileTableAddress = 0;
                      i.ProgramHeader.FileCount = 5;
                  },
                  {{&T::FileSystem, "none"}}},
        PanelCase{"EmptyFileTable", [](TControllerInfo& i) { i.ProgramHeader.FileCount = 0; },
                  {{&T::FileSystem, "0 file(s)"}}},
        PanelCase{"ProgramErased", [](TControllerInfo& i) { i.ProgramHeader.Marker = i.ProgramHeader.Kind = 0xFFFF; },
                  ProgramItemsHidden},
        PanelCase{"ProgramHeaderZero", [](TControllerInfo& i) { i.ProgramHeader = {}; }, ProgramItemsHidden}),
    CaseName);

TEST(ImagesPlcStatusText, RefreshShowsTheStateUnlessInTheLoader)
{
    EXPECT_EQ(PlcStatusText({0, 2}), QStringLiteral("loader"));
    EXPECT_EQ(PlcStatusText({1, 0}), QStringLiteral("stop"));
    EXPECT_EQ(PlcStatusText({2, 2}), QStringLiteral("run"));   // "-" in the full panel
    EXPECT_EQ(PlcStatusText({1, 8}), QString());
    EXPECT_EQ(PlcStatusText({1, 200}), QString());
}

TEST(ImagesFileDateText, PackedDates)
{
    const std::pair<uint32_t, const char*> cases[] = {
        {0, "none"},
        {0xFFFFFFFF, "none"},
        {Packed(2024, 3, 15, 13, 45, 15), "2024-03-15 13:45:30"},
        {Packed(1980, 1, 1, 0, 0, 0), "1980-01-01 00:00:00"},
        {Packed(2024, 2, 29, 23, 59, 29), "2024-02-29 23:59:58"},
        {Packed(2023, 2, 29, 12, 0, 0), "error"},
        {Packed(2024, 13, 1, 12, 0, 0), "error"},
        {Packed(2024, 0, 1, 12, 0, 0), "error"},
        {Packed(2024, 1, 0, 12, 0, 0), "error"},
        {Packed(2024, 1, 1, 24, 0, 0), "error"},
        {Packed(2024, 1, 1, 12, 60, 0), "error"},
        {Packed(2024, 1, 1, 12, 0, 30), "error"},
    };
    for (const auto& [packed, text] : cases)
        EXPECT_EQ(FileDateText(packed), QString::fromLatin1(text)) << std::hex << packed;
}

TEST(ImagesNames, HardwareModels)
{
    const std::pair<uint16_t, const char*> cases[] = {{0, "unknown"},  {1, "Orvel-A"},  {10, "Orvel-J"},
                                                      {12, "Orvel-L"}, {13, "unknown"}, {0xFFFF, "unknown"}};
    for (const auto& [code, name] : cases)
        EXPECT_EQ(HardwareModelName(code), QString::fromLatin1(name)) << code;
}

TEST(ImagesNames, IEXBaudRates)
{
    const std::pair<uint16_t, const char*> cases[] = {
        {0, "none"}, {1, "20kbps"}, {5, "500kbps"}, {6, "invalid (6)"}, {0xFFFF, "invalid (65535)"}};
    for (const auto& [code, text] : cases)
        EXPECT_EQ(IEXBaudRateText(code), QString::fromLatin1(text)) << code;
}

}   // namespace
