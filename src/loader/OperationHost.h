// OperationHost: what the loader operations need from a front end, and the choices they
// take from it as plain values.
//
// The sequences (connect, send, verify, start/stop, dumps) run on a runner's worker thread
// and report through TOperationHost: message log lines, the PLC status label, the verify
// icons, the progress bars, the serial number shown. The runners implement it with queued
// signals (nothing on the worker touches a widget); the tests use a recording fake. The
// operator's inputs reach the sequences as TOperationInputs, read from the controls at the
// moment an operation starts; a dump's file name is asked before it starts.
#pragma once

#include <QString>

#include <cstdint>
#include <functional>

enum class TVerifyCheck { Config, Kernel, Program };

class TOperationHost {
public:
    virtual ~TOperationHost() = default;

    // One message log line; the host adds the "yyyy-mm-dd hh:nn:ss: " stamp and shows it at once.
    virtual void AddMessage(const QString& text) = 0;
    virtual void ClearVerifyIcons() = 0;
    virtual void ShowVerifyResult(TVerifyCheck check, bool passed) = 0;
    // lblInfoPLCStatus, right away (the send shows "loader" as soon as the loader runs).
    virtual void ShowPlcStatus(const QString& text) = 0;
    // The two bars: pbCurrent (position, maximum) and pbTotal (position, maximum).
    virtual void ShowProgress(int current, int currentMaximum, int total, int totalMaximum) = 0;
    // Where a dump goes: the file the operator chose before the operation started (the save
    // dialog offers defaultName), or the job's; empty text when the operator cancelled.
    virtual QString AskSaveFileName(const QString& defaultName) = 0;
    // After an automatic increment: the serial number box shows the next number, which is
    // then stored in the settings.
    virtual void SerialNumberAdvanced(int32_t next) = 0;
    // A file error the operator must see beyond the log (image file, production log, dump file).
    virtual void ShowError(const QString& text) = 0;
    // After a send: the Information group is emptied until the Connect that follows fills it.
    virtual void ClearInfoPanel() {}
};

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
    QString KernelVersionShown;    // lblInfoKernelVersion when the operation starts
};
