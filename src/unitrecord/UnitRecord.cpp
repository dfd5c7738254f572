#include "UnitRecord.h"

#include "RecordFields.h"

#include <iterator>

namespace {

// The steps' results as records keep them, by TStepResult.
const char* const StepTexts[] = {"---", "ok", "err", "interrupted", "unknown"};
static_assert(std::size(StepTexts) == size_t(TStepResult::Unknown) + 1);

}   // namespace

QString OutcomeText(TUnitOutcome outcome)
{
    switch (outcome) {
    case TUnitOutcome::Succeeded:
        return QStringLiteral("ok");
    case TUnitOutcome::Interrupted:
        return QStringLiteral("interrupted");
    case TUnitOutcome::Failed:
        break;
    }
    return QStringLiteral("failed");
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

QJsonObject UnitRecordJson(const TUnitRecord& record)
{
    QJsonObject json;
    for (const TRecordField& field : RecordFields()) {
        const QJsonValue value = field.Value ? field.Value(record) : QJsonValue::Undefined;
        if (!value.isUndefined())
            SetRecordField(json, QLatin1String(field.Path), value);
    }
    return json;
}
