// StationUnits: the station window's table of units, one row per unit the station took,
// newest at the bottom, and the bar its Progress column paints.
//
//   UnitTaken -> a row    UnitMessage / UnitProgress -> kept as the newest figures of the
//   unit -> shown at most every RepaintIntervalMs (0: at once)    UnitFinished -> its result
//
// A station reports progress for every block of every unit: shown one by one, 24 units
// would repaint the table hundreds of times a second. Only the newest figures of each unit
// matter to the operator, so the model keeps them and shows them all together.
#pragma once

#include "UnitRecord.h"

#include <QAbstractTableModel>
#include <QDateTime>
#include <QHash>
#include <QList>
#include <QStyledItemDelegate>
#include <QTimer>

class TStationUnits : public QAbstractTableModel {
    Q_OBJECT
public:
    enum TColumn { ColUnit, ColNad, ColSerial, ColStep, ColProgress, ColTimeLeft, ColResult, ColDuration, ColCount };
    // The Progress column's figure, 0 to 1000, for the bar.
    static constexpr int ProgressRole = Qt::UserRole + 1;

    explicit TStationUnits(QObject* parent = nullptr);

    // How often the newest figures are shown, in ms; 0: every figure as it comes.
    int RepaintIntervalMs = 50;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    void Taken(const QString& ip, int32_t nad);
    void Message(const QString& ip, const QString& text);
    void Progress(const QString& ip, qint64 done, qint64 total);
    void Finished(const TUnitRecord& record);
    // Taken but never started: the station stopped first.
    void NotStarted(const QString& ip);
    // Removes the finished rows: the ok (and interrupted) ones, and with failed the failed ones too.
    void ClearFinished(bool failed);

    int Succeeded() const;
    int FailedCount() const;   // since the window opened, cleared rows too
    bool HasFailedRows() const;
    int InProgress() const;
    // Units that ended ok within the last ten minutes, as units per hour (over the time the
    // window has watched when that is shorter, a minute at least).
    double UnitsPerHour(const QDateTime& now) const;

private:
    enum class TState { Running, Ok, Failed, Interrupted };
    struct TRow {
        QString IP;
        int32_t Nad = -1;
        QString Serial;   // SerialNumberText once the unit has finished
        QString Step;
        qint64 Done = 0;
        qint64 Total = 0;
        QDateTime Started;
        QDateTime Ended;   // invalid while running
        TState State = TState::Running;
        QString Result;
        QDateTime Moving;   // its first progress figure: the time left is reckoned from there
    };
    struct TFigures {
        QString Step;   // empty: unchanged
        qint64 Done = -1;
        qint64 Total = -1;
    };

    // The newest row of the unit at ip still running; -1: none.
    int RunningRow(const QString& ip) const;
    TFigures& Pending(const QString& ip);
    void ShowPending();
    // Time left and duration move on for the running rows.
    void Tick();
    QString TimeLeft(const TRow& row) const;

    QList<TRow> FRows;
    QHash<QString, TFigures> FPending;
    QTimer FRepaint;
    QTimer FClock;
    QDateTime FFirstTaken;
    // Kept apart from the rows, which the operator clears.
    QList<QDateTime> FOkTimes;
    int FFailed = 0;
};

// Paints the Progress column as a progress bar.
class TProgressDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
};
