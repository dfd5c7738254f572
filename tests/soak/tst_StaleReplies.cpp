// The link against a scripted peer on loopback: a reply meant for an earlier send (late
// after a time-out, or repeated) must not be taken as the answer to the next request.
#include "uCommunication.h"

#include "OrvelSimulator.h"
#include "uABus.h"
#include "uEthernetUtils.h"

#include <QNetworkDatagram>
#include <QUdpSocket>

#include <gtest/gtest.h>

#include <functional>

namespace {

constexpr uint32_t ControllerNad = 1001;
constexpr uint8_t Refused = 5;
const QString PeerAddress = QStringLiteral("127.0.0.200");

QByteArray Reply(uint8_t code)
{
    return BuildReplyFrame(ControllerNad, HostNad, code);
}

// A controller stand-in: hands every frame it receives, with the port it came from, to
// Script, which may answer to any port.
class TScriptedPeer {
public:
    using TScript = std::function<void(TScriptedPeer& peer, int index)>;

    TScriptedPeer()
    {
        QObject::connect(&Socket, &QUdpSocket::readyRead, [this] {
            while (Socket.hasPendingDatagrams()) {
                const QNetworkDatagram datagram = Socket.receiveDatagram();
                SenderPorts.append(datagram.senderPort());
                Script(*this, int(SenderPorts.size()) - 1);
            }
        });
    }
    void Send(const QByteArray& datagram, int port)
    {
        Socket.writeDatagram(datagram, QHostAddress::LocalHost, quint16(port));
    }

    QUdpSocket Socket;
    QList<int> SenderPorts;
    TScript Script;
};

struct TStaleCase {
    const char* Name;
    TScriptedPeer::TScript Script;
    // Runs between the first request and the second, without the event loop.
    std::function<void(TScriptedPeer& peer, TCommunicator& link)> Between;
};

void PrintTo(const TStaleCase& c, std::ostream* out)
{
    *out << c.Name;
}

class StaleReplies : public testing::TestWithParam<TStaleCase> {
protected:
    void SetUp() override
    {
        // The only adapter the link can see is loopback.
        SetAdapterTableReader([] {
            return QList<TPlatformAdapter>{{QStringLiteral("lo"), QStringLiteral("loopback"),
                                            QStringLiteral("127.0.0.1"), QStringLiteral("255.0.0.0"), QString()}};
        });
        ASSERT_TRUE(Link.SelectAdapter(QStringLiteral("lo")));
        ASSERT_EQ(Link.LocalIP, QStringLiteral("127.0.0.1"));
        ASSERT_TRUE(Peer.Socket.bind(QHostAddress(PeerAddress), 0));
        Link.SetNad(int32_t(ControllerNad));
        Link.TargetIP = PeerAddress;
        Link.ControllerPort = Peer.Socket.localPort();
        Link.RequestTimeout = 50;
        Link.Timeout = Link.RequestTimeout;
        Link.Attempts = 2;
    }
    void TearDown() override { SetAdapterTableReader({}); }

    TCommunicator Link;
    TScriptedPeer Peer;
};

TEST_P(StaleReplies, AreNotTakenForTheNextRequest)
{
    Peer.Script = GetParam().Script;
    ASSERT_TRUE(Link.SendPing());
    if (GetParam().Between)
        GetParam().Between(Peer, Link);

    // The peer refuses the second request; an acknowledgement of the first must not pass
    // for its answer.
    EXPECT_FALSE(Link.SendPing());
    EXPECT_EQ(Link.ReplyCode, Refused);
}

INSTANTIATE_TEST_SUITE_P(
    Link, StaleReplies,
    testing::Values(
        // The first attempt goes unanswered, the second is acknowledged. The first
        // attempt's acknowledgement comes in while the next request waits, and that
        // request's own answer only to its resend.
        TStaleCase{"late_reply_to_a_first_attempt",
                   [](TScriptedPeer& peer, int index) {
                       if (index == 1)
                           peer.Send(Reply(1), peer.SenderPorts[1]);
                       if (index == 2)
                           peer.Send(Reply(1), peer.SenderPorts[0]);
                       if (index >= 3)
                           peer.Send(Reply(Refused), peer.SenderPorts[index]);
                   },
                   {}},
        // A repeat of the acknowledgement arrives after the first request has ended.
        TStaleCase{"repeat_arrived_between_requests",
                   [](TScriptedPeer& peer, int index) {
                       peer.Send(Reply(index == 0 ? 1 : Refused), peer.SenderPorts[index]);
                   },
                   [](TScriptedPeer& peer, TCommunicator& link) { peer.Send(Reply(1), link.BoundPort); }}),
    [](const auto& info) { return std::string(info.param.Name); });

}  // namespace
