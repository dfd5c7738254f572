#include "UnitRunner.h"

#include "UnitPath.h"

#include <algorithm>

// The progress of a send followed by its verify is one total: the verify's bytes are known
// before (After), and counted on from the send's once the verify begins (Base).
class TUnitRunner::TProgressTotal {
public:
    explicit TProgressTotal(qint64 after) : FAfter(after) {}

    void VerifyBegins()
    {
        FBase = FMaximum - FAfter;
        FAfter = 0;
    }
    // done of total: the bytes of the operation under way.
    std::pair<qint64, qint64> Move(qint64 done, qint64 total)
    {
        FDone = std::max(FDone, FBase + done);
        FMaximum = std::max(FDone, FBase + total + FAfter);
        return {FDone, FMaximum};
    }

private:
    qint64 FBase = 0;
    qint64 FAfter = 0;
    qint64 FDone = 0;
    qint64 FMaximum = 0;
};

TUnitRunner::TUnitRunner(TUnitJob job, std::shared_ptr<TSerialCounter> serials, QObject* parent)
    : QThread(parent), FJob(std::move(job)), FSerials(std::move(serials))
{
    qRegisterMetaType<TUnitRecord>();
    // The snapshot of a runner not yet started names its unit.
    FSnapshot.IP = FJob.Unit.IP;
    FSnapshot.Recipe = FJob.Recipe;
    FSnapshot.NadBefore = FSnapshot.NadAfter = FJob.Unit.Nad;
    FSnapshot.Outcome = TUnitOutcome::Interrupted;
    FSnapshot.Failure.Kind = TFailureKind::Interrupted;
}

TUnitRunner::~TUnitRunner()
{
    RequestStop();
    wait();
}

void TUnitRunner::RequestStop()
{
    FStop = true;
}

TUnitRecord TUnitRunner::Snapshot() const
{
    const QMutexLocker lock(&FSnapshotMutex);
    TUnitRecord record = FSnapshot;
    if (!record.Ended.isValid())
        record.Ended = QDateTime::currentDateTime();
    return record;
}

void TUnitRunner::Keep(const TUnitRecord& record)
{
    const QMutexLocker lock(&FSnapshotMutex);
    FSnapshot = record;
}

void TUnitRunner::Render(const TOperationEvent& event, TProgressTotal& total)
{
    std::visit(TEventHandlers{[this](const Event::TMessage& message) {
                                  Q_EMIT Message(FJob.Unit.IP, QDateTime::currentDateTime(), message.Text);
                              },
                              [this, &total](const Event::TProgress& progress) {
                                  const auto [done, maximum] = total.Move(progress.Done, progress.Total);
                                  Q_EMIT Progress(FJob.Unit.IP, done, maximum);
                              },
                              [&total](const Event::TVerifyBegins&) { total.VerifyBegins(); },
                              // The rest is the window's to show: the unit's lines say it.
                              [](const auto&) {}},
               event);
}

void TUnitRunner::run()
{
    // Everything of the link lives on this thread: its socket, its waits, its timers.
    TCommunicator link;
    TLinkOptions options = FJob.Link;
    options.PinnedIP = FJob.Unit.IP;
    link.SetOptions(options);
    link.StopRequested = &FStop;

    const bool sendsAndVerifies = FJob.Operation == TUnitOperation::Send && FJob.What.Verify;
    TProgressTotal total(sendsAndVerifies ? (FJob.What.Kernel ? FJob.Images.Kernel.size() : 0) +
                                                (FJob.What.Program ? FJob.Images.Program.size() : 0)
                                          : 0);
    TUnitPath path(FJob, FSerials, FStop);
    path.OnSnapshot = [this](const TUnitRecord& soFar) { Keep(soFar); };
    TUnitRecord record;
    {
        TLoaderSession session(link, [this, &path, &total](const TOperationEvent& event) {
            path.Notice(event);
            Render(event, total);
        });
        session.ProductionLogPath = FJob.ProductionLogPath;
        bool ok = false;
        if (link.SelectAdapter(FJob.Link.AdapterName))
            ok = path.Connect(session) && path.Run(session);
        else
            path.Fail(session, {TFailureKind::NoAdapter,
                                QStringLiteral("error: can't bind to adapter ") + FJob.Link.AdapterName});
        record = path.Finish(session, ok);
    }
    Keep(record);
    Q_EMIT Finished(record);
}
