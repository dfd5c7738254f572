#include "uABus.h"

#include <QtEndian>

#include <array>
#include <cstring>

// One step of the checksum; kept inline, as the loops over whole frames call it per byte.
static inline uint16_t ChecksumStep(uint8_t b, uint16_t s, int i)
{
    return static_cast<uint16_t>(s + static_cast<uint16_t>(uint32_t(b ^ 0x5A) * ChecksumWeights[i & 15]));
}

void AddToChecksum(uint8_t b, uint16_t& s, int i)
{
    s = ChecksumStep(b, s, i);
}

uint16_t BufferChecksum(const uint8_t* buffer, int n, uint16_t start)
{
    // Whole runs of the sixteen weights first: the sum is taken modulo 65536, so the products
    // of a run can be added in any order, and the compiler adds them side by side.
    uint16_t s = start;
    int i = 0;
    for (; i + 16 <= n; i += 16) {
        uint16_t run = 0;
        for (int k = 0; k < 16; ++k)
            run = ChecksumStep(buffer[i + k], run, k);
        s = static_cast<uint16_t>(s + run);
    }
    for (; i < n; ++i)
        s = ChecksumStep(buffer[i], s, i);
    return s;
}

uint16_t BufferChecksum(const QByteArray& bytes, uint16_t start)
{
    return BufferChecksum(reinterpret_cast<const uint8_t*>(bytes.constData()), int(bytes.size()), start);
}

uint16_t TextChecksum(const QString& text, uint16_t start)
{
    return BufferChecksum(text.toLatin1(), start);
}

// The value of each character as a hexadecimal digit; 0 for every other character.
static constexpr std::array<uint8_t, 256> HexValues = [] {
    std::array<uint8_t, 256> values{};
    for (int c = 0; c < 10; ++c)
        values['0' + c] = uint8_t(c);
    for (int c = 0; c < 6; ++c)
        values['A' + c] = values['a' + c] = uint8_t(10 + c);
    return values;
}();

int HexToBytes(const QByteArray& text, uint8_t* buffer, int size, bool pad)
{
    if (size <= 0)
        return 0;
    QByteArray digits = text;
    if (digits.contains(' '))   // the program's own texts never hold blanks: skip the copy
        digits.replace(' ', QByteArray());
    if (pad && digits.size() % 2 == 1)
        digits.insert(digits.size() - 1, '0');
    // Read through a const pointer: indexing the copy would detach it from text.
    const char* d = digits.constData();
    const int pairs = std::min(int(digits.size() / 2), size);
    for (int i = 0; i < pairs; ++i)
        buffer[i] = uint8_t(HexValues[uint8_t(d[2 * i])] * 16 + HexValues[uint8_t(d[2 * i + 1])]);
    std::memset(buffer + pairs, 0, size_t(size - pairs));   // the rest is cleared, not written twice
    return pairs;
}

bool BuildFrame(uint32_t source, uint32_t destination, uint8_t command, QByteArray& frame, uint16_t passwordCode)
{
    const int n = int(frame.size());
    if (n > MaxArgumentBytes)
        return false;
    QByteArray out(n + CommandOverhead, '\0');
    auto* p = reinterpret_cast<uint8_t*>(out.data());
    p[0] = 0xAA;
    p[1] = 0x55;
    qToLittleEndian<uint16_t>(uint16_t(n + 5), p + 2);
    qToLittleEndian<uint32_t>(source, p + 4);
    qToLittleEndian<uint32_t>(destination, p + 8);
    p[12] = 0;   // reply code
    p[13] = 0;   // auxiliary byte
    p[14] = command;
    if (n > 0)
        std::memcpy(p + 15, frame.constData(), size_t(n));
    qToLittleEndian<uint16_t>(passwordCode, p + 15 + n);
    qToLittleEndian<uint16_t>(BufferChecksum(p, n + 17, 0), p + n + 17);
    frame = out;
    return true;
}

TRejection CheckFrame(QByteArray& text, TParsedFrame& frame)
{
    static constexpr QByteArrayView FrameStart = "AA55";
    if (!text.startsWith(FrameStart))
        return FrameStart.startsWith(text) ? TRejection::Incomplete : TRejection::Noise;
    if (text.size() < 28)
        return TRejection::Incomplete;
    uint8_t head[14];
    HexToBytes(text.left(28), head, sizeof head, false);
    const int length = qFromLittleEndian<uint16_t>(head + 2);
    if (length < MinReplyBodyLength || length > MaxReplyBodyLength)
        return TRejection::BadLength;
    const int frameChars = 2 * length + 28;
    if (text.size() < frameChars)
        return TRejection::Incomplete;

    uint8_t bytes[MaxReplyBodyLength + 14];
    const int covered = length + 12;   // bytes under the checksum
    HexToBytes(text.left(frameChars), bytes, sizeof bytes, false);
    const uint16_t received = qFromLittleEndian<uint16_t>(bytes + covered);
    if (BufferChecksum(bytes, covered, 0) != received)
        return TRejection::BadChecksum;

    frame.FrameText = text.left(frameChars);
    frame.Source = qFromLittleEndian<uint32_t>(bytes + 4);
    frame.Destination = qFromLittleEndian<uint32_t>(bytes + 8);
    frame.ReplyCode = bytes[12];
    frame.Auxiliary = bytes[13];
    frame.Data = text.mid(28, 2 * length - 4);
    text.remove(0, frameChars);
    return TRejection::None;
}

bool ParseFrame(QByteArray& text, TParsedFrame& frame)
{
    return CheckFrame(text, frame) == TRejection::None;
}

QString RejectionText(TRejection rejection)
{
    switch (rejection) {
    case TRejection::None:
        return QString();
    case TRejection::Noise:
        return QStringLiteral("noise");
    case TRejection::Incomplete:
        return QStringLiteral("incomplete frame");
    case TRejection::BadLength:
        return QStringLiteral("bad body length");
    case TRejection::BadChecksum:
        return QStringLiteral("bad checksum");
    case TRejection::TooLong:
        return QStringLiteral("datagram too long");
    case TRejection::ErrorCode:
        return QStringLiteral("error code");
    case TRejection::TimeOut:
        return QStringLiteral("time-out");
    case TRejection::WrongSender:
        return QStringLiteral("reply from another address or port");
    case TRejection::Stopped:
        return QStringLiteral("stopped");
    }
    return QString();
}

QString ReplyCodeText(uint8_t code)
{
    static const char* const texts[] = {"",
                                        "acknowledge",
                                        "unspecified error",
                                        "unrecognized command",
                                        "parameter out of range",
                                        "device not ready",
                                        "no valid program",
                                        "no valid kernel",
                                        "no valid socket",
                                        "no valid master",
                                        "ram fail",
                                        "flash fail",
                                        "incorrect authentication"};
    if (code < std::size(texts))
        return QString::fromLatin1(texts[code]);
    return QStringLiteral("unknown error (%1)").arg(code);
}

int ProgramEraseArea(int32_t size)
{
    return size > 0 ? 4 : 0;
}

QByteArray BytesToHex(const QByteArray& bytes)
{
    // Written here in one pass, two characters of a table at a time: toHex and toUpper would
    // make the text twice.
    static constexpr std::array<char, 512> Pairs = [] {
        constexpr char Digits[] = "0123456789ABCDEF";
        std::array<char, 512> pairs{};
        for (int b = 0; b < 256; ++b) {
            pairs[2 * b] = Digits[b >> 4];
            pairs[2 * b + 1] = Digits[b & 15];
        }
        return pairs;
    }();
    QByteArray hex(bytes.size() * 2, Qt::Uninitialized);
    char* out = hex.data();
    for (const char c : bytes) {
        std::memcpy(out, &Pairs[2 * uint8_t(c)], 2);
        out += 2;
    }
    return hex;
}
