// The loader operations end to end: the link on the loopback adapter, one simulated
// controller answering from 127.0.0.2, a recording front end.
#include "LoaderTestSupport.h"

#include "SampleImages.h"
#include "TestPrinters.h"
#include "uABus.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QUdpSocket>

#include <atomic>
#include <csignal>
#include <functional>
#include <limits>
#include <numeric>
#include <sys/resource.h>

namespace {

using ::PrintTo;   // table rows print as their names

const int ArmHeader = KernelHeaderOffsetARM;

TSimControllerConfig FreshUnit()
{
    TSimControllerConfig config;
    config.Kernel = KernelWithVersion(SampleKernel(3), ArmHeader, 0, 5);   // "3.0.5"
    return config;
}

TSimControllerConfig NumberedUnit(uint32_t serial)
{
    TSimControllerConfig config = FreshUnit();
    config.Serial = serial;
    return config;
}

QByteArray Flipped(QByteArray bytes, int offset)
{
    bytes[offset] = char(bytes[offset] ^ 0x01);
    return bytes;
}

QString StampPattern()
{
    return QStringLiteral("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d");
}

QByteArray ReadAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// ---- production ----

using LoaderProduction = TLoaderFixture;

TEST_F(LoaderProduction, FreshUnitGetsSerialKernelProgramStartAndClockThenTheNextUnitTheNextNumber)
{
    TSimControllerConfig config = FreshUnit();
    TKernelHeader unitSettings = ReadKernelHeader(config.Kernel, ArmHeader);
    unitSettings.NadAlias = 55;
    unitSettings.HardwareModel = 11;
    WriteKernelHeader(config.Kernel, unitSettings, ArmHeader);
    Start(config);

    const TConnectResult connected = Connect();
    ASSERT_EQ(connected.Outcome, TConnectOutcome::Answered);
    EXPECT_EQ(Session->Info.Platform, TPlatform::ARM);
    EXPECT_EQ(connected.Panel.Serial, QStringLiteral("none"));

    const QByteArray kernelFile = SampleKernel(3, 32 * 1024);   // "3.1.7"
    const QByteArray programFile = SampleProgram(20 * 1024);
    TJob inputs;
    LoadFiles(inputs, kernelFile, programFile);
    EXPECT_TRUE(Events.Messages.contains(QStringLiteral("kernel file loaded (v3.1.7)")));
    EXPECT_TRUE(Events.Messages.contains(QStringLiteral("plc program loaded")));
    inputs.Serial.Write = true;
    inputs.Serial.Number = 1000;
    inputs.Serial.Autoincrement = true;
    inputs.StartPlc = true;
    inputs.SetClock = true;
    const QByteArray recordBefore = Unit->LoaderRecord();

    Events.Clear();
    ASSERT_TRUE(Session->DoSend(inputs, Session->TakeImages()));
    EXPECT_EQ(Events.Messages, QStringList({"starting loader", "erasing flash", "sending kernel", "starting kernel",
                                            "erasing flash", "sending plc program", "sent successfully",
                                            "starting plc program", "command executed successfully",
                                            "writing real-time clock", "command executed successfully"}));
    EXPECT_TRUE(Events.Calls.contains(QStringLiteral("[clear info]")));
    EXPECT_EQ(Events.PlcStatus.first(), QStringLiteral("loader"));
    EXPECT_EQ(Waits, QList<int>({500, 200}));
    EXPECT_EQ(Events.Advanced, QList<int32_t>({1001}));
    EXPECT_EQ(Session->NextNad, 1000);
    EXPECT_EQ(Session->CurrentOperation, OpNone);
    EXPECT_EQ(Events.LastTotalMaximum, kernelFile.size() + programFile.size());
    EXPECT_EQ(Events.LastTotal, Events.LastTotalMaximum);   // every byte of both transfers counted

    const QStringList lines = ProductionLogLines();
    ASSERT_EQ(lines.size(), 1);
    EXPECT_TRUE(lines[0].contains(QRegularExpression(
        StampPattern() + QStringLiteral(" nad none      serial 000001000 ok  kernel v3\\.0\\.5 ok  plc ok  "
                                        "\\(program\\.bin\\)$"))))
        << lines[0].toStdString();

    // The unit holds the file's kernel with the built header: the file's version and body,
    // the unit's own settings, its own size, date and checksum.
    EXPECT_EQ(Unit->Serial(), 1000u);
    // The identification record went back with only its serial number's four bytes changed.
    EXPECT_EQ(Unit->LoaderRecord().left(12) + Unit->LoaderRecord().mid(16),
              recordBefore.left(12) + recordBefore.mid(16));
    const QByteArray kernel = Unit->Memory(KernelAddress, uint32_t(kernelFile.size()));
    const TKernelHeader written = ReadKernelHeader(kernel, ArmHeader);
    EXPECT_EQ(+written.VersionMinor, 1);
    EXPECT_EQ(+written.ReleaseARM, 7);
    EXPECT_EQ(+written.NadAlias, 55u);
    EXPECT_EQ(+written.HardwareModel, 11);
    EXPECT_EQ(+written.ImageSize, uint32_t(kernelFile.size()));
    EXPECT_EQ(+written.Checksum, KernelChecksum(kernel, ArmHeader));
    EXPECT_EQ(kernel.left(ArmHeader), kernelFile.left(ArmHeader));
    EXPECT_EQ(kernel.mid(ArmHeader + 88), kernelFile.mid(ArmHeader + 88));
    EXPECT_EQ(Unit->Memory(KernelAddress + uint32_t(kernelFile.size()), 256), QByteArray(256, char(0xFF)));

    // ... and the sealed program, whose header went last.
    const QByteArray program = Unit->Memory(ProgramAddress, uint32_t(programFile.size()));
    const auto sealed = ProgramHeaderFromBytes(program);
    EXPECT_EQ(+sealed.Marker, 0);
    EXPECT_EQ(+sealed.Kind, ProgramKindARM);
    EXPECT_TRUE(IsValidProgram(program, false));
    EXPECT_EQ(program.mid(16), programFile.mid(16));
    EXPECT_EQ(Unit->PlcState(), 2);   // run
    EXPECT_EQ(Unit->Clock().size(), 7);

    // The closing connection finds the unit under its new number, once.
    const TConnectResult after = Connect();
    ASSERT_EQ(after.Outcome, TConnectOutcome::Answered);
    EXPECT_EQ(Link->Nad, 1000);
    EXPECT_EQ(Session->NextNad, 0);
    EXPECT_EQ(after.Panel.Serial, QStringLiteral("1000"));
    EXPECT_EQ(after.Panel.KernelVersion, QStringLiteral("3.1.7"));
    EXPECT_EQ(after.Panel.PLCProgram, QStringLiteral("ok"));

    // The next fresh unit on the bench, addressed as NAD -1 again, gets the next number.
    QByteArray record = Unit->LoaderRecord();
    record.replace(12, 4, QByteArray(4, char(0xFF)));
    Unit->SetLoaderRecord(record);
    Unit->Restart();
    ASSERT_EQ(Connect().Outcome, TConnectOutcome::Answered);
    EXPECT_EQ(Link->Nad, -1);
    TJob next;
    next.Serial.Write = true;
    next.Serial.Number = Events.Advanced.last();
    next.Serial.Autoincrement = true;
    ASSERT_TRUE(Session->DoSend(next, Session->TakeImages()));
    EXPECT_EQ(Unit->Serial(), 1001u);
    EXPECT_EQ(Events.Advanced, QList<int32_t>({1001, 1002}));
    const QStringList both = ProductionLogLines();
    ASSERT_EQ(both.size(), 2);
    EXPECT_TRUE(both[1].endsWith(QStringLiteral(" nad none      serial 000001001 ok  kernel ------ --- plc --- (-)")))
        << both[1].toStdString();
}

TEST_F(LoaderProduction, SettingsChangeReadsTheKernelBackAndWritesItWithTheNewHeader)
{
    Start(NumberedUnit(2000));
    ASSERT_EQ(Connect(QStringLiteral("2000")).Outcome, TConnectOutcome::Answered);
    const QByteArray before = Unit->Memory(KernelAddress, uint32_t(FreshUnit().Kernel.size()));

    TJob inputs;
    inputs.Settings.NadAlias = QStringLiteral("77");
    inputs.Settings.HardwareModel = 2;   // "Orvel-L"
    Events.Clear();
    ASSERT_TRUE(Session->DoSend(inputs, Session->TakeImages()));
    EXPECT_EQ(Events.Messages, QStringList({"reading kernel", "starting loader", "erasing flash", "sending kernel",
                                            "starting kernel", "sent successfully"}));

    const QByteArray after = Unit->Memory(KernelAddress, uint32_t(before.size()));
    const TKernelHeader header = ReadKernelHeader(after, ArmHeader);
    EXPECT_EQ(+header.NadAlias, 77u);
    EXPECT_EQ(+header.HardwareModel, 12);
    EXPECT_EQ(+header.VersionMinor, 0);   // still the unit's own kernel
    EXPECT_EQ(+header.Checksum, KernelChecksum(after, ArmHeader));
    EXPECT_EQ(after.left(ArmHeader), before.left(ArmHeader));
    EXPECT_EQ(after.mid(ArmHeader + 88), before.mid(ArmHeader + 88));
    EXPECT_TRUE(Session->KernelImage.isEmpty());   // the send used a buffer of its own

    const QStringList lines = ProductionLogLines();
    ASSERT_EQ(lines.size(), 1);
    EXPECT_TRUE(lines[0].endsWith(QStringLiteral(" nad 000002000 serial --------- --- kernel ------ ok  plc --- (-)")))
        << lines[0].toStdString();
}

// ---- the NAD choice of a connection ----

struct TConnectCase {
    const char* Name;
    const char* NadText;
    TConnectOutcome Outcome;
    const char* Message;   // the connection's log line, "" for none
};

class LoaderConnect : public TLoaderFixture, public ::testing::WithParamInterface<TConnectCase> {};

TEST_P(LoaderConnect, ChoosesTheNadAndReports)
{
    Start(FreshUnit());
    Link->Attempts = 1;   // keeps the unanswered ping short
    const TConnectResult result = Connect(QString::fromLatin1(GetParam().NadText));
    EXPECT_EQ(result.Outcome, GetParam().Outcome);
    EXPECT_EQ(Events.Messages.value(0), QString::fromLatin1(GetParam().Message));
}

INSTANTIATE_TEST_SUITE_P(
    Loader, LoaderConnect,
    ::testing::Values(TConnectCase{"zero_is_refused", "00", TConnectOutcome::NoNad, "invalid nad"},
                      TConnectCase{"text_no_number_is_the_fresh_unit", "abc", TConnectOutcome::Answered, "connected"},
                      TConnectCase{"discovered_fresh_unit", "4294967295", TConnectOutcome::Answered, "connected"},
                      TConnectCase{"nobody_answers", "4242", TConnectOutcome::NotAnswered, "error connecting to 4242"}),
    [](const auto& info) { return std::string(info.param.Name); });

// ---- verify ----

enum class TSpoil { Nothing, Settings, Kernel, Program };

struct TVerifyCase {
    const char* Name;
    TSpoil Spoil;
    bool Config, Kernel, Program;   // the icons expected GREEN
};

class LoaderVerify : public TLoaderFixture, public ::testing::WithParamInterface<TVerifyCase> {};

TEST_P(LoaderVerify, ComparesSettingsKernelAndProgramWithWhatASendWrote)
{
    Start(NumberedUnit(3000));
    ASSERT_EQ(Connect(QStringLiteral("3000")).Outcome, TConnectOutcome::Answered);
    TJob inputs;
    LoadFiles(inputs, SampleKernel(3, 16 * 1024), SampleProgram(1024));
    inputs.Settings.NadAlias = QStringLiteral("77");
    ASSERT_TRUE(Session->DoSend(inputs, Session->TakeImages()));
    ASSERT_EQ(Connect(QStringLiteral("3000")).Outcome, TConnectOutcome::Answered);

    const uint32_t aliasAt = KernelAddress + uint32_t(ArmHeader) + 26;
    switch (GetParam().Spoil) {
    case TSpoil::Nothing:
        break;
    case TSpoil::Settings:   // the alias lies inside the compared part of the kernel too
        Unit->SetMemory(aliasAt, Flipped(Unit->Memory(aliasAt, 1), 0));
        break;
    case TSpoil::Kernel:
        Unit->SetMemory(KernelAddress + 0x2000, Flipped(Unit->Memory(KernelAddress + 0x2000, 1), 0));
        break;
    case TSpoil::Program:
        Unit->SetMemory(ProgramAddress + 500, Flipped(Unit->Memory(ProgramAddress + 500, 1), 0));
        break;
    }

    Events.Clear();
    const bool passed = GetParam().Config && GetParam().Kernel && GetParam().Program;
    EXPECT_EQ(Session->DoVerify(inputs, Session->TakeImages()), passed);
    EXPECT_EQ(Events.Verify.value(TVerifyCheck::Config), GetParam().Config);
    EXPECT_EQ(Events.Verify.value(TVerifyCheck::Kernel), GetParam().Kernel);
    EXPECT_EQ(Events.Verify.value(TVerifyCheck::Program), GetParam().Program);
    EXPECT_EQ(Events.Messages.contains(QStringLiteral("config ok")), GetParam().Config);
    EXPECT_EQ(Events.Messages.contains(QStringLiteral("kernel ok")), GetParam().Kernel);
    EXPECT_EQ(Events.Messages.contains(QStringLiteral("plc program ok")), GetParam().Program);
    EXPECT_EQ(Events.Messages.last(),
              passed ? QStringLiteral("verified successfully") : QStringLiteral("verify error"));
    EXPECT_EQ(Session->KernelDump, Unit->Memory(KernelAddress, 16 * 1024));
    EXPECT_EQ(Session->ProgramDump, Unit->Memory(ProgramAddress, 1024));
}

INSTANTIATE_TEST_SUITE_P(Loader, LoaderVerify,
                         ::testing::Values(TVerifyCase{"all_green", TSpoil::Nothing, true, true, true},
                                           TVerifyCase{"settings_differ", TSpoil::Settings, false, false, true},
                                           TVerifyCase{"kernel_differs", TSpoil::Kernel, true, false, true},
                                           TVerifyCase{"program_differs", TSpoil::Program, true, true, false}),
                         [](const auto& info) { return std::string(info.param.Name); });

// ---- memory dumps ----

struct TDumpCase {
    const char* Name;
    std::function<void(TSimControllerConfig&)> Configure;
    bool Kernel;
    int Size;
};

class LoaderDump : public TLoaderFixture, public ::testing::WithParamInterface<TDumpCase> {};

TEST_P(LoaderDump, SavesExactlyTheControllersMemory)
{
    TSimControllerConfig config = NumberedUnit(4000);
    GetParam().Configure(config);
    Start(config);
    ASSERT_EQ(Connect(QStringLiteral("4000")).Outcome, TConnectOutcome::Answered);
    const QString path = Dir.filePath(QStringLiteral("dump.bin"));
    Events.Clear();

    const bool kernel = GetParam().Kernel;
    ASSERT_TRUE(kernel ? Session->DoSaveKernel(path) : Session->DoSaveProgram(path));
    const QByteArray saved = ReadAll(path);
    EXPECT_EQ(saved.size(), GetParam().Size);
    EXPECT_EQ(saved, Unit->Memory(kernel ? KernelAddress : ProgramAddress, uint32_t(GetParam().Size)));
    EXPECT_EQ(Events.Messages.last(), (kernel ? QStringLiteral("saved plc kernel memory dump to ")
                                              : QStringLiteral("saved plc program memory dump to ")) +
                                          path);
    EXPECT_EQ(Session->CurrentOperation, OpNone);
}

INSTANTIATE_TEST_SUITE_P(Loader, LoaderDump,
                         ::testing::Values(TDumpCase{"kernel_of_40000_bytes",
                                                     [](TSimControllerConfig& c) { c.Kernel = SampleKernel(3, 40000); },
                                                     true, 40000},
                                           TDumpCase{"kernel_without_header",
                                                     [](TSimControllerConfig& c) { c.Kernel.clear(); }, true, 65536},
                                           TDumpCase{"no_program", [](TSimControllerConfig&) {}, false, 2097152}),
                         [](const auto& info) { return std::string(info.param.Name); });

using LoaderDumpFile = TLoaderFixture;

TEST_F(LoaderDumpFile, NoFileChosenDoesNothing)
{
    Start(NumberedUnit(4000));
    ASSERT_EQ(Connect(QStringLiteral("4000")).Outcome, TConnectOutcome::Answered);
    const int frames = Unit->ReceivedFrames().size();
    Events.Clear();
    EXPECT_FALSE(Session->DoSaveProgram(QString()));
    EXPECT_TRUE(Events.Messages.isEmpty());
    EXPECT_EQ(Unit->ReceivedFrames().size(), frames);
    EXPECT_EQ(Session->CurrentOperation, OpNone);
}

TEST_F(LoaderDumpFile, FailedWriteKeepsTheOldFileWhole)
{
    Start(NumberedUnit(4000));
    ASSERT_EQ(Connect(QStringLiteral("4000")).Outcome, TConnectOutcome::Answered);
    const QString path = WriteFile(QStringLiteral("dump.bin"), QByteArrayLiteral("the previous dump"));

    // The disk takes no file beyond 4 KiB (even for root), so the 48 KiB dump cannot be written.
    rlimit previous{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &previous), 0);
    const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = previous;
    small.rlim_cur = 4096;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const bool saved = Session->DoSaveKernel(path);
    setrlimit(RLIMIT_FSIZE, &previous);
    std::signal(SIGXFSZ, previousHandler);

    EXPECT_FALSE(saved);
    EXPECT_EQ(ReadAll(path), QByteArrayLiteral("the previous dump"));
    EXPECT_EQ(QDir(Dir.path()).entryList(QDir::Files), QStringList({"dump.bin"}));   // no leftovers
    ASSERT_EQ(Events.Errors.size(), 1);
    EXPECT_TRUE(Events.Messages.last().startsWith(QStringLiteral("error: can't write ") + path));
    EXPECT_EQ(Session->CurrentOperation, OpNone);
}

// ---- send failures: one row per reason the send gives ----

struct TFailureCase {
    const char* Name;
    std::function<void(TSimControllerConfig&)> Configure;
    std::function<void(TLoaderFixture&, TJob&)> Arrange;   // after connecting
    const char* Expected;                                  // the send's last line
    bool SerialWritten;
    bool EraseAsked;
    TFailureKind Kind;   // the send's failure, which keeps that last line as its words
};

void NoChange(TSimControllerConfig&) {}

void AssignSerial(TJob& inputs, int32_t number)
{
    inputs.Serial.Write = true;
    inputs.Serial.Number = number;
}

void SetAlias(TJob& inputs)
{
    inputs.Settings.NadAlias = QStringLiteral("5");
}

void HoldSealedProgram(TSimControllerConfig& config)
{
    config.Program = SealedProgram(SampleProgram(1024), false);
}

// Valid on the other platform (its checksum covers more than an XA program's 64 KiB), so
// an XA controller would not get it sealed.
QByteArray ArmOnlyProgram()
{
    QByteArray program = SampleProgram(70000);
    auto header = ProgramHeaderFromBytes(program);
    header.ProgramLength = 65536 + 100;
    program.replace(0, ProgramHeaderSize, ProgramHeaderToBytes(header));
    return SealedProgram(program, false);
}

class LoaderSendFailure : public TLoaderFixture, public ::testing::WithParamInterface<TFailureCase> {};

TEST_P(LoaderSendFailure, StopsWithItsReason)
{
    const TFailureCase& c = GetParam();
    TSimControllerConfig config = FreshUnit();
    c.Configure(config);
    Start(config);
    ASSERT_EQ(Connect(config.Serial == NoSerialNumber ? QString() : QString::number(config.Serial)).Outcome,
              TConnectOutcome::Answered);
    TJob inputs;
    inputs.StartPlc = true;   // never reached after a failure
    c.Arrange(*this, inputs);

    Events.Clear();
    EXPECT_FALSE(Session->DoSend(inputs, Session->TakeImages()));
    EXPECT_EQ(Events.Messages.last(), QString::fromLatin1(c.Expected));
    EXPECT_EQ(FailureKindName(Session->Failure.Kind), FailureKindName(c.Kind));
    EXPECT_EQ(Session->Failure.Text, Events.Messages.last());
    EXPECT_EQ(Unit->Serial() != NoSerialNumber, c.SerialWritten);
    EXPECT_EQ(CommandCount(CmdEraseFlash) > 0, c.EraseAsked);
    EXPECT_EQ(CommandCount(CmdStartPlc), 0);
    // Only a serial number this send gave away is on record: the unit keeps it.
    const bool numberSpent = c.SerialWritten && config.Serial == NoSerialNumber;
    EXPECT_EQ(ProductionLogLines().size(), numberSpent ? 1 : 0);
    EXPECT_EQ(Session->CurrentOperation, OpNone);
}

INSTANTIATE_TEST_SUITE_P(Loader, LoaderSendFailure,
                         ::testing::Values(
                             TFailureCase{"plc_not_responding", NoChange,
                                          [](TLoaderFixture& f, TJob& in) {
                                              TSimFaults silent;
                                              silent.DropNext = 2;
                                              f.Unit->SetFaults(silent);
                                              f.Link->Attempts = 2;
                                              f.Link->Timeout = 50;
                                              AssignSerial(in, 1000);
                                          },
                                          "error: plc not responding", false, false, TFailureKind::NotAnswering},
                             TFailureCase{"serial_number_already_set", [](TSimControllerConfig& c) { c.Serial = 900; },
                                          [](TLoaderFixture&, TJob& in) { AssignSerial(in, 1000); },
                                          "error: serial number already set", true, false, TFailureKind::UnitTaken},
                             TFailureCase{"loader_write_failed", NoChange,
                                          [](TLoaderFixture& f, TJob& in) {
                                              f.Refuse(CmdWriteBlock, 11);
                                              AssignSerial(in, 1000);
                                          },
                                          "error: loader write failed", false, false, TFailureKind::Refused},
                             TFailureCase{"some_parameters_are_invalid", NoChange,
                                          [](TLoaderFixture&, TJob& in) {
                                              AssignSerial(in, 1000);
                                              in.Settings.NadAlias = QStringLiteral("-1");
                                          },
                                          "error: some parameters are invalid", true, false, TFailureKind::InvalidJob},
                             // A file that cannot go into this unit is refused before the unit takes a number.
                             TFailureCase{"no_valid_kernel_file", NoChange,
                                          [](TLoaderFixture&, TJob& in) {
                                              AssignSerial(in, 1000);
                                              in.Kernel = TJobFile{};
                                          },
                                          "error: no valid kernel file", false, false, TFailureKind::FileError},
                             TFailureCase{"kernel_of_the_other_platform",
                                          [](TSimControllerConfig& c) { c.LoaderMajor = 2; },
                                          [](TLoaderFixture& f, TJob& in) {
                                              f.LoadFiles(in, SampleKernel(3, 16 * 1024), {});
                                              AssignSerial(in, 1000);
                                          },
                                          "error: no valid kernel file", false, false, TFailureKind::WrongPlatform},
                             TFailureCase{"no_valid_plc_program_file", NoChange,
                                          [](TLoaderFixture& f, TJob& in) {
                                              f.LoadFiles(in, {}, QByteArrayLiteral("too short"));
                                              AssignSerial(in, 1000);
                                          },
                                          "error: no valid plc program file", false, false, TFailureKind::FileError},
                             TFailureCase{"cant_read_kernel", NoChange,
                                          [](TLoaderFixture& f, TJob& in) {
                                              f.Refuse(CmdReadBlock, 11);
                                              SetAlias(in);
                                          },
                                          "error: can't read kernel", false, false, TFailureKind::Refused},
                             TFailureCase{"no_valid_kernel_found_in_plc",
                                          [](TSimControllerConfig& c) {
                                              c.Kernel = KernelClaimingSize(c.Kernel, ArmHeader, 1000);
                                          },
                                          [](TLoaderFixture&, TJob& in) { SetAlias(in); },
                                          "error: no valid kernel found in plc", false, false, TFailureKind::Mismatch},
                             TFailureCase{"kernel_size_beyond_the_kernel_area",
                                          [](TSimControllerConfig& c) {
                                              c.Kernel = KernelClaimingSize(c.Kernel, ArmHeader, 0x7FFFFFFF);
                                          },
                                          [](TLoaderFixture&, TJob& in) { SetAlias(in); },
                                          "error: no valid kernel found in plc", false, false, TFailureKind::Mismatch},
                             TFailureCase{"invalid_kernel", NoChange,
                                          [](TLoaderFixture& f, TJob& in) {
                                              f.Session->Info.KernelHeader.VersionMajor =
                                                  7;   // as read at the connection
                                              SetAlias(in);
                                          },
                                          "error: invalid kernel", false, false, TFailureKind::Mismatch},
                             TFailureCase{"cant_read_plc_program", HoldSealedProgram,
                                          [](TLoaderFixture& f, TJob&) { f.Refuse(CmdReadBlock, 11); },
                                          "error: can't read plc program", false, false, TFailureKind::Refused},
                             TFailureCase{"no_valid_program_found_in_plc", HoldSealedProgram,
                                          [](TLoaderFixture& f, TJob&) {
                                              f.Unit->SetMemory(ProgramAddress + 100,
                                                                Flipped(f.Unit->Memory(ProgramAddress + 100, 1), 0));
                                          },
                                          "error: no valid program found in plc", false, false, TFailureKind::Mismatch},
                             TFailureCase{"failed_command_gives_the_error_line", NoChange,
                                          [](TLoaderFixture& f, TJob& in) {
                                              f.LoadFiles(in, SampleKernel(3, 16 * 1024), {});
                                              f.Refuse(CmdEraseFlash, 11);
                                          },
                                          "error: flash fail", false, true, TFailureKind::Refused},
                             TFailureCase{"serial_number_box_without_a_number", NoChange,
                                          [](TLoaderFixture&, TJob& in) { AssignSerial(in, -1); },
                                          "error: invalid serial number", false, false, TFailureKind::InvalidJob},
                             TFailureCase{"serial_number_zero_is_reserved", NoChange,
                                          [](TLoaderFixture&, TJob& in) { AssignSerial(in, 0); },
                                          "error: invalid serial number", false, false, TFailureKind::InvalidJob},
                             TFailureCase{"negative_serial_number", NoChange,
                                          [](TLoaderFixture&, TJob& in) { AssignSerial(in, -5); },
                                          "error: invalid serial number", false, false, TFailureKind::InvalidJob},
                             TFailureCase{"lowest_serial_number", NoChange,
                                          [](TLoaderFixture&,
                                             TJob& in) { AssignSerial(in, std::numeric_limits<int32_t>::min()); },
                                          "error: invalid serial number", false, false, TFailureKind::InvalidJob},
                             TFailureCase{"program_not_valid_for_this_platform",
                                          [](TSimControllerConfig& c) { c.LoaderMajor = 2; },
                                          [](TLoaderFixture& f, TJob& in) {
                                              // Loaded while a controller of the other platform was connected.
                                              f.Session->ProgramImage = ArmOnlyProgram();
                                              f.Session->ProgramFileState = TFileState::Loaded;
                                              in.Program = TJobFile{};
                                              AssignSerial(in, 1000);
                                          },
                                          "error: invalid plc program", false, false, TFailureKind::WrongPlatform}),
                         [](const auto& info) { return std::string(info.param.Name); });

// ---- start, stop and what the window sees around them ----

struct TPlcCase {
    const char* Name;
    bool Start;
    std::function<void(TLoaderFixture&)> Arrange;
    const char* Line;
    TFailureKind Kind;
};

class LoaderPlcCommand : public TLoaderFixture, public ::testing::WithParamInterface<TPlcCase> {};

TEST_P(LoaderPlcCommand, NamesWhyItFailed)
{
    Start(NumberedUnit(5000));   // no program in it
    ASSERT_EQ(Connect(QStringLiteral("5000")).Outcome, TConnectOutcome::Answered);
    GetParam().Arrange(*this);
    Events.Clear();
    EXPECT_FALSE(GetParam().Start ? Session->DoStartPlc() : Session->DoStopPlc());
    EXPECT_EQ(Events.Calls,
              QStringList({GetParam().Start ? "starting plc program" : "stopping plc program", GetParam().Line}));
    EXPECT_EQ(FailureKindName(Session->Failure.Kind), FailureKindName(GetParam().Kind));
    EXPECT_EQ(Session->CurrentOperation, OpNone);
}

INSTANTIATE_TEST_SUITE_P(Loader, LoaderPlcCommand,
                         ::testing::Values(TPlcCase{"start_refused_with_code_6", true, [](TLoaderFixture&) {},
                                                    "error: no valid program", TFailureKind::Refused},
                                           TPlcCase{"stop_unanswered_after_an_acknowledge", false,
                                                    [](TLoaderFixture& f) {
                                                        TSimFaults silent;
                                                        silent.DropNext = 1;
                                                        f.Unit->SetFaults(silent);
                                                        f.Link->Attempts = 1;
                                                        f.Link->Timeout = 50;
                                                    },
                                                    "error", TFailureKind::NotAnswering}),
                         [](const auto& info) { return std::string(info.param.Name); });

using LoaderPlc = TLoaderFixture;

TEST_F(LoaderPlc, UnwritableProductionLogIsReportedAndTheRunGoesOn)
{
    TSimControllerConfig config = FreshUnit();
    config.Program = SealedProgram(SampleProgram(1024), false);
    Start(config);
    ASSERT_EQ(Connect().Outcome, TConnectOutcome::Answered);
    Session->ProductionLogPath = Dir.path();   // a folder: the file cannot be opened
    TJob inputs;
    inputs.Serial.Write = true;
    inputs.Serial.Number = 6000;
    inputs.StartPlc = true;

    Events.Clear();
    EXPECT_TRUE(Session->DoSend(inputs, Session->TakeImages()));
    ASSERT_EQ(Events.Errors.size(), 1);
    EXPECT_TRUE(Events.Errors[0].startsWith(QStringLiteral("can't write production log ") + Dir.path()));
    const int error = int(Events.Messages.indexOf(QStringLiteral("error: ") + Events.Errors[0]));
    EXPECT_EQ(error, Events.Messages.indexOf(QStringLiteral("sent successfully")) + 1);
    EXPECT_EQ(Events.Messages.mid(error + 1), QStringList({"starting plc program", "command executed successfully"}));
    EXPECT_EQ(Unit->PlcState(), 2);
    EXPECT_EQ(Connect().Outcome, TConnectOutcome::Answered);
    EXPECT_EQ(Link->Nad, 6000);
}

TEST_F(LoaderPlc, AutoincrementStopsAtTheHighestSerialNumber)
{
    Start(FreshUnit());
    ASSERT_EQ(Connect().Outcome, TConnectOutcome::Answered);
    TJob inputs;
    inputs.Serial.Write = true;
    inputs.Serial.Number = 2147483647;
    inputs.Serial.Autoincrement = true;
    EXPECT_TRUE(Session->DoSend(inputs, Session->TakeImages()));
    EXPECT_EQ(Unit->Serial(), 2147483647u);
    EXPECT_TRUE(Events.Advanced.isEmpty());
    EXPECT_TRUE(Events.Messages.contains(
        QStringLiteral("serial number 2147483647 is the highest; the serial number was not advanced")));
}

// ---- image files ----

struct TFileCase {
    const char* Name;
    bool Kernel;
    int Size;   // -1: no file at all
    const char* Message;
    TFileState State;
    QByteArray (*Bytes)() = nullptr;   // the file's bytes when not a sample image of Size
    bool Sparse = false;               // a sparse file of several GiB
};

QByteArray ProgramWithLength(uint32_t length)
{
    QByteArray image = SampleProgram(600);   // erased header: no checksum to match
    auto header = ProgramHeaderFromBytes(image);
    header.ProgramLength = length;
    image.replace(0, ProgramHeaderSize, ProgramHeaderToBytes(header));
    return image;
}

class LoaderImageFile : public TLoaderFixture, public ::testing::WithParamInterface<TFileCase> {};

TEST_P(LoaderImageFile, IsJudgedWithoutReadingWhatCannotBeValid)
{
    Start(NumberedUnit(7000));
    ASSERT_EQ(Connect(QStringLiteral("7000")).Outcome, TConnectOutcome::Answered);   // an ARM unit
    const TFileCase& c = GetParam();
    TJob inputs;
    QString path;
    if (c.Sparse) {
        path = Dir.filePath(QStringLiteral("huge.bin"));
        QFile huge(path);
        ASSERT_TRUE(huge.open(QIODevice::WriteOnly) && huge.resize(qint64(5) << 30));   // no blocks written
    } else if (c.Bytes) {
        path = WriteFile(QStringLiteral("image.bin"), c.Bytes());
    } else {
        path = c.Size < 0
                   ? Dir.filePath(QStringLiteral("missing.bin"))
                   : WriteFile(QStringLiteral("image.bin"), c.Kernel ? SampleKernel(3, c.Size) : SampleProgram(c.Size));
    }
    (c.Kernel ? inputs.Kernel : inputs.Program) = TJobFile{path, QString()};

    Events.Clear();
    Session->LoadImageFiles(inputs);
    EXPECT_EQ(Events.Messages, QStringList(QString::fromLatin1(c.Message)));
    EXPECT_EQ(c.Kernel ? Session->KernelFileState : Session->ProgramFileState, c.State);
    // A file whose size alone rules it out is never read into memory.
    if (c.Sparse || c.Size < 0 || c.Size > (c.Kernel ? MaxKernelSize : ProgramAreaSize)) {
        EXPECT_TRUE((c.Kernel ? Session->KernelImage : Session->ProgramImage).isEmpty());
    }
    // What a recipe pins and a record names: the SHA-256 of the file as read, before the
    // kernel's stamp; none for a file not loaded.
    const TLoadedImages images = Session->TakeImages();
    const QString source = c.Kernel ? images.KernelSourceSha256 : images.ProgramSourceSha256;
    if (c.State == TFileState::Loaded) {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        EXPECT_EQ(source, QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha256).toHex());
    } else {
        EXPECT_TRUE(source.isEmpty()) << source.toStdString();
    }
}

INSTANTIATE_TEST_SUITE_P(
    Loader, LoaderImageFile,
    ::testing::Values(
        TFileCase{"kernel", true, 65536, "kernel file loaded (v3.1.7)", TFileState::Loaded},
        TFileCase{"kernel_one_byte_too_long", true, 65537, "invalid kernel file", TFileState::Invalid},
        TFileCase{"kernel_missing", true, -1, "kernel file not found", TFileState::NotLoaded},
        TFileCase{"program", false, ProgramAreaSize, "plc program loaded", TFileState::Loaded},
        TFileCase{"program_beyond_the_program_area", false, ProgramAreaSize + 1, "invalid plc program",
                  TFileState::Invalid},
        TFileCase{"program_missing", false, -1, "plc program not found", TFileState::NotLoaded},
        TFileCase{"kernel_empty", true, 0, "invalid kernel file", TFileState::Invalid, [] { return QByteArray(); }},
        TFileCase{"kernel_one_byte", true, 0, "invalid kernel file", TFileState::Invalid,
                  [] { return QByteArray(1, '\x02'); }},
        TFileCase{"kernel_16383", true, 16383, "invalid kernel file", TFileState::Invalid},
        TFileCase{"kernel_16384", true, 16384, "kernel file loaded (v3.1.7)", TFileState::Loaded},
        TFileCase{"kernel_header_cut_short", true, 0, "invalid kernel file", TFileState::Invalid,
                  [] { return SampleKernel(3).left(KernelHeaderOffsetARM + 3); }},
        TFileCase{"program_empty", false, 0, "invalid plc program", TFileState::Invalid, [] { return QByteArray(); }},
        TFileCase{"program_header_cut_short", false, 0, "invalid plc program", TFileState::Invalid,
                  [] { return SampleProgram(600).left(10); }},
        TFileCase{"program_length_below_the_header", false, 0, "plc program loaded", TFileState::Loaded,
                  [] { return ProgramWithLength(8); }},
        TFileCase{"program_length_beyond_the_file", false, 0, "plc program loaded", TFileState::Loaded,
                  [] { return ProgramWithLength(1u << 20); }},
        TFileCase{"program_sparse_5_GiB", false, 0, "invalid plc program", TFileState::Invalid, nullptr, true}),
    [](const auto& info) { return std::string(info.param.Name); });

}   // namespace

// ---- a serial number whose write went unanswered, a send cut short ----

// The unit took the number but every reply to the write was lost: the send reads the
// unit's record back and goes by what the unit holds; when the unit stays silent, nobody
// can tell, and the record must not say "not written".
struct TLostSerialReplyCase {
    const char* Name;
    int WriteBusyMs;   // the unit is this busy with each block write: its replies come too late
    bool Sent;
    const char* SerialStep;
    int32_t SerialWritten;
    const char* LastLine;
};

class LoaderLostSerialReply : public TLoaderFixture, public ::testing::WithParamInterface<TLostSerialReplyCase> {};

TEST_P(LoaderLostSerialReply, GoesByWhatTheUnitHolds)
{
    const TLostSerialReplyCase& c = GetParam();
    Start(FreshUnit());
    ASSERT_EQ(Connect().Outcome, TConnectOutcome::Answered);
    TJob inputs;
    AssignSerial(inputs, 1000);
    Link->Attempts = 2;
    Link->RequestTimeout = Link->Timeout = 50;
    TSimFaults slowWrites;
    slowWrites.LatencyFor[CmdWriteBlock] = c.WriteBusyMs;
    Unit->SetFaults(slowWrites);

    EXPECT_EQ(Session->DoSend(inputs, Session->TakeImages()), c.Sent);
    EXPECT_EQ(Unit->Serial(), 1000u);
    EXPECT_EQ(SendStepText(Session->LastSend, TSendStep::Serial), QString::fromLatin1(c.SerialStep));
    EXPECT_EQ(Session->LastSend.SerialWritten, c.SerialWritten);
    EXPECT_EQ(Events.Messages.last(), QString::fromLatin1(c.LastLine));
}

INSTANTIATE_TEST_SUITE_P(
    Loader, LoaderLostSerialReply,
    ::testing::Values(
        // Both attempts' replies come after their waits; the unit answers the read-back.
        TLostSerialReplyCase{"ReadBackShowsItWritten", 60, true, "ok", 1000, "sent successfully"},
        TLostSerialReplyCase{"UnitSilentAfterwards", 100000, false, "unknown", -1,
                             "error: serial number 1000 may have been written: the unit's record could not be read "
                             "back (no answer)"}),
    [](const auto& info) { return std::string(info.param.Name); });

// A stop in the middle of the kernel: the send ends at once, says "interrupted" and what
// the unit now holds; the step cut short is "interrupted", the one never begun failed.
TEST_F(LoaderProduction, StopMidKernelSaysInterruptedAndWhatTheUnitHolds)
{
    Start(FreshUnit());
    ASSERT_EQ(Connect().Outcome, TConnectOutcome::Answered);
    TJob inputs;
    LoadFiles(inputs, SampleKernel(3, 32 * 1024), SampleProgram(4 * 1024));
    AssignSerial(inputs, 1000);
    std::atomic<bool> stop{false};
    Link->StopRequested = &stop;
    Events.OnProgress = [&stop](int total) {
        if (total >= 19 * 256)   // 19 kernel blocks written
            stop = true;
    };

    Events.Clear();
    EXPECT_FALSE(Session->DoSend(inputs, Session->TakeImages()));
    const QString last = Events.Messages.last();
    EXPECT_TRUE(last.startsWith(QStringLiteral("interrupted: serial number 1000 written; kernel area erased, ")))
        << last.toStdString();
    EXPECT_TRUE(last.endsWith(QStringLiteral(" of 32.0 KiB written"))) << last.toStdString();
    EXPECT_EQ(SendStepText(Session->LastSend, TSendStep::Serial), QStringLiteral("ok"));
    EXPECT_EQ(SendStepText(Session->LastSend, TSendStep::Kernel), QStringLiteral("interrupted"));
    EXPECT_EQ(SendStepText(Session->LastSend, TSendStep::Program), QStringLiteral("err"));
    EXPECT_FALSE(Session->LastSend.ProgramRan);
    EXPECT_LT(CommandCount(CmdWriteBlock), 1 + 32 * 4);
    EXPECT_EQ(ProductionLogLines().size(), 1);   // the number is spent: on record
}

// The send's fixed wait before the program is started ends at a stop request too.
TEST_F(LoaderProduction, StopEndsTheFixedWaitBeforeTheStart)
{
    Start(FreshUnit());
    ASSERT_EQ(Connect().Outcome, TConnectOutcome::Answered);
    TJob inputs;
    LoadFiles(inputs, SampleKernel(3, 16 * 1024), {});
    inputs.StartPlc = true;
    std::atomic<bool> stop{false};
    Link->StopRequested = &stop;
    Events.OnMessage = [&stop](const QString& text) {
        if (text == QStringLiteral("sent successfully"))
            stop = true;
    };

    Waits.clear();
    EXPECT_FALSE(Session->DoSend(inputs, Session->TakeImages()));
    // The kernel's 500 ms ran whole (in short slices); the 200 ms before the start did not.
    EXPECT_EQ(std::accumulate(Waits.begin(), Waits.end(), 0), 500);
    EXPECT_EQ(CommandCount(CmdStartPlc), 0);
}

// A stop between steps cuts none short: the serial number written stays "ok".
TEST_F(LoaderProduction, StopBetweenStepsLeavesTheDoneStepOk)
{
    Start(FreshUnit());
    ASSERT_EQ(Connect().Outcome, TConnectOutcome::Answered);
    TJob inputs;
    AssignSerial(inputs, 1000);
    SetAlias(inputs);   // the kernel is read from the unit first
    std::atomic<bool> stop{false};
    Link->StopRequested = &stop;
    Events.OnMessage = [&stop](const QString& text) {
        if (text == QStringLiteral("reading kernel"))
            stop = true;
    };

    EXPECT_FALSE(Session->DoSend(inputs, Session->TakeImages()));
    EXPECT_EQ(Events.Messages.last(), QStringLiteral("interrupted: serial number 1000 written"));
    EXPECT_EQ(SendStepText(Session->LastSend, TSendStep::Serial), QStringLiteral("ok"));
    EXPECT_EQ(SendStepText(Session->LastSend, TSendStep::Kernel), QStringLiteral("---"));
}
