#include "LoopbackAdapter.h"

#include "uEthernetUtils.h"

namespace {

int Living = 0;   // TLoopbackAdapter objects alive, all made and ended on the main thread

}   // namespace

TLoopbackAdapter::TLoopbackAdapter()
{
    if (Living++ > 0)
        return;
    SetAdapterTableReader([] {
        return QList<TPlatformAdapter>{{LoopbackAdapterName, QStringLiteral("Loopback"), QStringLiteral("127.0.0.1"),
                                        QStringLiteral("255.0.0.0"), QString()}};
    });
    SetLocalIPResolver([] { return QStringLiteral("127.0.0.1"); });
}

TLoopbackAdapter::~TLoopbackAdapter()
{
    if (--Living > 0)
        return;
    SetAdapterTableReader({});
    SetLocalIPResolver({});
}
