// fStation: TfmStation, the station window: the engine on the job model's link,
// flashing every fresh unit that appears, with a row per unit and the records at hand.
//
//   Start -> the job: a recipe opened here (its files checked against their hashes first),
//            else the job model's inputs as they stand -> the record store opened ->
//            TEngine::Scan (a discovery every second) -> a row per unit taken
//   Stop  -> with units in flight, the operator chooses: they finish, then the station stops
//            (the default), or each stops after its request under way; every record is kept
//   records panel -> TRecordStore::Query over the store the station writes
//
// The window knows no main window: it reads the job model (the main window's inputs, link,
// shown recipe, verify after send, whether its own operation runs) and tells what changes
// through its signals (RunningChanged, SerialNumberAdvanced, VerifyAfterSendChanged), which
// its owner connects to the model. While the station runs, the main window's own operations
// are disabled, and neither window closes before the station has kept every record. Nothing
// here waits for a unit: the engine runs each on a thread of its own.
#pragma once

#include "Recipe.h"
#include "RecordFields.h"
#include "Engine.h"

#include <QJsonObject>
#include <QList>
#include <QStandardItemModel>
#include <QTimer>
#include <QWidget>

#include <functional>
#include <memory>
#include <optional>

class QDialog;
class TJobModel;
class TRecordStore;
class TStationUnits;

namespace Ui {
class fmStation;
}

class TfmStation : public QWidget {
    Q_OBJECT
public:
    explicit TfmStation(const TJobModel& job, QWidget* parent = nullptr);
    ~TfmStation() override;

    // The record store, as TRecordStore::Open takes it: "" is the default store.
    QString RecordsLocation;
    QString StationName;         // the station's name in the records; the host name
    QString ProductionLogPath;   // DefaultProductionLogPath()
    // How often the units' progress is shown, in ms; 0: every figure as it comes.
    int RepaintIntervalMs = 50;

    // How the operator wants a station with units in flight to end.
    enum class TStopChoice { Finish, Interrupt, GoOn };

    // ---- dialogs the tests answer in place of the operator ----
    std::function<QString()> OpenRecipeFileName;   // empty: cancelled
    std::function<QString()> ExportFileName;       // empty: cancelled
    std::function<bool(const QString& question)> Confirm;
    std::function<TStopChoice(int inFlight)> AskHowToStop;

    bool Running() const;
    // Closes the window, ending a running station as the operator chooses; false when the
    // operator chose to go on with the station.
    bool CloseAsked();
    // Closes the window without asking anything (the program was asked to end): a running
    // station's units stop after their request under way, and the window goes once every
    // record is kept.
    void EndNow();
    // Reads the recipe; the station uses it from the next Start. false, and why in the
    // window's log, when it cannot be read.
    bool OpenRecipe(const QString& path);
    void UseRecipe(const TRecipe& recipe);
    void CloseRecipe();
    const std::optional<TRecipe>& Recipe() const { return FRecipe; }

    TStationUnits& Units() const { return *FUnits; }
    void RefreshRecords();

Q_SIGNALS:
    // The station has started, or has ended with every record kept.
    void RunningChanged(bool running);
    // The station has stored the next number of the main window's serial numbers.
    void SerialNumberAdvanced(int32_t next);
    // The operator ticked or unticked Verify after send, or a recipe opened here set it.
    void VerifyAfterSendChanged(bool on);

private:
    // The job model's Verify after send, which a recipe opened in the main window sets.
    void ShowVerifyAfterSend();
    void Start();
    void Stop();
    // Ends the running station as the operator chooses: asked only with units in flight.
    // false, with the station running on, when the operator chose to go on.
    bool EndStation();
    // Ends the running station: its units finish first, or stop after their request under way.
    void EndAs(TStopChoice choice);
    // The plan of a Start, and the numbers the window gives; false and why in words.
    bool MakePlan(TEnginePlan& plan, std::shared_ptr<TSerialCounter>& numbers, QString& error) const;
    void Ended();
    void UnitFinished(const TUnitRecord& record);
    void Note(TNoteLevel level, const QString& text);
    void ShowRunning(bool running);
    void ShowCounts();
    // Tells the stored next number, which the main window's serial number box shows.
    void ShowNextSerial();
    void ClearFinished();
    void ExportRecords();
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

    std::unique_ptr<Ui::fmStation> ui;
    const TJobModel& FJob;
    TStationUnits* FUnits;
    QStandardItemModel FRecordsModel;
    QList<TStoredRecord> FShownRecords;
    std::shared_ptr<TRecordStore> FStore;   // the records panel's connection
    std::unique_ptr<TEngine> FEngine;
    std::optional<TRecipe> FRecipe;
    bool FWindowNumbers = false;   // the running station takes the main window's numbers
    bool FCloseWhenDone = false;
    bool FWentOn = false;           // the last close asked, the operator chose to go on
    bool FEndingNow = false;        // the program was asked to end: no answer changes that
    QDialog* FQuestion = nullptr;   // the question asked how to stop, while it is open
    QTimer FRecordsRefresh;
    QTimer FCountsClock;
};
