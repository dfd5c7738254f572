#include "OperationFailure.h"

#include <iterator>

namespace {

// The kinds' names, one per kind in the enum's order.
const char* const KindNames[] = {
    "none",        "not answering", "refused",     "wrong platform", "file error", "interrupted",
    "store error", "mismatch",      "invalid job", "unit taken",     "no adapter",
};
static_assert(std::size(KindNames) == size_t(TFailureKind::NoAdapter) + 1);

}   // namespace

QString FailureKindName(TFailureKind kind)
{
    return QLatin1String(KindNames[size_t(kind)]);
}

TFailureKind FailureKindNamed(const QString& name)
{
    for (size_t kind = 0; kind < std::size(KindNames); ++kind)
        if (name == QLatin1String(KindNames[kind]))
            return TFailureKind(kind);
    return TFailureKind::None;
}
