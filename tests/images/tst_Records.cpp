// The records as the controllers hold them, against bytes written out by hand: known bytes
// give known fields and the same bytes back, also from inside raw memory, and memory that
// ends early reads as zeros. The Reserved bytes carry patterns, so a record written back
// that lost or moved them shows.
#include "ControllerInfo.h"
#include "hCodeMemory.h"

#include "TestPrinters.h"

#include <gtest/gtest.h>

#include <array>
#include <numeric>

namespace {

// Blanks between the fields only guide the eye; fromHex skips them.
QByteArray Hex(const char* text)
{
    return QByteArray::fromHex(text);
}

// first, first + 1, ... as the bytes of a Reserved field.
template <size_t N>
std::array<uint8_t, N> Ramp(uint8_t first)
{
    std::array<uint8_t, N> bytes{};
    std::iota(bytes.begin(), bytes.end(), first);
    return bytes;
}

template <size_t N>
QByteArray RampBytes(uint8_t first)
{
    const auto bytes = Ramp<N>(first);
    return QByteArray(reinterpret_cast<const char*>(bytes.data()), qsizetype(N));
}

template <typename Record>
void ExpectGolden(const QByteArray& bytes, const Record& fields, int size, Record (*fromBytes)(const QByteArray&, int),
                  QByteArray (*toBytes)(const Record&))
{
    ASSERT_EQ(bytes.size(), size);
    EXPECT_EQ(fromBytes(bytes, 0), fields);
    EXPECT_EQ(toBytes(fields), bytes);
    const QByteArray memory = QByteArray(5, '\x77') + bytes + QByteArray(3, '\x77');
    EXPECT_EQ(fromBytes(memory, 5), fields);
    EXPECT_EQ(toBytes(fromBytes(bytes.left(size - 1), 0)), bytes.left(size - 1) + '\0');
}

TEST(Records, KernelHeader)
{
    const QByteArray bytes = Hex("0302 0504 2F6A EFBE 45230100 AF6D6F58 0B00 A2A1 0700 0500 0900"
                                 "78563412 1401A8C0 00FFFFFF 0101A8C0 08080808") +
                             RampBytes<42>(0x80);
    const TKernelHeader fields{.VersionMajor = 0x0203,
                               .VersionMinor = 0x0405,
                               .Magic = KernelMagicB,
                               .Checksum = 0xBEEF,
                               .ImageSize = 0x12345,
                               .TransferDate = 0x586F6DAF,
                               .HardwareModel = 11,
                               .Reserved18 = 0xA1A2,
                               .ReleaseXA = 7,
                               .IEXBaudRate = 5,
                               .ReleaseARM = 9,
                               .NadAlias = 0x12345678,
                               .IPAddress = 0xC0A80114,   // 192.168.1.20
                               .SubnetMask = 0xFFFFFF00,
                               .Gateway = 0xC0A80101,
                               .DNSServer = 0x08080808,
                               .Reserved46 = Ramp<42>(0x80)};
    ExpectGolden(bytes, fields, KernelHeaderSize, KernelHeaderFromBytes, KernelHeaderToBytes);
}

TEST(Records, ProgramHeader)
{
    const QByteArray bytes = Hex("0201 B87A D4C3") + RampBytes<6>(0x10) + Hex("AF6D6F58 45230100 20212223 FEFFFFFF") +
                             RampBytes<36>(0x30) + Hex("00030200 0302") + RampBytes<10>(0x60) + Hex("F701") +
                             RampBytes<32>(0x80);
    const TProgramHeader fields{.Marker = 0x0102,
                                .Kind = ProgramKindARM,
                                .Checksum = 0xC3D4,
                                .Reserved6 = Ramp<6>(0x10),
                                .TransferDate = 0x586F6DAF,
                                .ProgramLength = 0x12345,
                                .Reserved20 = 0x23222120,
                                .ExtraLength = -2,
                                .Reserved28 = Ramp<36>(0x30),
                                .FileTableAddress = 0x20300,
                                .FileCount = 0x0203,
                                .Reserved70 = Ramp<10>(0x60),
                                .ModbusAddress = 0x01F7,
                                .Reserved82 = Ramp<32>(0x80)};
    ExpectGolden(bytes, fields, ProgramHeaderSize, ProgramHeaderFromBytes, ProgramHeaderToBytes);
}

TEST(Records, ProgramFileEntry)
{
    const QByteArray bytes = RampBytes<34>(0x20) + Hex("00100200 00080000") + RampBytes<4>(0xE0);
    const TProgramFileEntry fields{.Reserved0 = Ramp<34>(0x20),
                                   .FileAddress = 0x21000,
                                   .FileLength = 0x800,
                                   .Reserved42 = Ramp<4>(0xE0)};
    ExpectGolden(bytes, fields, ProgramFileEntrySize, ProgramFileEntryFromBytes, ProgramFileEntryToBytes);
}

TEST(Records, LoaderRecord)
{
    const QByteArray bytes = Hex("0300 010E") + RampBytes<8>(0x41) + Hex("E8030000") + RampBytes<8>(0x61);
    const TLoaderRecord fields{.LoaderMajor = 3,
                               .LoaderMinor = 0x0E01,
                               .Reserved4 = Ramp<8>(0x41),
                               .Serial = 1000,
                               .Reserved16 = Ramp<8>(0x61)};
    ExpectGolden(bytes, fields, LoaderRecordSize, LoaderRecordFromBytes, LoaderRecordToBytes);
}

TEST(Records, PlcStatus)
{
    ExpectGolden(Hex("0102"), TPlcStatus{.Mode = 1, .PlcState = 2}, PlcStatusSize, PlcStatusFromBytes,
                 PlcStatusToBytes);
}

}   // namespace
