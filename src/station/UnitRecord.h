// UnitRecord: what a runner did to its unit, for the terminal summary, the JSON result line
// and the production records: the unit, what it held before, what went into it (with the
// SHA-256 of the bytes as written), each step's result, times and the link's counts.
#pragma once

#include "ControllerInfo.h"
#include "LoaderSession.h"
#include "OperationFailure.h"
#include "hCodeMemory.h"

#include <QDateTime>
#include <QJsonObject>
#include <QMetaType>
#include <QString>

#include <cstdint>

enum class TUnitOutcome { Succeeded, Failed, Interrupted };

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
    // "ok", "err", "---" (not asked), "interrupted" (cut short by a stop request); the serial
    // step also "unknown" (its write went unanswered and the unit could not be read back).
    QString SerialStep = QStringLiteral("---");
    QString KernelStep = QStringLiteral("---");
    QString ProgramStep = QStringLiteral("---");
    QString VerifyStep = QStringLiteral("---");
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
// The record as one JSON object; times in ISO 8601 with milliseconds.
QJsonObject UnitRecordJson(const TUnitRecord& record);

// What the connected unit reported about itself, as its record keeps it.
void NoteConnectedUnit(const TLoaderSession& session, TUnitRecord& record);
// What the session's last send, run with inputs on images, put into the unit: files (with the
// SHA-256 of each as read), each step's result, the hashes of the bytes as written, the
// settings and the serial number.
void NoteSend(const TLoaderSession& session, const TOperationInputs& inputs, const TLoadedImages& images,
              TUnitRecord& record);
// The same from a send's report.
void NoteSend(const TSendReport& sent, const TOperationInputs& inputs, const TLoadedImages& images,
              TUnitRecord& record);
