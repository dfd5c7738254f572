#include "fMain.h"
#include "ui_fMain.h"

#include "fAbout.h"
#include "fHelp.h"
#include "fPassword.h"
#include "ImageFiles.h"
#include "IntegerText.h"
#include "Recipe.h"
#include "SettingNames.h"
#include "SettingsStore.h"
#include "uABus.h"
#include "uCommon.h"

#include <QCloseEvent>
#include <QDir>
#include <QFileDialog>
#include <QGuiApplication>
#include <QInputDialog>
#include <QMessageBox>
#include <QAbstractItemView>
#include <QTimer>

#include <algorithm>

namespace {

// How often the idle update of the operation buttons runs.
constexpr int ActionsUpdateInterval = 50;

// Empties an edit without running its change handler: the check that empties it is the
// one the handler would run again.
void ClearQuietly(QLineEdit* edit)
{
    const QSignalBlocker blocker(edit);
    edit->clear();
}

// A progress bar with maximum 0 turns into a busy indicator, and one that is given a
// position outside its range keeps its old one; the bars show the figures they get as
// far as they can instead.
void ShowBar(QProgressBar* bar, int position, int maximum)
{
    const int top = std::max(maximum, 1);
    bar->setRange(0, top);
    bar->setValue(std::clamp(position, 0, top));
}

// A push button that shows and runs an action, as a tool button does with its default
// action: caption, hint and enabled state follow the action; a click triggers it.
void BindButton(QPushButton* button, QAction* action)
{
    const auto follow = [button, action] {
        button->setText(action->text());
        button->setToolTip(action->statusTip());
        button->setStatusTip(action->statusTip());
        button->setEnabled(action->isEnabled());
    };
    follow();
    QObject::connect(action, &QAction::changed, button, follow);
    QObject::connect(button, &QPushButton::clicked, action, &QAction::trigger);
}

// One operation of the window on the unit it is connected to.
TUnitJob WindowJob(TUnitOperation operation, const TJob& what = {}, const QString& dumpPath = {})
{
    TUnitJob job;
    job.Operation = operation;
    job.What = what;
    job.DumpPath = dumpPath;
    return job;
}

}   // namespace

TfmMain::TfmMain(QWidget* parent) : QMainWindow(parent), ui(std::make_unique<Ui::fmMain>())
{
    InitPictureResources();
    ui->setupUi(this);
    // The lists come from the one table of names; nothing is chosen until the operator does.
    for (const auto& [box, table] : {std::pair{ui->cbHardwareModel, TNameTable(HardwareModels)},
                                     std::pair{ui->cbIEXBaudRate, TNameTable(IEXBaudRates)}}) {
        box->addItems(Names(table));
        box->setCurrentIndex(-1);
    }
    setFixedSize(size());
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint);

    BindButton(ui->btnSend, ui->acSend);
    BindButton(ui->btnVerify, ui->acVerify);
    BindButton(ui->btnStart, ui->acStart);
    BindButton(ui->btnStop, ui->acStop);
    BindButton(ui->btnSaveKernel, ui->acSaveKernel);
    BindButton(ui->btnSaveProgram, ui->acSaveProgram);
    BindButton(ui->btnClose, ui->acClose);
    BindButton(ui->btnHelp, ui->acHelp);
    BindButton(ui->btnAbout, ui->acAbout);

    OpenFileName = [this] { return DefaultOpenFileName(); };
    SaveFileName = [this](const QString& defaultName) { return DefaultSaveFileName(defaultName); };
    ErrorMessage = [this](const QString& text) { QMessageBox::critical(this, windowTitle(), text); };
    AskRecipeName = [this](QString& name, QString& series) {
        bool ok = false;
        name = QInputDialog::getText(this, QStringLiteral("Save recipe"), QStringLiteral("Recipe name:"),
                                     QLineEdit::Normal, QString(), &ok)
                   .trimmed();
        if (!ok || name.isEmpty())
            return false;
        series = QInputDialog::getText(this, QStringLiteral("Save recipe"),
                                       QStringLiteral("Series of the record store the serial numbers come from "
                                                      "(empty: no serial number):"),
                                       QLineEdit::Normal, QString(), &ok)
                     .trimmed();
        return ok;
    };
    SaveRecipeFileName = [this](const QString& name) {
        return QFileDialog::getSaveFileName(this, QStringLiteral("Save recipe"),
                                            QDir(FStartFolder).filePath(name + QStringLiteral(".json")),
                                            QStringLiteral("Recipe (*.json)"));
    };
    OpenRecipeFileName = [this] {
        return QFileDialog::getOpenFileName(this, QStringLiteral("Open recipe"), FStartFolder,
                                            QStringLiteral("Recipe (*.json)"));
    };

    FJob.SetSources([this] { return InputsJob(); }, [this] { return StationLink(); });
    ConnectHandlers();
    FormCreate();

    auto* actionsUpdate = new QTimer(this);
    connect(actionsUpdate, &QTimer::timeout, this, &TfmMain::alActionsUpdate);
    actionsUpdate->start(ActionsUpdateInterval);
}

TfmMain::~TfmMain()
{
    SaveSettings();
    // The runner's thread ends before the widgets it reports to go.
    disconnect(Runner, nullptr, this, nullptr);
    delete Runner;
}

void TfmMain::SetDialogs(TfmAbout* about, TfmPassword* password, TfmHelp* help)
{
    fmAbout = about;
    fmPassword = password;
    fmHelp = help;
}

void TfmMain::ConnectHandlers()
{
    connect(ui->acSend, &QAction::triggered, this, &TfmMain::acSendExecute);
    connect(ui->acVerify, &QAction::triggered, this, &TfmMain::acVerifyExecute);
    connect(ui->acStart, &QAction::triggered, this, &TfmMain::acStartExecute);
    connect(ui->acStop, &QAction::triggered, this, &TfmMain::acStopExecute);
    connect(ui->acSaveKernel, &QAction::triggered, this, &TfmMain::acSaveKernelExecute);
    connect(ui->acSaveProgram, &QAction::triggered, this, &TfmMain::acSaveProgramExecute);
    connect(ui->acClose, &QAction::triggered, this, &TfmMain::acCloseExecute);
    connect(ui->acHelp, &QAction::triggered, this, &TfmMain::acHelpExecute);
    connect(ui->acAbout, &QAction::triggered, this, &TfmMain::acAboutExecute);
    connect(ui->btnPassword, &QPushButton::clicked, this, &TfmMain::btnPasswordClick);
    connect(ui->btnStation, &QPushButton::clicked, this, &TfmMain::StationWindowWanted);
    connect(&FJob, &TJobModel::StationRunningChanged, this, &TfmMain::ShowStationRunning);
    connect(&FJob, &TJobModel::SerialNumberAdvanced, this, &TfmMain::SerialNumberAdvanced);
    connect(ui->btnSaveRecipe, &QPushButton::clicked, this, &TfmMain::btnSaveRecipeClick);
    connect(ui->btnOpenRecipe, &QPushButton::clicked, this, &TfmMain::btnOpenRecipeClick);

    // Check boxes follow toggled rather than clicked, so that a box ticked by the program
    // updates its row exactly as one ticked by the operator.
    connect(ui->ckSerialNumber, &QCheckBox::toggled, this, &TfmMain::ckSerialNumberClick);
    connect(ui->edSerialNumber, &QLineEdit::textChanged, this, &TfmMain::edSerialNumberChange);
    connect(ui->ckKernel, &QCheckBox::toggled, this, &TfmMain::ckKernelClick);
    connect(ui->ckPLCProgram, &QCheckBox::toggled, this, &TfmMain::ckPLCProgramClick);
    for (QLineEdit* edit : {ui->leKernelBinary, ui->leTamixBinary})
        connect(edit, &QLineEdit::textChanged, this, [this, edit] { leKernelBinaryChange(edit); });
    for (QPushButton* button : {ui->btnBrowseKernel, ui->btnBrowseTamix})
        connect(button, &QPushButton::clicked, this, [this, button] { btnBrowseTamixClick(button); });
    connect(ui->ckSetNadAlias, &QCheckBox::toggled, this, &TfmMain::ckSetNadAliasClick);
    connect(ui->edNADAlias, &QLineEdit::textChanged, this, &TfmMain::SettingsInputChange);
    connect(ui->ckSetHardwareModel, &QCheckBox::toggled, this, &TfmMain::ckSetHardwareModelClick);
    // A model chosen or typed is a changed input like any other: it greys the verify icons.
    connect(ui->cbHardwareModel, &QComboBox::currentTextChanged, this, &TfmMain::SettingsInputChange);
    connect(ui->ckSetIEXBaudRate, &QCheckBox::toggled, this, &TfmMain::ckSetIEXBaudRateClick);
    connect(ui->cbIEXBaudRate, &QComboBox::currentIndexChanged, this, &TfmMain::SettingsInputChange);
    connect(ui->ckSetIPAddress, &QCheckBox::toggled, this, &TfmMain::ckSetIPAddressClick);
    // Switching between the two radio buttons always toggles rbDHCP.
    connect(ui->rbDHCP, &QRadioButton::toggled, this, &TfmMain::rbDHCPClick);
    for (QLineEdit* edit : {ui->edIPAddress, ui->edSubnetMask, ui->edGateway, ui->edDNSServer})
        connect(edit, &QLineEdit::textChanged, this, &TfmMain::SettingsInputChange);

    connect(ui->cbEthAdapter, &TDropDownComboBox::dropDown, this, &TfmMain::cbEthAdapterDropDown);
    connect(ui->cbEthAdapter, &QComboBox::activated, this, &TfmMain::cbEthAdapterChange);
    connect(ui->ckDirectConnection, &QCheckBox::clicked, this, &TfmMain::ckDirectConnectionClick);
    connect(ui->cbNAD, &TDropDownComboBox::dropDown, this, &TfmMain::cbNADDropDown);
    connect(ui->cbNAD, &QComboBox::currentTextChanged, this, &TfmMain::cbNADChange);
    connect(ui->ckNadNotAssigned, &QCheckBox::clicked, this, &TfmMain::ckNadNotAssignedClick);
    connect(ui->btnRefresh, &QPushButton::clicked, this, &TfmMain::btnRefreshClick);
}

void TfmMain::FormCreate()
{
    // The header and the separator paint their own colours, not the themed background.
    for (auto [panel, colour] :
         {std::pair{ui->pnlHeader, QColor(Qt::white)}, std::pair{ui->pnlSeparator, QColor(Qt::gray)}}) {
        QPalette palette = panel->palette();
        palette.setColor(QPalette::Window, colour);
        panel->setPalette(palette);
        panel->setAutoFillBackground(true);
    }

    setWindowTitle(windowTitle() + QStringLiteral(" v") + GetVersionText(3));
    QGuiApplication::setApplicationDisplayName(windowTitle());

    Password.clear();
    SerialNumber = 0;
    LoadSettings();
    if (SerialNumber != -1)
        ui->edSerialNumber->setText(QString::number(SerialNumber));
    ParametersValid = false;

    FStatusImages = {QPixmap(QStringLiteral(":/GREY")), QPixmap(QStringLiteral(":/GREEN")),
                     QPixmap(QStringLiteral(":/RED")), QPixmap(QStringLiteral(":/YELLOW"))};
    ClearInfoPanel();
    for (QLabel* icon : {ui->imEthernet, ui->imOrvel, ui->imNADAlias, ui->imHardwareModel, ui->imIPAddress,
                         ui->imSubnetMask, ui->imGateway, ui->imDNSServer})
        SetIcon(icon, TIconState::Grey);
    ClearVerifyIcons();

    // The runner comes before the click handlers below, which ask it for the file states.
    // Creating it sends nothing.
    Runner = new TSessionRunner(this);
    ConnectRunner();
    FLinkAdapter.DetectLocal();

    ckSerialNumberClick();
    ckKernelClick();
    ckPLCProgramClick();
    ckSetNadAliasClick();
    ckSetHardwareModelClick();
    ckSetIEXBaudRateClick();
    ckSetIPAddressClick();

    Adapters = std::make_unique<TEthernetAdapterInfoList>();
    RefreshAdapters();

    // The file dialogs are made when first used; they start in the folder the program
    // started in.
    FStartFolder = QDir::currentPath();
    ShowImageFileStates();

    AdapterState = NeedsBinding;
}

// ---- window services ----

void TfmMain::ConnectRunner()
{
    connect(Runner, &TSessionRunner::Message, this, &TfmMain::AddMessage);
    connect(Runner, &TSessionRunner::PlcStatus, this, &TfmMain::ShowPlcStatus);
    connect(Runner, &TSessionRunner::Progress, this, &TfmMain::ShowProgress);
    connect(Runner, &TSessionRunner::VerifyIconsCleared, this, &TfmMain::ClearVerifyIcons);
    connect(Runner, &TSessionRunner::VerifyResult, this, &TfmMain::ShowVerifyResult);
    connect(Runner, &TSessionRunner::SerialNumberAdvanced, this, &TfmMain::SerialNumberAdvanced);
    connect(Runner, &TSessionRunner::SerialNumberTaken, this,
            [this](int32_t number) { ui->edSerialNumber->setText(QString::number(number)); });
    connect(Runner, &TSessionRunner::InfoPanelCleared, this, &TfmMain::ClearInfoPanel);
    connect(Runner, &TSessionRunner::FileError, this, &TfmMain::ShowError);
    connect(Runner, &TSessionRunner::FilesLoaded, this, &TfmMain::ShowImageFiles);
    connect(Runner, &TSessionRunner::Bound, this, &TfmMain::ShowBinding);
    connect(Runner, &TSessionRunner::Connected, this, &TfmMain::ShowConnection);
    connect(Runner, &TSessionRunner::Discovered, this, &TfmMain::ShowDiscovered);
    connect(Runner, &TSessionRunner::Finished, this, &TfmMain::OperationFinished);
    connect(Runner, &TSessionRunner::StateChanged, this, [this](const TSessionState& state) { SessionState = state; });
    connect(Runner, &TSessionRunner::Idle, this, &TfmMain::RunnerIdle);
}

void TfmMain::AddMessage(const QString& text)
{
    ui->meStatus->appendPlainText(MessageLogLine(QDateTime::currentDateTime(), text));
}

void TfmMain::DisableControls()
{
    FControlsDisabled = true;
    ui->btnRefresh->setEnabled(false);
    for (QAction* action : {ui->acSend, ui->acVerify, ui->acStart, ui->acStop, ui->acSaveKernel, ui->acSaveProgram})
        action->setEnabled(false);
    ui->gbConfiguration->setEnabled(false);
    UpdateInputStates();
    for (QAction* action : {ui->acHelp, ui->acAbout, ui->acClose})
        action->setEnabled(true);
}

void TfmMain::EnableControls()
{
    FControlsDisabled = false;
    ui->btnRefresh->setEnabled(true);
    for (QAction* action : {ui->acSend, ui->acVerify, ui->acStart, ui->acStop, ui->acHelp, ui->acAbout, ui->acClose})
        action->setEnabled(true);
    ui->gbConfiguration->setEnabled(true);
    UpdateInputStates();
}

void TfmMain::UpdateInputStates()
{
    const bool free = !FControlsDisabled;
    for (QWidget* box :
         std::initializer_list<QWidget*>{ui->ckSerialNumber, ui->ckKernel, ui->ckPLCProgram, ui->ckStartPLC,
                                         ui->ckSetRTC, ui->ckSetNadAlias, ui->ckSetHardwareModel, ui->ckSetIEXBaudRate,
                                         ui->ckSetIPAddress})
        box->setEnabled(free);
    ui->btnOpenRecipe->setEnabled(free);
    const bool serial = free && ui->ckSerialNumber->isChecked();
    ui->edSerialNumber->setEnabled(serial);
    ui->ckAutoincrement->setEnabled(serial);
    const bool kernel = free && ui->ckKernel->isChecked();
    ui->leKernelBinary->setEnabled(kernel);
    ui->btnBrowseKernel->setEnabled(kernel);
    const bool program = free && ui->ckPLCProgram->isChecked();
    ui->leTamixBinary->setEnabled(program);
    ui->btnBrowseTamix->setEnabled(program);
    ui->edNADAlias->setEnabled(free && ui->ckSetNadAlias->isChecked());
    ui->cbHardwareModel->setEnabled(free && ui->ckSetHardwareModel->isChecked());
    ui->cbIEXBaudRate->setEnabled(free && ui->ckSetIEXBaudRate->isChecked());
    const bool ip = free && ui->ckSetIPAddress->isChecked();
    ui->rbDHCP->setEnabled(ip);
    ui->rbStaticIP->setEnabled(ip);
    const bool staticIP = ip && !ui->rbDHCP->isChecked();
    for (QWidget* input :
         std::initializer_list<QWidget*>{ui->edIPAddress, ui->edSubnetMask, ui->edGateway, ui->edDNSServer,
                                         ui->lblIPAddress, ui->lblSubnetMask, ui->lblGateway, ui->lblDNSServer})
        input->setEnabled(staticIP);
}

void TfmMain::ClearVerifyIcons()
{
    for (QLabel* icon : {ui->imVerifyConfig, ui->imVerifyKernel, ui->imVerifyPLCProgram})
        SetIcon(icon, TIconState::Grey);
}

void TfmMain::ShowVerifyResult(TVerifyCheck check, bool passed)
{
    QLabel* icon = check == TVerifyCheck::Config   ? ui->imVerifyConfig
                   : check == TVerifyCheck::Kernel ? ui->imVerifyKernel
                                                   : ui->imVerifyPLCProgram;
    SetIcon(icon, passed ? TIconState::Green : TIconState::Red);
}

void TfmMain::ShowPlcStatus(const QString& text)
{
    ui->lblInfoPLCStatus->setText(text);
}

void TfmMain::ShowProgress(int current, int currentMaximum, int total, int totalMaximum)
{
    ShowBar(ui->pbCurrent, current, currentMaximum);
    ShowBar(ui->pbTotal, total, totalMaximum);
}

void TfmMain::SerialNumberAdvanced(int32_t next)
{
    // The runner has stored it already: the settings' lock is never waited for here.
    ui->edSerialNumber->setText(QString::number(next));
}

void TfmMain::ShowError(const QString& text)
{
    ErrorMessage(text);
}

void TfmMain::ClearInfoPanel()
{
    for (QLabel* label : ui->gbInformation->findChildren<QLabel*>()) {
        if (label->objectName().startsWith(QStringLiteral("lblInfo")))
            label->clear();
    }
}

void TfmMain::ResetStatus()
{
    ui->pbCurrent->setValue(0);
    ui->pbTotal->setValue(0);
    ui->meStatus->clear();
    ClearVerifyIcons();
}

void TfmMain::ShowImageFileStates()
{
    const auto show = [this](QCheckBox* box, TFileState state, QLabel* icon) {
        SetIcon(icon, !box->isChecked()             ? TIconState::Grey
                      : state == TFileState::Loaded ? TIconState::Green
                                                    : TIconState::Red);
    };
    show(ui->ckKernel, FKernelFile, ui->imKernel);
    show(ui->ckPLCProgram, FProgramFile, ui->imTamix);
}

void TfmMain::ShowImageFiles(TFileState kernel, TFileState program)
{
    FKernelFile = kernel;
    FProgramFile = program;
    ShowImageFileStates();
}

// ---- input checks ----

bool TfmMain::CheckNadAlias()
{
    if (!ui->ckSetNadAlias->isChecked()) {
        ClearQuietly(ui->edNADAlias);
        SetIcon(ui->imNADAlias, TIconState::Grey);
        return true;
    }
    const bool valid = NadAliasValid(ui->edNADAlias->text());
    SetIcon(ui->imNADAlias, valid ? TIconState::Green : TIconState::Red);
    return valid;
}

bool TfmMain::CheckHardwareModel()
{
    if (!ui->ckSetHardwareModel->isChecked()) {
        SetIcon(ui->imHardwareModel, TIconState::Grey);
        return true;
    }
    // A typed model that names no item would silently keep the unit's old model.
    const bool valid = HardwareModelIndex() >= 0;
    SetIcon(ui->imHardwareModel, valid ? TIconState::Green : TIconState::Red);
    return valid;
}

int TfmMain::HardwareModelIndex() const
{
    // Qt::MatchFixedString compares without regard to case.
    return ui->cbHardwareModel->findText(ui->cbHardwareModel->currentText(), Qt::MatchFixedString);
}

bool TfmMain::CheckIpSettings()
{
    const std::array<QLineEdit*, 4> edits = {ui->edIPAddress, ui->edSubnetMask, ui->edGateway, ui->edDNSServer};
    const std::array<QLabel*, 4> icons = {ui->imIPAddress, ui->imSubnetMask, ui->imGateway, ui->imDNSServer};
    if (ui->rbDHCP->isChecked() || !ui->ckSetIPAddress->isChecked()) {
        for (size_t i = 0; i < edits.size(); ++i) {
            ClearQuietly(edits[i]);
            SetIcon(icons[i], TIconState::Grey);
        }
        return true;
    }
    const std::array<bool, 4> ok = IpFieldsValid(*InputsSettings().Ip);
    for (size_t i = 0; i < icons.size(); ++i)
        SetIcon(icons[i], ok[i] ? TIconState::Green : TIconState::Red);
    return std::all_of(ok.begin(), ok.end(), [](bool fieldOk) { return fieldOk; });
}

bool TfmMain::CheckParameters()
{
    // The IP check is skipped while the alias is invalid, so its icons keep their colours;
    // the model has an icon of its own and is always checked.
    const bool model = CheckHardwareModel();
    return CheckNadAlias() && CheckIpSettings() && model;
}

TUnitSettings TfmMain::InputsSettings() const
{
    TUnitSettings settings;
    if (ui->ckSetNadAlias->isChecked())
        settings.NadAlias = ui->edNADAlias->text();
    // The model box also takes typed text; its list keeps the last picked item while the
    // text says otherwise, so only a text that names an item counts as a choice.
    if (ui->ckSetHardwareModel->isChecked())
        settings.HardwareModel = HardwareModelIndex();
    if (ui->ckSetIEXBaudRate->isChecked())
        settings.IEXBaudRate = ui->cbIEXBaudRate->currentIndex();
    if (ui->ckSetIPAddress->isChecked()) {
        TIpSetting& ip = settings.Ip.emplace();
        ip.Dhcp = ui->rbDHCP->isChecked();
        if (!ip.Dhcp) {
            ip.Address = ui->edIPAddress->text();
            ip.Mask = ui->edSubnetMask->text();
            ip.Gateway = ui->edGateway->text();
            ip.Dns = ui->edDNSServer->text();
        }
    }
    return settings;
}

TJob TfmMain::InputsJob() const
{
    const auto file = [](const QCheckBox* box, const QLineEdit* path) {
        return box->isChecked() ? std::optional<TJobFile>(TJobFile{path->text(), QString()}) : std::nullopt;
    };
    TJob job;
    job.Kernel = file(ui->ckKernel, ui->leKernelBinary);
    job.Program = file(ui->ckPLCProgram, ui->leTamixBinary);
    job.Settings = InputsSettings();
    job.Serial = {ui->ckSerialNumber->isChecked(), SerialNumber, ui->ckAutoincrement->isChecked(), QString()};
    job.StartPlc = ui->ckStartPLC->isChecked();
    job.SetClock = ui->ckSetRTC->isChecked();
    return job;
}

TLinkOptions TfmMain::StationLink() const
{
    TLinkOptions link = LinkOptions;
    const TEthernetAdapterInfo* entry = Adapters->Items(ui->cbEthAdapter->currentIndex());
    link.AdapterName = entry ? entry->AdapterName : QString();
    return link;
}

void TfmMain::ShowStationRunning(bool running)
{
    if (running) {
        DisableControls();
        return;
    }
    EnableControls();
    if (FCloseWhenDone)
        QTimer::singleShot(0, this, &TfmMain::close);
}

void TfmMain::ShowJob(const TJob& job)
{
    const TUnitSettings& settings = job.Settings;
    const TIpSetting ip = settings.Ip.value_or(TIpSetting{});
    // Each box before its input: an unticked box empties its input.
    ui->ckKernel->setChecked(job.Kernel.has_value());
    ui->leKernelBinary->setText(job.Kernel ? job.Kernel->Path : QString());
    ui->ckPLCProgram->setChecked(job.Program.has_value());
    ui->leTamixBinary->setText(job.Program ? job.Program->Path : QString());
    ui->ckStartPLC->setChecked(job.StartPlc);
    ui->ckSetRTC->setChecked(job.SetClock);
    ui->ckSetNadAlias->setChecked(settings.NadAlias.has_value());
    ui->edNADAlias->setText(settings.NadAlias.value_or(QString()));
    ui->ckSetHardwareModel->setChecked(settings.HardwareModel.has_value());
    ui->cbHardwareModel->setCurrentIndex(settings.HardwareModel.value_or(-1));
    ui->ckSetIEXBaudRate->setChecked(settings.IEXBaudRate.has_value());
    ui->cbIEXBaudRate->setCurrentIndex(settings.IEXBaudRate.value_or(-1));
    ui->ckSetIPAddress->setChecked(settings.Ip.has_value());
    (ip.Dhcp ? ui->rbDHCP : ui->rbStaticIP)->setChecked(true);
    const std::pair<QLineEdit*, const QString&> addresses[] = {{ui->edIPAddress, ip.Address},
                                                               {ui->edSubnetMask, ip.Mask},
                                                               {ui->edGateway, ip.Gateway},
                                                               {ui->edDNSServer, ip.Dns}};
    for (const auto& [edit, text] : addresses)
        edit->setText(text);
    SettingsInputChange();
}

void TfmMain::btnSaveRecipeClick()
{
    if (!CheckParameters()) {
        ErrorMessage(QStringLiteral("the unit settings are not valid: no recipe was saved"));
        return;
    }
    QString name;
    QString series;
    if (!AskRecipeName(name, series))
        return;
    TRecipe recipe;
    QString error;
    TJob job = InputsJob();
    job.Verify = FJob.VerifyAfterSend();
    if (!RecipeOfJob(name, job, series, recipe, error)) {
        ErrorMessage(error);
        return;
    }
    const QString path = SaveRecipeFileName(name);
    if (path.isEmpty())
        return;
    if (!WriteRecipe(path, recipe, error)) {
        ErrorMessage(error);
        return;
    }
    FJob.SetOpenedRecipe(recipe);
    AddMessage(QStringLiteral("recipe \"") + name + QStringLiteral("\" saved to ") + path);
}

void TfmMain::btnOpenRecipeClick()
{
    const QString path = OpenRecipeFileName();
    if (path.isEmpty())
        return;
    TRecipe recipe;
    QString error;
    if (!ReadRecipe(path, recipe, error)) {
        ErrorMessage(error);
        return;
    }
    ShowJob(recipe.Job);
    FJob.SetVerifyAfterSend(recipe.Job.Verify);
    // The controls show the recipe, and the operator may change them: a station pins a
    // recipe only when opened in the station window.
    FJob.SetOpenedRecipe(recipe);
    AddMessage(QStringLiteral("recipe \"") + recipe.Name + QStringLiteral("\" opened from ") + path);
}

// ---- settings ----

void TfmMain::LoadSettings()
{
    LoadStoredSerialNumber(SerialNumber);
}

void TfmMain::SaveSettings()
{
    // A station may have given higher numbers meanwhile: the stored number never goes back.
    StoreNextSerialAtLeast(SerialNumber);
}

// ---- adapter choice ----

void TfmMain::RefreshAdapters()
{
    if (!Adapters)
        return;
    ui->cbEthAdapter->clear();
    Adapters->Refresh();
    ui->cbEthAdapter->addItems(Adapters->ItemTexts());
    ui->cbEthAdapter->setCurrentIndex(Adapters->IndexOf(FLinkAdapter));
    ui->cbEthAdapter->setToolTip(ui->cbEthAdapter->currentText());
}

void TfmMain::cbEthAdapterDropDown()
{
    RefreshAdapters();
}

void TfmMain::cbEthAdapterChange()
{
    // The new adapter is bound at the next connection, not now.
    SetIcon(ui->imEthernet, TIconState::Grey);
    ui->cbEthAdapter->setToolTip(ui->cbEthAdapter->currentText());
    ResetStatus();
    AdapterState = NeedsBinding;
}

// ---- idle update ----

void TfmMain::alActionsUpdate()
{
    // While an operation has the controls disabled, they stay so until it enables them.
    if (FControlsDisabled)
        return;
    const bool enabled = SessionState.Connected && !SessionState.OldLoader && !Runner->Connecting();
    for (QAction* action : {ui->acSend, ui->acVerify, ui->acStart, ui->acStop, ui->acSaveKernel, ui->acSaveProgram})
        action->setEnabled(enabled);
    if (!Runner->Busy()) {
        ui->pbCurrent->setValue(0);
        ui->pbTotal->setValue(0);
    }
}

// ---- operations ----

void TfmMain::RunOperation(const std::function<TUnitJob()>& makeJob, const std::optional<TRecipe>& recipe)
{
    // An operation never follows a connection still under way (the buttons are disabled
    // meanwhile, and a click that comes all the same is not taken); a file load under way
    // ends before it, as the runner keeps the order of requests.
    if (Runner->Connecting() || FJob.OperationRunning() || FJob.StationRunning())
        return;
    FJob.SetOperationRunning(true);
    FOperationEnded = false;
    DisableControls();
    ResetStatus();
    Runner->SetLink(LinkOptions);
    Runner->Run(makeJob(), recipe);
}

void TfmMain::OperationFinished()
{
    FOperationEnded = true;
    // An operator who closed the window meanwhile waits for the operation, not for this.
    if (!FCloseWhenDone)
        Connect();
}

void TfmMain::RunnerIdle()
{
    if (FJob.OperationRunning()) {
        FJob.SetOperationRunning(false);
        EnableControls();
    }
    if (FCloseWhenDone)
        close();
}

void TfmMain::acSendExecute()
{
    // The window's own send never verifies after sending. A file of the recipe the controls
    // show that changed since the recipe was saved is refused before anything is sent.
    if (const std::optional<TRecipe> recipe = FJob.ShownRecipe(false)) {
        TLoadedImages checked;
        QString error;
        if (!LoadJobFiles(recipe->Job, checked, error)) {
            AddMessage(QStringLiteral("error: ") + error);
            ErrorMessage(error);
            return;
        }
        // What is sent is what was just checked: a file loaded before it became the recipe's
        // (its path in the box already when the recipe was opened) is read again first.
        const TJob job = InputsJob();
        if (job.Kernel)
            Runner->LoadImageFiles(TImageKind::Kernel, job);
        if (job.Program)
            Runner->LoadImageFiles(TImageKind::Program, job);
    }
    // The controls still show the recipe opened or saved here: its name goes on the record
    // when the files sent are its own as pinned.
    RunOperation([this] { return WindowJob(TUnitOperation::Send, InputsJob()); }, FJob.ShownRecipe(false));
}

void TfmMain::acVerifyExecute()
{
    RunOperation([this] {
        ParametersValid = CheckParameters();
        return WindowJob(TUnitOperation::Verify, InputsJob());
    });
}

void TfmMain::acStartExecute()
{
    RunOperation([] { return WindowJob(TUnitOperation::StartPlc); });
}

void TfmMain::acStopExecute()
{
    RunOperation([] { return WindowJob(TUnitOperation::StopPlc); });
}

void TfmMain::acSaveKernelExecute()
{
    RunOperation(
        [this] { return WindowJob(TUnitOperation::DumpKernel, {}, SaveFileName(DefaultDumpFileName(OpSaveKernel))); });
}

void TfmMain::acSaveProgramExecute()
{
    RunOperation([this] {
        return WindowJob(TUnitOperation::DumpProgram, {}, SaveFileName(DefaultDumpFileName(OpSaveProgram)));
    });
}

// ---- controller selection ----

void TfmMain::ckDirectConnectionClick()
{
    Runner->SetDirectConnection(ui->ckDirectConnection->isChecked());
    Connect();
}

void TfmMain::cbNADDropDown()
{
    ClearInfoPanel();
    SetIcon(ui->imOrvel, TIconState::Grey);
    // The list opens once the controllers that answer are in it. A connection under way ends
    // without showing anything: the list replaces its choice.
    ui->cbNAD->DeferPopup();
    Runner->SetLink(LinkOptions);
    Runner->Discover(ConnectOrder(), 200);
}

void TfmMain::ShowDiscovered(const QStringList& nads)
{
    {
        // Filling the list picks no controller; the operator's pick connects.
        const QSignalBlocker blocker(ui->cbNAD);
        ui->cbNAD->clear();
        ui->cbNAD->addItems(nads);
        ui->cbNAD->setCurrentIndex(-1);
        ui->cbNAD->clearEditText();
    }
    if (ui->cbNAD->isEnabled() && ui->cbNAD->isVisible())
        ui->cbNAD->ShowListNow();
}

void TfmMain::cbNADChange()
{
    Reconnect();
}

void TfmMain::ckNadNotAssignedClick()
{
    const bool checked = ui->ckNadNotAssigned->isChecked();
    ui->cbNAD->setEnabled(!checked);
    if (checked) {
        {
            // Emptying the NAD is part of this choice, not a choice of its own.
            const QSignalBlocker blocker(ui->cbNAD);
            ui->cbNAD->clearEditText();
        }
        Reconnect();
        return;
    }
    Runner->MarkDisconnected();
    ClearInfoPanel();
    SetIcon(ui->imOrvel, TIconState::Grey);
}

void TfmMain::btnRefreshClick()
{
    Reconnect();
}

void TfmMain::Reconnect()
{
    SetIcon(ui->imOrvel, TIconState::Grey);
    ClearInfoPanel();
    ResetStatus();
    TConnectOrder order = ConnectOrder();
    order.Forget = true;
    Runner->SetLink(LinkOptions);
    Runner->Connect(order);
}

TConnectOrder TfmMain::ConnectOrder() const
{
    const TEthernetAdapterInfo* entry = Adapters->Items(ui->cbEthAdapter->currentIndex());
    return {entry ? entry->AdapterName : QString(), AdapterState == NeedsBinding,
            TNadChoice{ui->ckNadNotAssigned->isChecked(), ui->cbNAD->currentText()}, false};
}

void TfmMain::Connect()
{
    Runner->SetLink(LinkOptions);
    Runner->Connect(ConnectOrder());
}

void TfmMain::ShowConnection(const TConnectResult& result)
{
    switch (result.Outcome) {
    case TConnectOutcome::NoNad:
        ClearInfoPanel();
        break;
    case TConnectOutcome::Answered:
        SetIcon(ui->imOrvel, TIconState::Green);
        ShowInfoPanel(result.Panel);
        break;
    case TConnectOutcome::NotAnswered:
        AdapterState = NeedsBinding;   // the link has let go of its socket
        SetIcon(ui->imOrvel, TIconState::Red);
        ClearInfoPanel();
        break;
    }
}

void TfmMain::ShowBinding(const TBinding& binding)
{
    FLinkAdapter = binding.Adapter;
    if (binding.Tried) {
        if (!binding.Bound) {
            SetIcon(ui->imEthernet, TIconState::Red);
            return;
        }
        // An adapter chosen after the connection was asked for is bound by the next one.
        const TEthernetAdapterInfo* selected = Adapters->Items(ui->cbEthAdapter->currentIndex());
        if (selected && selected->AdapterName == binding.Adapter.AdapterName)
            AdapterState = Bound;
    }
    if (binding.ForConnection)
        CheckBinding(binding);
}

void TfmMain::CheckBinding(const TBinding& binding)
{
    if (AdapterState != Bound)
        return;
    if (!AdapterListOpen())
        RefreshAdapters();
    const TEthernetAdapterInfo& adapter = binding.Adapter;
    const TEthernetAdapterInfo* found = Adapters->FindByName(adapter.AdapterName);
    const TEthernetAdapterInfo* selected = Adapters->Items(ui->cbEthAdapter->currentIndex());
    const bool good = found && selected && !selected->AdapterName.isEmpty() && StrToIP(found->IPAddress) != 0 &&
                      StrToIP(adapter.IPAddress) != 0;
    if (!good) {
        SetIcon(ui->imEthernet, TIconState::Red);
        AdapterState = NeedsBinding;
        return;
    }
    SetIcon(ui->imEthernet, StrToIP(adapter.Gateway) == 0 ? TIconState::Yellow : TIconState::Green);
    // The adapter's address has changed since the list was read.
    if (adapter.IPAddress != selected->IPAddress && !AdapterListOpen())
        RefreshAdapters();
    if (binding.LocalIP != adapter.IPAddress || StrToIP(binding.LocalIP) == 0)
        AdapterState = NeedsBinding;
}

bool TfmMain::AdapterListOpen() const
{
    return ui->cbEthAdapter->view()->isVisible();
}

void TfmMain::ShowInfoPanel(const TInfoPanelTexts& texts)
{
    const std::pair<QLabel*, const QString&> rows[] = {
        {ui->lblInfoPlatform, texts.Platform},
        {ui->lblInfoPLCStatus, texts.PLCStatus},
        {ui->lblInfoIPAddress, texts.IPAddress},
        {ui->lblInfoLoaderVersion, texts.LoaderVersion},
        {ui->lblInfoSerial, texts.Serial},
        {ui->lblInfoKernelVersion, texts.KernelVersion},
        {ui->lblInfoNADAlias, texts.NADAlias},
        {ui->lblInfoHardwareModel, texts.HardwareModel},
        {ui->lblInfoIEXBaudrate, texts.IEXBaudrate},
        {ui->lblInfoKernelTransferDate, texts.KernelTransferDate},
        {ui->lblInfoPLCProgram, texts.PLCProgram},
        {ui->lblInfoFileSystem, texts.FileSystem},
        {ui->lblInfoPLCProgramTransferDate, texts.PLCProgramTransferDate},
        {ui->lblInfoModbusAddress, texts.ModbusAddress},
    };
    for (const auto& [label, text] : rows)
        label->setText(text);
}

// ---- window and dialogs ----

void TfmMain::acCloseExecute()
{
    close();
}

void TfmMain::closeEvent(QCloseEvent* event)
{
    // The station's units must not look finished either: its window stops it and waits for
    // every record, and this window closes once the station has ended.
    if (FJob.StationRunning()) {
        event->ignore();
        if (FCloseWhenDone)
            return;
        // Set first: a station with nothing in flight ends while its window is asked, and
        // this window closes then.
        FCloseWhenDone = true;
        if (CloseStationWindow && !CloseStationWindow()) {
            FCloseWhenDone = false;
            return;
        }
        if (FJob.StationRunning()) {
            AddMessage(QStringLiteral("the window closes when the station has stopped"));
            return;
        }
        // Ended while its window asked the operator: its close came inside this one, and was
        // dropped.
    }
    // A unit being written must not look finished: the window stays until the operation has
    // ended, and then closes by itself. Requests are never cut off halfway through a block.
    if (FJob.OperationRunning() && !FOperationEnded) {
        event->ignore();
        if (!FCloseWhenDone)
            AddMessage(QStringLiteral("the window closes when the operation has ended"));
        FCloseWhenDone = true;
        return;
    }
    // A connection writes nothing: it is cut short, and the window closes once the runner
    // has let go of it.
    if (Runner->Busy()) {
        event->ignore();
        Runner->CancelConnection();
        FCloseWhenDone = true;
        return;
    }
    QMainWindow::closeEvent(event);
}

void TfmMain::acHelpExecute()
{
    if (!fmHelp)
        return;
    fmHelp->FileName = QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("Readme.txt"));
    fmHelp->exec();
}

void TfmMain::acAboutExecute()
{
    if (fmAbout)
        fmAbout->exec();
}

void TfmMain::btnPasswordClick()
{
    if (!fmPassword)
        return;
    fmPassword->Password = Password;
    if (fmPassword->exec() != QDialog::Accepted)
        return;
    Password = fmPassword->Password;
    LinkOptions.PasswordCode = TextChecksum(Password, 0);
}

// ---- settings inputs ----

void TfmMain::ckSerialNumberClick()
{
    UpdateInputStates();
    ClearVerifyIcons();
}

void TfmMain::edSerialNumberChange()
{
    SerialNumber = IntegerTextOrDefault(ui->edSerialNumber->text(), -1);
}

void TfmMain::ckKernelClick()
{
    FileBoxClick();
}

void TfmMain::ckPLCProgramClick()
{
    FileBoxClick();
}

void TfmMain::FileBoxClick()
{
    UpdateInputStates();
    ShowImageFileStates();
    ClearVerifyIcons();
}

void TfmMain::leKernelBinaryChange(QLineEdit* edit)
{
    Runner->LoadImageFiles(edit == ui->leKernelBinary ? TImageKind::Kernel : TImageKind::Program, InputsJob());
    ClearVerifyIcons();
}

void TfmMain::btnBrowseTamixClick(QPushButton* button)
{
    const QString fileName = OpenFileName();
    if (fileName.isEmpty())
        return;
    ui->meStatus->clear();
    const bool kernel = button == ui->btnBrowseKernel;
    QLineEdit* edit = kernel ? ui->leKernelBinary : ui->leTamixBinary;
    // A new path is loaded by the edit's change handler; the same file chosen again changes
    // no text, and is loaded again all the same.
    if (edit->text() != fileName)
        edit->setText(fileName);
    else
        Runner->LoadImageFiles(kernel ? TImageKind::Kernel : TImageKind::Program, InputsJob());
    ClearVerifyIcons();
}

void TfmMain::ckSetNadAliasClick()
{
    SettingsInputChange();
}

void TfmMain::ckSetHardwareModelClick()
{
    SettingsInputChange();
}

void TfmMain::ckSetIEXBaudRateClick()
{
    SettingsInputChange();
}

void TfmMain::ckSetIPAddressClick()
{
    SettingsInputChange();
}

void TfmMain::rbDHCPClick()
{
    SettingsInputChange();
}

void TfmMain::SettingsInputChange()
{
    UpdateInputStates();
    ParametersValid = CheckParameters();
    ClearVerifyIcons();
}

// ---- helpers ----

void TfmMain::SetIcon(QLabel* icon, TIconState state)
{
    icon->setPixmap(FStatusImages[size_t(state)]);
}

QString TfmMain::DefaultOpenFileName()
{
    if (!dlgOpenFile) {
        dlgOpenFile = new QFileDialog(this, QString(), FStartFolder, QStringLiteral("Binary file (*.bin)"));
        dlgOpenFile->setFileMode(QFileDialog::ExistingFile);
        dlgOpenFile->setDefaultSuffix(QStringLiteral("bin"));
    }
    if (dlgOpenFile->exec() != QDialog::Accepted)
        return {};
    return dlgOpenFile->selectedFiles().value(0);
}

QString TfmMain::DefaultSaveFileName(const QString& defaultName)
{
    if (!dlgSaveFile) {
        dlgSaveFile = new QFileDialog(this, QString(), FStartFolder, QStringLiteral("binary file (*.bin)"));
        dlgSaveFile->setAcceptMode(QFileDialog::AcceptSave);
        dlgSaveFile->setDefaultSuffix(QStringLiteral("bin"));
    }
    dlgSaveFile->selectFile(defaultName);
    if (dlgSaveFile->exec() != QDialog::Accepted)
        return {};
    return dlgSaveFile->selectedFiles().value(0);
}
