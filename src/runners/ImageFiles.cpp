#include "ImageFiles.h"

#include "LoaderFiles.h"

#include <QDateTime>

namespace {

bool ReadFile(const QString& what, const QString& path, qint64 maxSize, QByteArray& bytes, QString& error)
{
    QString why;
    switch (ReadImageFile(path, maxSize, bytes, &why)) {
    case TImageRead::Missing:
        error = QStringLiteral("%1 file not found: %2").arg(what, path);
        return false;
    case TImageRead::TooLarge:
        error = QStringLiteral("%1 file too large (over %2 bytes): %3").arg(what).arg(maxSize).arg(path);
        return false;
    case TImageRead::Failed:
        error = QStringLiteral("can't read %1 file %2: %3").arg(what, path, why);
        return false;
    case TImageRead::Read:
        break;
    }
    return true;
}

}   // namespace

bool LoadKernelFile(const QString& path, TLoadedImages& images, QString& error)
{
    QByteArray kernel;
    if (!ReadFile(QStringLiteral("kernel"), path, MaxKernelSize, kernel, error))
        return false;
    const TPlatform platform = KernelPlatformOf(kernel);
    if (platform == TPlatform::Unknown) {
        error = QStringLiteral("not a valid kernel file for either platform: %1").arg(path);
        return false;
    }
    images.KernelSourceSha256 = Sha256Hex(kernel);
    // As the window does on loading: the copy carries the loading moment, its own length
    // and a fresh checksum; the file stays as it is.
    const int headerOffset = KernelHeaderOffset(platform);
    StampKernel(kernel, QDateTime::currentDateTime(), headerOffset);
    images.Kernel = kernel;
    images.KernelFileHeader = ReadKernelHeader(kernel, headerOffset);
    images.KernelPlatform = platform;
    images.KernelLoaded = true;
    return true;
}

bool LoadProgramFile(const QString& path, TLoadedImages& images, QString& error)
{
    QByteArray program;
    if (!ReadFile(QStringLiteral("plc program"), path, ProgramAreaSize, program, error))
        return false;
    if (!IsValidProgram(program, false) && !IsValidProgram(program, true)) {
        error = QStringLiteral("not a valid plc program file: %1").arg(path);
        return false;
    }
    images.Program = program;
    images.ProgramLoaded = true;
    images.ProgramSourceSha256 = Sha256Hex(program);
    return true;
}

bool LoadJobFiles(const TJob& job, TLoadedImages& images, QString& error)
{
    const auto changed = [&error](const QString& what, const TJobFile& file, const QString& sha256) {
        if (file.Sha256.isEmpty() || sha256 == file.Sha256)
            return false;
        error = what + QStringLiteral(" file changed since the recipe was saved: ") + file.Path;
        return true;
    };
    if (job.Kernel && (!LoadKernelFile(job.Kernel->Path, images, error) ||
                       changed(QStringLiteral("kernel"), *job.Kernel, images.KernelSourceSha256)))
        return false;
    return !job.Program || (LoadProgramFile(job.Program->Path, images, error) &&
                            !changed(QStringLiteral("plc program"), *job.Program, images.ProgramSourceSha256));
}
