// Start and stop the PLC program, and save the controller's kernel or program memory.
#include "LoaderSession.h"

#include "LoaderFiles.h"

#include <QFileInfo>

#include <algorithm>

QString DefaultDumpFileName(TOperationCode dump)
{
    return dump == OpSaveKernel ? QStringLiteral("dump-kernel.bin") : QStringLiteral("dump-program.bin");
}

struct TLoaderSession::TDumpKind {
    uint32_t Address;
    std::function<int64_t()> Length;   // asked once the controller has answered
    QString Reading;
    QString ReadError;
    QString Saved;
};

bool TLoaderSession::DoStartPlc()
{
    CurrentOperation = OpStartPlc;
    Failure = {};
    const bool ok = RunPlcCommand(QStringLiteral("starting plc program"), [this] { return Link.StartPlc(); });
    CurrentOperation = OpNone;
    return ok;
}

bool TLoaderSession::DoStopPlc()
{
    CurrentOperation = OpStopPlc;
    Failure = {};
    const bool ok = RunPlcCommand(QStringLiteral("stopping plc program"), [this] { return Link.StopPlc(); });
    CurrentOperation = OpNone;
    return ok;
}

bool TLoaderSession::DoSaveKernel(const QString& path)
{
    CurrentOperation = OpSaveKernel;
    const TDumpKind kind{KernelAddress,
                         [this]() -> int64_t {
                             const TKernelHeader& header = Info.KernelHeader;
                             const bool known = header.Magic == KernelMagicA || header.Magic == KernelMagicB;
                             return known ? std::min<int64_t>(header.ImageSize, MaxKernelSize) : MaxKernelSize;
                         },
                         QStringLiteral("reading kernel"), QStringLiteral("can't read kernel"),
                         QStringLiteral("saved plc kernel memory dump to ")};
    return SaveDump(kind, path, KernelDump);
}

bool TLoaderSession::DoSaveProgram(const QString& path)
{
    CurrentOperation = OpSaveProgram;
    const TDumpKind kind{ProgramAddress,
                         [this]() -> int64_t {
                             const int64_t length = Link.StoredProgramLength(Info.IsXaPlatform());
                             return length <= 0 || length > ProgramAreaSize ? ProgramAreaSize : length;
                         },
                         QStringLiteral("reading program"), QStringLiteral("can't read program"),
                         QStringLiteral("saved plc program memory dump to ")};
    return SaveDump(kind, path, ProgramDump);
}

bool TLoaderSession::SaveDump(const TDumpKind& kind, const QString& path, QByteArray& dump)
{
    bool saved = false;
    // The operator who cancels the file's choice has been told nothing: no line for it.
    Failure = path.isEmpty() ? TOperationFailure{TFailureKind::InvalidJob, QStringLiteral("no dump file chosen")}
                             : TOperationFailure{};
    if (!path.isEmpty() && ReadDump(kind, dump)) {
        const QString fullPath = QFileInfo(path).absoluteFilePath();
        QString error;
        saved = WriteDumpFile(fullPath, dump, &error);
        if (saved) {
            Say(kind.Saved + fullPath);
        } else {
            const QString text = QStringLiteral("can't write ") + fullPath + QStringLiteral(": ") + error;
            ReportFileError(text);
            Failure = {TFailureKind::FileError, QStringLiteral("error: ") + text};
        }
    }
    CurrentOperation = OpNone;
    return saved;
}

bool TLoaderSession::ReadDump(const TDumpKind& kind, QByteArray& dump)
{
    TotalDone = 0;
    if (!Link.Ping()) {
        Fail(LinkFailureKind(), QStringLiteral("error: plc not responding"));
        return false;
    }
    const int64_t length = kind.Length();
    TotalBytes = int32_t(length);
    Say(kind.Reading);
    dump.clear();
    if (!Link.ReadMemory(kind.Address, uint32_t(length), &dump)) {
        Fail(LinkFailureKind(), QStringLiteral("error: ") + kind.ReadError);
        return false;
    }
    return true;
}
