// Kernel and PLC program images: validity, checksums, stamping, sealing, packed dates and
// the stored-program length rule.
#include "hCodeMemory.h"

#include "TestPrinters.h"
#include "uABus.h"

#include <gtest/gtest.h>

#include <optional>
#include <vector>

namespace {

auto CaseName = [](const auto& info) { return std::string(info.param.name); };

// Bytes that differ from their neighbours, so that a misplaced range shows in a checksum.
QByteArray Pattern(int size)
{
    QByteArray bytes(size, '\0');
    for (int i = 0; i < size; ++i)
        bytes[i] = char(i * 31 + 7);
    return bytes;
}

uint16_t RangeSum(const QByteArray& image, int from, int to)
{
    return BufferChecksum(image.mid(from, to - from), 0);
}

// ---- packed date-time ----

TEST(ImagesDateTime, PacksLocalTimeInTwoSecondSteps)
{
    const QDateTime moment(QDate(2024, 3, 15), QTime(13, 45, 31));
    EXPECT_EQ(PackDateTime(moment), 0x586F6DAFu);
    QDateTime unpacked;
    ASSERT_TRUE(UnpackDateTime(0x586F6DAF, unpacked));
    EXPECT_EQ(unpacked, QDateTime(QDate(2024, 3, 15), QTime(13, 45, 30)));
}

TEST(ImagesDateTime, RangeIs1980To2107)
{
    EXPECT_EQ(PackDateTime(QDateTime(QDate(1980, 1, 1), QTime(0, 0))), 0x00210000u);
    EXPECT_EQ(PackDateTime(QDateTime(QDate(2107, 12, 31), QTime(23, 59, 59))), 0xFF9FBF7Du);
    EXPECT_EQ(PackDateTime(QDateTime(QDate(1979, 12, 31), QTime(23, 59, 59))), 0u);
    EXPECT_EQ(PackDateTime(QDateTime(QDate(2108, 1, 1), QTime(0, 0))), 0u);
    EXPECT_EQ(PackDateTime(QDateTime()), 0u);
}

// ---- kernel image ----

constexpr int HeaderAt = KernelHeaderOffsetARM;

QByteArray KernelImage(int size, uint16_t major = 3, uint16_t magic = KernelMagicB, int offset = HeaderAt)
{
    QByteArray image = Pattern(size);
    TKernelHeader header = ReadKernelHeader(image, offset);
    header.VersionMajor = major;
    header.Magic = magic;
    image.replace(offset, KernelHeaderSize, KernelHeaderToBytes(header));
    return image;
}

struct KernelCase {
    const char* name;
    int size;
    uint16_t major;
    uint16_t magic;
    bool valid;
};

class KernelValidity : public testing::TestWithParam<KernelCase> {};

TEST_P(KernelValidity, LengthVersionMagic)
{
    const KernelCase& c = GetParam();
    EXPECT_EQ(IsValidKernel(KernelImage(c.size, c.major, c.magic), HeaderAt), c.valid);
}

INSTANTIATE_TEST_SUITE_P(Images, KernelValidity,
                         testing::Values(KernelCase{"Smallest", 0x4000, 3, KernelMagicB, true},
                                         KernelCase{"Largest", 0x10000, 3, KernelMagicB, true},
                                         KernelCase{"OneByteShort", 0x3FFF, 3, KernelMagicB, false},
                                         KernelCase{"OneByteLong", 0x10001, 3, KernelMagicB, false},
                                         KernelCase{"Version2OtherMagic", 0x8000, 2, KernelMagicA, true},
                                         KernelCase{"Version1", 0x8000, 1, KernelMagicB, false},
                                         KernelCase{"Version4", 0x8000, 4, KernelMagicB, false},
                                         KernelCase{"UnknownMagic", 0x8000, 3, 0x6A30, false}),
                         CaseName);

TEST(ImagesKernel, ValidityReadsTheHeaderAtTheGivenOffset)
{
    const QByteArray xaImage = KernelImage(0x8000, 2, KernelMagicA, KernelHeaderOffsetXA);
    EXPECT_TRUE(IsValidKernel(xaImage, KernelHeaderOffsetXA));
    EXPECT_FALSE(IsValidKernel(xaImage, KernelHeaderOffsetARM));
}

TEST(ImagesKernel, ChecksumLeavesOutTheFirst16HeaderBytes)
{
    const QByteArray image = KernelImage(0x4000);
    const uint16_t base = KernelChecksum(image, HeaderAt);

    const struct {
        const char* field;
        int offset;   // in the image
        bool counted;
    } changes[] = {
        {"first image byte", 0, true},          {"byte before the header", HeaderAt - 1, true},
        {"VersionMajor", HeaderAt + 0, false},  {"Checksum", HeaderAt + 6, false},
        {"ImageSize", HeaderAt + 8, false},     {"TransferDate", HeaderAt + 15, false},
        {"HardwareModel", HeaderAt + 16, true}, {"NadAlias", HeaderAt + 26, true},
        {"last image byte", 0x3FFF, true},
    };
    for (const auto& change : changes) {
        QByteArray changed = image;
        changed[change.offset] = char(changed[change.offset] ^ 0x01);
        EXPECT_EQ(KernelChecksum(changed, HeaderAt) != base, change.counted) << change.field;
    }
}

// Bad files reach the checksum through careless callers: it sums what is there.
TEST(ImagesKernel, ChecksumOfImagesOutsideTheKernelArea)
{
    const QByteArray tiny = Pattern(10);
    EXPECT_EQ(KernelChecksum(tiny, HeaderAt), BufferChecksum(tiny, 0));
    const QByteArray cutInHeader = Pattern(HeaderAt + 8);
    EXPECT_EQ(KernelChecksum(cutInHeader, HeaderAt), RangeSum(cutInHeader, 0, HeaderAt));
    EXPECT_EQ(KernelChecksum(QByteArray(), HeaderAt), 0);

    const QByteArray huge = Pattern(0x10000 + 5000);
    EXPECT_EQ(KernelChecksum(huge, HeaderAt),
              uint16_t(RangeSum(huge, 0, HeaderAt) + RangeSum(huge, HeaderAt + 16, huge.size())));
}

TEST(ImagesKernel, WriteHeaderStoresItsChecksum)
{
    QByteArray image = KernelImage(0x4000);
    const QByteArray before = image;
    TKernelHeader header = DefaultKernelHeader();
    header.VersionMajor = 3;
    header.NadAlias = 0x12345678;
    WriteKernelHeader(image, header, HeaderAt);

    ASSERT_EQ(image.size(), before.size());
    const TKernelHeader written = ReadKernelHeader(image, HeaderAt);
    EXPECT_EQ(+written.Checksum, KernelChecksum(image, HeaderAt));
    EXPECT_EQ(+written.NadAlias, 0x12345678u);
    EXPECT_EQ(image.left(HeaderAt), before.left(HeaderAt));
    EXPECT_EQ(image.mid(HeaderAt + 88), before.mid(HeaderAt + 88));
}

TEST(ImagesKernel, WriteHeaderExtendsAShortImageWithZeros)
{
    QByteArray image = Pattern(100);
    WriteKernelHeader(image, DefaultKernelHeader(), KernelHeaderOffsetXA);
    ASSERT_EQ(image.size(), KernelHeaderOffsetXA + 88);
    EXPECT_EQ(image.left(100), Pattern(100));
    EXPECT_EQ(image.mid(100, KernelHeaderOffsetXA - 100), QByteArray(KernelHeaderOffsetXA - 100, '\0'));
    EXPECT_EQ(+ReadKernelHeader(image, KernelHeaderOffsetXA).Magic, KernelMagicB);
}

TEST(ImagesKernel, ShortImageHeaderReadsAsZeros)
{
    const QByteArray image = Pattern(HeaderAt + 4);   // holds VersionMajor and VersionMinor only
    const TKernelHeader header = ReadKernelHeader(image, HeaderAt);
    EXPECT_NE(+header.VersionMajor, 0);
    EXPECT_EQ(+header.Magic, 0);
    EXPECT_EQ(KernelHeaderToBytes(header).mid(4), QByteArray(84, '\0'));
}

TEST(ImagesKernel, StampSetsSizeDateAndChecksum)
{
    QByteArray image = KernelImage(0x5000);
    const QDateTime moment(QDate(2024, 3, 15), QTime(13, 45, 30));
    const TKernelHeader before = ReadKernelHeader(image, HeaderAt);
    StampKernel(image, moment, HeaderAt);

    const TKernelHeader stamped = ReadKernelHeader(image, HeaderAt);
    EXPECT_EQ(+stamped.ImageSize, 0x5000u);
    EXPECT_EQ(+stamped.TransferDate, PackDateTime(moment));
    EXPECT_EQ(+stamped.Checksum, KernelChecksum(image, HeaderAt));
    EXPECT_EQ(KernelHeaderToBytes(stamped).mid(16), KernelHeaderToBytes(before).mid(16));
}

TEST(ImagesKernel, StampedSizeCountsTheHeaderAShortImageGrowsBy)
{
    QByteArray image = KernelImage(0x4000).left(HeaderAt + 8);   // cut after Magic
    StampKernel(image, QDateTime::currentDateTime(), HeaderAt);
    ASSERT_EQ(image.size(), HeaderAt + 88);
    EXPECT_EQ(+ReadKernelHeader(image, HeaderAt).ImageSize, uint32_t(HeaderAt + 88));
}

TEST(ImagesKernel, StampLeavesImagesWithoutKernelHeaderAlone)
{
    QByteArray image = KernelImage(0x5000, 3, 0x1234);
    const QByteArray before = image;
    StampKernel(image, QDateTime::currentDateTime(), HeaderAt);
    EXPECT_EQ(image, before);
}

TEST(ImagesKernel, DefaultHeader)
{
    TKernelHeader expected;
    expected.Magic = 0x6A2F;
    expected.HardwareModel = 10;
    expected.IEXBaudRate = 3;
    EXPECT_EQ(KernelHeaderToBytes(DefaultKernelHeader()), KernelHeaderToBytes(expected));
}

TEST(ImagesKernel, CopyUnitSettingsCopiesThoseBytesOnly)
{
    const auto source = KernelHeaderFromBytes(QByteArray(88, '\x11'));
    auto target = KernelHeaderFromBytes(QByteArray(88, '\x22'));
    CopyUnitSettings(source, target);
    const QByteArray bytes = KernelHeaderToBytes(target);
    for (int i = 0; i < 88; ++i) {
        const bool setting = (i >= 16 && i < 18) || (i >= 22 && i < 24) || (i >= 26 && i < 46);
        EXPECT_EQ(bytes[i], setting ? '\x11' : '\x22') << "byte " << i;
    }
}

// ---- PLC program image ----

constexpr uint16_t Erased = 0xFFFF;
constexpr std::nullopt_t RightChecksum = std::nullopt;

// A program image over a pattern; without a checksum given, the right one is filled in.
QByteArray ProgramImage(int size, uint16_t marker, uint16_t kind, std::optional<uint16_t> checksum, uint32_t length)
{
    QByteArray image = Pattern(size);
    auto header = ProgramHeaderFromBytes(image);
    header.Marker = marker;
    header.Kind = kind;
    header.ProgramLength = length;
    const int written = std::min(size, 20);
    image.replace(0, written, ProgramHeaderToBytes(header).left(written));
    header.Checksum = checksum.value_or(RangeSum(image, 16, int(std::min<uint32_t>(length, size))));
    image.replace(0, written, ProgramHeaderToBytes(header).left(written));
    return image;
}

struct ProgramCase {
    const char* name;
    QByteArray image;
    bool xa;
    bool valid;
};

class ProgramValidity : public testing::TestWithParam<ProgramCase> {};

TEST_P(ProgramValidity, HeaderAndChecksum)
{
    EXPECT_EQ(IsValidProgram(GetParam().image, GetParam().xa), GetParam().valid);
}

INSTANTIATE_TEST_SUITE_P(
    Images, ProgramValidity,
    testing::Values(ProgramCase{"FifteenBytes", QByteArray(15, '\xFF'), false, false},
                    ProgramCase{"SixteenBytesErased", QByteArray(16, '\xFF'), false, true},
                    ProgramCase{"ErasedWithoutChecksum", ProgramImage(300, Erased, Erased, Erased, 200), false, true},
                    ProgramCase{"ErasedWrongChecksum", ProgramImage(300, Erased, Erased, 0x1234, 200), false, false},
                    ProgramCase{"ErasedRightChecksum", ProgramImage(300, Erased, Erased, RightChecksum, 200), false,
                                true},
                    ProgramCase{"SealedXA", ProgramImage(300, 0, ProgramKindXA, RightChecksum, 200), true, true},
                    ProgramCase{"SealedARMOnXA", ProgramImage(300, 0, ProgramKindARM, RightChecksum, 200), true, true},
                    ProgramCase{"SealedWrongChecksum", ProgramImage(300, 0, ProgramKindARM, 0x1234, 200), false, false},
                    ProgramCase{"UnknownKind", ProgramImage(300, 0, 0x7AB9, Erased, 200), false, false},
                    ProgramCase{"HalfErased", ProgramImage(300, Erased, ProgramKindXA, Erased, 200), false, false},
                    ProgramCase{"MarkerNotZero", ProgramImage(300, 1, ProgramKindARM, Erased, 200), false, false}),
    CaseName);

struct ChecksumRangeCase {
    const char* name;
    int size;
    uint32_t length;
    bool xa;
    int rangeEnd;   // the checksum covers bytes [16, rangeEnd)
};

class ProgramChecksumRange : public testing::TestWithParam<ChecksumRangeCase> {};

TEST_P(ProgramChecksumRange, CoversBytesFrom16ToLength)
{
    const ChecksumRangeCase& c = GetParam();
    const QByteArray image = ProgramImage(c.size, Erased, Erased, Erased, c.length);
    EXPECT_EQ(ProgramChecksum(image, c.xa), RangeSum(image, 16, std::max(c.rangeEnd, 16)));
}

INSTANTIATE_TEST_SUITE_P(Images, ProgramChecksumRange,
                         testing::Values(ChecksumRangeCase{"InsideImage", 300, 120, false, 120},
                                         ChecksumRangeCase{"XALowHalfOnly", 300, 65536 + 100, true, 100},
                                         ChecksumRangeCase{"FullLengthElsewhere", 300, 65536 + 100, false, 300},
                                         ChecksumRangeCase{"BeyondTheEnd", 300, 301, true, 300},
                                         ChecksumRangeCase{"LargestLength", 300, 0xFFFFFFFF, false, 300},
                                         ChecksumRangeCase{"BelowTheHeaderIsEmpty", 300, 5, false, 16},
                                         ChecksumRangeCase{"HeaderOnly", 16, 200, false, 16}),
                         CaseName);

class SealProgramCase : public testing::TestWithParam<bool> {};

TEST_P(SealProgramCase, ErasedHeaderInImageSealedHeaderApart)
{
    const bool xa = GetParam();
    QByteArray image = ProgramImage(300, Erased, Erased, Erased, 250);
    const QByteArray original = image;
    QByteArray headerStream;
    const QDateTime moment(QDate(2024, 3, 15), QTime(13, 45, 30));
    SealProgram(image, headerStream, xa, moment);

    const auto erased = ProgramHeaderFromBytes(image);
    EXPECT_TRUE(IsErasedProgramHeader(erased.Marker, erased.Kind));
    EXPECT_EQ(+erased.Checksum, Erased);
    EXPECT_EQ(+erased.TransferDate, 0xFFFFFFFFu);
    EXPECT_EQ(image.mid(6, 6), original.mid(6, 6));
    EXPECT_EQ(image.mid(16), original.mid(16));

    ASSERT_EQ(headerStream.size(), 16);
    const auto sealed = ProgramHeaderFromBytes(headerStream);
    EXPECT_EQ(+sealed.Marker, 0);
    EXPECT_EQ(+sealed.Kind, xa ? ProgramKindXA : ProgramKindARM);
    EXPECT_EQ(+sealed.Checksum, RangeSum(original, 16, 250));
    EXPECT_EQ(+sealed.TransferDate, PackDateTime(moment));
    EXPECT_EQ(headerStream.mid(6, 6), original.mid(6, 6));

    // What the controller holds once the header is written last is itself a valid program,
    // and the image stays valid for the next unit.
    EXPECT_TRUE(IsValidProgram(headerStream + image.mid(16), xa));
    EXPECT_TRUE(IsValidProgram(image, xa));
}

INSTANTIATE_TEST_SUITE_P(Images, SealProgramCase, testing::Values(false, true),
                         [](const auto& info) { return info.param ? "XA" : "ARM"; });

TEST(ImagesProgram, SealLeavesInvalidImagesAlone)
{
    QByteArray image = ProgramImage(300, 0, ProgramKindARM, 0x1234, 250);
    const QByteArray before = image;
    QByteArray headerStream = "untouched";
    SealProgram(image, headerStream, false, QDateTime::currentDateTime());
    EXPECT_EQ(image, before);
    EXPECT_EQ(headerStream, "untouched");
}

TEST(ImagesProgram, ProgramHeaderBytes)
{
    QByteArray image = Pattern(40);
    EXPECT_EQ(GetProgramHeader(image), image.left(16));
    EXPECT_EQ(GetProgramHeader(Pattern(5)), Pattern(5) + QByteArray(11, '\0'));

    SetProgramHeader(image, QByteArray(16, '\xAB'));
    EXPECT_EQ(image, QByteArray(16, '\xAB') + Pattern(40).mid(16));
    QByteArray empty;
    SetProgramHeader(empty, QByteArray(16, '\xAB'));
    EXPECT_EQ(empty, QByteArray(16, '\xAB'));
}

// ---- stored program length ----

struct FileEntry {
    uint32_t address;
    uint32_t length;
};

struct StoredCase {
    const char* name;
    bool sealed;
    bool xa;
    uint32_t programLength;
    int32_t extraLength;
    std::vector<FileEntry> files;
    int delivered;   // entries the memory read gives back; -1: the read fails
    int64_t expected;
};

class StoredProgramLength : public testing::TestWithParam<StoredCase> {};

TEST_P(StoredProgramLength, FollowsHeaderAndFileTable)
{
    const StoredCase& c = GetParam();
    TProgramHeader header;
    header.Marker = c.sealed ? 0 : Erased;
    header.Kind = c.sealed ? ProgramKindXA : Erased;
    header.ProgramLength = c.programLength;
    header.ExtraLength = c.extraLength;
    header.FileTableAddress = 0x24000;
    header.FileCount = uint16_t(c.files.size());

    QByteArray table;
    for (const FileEntry& file : c.files) {
        TProgramFileEntry entry;
        entry.FileAddress = file.address;
        entry.FileLength = file.length;
        table += ProgramFileEntryToBytes(entry);
    }
    int reads = 0;
    const TMemoryReader reader = [&](uint32_t address, uint32_t length, QByteArray& out) {
        ++reads;
        EXPECT_EQ(address, 0x24000u);
        EXPECT_EQ(length, c.files.size() * 46);
        out = table.left(std::max(c.delivered, 0) * 46);
        return c.delivered >= 0;
    };
    EXPECT_EQ(StoredProgramLengthOf(header, c.xa, reader), c.expected);
    EXPECT_EQ(reads, c.sealed && c.xa && !c.files.empty() ? 1 : 0);
}

constexpr uint32_t P = ProgramAddress;

INSTANTIATE_TEST_SUITE_P(
    Images, StoredProgramLength,
    testing::Values(
        StoredCase{"NotSealed", false, false, 5000, 0, {}, 0, 0},
        StoredCase{"NotSealedXA", false, true, 5000, 0, {{P, 100}}, 1, 0},
        StoredCase{"WithExtra", true, false, 70000, 500, {}, 0, 70500},
        StoredCase{"NegativeExtraIgnored", true, false, 70000, -5, {}, 0, 70000},
        StoredCase{"LargestWithoutOverflow", true, false, 0xFFFFFFFF, 0x7FFFFFFF, {}, 0, 0x17FFFFFFEll},
        StoredCase{"FilesIgnoredElsewhere", true, false, 0x12345, 0, {{P, 0x40000}}, 1, 0x12345},
        StoredCase{"XANoFiles", true, true, 0x12345, 500, {}, 0, 0x2345},
        StoredCase{"XALaterFileEnds13KiB",
                   true,
                   true,
                   0x12345,
                   0,
                   {{P + 0x1000, 0x800}, {P + 13 * 1024 - 100, 100}},
                   2,
                   13 * 1024},
        StoredCase{"XATableUnreadable", true, true, 0x12345, 0, {{P + 0x1000, 0x800}}, -1, 0x2345},
        StoredCase{
            "XAShortReadCountsWholeEntries", true, true, 0x12345, 0, {{P + 0x1000, 0x800}, {P, 0x9000}}, 1, 0x1800},
        StoredCase{"XAEmptyEntries", true, true, 0x12345, 0, {{0, 0}, {0, 0}}, 2, 0x2345},
        StoredCase{"XASignedComparison", true, true, 0x12345, 0, {{0xF0000000, 0x10}, {P + 0x400, 0x400}}, 2, 0x800}),
    CaseName);

}   // namespace
