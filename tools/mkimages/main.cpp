// orvel-mkimages OUTDIR: writes the sample kernel and PLC program images that demos and
// manual tests send to the simulated controllers.
#include "SampleImages.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>

#include <cstdio>

namespace {

bool WriteImage(const QDir& folder, const QString& name, const QByteArray& image)
{
    QFile file(folder.filePath(name));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(image) != image.size()) {
        std::fprintf(stderr, "orvel-mkimages: %s: %s\n", qPrintable(file.fileName()), qPrintable(file.errorString()));
        return false;
    }
    return true;
}

}   // namespace

int main(int argc, char* argv[])
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: orvel-mkimages OUTDIR\n");
        return 2;
    }
    const QDir folder(QString::fromLocal8Bit(argv[1]));
    if (!folder.mkpath(QStringLiteral("."))) {
        std::fprintf(stderr, "orvel-mkimages: cannot create %s\n", argv[1]);
        return 1;
    }
    const bool ok = WriteImage(folder, QStringLiteral("kernel-xa.bin"), SampleKernel(2)) &&
                    WriteImage(folder, QStringLiteral("kernel-arm.bin"), SampleKernel(3)) &&
                    WriteImage(folder, QStringLiteral("program.bin"), SampleProgram()) &&
                    WriteImage(folder, QStringLiteral("program-xa-files.bin"), SampleXaFileProgram());
    return ok ? 0 : 1;
}
