// UnitNotes: what a loader session learnt of its unit and put into it, noted in the unit's
// record.
#pragma once

#include "LoaderSession.h"
#include "UnitRecord.h"

// What the connected unit reported about itself, as its record keeps it.
void NoteConnectedUnit(const TLoaderSession& session, TUnitRecord& record);
// What the session's last send, run for job on images, put into the unit: files (with the
// SHA-256 of each as read), each step's result, the hashes of the bytes as written, the
// settings and the serial number.
void NoteSend(const TLoaderSession& session, const TJob& job, const TLoadedImages& images, TUnitRecord& record);
// The same from a send's report.
void NoteSend(const TSendReport& sent, const TJob& job, const TLoadedImages& images, TUnitRecord& record);
