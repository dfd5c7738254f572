// Controller link and commands over real loopback UDP: against the in-process controller
// simulator, or against a scripted peer where a hand-made datagram shows the case better.
// The link is bound to a made-up loopback adapter ("lo", 127.0.0.1/255.0.0.0), so every
// request goes to 127.x only; nothing here sends in direct-connection mode.
#include "uCommunication.h"

#include "LoopbackAdapter.h"
#include "SimulatorThread.h"
#include "ScriptedPeer.h"
#include "TestPrinters.h"
#include "TraceFile.h"
#include "uABus.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QUdpSocket>
#include <QElapsedTimer>
#include <QtEndian>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <thread>
#include <utility>

namespace {

// The host as far as every link in this program can tell, fixture or not: one loopback
// adapter. A link reads the adapter table as soon as it is made.
const TLoopbackAdapter Loopback;

constexpr uint32_t ControllerNad = 1001;
const QString LoopbackBroadcast = QStringLiteral("127.255.255.255");
const QString PeerAddress = QStringLiteral("127.0.0.200");

using ::PrintTo;   // table rows print as their names

auto CaseName = [](const auto& info) { return std::string(info.param.Name); };

QByteArray Bytes(std::initializer_list<uint8_t> values)
{
    QByteArray bytes;
    for (uint8_t v : values)
        bytes.append(char(v));
    return bytes;
}

QByteArray Pattern(int size)
{
    QByteArray bytes(size, '\0');
    for (int i = 0; i < size; ++i)
        bytes[i] = char(i * 7 + 3);
    return bytes;
}

QByteArray Acknowledgement(const QByteArray& data = {})
{
    return BuildReplyFrame(ControllerNad, HostNad, 1, data);
}

QByteArray Corrupted(QByteArray frame)
{
    frame.back() = char(frame.back() ^ 0x5A);
    return frame;
}

QByteArray WithBodyLength(QByteArray frame, uint16_t length)
{
    qToLittleEndian<uint16_t>(length, frame.data() + 2);
    return frame;
}

uint8_t CommandOf(const QByteArray& frame)
{
    return uint8_t(frame.at(14));
}

// (block, count) of a ReadBlock or WriteBlock frame.
std::pair<int, int> BlockOf(const QByteArray& frame)
{
    const auto* p = reinterpret_cast<const uint8_t*>(frame.constData());
    return {qFromLittleEndian<uint16_t>(p + 15), qFromLittleEndian<uint16_t>(p + 17)};
}

using Pairs = QList<std::pair<int, int>>;

Pairs BlocksOf(const QList<QByteArray>& frames)
{
    Pairs blocks;
    for (const QByteArray& frame : frames) {
        if (CommandOf(frame) == CmdReadBlock || CommandOf(frame) == CmdWriteBlock)
            blocks.append(BlockOf(frame));
    }
    return blocks;
}

// Acknowledges everything; a ReadBlock gets as many bytes as it asks for.
QList<QByteArray> AcknowledgeAll(int, const QByteArray& frame)
{
    if (CommandOf(frame) == CmdReadBlock)
        return {Acknowledgement(QByteArray(BlockOf(frame).second, char(0x5A)))};
    return {Acknowledgement()};
}

TSimFaults DropNext(int count)
{
    TSimFaults faults;
    faults.DropNext = count;
    return faults;
}

// ---- fixtures ----

class Link : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(link.SelectAdapter(LoopbackAdapterName));
        // Everything below relies on the link sending to loopback only.
        ASSERT_EQ(link.LocalIP, QStringLiteral("127.0.0.1"));
        ASSERT_EQ(link.Adapter.Broadcast, LoopbackBroadcast);
        link.SetNad(int32_t(ControllerNad));
    }

    TCommunicator link;
};

// The link talks unicast to a scripted peer, which acknowledges everything unless a test
// gives it another script.
class LinkToPeer : public Link {
protected:
    void SetUp() override
    {
        Link::SetUp();
        ASSERT_TRUE(peer.Start(PeerAddress));
        peer.Script = [](int, const QByteArray&) { return QList<QByteArray>{Acknowledgement()}; };
        link.ControllerPort = peer.Port();
        link.TargetIP = PeerAddress;
    }

    TScriptedPeer peer;
};

// The link talks to simulated controllers, by broadcast until a ping fixes the address.
class LinkToSimulator : public Link {
protected:
    void StartSimulator(const QList<uint32_t>& serials = {ControllerNad})
    {
        for (uint32_t serial : serials) {
            TSimControllerConfig config;
            config.Serial = serial;
            sim.AddController(config);
        }
        QString error;
        ASSERT_TRUE(sim.Start(0, &error)) << error.toStdString();
        link.ControllerPort = sim.Port();
    }
    TSimulatorThread::TUnit Controller(int index = 0) const { return sim.Unit(index); }

    // The units answer from a thread of their own while the link blocks this one.
    TSimulatorThread sim;
};

// ---- the request cycle ----

struct FaultCase {
    const char* Name;
    std::function<void(TSimFaults&)> faults;
    uint32_t timeout;
    bool ok;
    int sends;
    uint8_t replyCode;
    TRejection rejection;   // of the last attempt's wait
};

class RequestCycle : public LinkToSimulator, public testing::WithParamInterface<FaultCase> {};

TEST_P(RequestCycle, AttemptsAndOutcome)
{
    const FaultCase& c = GetParam();
    StartSimulator();
    TSimFaults faults;
    c.faults(faults);
    Controller().SetFaults(faults);
    link.Timeout = c.timeout;

    EXPECT_EQ(link.SendPing(), c.ok);
    EXPECT_EQ(Controller().CommandCounts().value(CmdPing), c.sends);
    EXPECT_EQ(link.ReplyCode, c.replyCode);
    EXPECT_EQ(link.LastRejection, c.rejection);
    EXPECT_EQ(link.Timeout, TCommunicator::DefaultTimeout);
    EXPECT_EQ(link.ReceptionState(), TCommunicator::StateIdle);
}

INSTANTIATE_TEST_SUITE_P(
    Link, RequestCycle,
    testing::Values(
        FaultCase{"Silent", [](TSimFaults& f) { f.DropNext = 100; }, 20, false, 8, 0, TRejection::TimeOut},
        // Were the wait to go on after an error reply, this would take 8 x 5 s.
        FaultCase{"ErrorCodeEndsEachWait", [](TSimFaults& f) { f.ReplyCodeFor[CmdPing] = 5; }, 5000, false, 8, 5,
                  TRejection::ErrorCode},
        FaultCase{"SplitOverTwoDatagrams", [](TSimFaults& f) { f.SplitReplies = true; }, 1000, true, 1, 1,
                  TRejection::None},
        FaultCase{"NoiseBeforeFrame", [](TSimFaults& f) { f.NoiseBytes = 7; }, 1000, true, 1, 1, TRejection::Noise},
        FaultCase{"CorruptThenGood", [](TSimFaults& f) { f.CorruptNext = 1; }, 300, true, 2, 1, TRejection::None},
        // The wait that got only a bad frame ends by time-out; the frame keeps its reason.
        FaultCase{"CorruptEveryReply", [](TSimFaults& f) { f.CorruptShare = 1; }, 300, false, 8, 0,
                  TRejection::BadChecksum},
        FaultCase{"LateReply",
                  [](TSimFaults& f) {
                      f.DelayMs = 700;
                      f.DelayNext = 1;
                  },
                  300, true, 2, 1, TRejection::None},
        // A controller slower than the time-out: every attempt sends the same frame, so the
        // first attempt's late answer ends the second attempt's wait.
        FaultCase{"EveryReplyBetweenOneAndTwoTimeoutsLate", [](TSimFaults& f) { f.DelayMs = 300; }, 200, true, 2, 1,
                  TRejection::None},
        FaultCase{"EveryReplyAfterThreeTimeouts", [](TSimFaults& f) { f.DelayMs = 700; }, 200, true, 4, 1,
                  TRejection::None}),
    CaseName);

// Hand-made datagrams for the first attempt; later attempts get a good reply.
struct ReceptionCase {
    const char* Name;
    QList<QByteArray> firstAnswer;
    int sends;
    TRejection rejection;   // of the wait that ended with the good reply
};

class Reception : public LinkToPeer, public testing::WithParamInterface<ReceptionCase> {};

TEST_P(Reception, FirstAttemptAnsweredWith)
{
    peer.Script = [first = GetParam().firstAnswer](int index, const QByteArray&) {
        return index == 0 ? first : QList<QByteArray>{Acknowledgement()};
    };
    link.Timeout = 300;   // long enough for the next attempt's reply on a busy machine

    EXPECT_TRUE(link.SendPing());
    EXPECT_EQ(peer.Frames().size(), GetParam().sends);
    EXPECT_EQ(link.LastFrame(), BytesToHex(Acknowledgement()));
    EXPECT_EQ(link.LastRejection, GetParam().rejection);
}

INSTANTIATE_TEST_SUITE_P(
    Link, Reception,
    testing::Values(
        // A complete frame that fails is dropped at once: the good one behind it is the answer.
        ReceptionCase{"CorruptFrameThenGoodDatagram",
                      {Corrupted(Acknowledgement()), Acknowledgement()},
                      1,
                      TRejection::BadChecksum},
        ReceptionCase{"BadBodyLengthThenGoodDatagram",
                      {WithBodyLength(Acknowledgement(), 1025), Acknowledgement()},
                      1,
                      TRejection::BadLength},
        // The rest of a frame cut short never comes; the next frame completes its length,
        // fails its checksum, and is found again behind the cut frame's start.
        ReceptionCase{"CutFrameThenGoodDatagram",
                      {Acknowledgement(Pattern(4)).left(10), Acknowledgement()},
                      1,
                      TRejection::BadChecksum},
        // The 3 noise bytes read FAA55F: the hex text holds AA55 across a byte boundary.
        ReceptionCase{
            "FrameStartAcrossBytesBeforeFrame", {Bytes({0xFA, 0xA5, 0x5F}) + Acknowledgement()}, 1, TRejection::Noise},
        ReceptionCase{
            "FrameStartAcrossBytesAlone", {Bytes({0x0A, 0xA5, 0x50}), Acknowledgement()}, 1, TRejection::Noise},
        ReceptionCase{
            "DatagramFillingReceiveBuffer", {Acknowledgement().leftJustified(2048, '\x11')}, 1, TRejection::None},
        // Rejected in the first attempt's wait; the second attempt's wait starts clean.
        ReceptionCase{"OversizeDatagramDropped", {Acknowledgement().leftJustified(3000, '\x11')}, 2, TRejection::None}),
    CaseName);

// A wait that no reply ends says why: nothing came, or what came had its own reason.
struct UnansweredCase {
    const char* Name;
    QList<QByteArray> answer;
    TRejection rejection;
};

class Unanswered : public LinkToPeer, public testing::WithParamInterface<UnansweredCase> {};

TEST_P(Unanswered, WaitEndsWithItsReason)
{
    peer.Script = [answer = GetParam().answer](int, const QByteArray&) { return answer; };
    link.Attempts = 1;
    link.Timeout = 300;   // long enough for the answer to arrive on a busy machine

    EXPECT_FALSE(link.SendPing());
    EXPECT_EQ(link.LastRejection, GetParam().rejection);
    EXPECT_EQ(link.ReceptionState(), TCommunicator::StateIdle);
}

INSTANTIATE_TEST_SUITE_P(
    Link, Unanswered,
    testing::Values(UnansweredCase{"Nothing", {}, TRejection::TimeOut},
                    UnansweredCase{"FirstPartOnly", {Acknowledgement().left(10)}, TRejection::Incomplete},
                    UnansweredCase{"NoiseOnly", {Bytes({1, 2, 3})}, TRejection::Noise}),
    CaseName);

// ---- reception, datagram by datagram, straight into the handler (nothing is sent) ----

struct ReasonCase {
    const char* Name;
    bool waiting;   // as WaitForReply leaves the link; else Idle
    QList<QByteArray> datagrams;
    TRejection rejection;
    uint8_t state;
    QByteArray taken;   // the frame the link took; empty: none
};

class ReceptionReason : public testing::TestWithParam<ReasonCase> {};

TEST_P(ReceptionReason, StateRejectionAndFrame)
{
    const ReasonCase& c = GetParam();
    TCommunicator link;
    if (c.waiting)
        link.ExpectReply();
    for (const QByteArray& datagram : c.datagrams)
        link.HandleDatagram(datagram, PeerAddress, 8442, QStringLiteral("127.0.0.1"), 40000);
    EXPECT_EQ(link.LastRejection, c.rejection);
    EXPECT_EQ(int(link.ReceptionState()), int(c.state));
    EXPECT_EQ(link.LastFrame(), BytesToHex(c.taken));
}

constexpr uint8_t Idle = TCommunicator::StateIdle;
constexpr uint8_t Waiting = TCommunicator::StateWaiting;
constexpr uint8_t Receiving = TCommunicator::StateReceiving;

INSTANTIATE_TEST_SUITE_P(
    Link, ReceptionReason,
    testing::Values(
        ReasonCase{"Acknowledged", true, {Acknowledgement()}, TRejection::None, Idle, Acknowledgement()},
        ReasonCase{"NoiseBeforeFrame",
                   true,
                   {Bytes({1, 2, 3}) + Acknowledgement()},
                   TRejection::Noise,
                   Idle,
                   Acknowledgement()},
        ReasonCase{"NoiseAlone", true, {Bytes({1, 2, 3})}, TRejection::Noise, Waiting, {}},
        ReasonCase{"FirstPart", true, {Acknowledgement().left(10)}, TRejection::None, Receiving, {}},
        ReasonCase{"TwoParts",
                   true,
                   {Acknowledgement().left(10), Acknowledgement().mid(10)},
                   TRejection::None,
                   Idle,
                   Acknowledgement()},
        ReasonCase{"BadChecksum", true, {Corrupted(Acknowledgement())}, TRejection::BadChecksum, Waiting, {}},
        ReasonCase{"BadChecksumInTwoParts",
                   true,
                   {Corrupted(Acknowledgement()).left(10), Corrupted(Acknowledgement()).mid(10)},
                   TRejection::BadChecksum,
                   Waiting,
                   {}},
        ReasonCase{"BadChecksumThenFrameInOneDatagram",
                   true,
                   {Corrupted(Acknowledgement()) + Acknowledgement()},
                   TRejection::BadChecksum,
                   Idle,
                   Acknowledgement()},
        ReasonCase{"BadLengthThenFrameInOneDatagram",
                   true,
                   {WithBodyLength(Acknowledgement(), 1) + Acknowledgement()},
                   TRejection::BadLength,
                   Idle,
                   Acknowledgement()},
        ReasonCase{"TooLong", true, {Acknowledgement().leftJustified(2049, '\x11')}, TRejection::TooLong, Waiting, {}},
        // Addressed to another NAD, an acknowledgement still answers the request.
        ReasonCase{"OtherDestination",
                   true,
                   {BuildReplyFrame(ControllerNad, 7, 1)},
                   TRejection::None,
                   Idle,
                   BuildReplyFrame(ControllerNad, 7, 1)},
        ReasonCase{"ErrorCode",
                   true,
                   {BuildReplyFrame(ControllerNad, HostNad, 5)},
                   TRejection::ErrorCode,
                   Idle,
                   BuildReplyFrame(ControllerNad, HostNad, 5)},
        // Behind the answer nothing is looked at.
        ReasonCase{"AfterTheAnswer",
                   true,
                   {Acknowledgement() + Corrupted(Acknowledgement())},
                   TRejection::None,
                   Idle,
                   Acknowledgement()},
        // The window reads a link that is not idle as busy with a request.
        ReasonCase{"IdleFirstPart", false, {Acknowledgement().left(10)}, TRejection::None, Idle, {}},
        ReasonCase{"IdleBadChecksum", false, {Corrupted(Acknowledgement())}, TRejection::BadChecksum, Idle, {}},
        ReasonCase{"IdleNoise", false, {Bytes({1, 2, 3})}, TRejection::Noise, Idle, {}}),
    CaseName);

// ---- destination and addressing (nothing is sent) ----

struct DestinationCase {
    const char* Name;
    bool direct;
    const char* target;
    const char* broadcast;
    const char* expected;
};

class Destination : public testing::TestWithParam<DestinationCase> {};

TEST_P(Destination, Choice)
{
    const DestinationCase& c = GetParam();
    TCommunicator link;
    link.DirectConnection = c.direct;
    link.TargetIP = QString::fromLatin1(c.target);
    link.Adapter.Broadcast = QString::fromLatin1(c.broadcast);
    EXPECT_EQ(link.Destination(), QString::fromLatin1(c.expected));
}

INSTANTIATE_TEST_SUITE_P(
    Link, Destination,
    testing::Values(DestinationCase{"Unicast", false, "10.0.0.7", "10.0.0.255", "10.0.0.7"},
                    DestinationCase{"NoTarget", false, "", "10.0.0.255", "10.0.0.255"},
                    DestinationCase{"TargetZero", false, "0.0.0.0", "10.0.0.255", "10.0.0.255"},
                    DestinationCase{"DirectBeatsTarget", true, "10.0.0.7", "10.0.0.255", "255.255.255.255"},
                    DestinationCase{"DirectWithoutTarget", true, "", "10.0.0.255", "255.255.255.255"},
                    DestinationCase{"BroadcastEmpty", false, "", "", "255.255.255.255"},
                    DestinationCase{"BroadcastInvalid", false, "", "10.0.0.256", "255.255.255.255"},
                    DestinationCase{"BroadcastZero", false, "", "0.0.0.0", "255.255.255.255"}),
    CaseName);

// A pinned link serves one unit of a station: its address wins over every other choice.
TEST(LinkPinned, DestinationIsThePinnedAddressWhateverElseSays)
{
    TCommunicator link;
    link.PinnedIP = QStringLiteral("127.0.0.9");
    for (const bool direct : {false, true}) {
        for (const char* target : {"", "127.0.0.2"}) {
            link.DirectConnection = direct;
            link.TargetIP = QLatin1String(target);
            link.Adapter.Broadcast = QStringLiteral("127.255.255.255");
            EXPECT_EQ(link.Destination(), link.PinnedIP) << direct << target;
        }
    }
}

TEST_F(Link, SetNadClearsTargetOnlyWhenItChanges)
{
    link.TargetIP = QStringLiteral("127.0.0.2");
    link.SetNad(int32_t(ControllerNad));
    EXPECT_EQ(link.TargetIP, QStringLiteral("127.0.0.2"));
    link.SetNad(-1);
    EXPECT_TRUE(link.TargetIP.isEmpty());
    EXPECT_EQ(link.Destination(), LoopbackBroadcast);
}

TEST_F(Link, DirectConnectionBindsPort65535)
{
    link.SetDirectConnection(true);
    EXPECT_EQ(link.BoundPort, TCommunicator::DirectConnectionPort);
    EXPECT_EQ(link.LocalIP, QStringLiteral("127.0.0.1"));
    link.SetDirectConnection(false);
    EXPECT_NE(link.BoundPort, TCommunicator::DirectConnectionPort);
    EXPECT_NE(link.BoundPort, 0);
}

// A closed socket must not send: writing to it would bind it to every adapter first.
TEST_F(LinkToPeer, DisconnectedLinkSendsNothing)
{
    ASSERT_TRUE(link.Disconnect());
    EXPECT_TRUE(link.TargetIP.isEmpty());
    link.TargetIP = PeerAddress;
    link.Attempts = 2;
    link.Timeout = 20;
    EXPECT_FALSE(link.SendPing());
    EXPECT_TRUE(peer.Frames().isEmpty());
    EXPECT_EQ(link.Bound(), false);
}

TEST_F(LinkToPeer, ReplyDataNeverOverrunsTheBuffer)
{
    uint8_t small[5] = {0, 0, 0, 0xC5, 0xC5};
    EXPECT_EQ(HexToBytes("0102030405", small, 3, false), 3);
    EXPECT_EQ(QByteArray(reinterpret_cast<char*>(small), 5), Bytes({1, 2, 3, 0xC5, 0xC5}));

    peer.Script = [](int, const QByteArray&) { return QList<QByteArray>{Acknowledgement(Pattern(256))}; };
    uint8_t buffer[10];
    std::fill(std::begin(buffer), std::end(buffer), 0xC5);
    EXPECT_FALSE(link.ReadBlock(256, 16, buffer, 8));   // 8 bytes fit, 16 were asked for
    EXPECT_EQ(QByteArray(reinterpret_cast<char*>(buffer), 10), Pattern(8) + Bytes({0xC5, 0xC5}));
}

// One test for the whole trace: parallel tests would share the one file beside the program.
TEST_F(LinkToSimulator, DebugTraceLinesBesideTheProgram)
{
    StartSimulator();
    InstallTraceFile(lcFrames().categoryName(), QStringLiteral("debug.log"));   // as the executables do
    const QString path = QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("debug.log"));
    // The trace keeps its file open: each look takes the lines written since the last one.
    qsizetype seen = 0;
    const auto traceLines = [&path, &seen] {
        QFile file(path);
        const QStringList lines = file.open(QIODevice::ReadOnly | QIODevice::Text)
                                      ? QString::fromLatin1(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts)
                                      : QStringList();
        const QStringList fresh = lines.mid(seen);
        seen = lines.size();
        return fresh;
    };
    QFile::remove(path);
    link.DebugTrace = true;
    ASSERT_TRUE(link.SendPing());

    const QStringList lines = traceLines();
    ASSERT_EQ(lines.size(), 2);
    const QString stamp = QStringLiteral(R"(^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} )");
    EXPECT_TRUE(
        QRegularExpression(stamp + QStringLiteral("TX:AA55050001000000E9030000000010")).match(lines[0]).hasMatch())
        << lines[0].toStdString();
    EXPECT_TRUE(QRegularExpression(stamp + QStringLiteral("RX:AA550200E9030000010000000100[0-9A-F]{4}$"))
                    .match(lines[1])
                    .hasMatch())
        << lines[1].toStdString();

    // The simulator's noise and corrupt faults: each rejection is one line with its reason.
    // The first attempt's bad frame is dropped and its wait runs out; the second is answered.
    TSimFaults faults;
    faults.NoiseBytes = 3;
    faults.CorruptNext = 1;
    Controller().SetFaults(faults);
    link.Timeout = 300;
    ASSERT_TRUE(link.SendPing());
    link.DebugTrace = false;

    QStringList entries;   // the lines without their time stamps and frames
    for (const QString& line : traceLines()) {
        const QString entry = line.section(QLatin1Char(' '), 2);
        entries << (entry.startsWith(QStringLiteral("RJ:")) ? entry : entry.left(3));
    }
    EXPECT_EQ(entries, (QStringList{"TX:", "RX:", "RJ:noise", "RJ:bad checksum", "TX:", "RX:", "RJ:noise"}));
    QFile::remove(path);
}

// ---- commands ----

TEST_F(LinkToSimulator, DiscoveryCollectsEveryControllerAndRestoresAddressing)
{
    StartSimulator({ControllerNad, 1002, NoSerialNumber});
    link.TargetIP = QStringLiteral("127.0.0.2");
    link.Attempts = 3;
    QStringList nads, ips;
    EXPECT_FALSE(link.Discover(nullptr, &ips, 200));

    ASSERT_TRUE(link.Discover(&nads, &ips, 200));
    ASSERT_EQ(nads.size(), 3);
    ASSERT_EQ(ips.size(), 3);
    QStringList pairs;
    for (int i = 0; i < 3; ++i)
        pairs << nads[i] + QLatin1Char('@') + ips[i];
    pairs.sort();
    EXPECT_EQ(pairs, (QStringList{"1001@127.0.0.2", "1002@127.0.0.3", "4294967295@127.0.0.4"}));
    EXPECT_EQ(link.Nad, int32_t(ControllerNad));
    EXPECT_EQ(link.TargetIP, QStringLiteral("127.0.0.2"));
    EXPECT_EQ(link.Attempts, TCommunicator::DefaultAttempts);
    EXPECT_EQ(link.Timeout, TCommunicator::DefaultTimeout);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(Controller(i).CommandCounts().value(CmdPing), 1) << i;   // one broadcast ping
}

// Two controllers answer to NAD 1001 (the second by its alias): after the ping, only the
// one that answered hears the next request.
TEST_F(LinkToSimulator, PingFixesUnicastAddress)
{
    TSimControllerConfig config;
    config.Serial = ControllerNad;
    sim.AddController(config);
    config.Serial = 2002;
    config.NadAlias = ControllerNad;
    sim.AddController(config);
    ASSERT_TRUE(sim.Start());
    link.ControllerPort = sim.Port();

    ASSERT_TRUE(link.Ping());
    EXPECT_EQ(Controller(0).CommandCounts().value(CmdPing), 1);
    EXPECT_EQ(Controller(1).CommandCounts().value(CmdPing), 1);
    const int chosen = link.TargetIP == Controller(0).Address() ? 0 : 1;
    ASSERT_EQ(link.TargetIP, Controller(chosen).Address());

    ASSERT_TRUE(link.StopPlc());
    EXPECT_EQ(Controller(chosen).CommandCounts().value(CmdStopPlc), 1);
    EXPECT_EQ(Controller(1 - chosen).CommandCounts().value(CmdStopPlc), 0);
}

struct TransferCase {
    const char* Name;
    bool write;
    uint32_t address;
    uint32_t length;
    Pairs blocks;     // (block, count) of each ReadBlock / WriteBlock sent
    Pairs progress;   // (position, maximum) of each OnProgress call
};

class Transfer : public LinkToSimulator, public testing::WithParamInterface<TransferCase> {};

TEST_P(Transfer, BlocksAndProgress)
{
    const TransferCase& c = GetParam();
    StartSimulator();
    Pairs progress;
    link.OnProgress = [&](int position, int maximum) { progress.append({position, maximum}); };
    const QByteArray data = Pattern(int(c.length));

    if (c.write) {
        EXPECT_TRUE(link.WriteMemory(c.address, data));
        EXPECT_EQ(Controller().Memory(c.address, c.length), data);
    } else {
        Controller().SetMemory(c.address & ~0xFFu, Pattern(1024));
        const QByteArray expected = Controller().Memory(c.address, c.length);
        QByteArray stream("left over");
        EXPECT_TRUE(link.ReadMemory(c.address, c.length, &stream));
        EXPECT_EQ(stream, expected);
    }
    EXPECT_EQ(BlocksOf(Controller().ReceivedFrames()), c.blocks);
    EXPECT_EQ(progress, c.progress);
}

INSTANTIATE_TEST_SUITE_P(
    Link, Transfer,
    testing::Values(
        TransferCase{"Write300", true, ProgramAddress, 300, {{512, 256}, {513, 44}}, {{150, 300}, {300, 300}}},
        TransferCase{"Write512", true, ProgramAddress, 512, {{512, 256}, {513, 256}}, {{256, 512}, {512, 512}}},
        TransferCase{"WriteEmpty", true, ProgramAddress, 0, {}, {}},
        TransferCase{"ReadKernelHeader", false, 0x10120, 88, {{257, 120}}, {{88, 88}}},
        TransferCase{
            "Read512", false, KernelAddress, 512, {{256, 256}, {257, 256}}, {{171, 512}, {341, 512}, {512, 512}}},
        TransferCase{"ReadNothing", false, KernelAddress, 0, {}, {{0, 0}}}),
    CaseName);

// Block numbers are 16-bit: a transfer that would run past block 65535 is refused
// before anything is sent, instead of wrapping round to block 0.
struct BlockLimitCase {
    const char* Name;
    bool write;
    uint32_t address;
    uint32_t length;
    bool ok;
    Pairs blocks;
};

class BlockLimit : public LinkToPeer, public testing::WithParamInterface<BlockLimitCase> {};

TEST_P(BlockLimit, Transfer)
{
    const BlockLimitCase& c = GetParam();
    peer.Script = AcknowledgeAll;
    QByteArray stream;
    const bool ok = c.write ? link.WriteMemory(c.address, Pattern(int(c.length)))
                            : link.ReadMemory(c.address, c.length, &stream);
    EXPECT_EQ(ok, c.ok);
    EXPECT_EQ(BlocksOf(peer.Frames()), c.blocks);
}

INSTANTIATE_TEST_SUITE_P(
    Link, BlockLimit,
    testing::Values(BlockLimitCase{"WriteLastBlock", true, 0xFFFF00, 256, true, {{65535, 256}}},
                    BlockLimitCase{"WritePastLastBlock", true, 0xFFFF00, 257, false, {}},
                    BlockLimitCase{"WriteBeyondBlocks", true, 0x1000000, 1, false, {}},
                    BlockLimitCase{"WriteNothingBeyondBlocks", true, 0x1000000, 0, true, {}},
                    BlockLimitCase{"ReadLastBlock", false, 0xFFFF00, 256, true, {{65535, 256}}},
                    BlockLimitCase{"ReadPastLastBlock", false, 0xFFFF00, 257, false, {}},
                    BlockLimitCase{"ReadFromTopOfAddressSpace", false, 0xFFFFFF00, 0x200, false, {}}),
    CaseName);

TEST_F(LinkToPeer, ReadStatusChecksEachByte)
{
    const struct {
        QByteArray data;
        bool ok;
        uint8_t mode, state;
    } cases[] = {
        {Bytes({1, 5}), true, 1, 5},
        {Bytes({3, 5}), false, 0xEE, 5},
        {Bytes({1, 9}), false, 1, 0xEE},
        {Bytes({1}), false, 0xEE, 0xEE},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.data.toHex(' ').toStdString());
        peer.Script = [&](int, const QByteArray&) { return QList<QByteArray>{Acknowledgement(c.data)}; };
        uint8_t mode = 0xEE, state = 0xEE;
        EXPECT_EQ(link.ReadStatus(mode, state), c.ok);
        EXPECT_EQ(mode, c.mode);
        EXPECT_EQ(state, c.state);
    }
}

TEST_F(LinkToPeer, ReadLoaderRecordPadsShortData)
{
    const TLoaderRecord untouched{.LoaderMajor = 0xEEEE};
    const struct {
        int size;
        bool ok;
        QByteArray record;
    } cases[] = {
        {24, true, Pattern(24)},
        {10, true, Pattern(10) + QByteArray(14, '\0')},
        {3, false, LoaderRecordToBytes(untouched)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.size);
        peer.Script = [&](int, const QByteArray&) { return QList<QByteArray>{Acknowledgement(Pattern(c.size))}; };
        TLoaderRecord record = untouched;
        EXPECT_EQ(link.ReadLoaderRecord(record), c.ok);
        EXPECT_EQ(LoaderRecordToBytes(record), c.record);
        EXPECT_TRUE(link.ReplyData().isEmpty());
    }
}

// The unit answers the erase after 1.5 s: within the erase's own wait, so one send does.
TEST_F(LinkToSimulator, EraseWaitsTenSecondsForThatRequestOnly)
{
    StartSimulator();
    TSimFaults slow;
    slow.DelayMs = 1500;
    Controller().SetFaults(slow);
    EXPECT_TRUE(link.EraseFlash(2, 1));
    EXPECT_EQ(link.Timeout, TCommunicator::DefaultTimeout);
    ASSERT_EQ(Controller().ReceivedFrames().size(), 1);
    EXPECT_EQ(Controller().ReceivedFrames()[0].mid(14, 3), Bytes({CmdEraseFlash, 2, 1}));
}

// Two units answer; the link pinned to the second reaches only it, never broadcasts (not
// even to discover), counts its requests and resends, and sends nothing once stopped.
TEST_F(LinkToSimulator, PinnedLinkTalksToItsUnitOnlyAndStopsOnRequest)
{
    StartSimulator({ControllerNad, ControllerNad + 1});
    link.PinnedIP = Controller(1).Address();
    link.SetNad(int32_t(ControllerNad + 1));
    TSimFaults once;
    once.DropNext = 1;
    Controller(1).SetFaults(once);
    link.Timeout = 100;
    EXPECT_TRUE(link.SendPing());
    QStringList nads;
    QStringList ips;
    link.Discover(&nads, &ips, 50);
    EXPECT_TRUE(nads.isEmpty());
    EXPECT_EQ(Controller(0).ReceivedFrames().size(), 0);
    EXPECT_EQ(Controller(1).ReceivedFrames().size(), 2);
    EXPECT_EQ(link.RequestsSent(), 1u);
    EXPECT_EQ(link.DatagramsSent(), 2u);

    std::atomic<bool> stop{true};
    link.StopRequested = &stop;
    EXPECT_FALSE(link.SendPing());
    EXPECT_EQ(Controller(1).ReceivedFrames().size(), 2);
}

// An erase that takes 11 s outlasts its 10 s wait; the resend's wait takes its answer.
TEST_F(LinkToSimulator, EraseAnsweredAfterElevenSecondsCompletes)
{
    StartSimulator();
    TSimFaults slow;
    slow.DelayMs = 11000;
    Controller().SetFaults(slow);
    EXPECT_TRUE(link.EraseFlash(2, 1));
    EXPECT_EQ(Controller().CommandCounts().value(CmdEraseFlash), 2);
}

TEST_F(LinkToSimulator, WriteClockSendsTheClockRecord)
{
    StartSimulator();
    const QDateTime sunday(QDate(2026, 3, 1), QTime(14, 7, 33));
    const QByteArray expected = Bytes({0x1A, 0x03, 0x01, 0x00, 0x0E, 0x07, 0x3B});
    EXPECT_EQ(TCommunicator::ClockRecord(sunday), expected);
    EXPECT_EQ(TCommunicator::ClockRecord(sunday.addDays(6)).at(3), 6);   // Saturday
    EXPECT_TRUE(link.WriteClock(sunday));
    EXPECT_EQ(Controller().Clock(), expected);
}

// The length rule itself belongs to the images; here: the link reads header and file table.
TEST_F(LinkToSimulator, StoredProgramLengthReadsTheFileTable)
{
    StartSimulator();
    TProgramHeader header;
    header.Marker = 0;
    header.Kind = ProgramKindXA;
    header.ProgramLength = 0x12345;
    header.FileTableAddress = ProgramAddress + 0x300;
    header.FileCount = 2;
    TProgramFileEntry first, last;
    first.FileAddress = ProgramAddress + 0x1000;
    first.FileLength = 0x800;
    last.FileAddress = ProgramAddress + 12 * 1024;
    last.FileLength = 1024;
    Controller().SetMemory(ProgramAddress, ProgramHeaderToBytes(header));
    Controller().SetMemory(header.FileTableAddress, ProgramFileEntryToBytes(first) + ProgramFileEntryToBytes(last));

    EXPECT_EQ(link.StoredProgramLength(true), 13 * 1024);

    Controller().SetFaults(DropNext(1));
    link.Attempts = 1;
    link.Timeout = 20;
    EXPECT_EQ(link.StoredProgramLength(true), 0);   // the header could not be read
}

TEST(LinkProgress, RoundsHalvesToEven)
{
    TCommunicator link;
    Pairs calls;
    link.ReportProgress(1, 2, 3);   // no handler: nothing happens
    link.OnProgress = [&](int position, int maximum) { calls.append({position, maximum}); };
    const struct {
        uint32_t done, total, length;
        int position;
    } cases[] = {{1, 2, 3, 2}, {1, 4, 10, 2}, {3, 4, 10, 8}, {1, 3, 512, 171}, {0, 0, 7, 7}};
    for (const auto& c : cases) {
        calls.clear();
        link.ReportProgress(c.done, c.total, c.length);
        EXPECT_EQ(calls, (Pairs{{c.position, int(c.length)}})) << c.done << '/' << c.total << " of " << c.length;
    }
}

}   // namespace

// ---- stop requests and the pinned unit's replies ----

// A silent unit and an erase that waits 10 x 5 s for each of 8 attempts: a stop from
// another thread ends the wait under way and sends nothing more.
TEST_F(LinkToPeer, StopEndsTheWaitUnderWayAndEveryLaterAttempt)
{
    peer.Script = nullptr;
    link.RequestTimeout = link.Timeout = 5000;
    std::atomic<bool> stop{false};
    link.StopRequested = &stop;
    std::thread stopper([&stop] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        stop = true;
    });
    QElapsedTimer clock;
    clock.start();

    EXPECT_FALSE(link.EraseFlash(2, 1));
    stopper.join();
    EXPECT_LT(clock.elapsed(), 5000) << "the wait ran on after the stop";
    EXPECT_EQ(link.LastRejection, TRejection::Stopped);
    EXPECT_EQ(peer.Frames().size(), 1);
    EXPECT_EQ(link.Timeout, 5000u);
    EXPECT_EQ(link.ReceptionState(), TCommunicator::StateIdle);
}

// Another controller's reply (or a stray datagram) must not count for the pinned unit's
// request: it is rejected with its reason; the unit's own reply ends the next request.
struct SenderCase {
    const char* Name;
    QString Address;   // the impostor's address; the pinned address with another port when equal
};

class PinnedSender : public LinkToPeer, public testing::WithParamInterface<SenderCase> {};

TEST_P(PinnedSender, ReplyFromElsewhereDoesNotCount)
{
    TScriptedPeer impostor;
    ASSERT_TRUE(impostor.Start(GetParam().Address));
    link.PinnedIP = PeerAddress;
    peer.Script = [&](int index, const QByteArray&) {
        if (index > 0)
            return QList<QByteArray>{Acknowledgement()};
        impostor.Send(Acknowledgement(), peer.SenderPorts().value(index));
        return QList<QByteArray>{};
    };
    link.Timeout = 300;
    link.Attempts = 1;

    // The first request hears only the impostor: it fails, saying why.
    EXPECT_FALSE(link.SendPing());
    EXPECT_EQ(link.LastRejection, TRejection::WrongSender);
    EXPECT_TRUE(link.PeerIP.isEmpty());
    // The unit's own reply counts.
    EXPECT_TRUE(link.SendPing());
    EXPECT_EQ(peer.Frames().size(), 2);
    EXPECT_EQ(link.PeerIP, PeerAddress);
    EXPECT_EQ(link.PeerPort, peer.Port());
}

INSTANTIATE_TEST_SUITE_P(Link, PinnedSender,
                         testing::Values(SenderCase{"OtherAddress", QStringLiteral("127.0.0.201")},
                                         SenderCase{"OtherPort", PeerAddress}),
                         CaseName);

// A datagram from elsewhere between the two halves of the unit's reply does not spoil the
// frame the unit has begun: the first attempt gets its answer.
TEST_F(LinkToPeer, ForeignDatagramBetweenTheHalvesOfAReplyDoesNotSpoilIt)
{
    TScriptedPeer impostor;
    ASSERT_TRUE(impostor.Start(QStringLiteral("127.0.0.201")));
    link.PinnedIP = PeerAddress;
    const QByteArray reply = Acknowledgement();
    peer.Script = [&](int index, const QByteArray&) {
        const int port = peer.SenderPorts().value(index);
        impostor.SendLater(20, reply.mid(4), port);
        peer.SendLater(40, reply.mid(5), port);
        return QList<QByteArray>{reply.left(5)};
    };
    link.Timeout = 500;

    EXPECT_TRUE(link.SendPing());
    EXPECT_EQ(peer.Frames().size(), 1);
}
