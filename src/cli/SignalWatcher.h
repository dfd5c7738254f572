// SignalWatcher: turns SIGINT and SIGTERM into a Qt signal on the main thread's event loop,
// so that an interrupted run can stop its units cleanly and report.
#pragma once

#include <QObject>

class QSocketNotifier;

class TSignalWatcher : public QObject {
    Q_OBJECT
public:
    explicit TSignalWatcher(QObject* parent = nullptr);
    ~TSignalWatcher() override;
    bool Installed() const { return FNotifier != nullptr; }

Q_SIGNALS:
    void Interrupted();

private:
    QSocketNotifier* FNotifier = nullptr;
};
