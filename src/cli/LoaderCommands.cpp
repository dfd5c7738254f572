#include "LoaderCommands.h"

#include "SignalWatcher.h"
#include "StationRecords.h"
#include "uCommunication.h"

#include <QThread>

#include <algorithm>
#include <cstdio>
#include <unistd.h>

namespace {

bool IsStation(const TLoaderOptions& options)
{
    return options.Command == TCommand::Station;
}

bool IsListing(const TLoaderOptions& options)
{
    return Takes(options.Command, TakesListing);
}

bool WritesUnits(const TLoaderOptions& options)
{
    return Takes(options.Command, TakesSerials);
}

}   // namespace

TLoaderRun::TLoaderRun(TLoaderOptions options, TLoaderConsole& console)
    : FOptions(std::move(options)), FConsole(console)
{
    const TSerialSource& serial = FOptions.Job.Serial;
    if (serial.Write && serial.Series.isEmpty()) {
        // --autoincrement keeps the next number where the window keeps it; --serial alone
        // counts for this run only.
        if (serial.Autoincrement)
            FNumbers = std::make_shared<TSettingsSerialCounter>(serial.Number);
        else
            FNumbers = std::make_shared<TMemorySerialCounter>(serial.Number);
    }
}

TLoaderRun::~TLoaderRun() = default;

int TLoaderRun::Exec()
{
    TSignalWatcher signals;
    connect(&signals, &TSignalWatcher::Interrupted, this, &TLoaderRun::Interrupt);
    TEnginePlan plan = Plan();
    if (WritesUnits(FOptions)) {
        const int opened = OpenRecords(plan);
        if (opened != ExitOk)
            return opened;
    }
    FEngine = std::make_unique<TEngine>(plan);
    Connect(*FEngine);

    if (IsStation(FOptions)) {
        if (!FEngine->Scan())
            return ExitNoUnit;
    } else {
        QList<TUnitAddress> chosen;
        if (!DiscoverNamed(chosen))
            return ExitNoUnit;
        if (FInterrupted)
            return ExitCode();   // during the discovery: no unit was touched
        if (chosen.isEmpty()) {
            FConsole.Note(QStringLiteral("error: no unit answered"));
            return ExitNoUnit;
        }
        FEngine->Run(chosen);
    }
    if (FEngine->Running())
        FLoop.exec();
    if (!IsListing(FOptions))
        FConsole.Summary(FEngine->Finished());
    return ExitCode();
}

TEnginePlan TLoaderRun::Plan() const
{
    TEnginePlan plan;
    plan.Job.Operation = FOptions.Operation;
    plan.Job.What = FOptions.Job;
    plan.Job.Images = FOptions.Images;
    plan.Job.DumpPath = FOptions.DumpPath;
    plan.Job.Link = FOptions.Link;
    plan.Job.ProductionLogPath = FOptions.ProductionLogPath;
    plan.Job.Recipe = FOptions.Recipe;
    plan.Parallel = FOptions.Parallel;
    plan.Units = FOptions.Units;
    plan.ScanInterval = FOptions.ScanInterval;
    plan.DiscoveryWait = FOptions.DiscoveryWait;
    plan.Station = FOptions.Station;
    plan.Series = FOptions.Job.Serial.Series;
    plan.Serials = FNumbers;
    return plan;
}

int TLoaderRun::OpenRecords(TEnginePlan& plan)
{
    const QString source = FOptions.Job.Serial.Autoincrement ? QStringLiteral("--autoincrement")
                                                             : QStringLiteral("--serial");
    switch (OpenStationRecords(FOptions.Records, source, FNumbers, plan,
                               [this](TNoteLevel level, const QString& text) { Note(level, text); })) {
    case TRecordsOpened::StoreFailed:
        return ExitStore;
    case TRecordsOpened::UnknownSeries:
        return ExitBadInput;
    case TRecordsOpened::Ok:
        break;
    }
    if (IsStation(FOptions))
        FConsole.Note(QStringLiteral("station ") + FOptions.Station + QStringLiteral(": records go to ") +
                      plan.Records->Store().Location());
    return ExitOk;
}

void TLoaderRun::Connect(TEngine& station)
{
    connect(&station, &TEngine::Note, this, &TLoaderRun::Note);
    connect(&station, &TEngine::UnitMessage, this,
            [this](const QString& unit, const QDateTime& moment, const QString& text) {
                if (!IsListing(FOptions))
                    FConsole.Message(unit, moment, text);
            });
    connect(&station, &TEngine::UnitProgress, this,
            [this](const QString& unit, qint64 done, qint64 total) { FConsole.Progress(unit, done, total); });
    // The engine has kept the record before it tells.
    connect(&station, &TEngine::UnitFinished, this, [this](const TUnitRecord& record) {
        if (IsListing(FOptions))
            FConsole.UnitInfo(record);
        else
            FConsole.Result(record);
    });
    connect(&station, &TEngine::Ended, &FLoop, &QEventLoop::quit);
}

void TLoaderRun::Note(TNoteLevel level, const QString& text)
{
    FConsole.Note(NoteLine(level, text));
}

void TLoaderRun::Interrupt(int signal)
{
    if (FInterrupted)
        EndNow();
    FInterrupted = true;
    FSignal = signal;
    FStop = true;
    FConsole.Note(QStringLiteral("interrupted: every unit stops after its request under way; a second signal ends "
                                 "the run at once"));
    if (FEngine)
        FEngine->Stop();
}

void TLoaderRun::EndNow()
{
    const int kept = FEngine ? FEngine->KeepRecordsNow() : 0;
    FConsole.Note(QStringLiteral("ended at a second signal; records kept as far as they got: ") +
                  QString::number(kept));
    std::fflush(nullptr);
    // The runners' threads may be in the middle of a wait: nothing of this process is
    // unwound, the records are in the store or its fallback file already.
    ::_exit(ExitCode());
}

bool TLoaderRun::DiscoverNamed(QList<TUnitAddress>& chosen)
{
    // The discovery waits on a thread of its own, so that this thread's event loop still hears
    // a signal: Interrupt sets FStop, and the wait ends at the link's next look at it.
    bool bound = false;
    QStringList nads;
    QStringList ips;
    const std::unique_ptr<QThread> discovery(QThread::create([this, &bound, &nads, &ips] {
        TCommunicator link;
        link.StopRequested = &FStop;
        link.SetOptions(FOptions.Link);
        bound = link.SelectAdapter(FOptions.Link.AdapterName);
        if (bound)
            link.Discover(&nads, &ips, FOptions.DiscoveryWait);
    }));
    QEventLoop waiting;
    connect(discovery.get(), &QThread::finished, &waiting, &QEventLoop::quit);
    discovery->start();
    waiting.exec();
    discovery->wait();
    if (!bound) {
        FConsole.Note(QStringLiteral("error: can't bind to adapter ") + FOptions.Link.AdapterName);
        return false;
    }
    chosen = Chosen(AnsweredUnits(nads, ips));
    return true;
}

QList<TUnitAddress> TLoaderRun::Chosen(const QList<TUnitAddress>& found)
{
    const TTargetChoice& targets = FOptions.Targets;
    if (!Takes(FOptions.Command, TakesUnits) || targets.All)
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

int TLoaderRun::ExitCode() const
{
    // A record kept nowhere is what the operator must hear first, signal or not.
    if (FEngine && FEngine->RecordLost())
        return ExitStore;
    if (FInterrupted)
        return TSignalWatcher::ExitCodeFor(FSignal);
    return FFailed || (FEngine && FEngine->Failed() > 0) ? ExitUnitFailed : ExitOk;
}
