// ProgramFolders: where the program reads its help text and writes its production log, its
// frame trace and its records.
//
// A copy unpacked into a folder of the operator's, or a build, keeps the log and the trace
// beside the executable, as it always has. An installed program's folder belongs to the
// system, even where root could write into it: there the help text is in the installed data
// folder (share/orvelbinloader beside bin/), and the log and the trace go to the user's data
// folder, where the record store keeps its file.
#pragma once

#include <QString>
#include <QStringList>

#include <functional>

using TFolderWritable = std::function<bool(const QString& folder)>;

// The user's data folder the window and orvel-loader share, whatever the program is called:
// OrvelBinLoader in QStandardPaths' data location. Not created here.
QString UserDataFolder();
// The prefixes programs are installed under: /usr, /usr/local, /opt and the install prefix
// this build was configured with.
QStringList SystemPrefixes();
// Whether the folder is one of the prefixes or inside one, symbolic links followed.
bool InSystemPrefix(const QString& folder, const QStringList& prefixes = SystemPrefixes());
// Whether the program may create and append files in the folder, as the file system says.
bool IsFolderWritable(const QString& folder);
// The folder for the files the program writes: programFolder for a copy outside the system's
// prefixes that may write there, else UserDataFolder(), created when needed.
QString WritableFolder(const QString& programFolder, const TFolderWritable& isWritable = IsFolderWritable,
                       const QStringList& systemPrefixes = SystemPrefixes());
// The same for the executable's folder.
QString WritableProgramFolder();
// The file of that name for the program to read: the one in the data folder installed with
// the executable in programFolder when it is there, else the one in programFolder.
QString ProgramDataFile(const QString& programFolder, const QString& fileName);
