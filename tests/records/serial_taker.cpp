// serial_taker URL SERIES THREADS COUNT: a station of its own for the tests, taking COUNT
// serial numbers on each of THREADS threads from a series of the record store at URL and
// printing them, one a line. On the first number it cannot take it says why and ends with 1.
#include "RecordStore.h"

#include <QCoreApplication>
#include <QMutex>
#include <QThread>

#include <atomic>
#include <cstdio>
#include <memory>
#include <vector>

int main(int argc, char* argv[])
{
    QCoreApplication application(argc, argv);
    const QStringList arguments = application.arguments();
    if (arguments.size() != 5) {
        std::fprintf(stderr, "usage: serial_taker URL SERIES THREADS COUNT\n");
        return 2;
    }
    TRecordStore store;
    QString error;
    if (!store.Open(arguments[1], error)) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 1;
    }
    const QString series = arguments[2];
    const int count = arguments[4].toInt();
    QMutex output;
    std::atomic<bool> failed = false;
    std::vector<std::unique_ptr<QThread>> threads;
    for (int t = 0; t < arguments[3].toInt(); ++t)
        threads.emplace_back(QThread::create([&] {
            for (int i = 0; i < count && !failed; ++i) {
                QString why;
                const int32_t serial = store.TakeSerial(series, QStringLiteral("taker"), why);
                const QMutexLocker lock(&output);
                if (serial < 1) {
                    failed = true;
                    std::fprintf(stderr, "%s\n", qPrintable(why));
                    return;
                }
                std::printf("%d\n", serial);
            }
        }));
    for (auto& thread : threads)
        thread->start();
    for (auto& thread : threads)
        thread->wait();
    return failed ? 1 : 0;
}
