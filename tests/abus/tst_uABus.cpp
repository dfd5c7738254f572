// Frame layer: checksum, hexadecimal text, building and parsing A-bus frames.
#include "uABus.h"

#include "TestPrinters.h"

#include <gtest/gtest.h>

#include <QStringList>
#include <QtEndian>

#include <array>

namespace {

QByteArray Hex(const char* text)
{
    return QByteArray::fromHex(text);
}

// A reply frame as the link receives it: upper-case hexadecimal text.
QByteArray ReplyText(uint32_t source, uint32_t destination, uint8_t code, const QByteArray& data, uint8_t auxiliary = 0)
{
    QByteArray frame(12, '\0');
    auto* p = reinterpret_cast<uint8_t*>(frame.data());
    p[0] = 0xAA;
    p[1] = 0x55;
    qToLittleEndian<uint16_t>(uint16_t(data.size() + 2), p + 2);
    qToLittleEndian<uint32_t>(source, p + 4);
    qToLittleEndian<uint32_t>(destination, p + 8);
    frame.append(char(code)).append(char(auxiliary)).append(data);
    const uint16_t sum = BufferChecksum(frame, 0);
    frame.append(char(sum & 0xFF)).append(char(sum >> 8));
    return BytesToHex(frame);
}

// ---- checksum ----

struct ChecksumCase {
    const char* name;
    QByteArray bytes;
    uint16_t start;
    uint16_t expected;
};

class Checksum : public testing::TestWithParam<ChecksumCase> {};

TEST_P(Checksum, SumsWeightedBytes)
{
    const ChecksumCase& c = GetParam();
    EXPECT_EQ(BufferChecksum(c.bytes, c.start), c.expected);
}

// 0x5A XOR 0x5A is 0, so a run of 0x5A bytes contributes nothing and isolates one byte.
INSTANTIATE_TEST_SUITE_P(
    ABus, Checksum,
    testing::Values(ChecksumCase{"abc", "abc", 0, 0x7F00},
                    ChecksumCase{"EmptyGivesStart", QByteArray(), 0x1234, 0x1234},
                    ChecksumCase{"IndexWrapsAfter16", QByteArray(16, 0x5A) + char(0x5B), 0, 1181},
                    ChecksumCase{"ProductKeepsLow16Bits", QByteArray(15, 0x5A) + char(0xA5), 0, uint16_t(255 * 27583)},
                    ChecksumCase{"SumWraps", QByteArray(1, 0x5B), 0xFFFF, 1180},
                    // Bytes 5 and 20 of 33: the sum runs over whole rounds of the
                    // sixteen weights, then the rest.
                    ChecksumCase{"WeightsWithinWholeRounds",
                                 QByteArray(33, 0x5A).replace(5, 1, "\x5B").replace(20, 1, "\x5B"), 0, 8237 + 7499}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ABusChecksum, NonPositiveCountGivesStart)
{
    const uint8_t byte = 0x00;
    EXPECT_EQ(BufferChecksum(&byte, 0, 0x4321), 0x4321);
    EXPECT_EQ(BufferChecksum(&byte, -5, 0x4321), 0x4321);
}

TEST(ABusChecksum, TextChecksumOfPassword)
{
    EXPECT_EQ(TextChecksum(QStringLiteral("abc"), 0), 0x7F00);
    EXPECT_EQ(TextChecksum(QString(), 0x55), 0x55);
}

// ---- hexadecimal text ----

struct HexCase {
    const char* name;
    QByteArray text;
    bool pad;
    QByteArray expected;   // the bytes decoded; the rest of the buffer must be zero
};

class HexToBytesCase : public testing::TestWithParam<HexCase> {};

TEST_P(HexToBytesCase, DecodesAndClearsTheRest)
{
    const HexCase& c = GetParam();
    std::array<uint8_t, 8> buffer;
    buffer.fill(0xCC);
    ASSERT_EQ(HexToBytes(c.text, buffer.data(), int(buffer.size()), c.pad), c.expected.size());
    const QByteArray expected = c.expected + QByteArray(buffer.size() - c.expected.size(), '\0');
    EXPECT_EQ(QByteArray(reinterpret_cast<const char*>(buffer.data()), buffer.size()), expected);
}

INSTANTIATE_TEST_SUITE_P(
    ABus, HexToBytesCase,
    testing::Values(HexCase{"Blanks", "0a 1B", false, Hex("0A1B")}, HexCase{"Padded", "ABC", true, Hex("AB0C")},
                    HexCase{"OddUnpaddedDropsLast", "ABC", false, Hex("AB")}, HexCase{"Empty", "", false, QByteArray()},
                    HexCase{"NoDigitCountsAsZero", QByteArray("G1zz") + char(0xFF) + 'F', false, Hex("01000F")}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ABusHexToBytes, NeverWritesPastItsBuffer)
{
    constexpr int guard = 16;
    constexpr int size = 4;
    std::array<uint8_t, guard + size + guard> zone;
    zone.fill(0xEE);
    EXPECT_EQ(HexToBytes("0102030405060708090A0B0C", zone.data() + guard, size, false), size);
    for (int i = 0; i < int(zone.size()); ++i) {
        const bool inside = i >= guard && i < guard + size;
        EXPECT_EQ(zone[i], inside ? uint8_t(i - guard + 1) : 0xEE) << "byte " << i;
    }
    EXPECT_EQ(HexToBytes("0102", zone.data() + guard, 0, false), 0);
    EXPECT_EQ(zone[guard], 1);
}

// ---- command frames ----

TEST(ABusBuildFrame, WorkedExample)
{
    QByteArray frame;
    ASSERT_TRUE(BuildFrame(HostNad, 1000, CmdPing, frame, 0));
    EXPECT_EQ(frame, Hex("AA55 0500 01000000 E8030000 00 00 10 0000 BEEC"));
}

struct BuildCase {
    const char* name;
    int arguments;
    uint32_t destination;
};

class BuildFrameCase : public testing::TestWithParam<BuildCase> {};

// Every frame built goes through the parser as a reply would: same layout, same checksum.
TEST_P(BuildFrameCase, LaysOutFrameAroundArguments)
{
    const BuildCase& c = GetParam();
    QByteArray arguments(c.arguments, '\0');
    for (int i = 0; i < c.arguments; ++i)
        arguments[i] = char(i * 7);
    QByteArray frame = arguments;
    ASSERT_TRUE(BuildFrame(HostNad, c.destination, 0x21, frame, 0xBEEF));
    ASSERT_EQ(frame.size(), c.arguments + CommandOverhead);

    const auto* p = reinterpret_cast<const uint8_t*>(frame.constData());
    EXPECT_EQ(qFromLittleEndian<uint16_t>(p + 2), c.arguments + 5);
    EXPECT_EQ(qFromLittleEndian<uint32_t>(p + 8), c.destination);
    EXPECT_EQ(frame.mid(12, 3), Hex("000021"));
    EXPECT_EQ(frame.mid(15, c.arguments), arguments);
    EXPECT_EQ(qFromLittleEndian<uint16_t>(p + 15 + c.arguments), 0xBEEF);
    EXPECT_EQ(qFromLittleEndian<uint16_t>(p + 17 + c.arguments), BufferChecksum(p, c.arguments + 17, 0));
}

INSTANTIATE_TEST_SUITE_P(ABus, BuildFrameCase,
                         testing::Values(BuildCase{"NoArguments", 0, 1000},
                                         BuildCase{"Largest", MaxArgumentBytes, 1000},
                                         BuildCase{"NoNadChosen", 3, 0xFFFFFFFF}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(ABusBuildFrame, RefusesTooManyArgumentsAndLeavesThem)
{
    const QByteArray arguments(MaxArgumentBytes + 1, 'x');
    QByteArray frame = arguments;
    EXPECT_FALSE(BuildFrame(HostNad, 1000, CmdPing, frame, 0));
    EXPECT_EQ(frame, arguments);
}

// ---- reply frames ----

TEST(ABusParseFrame, WorkedExample)
{
    QByteArray text = "AA550200E8030000010000000100C2A1";
    TParsedFrame frame;
    ASSERT_TRUE(ParseFrame(text, frame));
    EXPECT_EQ(frame.Source, 1000u);
    EXPECT_EQ(frame.Destination, 1u);
    EXPECT_EQ(frame.ReplyCode, 1);
    EXPECT_EQ(frame.Auxiliary, 0);
    EXPECT_TRUE(frame.Data.isEmpty());
    EXPECT_EQ(frame.FrameText, "AA550200E8030000010000000100C2A1");
    EXPECT_TRUE(text.isEmpty());
}

struct RejectCase {
    const char* name;
    QByteArray text;
    TRejection rejection;
};

class ParseFrameRejects : public testing::TestWithParam<RejectCase> {};

TEST_P(ParseFrameRejects, LeavesTextAndFieldsAloneAndSaysWhy)
{
    QByteArray text = GetParam().text;
    const QByteArray before = text;
    TParsedFrame frame;
    frame.Source = 77;
    frame.Data = "AB";
    EXPECT_FALSE(ParseFrame(text, frame));
    EXPECT_EQ(CheckFrame(text, frame), GetParam().rejection);
    EXPECT_EQ(text, before);
    EXPECT_EQ(frame.Source, 77u);
    EXPECT_EQ(frame.Data, "AB");
}

const QByteArray Good = ReplyText(1000, HostNad, 1, Hex("C0FFEE"));

QByteArray WithBodyLength(uint16_t length)
{
    QByteArray text = Good;
    text.replace(4, 4, BytesToHex(QByteArray(1, char(length & 0xFF)) + char(length >> 8)));
    return text + QByteArray(2 * 1030, '0');
}

INSTANTIATE_TEST_SUITE_P(
    ABus, ParseFrameRejects,
    testing::Values(RejectCase{"TooShort", QByteArray("AA550200E8030000010000000100C2A1").left(27),
                               TRejection::Incomplete},
                    RejectCase{"Empty", QByteArray(), TRejection::Incomplete},
                    RejectCase{"HalfAStart", QByteArray("AA5"), TRejection::Incomplete},
                    RejectCase{"ShortNoise", QByteArray("A5"), TRejection::Noise},
                    RejectCase{"NoStartBytes", QByteArray("AA560200E8030000010000000100C2A1"), TRejection::Noise},
                    RejectCase{"BodyLength1", WithBodyLength(1), TRejection::BadLength},
                    RejectCase{"BodyLength1025", WithBodyLength(1025), TRejection::BadLength},
                    RejectCase{"Incomplete", Good.chopped(1), TRejection::Incomplete},
                    RejectCase{"BadChecksum", QByteArray("AA550200E8030000010000000100C2A2"), TRejection::BadChecksum},
                    RejectCase{"BadBody", QByteArray(Good).replace(28, 2, "C1"), TRejection::BadChecksum}),
    [](const auto& info) { return std::string(info.param.name); });

struct AcceptCase {
    const char* name;
    uint32_t source;
    QByteArray data;
};

class ParseFrameAccepts : public testing::TestWithParam<AcceptCase> {};

TEST_P(ParseFrameAccepts, DecodesFields)
{
    const AcceptCase& c = GetParam();
    QByteArray text = ReplyText(c.source, HostNad, 4, c.data, 9);
    TParsedFrame frame;
    ASSERT_TRUE(ParseFrame(text, frame));
    EXPECT_EQ(frame.Source, c.source);
    EXPECT_EQ(frame.Destination, HostNad);
    EXPECT_EQ(frame.ReplyCode, 4);
    EXPECT_EQ(frame.Auxiliary, 9);
    EXPECT_EQ(frame.Data, BytesToHex(c.data));
    EXPECT_TRUE(text.isEmpty());
}

INSTANTIATE_TEST_SUITE_P(ABus, ParseFrameAccepts,
                         testing::Values(AcceptCase{"NoData", 1000, QByteArray()},
                                         AcceptCase{"OneDataByte", 1000, Hex("7F")},
                                         AcceptCase{"LargestBody", 5, QByteArray(MaxReplyBodyLength - 2, '\x5C')},
                                         AcceptCase{"SourceAboveSignedRange", 0x80000001, Hex("01")}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(ABusParseFrame, KeepsTheBeginningOfTheNextFrame)
{
    const QByteArray second = ReplyText(2000, HostNad, 1, Hex("0102"));
    QByteArray text = Good + second.left(20);
    TParsedFrame frame;
    ASSERT_TRUE(ParseFrame(text, frame));
    EXPECT_EQ(frame.FrameText, Good);
    EXPECT_EQ(text, second.left(20));
    EXPECT_FALSE(ParseFrame(text, frame));
    text += second.mid(20);
    ASSERT_TRUE(ParseFrame(text, frame));
    EXPECT_EQ(frame.Source, 2000u);
}

// ---- texts and codes ----

// The trace tells rejections apart by these texts alone.
TEST(ABusRejectionText, OneTextForEachReason)
{
    EXPECT_TRUE(RejectionText(TRejection::None).isEmpty());
    QStringList texts;
    for (int i = int(TRejection::Noise); i <= int(TRejection::TimeOut); ++i)
        texts << RejectionText(TRejection(i));
    EXPECT_FALSE(texts.contains(QString()));
    EXPECT_EQ(texts.removeDuplicates(), 0) << texts.join(QStringLiteral(", ")).toStdString();
}

TEST(ABusReplyCodeText, EveryCodeHasAText)
{
    const std::pair<uint8_t, const char*> cases[] = {{0, ""},
                                                     {1, "acknowledge"},
                                                     {6, "no valid program"},
                                                     {12, "incorrect authentication"},
                                                     {13, "unknown error (13)"},
                                                     {255, "unknown error (255)"}};
    for (const auto& [code, text] : cases)
        EXPECT_EQ(ReplyCodeText(code), QString::fromLatin1(text)) << "code " << int(code);
}

TEST(ABusProgramEraseArea, OnlyImagesWithContent)
{
    EXPECT_EQ(ProgramEraseArea(0), 0);
    EXPECT_EQ(ProgramEraseArea(-1), 0);
    EXPECT_EQ(ProgramEraseArea(1), 4);
}

}   // namespace
