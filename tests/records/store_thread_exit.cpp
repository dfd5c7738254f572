// store_thread_exit FILE: a program whose thread used the record store (an SQLite file)
// and that returns from main as soon as the thread has been waited for. It must end with 0:
// the thread's connections close before the wait returns, never while the program's
// statics are being destroyed. The thread's last moments and the program's end are slowed
// down so that a close left to the thread's very end would meet destroyed statics.
#include "RecordStore.h"

#include <QCoreApplication>
#include <QThread>

#include <cstdio>
#include <memory>

namespace {

// Destroyed after every static made later (Qt SQL's table of connections among them).
struct TSlowEnd {
    ~TSlowEnd() { QThread::msleep(400); }
};

// Destroyed at the thread's end, before the thread-local objects made earlier.
struct TSlowThreadEnd {
    ~TSlowThreadEnd() { QThread::msleep(100); }
};

}   // namespace

int main(int argc, char* argv[])
{
    static TSlowEnd slowEnd;
    QCoreApplication application(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: store_thread_exit FILE\n");
        return 2;
    }
    TRecordStore store;
    QString error;
    if (!store.Open(QString::fromLocal8Bit(argv[1]), error)) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 1;
    }
    std::unique_ptr<QThread> thread(QThread::create([&store] {
        QList<TStoredRecord> records;
        QString why;
        store.Query({}, records, why);
        thread_local TSlowThreadEnd slowThreadEnd;
        (void)slowThreadEnd;
    }));
    thread->start();
    thread->wait();
    return 0;
}
