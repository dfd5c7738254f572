#include "ScriptedPeer.h"

#include <QHostAddress>
#include <QNetworkDatagram>
#include <QTimer>
#include <QUdpSocket>

TScriptedPeer::TGuardedScript& TScriptedPeer::TGuardedScript::operator=(TScript script)
{
    const QMutexLocker lock(&FMutex);
    FScript = std::move(script);
    return *this;
}

TScriptedPeer::TScript TScriptedPeer::TGuardedScript::Get() const
{
    const QMutexLocker lock(&FMutex);
    return FScript;
}

TScriptedPeer::TScriptedPeer() : FSocket(new QUdpSocket)
{
    FSocket->moveToThread(&FThread);
    QObject::connect(FSocket, &QUdpSocket::readyRead, FSocket, [this] { Receive(); });
    QObject::connect(&FThread, &QThread::finished, FSocket, &QObject::deleteLater);
    FThread.start();
}

TScriptedPeer::~TScriptedPeer()
{
    FThread.quit();
    FThread.wait();
}

void TScriptedPeer::OnPeerThread(const std::function<void()>& work) const
{
    if (QThread::currentThread() == &FThread)
        work();
    else
        QMetaObject::invokeMethod(FSocket, work, Qt::BlockingQueuedConnection);
}

void TScriptedPeer::Receive()
{
    while (FSocket->hasPendingDatagrams()) {
        const QNetworkDatagram datagram = FSocket->receiveDatagram();
        int index = 0;
        {
            const QMutexLocker lock(&FMutex);
            index = int(FFrames.size());
            FFrames.append(datagram.data());
            FSenderPorts.append(datagram.senderPort());
        }
        const TScript script = Script.Get();
        if (!script)
            continue;
        for (const QByteArray& reply : script(index, datagram.data()))
            FSocket->writeDatagram(reply, datagram.senderAddress(), quint16(datagram.senderPort()));
    }
}

bool TScriptedPeer::Start(const QString& address)
{
    const QHostAddress host(address);
    bool bound = false;
    OnPeerThread([&] { bound = host.isLoopback() && FSocket->bind(host, 0); });
    return bound;
}

int TScriptedPeer::Port() const
{
    int port = 0;
    OnPeerThread([&] { port = FSocket->localPort(); });
    return port;
}

void TScriptedPeer::Send(const QByteArray& datagram, int port)
{
    OnPeerThread([&] { FSocket->writeDatagram(datagram, QHostAddress::LocalHost, quint16(port)); });
}

void TScriptedPeer::SendLater(int milliseconds, const QByteArray& datagram, int port)
{
    OnPeerThread([this, milliseconds, datagram, port] {
        QTimer::singleShot(milliseconds, FSocket, [this, datagram, port] {
            FSocket->writeDatagram(datagram, QHostAddress::LocalHost, quint16(port));
        });
    });
}

QList<QByteArray> TScriptedPeer::Frames() const
{
    const QMutexLocker lock(&FMutex);
    return FFrames;
}

QList<int> TScriptedPeer::SenderPorts() const
{
    const QMutexLocker lock(&FMutex);
    return FSenderPorts;
}
