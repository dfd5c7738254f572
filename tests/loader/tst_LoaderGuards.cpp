// What keeps a send or a verify from putting wrong bytes into a unit: kernels of the other
// platform, images changed while an operation runs, serial numbers that cannot be chosen
// again or go unrecorded, controllers slower than the time-out, and a unit's own IP
// configuration. Against the simulator on loopback, as the other loader tests.
#include "LoaderTestSupport.h"

#include "SampleImages.h"
#include "TestPrinters.h"
#include "uABus.h"

#include <QElapsedTimer>
#include <QRegularExpression>

namespace {

using ::PrintTo;   // table rows print as their names

TSimControllerConfig UnitOf(uint32_t serial, uint16_t loaderMajor)
{
    TSimControllerConfig config;
    config.Serial = serial;
    config.LoaderMajor = loaderMajor;
    config.Kernel = SampleKernel(loaderMajor);
    return config;
}

// The kernel file as the window holds it after loading it while a unit of this platform was
// connected.
void LoadKernel(TLoaderSession& session, uint16_t loaderMajor)
{
    session.KernelImage = SampleKernel(loaderMajor, 16 * 1024);
    session.KernelFilePlatform = loaderMajor == 2 ? TPlatform::XA : TPlatform::ARM;
    session.KernelFileHeader = ReadKernelHeader(session.KernelImage, KernelHeaderOffset(session.KernelFilePlatform));
    session.KernelFileState = TFileState::Loaded;
}

// ---- kernels of the other platform ----

struct TPlatformCase {
    const char* Name;
    uint16_t FilePlatform;   // loader major of the unit the file was loaded for
    uint16_t UnitPlatform;
};

class LoaderKernelPlatform : public TLoaderFixture, public ::testing::WithParamInterface<TPlatformCase> {};

TEST_P(LoaderKernelPlatform, OnlyAKernelForTheConnectedUnitIsSentOrVerified)
{
    const TPlatformCase& c = GetParam();
    const bool match = c.FilePlatform == c.UnitPlatform;
    Start(UnitOf(4000, c.UnitPlatform));
    ASSERT_EQ(Connect(QStringLiteral("4000")).Outcome, TConnectOutcome::Answered);
    LoadKernel(*Session, c.FilePlatform);
    const QByteArray loaded = Session->KernelImage;
    TJob inputs;
    inputs.Kernel = TJobFile{};
    inputs.Settings.NadAlias = QStringLiteral("9");

    Events.Clear();
    EXPECT_EQ(Session->DoVerify(inputs, Session->TakeImages()), false);   // the unit holds its own sample kernel
    EXPECT_EQ(Events.Messages.first(), match ? QStringLiteral("verifying") : QStringLiteral("no valid kernel"));
    EXPECT_EQ(Session->KernelImage, loaded);

    Events.Clear();
    EXPECT_EQ(Session->DoSend(inputs, Session->TakeImages()), match);
    EXPECT_EQ(Events.Messages.last(),
              match ? QStringLiteral("sent successfully") : QStringLiteral("error: no valid kernel file"));
    EXPECT_EQ(CommandCount(CmdEraseFlash) > 0, match);
    EXPECT_EQ(Session->KernelImage, loaded);
    if (!match)
        return;
    ASSERT_EQ(Connect(QStringLiteral("4000")).Outcome, TConnectOutcome::Answered);
    Events.Clear();
    EXPECT_TRUE(Session->DoVerify(inputs, Session->TakeImages()));
    EXPECT_EQ(Events.Messages.last(), QStringLiteral("verified successfully"));
}

INSTANTIATE_TEST_SUITE_P(Loader, LoaderKernelPlatform,
                         ::testing::Values(TPlatformCase{"arm_file_xa_unit", 3, 2},
                                           TPlatformCase{"xa_file_arm_unit", 2, 3},
                                           TPlatformCase{"arm_file_arm_unit", 3, 3},
                                           TPlatformCase{"xa_file_xa_unit", 2, 2}),
                         [](const auto& info) { return std::string(info.param.Name); });

// A verify against a unit of the other platform used to write the configuration header into
// the loaded kernel at that unit's offset, where the next send carried it into a unit.
using LoaderLoadedKernel = TLoaderFixture;

TEST_F(LoaderLoadedKernel, VerifyAgainstTheOtherPlatformLeavesItAlone)
{
    Sim.AddController(UnitOf(1002, 2));   // the XA unit at 127.0.0.2
    Start(UnitOf(1001, 3));               // the ARM unit at 127.0.0.3
    ASSERT_EQ(Connect(QStringLiteral("1001")).Outcome, TConnectOutcome::Answered);
    LoadKernel(*Session, 3);
    const QByteArray loaded = Session->KernelImage;

    ASSERT_EQ(Connect(QStringLiteral("1002")).Outcome, TConnectOutcome::Answered);
    ASSERT_EQ(Session->Info.Platform, TPlatform::XA);
    TJob settingsOnly;   // the kernel box unticked: only the configuration is compared
    settingsOnly.Settings.NadAlias = QStringLiteral("9");
    Session->DoVerify(settingsOnly, Session->TakeImages());
    EXPECT_EQ(Session->KernelImage, loaded);

    ASSERT_EQ(Connect(QStringLiteral("1001")).Outcome, TConnectOutcome::Answered);
    TJob send;
    send.Kernel = TJobFile{};
    ASSERT_TRUE(Session->DoSend(send, Session->TakeImages()));
    const QByteArray flash = Unit->Memory(KernelAddress, uint32_t(loaded.size()));
    EXPECT_EQ(flash.left(KernelHeaderOffsetARM), loaded.left(KernelHeaderOffsetARM));
    EXPECT_EQ(flash.mid(KernelHeaderOffsetARM + 88), loaded.mid(KernelHeaderOffsetARM + 88));
}

// Two sessions on one thread, an ARM unit's and an XA unit's: each loads and sends its kernel
// by its own unit's platform, whichever unit was identified last.
using LoaderTwoSessions = TLoaderFixture;

TEST_F(LoaderTwoSessions, EachTakesTheKernelOfItsOwnUnitsPlatform)
{
    Sim.AddController(UnitOf(1002, 2));   // the XA unit at 127.0.0.2
    Start(UnitOf(1001, 3));               // the ARM unit at 127.0.0.3
    TCommunicator xaLink;
    ASSERT_TRUE(xaLink.SelectAdapter(LoopbackAdapterName));
    xaLink.ControllerPort = Sim.Port();
    TRecordedEvents xaEvents;
    TLoaderSession xa(xaLink, xaEvents.Sink());
    xa.ProductionLogPath = Dir.filePath(QStringLiteral("xa.log"));
    xa.Wait = [](int) {};

    ASSERT_EQ(Connect(QStringLiteral("1001")).Outcome, TConnectOutcome::Answered);
    TJob arm;
    LoadFiles(arm, SampleKernel(3, 16 * 1024), {});
    ASSERT_EQ(xa.ConnectToNad({false, QStringLiteral("1002")}).Outcome, TConnectOutcome::Answered);
    TJob xaInputs;
    xaInputs.Kernel = TJobFile{WriteFile(QStringLiteral("xa.bin"), SampleKernel(2, 16 * 1024)), QString()};
    xa.LoadImageFiles(xaInputs);

    EXPECT_TRUE(Session->DoSend(arm, Session->TakeImages())) << Events.Messages.join(u'\n').toStdString();
    EXPECT_TRUE(xa.DoSend(xaInputs, xa.TakeImages())) << xaEvents.Messages.join(u'\n').toStdString();
}

// ---- what the window does while an operation runs ----

using LoaderSnapshot = TLoaderFixture;

// The window reloads its files while the send writes the program (it used to free the image
// being written): the send goes on with the bytes it started with.
TEST_F(LoaderSnapshot, ImagesLoadedDuringASendDoNotReachIt)
{
    TSimControllerConfig fresh = UnitOf(NoSerialNumber, 3);
    Start(fresh);
    ASSERT_EQ(Connect().Outcome, TConnectOutcome::Answered);
    const QByteArray kernel = SampleKernel(3, 16 * 1024);
    const QByteArray program = SampleProgram(8 * 1024);
    TJob inputs;
    LoadFiles(inputs, kernel, program);
    inputs.Serial.Write = true;
    inputs.Serial.Number = 1000;

    TJob other;
    other.Kernel = TJobFile{WriteFile(QStringLiteral("other-kernel.bin"), SampleKernel(3, 20 * 1024)), QString()};
    other.Program = TJobFile{WriteFile(QStringLiteral("other-program.bin"), QByteArrayLiteral("no program")),
                             QString()};
    Events.OnMessage = [&](const QString& text) {
        if (text != QStringLiteral("sending plc program"))
            return;
        Session->KernelFileState = Session->ProgramFileState = TFileState::NotLoaded;
        Session->LoadImageFiles(other);
    };
    ASSERT_TRUE(Session->DoSend(inputs, Session->TakeImages()));
    Events.OnMessage = nullptr;

    EXPECT_EQ(Session->ProgramFileState, TFileState::Invalid);   // the reload did happen
    EXPECT_EQ(Unit->Memory(ProgramAddress + 16, uint32_t(program.size() - 16)), program.mid(16));
    EXPECT_TRUE(Unit->HoldsValidProgram());
    const QByteArray flash = Unit->Memory(KernelAddress, uint32_t(kernel.size()));
    EXPECT_EQ(flash.mid(KernelHeaderOffsetARM + 88), kernel.mid(KernelHeaderOffsetARM + 88));
    EXPECT_EQ(ProductionLogLines().size(), 1);
}

// A fresh ARM unit, connected, and the inputs of a send that gives it serial and files.
class TFreshSend : public TLoaderFixture {
protected:
    TJob Prepare(int32_t serial)
    {
        Start(UnitOf(NoSerialNumber, 3));
        EXPECT_EQ(Connect().Outcome, TConnectOutcome::Answered);
        TJob inputs;
        LoadFiles(inputs, SampleKernel(3, 16 * 1024), SampleProgram(1024));
        inputs.Serial.Write = true;
        inputs.Serial.Number = serial;
        return inputs;
    }
};

// ---- serial numbers ----

using LoaderSerialNumber = TFreshSend;

// The number is spent once the unit holds it: a later failure still puts the unit on record,
// the steps that failed or never ran at "err".
TEST_F(LoaderSerialNumber, WrittenNumberIsLoggedWhenALaterStepFails)
{
    TJob inputs = Prepare(1234);
    inputs.Serial.Autoincrement = true;
    const QString unitKernel = Session->PanelTexts().KernelVersion;   // the log names the unit's kernel
    Refuse(CmdEraseFlash, 11);

    EXPECT_FALSE(Session->DoSend(inputs, Session->TakeImages()));
    EXPECT_EQ(Events.Messages.last(), QStringLiteral("error: flash fail"));
    EXPECT_EQ(Unit->Serial(), 1234u);
    EXPECT_EQ(Events.Advanced, QList<int32_t>({1235}));
    const QStringList lines = ProductionLogLines();
    ASSERT_EQ(lines.size(), 1);
    EXPECT_TRUE(lines[0].endsWith(QStringLiteral(" nad none      serial 000001234 ok  kernel v") + unitKernel +
                                  QStringLiteral(" err plc err (program.bin)")))
        << lines[0].toStdString();
}

// A number a shared counter gave away is spent even when the unit refused it: it is on
// record, at "err". The window's own number is not spent by a refusal (its box stays).
TEST_F(LoaderSerialNumber, NumberFromASharedCounterIsLoggedWhenTheUnitRefusesIt)
{
    const TJob inputs = Prepare(-1);
    Refuse(CmdWriteBlock, 11);

    EXPECT_FALSE(Session->DoSend(inputs, Session->TakeImages(), [](QString&) { return 4321; }));
    EXPECT_EQ(Events.Messages.last(), QStringLiteral("error: loader write failed"));
    EXPECT_EQ(Session->LastSend.SerialTaken, 4321);
    EXPECT_EQ(Session->LastSend.SerialWritten, -1);
    const QStringList lines = ProductionLogLines();
    ASSERT_EQ(lines.size(), 1);
    EXPECT_TRUE(lines[0].contains(QStringLiteral(" serial 000004321 err "))) << lines[0].toStdString();
}

// ---- controllers slower than the time-out ----

using LoaderSlowController = TFreshSend;

// Every reply arrives between one and two time-outs after its request: the resend's wait
// takes the first attempt's answer, and the whole send goes through.
TEST_F(LoaderSlowController, AnsweringEveryRequestLateCompletesASend)
{
    const TJob inputs = Prepare(1000);
    Link->RequestTimeout = Link->Timeout = 80;
    TSimFaults late;
    late.DelayMs = 120;
    Unit->SetFaults(late);

    Events.Clear();
    ASSERT_TRUE(Session->DoSend(inputs, Session->TakeImages()))
        << Events.Messages.join(QStringLiteral(" | ")).toStdString();
    EXPECT_EQ(Events.Messages.last(), QStringLiteral("sent successfully"));
    Unit->SetFaults({});
    Unit->Restart();
    EXPECT_TRUE(Unit->HoldsValidKernel());
    EXPECT_TRUE(Unit->HoldsValidProgram());
    EXPECT_EQ(Unit->Serial(), 1000u);
}

// ---- the unit's IP configuration ----

using LoaderIpConfiguration = TLoaderFixture;

// A send that changes only the NAD alias used to write DHCP over a static address, and the
// unit left its known address.
TEST_F(LoaderIpConfiguration, AliasOnlySendKeepsAStaticAddressAndVerifiesGreen)
{
    TSimControllerConfig config = UnitOf(5000, 3);
    TKernelHeader header = ReadKernelHeader(config.Kernel, KernelHeaderOffsetARM);
    header.IPAddress = 0xC0A80709;   // 192.168.7.9/24 via 192.168.7.1
    header.SubnetMask = 0xFFFFFF00;
    header.Gateway = 0xC0A80701;
    header.DNSServer = 0xC0A80701;
    WriteKernelHeader(config.Kernel, header, KernelHeaderOffsetARM);
    Start(config);
    ASSERT_EQ(Connect(QStringLiteral("5000")).Outcome, TConnectOutcome::Answered);

    TJob inputs;
    inputs.Settings.NadAlias = QStringLiteral("12");
    ASSERT_TRUE(Session->DoSend(inputs, Session->TakeImages()));
    const TKernelHeader written = ReadKernelHeader(Unit->Memory(KernelAddress, 64 * 1024), KernelHeaderOffsetARM);
    EXPECT_EQ(+written.NadAlias, 12u);
    EXPECT_EQ(+written.IPAddress, header.IPAddress);
    EXPECT_EQ(+written.SubnetMask, header.SubnetMask);
    EXPECT_EQ(+written.Gateway, header.Gateway);
    EXPECT_EQ(+written.DNSServer, header.DNSServer);

    ASSERT_EQ(Connect(QStringLiteral("5000")).Outcome, TConnectOutcome::Answered);
    Events.Clear();
    EXPECT_TRUE(Session->DoVerify(inputs, Session->TakeImages()));
    EXPECT_TRUE(Events.Verify.value(TVerifyCheck::Config));
}

}   // namespace
