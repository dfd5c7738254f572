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
    QObject::connect(&FSignals, &TSignalWatcher::Interrupted, FMain.get(), [this](int signal) { EndOnSignal(signal); });
}

void TAppWindows::EndOnSignal(int signal)
{
    // A second signal changes nothing: the windows are closing already, and go once every
    // record is kept.
    if (FSignal != 0)
        return;
    FSignal = signal;
    if (FStation)
        FStation->EndNow();
    FMain->close();
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
