#include "StationRecords.h"

#include "StoreSerialCounter.h"

#include <algorithm>

void TellKept(const TKeepResult& kept, const QString& whenLost,
              const std::function<void(TNoteLevel, const QString&)>& note)
{
    if (!kept.Notes.isEmpty())
        note(TNoteLevel::Warning, kept.Notes);
    if (kept.Kept == TKept::Waiting)
        note(TNoteLevel::Warning, kept.Text);
    else if (kept.Kept == TKept::Lost)
        note(TNoteLevel::Error, kept.Text + whenLost);
}

TRecordsOpened OpenStationRecords(const QString& location, const QString& source,
                                  std::shared_ptr<TSerialCounter> numbers, TEnginePlan& plan,
                                  const std::function<void(TNoteLevel, const QString&)>& note)
{
    auto store = std::make_shared<TRecordStore>();
    QString error;
    if (!store->Open(location, error)) {
        note(TNoteLevel::Error, error);
        return TRecordsOpened::StoreFailed;
    }
    auto records = std::make_shared<TRecordKeeper>(store, TRecordKeeper::DefaultFallbackPath(*store));
    QStringList notes;
    const int written = records->Flush(error, &notes);
    for (const QString& line : std::as_const(notes))
        note(TNoteLevel::Warning, line);
    if (written > 0)
        note(TNoteLevel::Info, QStringLiteral("%1 records that waited in %2 are in the store now")
                                   .arg(QString::number(written), records->FallbackPath()));
    if (!error.isEmpty())
        note(TNoteLevel::Warning, QStringLiteral("records still wait in %1: %2").arg(records->FallbackPath(), error));

    plan.Serials.reset();
    if (!plan.Series.isEmpty()) {
        // A misspelt series is found here, before any unit is touched, not at the first unit.
        QList<TSeriesState> series;
        if (!store->ReadSeries(series, error)) {
            note(TNoteLevel::Error, error);
            return TRecordsOpened::StoreFailed;
        }
        const bool known = std::any_of(series.cbegin(), series.cend(),
                                       [&plan](const TSeriesState& one) { return one.Name == plan.Series; });
        if (!known) {
            note(TNoteLevel::Error,
                 QStringLiteral("no serial number series \"") + plan.Series +
                     QStringLiteral("\" in the record store ") + store->Location() +
                     QStringLiteral("; 'orvel-loader serials show' lists the series, 'orvel-loader serials set "
                                    "--series NAME --next N' starts one"));
            return TRecordsOpened::UnknownSeries;
        }
        plan.Serials = std::make_shared<TStoreSerialCounter>(store, plan.Series, plan.Station);
    } else if (numbers) {
        // Numbers of this run or of the settings go into the store's set of given numbers
        // before their units get them: one given already elsewhere is passed over.
        plan.Serials = std::make_shared<TClaimedSerialCounter>(numbers, store, source, plan.Station);
    }
    plan.Records = records;
    return TRecordsOpened::Ok;
}
