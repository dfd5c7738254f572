// SignalWatcher: turns SIGINT (Ctrl-C), SIGTERM (a service stopped) and SIGHUP (the terminal
// closed) into a Qt signal on the main thread's event loop, so that a front end (orvel-loader,
// the windows) stops its units in order and keeps their records instead of dying between two
// writes to a unit.
#pragma once

#include <QObject>

class QSocketNotifier;

class TSignalWatcher : public QObject {
    Q_OBJECT
public:
    explicit TSignalWatcher(QObject* parent = nullptr);
    // The signals stay caught and ignored: the run has ended, and a late one must not cut
    // the exit short.
    ~TSignalWatcher() override;
    bool Installed() const { return FNotifier != nullptr; }

    // The exit code a shell expects of a process that a signal ended: 128 + its number.
    static int ExitCodeFor(int signal) { return 128 + signal; }

Q_SIGNALS:
    // Each signal as it comes: the first asks for a stop, a second for an end at once.
    void Interrupted(int signal);

private:
    QSocketNotifier* FNotifier = nullptr;
};
