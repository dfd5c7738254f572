#include "LoopbackAdapter.h"

#include "uEthernetUtils.h"

TLoopbackAdapter::TLoopbackAdapter()
{
    SetAdapterTableReader([] {
        return QList<TPlatformAdapter>{{LoopbackAdapterName, QStringLiteral("Loopback"), QStringLiteral("127.0.0.1"),
                                        QStringLiteral("255.0.0.0"), QString()}};
    });
    SetLocalIPResolver([] { return QStringLiteral("127.0.0.1"); });
}

TLoopbackAdapter::~TLoopbackAdapter()
{
    SetAdapterTableReader({});
    SetLocalIPResolver({});
}
