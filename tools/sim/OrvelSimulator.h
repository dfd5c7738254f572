// OrvelSimulator: simulated controllers on loopback, our stand-in for the hardware.
//
// Each simulated controller answers from its own loopback address (127.0.0.2, 127.0.0.3, ...)
// on one UDP port (8442 by default); one more socket hears the broadcasts sent to
// 127.255.255.255 and hands them to every controller. A controller answers frames addressed
// to its serial number, to 0xFFFFFFFF while it has none, to its NAD alias when set, and to
// NAD 0 (discovery); it replies to the sender's address and port. A unit that receives its
// serial number keeps answering 0xFFFFFFFF until it restarts, so that the send that gave it
// the number can go on addressing it as it began.
//
// It holds what a controller holds: the 24-byte identification record (block 4), a 64 KiB
// kernel area at 0x10000 and a 2 MiB program area at 0x20000 that behave as flash (erase
// fills with 0xFF), a mode and PLC state that follow the commands, the clock record and a
// password code. Fault triggers (TSimFaults) make it misbehave on purpose, deterministically
// from a seed, so that tests never need to sleep. A controller works like the real one: a
// command takes effect when it arrives, then the unit is busy for the command's latency and
// only then answers; it does one command at a time, so its replies leave in the order of
// the commands (only the DelayMs fault, a reply late on the wire, lets later ones pass).
//
// Nothing binds outside 127.0.0.0/8: at most 253 controllers, 127.0.0.2 to 127.0.0.254.
// Controllers can be added after Start too (AddLiveController), as units arrive on a line.
//
// The simulator is driven by the event loop of the thread it lives on, so tests run it
// in-process next to the link. It may be moved to another thread before Start; Start,
// AddLiveController, Stop and every look at a controller then belong on that thread
// (TSimulatorThread in SimulatorThread.h does that). Its timers are children of its sockets,
// and it keeps no state outside its objects.
#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QHash>
#include <QList>
#include <QObject>
#include <QHostAddress>
#include <QString>

#include <chrono>
#include <cstdint>
#include <memory>
#include <random>
#include <vector>

class QUdpSocket;
class QNetworkDatagram;

// A reply frame: AA 55, L, source, destination, reply code, auxiliary 0, data, checksum.
QByteArray BuildReplyFrame(uint32_t source, uint32_t destination, uint8_t replyCode, const QByteArray& data = {});

// Misbehaviour on purpose. Shares are probabilities 0..1 drawn from Seed; counts ("Next")
// apply to the next replies the controller would send and then run out.
struct TSimFaults {
    double DropShare = 0;             // share of replies never sent
    int DropNext = 0;                 // the next N replies are never sent
    int DelayMs = 0;                  // replies are sent this much later (may be past the time-out)
    int DelayNext = -1;               // only the next N replies are delayed; -1: all of them
    double DelayShare = 0;            // with DelayNext -1: share of replies delayed; 0 means all
    int LatencyMs = 0;                // time the unit is busy with each command before its reply
    QHash<uint8_t, int> LatencyFor;   // command -> ms busy with it, on top of LatencyMs
    double DuplicateShare = 0;        // share of replies sent twice
    bool SplitReplies = false;        // every reply goes out as two datagrams
    int NoiseBytes = 0;               // this many noise bytes (no AA 55 in them) before every reply
    int CorruptNext = 0;              // the next N replies carry a wrong checksum
    double CorruptShare = 0;          // share of replies with a wrong checksum
    double ErrorShare = 0;            // share of commands answered with ErrorCode (2..12) and not carried out
    uint8_t ErrorCode = 5;
    QHash<uint8_t, uint8_t> ReplyCodeFor;   // command -> reply code, the command not carried out
    // The unit is gone (unplugged, power lost) once it has taken this many more block writes:
    // from then on it takes and answers nothing. -1: never; 0: gone now.
    int VanishAfterWrites = -1;
    // The replies to the next N writes of block 4 (the identification record, which holds
    // the serial number) are lost on the wire, while each write takes effect.
    int LoseRecordWriteReplies = 0;
    uint32_t Seed = 1;
};

struct TSimControllerConfig {
    uint32_t Serial = 0xFFFFFFFF;   // 0xFFFFFFFF: a fresh unit without serial number
    uint16_t LoaderMajor = 3;       // 2 = XA, 3 = ARM, 1 = old loader
    uint16_t LoaderMinor = 0;
    uint32_t NadAlias = 0;       // 0 = none
    uint16_t PasswordCode = 0;   // frames with another code get reply code 12
    QByteArray Kernel;           // written at 0x10000; empty: erased flash
    QByteArray Program;          // written at 0x20000; empty: erased flash
    uint8_t Mode = 1;            // 0 loader, 1 kernel (falls back to loader without a valid kernel)
    uint8_t PlcState = 0;        // 0 stop, 2 run, 3 no plc program (set from the program when empty)
};

// One simulated controller. Tests read and change it directly between requests.
class TSimController {
public:
    explicit TSimController(const TSimControllerConfig& config, const QString& address);

    QString Address;   // 127.0.0.x it answers from
    TSimControllerConfig Config;
    TSimFaults Faults;
    QByteArray LoaderRecord;   // the 24 bytes of block 4
    uint8_t Mode = 0;
    uint8_t PlcState = 3;
    QByteArray Clock;                    // the last clock record written (7 bytes), empty before
    QList<QByteArray> ReceivedFrames;    // every sound command frame addressed to it, in order
    QHash<uint8_t, int> CommandCounts;   // command code -> such frames received

    uint32_t Serial() const;
    QByteArray Memory(uint32_t address, uint32_t length) const;   // 0xFF outside written flash
    void SetMemory(uint32_t address, const QByteArray& bytes);    // overwrites, no flash rules
    // The frame a controller would answer with; empty when it stays silent.
    QByteArray Answer(const QByteArray& commandFrame);

    // Sets the fault triggers and restarts their random draws from faults.Seed. The new
    // timing holds from the next command on: replies already waiting still leave when due,
    // but that command starts at once instead of after them.
    void SetFaults(const TSimFaults& faults);
    // Power cycle: forgets that it was fresh, boots its kernel when it holds a valid one.
    void Restart();
    bool HoldsValidKernel() const;    // at the header offset of its platform
    bool HoldsValidProgram() const;   // sealed and its checksum right
    bool IsAddressedAs(uint32_t nad) const;

private:
    friend class TControllerSimulator;
    using TClock = std::chrono::steady_clock;
    struct TCommand;
    uint8_t Execute(const TCommand& command, QByteArray& replyData);
    uint8_t EraseFlash(const QByteArray& arguments);
    uint8_t ReadBlock(const QByteArray& arguments, QByteArray& replyData) const;
    uint8_t WriteBlock(const QByteArray& arguments);
    // The store that holds all of [address, address + length), or null; offset inside it.
    const QByteArray* Area(uint32_t address, uint32_t length, int& offset) const;
    QByteArray* Area(uint32_t address, uint32_t length, int& offset);
    bool Chance(double share);
    QByteArray Noise(int count);
    // The unit takes a command that arrived at now after the ones before it; says when it is
    // done with it, which is when its reply is due.
    TClock::time_point TakeTurn(uint8_t command, TClock::time_point now);

    QByteArray KernelArea;             // 64 KiB at 0x10000
    QByteArray ProgramArea;            // 2 MiB at 0x20000
    bool FAnswersUnassigned = false;   // had no serial number when it last started
    TClock::time_point FBusyUntil;     // done with every command taken so far
    std::mt19937 Random;
};

class TControllerSimulator : public QObject {
    Q_OBJECT
public:
    static constexpr int MaxControllers = 253;   // 127.0.0.2 to 127.0.0.254

    explicit TControllerSimulator(QObject* parent = nullptr);
    ~TControllerSimulator() override;

    // Adds a controller at the next loopback address (127.0.0.2 first). Before Start; Start
    // refuses more than MaxControllers.
    TSimController& AddController(const TSimControllerConfig& config);
    // The unit at index leaves the line and a fresh one with config takes its address (a
    // fixture that is used again): the replies the old one still owed are dropped, except
    // those already late on the wire (DelayMs). Hands back the unit that left, as it was.
    std::unique_ptr<TSimController> ReplaceController(int index, const TSimControllerConfig& config);
    // Adds a controller at the next loopback address and, when started, binds its socket on
    // the shared port at once; it answers broadcasts from then on. Null, with the reason in
    // error, when no address is left or the socket cannot be bound.
    TSimController* AddLiveController(const TSimControllerConfig& config, QString* error = nullptr);
    // Binds every socket. port 0 picks a free port shared by all of them.
    bool Start(int port = 0, QString* error = nullptr);
    void Stop();        // replies still waiting are dropped
    int Port() const;   // 0 while stopped
    int Count() const;
    TSimController& Controller(int index);
    bool Verbose = false;   // prints what it does to stderr

    static QString BroadcastAddress() { return QStringLiteral("127.255.255.255"); }

private:
    struct TUnit;
    struct TPendingReply;
    bool Bind(int port, QString& error);
    bool BindUnit(int index, quint16 port, QString& error);
    bool OnOwnThread(QString& error) const;
    void Receive(QUdpSocket* socket, int controllerIndex);   // -1: the broadcast socket
    void Serve(int controllerIndex, const QNetworkDatagram& datagram);
    // Sends the reply through the controller's fault triggers once its turn comes; says what
    // they did.
    QString Reply(int controllerIndex, uint8_t command, QByteArray frame, const QHostAddress& host, uint16_t port);
    void Send(TUnit& unit, const TPendingReply& reply);
    void SendDue(int controllerIndex);   // the waiting replies whose time has come, in order

    std::vector<TUnit> FUnits;   // one per controller, in the order they were added
    QUdpSocket* FBroadcastSocket = nullptr;
    int FPort = 0;
};
