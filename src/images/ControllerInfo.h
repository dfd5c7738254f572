// ControllerInfo: what a controller reports about itself, and the texts the window's
// Information group shows for it.
//
// Four pieces make the record: the loader's identification record (block 4), the PLC
// status, the kernel header at KernelAddress + the KernelHeaderOffset of its platform and the
// program header at ProgramAddress. Reading them over the link is the loader's job; turning
// them into texts is done here, free of widgets.
#pragma once

#include "hCodeMemory.h"

#include <QByteArray>
#include <QString>

#include <array>
#include <cstdint>

// Offsets in brackets, little-endian; the Reserved bytes go back to the unit as they came.
inline constexpr int LoaderRecordSize = 24;
inline constexpr int PlcStatusSize = 2;

struct TLoaderRecord {
    uint16_t LoaderMajor = 0;              // [0] 2 = XA, 3 = ARM, below 2 = old loader
    uint16_t LoaderMinor = 0;              // [2]
    std::array<uint8_t, 8> Reserved4{};    // [4]
    uint32_t Serial = 0;                   // [12] 0xFFFFFFFF: no serial number yet
    std::array<uint8_t, 8> Reserved16{};   // [16]

    bool operator==(const TLoaderRecord&) const = default;
};

struct TPlcStatus {
    uint8_t Mode = 0;       // [0] 0 loader, 1 kernel, 2 (no name)
    uint8_t PlcState = 0;   // [1] index into PlcStateNames

    bool operator==(const TPlcStatus&) const = default;
};

// Each record from its size of bytes at offset (bytes past the end read as 0), and back
// into exactly its size of bytes.
TLoaderRecord LoaderRecordFromBytes(const QByteArray& bytes, int offset = 0);
QByteArray LoaderRecordToBytes(const TLoaderRecord& record);
TPlcStatus PlcStatusFromBytes(const QByteArray& bytes, int offset = 0);
QByteArray PlcStatusToBytes(const TPlcStatus& status);

inline constexpr uint32_t NoSerialNumber = 0xFFFFFFFF;

struct TControllerInfo {
    TLoaderRecord Identification;
    TPlcStatus Status;
    TKernelHeader KernelHeader;
    TProgramHeader ProgramHeader;
    bool Identified = false;
    bool KernelHeaderValid = false;
    // Where its kernel header lies: set when a loader of major version 2 or more identifies
    // itself; an old loader, or no answer, leaves the platform of the last one.
    TPlatform Platform = TPlatform::Unknown;

    bool IsXaPlatform() const { return Identified && Identification.LoaderMajor == 2; }
    bool IsOldLoader() const { return Identified && Identification.LoaderMajor < 2; }
    bool HoldsProgram() const { return IsSealedProgramHeader(ProgramHeader.Marker, ProgramHeader.Kind); }
};

// The value texts of the Information group, one per value label.
struct TInfoPanelTexts {
    QString Platform, PLCStatus, IPAddress, LoaderVersion, Serial;
    QString KernelVersion, NADAlias, HardwareModel, IEXBaudrate, KernelTransferDate;
    QString PLCProgram, FileSystem, PLCProgramTransferDate, ModbusAddress;
};

// The texts ShowControllerInfo puts into the panel; targetIP is the link's TargetIP.
TInfoPanelTexts ControllerInfoTexts(const TControllerInfo& info, const QString& targetIP);
// What RefreshPlcStatus shows after a successful status read.
QString PlcStatusText(const TPlcStatus& status);
// "yyyy-mm-dd hh:nn:ss", "none" for 0 and 0xFFFFFFFF, "error" when it does not unpack.
QString FileDateText(uint32_t packed);
QString HardwareModelName(uint16_t code);
QString IEXBaudRateText(uint16_t code);
QString PlatformText(const TControllerInfo& info);
