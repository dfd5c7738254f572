// JobModel: TJobModel, what the main window and the station window share, so that neither
// knows the other.
//
//   main window  --(the job its inputs give and its link, read when asked; the recipe it opened or saved;
//                   whether its own operation runs)--> TJobModel
//   station window --(its signals, connected by TWindows: runs or has ended, the next serial
//                   number, verify after send)--> TJobModel
//   TJobModel --(signals)--> both windows show the change
//
// The operator's job and the station's link are not copied in here: they are read from the
// main window's controls whenever asked, so that they are always the ones shown. No widgets.
#pragma once

#include "Recipe.h"

#include <QObject>

#include <cstdint>
#include <functional>
#include <optional>

class TJobModel : public QObject {
    Q_OBJECT
public:
    using TJobSource = std::function<TJob()>;
    using TLinkSource = std::function<TLinkOptions()>;

    explicit TJobModel(QObject* parent = nullptr);

    // Where the job and the link come from: the main window's controls.
    void SetSources(TJobSource job, TLinkSource link);
    // The job the operator's choices give as they stand; an empty one when no source is set.
    TJob Job() const;
    // The link a station uses: the main window's link options on the adapter chosen now.
    TLinkOptions StationLink() const;

    // The recipe opened or saved in the main window last.
    void SetOpenedRecipe(const TRecipe& recipe);
    // That recipe, while the main window still shows its job with verifyAfterSend: a send
    // (the main window's own, or a station's of its inputs) is then that recipe's job.
    std::optional<TRecipe> ShownRecipe(bool verifyAfterSend) const;

    // A station's units are verified after their send; a recipe keeps it.
    bool VerifyAfterSend() const { return FVerifyAfterSend; }
    void SetVerifyAfterSend(bool on);

    // The main window's own operation, from its start to the end of the connection that
    // follows: a station must not start meanwhile.
    bool OperationRunning() const { return FOperationRunning; }
    void SetOperationRunning(bool running);

    // The station runs: the main window's own operations are disabled and refused meanwhile.
    bool StationRunning() const { return FStationRunning; }
    void SetStationRunning(bool running);

    // A station has stored the next serial number; the main window's box shows it.
    void AdvanceSerialNumber(int32_t next);

Q_SIGNALS:
    void VerifyAfterSendChanged(bool on);
    void StationRunningChanged(bool running);
    void SerialNumberAdvanced(int32_t next);

private:
    TJobSource FJobSource;
    TLinkSource FLink;
    std::optional<TRecipe> FOpenedRecipe;
    bool FVerifyAfterSend = false;
    bool FOperationRunning = false;
    bool FStationRunning = false;
};
