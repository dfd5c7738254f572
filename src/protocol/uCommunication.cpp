#include "uCommunication.h"

#include "uABus.h"

#include <QDeadlineTimer>
#include <QHostAddress>
#include <QThread>
#include <QUdpSocket>
#include <QtEndian>

#include <linux/errqueue.h>
#include <linux/net_tstamp.h>
#include <netinet/in.h>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/uio.h>
#include <time.h>

#include <chrono>
#include <climits>
#include <cstdlib>
#include <cmath>
#include <cstring>
#include <initializer_list>
#include <utility>

Q_LOGGING_CATEGORY(lcFrames, "orvel.frames")

namespace {

constexpr uint8_t Acknowledge = 1;
constexpr uint32_t EraseTimeoutFactor = 10;   // an erase takes up to 10 s where a request takes 1 s
constexpr int StopCheckMs = 20;               // a stop request ends a wait within this long
// A receive blocks at most this long between two looks at a stop request. The system counts
// a socket's time-out in clock ticks and may let it run a tick long, hence half.
constexpr qint64 ReceiveSliceUs = StopCheckMs * 1000 / 2;
// The wall clock and the monotonic one run apart only when the wall clock is set; reading
// both costs this much at most.
constexpr int64_t ClockSetNs = 1000000;
constexpr int BlockSize = 256;
constexpr int ReplyBufferSize = 1040;   // holds the data of the longest accepted reply
// Block numbers are 16-bit: memory past 65536 blocks cannot be addressed.
constexpr uint64_t AddressableBytes = uint64_t(BlockSize) * 65536;
const QString AllOnes = QStringLiteral("255.255.255.255");
const QString NoAddress = QStringLiteral("0.0.0.0");

// Where a frame starts in hexadecimal text, from position from on: "AA55" at a byte
// boundary (an even position), so that the tail of one byte and the head of the next never
// pass for a frame start.
qsizetype FrameStart(const QByteArray& hex, qsizetype from)
{
    for (qsizetype i = hex.indexOf("AA55", from); i >= 0; i = hex.indexOf("AA55", i + 1)) {
        if (i % 2 == 0)
            return i;
    }
    return -1;
}

// Drops the text before the next frame start at or after from (all of it when there is
// none); true when anything was dropped.
bool SkipToFrameStart(QByteArray& hex, qsizetype from)
{
    const qsizetype start = FrameStart(hex, from);
    const qsizetype end = start < 0 ? hex.size() : start;
    hex.remove(0, end);
    return end > 0;
}

// (QByteArray has no list constructor; braces would pick its (size, fill) constructor.)
QByteArray ByteList(std::initializer_list<uint8_t> values)
{
    QByteArray bytes;
    for (uint8_t value : values)
        bytes.append(char(value));
    return bytes;
}

QByteArray BlockArguments(uint16_t block, uint16_t count)
{
    QByteArray arguments(4, '\0');
    auto* p = reinterpret_cast<uint8_t*>(arguments.data());
    qToLittleEndian<uint16_t>(block, p);
    qToLittleEndian<uint16_t>(count, p + 2);
    return arguments;
}

bool SetReceiveTimeout(int descriptor, qint64 microseconds)
{
    const timeval patience{time_t(microseconds / 1000000), suseconds_t(microseconds % 1000000)};
    return ::setsockopt(descriptor, SOL_SOCKET, SO_RCVTIMEO, &patience, sizeof patience) == 0;
}

// Binds socket for the link's receive, which blocks a slice at a time (Qt opens its sockets
// non-blocking) and learns when each datagram arrived; of what Qt has the system tell about
// each datagram, the link reads nothing. False, the socket closed, when any of it fails.
bool BindForReplies(QUdpSocket& socket, const QHostAddress& address, quint16 port)
{
    if (!socket.bind(address, port))
        return false;
    const int descriptor = int(socket.socketDescriptor());
    const int flags = ::fcntl(descriptor, F_GETFL);
    const int stamps = SOF_TIMESTAMPING_RX_SOFTWARE | SOF_TIMESTAMPING_SOFTWARE;
    const int off = 0;
    if (flags < 0 || ::fcntl(descriptor, F_SETFL, flags & ~O_NONBLOCK) != 0 ||
        !SetReceiveTimeout(descriptor, ReceiveSliceUs) ||
        ::setsockopt(descriptor, SOL_SOCKET, SO_TIMESTAMPING, &stamps, sizeof stamps) != 0 ||
        ::setsockopt(descriptor, IPPROTO_IP, IP_PKTINFO, &off, sizeof off) != 0 ||
        ::setsockopt(descriptor, IPPROTO_IP, IP_RECVTTL, &off, sizeof off) != 0) {
        socket.abort();
        return false;
    }
    return true;
}

int64_t Nanoseconds(const timespec& moment)
{
    return int64_t(moment.tv_sec) * 1000000000 + moment.tv_nsec;
}

// When the system received a datagram, on the wall clock; 0 when it did not stamp it.
int64_t ArrivalOf(msghdr& message)
{
    for (cmsghdr* part = CMSG_FIRSTHDR(&message); part; part = CMSG_NXTHDR(&message, part)) {
        if (part->cmsg_level == SOL_SOCKET && part->cmsg_type == SO_TIMESTAMPING) {
            scm_timestamping stamps{};
            std::memcpy(&stamps, CMSG_DATA(part), sizeof stamps);
            return Nanoseconds(stamps.ts[0]);
        }
    }
    return 0;
}

}   // namespace

TCommunicator::TCommunicator(QObject* parent) : QObject(parent), Socket(new QUdpSocket(this))
{
    // Qt permits broadcasts on every UDP socket it opens. The link sends and receives on the
    // socket's descriptor itself (BindForReplies): nothing is connected to its readyRead.
    Adapter.DetectLocal();
    LocalIP = Adapter.IPAddress;
}

TCommunicator::~TCommunicator() = default;

// ---- transport ----

bool TCommunicator::SelectAdapter(const QString& adapterName)
{
    CloseSockets();
    if (!Adapter.LoadByName(adapterName))
        return false;
    ApplyBinding();
    return Socket->state() == QAbstractSocket::BoundState;
}

void TCommunicator::ApplyBinding()
{
    CloseSockets();
    const int port = DirectConnection ? DirectConnectionPort : LocalPort;
    // Only a real adapter address: an empty or broken text would otherwise bind to any address.
    const bool bound = IsValidIPText(Adapter.IPAddress) &&
                       BindForReplies(*Socket, QHostAddress(Adapter.IPAddress), quint16(port));
    LocalIP = bound ? Socket->localAddress().toString() : Adapter.IPAddress;
    BoundPort = bound ? Socket->localPort() : 0;
    FLocalText = LocalIP;
}

void TCommunicator::SetOptions(const TLinkOptions& options)
{
    ControllerPort = options.Port;
    RequestTimeout = Timeout = options.Timeout;
    Attempts = options.Attempts;
    PasswordCode = options.PasswordCode;
    PinnedIP = options.PinnedIP;
}

bool TCommunicator::Bound() const
{
    return Socket->state() == QAbstractSocket::BoundState;
}

void TCommunicator::SetDirectConnection(bool on)
{
    DirectConnection = on;
    ApplyBinding();
}

void TCommunicator::SetNad(int32_t nad)
{
    if (nad == Nad)
        return;
    Nad = nad;
    TargetIP.clear();
}

bool TCommunicator::Disconnect()
{
    State = StateIdle;
    TargetIP.clear();
    RxFrame.clear();
    PeerIP.clear();
    RxData.clear();
    PeerPort = 0;
    CloseSockets();
    return Socket->state() == QAbstractSocket::UnconnectedState;
}

QString TCommunicator::BroadcastDestination() const
{
    if (DirectConnection)
        return AllOnes;
    if (!IsValidIPText(Adapter.Broadcast) || Adapter.Broadcast == NoAddress)
        return AllOnes;
    return Adapter.Broadcast;
}

QString TCommunicator::Destination() const
{
    if (!PinnedIP.isEmpty())
        return PinnedIP;
    if (!DirectConnection && !TargetIP.isEmpty() && TargetIP != NoAddress)
        return TargetIP;
    return BroadcastDestination();
}

void TCommunicator::SendDatagram(const QByteArray& frame, const QString& destination)
{
    // A closed socket sends nothing: writing to it would bind it to any address first.
    if (!Bound())
        return;
    // Every block of a transfer goes to the same address: it is parsed once.
    if (destination != FDestinationText) {
        FDestinationText = destination;
        FDestinationAddress = QHostAddress(destination).toIPv4Address();
    }
    // 0.0.0.0, or a text that is no IPv4 address, would reach this host itself.
    if (FDestinationAddress == 0)
        return;
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = qToBigEndian(quint16(ControllerPort));
    to.sin_addr.s_addr = qToBigEndian(FDestinationAddress);
    ::sendto(int(Socket->socketDescriptor()), frame.constData(), size_t(frame.size()), 0,
             reinterpret_cast<const sockaddr*>(&to), sizeof to);
}

bool TCommunicator::SendFrame(const QByteArray& frame)
{
    return Transact(frame, Attempts, Timeout, false);
}

bool TCommunicator::Stopping() const
{
    return StopRequested && StopRequested->load();
}

bool TCommunicator::Transact(const QByteArray& frame, int attempts, uint32_t timeout, bool discovery)
{
    // A pinned link serves one controller and never broadcasts; a stopped one sends nothing.
    if ((discovery && !PinnedIP.isEmpty()) || Stopping()) {
        Timeout = RequestTimeout;
        return false;
    }
    Discovering = discovery;
    // Earlier requests' replies are kept away once, here. Every attempt of this request
    // sends the same frame, so a late answer to an earlier attempt is this request's answer
    // and must still reach the next attempt: a controller slower than the time-out gets
    // through on a resend.
    ForgetEarlierReplies();
    bool result = false;
    bool missed = false;   // an attempt ended without its reply: one may still be on its way
    // A stop is looked at before every attempt, so a request with long waits ends with the wait
    // under way.
    for (int attempt = 0; attempt < attempts && !result && !Stopping(); ++attempt) {
        // A request counts once it goes out: a stop that comes before its first attempt leaves
        // the counts as they were, never with more requests than datagrams.
        if (attempt == 0)
            ++FRequestsSent;
        ++FDatagramsSent;
        SendDatagram(frame, discovery ? BroadcastDestination() : Destination());
        if (DebugTrace)   // the hex text costs more than the rest of the send
            WriteDebugLog(QStringLiteral("TX:") + QString::fromLatin1(BytesToHex(frame)));
        result = WaitForReply(timeout);
        missed = missed || FReplyOutstanding;
    }
    // Even when a resend got its answer, the reply to the attempt before it may still come;
    // the next request starts on a fresh port.
    FReplyOutstanding = missed;
    Discovering = false;
    Timeout = RequestTimeout;
    return result;
}

void TCommunicator::ExpectReply()
{
    FReplyOutstanding = true;   // until a frame answers this very wait
    State = StateWaiting;
    LastRejection = TRejection::None;
    RxText.clear();
    RxFrame.clear();
    RxData.clear();
    PeerIP.clear();
}

bool TCommunicator::WaitForReply(uint32_t timeout)
{
    ExpectReply();

    // The thread blocks on the socket until a datagram comes, handles it, and blocks again
    // until an accepted reply ends the wait or the time-out does. A stop request from another
    // thread wakes nothing here: the blocking is cut into slices, so a wait of many seconds
    // ends within StopCheckMs of it.
    const QDeadlineTimer deadline(std::chrono::milliseconds(std::min<uint32_t>(timeout, INT_MAX)), Qt::PreciseTimer);
    bool stopped = false;
    while (State != StateIdle && !deadline.hasExpired() && !(stopped = Stopping()))
        ReceiveDatagram(deadline);

    if (State != StateIdle && stopped) {
        State = StateIdle;
        Reject(TRejection::Stopped);
        return false;
    }
    // Only an accepted reply sets Idle during a wait; anything else is the time-out.
    if (State != StateIdle) {
        State = StateIdle;
        RejectUnansweredWait();
        return false;
    }
    FReplyOutstanding = false;
    return ReplyCode == Acknowledge;
}

// A reply carries nothing that ties it to its request, so the link keeps earlier requests'
// replies away instead, when a request starts: after a request that had a wait no frame
// ended (a time-out, a discovery, a stop) the link moves to a new local port; two ports take
// turns request by request; and what arrived at the port about to ask before the request
// started is dropped. Controllers answer to the port a request came from, so a late reply to
// the earlier send, and its repeats, reach a closed port or the one that does not wait. A
// controller that answers in time never sees the port change. In direct-connection mode, or
// with a fixed LocalPort, the port cannot change; there only the dropping of what arrived
// before applies.
int64_t TCommunicator::WallNow() const
{
    if (WallClock)
        return WallClock();
    timespec wall{};
    ::clock_gettime(CLOCK_REALTIME, &wall);
    return Nanoseconds(wall);
}

int64_t TCommunicator::ClockOffset(int64_t wall)
{
    timespec monotonic{};
    ::clock_gettime(CLOCK_MONOTONIC, &monotonic);
    return wall - Nanoseconds(monotonic);
}

void TCommunicator::ForgetEarlierReplies()
{
    if (FReplyOutstanding)
        MoveToFreshPort();
    TakeTurnOfPorts();
    // The system stamps each datagram with its arrival on the wall clock, and a wait drops one
    // that came before its request started: that costs the request nothing. The stamps tell
    // only once the system stamps every arrival (it begins a moment after the link's first
    // socket asks for it, and goes on while the link keeps a socket), and while the wall clock
    // has not been set since the last request; until then what has arrived is read away here,
    // and whatever comes after counts.
    const int64_t wall = WallNow();
    const int64_t clockOffset = ClockOffset(wall);
    const bool clockSet = std::abs(clockOffset - FClockOffset) > ClockSetNs;
    FClockOffset = clockOffset;
    if (FArrivalsStamped && !clockSet) {
        FRequestStart = wall;
        return;
    }
    FRequestStart = 0;
    if (!Bound())
        return;
    char discarded = 0;   // the rest of a longer datagram is dropped
    while (::recv(int(Socket->socketDescriptor()), &discarded, 1, MSG_DONTWAIT) >= 0) {
    }
}

// The last reply may come twice (a repeat on the network, a unit that answers twice), and
// the second can still be on its way when the next request starts. Two ports take turns,
// request by request, so that it reaches the port that does not wait and is dropped there
// before that port asks again.
void TCommunicator::TakeTurnOfPorts()
{
    if (DirectConnection || LocalPort != 0 || !Bound())
        return;
    if (!FSpare) {
        FSpare = new QUdpSocket(this);
        if (!BindForReplies(*FSpare, Socket->localAddress(), 0)) {
            DiscardSpare();
            return;
        }
    }
    std::swap(Socket, FSpare);
    BoundPort = Socket->localPort();
}

void TCommunicator::CloseSockets()
{
    Socket->abort();
    DiscardSpare();
    FArrivalsStamped = false;   // sockets bound from now on may receive before the stamps begin
}

void TCommunicator::DiscardSpare()
{
    delete FSpare;
    FSpare = nullptr;
}

void TCommunicator::MoveToFreshPort()
{
    if (DirectConnection || LocalPort != 0 || Socket->state() != QAbstractSocket::BoundState)
        return;
    // The new socket is bound before the old one closes, so the system cannot hand out
    // the old port again.
    auto* fresh = new QUdpSocket(this);
    if (!BindForReplies(*fresh, Socket->localAddress(), 0)) {
        delete fresh;
        return;
    }
    delete Socket;
    Socket = fresh;
    BoundPort = Socket->localPort();
    FReplyOutstanding = false;
}

bool TCommunicator::SendCommand(uint8_t code)
{
    return SendCommand(code, QByteArray());
}

bool TCommunicator::SendCommand(uint8_t code, const QByteArray& arguments)
{
    QByteArray frame = arguments;
    if (!BuildFrame(HostNad, uint32_t(Nad), code, frame, PasswordCode)) {
        Timeout = RequestTimeout;
        return false;
    }
    return SendFrame(frame);
}

void TCommunicator::ReceiveDatagram(const QDeadlineTimer& deadline)
{
    const qint64 left = std::max<qint64>(deadline.remainingTimeNSecs() / 1000, 1);   // microseconds
    if (!Bound()) {
        // Nothing can come: the wait only passes its time, as a stop request allows.
        QThread::usleep(ulong(std::min<qint64>(left, ReceiveSliceUs)));
        return;
    }
    // The socket blocks one slice at most; the last slice of a wait lasts what the wait has left.
    const int descriptor = int(Socket->socketDescriptor());
    const bool lastSlice = left < ReceiveSliceUs;
    if (lastSlice)
        SetReceiveTimeout(descriptor, left);
    // One byte more than the receive buffer shows a datagram that does not fit.
    char buffer[ReceiveBufferSize + 1];
    iovec data{buffer, sizeof buffer};
    sockaddr_in sender{};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(scm_timestamping))];
    msghdr message{};
    message.msg_name = &sender;
    message.msg_namelen = sizeof sender;
    message.msg_iov = &data;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    const ssize_t size = ::recvmsg(descriptor, &message, 0);
    if (lastSlice)
        SetReceiveTimeout(descriptor, ReceiveSliceUs);
    if (size < 0)
        return;   // the slice passed
    const int64_t arrival = ArrivalOf(message);
    FArrivalsStamped = FArrivalsStamped || arrival != 0;
    // An earlier request's (see ForgetEarlierReplies). A wall clock set back during the wait
    // stamps this request's own answers before its start as the clock read then: the start
    // moves back with the clock.
    if (arrival < FRequestStart) {
        const int64_t setBack = FClockOffset - ClockOffset(WallNow());
        if (setBack <= ClockSetNs || arrival < FRequestStart - setBack)
            return;
    }
    // A unit answers request after request from the same address: its text is made once.
    const quint32 address = qFromBigEndian<quint32>(sender.sin_addr.s_addr);
    if (address != FSenderAddress || FSenderText.isEmpty()) {
        FSenderAddress = address;
        FSenderText = QHostAddress(address).toString();
    }
    // HandleDatagram keeps nothing of the datagram itself: it is read where it lies.
    HandleDatagram(QByteArray::fromRawData(buffer, qsizetype(size)), FSenderText,
                   qFromBigEndian<quint16>(sender.sin_port), FLocalText, BoundPort);
}

void TCommunicator::HandleDatagram(const QByteArray& datagram, const QString& senderIP, int senderPort,
                                   const QString& localIP, int localPort)
{
    // Another unit, or anything else that found the port, never answers the pinned unit's
    // request, nor mixes its bytes into a frame the unit has begun.
    if (!FromPinnedUnit(senderIP, senderPort)) {
        Reject(TRejection::WrongSender);
        return;
    }
    // No reply of ours is near this size; a bigger datagram is not for us.
    if (datagram.size() > ReceiveBufferSize) {
        Reject(TRejection::TooLong);
        return;
    }
    LocalIP = localIP;
    BoundPort = localPort;
    const QByteArray hex = BytesToHex(datagram);
    if (DebugTrace)   // the text costs more than the rest of the reception
        WriteDebugLog(QStringLiteral("RX:") + QString::fromLatin1(hex));

    // RxText holds nothing or the start of a frame that this datagram may complete.
    if (RxText.isEmpty())
        RxText = hex;   // the usual case: shared, not copied
    else
        RxText += hex;
    if (SkipToFrameStart(RxText, 0))
        Reject(TRejection::Noise);
    bool ended = false;
    while (!RxText.isEmpty() && !ended) {
        TParsedFrame frame;
        const TRejection rejection = CheckFrame(RxText, frame);
        if (rejection == TRejection::Incomplete)
            break;   // the next datagram goes on with it
        if (rejection != TRejection::None) {
            // Dropped at once, so that a good reply behind it still counts. Its length
            // cannot be trusted: the next frame start may lie inside its extent.
            Reject(rejection);
            SkipToFrameStart(RxText, 4);
            continue;
        }
        ended = TakeReply(frame, senderIP, senderPort);
        if (ended)
            RxText.clear();   // what follows the answer belongs to no request
        else if (SkipToFrameStart(RxText, 0))
            Reject(TRejection::Noise);
    }
    if (State != StateIdle)
        State = ended ? StateIdle : RxText.isEmpty() ? StateWaiting : StateReceiving;
}

bool TCommunicator::FromPinnedUnit(const QString& senderIP, int senderPort) const
{
    if (PinnedIP.isEmpty())
        return true;
    return senderPort == ControllerPort &&
           QHostAddress(senderIP).isEqual(QHostAddress(PinnedIP), QHostAddress::ConvertV4MappedToIPv4);
}

bool TCommunicator::TakeReply(const TParsedFrame& frame, const QString& senderIP, int senderPort)
{
    // A reply addressed to another NAD is this request's answer all the same: the host is
    // NAD 1 by convention only, and controllers that answer otherwise must still be served.
    ReplyCode = frame.ReplyCode;
    RxFrame = frame.FrameText;
    RxData = frame.Data;
    PeerIP = senderIP;
    PeerPort = senderPort;
    if (Discovering && frame.ReplyCode == Acknowledge && frame.Auxiliary == 0 && frame.Destination == HostNad) {
        FoundNads.append(QString::number(frame.Source));
        FoundIPs.append(senderIP);
        return false;   // a discovery collects until its time-out
    }
    if (frame.ReplyCode != Acknowledge)
        Reject(TRejection::ErrorCode);
    return true;   // the waiting request has its answer
}

void TCommunicator::Reject(TRejection rejection)
{
    LastRejection = rejection;
    if (DebugTrace)   // as for TX: and RX:, no text is made for a trace that is off
        WriteDebugLog(QStringLiteral("RJ:") + RejectionText(rejection));
}

void TCommunicator::RejectUnansweredWait()
{
    if (Discovering)
        return;
    if (!RxText.isEmpty())
        Reject(TRejection::Incomplete);
    else if (LastRejection == TRejection::None)   // a reply that came was rejected already
        Reject(TRejection::TimeOut);
}

void TCommunicator::WriteDebugLog(const QString& text)
{
    if (DebugTrace)
        qCInfo(lcFrames).noquote() << text;
}

// ---- commands ----

bool TCommunicator::StartLoader()
{
    return SendCommand(CmdStartLoader);
}

bool TCommunicator::StartKernel()
{
    return SendCommand(CmdStartKernel);
}

bool TCommunicator::SendPing()
{
    return SendCommand(CmdPing);
}

bool TCommunicator::StartPlc()
{
    return SendCommand(CmdStartPlc);
}

bool TCommunicator::StopPlc()
{
    return SendCommand(CmdStopPlc);
}

bool TCommunicator::Ping()
{
    if (!SendPing())
        return false;
    TargetIP = PeerIP;   // later requests go to this controller directly
    return true;
}

bool TCommunicator::ReadStatus(uint8_t& mode, uint8_t& state)
{
    if (!SendCommand(CmdReadStatus))
        return false;
    uint8_t buffer[ReplyBufferSize];
    const int n = HexToBytes(RxData, buffer, sizeof buffer, false);
    if (n < PlcStatusSize)
        return false;
    const TPlcStatus status = PlcStatusFromBytes(QByteArray(reinterpret_cast<const char*>(buffer), n));
    bool result = true;
    if (status.Mode <= 2)
        mode = status.Mode;
    else
        result = false;
    if (status.PlcState <= 8)
        state = status.PlcState;
    else
        result = false;
    return result;
}

bool TCommunicator::ReadLoaderRecord(TLoaderRecord& record)
{
    if (!SendCommand(CmdReadLoaderRecord))
        return false;
    uint8_t buffer[ReplyBufferSize];
    const int n = HexToBytes(RxData, buffer, sizeof buffer, false);
    RxData.clear();
    RxFrame.clear();
    if (n < 4)
        return false;
    record = LoaderRecordFromBytes(QByteArray(reinterpret_cast<const char*>(buffer), n));
    return true;
}

bool TCommunicator::EraseFlash(uint8_t area, uint8_t second)
{
    Timeout = RequestTimeout * EraseTimeoutFactor;
    return SendCommand(CmdEraseFlash, ByteList({area, second}));
}

bool TCommunicator::ReadBlock(uint16_t block, uint16_t count, uint8_t* buffer, int size)
{
    if (!SendCommand(CmdReadBlock, BlockArguments(block, count)))
        return false;
    const int n = HexToBytes(RxData, buffer, size, false);
    RxData.clear();
    RxFrame.clear();
    return n >= count;
}

bool TCommunicator::WriteBlock(uint16_t block, uint16_t count, const uint8_t* data)
{
    QByteArray arguments = BlockArguments(block, count);
    arguments.append(reinterpret_cast<const char*>(data), count);
    return SendCommand(CmdWriteBlock, arguments);
}

bool TCommunicator::WriteMemory(uint32_t address, const QByteArray& image)
{
    const uint64_t size = uint64_t(image.size());
    const uint32_t blocks = uint32_t((size + BlockSize - 1) / BlockSize);
    const uint32_t first = address / BlockSize;
    // Block numbers wrap at 65536: the tail of such an image would overwrite low memory.
    if (uint64_t(first) + blocks > 65536)
        return false;
    const auto* bytes = reinterpret_cast<const uint8_t*>(image.constData());
    bool ok = true;
    for (uint32_t i = 0; ok && i < blocks;) {
        const uint16_t n = i + 1 < blocks ? BlockSize : uint16_t(size - uint64_t(BlockSize) * (blocks - 1));
        ok = WriteBlock(uint16_t(first + i), n, bytes + uint64_t(BlockSize) * i);
        if (ok)
            ++i;
        ReportProgress(i, blocks, uint32_t(size));
    }
    return ok;
}

bool TCommunicator::ReadMemory(uint32_t address, uint32_t length, QByteArray* stream)
{
    if (!stream)
        return false;
    stream->clear();
    const uint64_t end = uint64_t(address) + length;
    // Block numbers wrap at 65536: reading on would deliver low memory as if it were this range.
    if (end > AddressableBytes)
        return false;
    const uint32_t first = address / BlockSize;
    const uint32_t blocks = uint32_t(end / BlockSize) - first + 1;
    const int skip = int(address % BlockSize);
    uint8_t buffer[ReplyBufferSize];
    bool ok = true;
    for (uint32_t i = 0; ok && i < blocks; ++i) {
        const int n = i + 1 < blocks ? BlockSize : int(end - uint64_t(BlockSize) * (first + blocks - 1));
        std::memset(buffer, 0, sizeof buffer);
        if (n > 0)
            ok = ReadBlock(uint16_t(first + i), uint16_t(n), buffer, sizeof buffer);
        if (!ok)
            break;
        const int from = i == 0 ? skip : 0;
        stream->append(reinterpret_cast<const char*>(buffer) + from, n - from);
        ReportProgress(i + 1, blocks, length);
    }
    return ok;
}

bool TCommunicator::ReadProgramHeader(TProgramHeader& header)
{
    QByteArray stream;
    if (!ReadMemory(ProgramAddress, ProgramHeaderSize, &stream))
        return false;
    header = ProgramHeaderFromBytes(stream);
    return true;
}

int64_t TCommunicator::StoredProgramLength(bool xa)
{
    TProgramHeader header;
    if (!ReadProgramHeader(header))
        return 0;
    return StoredProgramLengthOf(header, xa, [this](uint32_t address, uint32_t length, QByteArray& out) {
        return ReadMemory(address, length, &out);
    });
}

QByteArray TCommunicator::ClockRecord(const QDateTime& moment)
{
    const QDate date = moment.date();
    const QTime time = moment.time();
    return ByteList({uint8_t(date.year() - 2000), uint8_t(date.month()), uint8_t(date.day()),
                     uint8_t(date.dayOfWeek() % 7),   // Qt counts Monday 1 .. Sunday 7; the controller Sunday 0
                     uint8_t(time.hour()), uint8_t(time.minute()), 59});
}

bool TCommunicator::WriteClock()
{
    return WriteClock(QDateTime::currentDateTime());
}

bool TCommunicator::WriteClock(const QDateTime& moment)
{
    return SendCommand(CmdWriteClock, ClockRecord(moment));
}

bool TCommunicator::Discover(QStringList* nads, QStringList* ips, uint32_t timeout)
{
    if (!nads || !ips)
        return false;
    FoundNads.clear();
    FoundIPs.clear();
    // One ping to NAD 0 on the broadcast address. Nad and TargetIP are not touched, so a
    // request that starts while the discovery waits still goes to the chosen controller.
    QByteArray frame;
    BuildFrame(HostNad, 0, CmdPing, frame, PasswordCode);
    Transact(frame, 1, timeout, true);
    *nads = FoundNads;
    *ips = FoundIPs;
    Attempts = DefaultAttempts;
    return true;
}

void TCommunicator::ReportProgress(uint32_t done, uint32_t total, uint32_t length)
{
    if (!OnProgress)
        return;
    // nearbyint rounds halves to the even neighbour in the default rounding mode.
    const double position = total == 0 ? double(length) : std::nearbyint(double(done) / double(total) * length);
    OnProgress(int(position), int(length));
}
