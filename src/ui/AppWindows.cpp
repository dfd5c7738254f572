#include "AppWindows.h"

#include "JobModel.h"
#include "fMain.h"
#include "fStation.h"

TAppWindows::TAppWindows() : FMain(std::make_unique<TfmMain>())
{
    QObject::connect(FMain.get(), &TfmMain::StationWindowWanted, FMain.get(), [this] {
        TfmStation& station = Station();
        station.show();
        station.raise();
        station.activateWindow();
    });
    FMain->CloseStationWindow = [this] { return !FStation || FStation->CloseAsked(); };
}

TAppWindows::~TAppWindows()
{
    FStation.reset();
}

TfmStation& TAppWindows::Station()
{
    if (FStation)
        return *FStation;
    TJobModel& job = FMain->Job();
    // A window of the main window's: the program still ends when the main window closes.
    FStation = std::make_unique<TfmStation>(job, FMain.get());
    QObject::connect(FStation.get(), &TfmStation::RunningChanged, &job, &TJobModel::SetStationRunning);
    QObject::connect(FStation.get(), &TfmStation::SerialNumberAdvanced, &job, &TJobModel::AdvanceSerialNumber);
    QObject::connect(FStation.get(), &TfmStation::VerifyAfterSendChanged, &job, &TJobModel::SetVerifyAfterSend);
    return *FStation;
}
