// orvel-mkimages OUTDIR: writes the sample kernel and PLC program images that demos and
// manual tests send to the simulated controllers.
#include "SampleImages.h"

#include <QByteArray>
#include <QCommandLineParser>
#include <QCoreApplication>
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
    QCoreApplication application(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("orvel-mkimages"));
    QCoreApplication::setApplicationVersion(QStringLiteral(ORVEL_VERSION_TEXT));
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Writes sample images for the simulated controllers of orvel-sim into OUTDIR: kernel-xa.bin "
                       "and kernel-arm.bin (firmware kernels), program.bin and program-xa-files.bin (PLC programs)."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addPositionalArgument(QStringLiteral("OUTDIR"), QStringLiteral("Folder to write to; made when missing."));
    parser.process(application);
    if (parser.positionalArguments().size() != 1) {
        std::fprintf(stderr, "usage: orvel-mkimages OUTDIR\n");
        return 2;
    }
    const QString path = parser.positionalArguments().constFirst();
    const QDir folder(path);
    if (!folder.mkpath(QStringLiteral("."))) {
        std::fprintf(stderr, "orvel-mkimages: cannot create %s\n", qPrintable(path));
        return 1;
    }
    const bool ok = WriteImage(folder, QStringLiteral("kernel-xa.bin"), SampleKernel(2)) &&
                    WriteImage(folder, QStringLiteral("kernel-arm.bin"), SampleKernel(3)) &&
                    WriteImage(folder, QStringLiteral("program.bin"), SampleProgram()) &&
                    WriteImage(folder, QStringLiteral("program-xa-files.bin"), SampleXaFileProgram());
    return ok ? 0 : 1;
}
