// records_bench: how fast the record store hands out serial numbers, and what keeping one
// unit's record costs the station.
//
//   records_bench [POSTGRESQL_URL]
//
// SQLite: a new store file in the temporary folder, with the store's own settings (WAL, a
// full sync at every commit, so a number taken survives a power cut). PostgreSQL: the URL
// given, for instance the throwaway cluster of the tests:
//
//   tests/records/with_postgres.sh sh -c 'build/bin/records_bench "$ORVEL_TEST_POSTGRES"'
//
// For each store: serial numbers taken per second by 1 and by 8 takers at once (threads,
// each on its own connection, as the runners of a station), and the time one record takes
// to keep as the station keeps it after each unit (median, 95th percentile and worst), next
// to the 5 ms a unit's run may grow by.
#include "RecordKeeper.h"
#include "RecordStore.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <memory>
#include <vector>

namespace {

constexpr int Takes = 2000;   // per run, shared by the takers
constexpr int Records = 500;
constexpr double RecordBudgetMs = 5;

double SerialsPerSecond(TRecordStore& store, const QString& series, int takers)
{
    QString error;
    if (!store.SetNextSerial(series, 1, error)) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 0;
    }
    std::atomic<int> failed = 0;
    std::vector<std::unique_ptr<QThread>> threads;
    for (int t = 0; t < takers; ++t)
        threads.emplace_back(QThread::create([&] {
            for (int i = 0; i < Takes / takers; ++i) {
                QString why;
                if (store.TakeSerial(series, QStringLiteral("bench"), why) < 1)
                    ++failed;
            }
        }));
    QElapsedTimer clock;
    clock.start();
    for (auto& thread : threads)
        thread->start();
    for (auto& thread : threads)
        thread->wait();
    const double seconds = double(clock.nsecsElapsed()) / 1e9;
    if (failed)
        std::fprintf(stderr, "%d numbers could not be taken\n", failed.load());
    return Takes / seconds;
}

void KeepRecords(const std::shared_ptr<TRecordStore>& store, const QString& fallback)
{
    TRecordKeeper keeper(store, fallback);
    TUnitRecord unit;
    unit.IP = QStringLiteral("127.0.0.2");
    unit.Platform = QStringLiteral("Orvel/ARM");
    unit.KernelFile = QStringLiteral("kernel.bin");
    unit.ProgramFile = QStringLiteral("program.bin");
    unit.KernelSha256 = unit.ProgramSha256 = QString(64, u'a');
    unit.SettingsWritten = true;
    unit.SerialStep = unit.KernelStep = unit.ProgramStep = TStepResult::Ok;
    unit.Outcome = TUnitOutcome::Succeeded;
    unit.Message = QStringLiteral("sent successfully");
    std::vector<double> ms;
    for (int i = 0; i < Records; ++i) {
        unit.Serial = unit.SerialTaken = unit.NadAfter = 100000 + i;
        unit.Started = unit.Ended = QDateTime::currentDateTime();
        const TStoredRecord entry = RecordEntry(unit, QStringLiteral("bench"), QStringLiteral("bench"));
        QElapsedTimer clock;
        clock.start();
        const TKeepResult kept = keeper.Keep(entry);
        ms.push_back(double(clock.nsecsElapsed()) / 1e6);
        if (kept.Kept != TKept::Stored) {
            std::fprintf(stderr, "%s\n", qPrintable(kept.Text));
            return;
        }
    }
    std::sort(ms.begin(), ms.end());
    const double p95 = ms[ms.size() * 95 / 100];
    std::printf("  one record kept:        median %.2f ms, 95%% %.2f ms, worst %.2f ms (of %d; budget %.0f ms: %s)\n",
                ms[ms.size() / 2], p95, ms.back(), Records, RecordBudgetMs, p95 < RecordBudgetMs ? "within" : "OVER");
}

void Bench(const QString& title, const QString& location, const QString& fallback)
{
    auto store = std::make_shared<TRecordStore>();
    QString error;
    if (!store->Open(location, error)) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return;
    }
    std::printf("%s (%s)\n", qPrintable(title), qPrintable(store->Location()));
    const QString run = QString::number(QDateTime::currentMSecsSinceEpoch());
    for (const int takers : {1, 8})
        std::printf("  serial numbers, %d taker%s %8.0f /s\n", takers, takers == 1 ? ": " : "s:",
                    SerialsPerSecond(*store, QStringLiteral("bench-%1-%2").arg(run).arg(takers), takers));
    KeepRecords(store, fallback);
}

}   // namespace

int main(int argc, char* argv[])
{
    QCoreApplication application(argc, argv);
    QTemporaryDir dir;
    if (!dir.isValid())
        return 1;
    Bench(QStringLiteral("SQLite"), dir.filePath(QStringLiteral("records.sqlite")),
          dir.filePath(QStringLiteral("a.jsonl")));
    if (argc > 1)
        Bench(QStringLiteral("PostgreSQL"), QString::fromLocal8Bit(argv[1]), dir.filePath(QStringLiteral("b.jsonl")));
    else
        std::printf("PostgreSQL: give its URL to measure it too\n");
    return 0;
}
