#include "LoaderTestSupport.h"

#include <QFile>

void TRecordedEvents::Take(const TOperationEvent& event)
{
    std::visit(TEventHandlers{[this](const Event::TMessage& message) {
                                  Messages << message.Text;
                                  Calls << message.Text;
                                  if (OnMessage)
                                      OnMessage(message.Text);
                              },
                              [this](const Event::TProgress& progress) {
                                  LastTotal = progress.Done;
                                  LastTotalMaximum = progress.Total;
                                  if (OnProgress)
                                      OnProgress(progress.Done);
                              },
                              [this](const Event::TFileError& error) {
                                  Errors << error.Text;
                                  Calls << QStringLiteral("[error]");
                              },
                              [this](const Event::TVerifyBegins&) { Verify.clear(); },
                              [this](const Event::TVerifyResult& result) { Verify[result.Check] = result.Passed; },
                              [this](const Event::TPlcStatus& status) { PlcStatus << status.Text; },
                              [this](const Event::TSerialAdvanced& advanced) { Advanced << advanced.Next; },
                              [this](const Event::TUnitChanged&) { Calls << QStringLiteral("[clear info]"); },
                              [](const auto&) {}},
               event);
}

void TRecordedEvents::Clear()
{
    Messages.clear();
    Calls.clear();
    PlcStatus.clear();
    Errors.clear();
}

QByteArray KernelWithVersion(QByteArray kernel, int headerOffset, uint16_t minor, uint16_t releaseArm)
{
    TKernelHeader header = ReadKernelHeader(kernel, headerOffset);
    header.VersionMinor = minor;
    header.ReleaseARM = releaseArm;
    WriteKernelHeader(kernel, header, headerOffset);
    return kernel;
}

QByteArray KernelClaimingSize(QByteArray kernel, int headerOffset, uint32_t imageSize)
{
    TKernelHeader header = ReadKernelHeader(kernel, headerOffset);
    header.ImageSize = imageSize;
    WriteKernelHeader(kernel, header, headerOffset);
    return kernel;
}

void TLoaderFixture::SetUp()
{
    ASSERT_TRUE(Dir.isValid());
}

void TLoaderFixture::TearDown()
{
    Session.reset();
    Link.reset();
    Sim.Stop();
}

void TLoaderFixture::Start(const TSimControllerConfig& config)
{
    Unit = Sim.Unit(Sim.AddController(config));
    QString error;
    EXPECT_TRUE(Sim.Start(0, &error)) << error.toStdString();

    Link = std::make_unique<TCommunicator>();
    EXPECT_TRUE(Link->SelectAdapter(LoopbackAdapterName));
    EXPECT_EQ(Link->LocalIP, QStringLiteral("127.0.0.1"));
    EXPECT_EQ(Link->Adapter.Broadcast, TControllerSimulator::BroadcastAddress());
    Link->ControllerPort = Sim.Port();

    Session = std::make_unique<TLoaderSession>(*Link, Events.Sink());
    Session->ProductionLogPath = Dir.filePath(QStringLiteral("OrvelBinLoader.log"));
    Session->Wait = [this](int milliseconds) { Waits << milliseconds; };
}

void TLoaderFixture::Refuse(uint8_t command, uint8_t code)
{
    TSimFaults faults;
    faults.ReplyCodeFor.insert(command, code);
    Unit->SetFaults(faults);
}

TConnectResult TLoaderFixture::Connect(const QString& nadText)
{
    TNadChoice choice;
    choice.NadNotAssigned = nadText.isEmpty();
    choice.NadText = nadText;
    return Session->ConnectToNad(choice);
}

QString TLoaderFixture::WriteFile(const QString& name, const QByteArray& bytes)
{
    const QString path = Dir.filePath(name);
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes);
    return path;
}

void TLoaderFixture::LoadFiles(TJob& job, const QByteArray& kernel, const QByteArray& program)
{
    if (!kernel.isEmpty())
        job.Kernel = TJobFile{WriteFile(QStringLiteral("kernel.bin"), kernel), QString()};
    if (!program.isEmpty())
        job.Program = TJobFile{WriteFile(QStringLiteral("program.bin"), program), QString()};
    Session->KernelFileState = TFileState::NotLoaded;
    Session->ProgramFileState = TFileState::NotLoaded;
    Session->LoadImageFiles(job);
}

QStringList TLoaderFixture::ProductionLogLines() const
{
    QFile file(Session->ProductionLogPath);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QStringList lines = QString::fromUtf8(file.readAll()).split(QStringLiteral("\r\n"));
    EXPECT_EQ(lines.takeLast(), QString());   // every line ends with CR LF
    return lines;
}

int TLoaderFixture::CommandCount(uint8_t code) const
{
    return Unit->CommandCounts().value(code);
}
