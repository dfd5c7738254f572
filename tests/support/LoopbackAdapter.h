// LoopbackAdapter: while one lives, the only adapter a link can see is loopback
// (127.0.0.1/8, broadcast 127.255.255.255), and the host's own address is 127.0.0.1, so
// nothing a test sends leaves 127.0.0.0/8. Several may live at once (one for a whole test
// program, one in a fixture): the host's own table comes back when the last one ends.
#pragma once

#include <QString>

inline const QString LoopbackAdapterName = QStringLiteral("lo");

class TLoopbackAdapter {
public:
    TLoopbackAdapter();
    ~TLoopbackAdapter();
    TLoopbackAdapter(const TLoopbackAdapter&) = delete;
    TLoopbackAdapter& operator=(const TLoopbackAdapter&) = delete;
};
