// RecordsCsv: unit records as the store hands them out, exported as comma-separated values with a column for each of
// the record's fields (RecordFields), for orvel-loader records --csv and the station window's export alike.
#pragma once

#include "RecordFields.h"

#include <QList>
#include <QString>

// Every record as a line of comma-separated values under a header line of the fields' paths;
// a field holding a comma, a quote or a line break is quoted.
QString RecordsCsv(const QList<TStoredRecord>& records);
