#include "UnitRecord.h"

#include <iterator>

namespace {

// The outcomes and the steps' results as records keep them, by their enums.
const char* const OutcomeTexts[] = {"ok", "failed", "interrupted"};
static_assert(std::size(OutcomeTexts) == size_t(TUnitOutcome::Interrupted) + 1);
const char* const StepTexts[] = {"---", "ok", "err", "interrupted", "unknown"};
static_assert(std::size(StepTexts) == size_t(TStepResult::Unknown) + 1);

}   // namespace

QString OutcomeText(TUnitOutcome outcome)
{
    return QLatin1String(OutcomeTexts[size_t(outcome)]);
}

TUnitOutcome OutcomeFromText(const QString& text)
{
    for (size_t i = 0; i < std::size(OutcomeTexts); ++i)
        if (text == QLatin1String(OutcomeTexts[i]))
            return TUnitOutcome(i);
    return TUnitOutcome::Failed;
}

QString StepResultText(TStepResult result)
{
    return QLatin1String(StepTexts[size_t(result)]);
}

TStepResult StepResultFromText(const QString& text)
{
    for (size_t i = 0; i < std::size(StepTexts); ++i)
        if (text == QLatin1String(StepTexts[i]))
            return TStepResult(i);
    return TStepResult::NotAsked;
}
