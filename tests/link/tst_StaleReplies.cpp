// The link against a scripted peer on loopback: a reply meant for an earlier send (late
// after a time-out, or repeated) must not be taken as the answer to the next request, and a
// request's own answer counts even when the wall clock was set back while it waited.
#include "uCommunication.h"

#include "LoopbackAdapter.h"
#include "OrvelSimulator.h"
#include "ScriptedPeer.h"
#include "TestPrinters.h"
#include "uABus.h"

#include <gtest/gtest.h>

#include <atomic>
#include <functional>

#include <time.h>

namespace {

using ::PrintTo;   // table rows print as their names

constexpr uint32_t ControllerNad = 1001;
constexpr uint8_t Refused = 5;
const QString PeerAddress = QStringLiteral("127.0.0.200");

QByteArray Reply(uint8_t code)
{
    return BuildReplyFrame(ControllerNad, HostNad, code);
}

struct TStaleCase {
    const char* Name;
    // Runs for the index-th frame the peer receives; answers with Send, to any port the peer
    // has heard from.
    std::function<void(TScriptedPeer& peer, int index)> Script;
    // Runs between the first request and the second.
    std::function<void(TScriptedPeer& peer, TCommunicator& link)> Between;
};

class StaleReplies : public testing::TestWithParam<TStaleCase> {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(Link.SelectAdapter(LoopbackAdapterName));
        ASSERT_EQ(Link.LocalIP, QStringLiteral("127.0.0.1"));
        ASSERT_TRUE(Peer.Start(PeerAddress));
        Peer.Script = [this](int index, const QByteArray&) {
            GetParam().Script(Peer, index);
            return QList<QByteArray>();
        };
        Link.SetNad(int32_t(ControllerNad));
        Link.TargetIP = PeerAddress;
        Link.ControllerPort = Peer.Port();
        Link.RequestTimeout = 50;
        Link.Timeout = Link.RequestTimeout;
        Link.Attempts = 2;
    }

    TLoopbackAdapter Loopback;   // the only adapter the link can see
    TCommunicator Link;
    TScriptedPeer Peer;
};

TEST_P(StaleReplies, AreNotTakenForTheNextRequest)
{
    ASSERT_TRUE(Link.SendPing());
    if (GetParam().Between)
        GetParam().Between(Peer, Link);

    // The peer refuses the second request; an acknowledgement of the first must not pass
    // for its answer.
    EXPECT_FALSE(Link.SendPing());
    EXPECT_EQ(Link.ReplyCode, Refused);
}

INSTANTIATE_TEST_SUITE_P(Link, StaleReplies,
                         testing::Values(
                             // The first attempt goes unanswered, the second is acknowledged. The first
                             // attempt's acknowledgement comes in while the next request waits, and that
                             // request's own answer only to its resend.
                             TStaleCase{"late_reply_to_a_first_attempt",
                                        [](TScriptedPeer& peer, int index) {
                                            if (index == 1)
                                                peer.Send(Reply(1), peer.SenderPorts()[1]);
                                            if (index == 2)
                                                peer.Send(Reply(1), peer.SenderPorts()[0]);
                                            if (index >= 3)
                                                peer.Send(Reply(Refused), peer.SenderPorts()[index]);
                                        },
                                        {}},
                             // A repeat of the acknowledgement arrives after the first request has ended.
                             TStaleCase{"repeat_arrived_between_requests",
                                        [](TScriptedPeer& peer, int index) {
                                            peer.Send(Reply(index == 0 ? 1 : Refused), peer.SenderPorts()[index]);
                                        },
                                        [](TScriptedPeer& peer, TCommunicator& link) {
                                            peer.Send(Reply(1), link.BoundPort);
                                        }},
                             // The acknowledgement comes twice, the repeat only once the next request
                             // waits (a unit on its own thread, a network that repeats), and before
                             // that request's own answer.
                             TStaleCase{"repeat_arrives_while_the_next_request_waits",
                                        [](TScriptedPeer& peer, int index) {
                                            const int port = peer.SenderPorts()[index];
                                            if (index == 0) {
                                                peer.Send(Reply(1), port);
                                                peer.SendLater(10, Reply(1), port);
                                            } else {
                                                peer.SendLater(30, Reply(Refused), port);
                                            }
                                        },
                                        {}},
                             // A repeat of the acknowledgement arrives between requests, and a request
                             // answered in time passes before the next one asks from the port it reached.
                             TStaleCase{"repeat_waits_at_the_port_that_asks_after_the_next",
                                        [](TScriptedPeer& peer, int index) {
                                            peer.Send(Reply(index <= 1 ? 1 : Refused), peer.SenderPorts()[index]);
                                        },
                                        [](TScriptedPeer& peer, TCommunicator& link) {
                                            peer.Send(Reply(1), link.BoundPort);
                                            EXPECT_TRUE(link.SendPing());
                                        }}),
                         [](const auto& info) { return std::string(info.param.Name); });

// The wall clock set back (by the operator, or a time service that steps it) while a request
// waits: the answer arrives stamped before the request started on the clock as it was then,
// and is this request's answer all the same.
TEST(WallClockSetBack, DuringAWaitLosesNoReply)
{
    TLoopbackAdapter loopback;
    TCommunicator link;
    TScriptedPeer peer;
    ASSERT_TRUE(link.SelectAdapter(LoopbackAdapterName));
    ASSERT_TRUE(peer.Start(PeerAddress));
    std::atomic<int64_t> ahead{int64_t(3600) * 1000000000};   // set back by an hour at the second frame
    link.WallClock = [&ahead] {
        timespec wall{};
        ::clock_gettime(CLOCK_REALTIME, &wall);
        return int64_t(wall.tv_sec) * 1000000000 + wall.tv_nsec + ahead.load();
    };
    peer.Script = [&ahead](int index, const QByteArray&) {
        if (index == 1)
            ahead = 0;
        return QList<QByteArray>{Reply(1)};
    };
    link.SetNad(int32_t(ControllerNad));
    link.TargetIP = PeerAddress;
    link.ControllerPort = peer.Port();
    link.RequestTimeout = 50;
    link.Timeout = link.RequestTimeout;
    link.Attempts = 2;

    ASSERT_TRUE(link.SendPing());
    EXPECT_TRUE(link.SendPing()) << "the answer after the clock was set back was dropped";
    EXPECT_TRUE(link.SendPing());
}

}   // namespace
