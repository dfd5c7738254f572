// fMain: TfmMain, the program's only main window.
//
//   Configuration group  adapter, direct connection, password, controller NAD
//   settings inputs      serial number, kernel and program files, start/RTC, unit settings
//                        -> input checks (status icons, ParametersValid)
//                        -> InputsJob(): the operator's choices as a job
//   Status group         progress bars, message log, verify icons: what the session runner
//                        reports, shown as it comes
//   footer               the operation buttons, bound to their actions
//
// The window is a view. Its TSessionRunner owns the controller link and the loader session on
// a worker thread; the window gives it the operator's choices as plain values (a connection,
// a discovery, an operation with its inputs) and shows the runner's signals. The window's
// thread never waits for a controller, so it paints and answers at once throughout; while an
// operation runs, its frame (RunOperation to the end of the connection that follows) keeps
// the controls that could reach into it disabled. Nothing is sent while the window is created.
//
// The window knows no station window: Station... only asks for one (StationWindowWanted).
// What a station takes from this window (its inputs, its link, the recipe its controls show,
// verify after send, whether its own operation runs) is in the job model, Job(), which the
// station window reads; while a station runs, as the model says, the window's own operations
// are disabled, and a close asks the station window to close too and waits for it. Save recipe
// and Open recipe keep the files and unit settings as a recipe, and set them from one.
//
// Every operation is a one-unit job of the runner, on the path a station's units take: a Send
// claims its serial number (the window's own setting) in the default record store (an SQLite
// file in the user's data folder, opened at the first Send) and leaves a record of its unit
// there, or in the store's fallback file while the store cannot take it.
#pragma once

#include "JobModel.h"
#include "Recipe.h"
#include "SessionRunner.h"
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

class TfmMain : public QMainWindow {
    Q_OBJECT
public:
    explicit TfmMain(QWidget* parent = nullptr);
    // FormDestroy: stores the serial number.
    ~TfmMain() override;

    // The dialogs main() creates after the window; the window shows them.
    void SetDialogs(TfmAbout* about, TfmPassword* password, TfmHelp* help);

    // ---- what the runner reports, shown ----
    // One message log line with the "yyyy-mm-dd hh:nn:ss: " stamp.
    void AddMessage(const QString& text);
    void ClearVerifyIcons();
    void ShowVerifyResult(TVerifyCheck check, bool passed);
    void ShowPlcStatus(const QString& text);
    void ShowProgress(int current, int currentMaximum, int total, int totalMaximum);
    // After an automatic increment: the box shows the next number (stored by the runner).
    void SerialNumberAdvanced(int32_t next);
    void ShowError(const QString& text);
    void ClearInfoPanel();

    // The operation frame's lock: while an operation runs, nothing but Help, About and Close
    // takes input, so that nothing reaches into it (a file loaded over the image being
    // written, a dump started inside a send).
    void DisableControls();
    void EnableControls();

    void ResetStatus();
    void ShowImageFileStates();

    // ---- input checks: each colours its icons and says whether its inputs are usable ----
    bool CheckNadAlias();
    bool CheckHardwareModel();
    bool CheckIpSettings();
    bool CheckParameters();

    // The job the operator's choices give, read from the controls now; the window's own send
    // never verifies after it.
    TJob InputsJob() const;
    // What this window shares with a station window; it lives as long as the window.
    TJobModel& Job() { return FJob; }

    void LoadSettings();
    void SaveSettings();

    // ---- adapter choice ----
    enum TAdapterState { NeedsBinding = 1, Bound = 2 };
    void RefreshAdapters();

    // ---- window state ----
    int32_t SerialNumber = 0;       // edSerialNumber as a number, -1 when it holds none
    bool ParametersValid = false;   // the last CheckParameters
    QString Password;               // never stored, logged or sent as text
    TAdapterState AdapterState = NeedsBinding;
    // The link's port, time-out, attempts and password code, given to the runner with every
    // connection and operation.
    TLinkOptions LinkOptions;
    TSessionRunner* Runner = nullptr;
    TSessionState SessionState;   // as the runner last reported it
    std::unique_ptr<TEthernetAdapterInfoList> Adapters;

    // ---- dialogs the tests answer in place of the operator ----
    // The Browse buttons' open dialog: the chosen file, or empty text when cancelled.
    std::function<QString()> OpenFileName;
    // The dump save dialog, preset to a default name: the chosen file, or empty text.
    std::function<QString(const QString& defaultName)> SaveFileName;
    // A file error in a message box.
    std::function<void(const QString& text)> ErrorMessage;
    // Save recipe: its name and the series its serial numbers come from (empty: none);
    // false when cancelled.
    std::function<bool(QString& name, QString& series)> AskRecipeName;
    // The recipe's file to write, preset to the recipe's name, and the one to open; empty:
    // cancelled.
    std::function<QString(const QString& name)> SaveRecipeFileName;
    std::function<QString()> OpenRecipeFileName;
    // The window is being closed while a station runs: the station window is asked to close
    // (its station ends as the operator chooses, and keeps every record); false when the
    // operator chose to go on with the station. Set by the windows' owner; none: the window
    // waits for the station.
    std::function<bool()> CloseStationWindow;

Q_SIGNALS:
    // Station... was clicked: the station window is to be shown.
    void StationWindowWanted();

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
    void btnSaveRecipeClick();
    void btnOpenRecipeClick();

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
    // Asks the runner to bind the link to the chosen adapter when needed and to connect to
    // the chosen NAD; a connection under way gives way to it.
    void Connect();
    TConnectOrder ConnectOrder() const;
    void ShowConnection(const TConnectResult& result);
    // The runner bound the link, or looked at its binding, for a connection or a discovery.
    void ShowBinding(const TBinding& binding);
    void CheckBinding(const TBinding& binding);
    bool AdapterListOpen() const;
    void ShowInfoPanel(const TInfoPanelTexts& texts);
    void ShowDiscovered(const QStringList& nads);
    void ShowImageFiles(TFileState kernel, TFileState program);
    // The frame every operation button runs in: the status is reset, the job is made (a dump
    // asks for its file here), the runner runs it, then the window connects again to show the
    // controller as the operation left it; the frame ends when the runner is idle.
    void RunOperation(const std::function<TUnitJob()>& makeJob, const std::optional<TRecipe>& recipe = std::nullopt);
    // The operation has ended (a send's record is kept already): the closing connection.
    void OperationFinished();
    void RunnerIdle();
    void ConnectRunner();
    // The link a station uses: LinkOptions on the adapter chosen now.
    TLinkOptions StationLink() const;
    // A station runs, or has ended: while it runs, the window's own operations are disabled.
    void ShowStationRunning(bool running);
    // Enables each input as its box and the running operation allow.
    void UpdateInputStates();
    // The cbHardwareModel item its text names, whatever the case; -1 when it names none.
    int HardwareModelIndex() const;
    // The unit settings the controls give now.
    TUnitSettings InputsSettings() const;
    // Sets the file, unit setting, start and clock controls as job has them (an opened
    // recipe); the serial number's stay.
    void ShowJob(const TJob& job);
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
    // The operation, which runs from RunOperation's start to the end of its Connect as FJob
    // says, has ended itself: only its Connect is left.
    bool FOperationEnded = false;
    bool FCloseWhenDone = false;                      // the operator closed the window while it was busy
    TFileState FKernelFile = TFileState::NotLoaded;   // as the runner last reported them
    TFileState FProgramFile = TFileState::NotLoaded;
    TEthernetAdapterInfo FLinkAdapter;   // the adapter the link was last bound to
    TfmAbout* fmAbout = nullptr;
    TfmPassword* fmPassword = nullptr;
    TfmHelp* fmHelp = nullptr;
    TJobModel FJob;
};
