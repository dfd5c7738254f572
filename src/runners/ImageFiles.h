// ImageFiles: the kernel and program files of a job, read and judged once before any unit is
// touched. A kernel file's platform follows from where its header lies; each
// unit's send checks it again for that unit.
#pragma once

#include "LoaderSession.h"

#include <QString>

// Reads the kernel into images (stamped, header and platform noted, loaded, the SHA-256 of
// the file's bytes as read noted); false and the reason, naming
// the file, when it is missing, unreadable, too large or a valid kernel for neither platform.
bool LoadKernelFile(const QString& path, TLoadedImages& images, QString& error);
// Reads the program into images (its SHA-256 noted); false and the reason when it is missing, unreadable, too
// large or a valid program for neither platform.
bool LoadProgramFile(const QString& path, TLoadedImages& images, QString& error);
// Reads each file of the job into images; false and the reason when one does not load, or
// when its bytes are not the ones the job pinned by their SHA-256 ("kernel file changed since
// the recipe was saved", naming the file). The bytes checked are the bytes loaded.
bool LoadJobFiles(const TJob& job, TLoadedImages& images, QString& error);
