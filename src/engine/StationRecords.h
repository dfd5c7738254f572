// StationRecords: the record store a station writes, opened before any unit is touched, and
// what the operator hears of each record kept there (the station window, orvel-loader and
// the main window's sends alike).
//
//   open the store -> write the records that waited in its fallback file -> check the series
//   -> the plan's Records, and its Serials: the series' numbers, or the numbers given
//      (--serial, --autoincrement, the window's) each claimed in the store before its unit
//      gets it, so that a number given elsewhere already is passed over
#pragma once

#include "Engine.h"

#include <functional>
#include <memory>

// What the operator hears of a record the keeper was given, line by line: what it notes
// whatever became of the record (a number another unit holds, lines set aside), then that the
// record waits in the fallback file, or that it could be kept nowhere, with whenLost (what
// follows from that) after the words; nothing of a record that went quietly into the store.
void TellKept(const TKeepResult& kept, const QString& whenLost,
              const std::function<void(TNoteLevel, const QString&)>& note);

enum class TRecordsOpened { Ok, StoreFailed, UnknownSeries };

// location as TRecordStore::Open takes it; source names the numbers' counter in the store
// ("--serial", "--autoincrement", "the window"); numbers: none when the run gives none or
// takes them from plan.Series. Every line the operator must hear goes to note.
TRecordsOpened OpenStationRecords(const QString& location, const QString& source,
                                  std::shared_ptr<TSerialCounter> numbers, TEnginePlan& plan,
                                  const std::function<void(TNoteLevel, const QString&)>& note);
