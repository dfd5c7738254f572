// StoreCommands: orvel-loader serials and records, over the record store alone; nothing is
// sent to any unit.
//
//   serials set --series S --next N   the series goes on from N
//   serials show [--series S]         each series, its next number and how many it gave
//   serials ledger [--series S] [--since T]  every number given, by whom and when, and
//                                     whether a unit record answers for it
//   records [filters]                 a table; with --serial N everything about that unit,
//                                     the ledger's entry first; --csv or --json (one
//                                     object a line) to export
//
// Results go to out, refusals of the store to err, in words; exit code 4 when the store
// could not be opened or refused.
#pragma once

#include "LoaderOptions.h"
#include "RecordsCsv.h"

#include <QJsonObject>
#include <QList>

#include <cstdio>

int RunStoreCommand(const TLoaderOptions& options, FILE* out, FILE* err);

// The records as orvel-loader prints them: a table, or each record in full (one unit's
// history); the export is RecordsCsv.
QString RecordsTable(const QList<TStoredRecord>& records);
QString RecordsInFull(const QList<TStoredRecord>& records);
