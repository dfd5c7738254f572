// Simulated controllers: what a controller answers (addressing, flash, modes, refusals),
// what reaches a raw loopback client (unicast, broadcast, each fault trigger, latency and
// the order of replies, units added while running), the simulator on a thread of its own,
// the sample images and the orvel-sim executable.
#include "OrvelSimulator.h"
#include "SampleImages.h"
#include "SimulatorThread.h"
#include "TestPrinters.h"

#include "ControllerInfo.h"
#include "hCodeMemory.h"
#include "uABus.h"

#include <QNetworkDatagram>
#include <QProcess>
#include <QRegularExpression>
#include <QTest>
#include <QThread>
#include <QUdpSocket>
#include <QtEndian>

#include <gtest/gtest.h>

#include <csignal>

namespace {

using ::PrintTo;   // table rows print as their names

constexpr uint32_t Unassigned = 0xFFFFFFFF;
constexpr int WaitBound = 5000;   // ms; only ever reached when something is broken

QByteArray Command(uint32_t nad, uint8_t code, QByteArray arguments = {}, uint16_t password = 0,
                   uint32_t source = HostNad)
{
    BuildFrame(source, nad, code, arguments, password);
    return arguments;
}

QByteArray Block(uint16_t block, uint16_t count, const QByteArray& data = {})
{
    QByteArray arguments(4, '\0');
    qToLittleEndian<uint16_t>(block, arguments.data());
    qToLittleEndian<uint16_t>(count, arguments.data() + 2);
    return arguments + data;
}

// What a controller answers to one command, decoded; Answered false when it stays silent.
struct TAnswer {
    bool Answered = false;
    uint32_t Source = 0;
    uint32_t Destination = 0;
    uint8_t Code = 0;
    QByteArray Data;
};

TAnswer Ask(TSimController& unit, uint32_t nad, uint8_t code, const QByteArray& arguments = {}, uint16_t password = 0)
{
    QByteArray text = BytesToHex(unit.Answer(Command(nad, code, arguments, password)));
    TParsedFrame frame;
    if (text.isEmpty() || !ParseFrame(text, frame) || !text.isEmpty())
        return {};
    return {true, frame.Source, frame.Destination, frame.ReplyCode, QByteArray::fromHex(frame.Data)};
}

// Writes an image as the send does: 256-byte blocks from its address.
void WriteImage(TSimController& unit, uint32_t address, const QByteArray& image)
{
    for (int at = 0; at < image.size(); at += 256) {
        const QByteArray part = image.mid(at, 256);
        ASSERT_EQ(Ask(unit, unit.Serial(), CmdWriteBlock,
                      Block(uint16_t((address + at) / 256), uint16_t(part.size()), part))
                      .Code,
                  1);
    }
}

TSimControllerConfig Unit(uint32_t serial, uint16_t loaderMajor = 3)
{
    TSimControllerConfig config;
    config.Serial = serial;
    config.LoaderMajor = loaderMajor;
    return config;
}

// A unit that holds a valid kernel and a sealed program, stopped.
TSimControllerConfig FullUnit(uint32_t serial)
{
    TSimControllerConfig config = Unit(serial);
    config.Kernel = SampleKernel(3);
    config.Program = SealedProgram(SampleProgram(), false);
    return config;
}

// ---- addressing ----

struct TAddressCase {
    const char* Name;
    uint32_t Serial;
    uint32_t Alias;
    uint32_t Nad;
    bool Answered;
};

class SimAddressing : public testing::TestWithParam<TAddressCase> {};

TEST_P(SimAddressing, AnswersItsOwnNadsOnly)
{
    const TAddressCase& c = GetParam();
    TSimControllerConfig config = Unit(c.Serial);
    config.NadAlias = c.Alias;
    TSimController unit(config, QStringLiteral("127.0.0.2"));
    const TAnswer answer = Ask(unit, c.Nad, CmdPing);
    EXPECT_EQ(answer.Answered, c.Answered);
    if (c.Answered) {
        EXPECT_EQ(answer.Source, c.Serial);
        EXPECT_EQ(answer.Destination, HostNad);
        EXPECT_EQ(answer.Code, 1);
    }
    EXPECT_EQ(unit.CommandCounts.value(CmdPing), c.Answered ? 1 : 0);
}

INSTANTIATE_TEST_SUITE_P(Nads, SimAddressing,
                         testing::Values(TAddressCase{"Serial", 1000, 0, 1000, true},
                                         TAddressCase{"Alias", 1000, 7, 7, true},
                                         TAddressCase{"Discovery", 1000, 7, 0, true},
                                         TAddressCase{"OtherNad", 1000, 7, 1001, false},
                                         TAddressCase{"NoAliasSet", 1000, 0, 7, false},
                                         TAddressCase{"UnassignedWhenSerialSet", 1000, 0, Unassigned, false},
                                         TAddressCase{"FreshUnitUnassigned", Unassigned, 0, Unassigned, true},
                                         TAddressCase{"FreshUnitDiscovery", Unassigned, 0, 0, true},
                                         TAddressCase{"FreshUnitOtherNad", Unassigned, 0, 1000, false}),
                         [](const auto& info) { return std::string(info.param.Name); });

TEST(SimFrames, BadFramesGetNoAnswer)
{
    TSimController unit(Unit(1000), QStringLiteral("127.0.0.2"));
    const QByteArray good = Command(1000, CmdPing);
    QByteArray badStart = good, badChecksum = good, badLength = good;
    badStart[1] = char(0x56);
    badChecksum[badChecksum.size() - 1] = char(badChecksum.back() ^ 1);
    badLength[2] = char(badLength[2] + 1);
    for (const QByteArray& frame : {badStart, badChecksum, badLength, good.left(18), good + QByteArray(1, 0)})
        EXPECT_TRUE(unit.Answer(frame).isEmpty()) << frame.toHex().constData();
    EXPECT_TRUE(unit.ReceivedFrames.isEmpty());
    EXPECT_FALSE(unit.Answer(good).isEmpty());
}

// A fresh unit that gets its serial number answers it at once and keeps answering
// 0xFFFFFFFF, so the send that gave it the number goes on with the kernel and the program.
TEST(SimFrames, SerialAssignedThroughBlock4)
{
    TSimController unit(Unit(Unassigned), QStringLiteral("127.0.0.2"));
    TAnswer record = Ask(unit, Unassigned, CmdReadLoaderRecord);
    ASSERT_EQ(record.Data.size(), 24);
    EXPECT_EQ(LoaderRecordFromBytes(record.Data).LoaderMajor, 3);

    auto changed = LoaderRecordFromBytes(record.Data);
    changed.Serial = 1000;
    EXPECT_EQ(Ask(unit, Unassigned, CmdWriteBlock, Block(4, 24, LoaderRecordToBytes(changed))).Code, 1);
    EXPECT_EQ(Ask(unit, 1000, CmdReadBlock, Block(4, 24)).Data, LoaderRecordToBytes(changed));
    EXPECT_EQ(Ask(unit, 1000, CmdPing).Source, 1000u);
    EXPECT_TRUE(Ask(unit, Unassigned, CmdEraseFlash, QByteArray("\x04\x01", 2)).Answered);

    unit.Restart();
    EXPECT_FALSE(Ask(unit, Unassigned, CmdPing).Answered);
    EXPECT_TRUE(Ask(unit, 1000, CmdPing).Answered);
}

// ---- memory, modes and refusals ----

TEST(SimFlash, WritesClearBitsAndEraseSetsThem)
{
    TSimController unit(Unit(1000), QStringLiteral("127.0.0.2"));   // erased: in its loader
    ASSERT_EQ(unit.Mode, 0);
    const uint32_t address = KernelAddress + 0x300;
    const QByteArray first("\xF0\x0F\xFF\x00", 4), second("\x3C\x3C\x3C\xFF", 4);
    EXPECT_EQ(Ask(unit, 1000, CmdWriteBlock, Block(address / 256, 4, first)).Code, 1);
    EXPECT_EQ(Ask(unit, 1000, CmdWriteBlock, Block(address / 256, 4, second)).Code, 1);
    EXPECT_EQ(Ask(unit, 1000, CmdReadBlock, Block(address / 256, 5)).Data, QByteArray("\x30\x0C\x3C\x00\xFF", 5));

    EXPECT_EQ(Ask(unit, 1000, CmdWriteBlock, Block(ProgramAddress / 256, 2, QByteArray("\x81\x18", 2))).Code, 1);
    EXPECT_EQ(Ask(unit, 1000, CmdEraseFlash, QByteArray("\x02\x01", 2)).Code, 1);
    EXPECT_EQ(unit.Memory(KernelAddress, MaxKernelSize), QByteArray(MaxKernelSize, char(0xFF)));
    EXPECT_EQ(unit.Memory(ProgramAddress, 2), QByteArray("\x81\x18", 2));   // the other area stays
    EXPECT_EQ(Ask(unit, 1000, CmdEraseFlash, QByteArray("\x04\x01", 2)).Code, 1);
    EXPECT_EQ(unit.Memory(ProgramAddress, 2), QByteArray(2, char(0xFF)));
}

struct TRefusalCase {
    const char* Name;
    bool Full;           // a unit with kernel (running) and program; else erased, in its loader
    uint16_t Password;   // the unit's password code
    uint8_t Command;
    QByteArray Arguments;
    uint8_t Code;
};

class SimRefusals : public testing::TestWithParam<TRefusalCase> {};

TEST_P(SimRefusals, AnswersWithItsCode)
{
    const TRefusalCase& c = GetParam();
    TSimControllerConfig config = c.Full ? FullUnit(1000) : Unit(1000);
    config.PasswordCode = c.Password;
    TSimController unit(config, QStringLiteral("127.0.0.2"));
    const QByteArray kernelBefore = unit.Memory(KernelAddress, MaxKernelSize);
    EXPECT_EQ(Ask(unit, 1000, c.Command, c.Arguments, TextChecksum(QStringLiteral("abc"), 0)).Code, c.Code);
    if (c.Code != 1) {
        EXPECT_EQ(unit.Memory(KernelAddress, MaxKernelSize), kernelBefore);
    }
}

const uint16_t OtherPassword = 4711;

INSTANTIATE_TEST_SUITE_P(
    Codes, SimRefusals,
    testing::Values(TRefusalCase{"ReadOutsideAreas", true, 0, CmdReadBlock, Block(5, 16), 4},
                    TRefusalCase{"ReadPastKernelArea", true, 0, CmdReadBlock, Block(511, 257), 4},
                    TRefusalCase{"ReadTooManyBytes", true, 0, CmdReadBlock, Block(512, 1023), 4},
                    TRefusalCase{"ReadMostBytes", true, 0, CmdReadBlock, Block(512, 1022), 1},
                    TRefusalCase{"ReadPastRecord", true, 0, CmdReadBlock, Block(4, 25), 4},
                    TRefusalCase{"WriteCountMismatch", false, 0, CmdWriteBlock, Block(256, 4, "\x01\x02"), 4},
                    TRefusalCase{"WriteOutsideAreas", false, 0, CmdWriteBlock, Block(3, 1, "\x01"), 4},
                    TRefusalCase{"EraseUnknownArea", false, 0, CmdEraseFlash, QByteArray("\x03\x01", 2), 4},
                    TRefusalCase{"WriteKernelUnderKernel", true, 0, CmdWriteBlock, Block(256, 1, QByteArray(1, 0)), 5},
                    TRefusalCase{"EraseKernelUnderKernel", true, 0, CmdEraseFlash, QByteArray("\x02\x01", 2), 5},
                    TRefusalCase{"StartPlcWithoutProgram", false, 0, CmdStartPlc, {}, 6},
                    TRefusalCase{"StartKernelWithoutKernel", false, 0, CmdStartKernel, {}, 7},
                    TRefusalCase{"WrongPasswordErase", false, OtherPassword, CmdEraseFlash, QByteArray("\x04\x01", 2),
                                 12},
                    TRefusalCase{"WrongPasswordStopPlc", true, OtherPassword, CmdStopPlc, {}, 12},
                    TRefusalCase{"WrongPasswordPing", true, OtherPassword, CmdPing, {}, 1},
                    TRefusalCase{"WrongPasswordStatus", true, OtherPassword, CmdReadStatus, {}, 1},
                    TRefusalCase{"WrongPasswordRecord", true, OtherPassword, CmdReadLoaderRecord, {}, 1},
                    TRefusalCase{"RightPassword", true, 32512, CmdStopPlc, {}, 1},   // TextChecksum("abc")
                    TRefusalCase{"ShortClock", true, 0, CmdWriteClock, QByteArray(6, 1), 4},
                    TRefusalCase{"UnknownCommand", true, 0, 99, {}, 3}),
    [](const auto& info) { return std::string(info.param.Name); });

// Status bytes after each step of a send to an erased unit, on both platforms: the kernel
// header is looked for where the unit's platform keeps it.
class SimModes : public testing::TestWithParam<uint16_t> {};

TEST_P(SimModes, FollowKernelAndProgram)
{
    const uint16_t major = GetParam();
    const bool xa = major == 2;
    TSimController unit(Unit(1000, major), QStringLiteral("127.0.0.2"));
    const auto status = [&] { return Ask(unit, 1000, CmdReadStatus).Data; };
    EXPECT_EQ(status(), QByteArray("\x00\x03", 2));   // loader, no plc program

    WriteImage(unit, KernelAddress, SampleKernel(xa ? 3 : 2));   // the other platform's kernel
    EXPECT_EQ(Ask(unit, 1000, CmdStartKernel).Code, 7);
    EXPECT_EQ(Ask(unit, 1000, CmdEraseFlash, QByteArray("\x02\x01", 2)).Code, 1);
    WriteImage(unit, KernelAddress, SampleKernel(major));
    EXPECT_EQ(Ask(unit, 1000, CmdStartKernel).Code, 1);
    EXPECT_EQ(status(), QByteArray("\x01\x03", 2));

    QByteArray program = SampleProgram(3000), sealed;
    SealProgram(program, sealed, xa, SampleMoment());
    WriteImage(unit, ProgramAddress, program);
    EXPECT_EQ(Ask(unit, 1000, CmdStartPlc).Code, 6);   // erased header: not complete yet
    WriteImage(unit, ProgramAddress, sealed);
    EXPECT_EQ(status(), QByteArray("\x01\x00", 2));
    EXPECT_EQ(Ask(unit, 1000, CmdStartPlc).Code, 1);
    EXPECT_EQ(status(), QByteArray("\x01\x02", 2));
    EXPECT_EQ(Ask(unit, 1000, CmdStopPlc).Code, 1);
    EXPECT_EQ(status(), QByteArray("\x01\x00", 2));
    EXPECT_EQ(Ask(unit, 1000, CmdStartLoader).Code, 1);
    EXPECT_EQ(status(), QByteArray("\x00\x00", 2));

    // A body byte changed after sealing breaks the checksum.
    unit.SetMemory(ProgramAddress + 100, QByteArray(1, char(~program[100])));
    EXPECT_EQ(Ask(unit, 1000, CmdStartPlc).Code, 6);
}

INSTANTIATE_TEST_SUITE_P(Platforms, SimModes, testing::Values(uint16_t(2), uint16_t(3)),
                         [](const auto& info) { return info.param == 2 ? "XA" : "ARM"; });

TEST(SimFaults, ForcedCodesLeaveCommandUndone)
{
    TSimController unit(FullUnit(1000), QStringLiteral("127.0.0.2"));
    TSimFaults faults;
    faults.ReplyCodeFor.insert(CmdStartPlc, 11);
    unit.SetFaults(faults);
    EXPECT_EQ(Ask(unit, 1000, CmdStartPlc).Code, 11);
    EXPECT_EQ(unit.PlcState, 0);

    faults = {};
    faults.ErrorShare = 1;
    faults.ErrorCode = 2;
    unit.SetFaults(faults);
    EXPECT_EQ(Ask(unit, 1000, CmdWriteClock, QByteArray(7, 1)).Code, 2);
    EXPECT_TRUE(unit.Clock.isEmpty());
    EXPECT_EQ(unit.CommandCounts.value(CmdWriteClock), 1);
}

// A unit unplugged mid-send: the writes before it went are in its flash, nothing after.
TEST(SimFaults, VanishedUnitTakesAndAnswersNothing)
{
    TSimController unit(Unit(1000), QStringLiteral("127.0.0.2"));
    TSimFaults faults;
    faults.VanishAfterWrites = 2;
    unit.SetFaults(faults);
    EXPECT_TRUE(Ask(unit, 1000, CmdPing).Answered);   // only writes count
    const uint16_t block = ProgramAddress / 256;
    EXPECT_EQ(Ask(unit, 1000, CmdWriteBlock, Block(block, 1, QByteArray(1, 0x11))).Code, 1);
    EXPECT_EQ(Ask(unit, 1000, CmdWriteBlock, Block(block + 1, 1, QByteArray(1, 0x22))).Code, 1);

    EXPECT_FALSE(Ask(unit, 1000, CmdWriteBlock, Block(block + 2, 1, QByteArray(1, 0x33))).Answered);
    EXPECT_FALSE(Ask(unit, 0, CmdReadLoaderRecord).Answered);   // not even discovery
    EXPECT_EQ(unit.Memory(ProgramAddress, 1) + unit.Memory(ProgramAddress + 256, 1) +
                  unit.Memory(ProgramAddress + 512, 1),
              QByteArray("\x11\x22\xFF", 3));
    EXPECT_EQ(unit.CommandCounts.value(CmdWriteBlock), 2);
}

// The serial number goes into the unit but its acknowledgement is lost: every attempt
// while the count lasts, then the next write of block 4 is answered again. Other writes
// are not touched.
TEST(SimFaults, LostRecordWriteRepliesLeaveTheWriteDone)
{
    TSimController unit(Unit(Unassigned), QStringLiteral("127.0.0.2"));
    TSimFaults faults;
    faults.LoseRecordWriteReplies = 2;
    unit.SetFaults(faults);
    auto record = LoaderRecordFromBytes(Ask(unit, Unassigned, CmdReadLoaderRecord).Data);
    record.Serial = 1000;
    const QByteArray recordWrite = Block(4, 24, LoaderRecordToBytes(record));

    EXPECT_TRUE(Ask(unit, Unassigned, CmdWriteBlock, Block(ProgramAddress / 256, 1, QByteArray(1, 0))).Answered);
    EXPECT_FALSE(Ask(unit, Unassigned, CmdWriteBlock, recordWrite).Answered);
    EXPECT_EQ(unit.Serial(), 1000u);
    EXPECT_FALSE(Ask(unit, Unassigned, CmdWriteBlock, recordWrite).Answered);
    EXPECT_EQ(Ask(unit, Unassigned, CmdWriteBlock, recordWrite).Code, 1);
    EXPECT_EQ(Ask(unit, 1000, CmdReadBlock, Block(4, 24)).Data, LoaderRecordToBytes(record));
}

// ---- over loopback UDP ----

class SimNetwork : public testing::Test {
protected:
    void SetUp() override
    {
        Simulator.AddController(FullUnit(1000));
        Simulator.AddController(FullUnit(1001));
        Simulator.AddController(Unit(Unassigned));
        QString error;
        ASSERT_TRUE(Simulator.Start(0, &error)) << error.toStdString();
        ASSERT_TRUE(Client.bind(QHostAddress(QStringLiteral("127.0.0.1")), 0));
        QObject::connect(&Client, &QUdpSocket::readyRead, &Client, [this] {
            while (Client.hasPendingDatagrams())
                Received << Client.receiveDatagram();
        });
    }

    void Send(const QString& address, uint32_t nad, uint8_t code)
    {
        Client.writeDatagram(Command(nad, code), QHostAddress(address), quint16(Simulator.Port()));
    }

    bool WaitForDatagrams(int count)
    {
        return QTest::qWaitFor([&] { return Received.size() >= count; }, WaitBound);
    }

    TControllerSimulator Simulator;
    QUdpSocket Client;
    QList<QNetworkDatagram> Received;
};

TEST_F(SimNetwork, UnicastIsAnsweredFromTheUnitsAddress)
{
    Send(QStringLiteral("127.0.0.3"), 1001, CmdPing);
    ASSERT_TRUE(WaitForDatagrams(1));
    EXPECT_EQ(Received[0].senderAddress(), QHostAddress(QStringLiteral("127.0.0.3")));
    EXPECT_EQ(Received[0].senderPort(), Simulator.Port());
    EXPECT_EQ(Received[0].data(), BuildReplyFrame(1001, HostNad, 1));
}

TEST_F(SimNetwork, DiscoveryBroadcastReachesEveryUnit)
{
    Send(TControllerSimulator::BroadcastAddress(), 0, CmdPing);
    ASSERT_TRUE(WaitForDatagrams(3));
    QMap<QString, QByteArray> replies;
    for (const QNetworkDatagram& datagram : Received)
        replies.insert(datagram.senderAddress().toString(), datagram.data());
    EXPECT_EQ(replies.value(QStringLiteral("127.0.0.2")), BuildReplyFrame(1000, HostNad, 1));
    EXPECT_EQ(replies.value(QStringLiteral("127.0.0.3")), BuildReplyFrame(1001, HostNad, 1));
    EXPECT_EQ(replies.value(QStringLiteral("127.0.0.4")), BuildReplyFrame(Unassigned, HostNad, 1));
}

// The client sends ReadStatus and Ping under the fault triggers, then ReadLoaderRecord
// without them, each once the unit has taken the one before, and names every datagram that
// arrives, reassembling as the link does: S status, P ping, R record, E<code> an error reply,
// ~ noise before the frame, + the first part of a frame, ? a frame with a bad checksum.
struct TTransportCase {
    const char* Name;
    TSimFaults Faults;
    QStringList Datagrams;
};

class SimTransportFaults : public SimNetwork, public testing::WithParamInterface<TTransportCase> {
protected:
    QStringList Names() const
    {
        QStringList names;
        QByteArray pending;
        for (const QNetworkDatagram& datagram : Received) {
            QString name;
            QByteArray hex = BytesToHex(datagram.data());
            if (pending.isEmpty()) {
                const qsizetype start = hex.indexOf("AA55");
                if (start > 0)
                    name = QStringLiteral("~");
                hex = hex.mid(std::max<qsizetype>(start, 0));
            }
            pending += hex;
            TParsedFrame frame;
            const int length = int(qFromLittleEndian<uint16_t>(QByteArray::fromHex(pending.mid(4, 4)).constData()));
            if (ParseFrame(pending, frame)) {
                const qsizetype data = frame.Data.size() / 2;
                name += frame.ReplyCode != 1 ? QStringLiteral("E%1").arg(frame.ReplyCode)
                        : data == 2          ? QStringLiteral("S")
                        : data == 24         ? QStringLiteral("R")
                                             : QStringLiteral("P");
                pending.clear();
            } else if (pending.size() < 2 * length + 28) {
                name += QStringLiteral("+");
            } else {
                name += QStringLiteral("?");
                pending.clear();
            }
            names << name;
        }
        return names;
    }
};

TEST_P(SimTransportFaults, ReachTheClientAsSet)
{
    const TTransportCase& c = GetParam();
    TSimController& unit = Simulator.Controller(0);
    unit.SetFaults(c.Faults);
    Send(unit.Address, 1000, CmdReadStatus);
    ASSERT_TRUE(QTest::qWaitFor([&] { return unit.CommandCounts.value(CmdReadStatus) == 1; }, WaitBound));
    Send(unit.Address, 1000, CmdPing);
    ASSERT_TRUE(QTest::qWaitFor([&] { return unit.CommandCounts.value(CmdPing) == 1; }, WaitBound));
    unit.SetFaults({});
    Send(unit.Address, 1000, CmdReadLoaderRecord);
    ASSERT_TRUE(WaitForDatagrams(int(c.Datagrams.size())));
    EXPECT_EQ(Names(), c.Datagrams);
}

TSimFaults With(const std::function<void(TSimFaults&)>& set)
{
    TSimFaults faults;
    set(faults);
    return faults;
}

INSTANTIATE_TEST_SUITE_P(
    Triggers, SimTransportFaults,
    testing::Values(
        TTransportCase{"None", {}, {"S", "P", "R"}},
        TTransportCase{"DropNext", With([](auto& f) { f.DropNext = 1; }), {"P", "R"}},
        TTransportCase{"DropShare", With([](auto& f) { f.DropShare = 1; }), {"R"}},
        TTransportCase{"DelayNext",
                       With([](auto& f) {
                           f.DelayMs = 300;
                           f.DelayNext = 1;
                       }),
                       {"P", "R", "S"}},
        TTransportCase{"DelayAll", With([](auto& f) { f.DelayMs = 300; }), {"R", "S", "P"}},
        TTransportCase{"Latency", With([](auto& f) { f.LatencyMs = 200; }), {"R", "S", "P"}},
        TTransportCase{"Duplicate", With([](auto& f) { f.DuplicateShare = 1; }), {"S", "S", "P", "P", "R"}},
        TTransportCase{"Split", With([](auto& f) { f.SplitReplies = true; }), {"+", "S", "+", "P", "R"}},
        TTransportCase{"SplitWithNoise",
                       With([](auto& f) {
                           f.SplitReplies = true;
                           f.NoiseBytes = 12;
                       }),
                       {"~+", "S", "~+", "P", "R"}},
        TTransportCase{"Noise", With([](auto& f) { f.NoiseBytes = 40; }), {"~S", "~P", "R"}},
        TTransportCase{"CorruptNext", With([](auto& f) { f.CorruptNext = 1; }), {"?", "P", "R"}},
        TTransportCase{"CorruptShare", With([](auto& f) { f.CorruptShare = 1; }), {"?", "?", "R"}},
        TTransportCase{"ReplyCodeFor", With([](auto& f) { f.ReplyCodeFor.insert(CmdPing, 9); }), {"S", "E9", "R"}},
        TTransportCase{"ErrorShare",
                       With([](auto& f) {
                           f.ErrorShare = 1;
                           f.ErrorCode = 11;
                       }),
                       {"E11", "E11", "R"}}),
    [](const auto& info) { return std::string(info.param.Name); });

// ---- latency and the order of replies ----

// The commands go out back to back, each from its own source NAD, which its reply carries
// back as destination; the replies are named by their command's tag in the order they
// arrive. Units 0 and 1 (127.0.0.2, 127.0.0.3) each get their own timing. Latencies are
// hundreds of milliseconds apart, so that a busy machine keeps the order.
struct TStep {
    const char* Tag;
    int Unit;
    uint8_t Command;
    QByteArray Arguments = {};
};

struct TLatencyCase {
    const char* Name;
    TSimFaults Timing[2];
    QList<TStep> Steps;
    QStringList Order;
};

class SimLatency : public SimNetwork, public testing::WithParamInterface<TLatencyCase> {};

TEST_P(SimLatency, RepliesLeaveInTurn)
{
    const TLatencyCase& c = GetParam();
    constexpr uint32_t FirstTag = 100;
    for (int unit = 0; unit < 2; ++unit)
        Simulator.Controller(unit).SetFaults(c.Timing[unit]);
    for (int i = 0; i < c.Steps.size(); ++i) {
        const TStep& step = c.Steps[i];
        TSimController& unit = Simulator.Controller(step.Unit);
        Client.writeDatagram(Command(unit.Serial(), step.Command, step.Arguments, 0, FirstTag + uint32_t(i)),
                             QHostAddress(unit.Address), quint16(Simulator.Port()));
    }
    ASSERT_TRUE(WaitForDatagrams(int(c.Order.size())));
    QStringList order;
    for (const QNetworkDatagram& datagram : Received) {
        const uint32_t tag = qFromLittleEndian<uint32_t>(datagram.data().constData() + 8);
        order << QString::fromLatin1(c.Steps.value(int(tag - FirstTag), TStep{"?", 0, 0}).Tag);
    }
    EXPECT_EQ(order, c.Order);
}

const QByteArray EraseProgram("\x04\x01", 2);

QList<TStep> WritesTo(int unit, int count)
{
    static const char* const tags[] = {"w1", "w2", "w3", "w4", "w5", "w6", "w7", "w8"};
    QList<TStep> writes;
    for (int i = 0; i < count; ++i)
        writes << TStep{tags[i], unit, CmdWriteBlock, Block(uint16_t(ProgramAddress / 256 + i), 4, "\x12\x34\x56\x78")};
    return writes;
}

INSTANTIATE_TEST_SUITE_P(
    Timing, SimLatency,
    testing::Values(
        TLatencyCase{"SlowEraseOnly",
                     {With([](auto& f) { f.LatencyFor.insert(CmdEraseFlash, 300); }),
                      With([](auto& f) { f.LatencyFor.insert(CmdEraseFlash, 300); })},
                     {{"erase", 0, CmdEraseFlash, EraseProgram}, {"ping", 1, CmdPing}},
                     {"ping", "erase"}},
        TLatencyCase{"SlowPingOnly",
                     {With([](auto& f) { f.LatencyFor.insert(CmdPing, 300); }),
                      With([](auto& f) { f.LatencyFor.insert(CmdPing, 300); })},
                     {{"ping", 0, CmdPing}, {"erase", 1, CmdEraseFlash, EraseProgram}},
                     {"erase", "ping"}},
        TLatencyCase{"AddedToLatencyMs",
                     {With([](auto& f) {
                          f.LatencyMs = 200;
                          f.LatencyFor.insert(CmdPing, 400);
                      }),
                      With([](auto& f) { f.LatencyMs = 300; })},
                     {{"ping0", 0, CmdPing}, {"ping1", 1, CmdPing}},
                     {"ping1", "ping0"}},
        TLatencyCase{"NoOvertakingAfterSlowCommand",
                     {With([](auto& f) { f.LatencyFor.insert(CmdEraseFlash, 300); }), {}},
                     {{"erase", 0, CmdEraseFlash, EraseProgram}, {"ping0", 0, CmdPing}, {"ping1", 1, CmdPing}},
                     {"ping1", "erase", "ping0"}},
        TLatencyCase{"OneCommandAtATime",
                     {With([](auto& f) { f.LatencyFor.insert(CmdPing, 400); }),
                      With([](auto& f) { f.LatencyMs = 600; })},
                     {{"first", 0, CmdPing}, {"second", 0, CmdPing}, {"other", 1, CmdPing}},
                     {"first", "other", "second"}},
        TLatencyCase{"MillisecondWritesQueueBehindErase",
                     {With([](auto& f) {
                          f.LatencyFor.insert(CmdEraseFlash, 300);
                          f.LatencyFor.insert(CmdWriteBlock, 1);
                      }),
                      {}},
                     QList<TStep>{{"erase", 0, CmdEraseFlash, EraseProgram}} + WritesTo(0, 8) +
                         QList<TStep>{{"status", 0, CmdReadStatus}, {"ping1", 1, CmdPing}},
                     {"ping1", "erase", "w1", "w2", "w3", "w4", "w5", "w6", "w7", "w8", "status"}},
        TLatencyCase{"LostReplyStillTakesItsTime",
                     {With([](auto& f) {
                          f.LatencyFor.insert(CmdEraseFlash, 300);
                          f.DropNext = 1;
                      }),
                      {}},
                     {{"erase", 0, CmdEraseFlash, EraseProgram}, {"ping0", 0, CmdPing}, {"ping1", 1, CmdPing}},
                     {"ping1", "ping0"}}),
    [](const auto& info) { return std::string(info.param.Name); });

// ---- units added while running ----

TEST_F(SimNetwork, LiveUnitAnswersUnicastAndBroadcast)
{
    QString error;
    const TSimController* arrived = Simulator.AddLiveController(Unit(Unassigned, 2), &error);
    ASSERT_NE(arrived, nullptr) << error.toStdString();
    EXPECT_EQ(arrived->Address, QStringLiteral("127.0.0.5"));

    Send(arrived->Address, Unassigned, CmdReadLoaderRecord);
    ASSERT_TRUE(WaitForDatagrams(1));
    EXPECT_EQ(Received[0].senderAddress(), QHostAddress(arrived->Address));
    Received.clear();

    Send(TControllerSimulator::BroadcastAddress(), 0, CmdReadLoaderRecord);
    ASSERT_TRUE(WaitForDatagrams(4));
    QMap<QString, uint16_t> platforms;
    for (const QNetworkDatagram& datagram : Received) {
        QByteArray text = BytesToHex(datagram.data());
        TParsedFrame frame;
        ASSERT_TRUE(ParseFrame(text, frame));
        platforms.insert(datagram.senderAddress().toString(),
                         LoaderRecordFromBytes(QByteArray::fromHex(frame.Data)).LoaderMajor);
    }
    EXPECT_EQ(platforms.size(), 4);
    EXPECT_EQ(platforms.value(arrived->Address), 2);
}

// A fixture used again: the unit that leaves is handed back as it was, the reply it still
// owed never comes, and the fresh unit answers from the same address.
TEST_F(SimNetwork, ReplacedUnitLeavesItsAddressToAFreshOne)
{
    Simulator.Controller(0).SetFaults(With([](auto& f) { f.LatencyMs = 200; }));
    Send(QStringLiteral("127.0.0.2"), 1000, CmdPing);
    ASSERT_TRUE(QTest::qWaitFor([&] { return Simulator.Controller(0).CommandCounts.value(CmdPing) == 1; }, WaitBound));

    const std::unique_ptr<TSimController> left = Simulator.ReplaceController(0, Unit(Unassigned, 2));
    ASSERT_NE(left, nullptr);
    EXPECT_EQ(left->Serial(), 1000u);
    EXPECT_TRUE(left->HoldsValidKernel());
    EXPECT_EQ(Simulator.Count(), 3);

    Send(QStringLiteral("127.0.0.2"), Unassigned, CmdReadLoaderRecord);
    ASSERT_TRUE(WaitForDatagrams(1));
    QTest::qWait(300);   // past the time the old unit's reply was due
    ASSERT_EQ(Received.size(), 1);
    EXPECT_EQ(Received[0].senderAddress(), QHostAddress(QStringLiteral("127.0.0.2")));
    QByteArray text = BytesToHex(Received[0].data());
    TParsedFrame frame;
    ASSERT_TRUE(ParseFrame(text, frame));
    EXPECT_EQ(frame.Source, Unassigned);
    EXPECT_EQ(LoaderRecordFromBytes(QByteArray::fromHex(frame.Data)).LoaderMajor, 2);
}

// A unit whose address is taken on the port does not arrive and leaves no gap: the next
// one gets that address.
TEST_F(SimNetwork, LiveUnitThatCannotBindIsNotAdded)
{
    QUdpSocket squatter;
    ASSERT_TRUE(squatter.bind(QHostAddress(QStringLiteral("127.0.0.5")), quint16(Simulator.Port())));
    QString error;
    EXPECT_EQ(Simulator.AddLiveController(Unit(Unassigned), &error), nullptr);
    EXPECT_TRUE(error.startsWith(QStringLiteral("127.0.0.5:"))) << error.toStdString();
    EXPECT_EQ(Simulator.Count(), 3);

    squatter.close();
    const TSimController* arrived = Simulator.AddLiveController(Unit(Unassigned), &error);
    ASSERT_NE(arrived, nullptr) << error.toStdString();
    EXPECT_EQ(arrived->Address, QStringLiteral("127.0.0.5"));
}

TEST(SimAddresses, NoneBeyond127_0_0_254)
{
    TControllerSimulator simulator;
    for (int i = 0; i < TControllerSimulator::MaxControllers; ++i)
        simulator.AddController(Unit(Unassigned));
    EXPECT_EQ(simulator.Controller(TControllerSimulator::MaxControllers - 1).Address, QStringLiteral("127.0.0.254"));

    QString error;
    EXPECT_EQ(simulator.AddLiveController(Unit(Unassigned), &error), nullptr);
    EXPECT_TRUE(error.contains(QStringLiteral("127.0.0.254"))) << error.toStdString();
    EXPECT_EQ(simulator.Count(), TControllerSimulator::MaxControllers);

    simulator.AddController(Unit(Unassigned));
    error.clear();
    EXPECT_FALSE(simulator.Start(0, &error));
    EXPECT_TRUE(error.contains(QStringLiteral("127.0.0.254"))) << error.toStdString();
    EXPECT_EQ(simulator.Port(), 0);
}

// ---- on a thread of its own ----

// This thread runs no event loop while it waits for a reply (waitForReadyRead), so only the
// simulator's own thread can answer, latency timer included.
TEST(SimThread, AnswersWhileTheCallersThreadWaits)
{
    TSimulatorThread simulator;
    EXPECT_EQ(simulator.AddController(Unit(1000)), 0);
    QString error;
    ASSERT_TRUE(simulator.Start(0, &error)) << error.toStdString();
    simulator.SetFaults(0, With([](auto& f) { f.LatencyFor.insert(CmdWriteBlock, 20); }));
    QUdpSocket client;
    ASSERT_TRUE(client.bind(QHostAddress(QStringLiteral("127.0.0.1")), 0));
    const auto ask = [&](int unit, uint32_t nad, uint8_t code, const QByteArray& arguments) {
        client.writeDatagram(Command(nad, code, arguments), QHostAddress(simulator.Address(unit)),
                             quint16(simulator.Port()));
        return client.waitForReadyRead(WaitBound) ? client.receiveDatagram().data() : QByteArray();
    };

    const QByteArray data("\x12\x34\x56", 3);
    EXPECT_EQ(ask(0, 1000, CmdWriteBlock, Block(ProgramAddress / 256, 3, data)), BuildReplyFrame(1000, HostNad, 1));
    EXPECT_EQ(simulator.Memory(0, ProgramAddress, 4), data + '\xFF');

    // A fresh unit arrives and gets its serial number through block 4.
    ASSERT_EQ(simulator.AddLiveController(Unit(Unassigned), &error), 1) << error.toStdString();
    EXPECT_EQ(simulator.Address(1), QStringLiteral("127.0.0.3"));
    auto record = LoaderRecordFromBytes(simulator.Memory(1, 4 * 256, 24));
    record.Serial = 2000;
    EXPECT_EQ(ask(1, Unassigned, CmdWriteBlock, Block(4, 24, LoaderRecordToBytes(record))),
              BuildReplyFrame(Unassigned, HostNad, 1));
    EXPECT_EQ(simulator.Serial(1), 2000u);
    EXPECT_EQ(simulator.Count(), 2);

    simulator.Stop();
    EXPECT_EQ(simulator.Port(), 0);
}

// Sockets made from the wrong thread would belong to no event loop that serves them.
TEST(SimThread, CallsFromAnotherThreadAreRefused)
{
    QThread elsewhere;
    TControllerSimulator simulator;
    simulator.moveToThread(&elsewhere);
    QString error;
    EXPECT_FALSE(simulator.Start(0, &error));
    EXPECT_TRUE(error.contains(QStringLiteral("thread"))) << error.toStdString();
    error.clear();
    EXPECT_EQ(simulator.AddLiveController(Unit(Unassigned), &error), nullptr);
    EXPECT_TRUE(error.contains(QStringLiteral("thread"))) << error.toStdString();
    EXPECT_EQ(simulator.Count(), 0);
}

// Shares draw from the seed: the same seed picks the same commands to fail.
TEST(SimFaults, SharesFollowTheSeed)
{
    const auto pattern = [](uint32_t seed) {
        TSimController unit(Unit(1000), QStringLiteral("127.0.0.2"));
        TSimFaults faults;
        faults.ErrorShare = 0.5;
        faults.Seed = seed;
        unit.SetFaults(faults);
        QString codes;
        for (int i = 0; i < 32; ++i)
            codes += QString::number(Ask(unit, 1000, CmdPing).Code);
        return codes;
    };
    EXPECT_EQ(pattern(7), pattern(7));
    EXPECT_NE(pattern(7), pattern(8));
    EXPECT_TRUE(pattern(7).contains(QLatin1Char('1')) && pattern(7).contains(QLatin1Char('5')));
}

// ---- sample images ----

TEST(SimSamples, KernelsAreValidOnTheirPlatformOnly)
{
    const QByteArray xa = SampleKernel(2), arm = SampleKernel(3);
    EXPECT_TRUE(IsValidKernel(xa, KernelHeaderOffsetXA));
    EXPECT_FALSE(IsValidKernel(xa, KernelHeaderOffsetARM));
    EXPECT_TRUE(IsValidKernel(arm, KernelHeaderOffsetARM));
    EXPECT_FALSE(IsValidKernel(arm, KernelHeaderOffsetXA));
    const TKernelHeader header = ReadKernelHeader(arm, KernelHeaderOffsetARM);
    EXPECT_EQ(header.Magic, KernelMagicB);
    EXPECT_EQ(header.ImageSize, uint32_t(arm.size()));
    EXPECT_EQ(header.Checksum, KernelChecksum(arm, KernelHeaderOffsetARM));
    EXPECT_EQ(ReadKernelHeader(xa, KernelHeaderOffsetXA).VersionMajor, 2);
}

TEST(SimSamples, ProgramsAreErasedAndTheirStoredLengthIsWhole)
{
    for (const auto& [image, xa] : {std::pair{SampleProgram(), false}, std::pair{SampleXaFileProgram(), true}}) {
        EXPECT_TRUE(IsValidProgram(image, xa));
        EXPECT_TRUE(IsErasedProgramHeader(ProgramHeaderFromBytes(image).Marker, ProgramHeaderFromBytes(image).Kind));
        TSimControllerConfig config = Unit(1000, xa ? 2 : 3);
        config.Program = SealedProgram(image, xa);
        TSimController unit(config, QStringLiteral("127.0.0.2"));
        ASSERT_TRUE(unit.HoldsValidProgram());
        const auto reader = [&](uint32_t address, uint32_t length, QByteArray& out) {
            out = unit.Memory(address, length);
            return true;
        };
        EXPECT_EQ(StoredProgramLengthOf(ProgramHeaderFromBytes(unit.Memory(ProgramAddress, 114)), xa, reader),
                  image.size());
    }
}

// ---- the executable ----

// Starts orvel-sim on a free port and waits until its output holds awaited; the port, 0 when
// it never got there.
quint16 StartSim(QProcess& process, const QStringList& arguments, const QByteArray& awaited)
{
    process.start(QStringLiteral(ORVEL_SIM_PATH),
                  QStringList{QStringLiteral("--port"), QStringLiteral("0")} + arguments);
    QByteArray output;
    if (!process.waitForStarted(WaitBound) || !QTest::qWaitFor(
                                                  [&] {
                                                      output += process.readAllStandardOutput();
                                                      return output.contains(awaited);
                                                  },
                                                  WaitBound))
        return 0;
    return QRegularExpression(QStringLiteral("port (\\d+)")).match(QString::fromLatin1(output)).captured(1).toUShort();
}

void Terminate(QProcess& process)
{
    ::kill(pid_t(process.processId()), SIGTERM);
    ASSERT_TRUE(process.waitForFinished(WaitBound));
    EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(process.exitCode(), 0);
}

TEST(SimExecutable, ServesUntilTerminated)
{
    QProcess process;
    const quint16 port = StartSim(process,
                                  {QStringLiteral("--controller"), QStringLiteral("serial=1234,platform=xa,alias=9")},
                                  "127.0.0.2");
    ASSERT_NE(port, 0);

    QUdpSocket client;
    ASSERT_TRUE(client.bind(QHostAddress(QStringLiteral("127.0.0.1")), 0));
    client.writeDatagram(Command(9, CmdReadLoaderRecord), QHostAddress(QStringLiteral("127.0.0.2")), port);
    ASSERT_TRUE(QTest::qWaitFor([&] { return client.hasPendingDatagrams(); }, WaitBound));
    QByteArray text = BytesToHex(client.receiveDatagram().data());
    TParsedFrame frame;
    ASSERT_TRUE(ParseFrame(text, frame));
    const auto record = LoaderRecordFromBytes(QByteArray::fromHex(frame.Data));
    EXPECT_EQ(record.Serial, 1234u);
    EXPECT_EQ(record.LoaderMajor, 2);

    Terminate(process);
}

// --latency for every unit, a unit's own latency= in its place for its commands, a unit that
// arrives later with the global latency and its platform.
TEST(SimExecutable, UnitsArriveAndTakeTheirTime)
{
    QProcess process;
    const quint16 port = StartSim(process,
                                  {QStringLiteral("--latency"), QStringLiteral("16:400"),
                                   QStringLiteral("--controller"), QStringLiteral("serial=5"),
                                   QStringLiteral("--controller"), QStringLiteral("serial=6,latency=16:0,18:0"),
                                   QStringLiteral("--arrive"), QStringLiteral("1"), QStringLiteral("--every"),
                                   QStringLiteral("50"), QStringLiteral("--arrive-platform"), QStringLiteral("xa")},
                                  "arrived  127.0.0.4");
    ASSERT_NE(port, 0);

    QUdpSocket client;
    ASSERT_TRUE(client.bind(QHostAddress(QStringLiteral("127.0.0.1")), 0));
    QList<QNetworkDatagram> replies;
    const auto receive = [&](int count) {
        return QTest::qWaitFor(
            [&] {
                while (client.hasPendingDatagrams())
                    replies << client.receiveDatagram();
                return replies.size() >= count;
            },
            WaitBound);
    };
    client.writeDatagram(Command(0, CmdPing), QHostAddress(TControllerSimulator::BroadcastAddress()), port);
    ASSERT_TRUE(receive(3));
    EXPECT_EQ(replies[0].senderAddress(), QHostAddress(QStringLiteral("127.0.0.3")));
    QStringList senders;
    for (const QNetworkDatagram& reply : replies)
        senders << reply.senderAddress().toString();
    senders.sort();
    EXPECT_EQ(senders, QStringList({"127.0.0.2", "127.0.0.3", "127.0.0.4"}));

    client.writeDatagram(Command(Unassigned, CmdReadLoaderRecord), QHostAddress(QStringLiteral("127.0.0.4")), port);
    ASSERT_TRUE(receive(4));
    QByteArray text = BytesToHex(replies[3].data());
    TParsedFrame frame;
    ASSERT_TRUE(ParseFrame(text, frame));
    EXPECT_EQ(LoaderRecordFromBytes(QByteArray::fromHex(frame.Data)).LoaderMajor, 2);

    Terminate(process);
}

// A unit that loses the acknowledgement of its serial number's write and vanishes after
// its third block write, as orvel-sim is told and says.
TEST(SimExecutable, UnitFaultsFromTheCommandLine)
{
    QProcess process;
    const quint16 port = StartSim(process,
                                  {QStringLiteral("--controller"),
                                   QStringLiteral("serial=none,lose-serial-replies=1,vanish-after-writes=3")},
                                  "loses 1 serial number reply  vanishes after 3 block writes");
    ASSERT_NE(port, 0);
    QUdpSocket client;
    ASSERT_TRUE(client.bind(QHostAddress(QStringLiteral("127.0.0.1")), 0));
    const auto ask = [&](uint32_t nad, uint8_t code, const QByteArray& arguments) {
        client.writeDatagram(Command(nad, code, arguments), QHostAddress(QStringLiteral("127.0.0.2")), port);
        return client.waitForReadyRead(300) ? client.receiveDatagram().data() : QByteArray();
    };
    auto record = LoaderRecordFromBytes(QByteArray::fromHex([&] {
        QByteArray text = BytesToHex(ask(Unassigned, CmdReadLoaderRecord, {}));
        TParsedFrame frame;
        return ParseFrame(text, frame) ? frame.Data : QByteArray();
    }()));
    record.Serial = 77;
    const QByteArray recordWrite = Block(4, 24, LoaderRecordToBytes(record));
    EXPECT_TRUE(ask(Unassigned, CmdWriteBlock, recordWrite).isEmpty());
    EXPECT_EQ(ask(Unassigned, CmdWriteBlock, recordWrite), BuildReplyFrame(77, HostNad, 1));
    EXPECT_EQ(ask(77, CmdPing, {}), BuildReplyFrame(77, HostNad, 1));
    EXPECT_EQ(ask(Unassigned, CmdWriteBlock, recordWrite), BuildReplyFrame(77, HostNad, 1));
    EXPECT_TRUE(ask(77, CmdPing, {}).isEmpty());
    Terminate(process);
}

struct TBadOptionsCase {
    const char* Name;
    QStringList Arguments;
    const char* Message;
};

class SimExecutableOptions : public testing::TestWithParam<TBadOptionsCase> {};

TEST_P(SimExecutableOptions, RefusedBeforeServing)
{
    const TBadOptionsCase& c = GetParam();
    QProcess process;
    process.start(QStringLiteral(ORVEL_SIM_PATH),
                  QStringList{QStringLiteral("--port"), QStringLiteral("0")} + c.Arguments);
    ASSERT_TRUE(process.waitForFinished(WaitBound));
    EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(process.exitCode(), 2);
    const QString error = QString::fromLocal8Bit(process.readAllStandardError());
    EXPECT_TRUE(error.startsWith(QStringLiteral("orvel-sim: ") + QLatin1String(c.Message))) << error.toStdString();
    EXPECT_TRUE(process.readAllStandardOutput().isEmpty());
}

INSTANTIATE_TEST_SUITE_P(
    Options, SimExecutableOptions,
    testing::Values(
        TBadOptionsCase{"LatencyWithoutTime", {"--latency", "34"}, "--latency: cannot use \"34\" (CMD:MS"},
        TBadOptionsCase{"LatencyCommandPast255", {"--latency", "34:1,256:5"}, "--latency: cannot use \"34:1,256:5\""},
        TBadOptionsCase{"LatencyNegative", {"--latency", "32:-1"}, "--latency: cannot use"},
        TBadOptionsCase{"LatencyEmpty", {"--latency", ""}, "--latency: cannot use"},
        TBadOptionsCase{"UnitLatencyListWithBadEntry",
                        {"--controller", "serial=5,latency=34:1,32:x,alias=7"},
                        "--controller: cannot use \"latency=34:1,32:x\" (CMD:MS"},
        TBadOptionsCase{"LatencyEntryOutsideLatency",
                        {"--controller", "serial=5,34:1"},
                        "--controller: cannot use \"34:1\""},
        TBadOptionsCase{"VanishNegative",
                        {"--controller", "vanish-after-writes=-1"},
                        "--controller: cannot use \"vanish-after-writes=-1\""},
        TBadOptionsCase{"LostRepliesNotANumber",
                        {"--controller", "lose-serial-replies=all"},
                        "--controller: cannot use \"lose-serial-replies=all\""},
        TBadOptionsCase{"ArriveNone", {"--arrive", "0"}, "--arrive must be 1 to 253"},
        TBadOptionsCase{"ArriveNotANumber", {"--arrive", "many"}, "--arrive must be 1 to 253"},
        TBadOptionsCase{"EveryNegative", {"--arrive", "2", "--every", "-5"}, "--every must be 0 to"},
        TBadOptionsCase{"EveryWithoutArrive", {"--every", "100"}, "--every and --arrive-platform go with --arrive"},
        TBadOptionsCase{"ArriveOldPlatform",
                        {"--arrive", "1", "--arrive-platform", "old"},
                        "--arrive-platform must be arm or xa"},
        TBadOptionsCase{"PastTheLastAddress",
                        {"--controller", "serial=5", "--arrive", "253"},
                        "254 units do not fit: at most 253 (127.0.0.2 to 127.0.0.254)"}),
    [](const auto& info) { return std::string(info.param.Name); });

}   // namespace
