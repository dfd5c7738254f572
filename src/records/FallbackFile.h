// FallbackFile: reads the fallback file of unwritten records, as a crash, a full disk or
// another program may have left it, into the records it holds and the lines it cannot use.
// A pure function of the bytes, so that every file it may meet can be tried on it.
#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QString>

struct TFallbackLine {
    qsizetype Number = 0;   // from 1, as an editor counts lines
    QByteArray Text;        // the line without its end
    QJsonObject Entry;      // the record (Entries only)
    QString Why;            // why the line cannot be used (Bad only)
};

struct TFallbackContent {
    QList<TFallbackLine> Entries;   // in the file's order
    QList<TFallbackLine> Bad;       // not blank, and no record: cut short, glued, or not one of ours
};

TFallbackContent ReadFallback(const QByteArray& bytes);
