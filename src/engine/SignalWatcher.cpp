#include "SignalWatcher.h"

#include <QSocketNotifier>

#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int SignalPipe[2] = {-1, -1};
constexpr int Watched[] = {SIGINT, SIGTERM, SIGHUP};

void OnSignal(int signal)
{
    const char byte = char(signal);
    // Only async-signal-safe work here: the event loop does the rest.
    [[maybe_unused]] const ssize_t written = ::write(SignalPipe[1], &byte, 1);
}

}   // namespace

TSignalWatcher::TSignalWatcher(QObject* parent) : QObject(parent)
{
    if (SignalPipe[0] < 0 && ::socketpair(AF_UNIX, SOCK_STREAM, 0, SignalPipe) != 0)
        return;
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int signal : Watched) {
        if (sigaction(signal, &action, nullptr) != 0)
            return;
    }
    FNotifier = new QSocketNotifier(SignalPipe[0], QSocketNotifier::Read, this);
    connect(FNotifier, &QSocketNotifier::activated, this, [this] {
        char byte = 0;
        if (::read(SignalPipe[0], &byte, 1) == 1)
            Q_EMIT Interrupted(int(byte));
    });
}

TSignalWatcher::~TSignalWatcher()
{
    for (const int signal : Watched)
        std::signal(signal, SIG_IGN);
}
