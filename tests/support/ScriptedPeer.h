// ScriptedPeer: a controller stand-in on a loopback address, for the link's tests where a
// hand-made datagram shows a case better than the simulator. It answers from a thread of its
// own, as a controller answers while the link blocks on its socket. Its script answers each
// frame the peer receives, on the peer's thread; Send reaches any port of 127.0.0.1, for a
// reply the link no longer waits for, and SendLater does so after a while, as a slow unit.
#pragma once

#include <QByteArray>
#include <QList>
#include <QMutex>
#include <QString>
#include <QThread>

#include <functional>

class QUdpSocket;

class TScriptedPeer {
public:
    // Gets the index-th frame received (from 0); each datagram it gives goes back to the
    // frame's sender. Without a script, or when it gives none, the peer stays silent.
    using TScript = std::function<QList<QByteArray>(int index, const QByteArray& frame)>;

    // The script, set from the test's thread while the peer may be answering.
    class TGuardedScript {
    public:
        TGuardedScript& operator=(TScript script);
        TScript Get() const;

    private:
        mutable QMutex FMutex;
        TScript FScript;
    };

    TScriptedPeer();
    ~TScriptedPeer();
    TScriptedPeer(const TScriptedPeer&) = delete;
    TScriptedPeer& operator=(const TScriptedPeer&) = delete;

    // Binds to a free port of address; false when that fails or address is no loopback one.
    bool Start(const QString& address);
    int Port() const;
    // From any thread, the script's included.
    void Send(const QByteArray& datagram, int port);
    void SendLater(int milliseconds, const QByteArray& datagram, int port);

    TGuardedScript Script;
    QList<QByteArray> Frames() const;   // every frame received, in order
    QList<int> SenderPorts() const;     // the port each frame came from

private:
    // Runs work on the peer's thread and returns when it is done.
    void OnPeerThread(const std::function<void()>& work) const;
    void Receive();

    QThread FThread;
    QUdpSocket* FSocket;   // lives on FThread
    mutable QMutex FMutex;
    QList<QByteArray> FFrames;
    QList<int> FSenderPorts;
};
