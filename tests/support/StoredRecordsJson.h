// StoredRecordsJson: the records a store hands out, each in its JSON, for tests that look at
// them field by field as the store and the export word them.
#pragma once

#include "RecordFields.h"

#include <QJsonObject>
#include <QList>

inline QList<QJsonObject> StoredRecordsJson(const QList<TStoredRecord>& records)
{
    QList<QJsonObject> json;
    for (const TStoredRecord& record : records)
        json << StoredRecordJson(record);
    return json;
}
