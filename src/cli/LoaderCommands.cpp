#include "LoaderCommands.h"

#include "SignalWatcher.h"
#include "StoreSerialCounter.h"
#include "uCommunication.h"

#include <QCoreApplication>

#include <algorithm>
#include <cstdio>
#include <unistd.h>

namespace {

bool IsStation(const TLoaderOptions& options)
{
    return options.Command == QLatin1String("station");
}

bool IsListing(const TLoaderOptions& options)
{
    return options.Command == QLatin1String("discover") || options.Command == QLatin1String("info");
}

bool WritesUnits(const TLoaderOptions& options)
{
    return options.Operation == TUnitOperation::Send;
}

}   // namespace

TLoaderRun::TLoaderRun(TLoaderOptions options, TLoaderConsole& console)
    : FOptions(std::move(options)), FConsole(console)
{
    if (FOptions.Inputs.SerialNumberChecked && FOptions.FirstSerial) {
        // --autoincrement keeps the next number where the window keeps it; --serial alone
        // counts for this run only.
        if (FOptions.Autoincrement)
            FSerials = std::make_shared<TSettingsSerialCounter>(*FOptions.FirstSerial);
        else
            FSerials = std::make_shared<TMemorySerialCounter>(*FOptions.FirstSerial);
    }
    FScanTimer.setInterval(int(FOptions.ScanInterval));
    connect(&FScanTimer, &QTimer::timeout, this, &TLoaderRun::Scan);
}

TLoaderRun::~TLoaderRun()
{
    for (TUnitRunner* runner : FRunning)
        runner->RequestStop();
    qDeleteAll(FRunning);   // each waits for its thread
}

int TLoaderRun::Exec()
{
    TSignalWatcher signals;
    connect(&signals, &TSignalWatcher::Interrupted, this, &TLoaderRun::Interrupt);
    if (WritesUnits(FOptions)) {
        const int opened = OpenRecords();
        if (opened != ExitOk)
            return opened;
    }

    FDiscovery = std::make_unique<TCommunicator>();
    FDiscovery->StopRequested = &FStop;
    FDiscovery->ControllerPort = FOptions.Link.Port;
    FDiscovery->PasswordCode = FOptions.Link.PasswordCode;
    if (!FDiscovery->SelectAdapter(FOptions.Link.AdapterName)) {
        FConsole.Note(QStringLiteral("error: can't bind to adapter ") + FOptions.Link.AdapterName);
        return ExitNoUnit;
    }

    if (IsStation(FOptions)) {
        FConsole.Note(QStringLiteral("station: waiting for fresh units on ") + FOptions.Link.AdapterName +
                      QStringLiteral(" (") + FDiscovery->LocalIP + QLatin1Char(')'));
        QTimer::singleShot(0, this, &TLoaderRun::Scan);
        FScanTimer.start();
    } else {
        QList<TUnitAddress> found;
        Discover(found);
        if (FInterrupted)
            return ExitCode();   // during the discovery: no unit was touched
        const QList<TUnitAddress> chosen = Chosen(found);
        if (chosen.isEmpty()) {
            FConsole.Note(QStringLiteral("error: no unit answered"));
            return ExitNoUnit;
        }
        for (const TUnitAddress& unit : chosen)
            Queue(unit);
        StartWaiting();
    }
    if (!Ended())
        FLoop.exec();
    FScanTimer.stop();
    if (!IsListing(FOptions))
        FConsole.Summary(FFinished);
    return ExitCode();
}

int TLoaderRun::OpenRecords()
{
    auto store = std::make_shared<TRecordStore>();
    QString error;
    if (!store->Open(FOptions.Records, error)) {
        FConsole.Note(QStringLiteral("error: ") + error);
        return ExitStore;
    }
    FRecords = std::make_unique<TRecordKeeper>(store, TRecordKeeper::DefaultFallbackPath(*store));
    QStringList notes;
    const int written = FRecords->Flush(error, &notes);
    for (const QString& note : std::as_const(notes))
        FConsole.Note(QStringLiteral("warning: ") + note);
    if (written > 0)
        FConsole.Note(QStringLiteral("%1 records that waited in %2 are in the store now")
                          .arg(QString::number(written), FRecords->FallbackPath()));
    if (!error.isEmpty())
        FConsole.Note(QStringLiteral("warning: records still wait in %1: %2").arg(FRecords->FallbackPath(), error));
    if (!FOptions.Series.isEmpty()) {
        // A misspelt series is found here, before any unit is touched, not at the first unit.
        QList<TSeriesState> series;
        if (!store->ReadSeries(series, error)) {
            FConsole.Note(QStringLiteral("error: ") + error);
            return ExitStore;
        }
        const bool known = std::any_of(series.cbegin(), series.cend(),
                                       [this](const TSeriesState& one) { return one.Name == FOptions.Series; });
        if (!known) {
            FConsole.Note(QStringLiteral("error: no serial number series \"") + FOptions.Series +
                          QStringLiteral("\" in the record store ") + store->Location() +
                          QStringLiteral("; 'orvel-loader serials show' lists the series, 'orvel-loader serials set "
                                         "--series NAME --next N' starts one"));
            return ExitBadInput;
        }
        FSerials = std::make_shared<TStoreSerialCounter>(store, FOptions.Series, FOptions.Station);
    } else if (FSerials) {
        // Numbers of this run or of the settings go into the store's set of given numbers
        // before their units get them: one given already elsewhere is passed over.
        FSerials = std::make_shared<TClaimedSerialCounter>(FSerials, store,
                                                           FOptions.Autoincrement ? QStringLiteral("--autoincrement")
                                                                                  : QStringLiteral("--serial"),
                                                           FOptions.Station);
    }
    if (IsStation(FOptions))
        FConsole.Note(QStringLiteral("station ") + FOptions.Station + QStringLiteral(": records go to ") +
                      store->Location());
    return ExitOk;
}

void TLoaderRun::KeepRecord(const TUnitRecord& record)
{
    const TKeepResult kept = FRecords->Keep(RecordEntry(record, FOptions.Station, FOptions.Series));
    if (!kept.Notes.isEmpty())
        FConsole.Note(QStringLiteral("warning: ") + kept.Notes);
    if (kept.Kept == TKept::Waiting) {
        FConsole.Note(QStringLiteral("warning: ") + kept.Text);
    } else if (kept.Kept == TKept::Lost) {
        FConsole.Note(QStringLiteral("error: ") + kept.Text +
                      QStringLiteral("; the run stops: no unit starts until its records can be kept"));
        FRecordLost = true;
        FScanTimer.stop();
        for (const TUnitJob& job : FWaiting)
            FConsole.Note(QStringLiteral("not started: ") + job.Unit.IP);
        FWaiting.clear();
    }
}

void TLoaderRun::Interrupt(int signal)
{
    if (FInterrupted)
        EndNow();
    FInterrupted = true;
    FSignal = signal;
    FStop = true;
    FScanTimer.stop();
    // A runner waiting on the store (a number's transaction behind another station's lock)
    // ends its wait now too.
    if (FRecords)
        FRecords->Store().Cancel();
    FConsole.Note(QStringLiteral("interrupted: every unit stops after its request under way; a second signal ends "
                                 "the run at once"));
    for (const TUnitJob& job : FWaiting)
        FConsole.Note(QStringLiteral("not started: ") + job.Unit.IP);
    FWaiting.clear();
    for (TUnitRunner* runner : FRunning)
        runner->RequestStop();
    if (Ended())
        FLoop.quit();
}

void TLoaderRun::EndNow()
{
    // Runners that ended already bring their own records, waiting in the queue.
    QCoreApplication::sendPostedEvents(this, QEvent::MetaCall);
    int kept = 0;
    if (FRecords) {
        for (const TUnitRunner* runner : std::as_const(FRunning)) {
            KeepRecord(runner->Snapshot());
            ++kept;
        }
    }
    FConsole.Note(QStringLiteral("ended at a second signal; records kept as far as they got: ") +
                  QString::number(kept));
    std::fflush(nullptr);
    // The runners' threads may be in the middle of a wait: nothing of this process is
    // unwound, the records are in the store or its fallback file already.
    ::_exit(ExitCode());
}

bool TLoaderRun::Discover(QList<TUnitAddress>& found)
{
    QStringList nads;
    QStringList ips;
    FDiscovery->Discover(&nads, &ips, FOptions.DiscoveryWait);
    QSet<QString> addresses;
    for (qsizetype i = 0; i < nads.size() && i < ips.size(); ++i) {
        if (addresses.contains(ips[i]))
            continue;   // a unit that answered twice
        addresses.insert(ips[i]);
        found.append({ips[i], int32_t(nads[i].toUInt())});
    }
    return !found.isEmpty();
}

QList<TUnitAddress> TLoaderRun::Chosen(const QList<TUnitAddress>& found)
{
    const TTargetChoice& targets = FOptions.Targets;
    if (FOptions.Command == QLatin1String("discover") || targets.All)
        return found;
    QList<TUnitAddress> chosen;
    const auto choose = [&chosen](const TUnitAddress& unit) {
        for (const TUnitAddress& already : chosen) {
            if (already.IP == unit.IP)
                return;
        }
        chosen.append(unit);
    };
    for (const TUnitAddress& unit : found) {
        if (targets.Fresh && unit.Nad == -1)
            choose(unit);
    }
    for (const QString& ip : targets.IPs) {
        const auto it = std::find_if(found.cbegin(), found.cend(),
                                     [&ip](const TUnitAddress& unit) { return unit.IP == ip; });
        if (it == found.cend()) {
            FConsole.Note(QStringLiteral("error: no unit answered at ") + ip);
            FFailed = true;
        } else {
            choose(*it);
        }
    }
    for (const int32_t nad : targets.Nads) {
        bool answered = false;
        for (const TUnitAddress& unit : found) {
            if (unit.Nad == nad) {
                choose(unit);
                answered = true;
            }
        }
        if (!answered) {
            FConsole.Note(QStringLiteral("error: no unit answered as NAD %1").arg(nad));
            FFailed = true;
        }
    }
    return chosen;
}

TUnitJob TLoaderRun::JobFor(const TUnitAddress& unit) const
{
    TUnitJob job;
    job.Unit = unit;
    job.Operation = FOptions.Operation;
    job.Inputs = FOptions.Inputs;
    job.Images = FOptions.Images;
    job.VerifyAfterSend = FOptions.VerifyAfterSend;
    job.DumpPath = FOptions.DumpPath;
    job.Link = FOptions.Link;
    job.ProductionLogPath = FOptions.ProductionLogPath;
    job.Recipe = FOptions.Recipe;
    return job;
}

void TLoaderRun::Queue(const TUnitAddress& unit)
{
    FWaiting.append(JobFor(unit));
}

void TLoaderRun::StartWaiting()
{
    while (!FWaiting.isEmpty() && FRunning.size() < FOptions.Parallel && !FInterrupted && !FRecordLost) {
        auto* runner = new TUnitRunner(FWaiting.takeFirst(), FSerials);
        connect(runner, &TUnitRunner::Message, this,
                [this](const QString& unit, const QDateTime& moment, const QString& text) {
                    if (!IsListing(FOptions))
                        FConsole.Message(unit, moment, text);
                });
        connect(runner, &TUnitRunner::Progress, this,
                [this](const QString& unit, qint64 done, qint64 total) { FConsole.Progress(unit, done, total); });
        connect(runner, &TUnitRunner::Finished, this, &TLoaderRun::RunnerFinished);
        FRunning.append(runner);
        runner->start();
    }
}

void TLoaderRun::RunnerFinished(const TUnitRecord& record)
{
    auto* runner = qobject_cast<TUnitRunner*>(sender());
    FRunning.removeOne(runner);
    runner->deleteLater();   // its thread ends right after this signal
    FFinished.push_back(record);
    const bool succeeded = record.Outcome == TUnitOutcome::Succeeded;
    if (succeeded)
        ++FSucceeded;
    else
        FFailed = true;
    if (IsStation(FOptions))
        FAddresses[record.IP] = succeeded ? TAddressUse::Written : TAddressUse::Failed;
    // Kept before the console hears of it: a closed terminal or a kill while printing must
    // not cost the record.
    if (WritesUnits(FOptions))
        KeepRecord(record);
    if (IsListing(FOptions))
        FConsole.UnitInfo(record);
    else
        FConsole.Result(record);

    if (IsStation(FOptions) && FOptions.Units > 0 && FSucceeded >= FOptions.Units) {
        FScanTimer.stop();
        FWaiting.clear();
    }
    StartWaiting();
    if (Ended())
        FLoop.quit();
}

void TLoaderRun::Scan()
{
    // Discovery waits in an event loop of its own, where the next scan could start.
    if (FScanning || FInterrupted)
        return;
    FScanning = true;
    QList<TUnitAddress> found;
    Discover(found);
    FScanning = false;
    if (FInterrupted || !FScanTimer.isActive())
        return;   // ended while discovery waited
    ForgetSilentAddresses(found);
    for (const TUnitAddress& unit : found) {
        if (unit.Nad != -1 || !IsNewUnit(unit))
            continue;
        if (FOptions.Units > 0 && FSucceeded + FRunning.size() + FWaiting.size() >= FOptions.Units)
            break;
        FAddresses[unit.IP] = TAddressUse::Running;
        FSkipSaid.remove(unit.IP);
        FConsole.Note(QStringLiteral("fresh unit at ") + unit.IP);
        Queue(unit);
    }
    StartWaiting();
}

void TLoaderRun::ForgetSilentAddresses(const QList<TUnitAddress>& found)
{
    QSet<QString> answering;
    for (const TUnitAddress& unit : found)
        answering.insert(unit.IP);
    for (auto it = FAddresses.begin(); it != FAddresses.end();) {
        if (it.value() != TAddressUse::Running && !answering.contains(it.key())) {
            FSkipSaid.remove(it.key());
            it = FAddresses.erase(it);
        } else {
            ++it;
        }
    }
}

bool TLoaderRun::IsNewUnit(const TUnitAddress& unit)
{
    const auto use = FAddresses.constFind(unit.IP);
    if (use == FAddresses.cend())
        return true;
    QString why;
    switch (*use) {
    case TAddressUse::Running:
        return false;   // still fresh until its runner writes its number
    case TAddressUse::Written:
        // Written with a number, it answers under that number: a fresh unit here is another.
        if (FSerials)
            return true;
        why = QStringLiteral("written already and left without a serial number (--no-serial)");
        break;
    case TAddressUse::Failed:
        why = QStringLiteral("the unit there failed");
        break;
    }
    if (!FSkipSaid.contains(unit.IP)) {
        FSkipSaid.insert(unit.IP);
        FConsole.Note(QStringLiteral("skipped ") + unit.IP + QStringLiteral(": ") + why +
                      QStringLiteral("; a fresh unit there is taken once the address has been silent for a scan "
                                     "(the unit swapped)"));
    }
    return false;
}

bool TLoaderRun::Ended() const
{
    if (!FRunning.isEmpty() || !FWaiting.isEmpty())
        return false;
    return !IsStation(FOptions) || FInterrupted || !FScanTimer.isActive();
}

int TLoaderRun::ExitCode() const
{
    if (FInterrupted)
        return TSignalWatcher::ExitCodeFor(FSignal);
    if (FRecordLost)
        return ExitStore;
    return FFailed ? ExitUnitFailed : ExitOk;
}
