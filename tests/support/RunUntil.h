// RunUntil: lets the event loop run until a condition holds, for the programs that drive a
// window or a station from the outside (the benchmarks, orvel-screenshot).
#pragma once

#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <functional>

// Runs the event loop until done says so (looked at every 5 ms); false after timeoutMs.
inline bool RunUntil(const std::function<bool()>& done, int timeoutMs = 60000)
{
    QElapsedTimer clock;
    clock.start();
    QEventLoop loop;
    QTimer look;
    QObject::connect(&look, &QTimer::timeout, [&] {
        if (done() || clock.elapsed() > timeoutMs)
            loop.quit();
    });
    look.start(5);
    loop.exec();
    return done();
}
