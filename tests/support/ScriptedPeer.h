// ScriptedPeer: a controller stand-in on a loopback address, for the link's tests where a
// hand-made datagram shows a case better than the simulator. Its script answers each frame
// the peer receives; Send reaches any port of 127.0.0.1, for a reply the link no longer
// waits for.
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QUdpSocket>

#include <functional>

class TScriptedPeer {
public:
    // Gets the index-th frame received (from 0); each datagram it gives goes back to the
    // frame's sender. Without a script, or when it gives none, the peer stays silent.
    using TScript = std::function<QList<QByteArray>(int index, const QByteArray& frame)>;

    TScriptedPeer();
    // Binds to a free port of address; false when that fails or address is no loopback one.
    bool Start(const QString& address);
    int Port() const;
    void Send(const QByteArray& datagram, int port);

    TScript Script;
    QList<QByteArray> Frames;   // every frame received, in order
    QList<int> SenderPorts;     // the port each frame came from

private:
    QUdpSocket FSocket;
};
