#include "StationUnits.h"

#include "TimeLeft.h"

#include <QApplication>
#include <QBrush>
#include <QColor>
#include <QPainter>
#include <QStyleOptionProgressBar>

#include <algorithm>

namespace {

constexpr int ProgressScale = 1000;
constexpr qint64 RateWindowSecs = 10 * 60;

}   // namespace

TStationUnits::TStationUnits(QObject* parent) : QAbstractTableModel(parent)
{
    FRepaint.setSingleShot(true);
    connect(&FRepaint, &QTimer::timeout, this, &TStationUnits::ShowPending);
    connect(&FClock, &QTimer::timeout, this, &TStationUnits::Tick);
}

int TStationUnits::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(FRows.size());
}

int TStationUnits::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : ColCount;
}

QVariant TStationUnits::headerData(int section, Qt::Orientation orientation, int role) const
{
    static const char* const Titles[ColCount] = {"Unit",     "NAD",       "Serial", "Step",
                                                 "Progress", "Time left", "Result", "Duration"};
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 || section >= ColCount)
        return {};
    return QLatin1String(Titles[section]);
}

QVariant TStationUnits::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= FRows.size())
        return {};
    const TRow& row = FRows[index.row()];
    if (role == Qt::BackgroundRole) {
        if (row.State == TState::Failed)
            return QBrush(QColor(255, 190, 190));
        if (row.State == TState::Ok)
            return QBrush(QColor(200, 240, 200));
        return {};
    }
    if (role == ProgressRole)
        return row.Total > 0 ? int(row.Done * ProgressScale / row.Total)
                             : (row.State == TState::Ok ? ProgressScale : 0);
    if (role != Qt::DisplayRole)
        return {};
    const QDateTime end = row.Ended.isValid() ? row.Ended : QDateTime::currentDateTime();
    switch (index.column()) {
    case ColUnit:
        return row.IP;
    case ColNad:
        return row.Nad < 0 ? QStringLiteral("-") : QString::number(row.Nad);
    case ColSerial:
        return row.Serial;
    case ColStep:
        return row.Step;
    case ColProgress:
        return row.Total > 0 ? QString::number(row.Done * 100 / row.Total) + u'%' : QString();
    case ColTimeLeft:
        return TimeLeft(row);
    case ColResult:
        return row.Result;
    case ColDuration:
        return MinutesText(row.Started.msecsTo(end));
    default:
        return {};
    }
}

QString TStationUnits::TimeLeft(const TRow& row) const
{
    if (row.State != TState::Running || !row.Moving.isValid())
        return {};
    const std::optional<qint64> left = TimeLeftMs(row.Done, row.Total,
                                                  row.Moving.msecsTo(QDateTime::currentDateTime()));
    return left ? MinutesText(*left) : QString();
}

void TStationUnits::Taken(const QString& ip, int32_t nad)
{
    const QDateTime now = QDateTime::currentDateTime();
    if (!FFirstTaken.isValid())
        FFirstTaken = now;
    beginInsertRows({}, int(FRows.size()), int(FRows.size()));
    FRows.append(TRow{ip, nad, {}, QStringLiteral("waiting"), 0, 0, now, {}, TState::Running, {}, {}});
    endInsertRows();
    if (!FClock.isActive())
        FClock.start(1000);
}

TStationUnits::TFigures& TStationUnits::Pending(const QString& ip)
{
    if (RepaintIntervalMs > 0 && !FRepaint.isActive())
        FRepaint.start(RepaintIntervalMs);
    return FPending[ip];
}

void TStationUnits::Message(const QString& ip, const QString& text)
{
    Pending(ip).Step = text;
    if (RepaintIntervalMs <= 0)
        ShowPending();
}

void TStationUnits::Progress(const QString& ip, qint64 done, qint64 total)
{
    TFigures& figures = Pending(ip);
    figures.Done = done;
    figures.Total = total;
    if (RepaintIntervalMs <= 0)
        ShowPending();
}

void TStationUnits::ShowPending()
{
    int first = int(FRows.size());
    int last = -1;
    for (auto it = FPending.cbegin(); it != FPending.cend(); ++it) {
        const int r = RunningRow(it.key());
        if (r < 0)
            continue;
        TRow& row = FRows[r];
        if (!it->Step.isEmpty())
            row.Step = it->Step;
        if (it->Done >= 0) {
            // A unit that waited for a runner, or to be reached, moves only from here.
            if (!row.Moving.isValid())
                row.Moving = QDateTime::currentDateTime();
            row.Done = it->Done;
            row.Total = it->Total;
        }
        first = std::min(first, r);
        last = std::max(last, r);
    }
    FPending.clear();
    if (last >= 0)
        Q_EMIT dataChanged(index(first, ColStep), index(last, ColDuration));
}

int TStationUnits::RunningRow(const QString& ip) const
{
    for (qsizetype r = FRows.size() - 1; r >= 0; --r) {
        if (FRows[r].IP == ip && FRows[r].State == TState::Running)
            return int(r);
    }
    return -1;
}

void TStationUnits::Finished(const TUnitRecord& record)
{
    const int r = RunningRow(record.IP);
    if (r < 0)
        return;
    // Figures still waiting to be shown are older than the result.
    FPending.remove(record.IP);
    TRow& row = FRows[r];
    row.Ended = QDateTime::currentDateTime();
    row.Started = record.Started.isValid() ? record.Started.toLocalTime() : row.Started;
    row.Nad = record.NadAfter >= 0 ? record.NadAfter : row.Nad;
    row.Serial = SerialNumberText(record);
    row.Step = record.Message.isEmpty() ? row.Step : record.Message;
    switch (record.Outcome) {
    case TUnitOutcome::Succeeded:
        row.State = TState::Ok;
        row.Done = row.Total = std::max<qint64>(row.Total, 1);
        row.Result = QStringLiteral("ok");
        FOkTimes.append(row.Ended);
        break;
    case TUnitOutcome::Failed:
        row.State = TState::Failed;
        row.Result = QStringLiteral("failed: ") + record.Failure.Text;
        ++FFailed;
        break;
    case TUnitOutcome::Interrupted:
        row.State = TState::Interrupted;
        row.Result = QStringLiteral("interrupted");
        break;
    }
    Q_EMIT dataChanged(index(r, 0), index(r, ColCount - 1));
}

void TStationUnits::NotStarted(const QString& ip)
{
    const int r = RunningRow(ip);
    if (r < 0)
        return;
    FPending.remove(ip);
    TRow& row = FRows[r];
    row.Ended = QDateTime::currentDateTime();
    row.State = TState::Interrupted;
    row.Step = QStringLiteral("not started: the station stopped first");
    row.Result = QStringLiteral("interrupted");
    Q_EMIT dataChanged(index(r, 0), index(r, ColCount - 1));
}

void TStationUnits::ClearFinished(bool failed)
{
    for (qsizetype r = FRows.size() - 1; r >= 0; --r) {
        const TState state = FRows[r].State;
        if (state == TState::Running || (state == TState::Failed && !failed))
            continue;
        beginRemoveRows({}, int(r), int(r));
        FRows.removeAt(r);
        endRemoveRows();
    }
}

void TStationUnits::Tick()
{
    int first = -1;
    int last = -1;
    for (qsizetype r = 0; r < FRows.size(); ++r) {
        if (FRows[r].State != TState::Running)
            continue;
        first = first < 0 ? int(r) : first;
        last = int(r);
    }
    if (last < 0) {
        FClock.stop();
        return;
    }
    Q_EMIT dataChanged(index(first, ColTimeLeft), index(last, ColDuration));
}

int TStationUnits::Succeeded() const
{
    return int(FOkTimes.size());
}

int TStationUnits::FailedCount() const
{
    return FFailed;
}

bool TStationUnits::HasFailedRows() const
{
    return std::any_of(FRows.cbegin(), FRows.cend(), [](const TRow& row) { return row.State == TState::Failed; });
}

int TStationUnits::InProgress() const
{
    return int(
        std::count_if(FRows.cbegin(), FRows.cend(), [](const TRow& row) { return row.State == TState::Running; }));
}

double TStationUnits::UnitsPerHour(const QDateTime& now) const
{
    if (!FFirstTaken.isValid())
        return 0;
    const qint64 span = std::clamp<qint64>(FFirstTaken.secsTo(now), 60, RateWindowSecs);
    const auto recent = std::count_if(FOkTimes.cbegin(), FOkTimes.cend(),
                                      [&](const QDateTime& ended) { return ended.secsTo(now) <= span; });
    return double(recent) * 3600.0 / double(span);
}

void TProgressDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    QStyleOptionProgressBar bar;
    bar.rect = option.rect.adjusted(2, 2, -2, -2);
    bar.state = option.state | QStyle::State_Horizontal;
    bar.minimum = 0;
    bar.maximum = ProgressScale;
    bar.progress = index.data(TStationUnits::ProgressRole).toInt();
    bar.text = index.data(Qt::DisplayRole).toString();
    bar.textVisible = true;
    bar.textAlignment = Qt::AlignCenter;
    const QWidget* widget = option.widget;
    QStyle* style = widget ? widget->style() : QApplication::style();
    style->drawControl(QStyle::CE_ProgressBar, &bar, painter, widget);
}
