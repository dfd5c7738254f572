#include "ProgramFolders.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

bool IsFolderWritable(const QString& folder)
{
    const QFileInfo info(folder);
    return info.isDir() && info.isWritable();
}

QString WritableFolder(const QString& programFolder, const TFolderWritable& isWritable)
{
    if (isWritable(programFolder))
        return programFolder;
    const QString dataFolder = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
    if (dataFolder.isEmpty())   // no home folder: the write fails and says so, in the program's folder
        return programFolder;
    // A folder that cannot be made shows when the file is written, as any other write error.
    QDir().mkpath(dataFolder);
    return dataFolder;
}

QString WritableProgramFolder()
{
    return WritableFolder(QCoreApplication::applicationDirPath());
}

QString ProgramDataFile(const QString& programFolder, const QString& fileName)
{
    // ORVEL_DATA_FROM_BIN: the installed data folder as seen from the installed executable's.
    const QString installed = QDir(programFolder).filePath(QStringLiteral(ORVEL_DATA_FROM_BIN "/") + fileName);
    return QFileInfo::exists(installed) ? QDir::cleanPath(installed) : QDir(programFolder).filePath(fileName);
}
