// AppWindows: TAppWindows, the program's two windows: the main window from the start, the
// station window from the main window's first Station... click on. Neither window knows the
// other; they share the main window's job model, and this is where what the station window
// tells reaches the model, and where the main window's wishes reach the station window.
//
//   main window  --StationWindowWanted--------> the station window shown (made the first time)
//                --CloseStationWindow---------> the station window closed (it ends its station as the
//                                               operator chooses and waits for its records), or
//                                               the operator goes on with the station
//   station window --RunningChanged / SerialNumberAdvanced / VerifyAfterSendChanged--> job model
//   SIGINT, SIGTERM, SIGHUP --> both windows close in order, asking nothing: the station's units
//                               stop after their request under way, the main window's own
//                               operation runs to its end, every record is kept
#pragma once

#include "SignalWatcher.h"

#include <memory>

class TfmMain;
class TfmStation;

class TAppWindows {
public:
    TAppWindows();
    // The station window goes first: it keeps its last records while the model it reads is
    // still there.
    ~TAppWindows();
    TAppWindows(const TAppWindows&) = delete;
    TAppWindows& operator=(const TAppWindows&) = delete;

    TfmMain& Main() { return *FMain; }
    // The station window, made at its first use.
    TfmStation& Station();
    // The signal that asked the program to end; 0: none came.
    int Signal() const { return FSignal; }

private:
    void EndOnSignal(int signal);

    std::unique_ptr<TfmMain> FMain;
    std::unique_ptr<TfmStation> FStation;
    TSignalWatcher FSignals;
    int FSignal = 0;
};
