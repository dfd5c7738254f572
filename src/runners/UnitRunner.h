// UnitRunner: runs one unit job on a thread of its own, with its own link (its own socket
// and local port, pinned to the unit's address, never broadcasting) and its own loader
// session, so several units are flashed at once, each blocking on its own socket.
//
// It reports through queued signals: every message line the window would log, the progress
// of the whole operation in bytes (a send and its verify as one total), and at the end the
// unit's record. RequestStop ends the wait under way within 20 ms and sends nothing more; the
// record then says "interrupted" for the step cut short and what the unit now holds.
#pragma once

#include "SerialCounter.h"
#include "UnitJob.h"
#include "UnitRecord.h"

#include <QDateTime>
#include <QMutex>
#include <QThread>

#include <atomic>
#include <memory>

class TUnitRunner : public QThread {
    Q_OBJECT
public:
    // serials: the shared counter a send's serial number comes from; none: the job's number.
    explicit TUnitRunner(TUnitJob job, std::shared_ptr<TSerialCounter> serials = {}, QObject* parent = nullptr);
    // Stops the job (its wait under way ends at once) and waits for the thread.
    ~TUnitRunner() override;

    const TUnitJob& Job() const { return FJob; }
    // Safe from any thread.
    void RequestStop();
    // The unit's record as far as known, safe from any thread: for a front end that ends the
    // run before the runner has ended. Until then it says "interrupted" for the outcome and
    // the step under way, and holds the serial number taken as soon as it is taken; once
    // ended, it is the record Finished gave.
    TUnitRecord Snapshot() const;

Q_SIGNALS:
    void Message(const QString& unit, const QDateTime& moment, const QString& text);
    void Progress(const QString& unit, qint64 done, qint64 total);
    void Finished(const TUnitRecord& record);

protected:
    void run() override;

private:
    class TProgressTotal;
    // The session's events as the runner's signals: its lines, and one progress total.
    void Render(const TOperationEvent& event, TProgressTotal& total);
    // Keeps a copy of the record so far for Snapshot.
    void Keep(const TUnitRecord& record);

    const TUnitJob FJob;
    const std::shared_ptr<TSerialCounter> FSerials;
    std::atomic<bool> FStop{false};
    mutable QMutex FSnapshotMutex;
    TUnitRecord FSnapshot;
};
