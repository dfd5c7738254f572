// UnitRecord: what a runner did to its unit, for the terminal summary, the JSON result line
// and the production records: the unit, what it held before, what went into it (with the
// SHA-256 of the bytes as written), each step's result, times and the link's counts. A plain
// value: its fields, their JSON paths, store columns and export headers are one table
// (RecordFields), from which every form of the record is made.
#pragma once

#include "ControllerInfo.h"
#include "OperationFailure.h"
#include "hCodeMemory.h"

#include <QDateTime>
#include <QJsonObject>
#include <QMetaType>
#include <QString>

#include <cstdint>

enum class TUnitOutcome { Succeeded, Failed, Interrupted };

// How a step of an operation ended. Text only where the record leaves the program (JSON,
// the store, the export, listings): "---", "ok", "err", "interrupted", "unknown".
enum class TStepResult {
    NotAsked,
    Ok,
    Err,
    Interrupted,   // cut short by a stop request
    Unknown,       // the serial step: its write went unanswered and the unit could not be read back
};

struct TUnitRecord {
    QString IP;
    int32_t NadBefore = -1;
    int32_t NadAfter = -1;
    int32_t Serial = -1;        // the unit's serial number afterwards; -1: none
    int32_t SerialTaken = -1;   // taken from a shared counter for the unit, written or not; -1: none
    QString Platform;           // as the information panel shows it
    QString KernelVersion;      // the unit's kernel before the operation
    QString KernelFile;         // the file names as given; empty: not sent
    QString ProgramFile;
    QString KernelSha256;          // of the kernel as written, header built by the send included
    QString ProgramSha256;         // of the program as written, sealed header in place
    QString Recipe;                // the recipe the job came from; empty: none
    QString KernelSourceSha256;    // of the kernel file as read, when sent
    QString ProgramSourceSha256;   // of the program file as read, when sent
    bool SettingsWritten = false;
    TKernelHeader Settings{};   // the configuration header written, when SettingsWritten
    TStepResult SerialStep = TStepResult::NotAsked;
    TStepResult KernelStep = TStepResult::NotAsked;
    TStepResult ProgramStep = TStepResult::NotAsked;
    TStepResult VerifyStep = TStepResult::NotAsked;
    TInfoPanelTexts Panel;   // what the unit reported when the runner reached it
    QDateTime Started;
    QDateTime Ended;
    uint64_t Requests = 0;
    uint64_t Resent = 0;
    TUnitOutcome Outcome = TUnitOutcome::Failed;
    QString Message;   // the runner's last message line
    // Why the unit failed or was interrupted, by kind and in the words Message has; None when
    // it succeeded.
    TOperationFailure Failure;

    qint64 DurationMs() const { return Started.msecsTo(Ended); }
};
Q_DECLARE_METATYPE(TUnitRecord)

QString OutcomeText(TUnitOutcome outcome);
// The outcome a text names; anything else is a failure.
TUnitOutcome OutcomeFromText(const QString& text);
QString StepResultText(TStepResult result);
// The result a text names; anything else is a step not asked.
TStepResult StepResultFromText(const QString& text);
// The unit's serial number as the listings and the station window show it: the number it
// holds ("1005"), or the one taken for it and what became of it ("1005 (taken, not
// written)"); "-" when it has none.
QString SerialNumberText(const TUnitRecord& record);
// The record as one JSON object (the result line); times in ISO 8601 with milliseconds. Made
// from RecordFields, which says the rest of its forms.
QJsonObject UnitRecordJson(const TUnitRecord& record);
