#include "StoreCommands.h"

#include "RecordKeeper.h"

#include <QJsonArray>
#include <QJsonDocument>

#include <algorithm>
#include <memory>

namespace {

// The columns of the export, by key ("steps.kernel": inside "steps").
const char* const CsvColumns[] = {
    "id",
    "start",
    "end",
    "station",
    "unit",
    "outcome",
    "nadBefore",
    "nadAfter",
    "serial",
    "serialTaken",
    "series",
    "platform",
    "kernelVersion",
    "kernelFile",
    "kernelSha256",
    "programFile",
    "programSha256",
    "settings.nadAlias",
    "settings.hardwareModel",
    "settings.iexBaudRate",
    "settings.ipAddress",
    "settings.subnetMask",
    "settings.gateway",
    "settings.dnsServer",
    "steps.serial",
    "steps.kernel",
    "steps.program",
    "steps.verify",
    "durationMs",
    "requests",
    "resent",
    "message",
};

QJsonValue Field(const QJsonObject& record, const QString& key)
{
    const qsizetype dot = key.indexOf(u'.');
    return dot < 0 ? record.value(key) : record.value(key.left(dot)).toObject().value(key.mid(dot + 1));
}

QString Text(const QJsonValue& value)
{
    if (value.isDouble())
        return QString::number(value.toInteger());
    return value.toString();
}

QString Text(const QJsonObject& record, const char* key)
{
    return Text(Field(record, QLatin1String(key)));
}

// Stored times are UTC; the operator reads local time.
QString LocalTime(const QJsonObject& record, const char* key)
{
    const QDateTime moment = QDateTime::fromString(Text(record, key), Qt::ISODateWithMs);
    return moment.isValid() ? moment.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")) : QString();
}

QString SerialText(const QJsonObject& record)
{
    const qint64 serial = Field(record, QStringLiteral("serial")).toInteger(-1);
    const qint64 taken = Field(record, QStringLiteral("serialTaken")).toInteger(-1);
    if (taken > 0 && taken != serial)
        return QStringLiteral("%1 (taken, not written)").arg(taken);
    return serial > 0 ? QString::number(serial) : QStringLiteral("-");
}

QString CsvField(const QString& text)
{
    if (!text.contains(u',') && !text.contains(u'"') && !text.contains(u'\n') && !text.contains(u'\r'))
        return text;
    return u'"' + QString(text).replace(QStringLiteral("\""), QStringLiteral("\"\"")) + u'"';
}

void Print(FILE* out, const QString& text)
{
    std::fputs(text.toUtf8().constData(), out);
    std::fflush(out);
}

int Serials(TRecordStore& store, const TLoaderOptions& options, FILE* out, FILE* err)
{
    QString error;
    if (options.SerialsAction == QLatin1String("set")) {
        if (!store.SetNextSerial(options.Series, options.NextSerial, error)) {
            Print(err, QStringLiteral("orvel-loader serials: %1\n").arg(error));
            return ExitStore;
        }
        Print(out, QStringLiteral("series %1: next number %2\n").arg(options.Series).arg(options.NextSerial));
        return ExitOk;
    }
    QList<TSeriesState> all;
    if (!store.ReadSeries(all, error)) {
        Print(err, QStringLiteral("orvel-loader serials: %1\n").arg(error));
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
    QString text;
    qsizetype width = 6;
    for (const TSeriesState& state : all)
        width = std::max(width, state.Name.size());
    if (!options.Json)
        text += QStringLiteral("%1  %2  %3\n")
                    .arg(QStringLiteral("series"), -int(width))
                    .arg(QStringLiteral("next"), 10)
                    .arg(QStringLiteral("taken"), 10);
    for (const TSeriesState& state : all) {
        if (options.Json)
            text += QString::fromUtf8(QJsonDocument(QJsonObject{{QStringLiteral("series"), state.Name},
                                                                {QStringLiteral("next"), qint64(state.Next)},
                                                                {QStringLiteral("taken"), qint64(state.Taken)}})
                                          .toJson(QJsonDocument::Compact)) +
                    u'\n';
        else
            text += QStringLiteral("%1  %2  %3\n")
                        .arg(state.Name, -int(width))
                        .arg(qint64(state.Next), 10)
                        .arg(qint64(state.Taken), 10);
    }
    Print(out, text);
    return ExitOk;
}

int Records(TRecordStore& store, const TLoaderOptions& options, FILE* out, FILE* err)
{
    QList<QJsonObject> records;
    QString error;
    if (!store.Query(options.Filter, records, error)) {
        Print(err, QStringLiteral("orvel-loader records: %1\n").arg(error));
        return ExitStore;
    }
    if (options.Json) {
        QString text;
        for (const QJsonObject& record : records)
            text += QString::fromUtf8(QJsonDocument(record).toJson(QJsonDocument::Compact)) + u'\n';
        Print(out, text);
    } else if (options.Csv) {
        Print(out, RecordsCsv(records));
    } else if (records.isEmpty()) {
        Print(out, QStringLiteral("no records of that kind in %1\n").arg(store.Location()));
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
        Print(err, QStringLiteral("orvel-loader %1: %2\n").arg(options.Command, error));
        return ExitStore;
    }
    if (options.Command == QLatin1String("serials"))
        return Serials(*store, options, out, err);
    // Records that waited on this machine go in first, so that the answer is complete here.
    TRecordKeeper waiting(store, TRecordKeeper::DefaultFallbackPath(*store));
    const int written = waiting.Flush(error);
    if (written > 0)
        Print(err, QStringLiteral("%1 records that waited in %2 are in the store now\n")
                       .arg(written)
                       .arg(waiting.FallbackPath()));
    if (!error.isEmpty())
        Print(err, QStringLiteral("warning: records still wait in %1, and are not listed: %2\n")
                       .arg(waiting.FallbackPath(), error));
    return Records(*store, options, out, err);
}

QString RecordsTable(const QList<QJsonObject>& records)
{
    const QStringList header{QStringLiteral("time"),   QStringLiteral("station"), QStringLiteral("unit"),
                             QStringLiteral("serial"), QStringLiteral("outcome"), QStringLiteral("steps s/k/p/v"),
                             QStringLiteral("kernel"), QStringLiteral("program"), QStringLiteral("message")};
    QList<QStringList> rows{header};
    for (const QJsonObject& r : records)
        rows.append({LocalTime(r, "start"), Text(r, "station"), Text(r, "unit"), SerialText(r), Text(r, "outcome"),
                     QStringList{Text(r, "steps.serial"), Text(r, "steps.kernel"), Text(r, "steps.program"),
                                 Text(r, "steps.verify")}
                         .join(u'/'),
                     Text(r, "kernelFile"), Text(r, "programFile"), Text(r, "message")});
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

QString RecordsInFull(const QList<QJsonObject>& records)
{
    QString text;
    for (const QJsonObject& r : records) {
        const QJsonObject settings = r.value(QStringLiteral("settings")).toObject();
        QStringList settingTexts;
        for (auto it = settings.begin(); it != settings.end(); ++it)
            settingTexts << QStringLiteral("%1 %2").arg(it.key(), Text(it.value()));
        const QString series = Text(r, "series");
        text += QStringLiteral("unit %1 at %2, %3 (%4 s): %5\n")
                    .arg(Text(r, "unit"), Text(r, "station"), LocalTime(r, "start"))
                    .arg(double(Field(r, QStringLiteral("durationMs")).toInteger()) / 1000, 0, 'f', 1)
                    .arg(Text(r, "outcome"));
        const auto line = [&text](const char* label, const QString& value) {
            text += QStringLiteral("  %1%2\n").arg(QLatin1String(label), -16).arg(value);
        };
        line("serial number", SerialText(r) + (series.isEmpty() ? QString() : QStringLiteral(", series ") + series));
        line("NAD", QStringLiteral("%1 before, %2 after").arg(Text(r, "nadBefore"), Text(r, "nadAfter")));
        line("platform", QStringLiteral("%1, kernel %2 before").arg(Text(r, "platform"), Text(r, "kernelVersion")));
        for (const auto& [label, file, hash] : {std::tuple{"kernel", "kernelFile", "kernelSha256"},
                                                std::tuple{"program", "programFile", "programSha256"}})
            line(label, Text(r, file).isEmpty() ? QStringLiteral("not written")
                                                : QStringLiteral("%1, SHA-256 %2").arg(Text(r, file), Text(r, hash)));
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

QString RecordsCsv(const QList<QJsonObject>& records)
{
    QStringList header;
    for (const char* column : CsvColumns)
        header << QLatin1String(column);
    QString text = header.join(u',') + u'\n';
    for (const QJsonObject& record : records) {
        QStringList fields;
        for (const char* column : CsvColumns)
            fields << CsvField(Text(record, column));
        text += fields.join(u',') + u'\n';
    }
    return text;
}
