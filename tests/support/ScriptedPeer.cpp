#include "ScriptedPeer.h"

#include <QNetworkDatagram>

TScriptedPeer::TScriptedPeer()
{
    QObject::connect(&FSocket, &QUdpSocket::readyRead, [this] {
        while (FSocket.hasPendingDatagrams()) {
            const QNetworkDatagram datagram = FSocket.receiveDatagram();
            const int index = int(Frames.size());
            Frames.append(datagram.data());
            SenderPorts.append(datagram.senderPort());
            if (!Script)
                continue;
            for (const QByteArray& reply : Script(index, datagram.data()))
                FSocket.writeDatagram(reply, datagram.senderAddress(), quint16(datagram.senderPort()));
        }
    });
}

bool TScriptedPeer::Start(const QString& address)
{
    const QHostAddress host(address);
    return host.isLoopback() && FSocket.bind(host, 0);
}

int TScriptedPeer::Port() const
{
    return FSocket.localPort();
}

void TScriptedPeer::Send(const QByteArray& datagram, int port)
{
    FSocket.writeDatagram(datagram, QHostAddress::LocalHost, quint16(port));
}
