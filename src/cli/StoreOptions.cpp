#include "OptionReader.h"

namespace {

// --since into the filter: records started, or numbers given, at or after it.
void Since(TOptionReader& r)
{
    if (!r.IsSet("since"))
        return;
    QString text = r.Value("since");
    r.O.Filter.Since = QDateTime::fromString(text.replace(u' ', u'T'), Qt::ISODate);
    if (!r.O.Filter.Since.isValid())
        r.Refuse(QStringLiteral("--since takes a date or a time like 2026-03-02 or 2026-03-02T14:30, not \"") +
                 r.Value("since") + u'"');
}

}   // namespace

void ParseSerials(TOptionReader& r, const QStringList& positional)
{
    TLoaderOptions& o = r.O;
    o.SerialsAction = positional.value(0);
    o.Series = r.Value("series");
    r.Name("series", o.Series);
    if (positional.size() != 1 ||
        (o.SerialsAction != QLatin1String("set") && o.SerialsAction != QLatin1String("show") &&
         o.SerialsAction != QLatin1String("ledger")))
        r.Refuse(QStringLiteral("serials set, serials show or serials ledger, not \"") + positional.join(u' ') + u'"');
    if (o.SerialsAction != QLatin1String("ledger") && r.IsSet("since"))
        r.Refuse(QStringLiteral("only serials ledger takes --since"));
    Since(r);
    if (o.SerialsAction == QLatin1String("set")) {
        if (o.Series.isEmpty())
            o.Series = TRecordStore::DefaultSeries;
        if (!r.IsSet("next"))
            r.Refuse(QStringLiteral("serials set: give the next number with --next N"));
        r.Number("next", o.NextSerial);
    } else if (r.IsSet("next")) {
        r.Refuse(QStringLiteral("serials ") + o.SerialsAction + QStringLiteral(" takes no --next"));
    }
}

void ParseRecordFilter(TOptionReader& r)
{
    TRecordFilter& filter = r.O.Filter;
    if (r.IsSet("serial")) {
        int32_t serial = 0;
        r.Number("serial", serial);
        filter.Serial = serial;
    }
    Since(r);
    filter.FailedOnly = r.IsSet("failed");
    filter.Station = r.Value("station");
    filter.Recipe = r.Value("recipe");
    if (r.IsSet("recipe") && filter.Recipe.isEmpty())
        r.Refuse(QStringLiteral("--recipe: name the recipe"));
    r.O.Csv = r.IsSet("csv");
}
