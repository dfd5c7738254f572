#include "TraceFile.h"

#include "ProgramFolders.h"

#include <QDir>
#include <QFile>
#include <QMutex>
#include <QMutexLocker>

#include <cstring>

namespace {

// One trace per process: its category, its file (opened on the first line) and the handler
// that takes every other message. Runners trace from threads of their own.
struct TTrace {
    QMutex Mutex;
    const char* Category = nullptr;
    QString FileName;
    QFile File;
    bool OpenTried = false;
    QtMessageHandler Previous = nullptr;
};

TTrace& Trace()
{
    static TTrace trace;
    return trace;
}

void Write(TTrace& trace, const QString& message)
{
    const QMutexLocker lock(&trace.Mutex);
    if (!trace.OpenTried) {
        // As the trace always was: a file that cannot be opened leaves the run untraced.
        trace.OpenTried = true;
        trace.File.setFileName(QDir(WritableProgramFolder()).filePath(trace.FileName));
        trace.File.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text);
    }
    if (!trace.File.isOpen())
        return;
    trace.File.write(TraceLine(QDateTime::currentDateTime(), message).toUtf8());
    trace.File.flush();
}

void Handle(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    TTrace& trace = Trace();
    if (context.category && std::strcmp(context.category, trace.Category) == 0)
        Write(trace, message);
    else if (trace.Previous)
        trace.Previous(type, context, message);
}

}   // namespace

void InstallTraceFile(const char* category, const QString& fileName)
{
    TTrace& trace = Trace();
    {
        const QMutexLocker lock(&trace.Mutex);
        trace.Category = category;
        trace.FileName = fileName;
    }
    const QtMessageHandler previous = qInstallMessageHandler(Handle);
    if (previous != Handle)   // installed a second time: the first one's predecessor stays
        trace.Previous = previous;
}

QString TraceLine(const QDateTime& moment, const QString& message)
{
    return moment.toString(QStringLiteral("yyyy-MM-dd hh:mm:ss.zzz ")) + message + QLatin1Char('\n');
}
