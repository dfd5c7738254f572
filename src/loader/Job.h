// Job: what a unit is to get, as one plain value: the files, the settings written into its
// configuration, where its serial number comes from, and what follows the write. A recipe,
// orvel-loader's options and the main window's inputs each become one in one place; the send
// and verify sequences read nothing else.
#pragma once

#include <QString>

#include <array>
#include <cstdint>
#include <optional>

// The unit's network setting.
struct TIpSetting {
    bool Dhcp = true;
    // Dotted quads as given; a static address (Dhcp false) has them.
    QString Address, Mask, Gateway, Dns;

    bool operator==(const TIpSetting&) const = default;
};

// The settings written into a unit's configuration; one that is absent stays as the unit has it.
struct TUnitSettings {
    std::optional<QString> NadAlias;    // decimal text; empty: 0, no alias
    std::optional<int> HardwareModel;   // an item of HardwareModels; -1: the text named none
    std::optional<int> IEXBaudRate;     // an item of IEXBaudRates; -1: none chosen, the unit's stays
    std::optional<TIpSetting> Ip;

    bool Any() const { return NadAlias || HardwareModel || IEXBaudRate || Ip; }
    bool operator==(const TUnitSettings&) const = default;
};

// Each setting's own check, for a front end that shows which one is wrong.
bool NadAliasValid(const QString& text);
// Address, mask, gateway and DNS server, each valid; all are with DHCP.
std::array<bool, 4> IpFieldsValid(const TIpSetting& ip);
// Whether every setting given can be written as given: a send refuses the job otherwise.
bool SettingsValid(const TUnitSettings& settings);

struct TJobFile {
    QString Path;
    // The SHA-256 the bytes a unit gets must have, lower-case hex (a recipe's); empty: the
    // file as it is when loaded.
    QString Sha256;

    bool operator==(const TJobFile&) const = default;
};

// Where the unit's serial number comes from. A number handed out by a counter several units
// share (a series, or a number that goes on after each unit) is taken at the moment the unit
// is about to receive it: the runner turns this into that counter.
struct TSerialSource {
    bool Write = false;           // a serial number goes into the unit
    int32_t Number = -1;          // the number given (the main window's box, --serial); -1: none
    bool Autoincrement = false;   // the number goes on by one after each unit, kept in the settings
    QString Series;               // the record store's series the numbers come from; empty: Number

    bool operator==(const TSerialSource&) const = default;
};

struct TJob {
    std::optional<TJobFile> Kernel;
    std::optional<TJobFile> Program;
    TUnitSettings Settings;
    TSerialSource Serial;
    bool Verify = false;     // read the unit back after its send
    bool StartPlc = false;   // after the send
    bool SetClock = false;   // after the send

    // A file or a setting to compare with what the unit holds.
    bool Verifiable() const { return Kernel || Program || Settings.Any(); }
    // Something a send does to the unit: writes into it, or starts its PLC or sets its clock.
    bool DoesAnything() const { return Verifiable() || Serial.Write || StartPlc || SetClock; }
    bool operator==(const TJob&) const = default;
};

// over's files and settings replace base's; its start, clock and verify are added to base's.
// The serial source stays base's: each front end has its own rules for naming one.
TJob LaidOver(const TJob& over, TJob base);
