// fMain: TfmMain, the program's only main window.
//
//   Configuration group  adapter, direct connection, password, controller NAD
//   settings inputs      serial number, kernel and program files, start/RTC, unit settings
//                        -> input checks (status icons, ParametersValid)
//                        -> OperationInputs(): the operator's choices as plain values
//   Status group         progress bars, message log, verify icons: the window services the
//                        loader session reports through (TOperationHost)
//   footer               the operation buttons, bound to their actions
//
// The window owns the controller link, the loader session that runs the operations over it
// and the host's adapter list. The operations and the connection to a controller run in the
// handlers below; nothing is sent while the window is created.
//
// Every Send leaves a record of its unit in the default record store (an SQLite file in the
// user's data folder, opened at the first Send), or in the store's fallback file while the
// store cannot take it. The serial number still comes from the window's own setting.
#pragma once

#include "LoaderSession.h"
#include "OperationHost.h"
#include "RecordKeeper.h"
#include "uCommunication.h"
#include "uEthernetUtils.h"

#include <QMainWindow>
#include <QPixmap>

#include <array>
#include <functional>
#include <memory>

class QFileDialog;
class QLabel;
class QLineEdit;
class QPushButton;
class TfmAbout;
class TfmHelp;
class TfmPassword;

namespace Ui {
class fmMain;
}

// The four status pictures: not in use or not known yet, good, bad, good with a reservation.
enum class TIconState { Grey, Green, Red, Yellow };

class TfmMain : public QMainWindow, public TOperationHost {
    Q_OBJECT
public:
    explicit TfmMain(QWidget* parent = nullptr);
    // FormDestroy: stores the serial number.
    ~TfmMain() override;

    // The dialogs main() creates after the window; the window shows them.
    void SetDialogs(TfmAbout* about, TfmPassword* password, TfmHelp* help);

    // ---- window services (TOperationHost) ----
    void AddMessage(const QString& text) override;
    void DisableControls() override;
    void EnableControls() override;
    void ClearVerifyIcons() override;
    void ShowVerifyResult(TVerifyCheck check, bool passed) override;
    void ShowPlcStatus(const QString& text) override;
    void ShowProgress(int current, int currentMaximum, int total, int totalMaximum) override;
    QString AskSaveFileName(const QString& defaultName) override;
    void SerialNumberAdvanced(int32_t next) override;
    void ShowError(const QString& text) override;
    void ClearInfoPanel() override;

    void ResetStatus();
    void ShowImageFileStates();

    // ---- input checks: each colours its icons and says whether its inputs are usable ----
    bool CheckNadAlias();
    bool CheckHardwareModel();
    bool CheckIpSettings();
    bool CheckParameters();

    // The operator's choices as the operations take them, read from the controls now.
    TOperationInputs OperationInputs() const;

    void LoadSettings();
    void SaveSettings();
    // The number a send writes, entered first in the record store's set of given numbers, so
    // that no station or other window gives it too: the box's number as typed (refused in
    // words when it was given already), or with Autoincrement the next one from the stored
    // counter that nobody gave yet (shown in the box and said in the log when it is not the
    // box's); -1 and why when there is none.
    int32_t TakeSerialNumber(int32_t wanted, bool autoincrement, QString& why);

    // ---- adapter choice ----
    enum TAdapterState { NeedsBinding = 1, Bound = 2 };
    void RefreshAdapters();

    // ---- window state ----
    int32_t SerialNumber = 0;       // edSerialNumber as a number, -1 when it holds none
    bool ParametersValid = false;   // the last CheckParameters
    QString Password;               // never stored, logged or sent as text
    TAdapterState AdapterState = NeedsBinding;
    TCommunicator* Link = nullptr;
    std::unique_ptr<TLoaderSession> Session;
    std::unique_ptr<TEthernetAdapterInfoList> Adapters;

    // ---- dialogs the tests answer in place of the operator ----
    // The Browse buttons' open dialog: the chosen file, or empty text when cancelled.
    std::function<QString()> OpenFileName;
    // The dump save dialog, preset to a default name: the chosen file, or empty text.
    std::function<QString(const QString& defaultName)> SaveFileName;
    // A file error in a message box.
    std::function<void(const QString& text)> ErrorMessage;

public Q_SLOTS:
    // Runs while the window is idle: the operation buttons follow the connection.
    void alActionsUpdate();

private Q_SLOTS:
    void acSendExecute();
    void acVerifyExecute();
    void acStartExecute();
    void acStopExecute();
    void acSaveKernelExecute();
    void acSaveProgramExecute();
    void acCloseExecute();
    void acHelpExecute();
    void acAboutExecute();
    void btnPasswordClick();

    void ckSerialNumberClick();
    void edSerialNumberChange();
    void ckKernelClick();
    void ckPLCProgramClick();
    void leKernelBinaryChange(QLineEdit* edit);
    void btnBrowseTamixClick(QPushButton* button);
    void ckSetNadAliasClick();
    void ckSetHardwareModelClick();
    void ckSetIEXBaudRateClick();
    void ckSetIPAddressClick();
    void rbDHCPClick();
    // edNADAliasChange, cbHardwareModelChange, cbIEXBaudRateChange and edIPAddressChange:
    // every change of a unit setting checks the settings again.
    void SettingsInputChange();

    void cbEthAdapterDropDown();
    void cbEthAdapterChange();
    void ckDirectConnectionClick();
    void cbNADDropDown();
    void cbNADChange();
    void ckNadNotAssignedClick();
    void btnRefreshClick();

private:
    // ---- connection to the chosen controller ----
    void Reconnect();
    // Binds the link to the chosen adapter, checks the binding and connects to the chosen
    // NAD. A call while another connection waits for its controller takes over from it.
    void Connect();
    void ShowConnection(const TConnectResult& result, bool newest);
    void BindAdapter();
    void CheckBinding();
    bool AdapterListOpen() const;
    void ShowInfoPanel(const TInfoPanelTexts& texts);
    // The frame every operation button runs in: the status is reset, the operation runs,
    // then the window connects again to show the controller as the operation left it.
    void RunOperation(const std::function<void()>& operation);
    // The Send: the unit as connected, the send, and the unit's record kept.
    void SendAndRecord();
    void KeepRecord(const TUnitRecord& record);
    // The record store and its fallback file, opened at the first Send and again at every
    // Send while it does not open.
    TRecordKeeper& Records();
    // Enables each input as its box and the running operation allow.
    void UpdateInputStates();
    // The cbHardwareModel item its text names, whatever the case; -1 when it names none.
    int HardwareModelIndex() const;
    void closeEvent(QCloseEvent* event) override;

    void FormCreate();
    void ConnectHandlers();
    void SetIcon(QLabel* icon, TIconState state);
    // ckKernelClick and ckPLCProgramClick: the file row follows its box.
    void FileBoxClick();
    QString DefaultOpenFileName();
    QString DefaultSaveFileName(const QString& defaultName);

    std::unique_ptr<Ui::fmMain> ui;
    std::array<QPixmap, 4> FStatusImages;   // by TIconState
    QFileDialog* dlgOpenFile = nullptr;
    QFileDialog* dlgSaveFile = nullptr;
    QString FStartFolder;
    bool FControlsDisabled = false;
    bool FOperationRunning = false;   // from RunOperation's start to the end of its Connect
    bool FCloseWhenDone = false;      // the operator closed the window while it was busy
    TfmAbout* fmAbout = nullptr;
    TfmPassword* fmPassword = nullptr;
    TfmHelp* fmHelp = nullptr;
    QString FLastMessage;                      // the last message log line, for the unit's record
    std::unique_ptr<TRecordKeeper> FRecords;   // from the first Send on
};
