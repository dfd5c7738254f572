// OperationFailure: how an operation on a unit ended, by kind and in words, so that a unit's
// record and a station's summary tell causes apart without reading message lines.
#pragma once

#include <QString>

enum class TFailureKind {
    None,            // the operation succeeded
    NotAnswering,    // the unit sent no reply it could accept
    Refused,         // the unit answered with an error code
    WrongPlatform,   // the images or the tool do not fit the unit
    FileError,       // an image, dump or log file could not be read or written
    Interrupted,     // a stop request cut it short
    StoreError,      // the record store or the serial number source failed
    Mismatch,        // the unit holds other than it should: a verify found a difference, or no valid kernel or
                     // program to keep was found in it
    InvalidJob,      // the job's own choices cannot be carried out: invalid settings, NAD or serial number,
                     // nothing to do, no dump file
    UnitTaken,       // the unit holds a serial number already, or another station wrote into it meanwhile
    NoAdapter,       // the station's network adapter could not be used
};

struct TOperationFailure {
    TFailureKind Kind = TFailureKind::None;
    QString Text;   // what went wrong, in the operator's words; empty when Kind is None
    bool Failed() const { return Kind != TFailureKind::None; }
};

// The kind's name as records, listings and JSON keep it: "none", "not answering", ...
QString FailureKindName(TFailureKind kind);
// The kind of that name; None for a name of no kind (a record kept before kinds were).
TFailureKind FailureKindNamed(const QString& name);
