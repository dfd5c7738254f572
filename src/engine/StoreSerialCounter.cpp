#include "StoreSerialCounter.h"

TStoreSerialCounter::TStoreSerialCounter(std::shared_ptr<TRecordStore> store, QString series, QString station)
    : FStore(std::move(store)), FSeries(std::move(series)), FStation(std::move(station))
{
}

TSerialTake TStoreSerialCounter::Take()
{
    TSerialTake taken;
    taken.Number = FStore->TakeSerial(FSeries, FStation, taken.Error);
    return taken;
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

TSerialTake TClaimedSerialCounter::Take()
{
    QString first;   // the first number passed over, for the words when every one was
    for (int passed = 0; passed < MostPassedOver; ++passed) {
        const TSerialTake taken = FNumbers->Take();
        if (taken.Number < 1)
            return {-1, taken.Error};   // the counter has said why
        QString error;
        bool given = false;
        if (FStore->ClaimSerial(taken.Number, FSource, FStation, error, &given))
            return {taken.Number, {}};
        // A store that cannot answer gives no number: one it does not know of could clash.
        if (!given || FGiven == RefuseGiven)
            return {-1, error};
        if (first.isEmpty())
            first = error;
    }
    return {-1,
            QString::number(MostPassedOver) + QStringLiteral(" numbers in a row were given already, from: ") + first};
}
