#include "StoreSerialCounter.h"

TStoreSerialCounter::TStoreSerialCounter(std::shared_ptr<TRecordStore> store, QString series, QString station)
    : FStore(std::move(store)), FSeries(std::move(series)), FStation(std::move(station))
{
}

int32_t TStoreSerialCounter::Take()
{
    QString error;
    const int32_t serial = FStore->TakeSerial(FSeries, FStation, error);
    SetLastError(error);
    return serial;
}

TClaimedSerialCounter::TClaimedSerialCounter(std::shared_ptr<TSerialCounter> numbers,
                                             std::shared_ptr<TRecordStore> store, QString source, QString station,
                                             TGiven given)
    : FNumbers(std::move(numbers)),
      FStore(std::move(store)),
      FSource(std::move(source)),
      FStation(std::move(station)),
      FGiven(given)
{
}

int32_t TClaimedSerialCounter::Take()
{
    QString first;   // the first number passed over, for the words when every one was
    for (int passed = 0; passed < MostPassedOver; ++passed) {
        const int32_t number = FNumbers->Take();
        if (number < 1)
            return -1;   // the counter has said why
        QString error;
        bool given = false;
        if (FStore->ClaimSerial(number, FSource, FStation, error, &given)) {
            SetLastError({});
            return number;
        }
        // A store that cannot answer gives no number: one it does not know of could clash.
        if (!given || FGiven == RefuseGiven) {
            SetLastError(error);
            return -1;
        }
        if (first.isEmpty())
            first = error;
    }
    SetLastError(QString::number(MostPassedOver) + QStringLiteral(" numbers in a row were given already, from: ") +
                 first);
    return -1;
}
