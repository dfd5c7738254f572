#include "OrvelSimulator.h"

#include "ControllerInfo.h"
#include "hCodeMemory.h"
#include "uABus.h"

#include <QNetworkDatagram>
#include <QThread>
#include <QTimer>
#include <QUdpSocket>
#include <QtEndian>

#include <algorithm>
#include <cstdio>

namespace {

enum ReplyCode : uint8_t {
    Acknowledge = 1,
    Unrecognized = 3,
    OutOfRange = 4,
    NotReady = 5,
    NoValidProgram = 6,
    NoValidKernel = 7,
    BadAuthentication = 12,
};

enum PlcStateCode : uint8_t { PlcStop = 0, PlcRun = 2, PlcNoProgram = 3 };

constexpr uint32_t NadDiscovery = 0;
constexpr uint32_t LoaderRecordAddress = 4 * 256;   // the identification record is block 4
constexpr int KernelAreaSize = MaxKernelSize;
constexpr int MaxReplyData = MaxReplyBodyLength - 2;
constexpr int BindTries = 20;
constexpr uint32_t FirstControllerAddress = 0x7F000002u;   // 127.0.0.2

using TClock = std::chrono::steady_clock;

// Whole milliseconds from now to due, rounded up, so that a timer never fires before due.
int MsUntil(TClock::time_point due, TClock::time_point now)
{
    return due <= now ? 0 : int(std::chrono::ceil<std::chrono::milliseconds>(due - now).count());
}

QString TooManyControllers()
{
    return QStringLiteral("at most %1 controllers fit on loopback (127.0.0.2 to 127.0.0.254)")
        .arg(TControllerSimulator::MaxControllers);
}

QString CommandName(uint8_t code)
{
    switch (code) {
    case CmdStartLoader:
        return QStringLiteral("StartLoader");
    case CmdStartKernel:
        return QStringLiteral("StartKernel");
    case CmdPing:
        return QStringLiteral("Ping");
    case CmdReadStatus:
        return QStringLiteral("ReadStatus");
    case CmdReadLoaderRecord:
        return QStringLiteral("ReadLoaderRecord");
    case CmdEraseFlash:
        return QStringLiteral("EraseFlash");
    case CmdReadBlock:
        return QStringLiteral("ReadBlock");
    case CmdWriteBlock:
        return QStringLiteral("WriteBlock");
    case CmdStartPlc:
        return QStringLiteral("StartPlc");
    case CmdStopPlc:
        return QStringLiteral("StopPlc");
    case CmdWriteClock:
        return QStringLiteral("WriteClock");
    }
    return QStringLiteral("command %1").arg(code);
}

const uint8_t* Bytes(const QByteArray& bytes)
{
    return reinterpret_cast<const uint8_t*>(bytes.constData());
}

// Kernel size as the header records it, kept inside the kernel area.
int RecordedKernelSize(const QByteArray& kernelArea, int headerOffset)
{
    const uint32_t size = ReadKernelHeader(kernelArea, headerOffset).ImageSize;
    return int(std::min<uint32_t>(size, uint32_t(kernelArea.size())));
}

}   // namespace

QByteArray BuildReplyFrame(uint32_t source, uint32_t destination, uint8_t replyCode, const QByteArray& data)
{
    const int length = 2 + int(data.size());
    QByteArray frame(12 + length + 2, '\0');
    auto* p = reinterpret_cast<uint8_t*>(frame.data());
    p[0] = 0xAA;
    p[1] = 0x55;
    qToLittleEndian<uint16_t>(uint16_t(length), p + 2);
    qToLittleEndian<uint32_t>(source, p + 4);
    qToLittleEndian<uint32_t>(destination, p + 8);
    p[12] = replyCode;
    p[13] = 0;
    std::copy(data.cbegin(), data.cend(), frame.begin() + 14);
    qToLittleEndian<uint16_t>(BufferChecksum(p, 12 + length, 0), p + 12 + length);
    return frame;
}

// ---- one controller ----

struct TSimController::TCommand {
    uint32_t Source = 0;
    uint32_t Destination = 0;
    uint8_t Code = 0;
    QByteArray Arguments;
    uint16_t PasswordCode = 0;

    // A sound command frame: AA 55, a body length that matches the datagram, checksum right.
    bool Parse(const QByteArray& frame)
    {
        if (frame.size() < CommandOverhead || uint8_t(frame[0]) != 0xAA || uint8_t(frame[1]) != 0x55)
            return false;
        const uint8_t* p = Bytes(frame);
        const int length = qFromLittleEndian<uint16_t>(p + 2);
        if (length < 5 || frame.size() != length + 14)
            return false;
        if (BufferChecksum(p, length + 12, 0) != qFromLittleEndian<uint16_t>(p + length + 12))
            return false;
        Source = qFromLittleEndian<uint32_t>(p + 4);
        Destination = qFromLittleEndian<uint32_t>(p + 8);
        Code = p[14];
        Arguments = frame.mid(15, length - 5);
        PasswordCode = qFromLittleEndian<uint16_t>(p + length + 10);
        return true;
    }
};

TSimController::TSimController(const TSimControllerConfig& config, const QString& address)
    : Address(address),
      Config(config),
      LoaderRecord(LoaderRecordSize, '\0'),
      KernelArea(KernelAreaSize, char(0xFF)),
      ProgramArea(ProgramAreaSize, char(0xFF)),
      Random(Faults.Seed)
{
    TLoaderRecord record;
    record.LoaderMajor = config.LoaderMajor;
    record.LoaderMinor = config.LoaderMinor;
    // The bytes nobody interprets carry a pattern, so a write-back that loses them shows.
    for (size_t i = 0; i < record.Reserved4.size(); ++i)
        record.Reserved4[i] = uint8_t(0x41 + i);
    for (size_t i = 0; i < record.Reserved16.size(); ++i)
        record.Reserved16[i] = uint8_t(0x61 + i);
    record.Serial = config.Serial;
    LoaderRecord = LoaderRecordToBytes(record);

    SetMemory(KernelAddress, config.Kernel.left(KernelAreaSize));
    SetMemory(ProgramAddress, config.Program.left(ProgramAreaSize));
    Restart();
    if (Mode == 1 && config.Mode != 1)
        Mode = config.Mode;
    if (PlcState != PlcNoProgram)
        PlcState = config.PlcState;
}

uint32_t TSimController::Serial() const
{
    return LoaderRecordFromBytes(LoaderRecord).Serial;
}

bool TSimController::IsAddressedAs(uint32_t nad) const
{
    const uint32_t serial = Serial();
    if (nad == NadDiscovery || nad == serial)
        return true;
    if (nad == NoSerialNumber)
        return FAnswersUnassigned;
    return Config.NadAlias != 0 && nad == Config.NadAlias;
}

void TSimController::Restart()
{
    FAnswersUnassigned = Serial() == NoSerialNumber;
    Mode = HoldsValidKernel() ? 1 : 0;
    PlcState = HoldsValidProgram() ? PlcStop : PlcNoProgram;
}

void TSimController::SetFaults(const TSimFaults& faults)
{
    Faults = faults;
    Random.seed(faults.Seed);
    FBusyUntil = {};
}

TClock::time_point TSimController::TakeTurn(uint8_t command, TClock::time_point now)
{
    const int latency = std::max(0, Faults.LatencyMs + Faults.LatencyFor.value(command));
    FBusyUntil = std::max(now, FBusyUntil) + std::chrono::milliseconds(latency);
    return FBusyUntil;
}

bool TSimController::HoldsValidKernel() const
{
    const uint16_t major = LoaderRecordFromBytes(LoaderRecord).LoaderMajor;
    const int headerOffset = major == 2 ? KernelHeaderOffsetXA : KernelHeaderOffsetARM;
    const int size = RecordedKernelSize(KernelArea, headerOffset);
    return IsValidKernel(QByteArray::fromRawData(KernelArea.constData(), size), headerOffset);
}

bool TSimController::HoldsValidProgram() const
{
    const auto header = ProgramHeaderFromBytes(ProgramArea);
    if (!IsSealedProgramHeader(header.Marker, header.Kind))
        return false;
    const bool xa = LoaderRecordFromBytes(LoaderRecord).LoaderMajor == 2;
    const uint32_t length = xa ? header.ProgramLength & 0xFFFF : header.ProgramLength;
    const int size = int(std::clamp<uint32_t>(length, SealedHeaderSize, ProgramAreaSize));
    return IsValidProgram(QByteArray::fromRawData(ProgramArea.constData(), size), xa);
}

const QByteArray* TSimController::Area(uint32_t address, uint32_t length, int& offset) const
{
    struct TStore {
        uint32_t Start;
        const QByteArray* Bytes;
    };
    const TStore stores[] = {{LoaderRecordAddress, &LoaderRecord},
                             {KernelAddress, &KernelArea},
                             {ProgramAddress, &ProgramArea}};
    for (const TStore& store : stores) {
        const uint64_t end = uint64_t(store.Start) + uint64_t(store.Bytes->size());
        if (address >= store.Start && uint64_t(address) + length <= end) {
            offset = int(address - store.Start);
            return store.Bytes;
        }
    }
    return nullptr;
}

QByteArray* TSimController::Area(uint32_t address, uint32_t length, int& offset)
{
    return const_cast<QByteArray*>(std::as_const(*this).Area(address, length, offset));
}

QByteArray TSimController::Memory(uint32_t address, uint32_t length) const
{
    QByteArray bytes(qsizetype(length), char(0xFF));
    for (uint32_t i = 0; i < length; ++i) {
        int offset = 0;
        if (const QByteArray* store = Area(address + i, 1, offset))
            bytes[i] = store->at(offset);
    }
    return bytes;
}

void TSimController::SetMemory(uint32_t address, const QByteArray& bytes)
{
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        int offset = 0;
        if (QByteArray* store = Area(address + uint32_t(i), 1, offset))
            (*store)[offset] = bytes[i];
    }
}

bool TSimController::Chance(double share)
{
    if (share <= 0)
        return false;
    if (share >= 1)
        return true;
    return std::uniform_real_distribution<double>(0, 1)(Random) < share;
}

QByteArray TSimController::Noise(int count)
{
    // No nibble is A or 5, so the hexadecimal text of the noise can hold no "AA55" anywhere,
    // also not together with the frame that follows.
    static const uint8_t nibbles[] = {0, 1, 2, 3, 4, 6, 7, 8, 9, 0xB, 0xC, 0xD, 0xE, 0xF};
    std::uniform_int_distribution<int> pick(0, int(std::size(nibbles)) - 1);
    QByteArray noise(count, '\0');
    for (char& b : noise)
        b = char(nibbles[pick(Random)] << 4 | nibbles[pick(Random)]);
    return noise;
}

QByteArray TSimController::Answer(const QByteArray& commandFrame)
{
    TCommand command;
    if (Faults.VanishAfterWrites == 0 || !command.Parse(commandFrame) || !IsAddressedAs(command.Destination))
        return {};
    ReceivedFrames.append(commandFrame);
    ++CommandCounts[command.Code];
    const uint32_t source = Serial();
    QByteArray data;
    const uint8_t code = Execute(command, data);
    if (command.Code == CmdWriteBlock) {
        if (Faults.VanishAfterWrites > 0)
            --Faults.VanishAfterWrites;
        const bool recordWrite = command.Arguments.size() >= 2 &&
                                 qFromLittleEndian<uint16_t>(Bytes(command.Arguments)) * 256u == LoaderRecordAddress;
        if (recordWrite && Faults.LoseRecordWriteReplies > 0) {
            --Faults.LoseRecordWriteReplies;
            return {};
        }
    }
    return BuildReplyFrame(source, command.Source, code, data);
}

uint8_t TSimController::Execute(const TCommand& command, QByteArray& replyData)
{
    const bool open = command.Code == CmdPing || command.Code == CmdReadStatus || command.Code == CmdReadLoaderRecord;
    if (Config.PasswordCode != 0 && command.PasswordCode != Config.PasswordCode && !open)
        return BadAuthentication;
    if (const auto forced = Faults.ReplyCodeFor.constFind(command.Code); forced != Faults.ReplyCodeFor.cend())
        return *forced;
    if (Chance(Faults.ErrorShare))
        return Faults.ErrorCode;

    switch (command.Code) {
    case CmdStartLoader:
        Mode = 0;
        if (PlcState == PlcRun)   // the PLC runs inside the kernel only
            PlcState = PlcStop;
        return Acknowledge;
    case CmdStartKernel:
        if (!HoldsValidKernel())
            return NoValidKernel;
        Mode = 1;
        return Acknowledge;
    case CmdPing:
        return Acknowledge;
    case CmdReadStatus:
        replyData = PlcStatusToBytes({Mode, PlcState});
        return Acknowledge;
    case CmdReadLoaderRecord:
        replyData = LoaderRecord;
        return Acknowledge;
    case CmdEraseFlash:
        return EraseFlash(command.Arguments);
    case CmdReadBlock:
        return ReadBlock(command.Arguments, replyData);
    case CmdWriteBlock:
        return WriteBlock(command.Arguments);
    case CmdStartPlc:
        if (!HoldsValidProgram())
            return NoValidProgram;
        PlcState = PlcRun;
        return Acknowledge;
    case CmdStopPlc:
        if (PlcState != PlcNoProgram)
            PlcState = PlcStop;
        return Acknowledge;
    case CmdWriteClock:
        if (command.Arguments.size() != 7)
            return OutOfRange;
        Clock = command.Arguments;
        return Acknowledge;
    }
    return Unrecognized;
}

uint8_t TSimController::EraseFlash(const QByteArray& arguments)
{
    if (arguments.size() != 2)
        return OutOfRange;
    switch (uint8_t(arguments[0])) {
    case 2:
        if (Mode != 0)
            return NotReady;
        KernelArea.fill(char(0xFF));
        return Acknowledge;
    case 4:
        ProgramArea.fill(char(0xFF));
        PlcState = PlcNoProgram;
        return Acknowledge;
    }
    return OutOfRange;
}

uint8_t TSimController::ReadBlock(const QByteArray& arguments, QByteArray& replyData) const
{
    if (arguments.size() != 4)
        return OutOfRange;
    const uint16_t block = qFromLittleEndian<uint16_t>(Bytes(arguments));
    const uint16_t count = qFromLittleEndian<uint16_t>(Bytes(arguments) + 2);
    int offset = 0;
    const QByteArray* store = Area(uint32_t(block) * 256, count, offset);
    if (count > MaxReplyData || !store)
        return OutOfRange;
    replyData = store->mid(offset, count);
    return Acknowledge;
}

uint8_t TSimController::WriteBlock(const QByteArray& arguments)
{
    if (arguments.size() < 4)
        return OutOfRange;
    const uint16_t block = qFromLittleEndian<uint16_t>(Bytes(arguments));
    const uint16_t count = qFromLittleEndian<uint16_t>(Bytes(arguments) + 2);
    const QByteArray data = arguments.mid(4);
    int offset = 0;
    QByteArray* store = Area(uint32_t(block) * 256, count, offset);
    if (data.size() != count || !store)
        return OutOfRange;
    if (store == &LoaderRecord) {
        LoaderRecord.replace(offset, count, data);
        return Acknowledge;
    }
    if (store == &KernelArea && Mode != 0)
        return NotReady;
    // Flash programming only clears bits; only an erase sets them again.
    for (int i = 0; i < count; ++i)
        (*store)[offset + i] = char(uint8_t(store->at(offset + i)) & uint8_t(data[i]));
    if (store == &ProgramArea && PlcState == PlcNoProgram && HoldsValidProgram())
        PlcState = PlcStop;
    return Acknowledge;
}

// ---- the simulator: sockets, turns and fault triggers ----

struct TControllerSimulator::TPendingReply {
    TClock::time_point Due;
    QList<QByteArray> Datagrams;
    QHostAddress Host;
    uint16_t Port = 0;
    int DelayMs = 0;   // then late on the wire by this much
};

struct TControllerSimulator::TUnit {
    std::unique_ptr<TSimController> Controller;
    QUdpSocket* Socket = nullptr;   // null while not bound
    QTimer* ReplyTimer = nullptr;   // a child of Socket, armed for the first waiting reply
    QList<TPendingReply> Pending;   // by Due; equal dues in the order of their commands
};

TControllerSimulator::TControllerSimulator(QObject* parent) : QObject(parent) {}

TControllerSimulator::~TControllerSimulator()
{
    Stop();
}

TSimController& TControllerSimulator::AddController(const TSimControllerConfig& config)
{
    const QHostAddress address(quint32(FirstControllerAddress + uint32_t(Count())));
    TUnit& unit = FUnits.emplace_back();
    unit.Controller = std::make_unique<TSimController>(config, address.toString());
    return *unit.Controller;
}

std::unique_ptr<TSimController> TControllerSimulator::ReplaceController(int index, const TSimControllerConfig& config)
{
    TUnit& unit = FUnits.at(size_t(index));
    std::unique_ptr<TSimController> left = std::move(unit.Controller);
    unit.Controller = std::make_unique<TSimController>(config, left->Address);
    unit.Pending.clear();
    if (unit.ReplyTimer)
        unit.ReplyTimer->stop();
    return left;
}

TSimController* TControllerSimulator::AddLiveController(const TSimControllerConfig& config, QString* error)
{
    QString why;
    if (Count() >= MaxControllers) {
        why = TooManyControllers();
    } else if (OnOwnThread(why)) {
        TSimController& controller = AddController(config);
        if (FPort == 0 || BindUnit(Count() - 1, quint16(FPort), why))
            return &controller;
        FUnits.pop_back();
    }
    if (error)
        *error = why;
    return nullptr;
}

int TControllerSimulator::Port() const
{
    return FPort;
}

int TControllerSimulator::Count() const
{
    return int(FUnits.size());
}

TSimController& TControllerSimulator::Controller(int index)
{
    return *FUnits.at(size_t(index)).Controller;
}

bool TControllerSimulator::Start(int port, QString* error)
{
    QString why;
    if (Count() > MaxControllers) {
        why = TooManyControllers();
    } else if (OnOwnThread(why)) {
        // A free port for the broadcast socket may still be taken on a controller's address;
        // then another port is tried.
        for (int attempt = 0; attempt < (port == 0 ? BindTries : 1); ++attempt) {
            if (Bind(port, why))
                return true;
            Stop();
        }
    }
    if (error)
        *error = why;
    return false;
}

// Sockets and timers are made as children of the simulator, which Qt allows on its own
// thread only.
bool TControllerSimulator::OnOwnThread(QString& error) const
{
    if (thread() == QThread::currentThread())
        return true;
    error = QStringLiteral("called outside the simulator's thread");
    return false;
}

bool TControllerSimulator::Bind(int port, QString& error)
{
    Stop();
    FBroadcastSocket = new QUdpSocket(this);
    if (!FBroadcastSocket->bind(QHostAddress(BroadcastAddress()), quint16(port), QUdpSocket::DontShareAddress)) {
        error = QStringLiteral("%1:%2: %3").arg(BroadcastAddress()).arg(port).arg(FBroadcastSocket->errorString());
        return false;
    }
    const quint16 shared = FBroadcastSocket->localPort();
    connect(FBroadcastSocket, &QUdpSocket::readyRead, this, [this] { Receive(FBroadcastSocket, -1); });
    for (int i = 0; i < Count(); ++i) {
        if (!BindUnit(i, shared, error))
            return false;
    }
    FPort = shared;
    return true;
}

bool TControllerSimulator::BindUnit(int index, quint16 port, QString& error)
{
    TUnit& unit = FUnits[size_t(index)];
    auto* socket = new QUdpSocket(this);
    const QString& address = unit.Controller->Address;
    if (!socket->bind(QHostAddress(address), port, QUdpSocket::DontShareAddress)) {
        error = QStringLiteral("%1:%2: %3").arg(address).arg(port).arg(socket->errorString());
        delete socket;
        return false;
    }
    connect(socket, &QUdpSocket::readyRead, this, [this, socket, index] { Receive(socket, index); });
    // Precise: a latency of 1 ms per block is to cost about 1 ms, not up to 5% of coarse slack.
    unit.ReplyTimer = new QTimer(socket);
    unit.ReplyTimer->setSingleShot(true);
    unit.ReplyTimer->setTimerType(Qt::PreciseTimer);
    connect(unit.ReplyTimer, &QTimer::timeout, this, [this, index] { SendDue(index); });
    unit.Socket = socket;
    return true;
}

void TControllerSimulator::Stop()
{
    for (TUnit& unit : FUnits) {
        delete unit.Socket;   // with its reply timer and the late sends it is the context of
        unit.Socket = nullptr;
        unit.ReplyTimer = nullptr;
        unit.Pending.clear();
    }
    delete FBroadcastSocket;
    FBroadcastSocket = nullptr;
    FPort = 0;
}

void TControllerSimulator::Receive(QUdpSocket* socket, int controllerIndex)
{
    while (socket->hasPendingDatagrams()) {
        const QNetworkDatagram datagram = socket->receiveDatagram();
        if (controllerIndex >= 0) {
            Serve(controllerIndex, datagram);
            continue;
        }
        // A controller added with AddController after Start has no socket to answer from.
        for (int i = 0; i < Count(); ++i) {
            if (FUnits[size_t(i)].Socket)
                Serve(i, datagram);
        }
    }
}

void TControllerSimulator::Serve(int controllerIndex, const QNetworkDatagram& datagram)
{
    TSimController& controller = *FUnits[size_t(controllerIndex)].Controller;
    const QByteArray reply = controller.Answer(datagram.data());
    if (reply.isEmpty())
        return;
    const uint8_t command = uint8_t(datagram.data().at(14));   // a sound frame: it got an answer
    const QString faults = Reply(controllerIndex, command, reply, datagram.senderAddress(),
                                 quint16(datagram.senderPort()));
    if (!Verbose)
        return;
    const uint8_t code = uint8_t(reply[12]);
    const QString line = QStringLiteral("%1 <- %2:%3 %4 -> %5 %6%7")
                             .arg(controller.Address, datagram.senderAddress().toString())
                             .arg(datagram.senderPort())
                             .arg(CommandName(command))
                             .arg(code)
                             .arg(ReplyCodeText(code),
                                  faults.isEmpty() ? QString() : QStringLiteral(" [%1]").arg(faults));
    std::fprintf(stderr, "%s\n", qPrintable(line));
}

QString TControllerSimulator::Reply(int controllerIndex, uint8_t command, QByteArray frame, const QHostAddress& host,
                                    uint16_t port)
{
    TUnit& unit = FUnits[size_t(controllerIndex)];
    TSimController& controller = *unit.Controller;
    TSimFaults& faults = controller.Faults;
    // The unit spends the command's time whether or not its reply gets through.
    const TClock::time_point now = TClock::now();
    const TClock::time_point due = controller.TakeTurn(command, now);
    if (faults.DropNext > 0) {
        --faults.DropNext;
        return QStringLiteral("dropped");
    }
    if (controller.Chance(faults.DropShare))
        return QStringLiteral("dropped");

    QStringList notes;
    const bool corruptNext = faults.CorruptNext > 0;
    if (corruptNext)
        --faults.CorruptNext;
    if (corruptNext || controller.Chance(faults.CorruptShare)) {
        frame[frame.size() - 1] = char(frame.back() ^ 0x5A);
        notes << QStringLiteral("bad checksum");
    }
    int frameStart = 0;
    if (faults.NoiseBytes > 0) {
        frame.prepend(controller.Noise(faults.NoiseBytes));
        frameStart = faults.NoiseBytes;
        notes << QStringLiteral("noise");
    }
    QList<QByteArray> datagrams;
    if (faults.SplitReplies) {
        // The first part holds AA 55, as a receiver that reassembles needs it to.
        const int cut = frameStart + int(frame.size() - frameStart) / 2;
        datagrams << frame.left(cut) << frame.mid(cut);
        notes << QStringLiteral("split");
    } else {
        datagrams << frame;
    }
    if (controller.Chance(faults.DuplicateShare)) {
        datagrams += QList<QByteArray>(datagrams);
        notes << QStringLiteral("twice");
    }

    bool delayed = false;
    if (faults.DelayMs > 0) {
        if (faults.DelayNext > 0) {
            --faults.DelayNext;
            delayed = true;
        } else if (faults.DelayNext < 0) {
            delayed = faults.DelayShare > 0 ? controller.Chance(faults.DelayShare) : true;
        }
    }
    const TPendingReply reply{due, datagrams, host, port, delayed ? faults.DelayMs : 0};
    if (const int wait = MsUntil(due, now) + reply.DelayMs; wait > 0)
        notes << QStringLiteral("after %1 ms").arg(wait);

    // Waits for the replies due before it or together with it; one due now with none of
    // them goes out at once.
    const auto at = std::upper_bound(unit.Pending.begin(), unit.Pending.end(), due,
                                     [](TClock::time_point time, const TPendingReply& r) { return time < r.Due; });
    if (at == unit.Pending.begin() && due <= now) {
        Send(unit, reply);
    } else {
        const bool first = at == unit.Pending.begin();
        unit.Pending.insert(at, reply);
        if (first)
            unit.ReplyTimer->start(MsUntil(due, now));
    }
    return notes.join(QStringLiteral(", "));
}

void TControllerSimulator::Send(TUnit& unit, const TPendingReply& reply)
{
    QUdpSocket* socket = unit.Socket;
    const auto send = [socket, reply] {
        for (const QByteArray& datagram : reply.Datagrams)
            socket->writeDatagram(datagram, reply.Host, reply.Port);
    };
    if (reply.DelayMs > 0) {
        // The socket is the timer's context: a simulator stopped meanwhile sends nothing.
        QTimer::singleShot(reply.DelayMs, Qt::PreciseTimer, socket, send);
    } else {
        send();
    }
}

void TControllerSimulator::SendDue(int controllerIndex)
{
    TUnit& unit = FUnits[size_t(controllerIndex)];
    const TClock::time_point now = TClock::now();
    while (!unit.Pending.isEmpty() && unit.Pending.constFirst().Due <= now)
        Send(unit, unit.Pending.takeFirst());
    if (!unit.Pending.isEmpty())
        unit.ReplyTimer->start(MsUntil(unit.Pending.constFirst().Due, now));
}
