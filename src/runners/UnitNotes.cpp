#include "UnitNotes.h"

#include "LoaderFiles.h"

#include <QFileInfo>

namespace {

QString Sha256(const QByteArray& bytes)
{
    return bytes.isEmpty() ? QString() : Sha256Hex(bytes);
}

}   // namespace

void NoteConnectedUnit(const TLoaderSession& session, TUnitRecord& record)
{
    record.Panel = session.PanelTexts();
    record.Platform = record.Panel.Platform;
    record.KernelVersion = record.Panel.KernelVersion;
    record.Serial = int32_t(session.Info.Identification.Serial);
}

void NoteSend(const TLoaderSession& session, const TJob& job, const TLoadedImages& images, TUnitRecord& record)
{
    NoteSend(session.LastSend, job, images, record);
}

void NoteSend(const TSendReport& sent, const TJob& job, const TLoadedImages& images, TUnitRecord& record)
{
    // Only a step that began put anything of its file into the unit.
    if (job.Kernel && sent.KernelRan) {
        record.KernelFile = QFileInfo(job.Kernel->Path).fileName();
        record.KernelSourceSha256 = images.KernelSourceSha256;
    }
    if (job.Program && sent.ProgramRan) {
        record.ProgramFile = QFileInfo(job.Program->Path).fileName();
        record.ProgramSourceSha256 = images.ProgramSourceSha256;
    }
    // The send's report words its steps as the production log has them.
    record.SerialStep = StepResultFromText(SendStepText(sent, TSendStep::Serial));
    record.KernelStep = StepResultFromText(SendStepText(sent, TSendStep::Kernel));
    record.ProgramStep = StepResultFromText(SendStepText(sent, TSendStep::Program));
    record.KernelSha256 = Sha256(sent.Kernel);
    record.ProgramSha256 = Sha256(sent.Program);
    record.SettingsWritten = !sent.Kernel.isEmpty();
    record.Settings = sent.Configuration;
    record.SerialTaken = sent.SerialTaken;
    if (sent.SerialWritten > 0)
        record.Serial = record.NadAfter = sent.SerialWritten;
}
