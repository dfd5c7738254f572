#include "fStation.h"
#include "ui_fStation.h"

#include "ImageFiles.h"
#include "JobChecks.h"
#include "JobModel.h"
#include "ProductionLog.h"
#include "RecordStore.h"
#include "SettingsStore.h"
#include "StationRecords.h"
#include "StationUnits.h"
#include "RecordsCsv.h"

#include <QCloseEvent>
#include <QFileDialog>
#include <QHeaderView>
#include <QDialog>
#include <QMessageBox>
#include <QSaveFile>
#include <QSysInfo>

#include <utility>

namespace {

constexpr int ScanIntervalMs = 1000;
// A unit that finishes refreshes the records panel this much later, so that many units
// finishing together cost one query.
constexpr int RecordsRefreshDelayMs = 300;

// The records panel's columns: title and the record's key.
struct TRecordColumn {
    const char* Title;
    const char* Key;
};
constexpr TRecordColumn RecordColumns[] = {
    {"Time", "start"},
    {"Station", "station"},
    {"Unit", "unit"},
    {"Serial", "serial"},
    {"Result", "outcome"},
    {"Recipe", "recipe"},
    {"Kernel file", "kernelFile"},
    {"Program file", "programFile"},
    {"Message", "message"},
};

QString RecordText(const TStoredRecord& stored, const QJsonObject& record, const char* key)
{
    if (QLatin1String(key) == QLatin1String("serial"))
        return SerialNumberText(stored.Unit);
    const QJsonValue value = record.value(QLatin1String(key));
    if (QLatin1String(key) == QLatin1String("start")) {
        const QDateTime moment = QDateTime::fromString(value.toString(), Qt::ISODateWithMs);
        return moment.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    }
    if (value.isDouble())
        return value.toInteger() < 0 ? QStringLiteral("-") : QString::number(value.toInteger());
    return value.toString();
}

// A setting that is one unit's, refused in the main window's words: every unit of the station
// would get the same.
const TOneUnitSettingWords OneUnitSettingWords{QStringLiteral("a static IP address"),
                                               QStringLiteral("choose DHCP"),
                                               QStringLiteral("a NAD alias"),
                                               QStringLiteral("untick it (or make it 0)"),
                                               QString(),
                                               QStringLiteral(" from the main window")};

}   // namespace

TfmStation::TfmStation(const TJobModel& job, QWidget* parent)
    : QWidget(parent, Qt::Window),
      StationName(QSysInfo::machineHostName()),
      ProductionLogPath(DefaultProductionLogPath()),
      ui(std::make_unique<Ui::fmStation>()),
      FJob(job),
      FUnits(new TStationUnits(this))
{
    ui->setupUi(this);
    ui->tblUnits->setModel(FUnits);
    ui->tblUnits->setItemDelegateForColumn(TStationUnits::ColProgress, new TProgressDelegate(ui->tblUnits));
    ui->tblUnits->horizontalHeader()->setSectionResizeMode(TStationUnits::ColStep, QHeaderView::Stretch);
    ui->tblUnits->verticalHeader()->hide();
    ui->tblRecords->setModel(&FRecordsModel);
    ui->tblRecords->verticalHeader()->hide();
    ui->tblRecords->horizontalHeader()->setStretchLastSection(true);
    // The units first; the log a few lines; the records what is left.
    ui->splStation->setSizes({330, 80, 200});
    ui->splStation->setStretchFactor(0, 3);
    ui->splStation->setStretchFactor(2, 2);

    OpenRecipeFileName = [this] {
        return QFileDialog::getOpenFileName(this, QStringLiteral("Open recipe"), QString(),
                                            QStringLiteral("Recipe (*.json)"));
    };
    ExportFileName = [this] {
        return QFileDialog::getSaveFileName(this, QStringLiteral("Export records"), QStringLiteral("records.csv"),
                                            QStringLiteral("Comma-separated values (*.csv)"));
    };
    Confirm = [this](const QString& question) {
        return QMessageBox::question(this, windowTitle(), question) == QMessageBox::Yes;
    };
    AskHowToStop = [this](int inFlight) {
        QMessageBox box(QMessageBox::Question, windowTitle(),
                        QStringLiteral("%1 unit(s) in flight. An interrupted unit keeps what it has been given so "
                                       "far and must be finished later.")
                            .arg(inFlight),
                        QMessageBox::NoButton, this);
        QPushButton* finish = box.addButton(QStringLiteral("Finish the units in flight, then stop"),
                                            QMessageBox::AcceptRole);
        QPushButton* interrupt = box.addButton(QStringLiteral("Interrupt them now"), QMessageBox::DestructiveRole);
        box.addButton(QStringLiteral("Go on"), QMessageBox::RejectRole);
        box.setDefaultButton(finish);
        FQuestion = &box;
        box.exec();
        FQuestion = nullptr;
        return box.clickedButton() == finish      ? TStopChoice::Finish
               : box.clickedButton() == interrupt ? TStopChoice::Interrupt
                                                  : TStopChoice::GoOn;
    };

    connect(ui->btnStationStart, &QPushButton::clicked, this, &TfmStation::Start);
    connect(ui->btnStationStop, &QPushButton::clicked, this, &TfmStation::Stop);
    connect(ui->btnOpenRecipe, &QPushButton::clicked, this, [this] {
        const QString path = OpenRecipeFileName();
        if (!path.isEmpty())
            OpenRecipe(path);
    });
    connect(ui->btnCloseRecipe, &QPushButton::clicked, this, &TfmStation::CloseRecipe);
    connect(ui->btnClearFinished, &QPushButton::clicked, this, &TfmStation::ClearFinished);
    connect(ui->edRecordsSerial, &QLineEdit::textChanged, this, &TfmStation::RefreshRecords);
    connect(ui->ckRecordsFailedOnly, &QCheckBox::toggled, this, &TfmStation::RefreshRecords);
    connect(ui->btnRecordsRefresh, &QPushButton::clicked, this, &TfmStation::RefreshRecords);
    connect(ui->btnRecordsExport, &QPushButton::clicked, this, &TfmStation::ExportRecords);
    // Verify after send belongs to the job, as a recipe holds it: the job model keeps it.
    ShowVerifyAfterSend();
    connect(&FJob, &TJobModel::VerifyAfterSendChanged, this, &TfmStation::ShowVerifyAfterSend);
    connect(ui->ckVerifyAfterSend, &QCheckBox::toggled, this, &TfmStation::VerifyAfterSendChanged);

    FRecordsRefresh.setSingleShot(true);
    connect(&FRecordsRefresh, &QTimer::timeout, this, &TfmStation::RefreshRecords);
    // The rate moves on while nothing finishes.
    connect(&FCountsClock, &QTimer::timeout, this, &TfmStation::ShowCounts);
    FCountsClock.start(10000);
    ShowCounts();
}

TfmStation::~TfmStation()
{
    // The engine keeps the last records as it goes: this window, half gone, hears none of it.
    if (FEngine) {
        FEngine->disconnect();
        FEngine.reset();
    }
}

bool TfmStation::Running() const
{
    return FEngine && FEngine->Running();
}

// ---- recipes ----

bool TfmStation::OpenRecipe(const QString& path)
{
    TRecipe recipe;
    QString error;
    if (!ReadRecipe(path, recipe, error)) {
        Note(TNoteLevel::Error, error);
        return false;
    }
    UseRecipe(recipe);
    return true;
}

void TfmStation::UseRecipe(const TRecipe& recipe)
{
    FRecipe = recipe;
    ui->lblRecipe->setText(QStringLiteral("Recipe: ") + recipe.Name);
    ui->btnCloseRecipe->setEnabled(!Running());
    // The recipe pins verify after send as it pins the files: its units are its job.
    ui->ckVerifyAfterSend->setChecked(recipe.Job.Verify);
    ui->ckVerifyAfterSend->setEnabled(false);
}

void TfmStation::ShowVerifyAfterSend()
{
    ui->ckVerifyAfterSend->setChecked(FJob.VerifyAfterSend());
}

void TfmStation::CloseRecipe()
{
    FRecipe.reset();
    ui->lblRecipe->setText(QStringLiteral("No recipe: the main window's inputs"));
    ui->btnCloseRecipe->setEnabled(false);
    ui->ckVerifyAfterSend->setEnabled(!Running());
    ShowVerifyAfterSend();
}

// ---- the station ----

bool TfmStation::MakePlan(TEnginePlan& plan, std::shared_ptr<TSerialCounter>& numbers, QString& error) const
{
    TUnitJob& job = plan.Job;
    job.Operation = TUnitOperation::Send;
    job.Link = FJob.StationLink();
    job.ProductionLogPath = ProductionLogPath;
    plan.Parallel = ui->spParallel->value();
    plan.ScanInterval = ScanIntervalMs;
    plan.Station = StationName;
    const bool verify = ui->ckVerifyAfterSend->isChecked();
    // The recipe opened here, or the one the main window's controls still show: its job is
    // the station's, its files checked against their hashes, its name on every record.
    const std::optional<TRecipe> shown = FRecipe ? FRecipe : FJob.ShownRecipe(verify);
    if (shown) {
        job.What = shown->Job;
        job.Recipe = shown->Name;
        plan.Series = shown->Job.Serial.Series;
    } else {
        job.What = FJob.Job();
        job.What.Verify = verify;
        if (!SettingsValid(job.What.Settings)) {
            error = QStringLiteral("the unit settings in the main window are not valid");
            return false;
        }
    }
    error = NothingToSendRefusal(job.What, shown ? QStringLiteral("the recipe has no file, no unit setting and no "
                                                                  "serial number series")
                                                 : QStringLiteral("tick a kernel, a program, the serial number or a "
                                                                  "unit setting in the main window"));
    if (error.isEmpty())
        error = OneUnitSettingRefusal(job.What.Settings, OneUnitSettingWords);
    if (!error.isEmpty() || !LoadJobFiles(job.What, job.Images, error))
        return false;
    const TSerialSource& serial = job.What.Serial;
    if (shown || !serial.Write)
        return true;
    // Every unit gets a number of its own.
    if (!serial.Autoincrement) {
        error = QStringLiteral("a station gives every unit a number of its own: tick Autoincrement in the main "
                               "window, or untick the serial number");
        return false;
    }
    if (serial.Number < 1) {
        error = QStringLiteral("the serial number in the main window is not a valid number");
        return false;
    }
    numbers = std::make_shared<TSettingsSerialCounter>(serial.Number);
    return true;
}

void TfmStation::Start()
{
    if (Running())
        return;
    ui->meStationLog->clear();
    TEnginePlan plan;
    std::shared_ptr<TSerialCounter> numbers;
    QString error;
    if (!MakePlan(plan, numbers, error)) {
        Note(TNoteLevel::Error, error + QStringLiteral("; nothing was started"));
        return;
    }
    const auto note = [this](TNoteLevel level, const QString& text) { Note(level, text); };
    if (OpenStationRecords(RecordsLocation, QStringLiteral("the window"), numbers, plan, note) != TRecordsOpened::Ok) {
        Note(TNoteLevel::Error, QStringLiteral("the station did not start"));
        return;
    }
    if (FJob.OperationRunning()) {
        Note(TNoteLevel::Error, QStringLiteral("the main window's operation has not ended yet; try again once it has"));
        return;
    }
    FWindowNumbers = numbers != nullptr;
    FUnits->RepaintIntervalMs = RepaintIntervalMs;
    FEngine = std::make_unique<TEngine>(std::move(plan));
    TEngine* station = FEngine.get();
    connect(station, &TEngine::Note, this, &TfmStation::Note);
    connect(station, &TEngine::UnitTaken, this, [this](const TUnitAddress& unit) {
        FUnits->Taken(unit.IP, unit.Nad);
        ShowCounts();
    });
    connect(station, &TEngine::UnitMessage, FUnits,
            [this](const QString& ip, const QDateTime&, const QString& text) { FUnits->Message(ip, text); });
    connect(station, &TEngine::UnitProgress, FUnits, &TStationUnits::Progress);
    connect(station, &TEngine::UnitFinished, this, &TfmStation::UnitFinished);
    connect(station, &TEngine::UnitNotStarted, this, [this](const QString& ip) {
        FUnits->NotStarted(ip);
        ShowCounts();
    });
    connect(station, &TEngine::Ended, this, &TfmStation::Ended);
    Q_EMIT RunningChanged(true);
    ShowRunning(true);
    station->Scan();
}

void TfmStation::Stop()
{
    if (Running())
        EndStation();
}

bool TfmStation::EndStation()
{
    const int inFlight = FEngine->InProgress();
    const TStopChoice choice = inFlight > 0 ? AskHowToStop(inFlight) : TStopChoice::Interrupt;
    // The program was asked to end, or the station ended, while the operator was asked: no
    // answer changes that.
    if (FEndingNow || !Running())
        return true;
    if (choice == TStopChoice::GoOn)
        return false;
    EndAs(choice);
    return true;
}

void TfmStation::EndAs(TStopChoice choice)
{
    if (choice == TStopChoice::Finish) {
        Note(TNoteLevel::Info, QStringLiteral("finishing the units in flight, then stopping (Stop asks again, to "
                                              "interrupt them sooner)"));
        FEngine->Finish();
        return;
    }
    Note(TNoteLevel::Info, QStringLiteral("stopping: every unit stops after its request under way"));
    ui->btnStationStop->setEnabled(false);
    FEngine->Stop();
}

void TfmStation::UnitFinished(const TUnitRecord& record)
{
    FUnits->Finished(record);
    ShowCounts();
    if (FWindowNumbers)
        ShowNextSerial();
    if (!FRecordsRefresh.isActive())
        FRecordsRefresh.start(RecordsRefreshDelayMs);
}

void TfmStation::Ended()
{
    ShowRunning(false);
    Q_EMIT RunningChanged(false);
    if (FWindowNumbers)
        ShowNextSerial();
    Note(TNoteLevel::Info, QStringLiteral("the station has stopped; every record is kept"));
    RefreshRecords();
    const bool closeNow = std::exchange(FCloseWhenDone, false);
    ShowCounts();
    // Queued: a station with nothing in flight ends within the Stop of the close event that
    // asks for it, and a close from inside that event would be dropped.
    if (closeNow)
        QMetaObject::invokeMethod(this, &QWidget::close, Qt::QueuedConnection);
}

void TfmStation::ShowNextSerial()
{
    int32_t next = -1;
    if (LoadStoredSerialNumber(next))
        Q_EMIT SerialNumberAdvanced(next);
}

void TfmStation::Note(TNoteLevel level, const QString& text)
{
    ui->meStationLog->appendPlainText(QDateTime::currentDateTime().toString(QStringLiteral("hh:mm:ss  ")) +
                                      NoteLine(level, text));
}

void TfmStation::ShowRunning(bool running)
{
    ui->btnStationStart->setEnabled(!running);
    ui->btnStationStop->setEnabled(running);
    ui->btnOpenRecipe->setEnabled(!running);
    ui->btnCloseRecipe->setEnabled(!running && FRecipe.has_value());
    ui->ckVerifyAfterSend->setEnabled(!running && !FRecipe);
    ui->spParallel->setEnabled(!running);
}

void TfmStation::ShowCounts()
{
    const QString waiting = FCloseWhenDone ? QStringLiteral("   waiting for the units' records before closing")
                                           : QString();
    ui->lblStationCounts->setText(QStringLiteral("ok ") + QString::number(FUnits->Succeeded()) +
                                  QStringLiteral("   failed ") + QString::number(FUnits->FailedCount()) +
                                  QStringLiteral("   in progress ") + QString::number(FUnits->InProgress()) +
                                  QStringLiteral("   ") +
                                  QString::number(FUnits->UnitsPerHour(QDateTime::currentDateTime()), 'f', 0) +
                                  QStringLiteral(" units per hour (last ten minutes)") + waiting);
}

void TfmStation::ClearFinished()
{
    const bool failed = FUnits->HasFailedRows() &&
                        Confirm(QStringLiteral("Remove the failed units' rows too? Their records stay in the store."));
    FUnits->ClearFinished(failed);
}

void TfmStation::showEvent(QShowEvent* event)
{
    RefreshRecords();
    QWidget::showEvent(event);
}

bool TfmStation::CloseAsked()
{
    FWentOn = false;
    close();
    return !FWentOn;
}

void TfmStation::EndNow()
{
    FEndingNow = true;
    // Nobody is there to answer it.
    if (FQuestion)
        FQuestion->reject();
    if (Running() && !FCloseWhenDone) {
        FCloseWhenDone = true;
        Note(TNoteLevel::Info, QStringLiteral("the program was asked to end: the window closes once every unit's "
                                              "record is kept"));
        ShowCounts();
    }
    if (Running())
        EndAs(TStopChoice::Interrupt);
    else
        close();
}

void TfmStation::closeEvent(QCloseEvent* event)
{
    // A unit being written must not look finished: the window goes once every record is kept.
    if (Running()) {
        event->ignore();
        if (FCloseWhenDone)
            return;
        // Set first: a station with nothing in flight ends within EndStation, and closes then.
        FCloseWhenDone = true;
        if (!EndStation()) {
            FCloseWhenDone = false;
            FWentOn = true;
            return;
        }
        if (Running()) {
            Note(TNoteLevel::Info, QStringLiteral("the window closes once every unit's record is kept"));
            ShowCounts();
            return;
        }
        // Ended while the operator was asked: its close came inside this one, and was dropped.
    }
    QWidget::closeEvent(event);
}

// ---- records ----

void TfmStation::RefreshRecords()
{
    FRecordsModel.clear();
    FShownRecords.clear();
    QStringList titles;
    for (const TRecordColumn& column : RecordColumns)
        titles << QLatin1String(column.Title);
    FRecordsModel.setHorizontalHeaderLabels(titles);

    TRecordFilter filter;
    filter.FailedOnly = ui->ckRecordsFailedOnly->isChecked();
    const QString serial = ui->edRecordsSerial->text().trimmed();
    if (!serial.isEmpty()) {
        bool ok = false;
        const int number = serial.toInt(&ok);
        if (!ok || number < 1) {
            ui->lblRecordsStatus->setText(QStringLiteral("not a serial number: ") + serial);
            return;
        }
        filter.Serial = number;
    } else {
        filter.Since = QDateTime::currentDateTime().addDays(-1);
    }
    QString error;
    if (!FStore || !FStore->OpenError().isEmpty()) {
        FStore = std::make_shared<TRecordStore>();
        FStore->Open(RecordsLocation, error);
    }
    if (error.isEmpty())
        FStore->Query(filter, FShownRecords, error);
    if (!error.isEmpty()) {
        ui->lblRecordsStatus->setText(QStringLiteral("the records cannot be read: ") + error);
        return;
    }
    for (const TStoredRecord& stored : FShownRecords) {
        const QJsonObject record = StoredRecordJson(stored);
        QList<QStandardItem*> row;
        for (const TRecordColumn& column : RecordColumns)
            row << new QStandardItem(RecordText(stored, record, column.Key));
        FRecordsModel.appendRow(row);
    }
    const QString count = QString::number(FShownRecords.size());
    ui->lblRecordsStatus->setText(serial.isEmpty() ? count + QStringLiteral(" records of the last 24 hours")
                                                   : count + QStringLiteral(" records of serial number ") + serial);
}

void TfmStation::ExportRecords()
{
    const QString path = ExportFileName();
    if (path.isEmpty())
        return;
    QSaveFile file(path);
    const QByteArray csv = RecordsCsv(FShownRecords).toUtf8();
    if (!file.open(QIODevice::WriteOnly) || file.write(csv) != csv.size() || !file.commit()) {
        ui->lblRecordsStatus->setText(QStringLiteral("the records could not be exported to ") + path +
                                      QStringLiteral(": ") + file.errorString());
        return;
    }
    ui->lblRecordsStatus->setText(QString::number(FShownRecords.size()) + QStringLiteral(" records exported to ") +
                                  path);
}
