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

QString SerialNumberText(const TUnitRecord& record)
{
    if (record.SerialTaken > 0 && record.SerialTaken != record.Serial) {
        const QString number = QString::number(record.SerialTaken);
        switch (record.SerialStep) {
        case TStepResult::Unknown:
            return number + QStringLiteral(" (taken, unknown whether written)");
        case TStepResult::Interrupted:
            return number + QStringLiteral(" (taken, interrupted while written)");
        default:
            return number + QStringLiteral(" (taken, not written)");
        }
    }
    return record.Serial > 0 ? QString::number(record.Serial) : QStringLiteral("-");
}
