// ProgramFolders: where the program reads its help text and writes its production log and
// frame trace.
//
// A copy unpacked into a folder of the operator's keeps them all beside the executable, as
// it always has. An installed program's folder belongs to the system: there the help text
// is in the installed data folder (share/orvelbinloader beside bin/), and the log and the
// trace go to the user's data folder.
#pragma once

#include <QString>

#include <functional>

using TFolderWritable = std::function<bool(const QString& folder)>;

// Whether the program may create and append files in the folder, as the file system says.
bool IsFolderWritable(const QString& folder);
// The folder for the files the program writes: programFolder when isWritable says so, else
// the user's data folder (QStandardPaths::AppDataLocation), created when needed.
QString WritableFolder(const QString& programFolder, const TFolderWritable& isWritable = IsFolderWritable);
// The same for the executable's folder.
QString WritableProgramFolder();
// The file of that name for the program to read: the one in the data folder installed with
// the executable in programFolder when it is there, else the one in programFolder.
QString ProgramDataFile(const QString& programFolder, const QString& fileName);
