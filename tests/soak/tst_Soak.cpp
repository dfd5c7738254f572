// Soak: many sends of a small kernel and program, each followed by a verify, against one
// simulated controller that loses, delays past the time-out, repeats, splits, corrupts and
// refuses its replies at random from a fixed seed. A send may fail; it must never report
// "sent successfully" while the unit's flash differs from what it wrote.
#include "LoaderTestSupport.h"

#include "SampleImages.h"

#include <QRegularExpression>

#include <cstdio>

namespace {

constexpr uint32_t UnitSerial = 4242;
constexpr int Sends = 40;
const int ArmHeader = KernelHeaderOffsetARM;

// Images that differ from one send to the next, so that a block left from an earlier send
// (never erased, never written) shows as a difference.
QByteArray KernelForSend(int send)
{
    QByteArray kernel = SampleKernel(3, MinKernelSize);
    kernel.replace(kernel.size() - 4, 4, PseudoRandomBytes(4, uint32_t(send)));
    kernel.replace(ArmHeader + KernelHeaderSize, 4, PseudoRandomBytes(4, uint32_t(send) + 1000));
    return kernel;
}

QByteArray ProgramForSend(int send)
{
    QByteArray program = SampleProgram(2 * 1024);
    program.replace(200, 4, PseudoRandomBytes(4, uint32_t(send) + 2000));
    program.replace(program.size() - 4, 4, PseudoRandomBytes(4, uint32_t(send) + 3000));
    return program;
}

// Every kind of reply fault at once; SplitReplies and noise on every other send.
TSimFaults FaultsForSend(int send)
{
    TSimFaults faults;
    faults.DropShare = 0.03;
    faults.DelayMs = 150;   // well past the soak's time-out of the link
    faults.DelayShare = 0.04;
    faults.DuplicateShare = 0.06;
    faults.CorruptShare = 0.03;
    faults.ErrorShare = 0.03;
    faults.SplitReplies = send % 2 == 1;
    faults.NoiseBytes = send % 2 == 1 ? 3 : 0;
    faults.Seed = 7000 + uint32_t(send);
    return faults;
}

struct TSoakCounts {
    int Sends = 0;
    int SentSuccessfully = 0;
    int ErrorEndings = 0;
    int VerifyPassed = 0;
    int VerifyFailed = 0;
    int StaleAcknowledgements = 0;   // reported sent while the unit's flash differs
};

using Soak = TLoaderFixture;

TEST_F(Soak, NoSendReportsSuccessWhileTheFlashDiffers)
{
    TSimControllerConfig config;
    config.Kernel = SampleKernel(3);
    config.Serial = UnitSerial;
    Start(config);
    Link->RequestTimeout = 60;   // short, so that lost replies cost little; delays exceed it
    Link->Attempts = 3;          // few enough that some sends run out of attempts
    ASSERT_EQ(Connect(QString::number(UnitSerial)).Outcome, TConnectOutcome::Answered);

    TSoakCounts counts;
    for (int send = 0; send < Sends; ++send) {
        SCOPED_TRACE(send);
        TJob inputs;
        LoadFiles(inputs, KernelForSend(send), ProgramForSend(send));
        ASSERT_EQ(Session->KernelFileState, TFileState::Loaded);
        ASSERT_EQ(Session->ProgramFileState, TFileState::Loaded);
        const QByteArray fileKernel = Session->KernelImage;

        Events.Clear();
        Unit->SetFaults(FaultsForSend(send));
        ++counts.Sends;
        const bool reported = Session->DoSend(inputs, Session->TakeImages());
        Unit->SetFaults({});

        const bool sent = Events.Messages.contains(QStringLiteral("sent successfully"));
        const bool error = !Events.Messages.filter(QRegularExpression(QStringLiteral("^error"))).isEmpty();
        EXPECT_NE(sent, error) << Events.Messages.join(QStringLiteral(" | ")).toStdString();
        EXPECT_EQ(reported, sent);
        counts.SentSuccessfully += sent ? 1 : 0;
        counts.ErrorEndings += error ? 1 : 0;

        if (sent) {
            // The kernel as the unit holds it: the file's body around the header the send
            // built and stamped; the program exactly as sealed.
            const QByteArray held = Unit->Memory(KernelAddress, uint32_t(fileKernel.size()));
            const int bodyStart = ArmHeader + KernelHeaderSize;
            const bool kernelEqual = held.left(ArmHeader) == fileKernel.left(ArmHeader) &&
                                     held.mid(bodyStart) == fileKernel.mid(bodyStart) &&
                                     ReadKernelHeader(held, ArmHeader).Checksum == KernelChecksum(held, ArmHeader);
            QByteArray program = Session->ProgramImage;
            SetProgramHeader(program, Session->ProgramHeaderImage);
            const bool programEqual = Unit->Memory(ProgramAddress, uint32_t(program.size())) == program;
            if (!kernelEqual || !programEqual)
                ++counts.StaleAcknowledgements;
        }

        // As the window does after every operation; a link the failed connection closed is
        // bound again first.
        if (Connect(QString::number(UnitSerial)).Outcome != TConnectOutcome::Answered) {
            ASSERT_TRUE(Link->SelectAdapter(QStringLiteral("lo")));
            ASSERT_EQ(Connect(QString::number(UnitSerial)).Outcome, TConnectOutcome::Answered);
        }
        const bool verified = Session->DoVerify(inputs, Session->TakeImages());
        counts.VerifyPassed += verified ? 1 : 0;
        counts.VerifyFailed += verified ? 0 : 1;
        if (sent) {
            EXPECT_TRUE(verified);
        }
    }

    std::printf("soak: %d sends, %d sent successfully, %d error endings, verify %d passed %d failed, "
                "%d stale acknowledgements\n",
                counts.Sends, counts.SentSuccessfully, counts.ErrorEndings, counts.VerifyPassed, counts.VerifyFailed,
                counts.StaleAcknowledgements);
    EXPECT_EQ(counts.StaleAcknowledgements, 0);
    EXPECT_EQ(ProductionLogLines().size(), counts.SentSuccessfully);
    // The faults must have bitten, or the soak proves nothing.
    EXPECT_GT(counts.ErrorEndings, 0);
    EXPECT_GT(counts.SentSuccessfully, Sends / 2);
}

}   // namespace
