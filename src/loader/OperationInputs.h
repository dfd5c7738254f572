// OperationInputs: the operator's choices as the loader operations take them, as plain values
// read when an operation starts.
#pragma once

#include <QString>

#include <cstdint>
#include <functional>

// The operator's choices, read from the window when an operation starts.
struct TOperationInputs {
    bool SerialNumberChecked = false;   // ckSerialNumber
    int32_t SerialNumber = 0;           // edSerialNumber as a number, -1 when it is none
    // When set, the serial number comes from here instead, at the moment the unit is about
    // to receive it: a counter that several units share hands out a number only to a unit
    // that takes it. Below 1: none to give, and why in words when the source can say.
    std::function<int32_t(QString& why)> TakeSerialNumber;
    bool Autoincrement = false;      // ckAutoincrement
    bool KernelChecked = false;      // ckKernel
    QString KernelPath;              // leKernelBinary
    bool ProgramChecked = false;     // ckPLCProgram
    QString ProgramPath;             // leTamixBinary
    bool StartPlc = false;           // ckStartPLC
    bool SetRtc = false;             // ckSetRTC
    bool SetNadAlias = false;        // ckSetNadAlias
    QString NadAliasText;            // edNADAlias
    bool SetHardwareModel = false;   // ckSetHardwareModel
    int HardwareModelIndex = -1;     // cbHardwareModel, -1: nothing selected
    bool SetIEXBaudRate = false;     // ckSetIEXBaudRate
    int IEXBaudRateIndex = -1;       // cbIEXBaudRate, -1: nothing selected
    bool SetIPAddress = false;       // ckSetIPAddress
    bool DHCP = true;                // rbDHCP selected
    QString IPAddress, SubnetMask, Gateway, DNSServer;
    bool ParametersValid = true;   // the window's last CheckParameters
};
