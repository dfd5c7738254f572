#include "OperationFailure.h"

QString FailureKindName(TFailureKind kind)
{
    switch (kind) {
    case TFailureKind::None:
        return QStringLiteral("none");
    case TFailureKind::NotAnswering:
        return QStringLiteral("not answering");
    case TFailureKind::Refused:
        return QStringLiteral("refused");
    case TFailureKind::WrongPlatform:
        return QStringLiteral("wrong platform");
    case TFailureKind::FileError:
        return QStringLiteral("file error");
    case TFailureKind::Interrupted:
        return QStringLiteral("interrupted");
    case TFailureKind::StoreError:
        return QStringLiteral("store error");
    case TFailureKind::Mismatch:
        return QStringLiteral("mismatch");
    case TFailureKind::InvalidJob:
        return QStringLiteral("invalid job");
    case TFailureKind::UnitTaken:
        return QStringLiteral("unit taken");
    case TFailureKind::NoAdapter:
        return QStringLiteral("no adapter");
    }
    return {};
}
