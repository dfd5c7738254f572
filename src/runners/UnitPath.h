// UnitPath: the one path of a unit's operation, whichever front end started it: the window's
// own Send, Verify, Start, Stop and dumps on the unit it is connected to, and a station's
// runner on the unit it connected to by its address.
//
//   TUnitJob -> Begin (the unit as connected) -> Run: the send (its serial number taken from
//   the counter at the moment the unit is about to hold it, a verify after it when the job
//   asks), a verify, a PLC command or a dump -> Finish -> the unit's TUnitRecord: outcome,
//   each step, the failure's kind and its words
//
// Every event of the session passes through Notice before its front end renders it: the
// path notes what the record needs, and keeps the record as it would read were the run cut
// short now (Snapshot), for a front end that must end before the unit has.
#pragma once

#include "SerialCounter.h"
#include "UnitJob.h"
#include "UnitRecord.h"

#include <atomic>
#include <functional>
#include <memory>

class TUnitPath {
public:
    // serials: where a send's number comes from; none: the job's own number. stop: the stop
    // request of the link the session runs on.
    TUnitPath(const TUnitJob& job, std::shared_ptr<TSerialCounter> serials, const std::atomic<bool>& stop);

    // Called with the record so far whenever it changes, on the session's thread.
    std::function<void(const TUnitRecord& soFar)> OnSnapshot;

    void Notice(const TOperationEvent& event);
    // Connects to the job's unit by its NAD, on a link pinned to its address; then Begin.
    bool Connect(TLoaderSession& session);
    // The unit the session is connected to (the job's unit) goes on record; false, and why, when its loader is
    // too old for the operations.
    bool Begin(TLoaderSession& session);
    bool Run(TLoaderSession& session);
    // The operation failed before it reached the unit (no adapter, say): why, as a line.
    void Fail(TLoaderSession& session, const TOperationFailure& failure);
    // The record as the operation ended; ok: it succeeded.
    TUnitRecord Finish(const TLoaderSession& session, bool ok);

private:
    bool Send(TLoaderSession& session);
    bool Verify(TLoaderSession& session);
    // "ok", "err", or "interrupted" after a stop request.
    TStepResult StepResult(bool ok) const;
    // The record as it would be were the run to end now.
    void Snapshot();
    // The first contact: the record's start, and the link's counts from here.
    void Start(const TLoaderSession& session);

    const TUnitJob& FJob;
    const std::shared_ptr<TSerialCounter> FSerials;
    const std::atomic<bool>& FStop;
    TUnitRecord FRecord;
    bool FStarted = false;
    uint64_t FRequests = 0;   // the link's counts when the path began
    uint64_t FDatagrams = 0;
    QString FLastMessage;
    QString FLastStep;   // the last line that was no error: what the unit was doing
    // Set while a send runs, for the snapshot.
    const TLoaderSession* FSending = nullptr;
};
