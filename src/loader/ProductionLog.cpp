#include "ProductionLog.h"

#include "ProgramFolders.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutex>

namespace {

QString StartResult(bool checked)
{
    return checked ? QStringLiteral("err") : QStringLiteral("---");
}

// One unit is one line: a control character (a newline in a file name, say) is written as
// \xNN, and the backslash as \x5c so that an escape is never ambiguous.
QString Escaped(const QString& text)
{
    QString escaped;
    for (const QChar c : text) {
        if (c.category() == QChar::Other_Control || c == u'\\')
            escaped += QStringLiteral("\\x") + QStringLiteral("%1").arg(c.unicode(), 2, 16, QLatin1Char('0'));
        else
            escaped += c;
    }
    return escaped;
}

// The production log of the program whose executable's name is baseName.
QString LogOfProgram(const QString& baseName)
{
    return QDir(WritableProgramFolder()).filePath(baseName + QStringLiteral(".log"));
}

}   // namespace

QString NineDigits(int32_t value)
{
    return QString::asprintf("%.*d", 9, value);
}

TProductionLogEntry PrepareLogEntry(int32_t nad, const TJob& job, const QString& unitKernel)
{
    TProductionLogEntry entry;
    entry.Nad = nad == -1 ? QStringLiteral("none     ") : NineDigits(nad);
    entry.Serial = job.Serial.Write ? NineDigits(job.Serial.Number) : QStringLiteral("---------");
    entry.SerialResult = StartResult(job.Serial.Write);
    entry.KernelVersion = job.Kernel ? QStringLiteral("v") + unitKernel : QStringLiteral("------");
    entry.KernelResult = StartResult(job.Kernel.has_value());
    entry.ProgramResult = StartResult(job.Program.has_value());
    entry.ProgramFile = job.Program ? QFileInfo(job.Program->Path).fileName() : QStringLiteral("-");
    return entry;
}

QString ProductionLogLine(const TProductionLogEntry& entry, const QDateTime& moment)
{
    return moment.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")) + QStringLiteral(" nad ") + entry.Nad +
           QStringLiteral(" serial ") + entry.Serial + u' ' + entry.SerialResult + QStringLiteral(" kernel ") +
           Escaped(entry.KernelVersion) + u' ' + entry.KernelResult + QStringLiteral(" plc ") + entry.ProgramResult +
           QStringLiteral(" (") + Escaped(entry.ProgramFile) + QStringLiteral(")\r\n");
}

QString DefaultProductionLogPath()
{
    return LogOfProgram(QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName());
}

QString WindowProductionLogPath()
{
    return LogOfProgram(QStringLiteral("OrvelBinLoader"));
}

bool AppendProductionLog(const QString& path, const QString& line, QString* error)
{
    // Units flashed at once on several threads share the log: one line at a time, whole.
    static QMutex writer;
    const QMutexLocker lock(&writer);
    QFile file(path);
    const QByteArray bytes = line.toUtf8();
    const bool written = file.open(QIODevice::WriteOnly | QIODevice::Append) && file.write(bytes) == bytes.size() &&
                         file.flush();
    file.close();
    if (!written || file.error() != QFileDevice::NoError) {
        if (error)
            *error = file.errorString();
        return false;
    }
    return true;
}
