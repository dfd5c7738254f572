#include "StoreCommands.h"

#include "RecordKeeper.h"
#include "RecordsCsv.h"

#include <QJsonArray>
#include <QJsonDocument>

#include <algorithm>
#include <functional>
#include <memory>
#include <utility>

namespace {

QJsonValue Field(const QJsonObject& record, const QString& key)
{
    return RecordField(record, key);
}

QString Text(const QJsonObject& record, const char* key)
{
    return RecordFieldText(record, QLatin1String(key));
}

// Stored times are UTC; the operator reads local time.
QString LocalTime(const QJsonObject& record, const char* key)
{
    const QDateTime moment = QDateTime::fromString(Text(record, key), Qt::ISODateWithMs);
    return moment.isValid() ? moment.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")) : QString();
}

// One given number as the ledger shows it: where it came from, and whether a unit record
// answers for it.
QString LedgerText(const TGivenSerial& given)
{
    const QString source = given.Series.isEmpty() ? QStringLiteral("given by ") + given.Source
                                                  : QStringLiteral("taken from series ") + given.Series;
    const QDateTime moment = QDateTime::fromString(given.Given, Qt::ISODateWithMs);
    return QStringLiteral("serial number ") + QString::number(given.Number) + QStringLiteral(": ") + source +
           QStringLiteral(" by ") + given.Station + QStringLiteral(", ") +
           (moment.isValid() ? moment.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")) : given.Given) +
           (given.HasRecord ? QString() : QStringLiteral("; no record of a unit")) + u'\n';
}

QJsonObject LedgerJson(const TGivenSerial& given)
{
    return {{QStringLiteral("number"), qint64(given.Number)}, {QStringLiteral("source"), given.Source},
            {QStringLiteral("series"), given.Series},         {QStringLiteral("station"), given.Station},
            {QStringLiteral("given"), given.Given},           {QStringLiteral("record"), given.HasRecord}};
}

void Print(FILE* out, const QString& text)
{
    std::fputs(text.toUtf8().constData(), out);
    std::fflush(out);
}

// One line of the series table; names are the operator's and may hold anything.
QString SeriesLine(const QString& name, const QString& next, const QString& taken, qsizetype width)
{
    return name.leftJustified(width) + QStringLiteral("  ") + next.rightJustified(10) + QStringLiteral("  ") +
           taken.rightJustified(10) + u'\n';
}

int Ledger(TRecordStore& store, const TLoaderOptions& options, FILE* out, FILE* err)
{
    QList<TGivenSerial> given;
    QString error;
    if (!store.Ledger({options.Filter.Serial, options.Series, options.Filter.Since}, given, error)) {
        Print(err, QStringLiteral("orvel-loader serials: ") + error + u'\n');
        return ExitStore;
    }
    QString text;
    if (!options.Json)
        text += QString::number(given.size()) + QStringLiteral(" serial numbers given in ") + store.Location() + u'\n';
    for (const TGivenSerial& number : std::as_const(given))
        text += options.Json
                    ? QString::fromUtf8(QJsonDocument(LedgerJson(number)).toJson(QJsonDocument::Compact)) + u'\n'
                    : LedgerText(number);
    Print(out, text);
    return ExitOk;
}

int Serials(TRecordStore& store, const TLoaderOptions& options, FILE* out, FILE* err)
{
    QString error;
    if (options.SerialsAction == QLatin1String("set")) {
        if (!store.SetNextSerial(options.Series, options.NextSerial, error)) {
            Print(err, QStringLiteral("orvel-loader serials: ") + error + u'\n');
            return ExitStore;
        }
        Print(out, QStringLiteral("series ") + options.Series + QStringLiteral(": next number ") +
                       QString::number(options.NextSerial) + u'\n');
        return ExitOk;
    }
    if (options.SerialsAction == QLatin1String("ledger"))
        return Ledger(store, options, out, err);
    QList<TSeriesState> all;
    QStringList clashes;
    if (!store.ReadSeries(all, error) || !store.Clashes(clashes, error)) {
        Print(err, QStringLiteral("orvel-loader serials: ") + error + u'\n');
        return ExitStore;
    }
    if (!options.Series.isEmpty()) {
        all.removeIf([&options](const TSeriesState& state) { return state.Name != options.Series; });
        if (all.isEmpty()) {
            Print(err, QStringLiteral("orvel-loader serials: no series \"%1\" in %2\n")
                           .arg(options.Series, store.Location()));
            return ExitBadInput;
        }
    }
    for (const QString& clash : std::as_const(clashes))
        Print(err, QStringLiteral("warning: ") + clash + u'\n');
    QString text;
    qsizetype width = 6;
    for (const TSeriesState& state : all)
        width = std::max(width, state.Name.size());
    if (!options.Json)
        text += SeriesLine(QStringLiteral("series"), QStringLiteral("next"), QStringLiteral("taken"), width);
    for (const TSeriesState& state : all) {
        if (options.Json)
            text += QString::fromUtf8(QJsonDocument(QJsonObject{{QStringLiteral("series"), state.Name},
                                                                {QStringLiteral("next"), qint64(state.Next)},
                                                                {QStringLiteral("taken"), qint64(state.Taken)}})
                                          .toJson(QJsonDocument::Compact)) +
                    u'\n';
        else
            text += SeriesLine(state.Name, QString::number(state.Next), QString::number(state.Taken), width);
    }
    Print(out, text);
    return ExitOk;
}

int Records(TRecordStore& store, const TLoaderOptions& options, FILE* out, FILE* err)
{
    QList<TStoredRecord> records;
    QList<TGivenSerial> given;
    QString error;
    // One unit asked for by its number: the ledger answers for it too, record or none.
    if (!store.Query(options.Filter, records, error) ||
        (options.Filter.Serial && !store.Ledger({options.Filter.Serial, {}, {}}, given, error))) {
        Print(err, QStringLiteral("orvel-loader records: ") + error + u'\n');
        return ExitStore;
    }
    if (!options.Json && !options.Csv)
        for (const TGivenSerial& number : std::as_const(given))
            Print(out, LedgerText(number));
    if (options.Json) {
        QString text;
        for (const TStoredRecord& record : records)
            text += QString::fromUtf8(QJsonDocument(StoredRecordJson(record)).toJson(QJsonDocument::Compact)) + u'\n';
        Print(out, text);
    } else if (options.Csv) {
        Print(out, RecordsCsv(records));
    } else if (records.isEmpty()) {
        Print(out, QStringLiteral("no records of that kind in ") + store.Location() + u'\n');
    } else {
        // One unit asked for by its number: everything that went into it.
        Print(out, options.Filter.Serial ? RecordsInFull(records) : RecordsTable(records));
    }
    return ExitOk;
}

}   // namespace

int RunStoreCommand(const TLoaderOptions& options, FILE* out, FILE* err)
{
    auto store = std::make_shared<TRecordStore>();
    QString error;
    if (!store->Open(options.Records, error)) {
        Print(err,
              QStringLiteral("orvel-loader ") + CommandName(options.Command) + QStringLiteral(": ") + error + u'\n');
        return ExitStore;
    }
    if (options.Command == TCommand::Serials)
        return Serials(*store, options, out, err);
    // Records that waited on this machine go in first, so that the answer is complete here.
    TRecordKeeper waiting(store, TRecordKeeper::DefaultFallbackPath(*store));
    QStringList notes;
    const int written = waiting.Flush(error, &notes);
    if (written > 0)
        Print(err, QString::number(written) + QStringLiteral(" records that waited in ") + waiting.FallbackPath() +
                       QStringLiteral(" are in the store now\n"));
    for (const QString& note : std::as_const(notes))
        Print(err, QStringLiteral("warning: ") + note + u'\n');
    if (!error.isEmpty())
        Print(err, QStringLiteral("warning: records still wait in ") + waiting.FallbackPath() +
                       QStringLiteral(", and are not listed: ") + error + u'\n');
    return Records(*store, options, out, err);
}

QString RecordsTable(const QList<TStoredRecord>& records)
{
    // A file as the table names it: its name and the start of the SHA-256 of the file as
    // read, enough to tell two releases of one name apart.
    const auto file = [](const QJsonObject& r, const char* name, const char* source) {
        const QString hash = Text(r, source);
        return Text(r, name) + (hash.isEmpty() ? QString() : QStringLiteral(" (") + hash.left(12) + u')');
    };
    const std::pair<const char*, std::function<QString(const TStoredRecord&, const QJsonObject&)>> columns[] = {
        {"time", [](const TStoredRecord&, const QJsonObject& r) { return LocalTime(r, "start"); }},
        {"station", [](const TStoredRecord&, const QJsonObject& r) { return Text(r, "station"); }},
        {"unit", [](const TStoredRecord&, const QJsonObject& r) { return Text(r, "unit"); }},
        {"serial", [](const TStoredRecord& s, const QJsonObject&) { return SerialNumberText(s.Unit); }},
        {"outcome", [](const TStoredRecord&, const QJsonObject& r) { return Text(r, "outcome"); }},
        {"steps s/k/p/v",
         [](const TStoredRecord&, const QJsonObject& r) {
             return QStringList{Text(r, "steps.serial"), Text(r, "steps.kernel"), Text(r, "steps.program"),
                                Text(r, "steps.verify")}
                 .join(u'/');
         }},
        {"recipe", [](const TStoredRecord&, const QJsonObject& r) { return Text(r, "recipe"); }},
        {"kernel",
         [&file](const TStoredRecord&, const QJsonObject& r) { return file(r, "kernelFile", "kernelSourceSha256"); }},
        {"program",
         [&file](const TStoredRecord&, const QJsonObject& r) { return file(r, "programFile", "programSourceSha256"); }},
        {"message", [](const TStoredRecord&, const QJsonObject& r) { return Text(r, "message"); }},
    };
    QStringList header;
    for (const auto& column : columns)
        header << QLatin1String(column.first);
    QList<QStringList> rows{header};
    for (const TStoredRecord& stored : records) {
        const QJsonObject r = StoredRecordJson(stored);
        QStringList row;
        for (const auto& column : columns)
            row << column.second(stored, r);
        rows.append(row);
    }
    QList<qsizetype> widths(header.size(), 0);
    for (const QStringList& row : rows)
        for (qsizetype i = 0; i < row.size(); ++i)
            widths[i] = std::max(widths[i], row[i].size());
    QString text;
    for (const QStringList& row : rows) {
        QString line;
        for (qsizetype i = 0; i < row.size(); ++i)
            line += i + 1 < row.size() ? row[i].leftJustified(widths[i] + 2) : row[i];
        text += line.trimmed() + u'\n';
    }
    return text;
}

QString RecordsInFull(const QList<TStoredRecord>& records)
{
    QString text;
    for (const TStoredRecord& stored : records) {
        const QJsonObject r = StoredRecordJson(stored);
        const QJsonObject settings = r.value(QStringLiteral("settings")).toObject();
        QStringList settingTexts;
        for (auto it = settings.begin(); it != settings.end(); ++it)
            settingTexts << QStringLiteral("%1 %2").arg(it.key(), RecordValueText(it.value()));
        const QString series = Text(r, "series");
        text += QStringLiteral("unit ") + Text(r, "unit") + QStringLiteral(" at ") + Text(r, "station") +
                QStringLiteral(", ") + LocalTime(r, "start") + QStringLiteral(" (") +
                QString::number(double(Field(r, QStringLiteral("durationMs")).toInteger()) / 1000, 'f', 1) +
                QStringLiteral(" s): ") + Text(r, "outcome") + u'\n';
        const auto line = [&text](const char* label, const QString& value) {
            text += QStringLiteral("  ") + QString::fromLatin1(label).leftJustified(16) + value + u'\n';
        };
        line("serial number",
             SerialNumberText(stored.Unit) + (series.isEmpty() ? QString() : QStringLiteral(", series ") + series));
        line("NAD", QStringLiteral("%1 before, %2 after").arg(Text(r, "nadBefore"), Text(r, "nadAfter")));
        line("platform", QStringLiteral("%1, kernel %2 before").arg(Text(r, "platform"), Text(r, "kernelVersion")));
        line("recipe", Text(r, "recipe").isEmpty() ? QStringLiteral("none") : Text(r, "recipe"));
        for (const auto& [label, file, hash, source] :
             {std::tuple{"kernel", "kernelFile", "kernelSha256", "kernelSourceSha256"},
              std::tuple{"program", "programFile", "programSha256", "programSourceSha256"}}) {
            const QString read = Text(r, source);
            line(label, Text(r, file).isEmpty()
                            ? QStringLiteral("not written")
                            : QStringLiteral("%1, SHA-256 %2").arg(Text(r, file), Text(r, hash)) +
                                  (read.isEmpty() ? QString() : QStringLiteral(" (the file as read: ") + read + u')'));
        }
        line("settings",
             settingTexts.isEmpty() ? QStringLiteral("not written") : settingTexts.join(QStringLiteral(", ")));
        line("steps", QStringLiteral("serial %1, kernel %2, program %3, verify %4")
                          .arg(Text(r, "steps.serial"), Text(r, "steps.kernel"), Text(r, "steps.program"),
                               Text(r, "steps.verify")));
        line("link", QStringLiteral("%1 requests, %2 resent").arg(Text(r, "requests"), Text(r, "resent")));
        line("message", Text(r, "message"));
    }
    return text;
}
