#include "JobModel.h"

TJobModel::TJobModel(QObject* parent) : QObject(parent) {}

void TJobModel::SetSources(TJobSource job, TLinkSource link)
{
    FJobSource = std::move(job);
    FLink = std::move(link);
}

TJob TJobModel::Job() const
{
    return FJobSource ? FJobSource() : TJob{};
}

TLinkOptions TJobModel::StationLink() const
{
    return FLink ? FLink() : TLinkOptions{};
}

void TJobModel::SetOpenedRecipe(const TRecipe& recipe)
{
    FOpenedRecipe = recipe;
}

std::optional<TRecipe> TJobModel::ShownRecipe(bool verifyAfterSend) const
{
    if (!FOpenedRecipe)
        return std::nullopt;
    TJob shown = Job();
    shown.Verify = verifyAfterSend;
    if (JobIsTheRecipe(*FOpenedRecipe, shown))
        return FOpenedRecipe;
    return std::nullopt;
}

void TJobModel::SetVerifyAfterSend(bool on)
{
    if (on == FVerifyAfterSend)
        return;
    FVerifyAfterSend = on;
    Q_EMIT VerifyAfterSendChanged(on);
}

void TJobModel::SetOperationRunning(bool running)
{
    FOperationRunning = running;
}

void TJobModel::SetStationRunning(bool running)
{
    if (running == FStationRunning)
        return;
    FStationRunning = running;
    Q_EMIT StationRunningChanged(running);
}

void TJobModel::AdvanceSerialNumber(int32_t next)
{
    Q_EMIT SerialNumberAdvanced(next);
}
