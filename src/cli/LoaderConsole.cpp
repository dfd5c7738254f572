#include "LoaderConsole.h"

#include "TimeLeft.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QStringList>

#include <map>

namespace {

QString Stamp(const QDateTime& moment)
{
    return moment.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

QString Bytes(qint64 bytes)
{
    return bytes < 1024 ? QStringLiteral("%1 B").arg(bytes)
                        : QStringLiteral("%1 KiB").arg(double(bytes) / 1024, 0, 'f', 1);
}

}   // namespace

TLoaderConsole::TLoaderConsole(FILE* out, bool json, bool terminal)
    : FOut(out), FJson(json), FTerminal(terminal && !json)
{
}

QString TLoaderConsole::ProgressText(qint64 done, qint64 total, qint64 elapsedMs)
{
    const qint64 percent = total > 0 ? done * 100 / total : 0;
    QString text = QStringLiteral("%1%  %2 of %3").arg(percent, 3).arg(Bytes(done), Bytes(total));
    if (const std::optional<qint64> left = TimeLeftMs(done, total, elapsedMs))
        text += QStringLiteral("  ") + MinutesText(*left) + QStringLiteral(" left");
    return text;
}

void TLoaderConsole::Message(const QString& unit, const QDateTime& moment, const QString& text)
{
    if (FJson) {
        JsonLine(unit, QStringLiteral("message"), {{QStringLiteral("text"), text}});
        return;
    }
    Print(QStringLiteral("%1: [%2] %3").arg(Stamp(moment), unit, text));
}

void TLoaderConsole::Progress(const QString& unit, qint64 done, qint64 total)
{
    TLive& live = FLive[unit];
    if (!live.Since.isValid())
        live.Since.start();
    live.Done = done;
    live.Total = total;
    if (FJson) {
        // Four a second at most, and the last one of a transfer.
        const qint64 now = live.Since.elapsed();
        if (live.LastJsonMs >= 0 && now - live.LastJsonMs < 250 && done < total)
            return;
        live.LastJsonMs = now;
        JsonLine(unit, QStringLiteral("progress"), {{QStringLiteral("done"), done}, {QStringLiteral("total"), total}});
        return;
    }
    if (FTerminal) {
        EraseLive();
        DrawLive();
    }
}

void TLoaderConsole::Result(const TUnitRecord& record)
{
    if (FTerminal)
        EraseLive();
    FLive.remove(record.IP);
    if (FJson) {
        QJsonObject fields = UnitRecordJson(record);
        fields.remove(QStringLiteral("unit"));
        JsonLine(record.IP, QStringLiteral("result"), fields);
        return;
    }
    if (FTerminal)
        DrawLive();
}

void TLoaderConsole::UnitInfo(const TUnitRecord& record)
{
    const TInfoPanelTexts& p = record.Panel;
    if (FJson) {
        JsonLine(record.IP, QStringLiteral("unit"),
                 {{QStringLiteral("nad"), record.NadBefore},
                  {QStringLiteral("outcome"), OutcomeText(record.Outcome)},
                  {QStringLiteral("platform"), p.Platform},
                  {QStringLiteral("plcStatus"), p.PLCStatus},
                  {QStringLiteral("loaderVersion"), p.LoaderVersion},
                  {QStringLiteral("serial"), p.Serial},
                  {QStringLiteral("kernelVersion"), p.KernelVersion},
                  {QStringLiteral("nadAlias"), p.NADAlias},
                  {QStringLiteral("hardwareModel"), p.HardwareModel},
                  {QStringLiteral("iexBaudRate"), p.IEXBaudrate},
                  {QStringLiteral("kernelTransferDate"), p.KernelTransferDate},
                  {QStringLiteral("plcProgram"), p.PLCProgram},
                  {QStringLiteral("fileSystem"), p.FileSystem},
                  {QStringLiteral("plcProgramTransferDate"), p.PLCProgramTransferDate},
                  {QStringLiteral("modbusAddress"), p.ModbusAddress}});
        return;
    }
    if (record.Outcome != TUnitOutcome::Succeeded) {
        Print(QStringLiteral("%1  nad %2  did not answer").arg(record.IP, -15).arg(record.NadBefore));
        return;
    }
    Print(QStringLiteral("%1  nad %2  %3  loader %4  serial %5  kernel %6  plc %7 (%8)")
              .arg(record.IP, -15)
              .arg(record.NadBefore, -10)
              .arg(p.Platform, p.LoaderVersion, p.Serial, p.KernelVersion, p.PLCProgram, p.PLCStatus));
}

void TLoaderConsole::Note(const QString& text)
{
    if (FJson)
        JsonLine(QString(), QStringLiteral("note"), {{QStringLiteral("text"), text}});
    else
        Print(QStringLiteral("%1: %2").arg(Stamp(QDateTime::currentDateTime()), text));
}

QString FailureCounts(const std::vector<TUnitRecord>& records)
{
    std::map<TFailureKind, int> counts;
    for (const TUnitRecord& r : records)
        if (r.Failure.Failed())
            ++counts[r.Failure.Kind];
    QStringList parts;
    for (const auto& [kind, count] : counts)
        parts << QString::number(count) + u' ' + FailureKindName(kind);
    return parts.join(QStringLiteral(", "));
}

void TLoaderConsole::Summary(const std::vector<TUnitRecord>& records)
{
    if (FJson || records.empty())
        return;
    Print(QString());
    for (const TUnitRecord& r : records) {
        QString line =
            QStringLiteral("%1 %2 nad %3").arg(r.IP, -15).arg(OutcomeText(r.Outcome), -11).arg(r.NadAfter, -10);
        line += QStringLiteral(" serial %1 kernel %2 program %3 verify %4  %5 s  %6 requests, %7 resent")
                    .arg(StepResultText(r.SerialStep), StepResultText(r.KernelStep), StepResultText(r.ProgramStep),
                         StepResultText(r.VerifyStep))
                    .arg(double(r.DurationMs()) / 1000, 0, 'f', 1)
                    .arg(r.Requests)
                    .arg(r.Resent);
        if (r.Failure.Failed() && !r.Failure.Text.isEmpty())
            line += QStringLiteral("  (") + r.Failure.Text + QLatin1Char(')');
        Print(line);
    }
    const QString kinds = FailureCounts(records);
    if (!kinds.isEmpty())
        Print(QStringLiteral("not done: ") + kinds);
}

void TLoaderConsole::Print(const QString& line)
{
    if (FTerminal)
        EraseLive();
    std::fprintf(FOut, "%s\n", qPrintable(line));
    if (FTerminal)
        DrawLive();
    std::fflush(FOut);
}

void TLoaderConsole::JsonLine(const QString& unit, const QString& kind, QJsonObject fields)
{
    fields.insert(QStringLiteral("time"), QDateTime::currentDateTime().toString(Qt::ISODateWithMs));
    fields.insert(QStringLiteral("kind"), kind);
    if (!unit.isEmpty())
        fields.insert(QStringLiteral("unit"), unit);
    std::fprintf(FOut, "%s\n", QJsonDocument(fields).toJson(QJsonDocument::Compact).constData());
    std::fflush(FOut);
}

void TLoaderConsole::EraseLive()
{
    // Up over the live lines and clear to the end of the screen.
    if (FLiveLines > 0)
        std::fprintf(FOut, "\x1b[%dA\x1b[J", FLiveLines);
    FLiveLines = 0;
}

void TLoaderConsole::DrawLive()
{
    for (auto it = FLive.cbegin(); it != FLive.cend(); ++it) {
        std::fprintf(FOut, "  %-15s %s\n", qPrintable(it.key()),
                     qPrintable(ProgressText(it->Done, it->Total, it->Since.elapsed())));
        ++FLiveLines;
    }
    std::fflush(FOut);
}
