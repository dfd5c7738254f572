// StoreSerialCounter: serial numbers from a series of the record store, for the runners of
// a station. Each Take is one transaction of the store on the runner's own thread, so two
// stations sharing the store, or two runners of one station, never get the same number,
// and every number taken is in the store's ledger before its unit receives it.
#pragma once

#include "RecordStore.h"
#include "SerialCounter.h"

#include <QHash>
#include <QMutex>
#include <QString>

#include <memory>

class TStoreSerialCounter : public TSerialCounter {
public:
    TStoreSerialCounter(std::shared_ptr<TRecordStore> store, QString series, QString station);
    int32_t Take() override;
    QString LastError() const override;

private:
    const std::shared_ptr<TRecordStore> FStore;
    const QString FSeries;
    const QString FStation;
    mutable QMutex FMutex;
    QHash<Qt::HANDLE, QString> FErrors;   // by thread: runners take at the same time
};
