// hCodeMemory: the kernel and PLC program images, as they lie in controller memory.
//
//   0x10000 KernelAddress   kernel image (16 KiB .. 64 KiB), its 88-byte TKernelHeader at the
//                           KernelHeaderOffset of its platform (0x120 on XA, 0x400 on ARM) with
//                           the unit settings the send writes
//   0x20000 ProgramAddress  PLC program image, its TProgramHeader at offset 0; the first 16
//                           bytes are the sealed header the send writes last
//
// Images are plain byte arrays (QByteArray); every function addresses them absolutely.
// Both checksums are the A-bus checksum over byte ranges of the image.
#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include <array>
#include <cstdint>
#include <functional>

inline constexpr uint32_t KernelAddress = 0x10000;
inline constexpr uint32_t ProgramAddress = 0x20000;
inline constexpr int MinKernelSize = 0x4000;
inline constexpr int MaxKernelSize = 0x10000;
inline constexpr int ProgramAreaSize = 0x200000;   // 2 MiB from ProgramAddress
inline constexpr uint16_t KernelMagicA = 0x6A2E;
inline constexpr uint16_t KernelMagicB = 0x6A2F;
inline constexpr uint16_t ProgramKindXA = 0x7AB7;
inline constexpr uint16_t ProgramKindARM = 0x7AB8;
inline constexpr int KernelHeaderOffsetXA = 0x120;
inline constexpr int KernelHeaderOffsetARM = 0x400;

// The platform of a controller or of a kernel image. It decides where a kernel image holds
// its header, so it travels with the controller's record and with every loaded kernel: the
// units a station serves at once may be of either platform. Unknown: no controller
// identified yet, or an image that is a valid kernel for neither platform.
enum class TPlatform : uint8_t { Unknown, XA, ARM };

// Where the kernel header lies inside a kernel image of the platform; 0 for Unknown.
constexpr int KernelHeaderOffset(TPlatform platform)
{
    return platform == TPlatform::XA ? KernelHeaderOffsetXA : platform == TPlatform::ARM ? KernelHeaderOffsetARM : 0;
}

// Offsets in brackets; every multi-byte field is little-endian. The Reserved bytes mean
// nothing to the tool and go back into memory as they came.
inline constexpr int KernelHeaderSize = 88;
inline constexpr int ProgramHeaderSize = 114;
inline constexpr int ProgramFileEntrySize = 46;
inline constexpr int SealedHeaderSize = 16;

struct TKernelHeader {
    uint16_t VersionMajor = 0;              // [0]
    uint16_t VersionMinor = 0;              // [2]
    uint16_t Magic = 0;                     // [4]
    uint16_t Checksum = 0;                  // [6]
    uint32_t ImageSize = 0;                 // [8]
    uint32_t TransferDate = 0;              // [12]
    uint16_t HardwareModel = 0;             // [16]
    uint16_t Reserved18 = 0;                // [18]
    uint16_t ReleaseXA = 0;                 // [20]
    uint16_t IEXBaudRate = 0;               // [22]
    uint16_t ReleaseARM = 0;                // [24]
    uint32_t NadAlias = 0;                  // [26]
    uint32_t IPAddress = 0;                 // [30]
    uint32_t SubnetMask = 0;                // [34]
    uint32_t Gateway = 0;                   // [38]
    uint32_t DNSServer = 0;                 // [42]
    std::array<uint8_t, 42> Reserved46{};   // [46]

    bool operator==(const TKernelHeader&) const = default;
};

// The bytes the tool reads at ProgramAddress; the first SealedHeaderSize are the sealed part.
struct TProgramHeader {
    uint16_t Marker = 0;                    // [0]
    uint16_t Kind = 0;                      // [2]
    uint16_t Checksum = 0;                  // [4]
    std::array<uint8_t, 6> Reserved6{};     // [6]
    uint32_t TransferDate = 0;              // [12]
    uint32_t ProgramLength = 0;             // [16]
    uint32_t Reserved20 = 0;                // [20]
    int32_t ExtraLength = 0;                // [24]
    std::array<uint8_t, 36> Reserved28{};   // [28]
    uint32_t FileTableAddress = 0;          // [64]
    uint16_t FileCount = 0;                 // [68]
    std::array<uint8_t, 10> Reserved70{};   // [70]
    uint16_t ModbusAddress = 0;             // [80]
    std::array<uint8_t, 32> Reserved82{};   // [82]

    bool operator==(const TProgramHeader&) const = default;
};

struct TProgramFileEntry {
    std::array<uint8_t, 34> Reserved0{};   // [0]
    uint32_t FileAddress = 0;              // [34]
    uint32_t FileLength = 0;               // [38]
    std::array<uint8_t, 4> Reserved42{};   // [42]

    bool operator==(const TProgramFileEntry&) const = default;
};

// Each record from its size of bytes at offset in raw memory (bytes past the end read as
// 0), and back into exactly its size of bytes.
TKernelHeader KernelHeaderFromBytes(const QByteArray& bytes, int offset = 0);
QByteArray KernelHeaderToBytes(const TKernelHeader& header);
TProgramHeader ProgramHeaderFromBytes(const QByteArray& bytes, int offset = 0);
QByteArray ProgramHeaderToBytes(const TProgramHeader& header);
TProgramFileEntry ProgramFileEntryFromBytes(const QByteArray& bytes, int offset = 0);
QByteArray ProgramFileEntryToBytes(const TProgramFileEntry& entry);

// Packed date-time: high half (year-1980)*512 + month*32 + day, low half
// hour*2048 + minute*32 + second/2, local time; 0 before 1980 or after 2107.
uint32_t PackDateTime(const QDateTime& moment);
// False when the value does not unpack into a real date and time.
bool UnpackDateTime(uint32_t value, QDateTime& moment);
// The packed value as "yyyy-mm-dd hh:nn:ss"; empty when it does not unpack.
QString PackedDateTimeText(uint32_t value);

bool IsSealedProgramHeader(uint16_t marker, uint16_t kind);
bool IsErasedProgramHeader(uint16_t marker, uint16_t kind);

// Each kernel function takes the offset of the header inside the image: KernelHeaderOffset of
// the image's platform.
TKernelHeader ReadKernelHeader(const QByteArray& image, int headerOffset);
// Sums what the image holds: an image too short for its header or longer than the kernel
// area never reads past its end.
uint16_t KernelChecksum(const QByteArray& image, int headerOffset);
bool IsValidKernel(const QByteArray& image, int headerOffset);
// The platform whose header a valid kernel holds; Unknown when it is a valid kernel for
// neither.
TPlatform KernelPlatformOf(const QByteArray& image);
// Writes the header (extending a short image with zeros), then its checksum.
void WriteKernelHeader(QByteArray& image, const TKernelHeader& header, int headerOffset);
// Size, date and checksum into an image with a known Magic; any other image is left alone.
void StampKernel(QByteArray& image, const QDateTime& moment, int headerOffset);
TKernelHeader DefaultKernelHeader();
// Copies HardwareModel, IEXBaudRate, NadAlias and the four IP fields.
void CopyUnitSettings(const TKernelHeader& source, TKernelHeader& target);

QByteArray GetProgramHeader(const QByteArray& image);
void SetProgramHeader(QByteArray& stream, const QByteArray& header16);
// Bytes 16 .. ProgramLength (low 16 bits on XA), cut at the image's end; a ProgramLength
// below 16 leaves no bytes (0).
uint16_t ProgramChecksum(const QByteArray& image, bool xa);
bool IsValidProgram(const QByteArray& image, bool xa);
// Valid images only: the image gets the erased header, headerStream the sealed one.
void SealProgram(QByteArray& image, QByteArray& headerStream, bool xa, const QDateTime& moment);

// How many bytes of a controller's program area belong to the stored program.
// readMemory(address, length, out) reads controller memory (the XA file table).
// 0 when the header is not sealed.
using TMemoryReader = std::function<bool(uint32_t address, uint32_t length, QByteArray& out)>;
int64_t StoredProgramLengthOf(const TProgramHeader& header, bool xa, const TMemoryReader& readMemory);
