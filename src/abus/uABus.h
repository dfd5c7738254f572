// uABus: the A-bus frame, the only message the host and a controller exchange.
//
//   AA 55 | body length L (u16) | source NAD (u32) | destination NAD (u32) | body (L bytes) | checksum (u16)
//
// Command body: reply code 0, auxiliary byte 0, command code, arguments, password code (u16).
// Reply body:   reply code, auxiliary byte, reply data.
// Everything is little-endian. Received frames travel as upper-case hexadecimal text
// (two characters per byte) from the datagram handler to the decoded reply data.
// Nothing here keeps state; every function works on its arguments only.
#pragma once

#include <QByteArray>
#include <QString>

#include <array>
#include <cstdint>

// The sixteen prime weights of the A-bus checksum.
inline constexpr std::array<uint16_t, 16> ChecksumWeights = {1181,  3079,  5521,  6863,  7499,  8237,  9479,  11083,
                                                             13477, 14533, 15679, 17477, 19727, 21391, 24499, 27583};

// Command codes of the controllers.
enum : uint8_t {
    CmdStartLoader = 0,
    CmdStartKernel = 1,
    CmdPing = 16,
    CmdReadStatus = 17,
    CmdReadLoaderRecord = 18,
    CmdEraseFlash = 32,
    CmdReadBlock = 33,
    CmdWriteBlock = 34,
    CmdStartPlc = 64,
    CmdStopPlc = 65,
    CmdWriteClock = 112,
};

inline constexpr uint32_t HostNad = 1;          // the host always sends as NAD 1
inline constexpr int MaxArgumentBytes = 1023;   // arguments of one command frame
inline constexpr int CommandOverhead = 19;      // frame bytes around the arguments
inline constexpr int MinReplyBodyLength = 2;    // accepted reply body lengths
inline constexpr int MaxReplyBodyLength = 1024;

// s := s + ((b XOR 0x5A) * weight[i mod 16]), all modulo 65536.
void AddToChecksum(uint8_t b, uint16_t& s, int i);
// Checksum of the first n bytes (index 0 at the first byte); the start value when n <= 0.
uint16_t BufferChecksum(const uint8_t* buffer, int n, uint16_t start);
uint16_t BufferChecksum(const QByteArray& bytes, uint16_t start);
// Checksum of the text's single-byte characters; turns a password into its password code.
uint16_t TextChecksum(const QString& text, uint16_t start);

// Decodes hexadecimal text pairwise into buffer and clears the rest of it, to its full size.
// Blanks are removed; with pad, an odd text gets a '0' before its last character.
// Never writes past size bytes: pairs beyond the buffer are not decoded.
// Characters that are no hexadecimal digit count as 0. Gives the number of bytes stored.
int HexToBytes(const QByteArray& text, uint8_t* buffer, int size, bool pad);

// Replaces the n argument bytes held in frame by the whole command frame (n + 19 bytes).
// False, and frame unchanged, when there are more than 1023 argument bytes.
bool BuildFrame(uint32_t source, uint32_t destination, uint8_t command, QByteArray& frame, uint16_t passwordCode);

// The fields of an accepted frame.
struct TParsedFrame {
    QByteArray FrameText;   // the whole frame as hexadecimal text
    uint32_t Source = 0;
    uint32_t Destination = 0;
    uint8_t ReplyCode = 0;
    uint8_t Auxiliary = 0;
    QByteArray Data;   // reply data as hexadecimal text, empty when L = 2
};

// Why a received reply is not taken, one reason for each. CheckFrame finds the first four;
// the link the others, from the frame's fields and from how its wait ends.
enum class TRejection : uint8_t {
    None,
    Noise,        // bytes that begin no frame
    Incomplete,   // a frame began and has not all come (yet)
    BadLength,    // body length outside 2..1024
    BadChecksum,
    TooLong,       // a datagram longer than the receive buffer
    ErrorCode,     // a reply code other than acknowledge
    TimeOut,       // nothing came before the wait ended
    WrongSender,   // from another address or port than the pinned unit's
    Stopped,       // the wait ended at a stop request
};

// "noise", "incomplete frame", ..., "time-out"; empty for None.
QString RejectionText(TRejection rejection);

// Checks the frame at the front of the reception text. When it is accepted (None), its
// text is removed from the front (whatever follows stays) and the fields are filled. When
// it is not, text and fields are left as they were, and the result says why: Noise when
// the text does not start with AA55, Incomplete when it is shorter than 28 characters or
// than its frame, BadLength, BadChecksum.
TRejection CheckFrame(QByteArray& text, TParsedFrame& frame);
// CheckFrame accepts the frame.
bool ParseFrame(QByteArray& text, TParsedFrame& frame);

// "acknowledge", "no valid program", ..., "unknown error (13)".
QString ReplyCodeText(uint8_t code);

// Erase-area code for a PLC program image of the given size: 4 when it holds anything.
int ProgramEraseArea(int32_t size);

// Bytes as upper-case hexadecimal text, two characters per byte, no separators.
QByteArray BytesToHex(const QByteArray& bytes);
