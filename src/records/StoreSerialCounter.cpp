#include "StoreSerialCounter.h"

#include <QThread>

TStoreSerialCounter::TStoreSerialCounter(std::shared_ptr<TRecordStore> store, QString series, QString station)
    : FStore(std::move(store)), FSeries(std::move(series)), FStation(std::move(station))
{
}

int32_t TStoreSerialCounter::Take()
{
    QString error;
    const int32_t serial = FStore->TakeSerial(FSeries, FStation, error);
    const QMutexLocker lock(&FMutex);
    FErrors.insert(QThread::currentThreadId(), error);
    return serial;
}

QString TStoreSerialCounter::LastError() const
{
    const QMutexLocker lock(&FMutex);
    return FErrors.value(QThread::currentThreadId());
}
