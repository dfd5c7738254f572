#include "JobModel.h"

TJobModel::TJobModel(QObject* parent) : QObject(parent) {}

void TJobModel::SetSources(TInputsSource inputs, TLinkSource link)
{
    FInputs = std::move(inputs);
    FLink = std::move(link);
}

TOperationInputs TJobModel::Inputs() const
{
    return FInputs ? FInputs() : TOperationInputs{};
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
    if (FOpenedRecipe && InputsAreTheRecipe(*FOpenedRecipe, Inputs(), verifyAfterSend))
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
