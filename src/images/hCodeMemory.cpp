#include "hCodeMemory.h"

#include "RecordBytes.h"
#include "uABus.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr uint16_t ErasedWord = 0xFFFF;
constexpr uint32_t NoTransferDate = 0xFFFFFFFF;

const uint8_t* Bytes(const QByteArray& image)
{
    return reinterpret_cast<const uint8_t*>(image.constData());
}

// Checksum of bytes [from, to) of the image, the range cut to the bytes the image has.
uint16_t RangeChecksum(const QByteArray& image, int64_t from, int64_t to)
{
    from = std::clamp<int64_t>(from, 0, image.size());
    to = std::clamp<int64_t>(to, from, image.size());
    return BufferChecksum(Bytes(image) + from, int(to - from), 0);
}

// Writes bytes at offset, first extending the stream with zeros where it is too short.
void WriteAt(QByteArray& stream, int offset, const QByteArray& bytes)
{
    const qsizetype end = offset + bytes.size();
    if (stream.size() < end)
        stream.append(QByteArray(end - stream.size(), '\0'));
    std::memcpy(stream.data() + offset, bytes.constData(), size_t(bytes.size()));
}

bool HasKernelMagic(const TKernelHeader& header)
{
    return header.Magic == KernelMagicA || header.Magic == KernelMagicB;
}

constexpr auto KernelHeaderFields = [](auto& h, auto&& field) {
    field(h.VersionMajor);
    field(h.VersionMinor);
    field(h.Magic);
    field(h.Checksum);
    field(h.ImageSize);
    field(h.TransferDate);
    field(h.HardwareModel);
    field(h.Reserved18);
    field(h.ReleaseXA);
    field(h.IEXBaudRate);
    field(h.ReleaseARM);
    field(h.NadAlias);
    field(h.IPAddress);
    field(h.SubnetMask);
    field(h.Gateway);
    field(h.DNSServer);
    field(h.Reserved46);
};
static_assert(FieldBytes<TKernelHeader>(KernelHeaderFields) == KernelHeaderSize);

constexpr auto ProgramHeaderFields = [](auto& h, auto&& field) {
    field(h.Marker);
    field(h.Kind);
    field(h.Checksum);
    field(h.Reserved6);
    field(h.TransferDate);
    field(h.ProgramLength);
    field(h.Reserved20);
    field(h.ExtraLength);
    field(h.Reserved28);
    field(h.FileTableAddress);
    field(h.FileCount);
    field(h.Reserved70);
    field(h.ModbusAddress);
    field(h.Reserved82);
};
static_assert(FieldBytes<TProgramHeader>(ProgramHeaderFields) == ProgramHeaderSize);

constexpr auto ProgramFileEntryFields = [](auto& e, auto&& field) {
    field(e.Reserved0);
    field(e.FileAddress);
    field(e.FileLength);
    field(e.Reserved42);
};
static_assert(FieldBytes<TProgramFileEntry>(ProgramFileEntryFields) == ProgramFileEntrySize);

// The sealed part of a program header: its first SealedHeaderSize bytes.
QByteArray SealedHeaderBytes(const TProgramHeader& header)
{
    return ProgramHeaderToBytes(header).left(SealedHeaderSize);
}

// The fields of a packed date-time; false when they make no real date and time.
bool UnpackFields(uint32_t value, QDate& date, QTime& time)
{
    const uint32_t datePart = value >> 16;
    const uint32_t timePart = value & 0xFFFF;
    const int second = int(timePart & 31);
    if (second > 29)
        return false;
    date = QDate(int(1980 + (datePart >> 9)), int((datePart >> 5) & 15), int(datePart & 31));
    time = QTime(int(timePart >> 11), int((timePart >> 5) & 63), second * 2);
    return date.isValid() && time.isValid();
}

}   // namespace

TKernelHeader KernelHeaderFromBytes(const QByteArray& bytes, int offset)
{
    return ReadRecord<TKernelHeader, KernelHeaderSize>(bytes, offset, KernelHeaderFields);
}

QByteArray KernelHeaderToBytes(const TKernelHeader& header)
{
    return WriteRecord(header, KernelHeaderFields);
}

TProgramHeader ProgramHeaderFromBytes(const QByteArray& bytes, int offset)
{
    return ReadRecord<TProgramHeader, ProgramHeaderSize>(bytes, offset, ProgramHeaderFields);
}

QByteArray ProgramHeaderToBytes(const TProgramHeader& header)
{
    return WriteRecord(header, ProgramHeaderFields);
}

TProgramFileEntry ProgramFileEntryFromBytes(const QByteArray& bytes, int offset)
{
    return ReadRecord<TProgramFileEntry, ProgramFileEntrySize>(bytes, offset, ProgramFileEntryFields);
}

QByteArray ProgramFileEntryToBytes(const TProgramFileEntry& entry)
{
    return WriteRecord(entry, ProgramFileEntryFields);
}

uint32_t PackDateTime(const QDateTime& moment)
{
    if (!moment.isValid())
        return 0;
    const QDateTime local = moment.toLocalTime();
    const QDate date = local.date();
    const QTime time = local.time();
    if (date.year() < 1980 || date.year() > 2107)
        return 0;
    const uint32_t datePart = uint32_t((date.year() - 1980) * 512 + date.month() * 32 + date.day());
    const uint32_t timePart = uint32_t(time.hour() * 2048 + time.minute() * 32 + time.second() / 2);
    return (datePart << 16) | timePart;
}

bool UnpackDateTime(uint32_t value, QDateTime& moment)
{
    QDate date;
    QTime time;
    if (!UnpackFields(value, date, time))
        return false;
    moment = QDateTime(date, time);
    return true;
}

QString PackedDateTimeText(uint32_t value)
{
    QDate date;
    QTime time;
    if (!UnpackFields(value, date, time))
        return QString();
    // Formatted from the fields, not from a QDateTime: a stamp taken in the hour that a
    // daylight-saving change skips must still show as stamped.
    return date.toString(QStringLiteral("yyyy-MM-dd")) + u' ' + time.toString(QStringLiteral("HH:mm:ss"));
}

bool IsSealedProgramHeader(uint16_t marker, uint16_t kind)
{
    return marker == 0 && (kind == ProgramKindXA || kind == ProgramKindARM);
}

bool IsErasedProgramHeader(uint16_t marker, uint16_t kind)
{
    return marker == ErasedWord && kind == ErasedWord;
}

// ---- kernel image ----

TKernelHeader ReadKernelHeader(const QByteArray& image, int headerOffset)
{
    return KernelHeaderFromBytes(image, headerOffset);
}

uint16_t KernelChecksum(const QByteArray& image, int headerOffset)
{
    // Everything but the first 16 header bytes (version, magic, checksum, size, date).
    // An image too short for its header or longer than the kernel area is summed over the
    // bytes it has, so a bad file never reads past its end.
    const uint16_t before = RangeChecksum(image, 0, headerOffset);
    const uint16_t after = RangeChecksum(image, int64_t(headerOffset) + SealedHeaderSize, image.size());
    return uint16_t(before + after);
}

bool IsValidKernel(const QByteArray& image, int headerOffset)
{
    if (image.size() < MinKernelSize || image.size() > MaxKernelSize)
        return false;
    const TKernelHeader header = ReadKernelHeader(image, headerOffset);
    return (header.VersionMajor == 2 || header.VersionMajor == 3) && HasKernelMagic(header);
}

TPlatform KernelPlatformOf(const QByteArray& image)
{
    for (const TPlatform platform : {TPlatform::ARM, TPlatform::XA}) {
        if (IsValidKernel(image, KernelHeaderOffset(platform)))
            return platform;
    }
    return TPlatform::Unknown;
}

void WriteKernelHeader(QByteArray& image, const TKernelHeader& header, int headerOffset)
{
    if (headerOffset < 0)
        return;
    TKernelHeader stamped = header;
    WriteAt(image, headerOffset, KernelHeaderToBytes(stamped));
    stamped.Checksum = KernelChecksum(image, headerOffset);
    WriteAt(image, headerOffset, KernelHeaderToBytes(stamped));
}

void StampKernel(QByteArray& image, const QDateTime& moment, int headerOffset)
{
    TKernelHeader header = ReadKernelHeader(image, headerOffset);
    if (!HasKernelMagic(header))
        return;
    // The size of the image as written: a short image grows to hold its whole header.
    header.ImageSize = uint32_t(std::max<qsizetype>(image.size(), headerOffset + qsizetype(KernelHeaderSize)));
    header.TransferDate = PackDateTime(moment);
    WriteKernelHeader(image, header, headerOffset);
}

TKernelHeader DefaultKernelHeader()
{
    TKernelHeader header;
    header.Magic = KernelMagicB;
    header.HardwareModel = 10;
    header.IEXBaudRate = 3;
    return header;
}

void CopyUnitSettings(const TKernelHeader& source, TKernelHeader& target)
{
    target.HardwareModel = source.HardwareModel;
    target.IEXBaudRate = source.IEXBaudRate;
    target.NadAlias = source.NadAlias;
    target.IPAddress = source.IPAddress;
    target.SubnetMask = source.SubnetMask;
    target.Gateway = source.Gateway;
    target.DNSServer = source.DNSServer;
}

// ---- PLC program image ----

QByteArray GetProgramHeader(const QByteArray& image)
{
    return BytesAt(image, 0, SealedHeaderSize);
}

void SetProgramHeader(QByteArray& stream, const QByteArray& header16)
{
    WriteAt(stream, 0, BytesAt(header16, 0, SealedHeaderSize));
}

uint16_t ProgramChecksum(const QByteArray& image, bool xa)
{
    uint32_t length = ProgramHeaderFromBytes(image).ProgramLength;
    if (xa)
        length &= 0xFFFF;
    // A length below 16 leaves no bytes to check: the range is empty.
    return RangeChecksum(image, SealedHeaderSize, std::max<int64_t>(length, SealedHeaderSize));
}

bool IsValidProgram(const QByteArray& image, bool xa)
{
    if (image.size() < SealedHeaderSize)
        return false;
    const TProgramHeader header = ProgramHeaderFromBytes(image);
    if (!IsErasedProgramHeader(header.Marker, header.Kind) && !IsSealedProgramHeader(header.Marker, header.Kind))
        return false;
    return header.Checksum == ErasedWord || ProgramChecksum(image, xa) == header.Checksum;
}

void SealProgram(QByteArray& image, QByteArray& headerStream, bool xa, const QDateTime& moment)
{
    if (!IsValidProgram(image, xa))
        return;
    TProgramHeader erased = ProgramHeaderFromBytes(image);
    TProgramHeader sealed = erased;

    erased.Marker = ErasedWord;
    erased.Kind = ErasedWord;
    erased.Checksum = ErasedWord;
    erased.TransferDate = NoTransferDate;

    sealed.Marker = 0;
    sealed.Kind = xa ? ProgramKindXA : ProgramKindARM;
    sealed.TransferDate = PackDateTime(moment);
    sealed.Checksum = ProgramChecksum(image, xa);

    SetProgramHeader(image, SealedHeaderBytes(erased));
    SetProgramHeader(headerStream, SealedHeaderBytes(sealed));
}

int64_t StoredProgramLengthOf(const TProgramHeader& header, bool xa, const TMemoryReader& readMemory)
{
    if (!IsSealedProgramHeader(header.Marker, header.Kind))
        return 0;
    if (!xa)
        return int64_t(header.ProgramLength) + (header.ExtraLength > 0 ? header.ExtraLength : 0);

    const int64_t length = header.ProgramLength & 0xFFFF;
    if (header.FileCount == 0 || !readMemory)
        return length;
    constexpr uint32_t entrySize = ProgramFileEntrySize;
    QByteArray table;
    if (!readMemory(header.FileTableAddress, uint32_t(header.FileCount) * entrySize, table))
        return length;
    // Only whole entries that the read delivered count.
    const qsizetype entries = std::min<qsizetype>(header.FileCount, table.size() / entrySize);
    int32_t end = 0;
    for (qsizetype i = 0; i < entries; ++i) {
        const auto entry = ProgramFileEntryFromBytes(table, int(i * entrySize));
        end = std::max(end, int32_t(entry.FileAddress + entry.FileLength));
    }
    return end == 0 ? length : int64_t(end) - ProgramAddress;
}
