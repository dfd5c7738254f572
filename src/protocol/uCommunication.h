// uCommunication: TCommunicator, the host's one link to the controllers.
//
// One UDP socket bound to an address of one host adapter. Each request is one A-bus frame
// in one datagram to ControllerPort (8442); the link waits for the reply with a time-out
// and sends the frame up to Attempts (8) times. Replies are handled as hexadecimal text:
// HandleDatagram reassembles a frame that spans datagrams, checks it with CheckFrame and
// stores the reply fields for the request that waits. Whatever it does not take (noise, a
// bad frame, a reply to another NAD, an error code, a wait that times out) gets one reason,
// kept in LastRejection and written to the trace. A reply names no request, so when a
// request starts the link drops what earlier requests still have coming
// (ForgetEarlierReplies); the attempts of one request accept each other's replies.
//
// A runner sets the link up from a TLinkOptions value (SelectAdapter, SetOptions); the
// operations use its commands and read what the last request found (PeerIP, ReplyCode,
// LastRejection, the counters); the reception state is the link's own.
//
// The link lives on one thread, a runner's worker (the window's session runner, a station's
// unit runner): a request blocks that thread on the socket until its reply or time-out, and
// no events are handled meanwhile, so nothing can start inside a request. A stop request
// (StopRequested, set from any thread) ends the wait under way within 20 ms.
//
// The controller commands (ping, status, memory blocks, erase, start/stop, clock,
// discovery) are methods of the same class, below the transport.
#pragma once

#include "hCodeMemory.h"
#include "ControllerInfo.h"
#include "uABus.h"
#include "uEthernetUtils.h"

#include <QByteArray>
#include <QDateTime>
#include <QDeadlineTimer>
#include <QHostAddress>
#include <QLoggingCategory>
#include <QObject>
#include <QString>
#include <QStringList>

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>

class QUdpSocket;

struct TLinkOptions;

// The frame trace: a line for every frame sent (TX:), every datagram received (RX:) and every
// rejection (RJ:), for a link whose DebugTrace is on. Where it goes is the executable's
// choice (InstallTraceFile: debug.log).
Q_DECLARE_LOGGING_CATEGORY(lcFrames)

class TCommunicator : public QObject {
    Q_OBJECT
public:
    enum : uint8_t { StateIdle = 2, StateWaiting = 4, StateReceiving = 5 };
    static constexpr int DefaultControllerPort = 8442;
    static constexpr uint32_t DefaultTimeout = 1000;
    static constexpr int DefaultAttempts = 8;
    static constexpr int DirectConnectionPort = 65535;
    static constexpr int ReceiveBufferSize = 2048;

    explicit TCommunicator(QObject* parent = nullptr);
    ~TCommunicator() override;

    // Port, time-outs, attempts, password code and pinned address; the adapter is bound by
    // SelectAdapter(options.AdapterName).
    void SetOptions(const TLinkOptions& options);

    // ---- settings and what the last requests found (read and set by the operations) ----
    TEthernetAdapterInfo Adapter;   // filled by DetectLocal at construction
    int LocalPort = 0;              // 0: any free port
    QString PeerIP;                 // who sent the last accepted frame
    int PeerPort = 0;
    QString TargetIP;   // unicast address of the addressed controller
    int ControllerPort = DefaultControllerPort;
    int32_t Nad = -1;   // -1 goes out as 0xFFFFFFFF
    uint16_t PasswordCode = 0;
    uint8_t ReplyCode = 0;                         // of the last accepted frame; never reset
    TRejection LastRejection = TRejection::None;   // the latest of the current or last wait
    QString LocalIP;
    int BoundPort = 0;
    std::function<void(int position, int maximum)> OnProgress;
    uint32_t Timeout = DefaultTimeout;          // back to RequestTimeout after every request
    uint32_t RequestTimeout = DefaultTimeout;   // an erase waits ten times this
    int Attempts = DefaultAttempts;
    bool DirectConnection = false;
    bool DebugTrace = false;   // lines to lcFrames; off, no text is made for them
    // Pins the link to one controller: every request goes to this address, never to a
    // broadcast address, whatever the NAD or a reply changes, and only a reply from this
    // address and ControllerPort counts. Several units that all
    // answer to NAD -1 are told apart this way. Empty: the usual choice of destination.
    QString PinnedIP;
    // Set from another thread to stop: the wait under way ends within 20 ms (rejection
    // Stopped), no further attempt is sent, and later requests fail at once without sending
    // anything.
    const std::atomic<bool>* StopRequested = nullptr;
    // The wall clock, in nanoseconds, that the system's arrival stamps are read against;
    // empty: the system's. A test sets a clock of its own to set it back during a wait.
    std::function<int64_t()> WallClock;
    // What went out since the link was created: requests, and datagrams including resends.
    uint64_t RequestsSent() const { return FRequestsSent; }
    uint64_t DatagramsSent() const { return FDatagramsSent; }
    bool Bound() const;   // the socket is bound to an address

    // ---- reception, as the last request left it ----
    uint8_t ReceptionState() const { return State; }
    const QByteArray& LastFrame() const { return RxFrame; }    // text of the last accepted frame
    const QByteArray& ReplyData() const { return RxData; }     // its data, hex text
    const QByteArray& PendingText() const { return RxText; }   // a frame begun, not yet complete

    // ---- transport ----
    bool SelectAdapter(const QString& adapterName);
    void ApplyBinding();
    void SetDirectConnection(bool on);
    void SetNad(int32_t nad);
    bool Disconnect();
    // Where the next attempt goes: PinnedIP when set, 255.255.255.255 in direct-connection
    // mode, else TargetIP, else the adapter's broadcast address (255.255.255.255 when that
    // is no address).
    QString Destination() const;
    bool SendFrame(const QByteArray& frame);
    bool WaitForReply(uint32_t timeout);
    // A stop has been requested.
    bool Stopping() const;
    bool SendCommand(uint8_t code);
    bool SendCommand(uint8_t code, const QByteArray& arguments);
    // What a request does before it waits: the reception tests and the fuzzer feed
    // HandleDatagram after it.
    void ExpectReply();
    // Reception, for every datagram. A frame that spans datagrams is reassembled; a complete
    // frame that fails its checks is dropped at once, and the search for a frame start goes
    // on behind its AA55. Only a wait is ever Receiving: a datagram while Idle leaves Idle.
    void HandleDatagram(const QByteArray& datagram, const QString& senderIP, int senderPort, const QString& localIP,
                        int localPort);
    void WriteDebugLog(const QString& text);

    // ---- commands ----
    bool StartLoader();
    bool StartKernel();
    bool SendPing();
    bool StartPlc();
    bool StopPlc();
    bool Ping();
    bool ReadStatus(uint8_t& mode, uint8_t& state);
    bool ReadLoaderRecord(TLoaderRecord& record);
    bool EraseFlash(uint8_t area, uint8_t second);
    bool ReadBlock(uint16_t block, uint16_t count, uint8_t* buffer, int size);
    bool WriteBlock(uint16_t block, uint16_t count, const uint8_t* data);
    // Writes the image in 256-byte blocks from address; refuses (false, nothing sent) an
    // image whose blocks would run past block 65535.
    bool WriteMemory(uint32_t address, const QByteArray& image);
    bool ReadMemory(uint32_t address, uint32_t length, QByteArray* stream);
    bool ReadProgramHeader(TProgramHeader& header);
    int64_t StoredProgramLength(bool xa);
    bool WriteClock();
    bool WriteClock(const QDateTime& moment);
    bool Discover(QStringList* nads, QStringList* ips, uint32_t timeout);
    void ReportProgress(uint32_t done, uint32_t total, uint32_t length);

    // The 7-byte clock record of WriteClock for a moment.
    static QByteArray ClockRecord(const QDateTime& moment);

private:
    QUdpSocket* Socket = nullptr;
    QUdpSocket* FSpare = nullptr;   // the port that waits for its turn; none until needed
    uint8_t State = StateIdle;
    QByteArray RxText;   // reception text of a frame not yet complete
    QByteArray RxFrame;
    QByteArray RxData;
    bool Discovering = false;
    QStringList FoundNads;
    QStringList FoundIPs;
    uint64_t FRequestsSent = 0;
    uint64_t FDatagramsSent = 0;

    // One request: up to attempts sends of frame, each waiting timeout ms. A discovery goes
    // to the broadcast address and collects acknowledgements until its time-out.
    bool Transact(const QByteArray& frame, int attempts, uint32_t timeout, bool discovery);
    QString BroadcastDestination() const;
    void SendDatagram(const QByteArray& frame, const QString& destination);
    // Blocks until a datagram comes, for one slice of the wait at most, and hands it to
    // HandleDatagram.
    void ReceiveDatagram(const QDeadlineTimer& deadline);
    // When a request starts: keeps late and repeated replies to earlier requests from being
    // taken for this one's.
    void ForgetEarlierReplies();
    int64_t WallNow() const;   // WallClock, else the system's
    // The wall clock's lead over the monotonic one, wall read just now.
    static int64_t ClockOffset(int64_t wall);
    void MoveToFreshPort();
    void TakeTurnOfPorts();
    void DiscardSpare();
    // Closes both ports; the link binds again from nothing.
    void CloseSockets();
    // A pinned link hears only its unit: the pinned address, from the port it asks on.
    bool FromPinnedUnit(const QString& senderIP, int senderPort) const;
    // Takes an accepted frame's reply; true when it ends the wait. A pinned link rejects a
    // frame from anywhere but its unit, and the wait goes on.
    bool TakeReply(const TParsedFrame& frame, const QString& senderIP, int senderPort);
    void Reject(TRejection rejection);
    // A wait that no reply ended: a frame left incomplete, or a time-out when nothing came
    // that has a reason already. A discovery always ends so and rejects nothing.
    void RejectUnansweredWait();

    // A wait of the last request ended without an accepted reply: one may still be on its way.
    bool FReplyOutstanding = false;
    // Datagrams that arrived before this, on the wall clock in nanoseconds, belong to earlier
    // requests (ForgetEarlierReplies).
    int64_t FRequestStart = 0;
    // The system has stamped an arrival at one of the link's sockets since they were bound.
    bool FArrivalsStamped = false;
    int64_t FClockOffset = 0;   // wall clock minus monotonic clock when the last request started
    // Address texts kept between requests, so that a block's round trip converts none.
    QString FDestinationText;
    quint32 FDestinationAddress = 0;
    quint32 FSenderAddress = 0;
    QString FSenderText;
    QString FLocalText;   // the bound address as text
};

// How a link reaches its controller, as a runner sets it up.
struct TLinkOptions {
    QString AdapterName;   // the host adapter whose address the link binds to
    int Port = TCommunicator::DefaultControllerPort;
    uint32_t Timeout = TCommunicator::DefaultTimeout;
    int Attempts = TCommunicator::DefaultAttempts;
    uint16_t PasswordCode = 0;   // the password's code; the password itself never travels
    QString PinnedIP;            // see TCommunicator::PinnedIP; empty: none
};
