// LoaderSession: the operation state the main window owns, and the operations it runs over
// the controller link, free of widgets.
//
//   a job (TJob: files, settings, serial number source) -> DoSend / DoVerify / DoStartPlc / DoStopPlc /
//   DoSaveKernel / DoSaveProgram -> TCommunicator commands -> controller
//   messages, progress, verify results, PLC status -> TOperationEvent -> the session's sink
//   (a runner, or a test's recording)
//
// A runner (the window's TSessionRunner, the station's TUnitRunner) owns the session and its
// link on a worker thread: it binds the link to its adapter and calls ConnectToNad for the
// NAD choice, the ping and ReadControllerInfo, then runs the operations. Every request
// blocks that thread until its reply or time-out; the front end stays free, and a stop
// request (the link's StopRequested) ends the wait under way.
#pragma once

#include "ControllerInfo.h"
#include "OperationEvents.h"
#include "Job.h"
#include "OperationFailure.h"
#include "ProductionLog.h"
#include "hCodeMemory.h"
#include "uCommunication.h"

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <functional>

enum class TFileState : uint8_t { NotLoaded, Invalid, Loaded };
enum class TImageKind { Kernel, Program };

// The loaded images as an operation takes them when it starts. The operation works on
// these copies only, so a file the window loads meanwhile never reaches a running send or
// verify, and nothing an operation does changes what was loaded.
struct TLoadedImages {
    QByteArray Kernel;   // the kernel file's image, stamped when it was loaded
    bool KernelLoaded = false;
    TKernelHeader KernelFileHeader{};
    // The platform whose header Kernel holds, decided when the file was loaded; only a unit of
    // that platform takes it.
    TPlatform KernelPlatform = TPlatform::Unknown;
    QByteArray Program;   // the program file as read
    bool ProgramLoaded = false;
    // The SHA-256 of each file as read, before the kernel's stamp: what a recipe pins and a
    // unit's record names as its source; empty: not loaded.
    QString KernelSourceSha256;
    QString ProgramSourceSha256;
};

// CurrentOperation values.
enum TOperationCode : uint8_t {
    OpNone = 0,
    OpSend = 2,
    OpVerify = 3,
    OpStartPlc = 4,
    OpStopPlc = 5,
    OpSaveKernel = 6,
    OpSaveProgram = 7,
};

// The name a dump's save dialog offers: OpSaveKernel or OpSaveProgram.
QString DefaultDumpFileName(TOperationCode dump);

// What decides the NAD of a connection: ckNadNotAssigned and the text of cbNAD.
struct TNadChoice {
    bool NadNotAssigned = false;
    QString NadText;
};

// NoNad: NAD 0 was chosen (the panel is cleared, imOrvel and Connected stay as they are).
// Answered: imOrvel GREEN. NotAnswered: imOrvel RED, the link is disconnected, so the
// window must bind it again before the next connection.
enum class TConnectOutcome { NoNad, Answered, NotAnswered };

struct TConnectResult {
    TConnectOutcome Outcome = TConnectOutcome::NoNad;
    TInfoPanelTexts Panel;   // what the Information group shows now; all empty when cleared
};

// A fixed wait of a send: by default a sleep of the session's thread (a runner's worker),
// which a test or benchmark may measure or replace. With a stop request possible, the
// session waits in short slices.
using TTimedWait = std::function<void(int milliseconds)>;
void SleepFor(int milliseconds);

// A serial number handed out by a counter several units share, at the moment the unit is to
// receive it. Below 1: none to give, and why in words when the counter can say.
using TTakeSerial = std::function<int32_t(QString& why)>;

// What the last send put into its unit, for the unit's record: the production log columns
// with each step's result, the serial number written and the bytes as they went into flash.
// It is kept up to date while the send runs, so a record can be made of a send not ended.
struct TSendReport {
    TProductionLogEntry Entry;
    int32_t SerialWritten = -1;                // -1: none
    int32_t SerialTaken = -1;                  // given by a shared counter for the unit, written or not; -1: none
    QByteArray Kernel;                         // as written, configuration header and stamp included; empty: none
    QByteArray Program;                        // as written, sealed header in place; empty: none
    TKernelHeader Configuration{};             // the header in Kernel
    TSendStep Step = TSendStep::None;          // the step under way; None once the send has ended
    TSendStep Interrupted = TSendStep::None;   // the step a stop request cut short
    // The serial number's write went unanswered and reading the unit back could not tell
    // whether it holds the number.
    bool SerialUnknown = false;
    bool KernelRan = false;    // the kernel step began: the unit may hold part of the file
    bool ProgramRan = false;   // the same for the program
};

// A step's result for the unit's record: "ok", "err", "---" (not asked), "interrupted" (cut
// short by a stop request) or, for the serial number only, "unknown".
QString SendStepText(const TSendReport& report, TSendStep step);

// True when both buffers have the same length and agree from start to the end.
bool CompareStreams(const QByteArray& image, const QByteArray& read, qsizetype start);

class TLoaderSession {
public:
    // Everything the session tells goes to report, on the session's thread.
    TLoaderSession(TCommunicator& link, TEventSink report);
    ~TLoaderSession();
    TLoaderSession(const TLoaderSession&) = delete;
    TLoaderSession& operator=(const TLoaderSession&) = delete;

    TCommunicator& Link;
    const TEventSink Report;

    // ---- the connected controller ----
    TControllerInfo Info;
    bool Connected = false;
    int32_t NextNad = 0;   // used once by the next connection instead of the operator's choice

    // ---- images (the files chosen by the operator, and what was read back) ----
    QByteArray KernelImage;
    QByteArray ProgramImage;
    QByteArray ProgramHeaderImage;   // the sealed 16-byte header of the last send
    TFileState KernelFileState = TFileState::NotLoaded;
    TFileState ProgramFileState = TFileState::NotLoaded;
    TKernelHeader KernelFileHeader{};
    // Where KernelImage holds its header: the connected unit's platform when it loaded, else
    // the platform its bytes are a valid kernel for (Unknown: none).
    TPlatform KernelFilePlatform = TPlatform::Unknown;
    // The SHA-256 of each loaded file as read, for TakeImages; empty: not loaded.
    QString KernelSourceSha256;
    QString ProgramSourceSha256;
    TKernelHeader ConfigHeader{};
    QByteArray KernelDump;
    QByteArray ProgramDump;

    // ---- the running operation and its progress ----
    uint8_t CurrentOperation = OpNone;
    int32_t TotalBytes = 1;
    int32_t TotalDone = 0;
    int CurrentPosition = 0;   // pbCurrent's position, which TransferProgress counts from

    TSendReport LastSend;
    // How the last connection or operation ended: None when it succeeded, else its kind and
    // the line that said why (none is logged for a connection a stop request cut short).
    TOperationFailure Failure;
    QString ProductionLogPath;   // the executable's path with ".log"
    TTimedWait Wait = SleepFor;

    // ---- connection ----
    // The NAD choice and the connection; the link must already be bound. A connection that a
    // stop request cut short says nothing: a newer one is about to replace it.
    TConnectResult ConnectToNad(const TNadChoice& choice);
    // Reconnect forgets the controller before it connects again.
    void ForgetController();
    // The controller counts as not connected until the next connection reaches it.
    void MarkDisconnected() { Connected = false; }
    void ReadControllerInfo();
    // Reads the PLC status and shows it (empty text when the read fails).
    bool RefreshPlcStatus();
    void ClearControllerImages();
    TInfoPanelTexts PanelTexts() const;

    // ---- operation frame ----
    // The link's progress handler: moves the bars while a send, verify or dump runs.
    void TransferProgress(int position, int maximum);
    // The window calls this whenever it puts both bars back to 0.
    void ResetProgress();
    // "error: " and the text of the last reply code when that is 2 or more, else generic.
    QString ErrorLine(const QString& generic) const;

    // ---- image files and configuration header ----
    // Loads each file of the job whose state is NotLoaded.
    void LoadImageFiles(const TJob& job);
    // The file's path changed or was chosen again: the next LoadImageFiles reads it.
    void ForgetImageFile(TImageKind kind);
    TLoadedImages TakeImages() const;
    void BuildConfigHeader(const TJob& job, const TLoadedImages& images);

    // ---- operations (SendSequence.cpp, VerifySequence.cpp, PlcOperations.cpp); each
    // returns whether it succeeded ----
    // images: the job's files as loaded when the operation started (TakeImages, or a
    // runner's). take: where a serial number the job writes comes from, asked once the unit
    // is about to receive it; none: the job's own number.
    bool DoSend(const TJob& job, const TLoadedImages& images, const TTakeSerial& take = {});
    bool DoVerify(const TJob& job, const TLoadedImages& images);
    bool DoStartPlc();
    bool DoStopPlc();
    // path: the dump's file, chosen before the operation; empty: none was (nothing is read).
    bool DoSaveKernel(const QString& path);
    bool DoSaveProgram(const QString& path);

private:
    struct TSendRun;

    // A connection's own lines: none from one that a stop request cut short.
    void ReportConnection(const QString& text);

    struct TDumpKind;

    // Why the link's last request failed: refused with a code, cut short by a stop request,
    // or not answered.
    TFailureKind LinkFailureKind() const;
    // The operation has failed: logs the line that says why and keeps it as the failure.
    void Fail(TFailureKind kind, const QString& line);
    // Why a ticked kernel image cannot go into this unit: it was loaded for another platform,
    // or is no kernel at all; None when it fits.
    TFailureKind KernelRefusal(const TLoadedImages& images) const;

    bool RunPlcCommand(const QString& message, const std::function<bool()>& command);
    bool SaveDump(const TDumpKind& kind, const QString& path, QByteArray& dump);
    bool ReadDump(const TDumpKind& kind, QByteArray& dump);
    bool LoadKernelFile(const QString& path);
    void LoadProgramFile(const QString& path);
    // Each returns None when the unit holds what it should, else why not.
    TFailureKind VerifyConfiguration(const TJob& job, const TLoadedImages& images);
    TFailureKind VerifyImage(TVerifyCheck check, const QByteArray& image, QByteArray& dump);

    // The send's fixed waits, ended early by a stop request.
    void Pause(int milliseconds);
    // A step begins, or has ended well: the report follows at once, for a record of a send
    // not yet ended.
    void EnterStep(TSendRun& run, TSendStep step);
    void EndStep(TSendRun& run);
    // Writes an image as the send does, counting what the unit acknowledged.
    bool WriteArea(TSendRun& run, uint32_t address, const QByteArray& image);
    void CheckImagesFitUnit(const TJob& job, TSendRun& run);
    // The serial number's write went unanswered: reads the unit's record back; true when the
    // unit holds the number.
    bool SerialWrittenAfterAll(int32_t serial, TSendRun& run);
    // Reads the unit's serial number now; false (the run failed, saying why) when it is not
    // serial, or cannot be read.
    bool UnitHolds(uint32_t serial, TSendRun& run);
    // UnitHolds with the number this send wrote, or the unit's own as connected: another
    // station or program on the segment has not written it meanwhile.
    bool StillTheUnitsOwn(TSendRun& run);
    // When the unit holds another number than this send wrote: the send's number goes on
    // record as not written, and the words that say so (empty when the unit holds it).
    QString ForgetOverwrittenSerial(uint32_t held, TSendRun& run);
    // After a stop: "interrupted: " and what the unit now holds.
    QString InterruptedLine(const TSendRun& run) const;
    void SendSerialNumber(const TSerialSource& source, const TTakeSerial& take, TSendRun& run);
    void PlanSend(const TJob& job, TSendRun& run);
    void PrepareKernel(const TJob& job, TSendRun& run);
    void WriteKernel(TSendRun& run);
    void CheckStoredProgram(TSendRun& run);
    void WriteProgram(const TJob& job, TSendRun& run);
    void FinishSend(const TJob& job, TSendRun& run);
    void WriteProductionLog(const TProductionLogEntry& entry);

    void ReportFileError(const QString& text);
    // One message log line.
    void Say(const QString& text);
};
