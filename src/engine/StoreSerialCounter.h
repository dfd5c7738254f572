// StoreSerialCounter: serial numbers for the runners of a station that the record store
// answers for, so that no number goes out twice, whichever station or source gives it.
//
//   TStoreSerialCounter    each number taken from a series of the store, in one transaction
//                          on the runner's own thread; in the ledger before its unit gets it
//   TClaimedSerialCounter  each number of a counter of this run or of the settings (--serial,
//                          --autoincrement, the window's) claimed in the store's set of given
//                          numbers before its unit gets it; a number given already elsewhere
//                          is passed over, or refused where the operator asked for that one
#pragma once

#include "RecordStore.h"
#include "SerialCounter.h"

#include <QString>

#include <memory>

class TStoreSerialCounter : public TSerialCounter {
public:
    TStoreSerialCounter(std::shared_ptr<TRecordStore> store, QString series, QString station);
    TSerialTake Take() override;

private:
    const std::shared_ptr<TRecordStore> FStore;
    const QString FSeries;
    const QString FStation;
};

class TClaimedSerialCounter : public TSerialCounter {
public:
    enum TGiven { PassOverGiven, RefuseGiven };
    // source names the counter in the store ("--serial", "--autoincrement"); station as in
    // the units' records, which then answer for the numbers claimed.
    TClaimedSerialCounter(std::shared_ptr<TSerialCounter> numbers, std::shared_ptr<TRecordStore> store, QString source,
                          QString station, TGiven given = PassOverGiven);
    TSerialTake Take() override;

    // How many numbers given already one Take passes over before it gives up.
    static constexpr int MostPassedOver = 1000;

private:
    const std::shared_ptr<TSerialCounter> FNumbers;
    const std::shared_ptr<TRecordStore> FStore;
    const QString FSource;
    const QString FStation;
    const TGiven FGiven;
};
