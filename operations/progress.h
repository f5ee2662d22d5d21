// progress.h - how far the running operation is, for whatever shows it.
//
// The front end that starts an operation opens it here; its worker reports
// units done and, when something goes wrong, where; the front end closes it
// when the operation has ended. Readers (a window's timer, a console's loop)
// take a snapshot whenever they like. Reporting never waits for a reader: a
// worker holds the board only for the few stores it makes, so the line never
// waits for a repaint.
#pragma once

#include <cstddef>
#include <cstdint>

namespace ops {

enum class Activity : uint8_t {
    None,
    Update,      // "farm udt": model verdict, then pages programmed
    Recovery,    // the boot-mode update without the model request
    FlashWrite,  // bytes of Length
    FlashRead,
    FlashErase,        // one request: no units
    ParamChain,        // stop, erase, write: steps of three
    ApStop,            // attempts of three
    Sequence,          // runs until stopped: no units
    FlashVerify,       // bytes of Length read and compared with the transfer file
    FirmwareVerify,    // bytes of the firmware's pages read and compared with the image
    AwaitApplication,  // after an update: until the unit answers in its application
};

enum class Outcome : uint8_t {
    Running,
    Complete,
    Refused,  // the device said no (model mismatch included)
    NoAnswer,
    PortClosed,
    Failed,         // the firmware programmer's result code says why
    Stopped,        // the operator stopped it (the pattern sequence)
    NotStarted,     // ended before it began: a file, a length, a missing model
    FileError,      // the flash read's file could not be written
    DamagedAnswer,  // an answer came cut or corrupted; its data were not taken
    Different,      // a verify read the whole range, and the flash differs from the file
};

// Where a longer operation is, for every front end to name in the same words.
enum class Stage : uint8_t {
    None,
    Verdict,    // "farm udt": the model request is out, its answer awaited
    Erasing,    // the programmer's erase pass
    WriteMode,  // "W" sent: the boot loader opens its write mode
    Pages,      // the write pass: pages counted
    Reading,    // a verify reads the flash
    Comparing,  // a verify compares what it read with the file
};

// Why a command started nothing.
enum class NotStartedWhy : uint8_t {
    None,
    FileOpen,          // the file cannot be opened ("OPEN ERROR")
    FileRead,          // the file cannot be read ("READ ERROR")
    Length,            // the length exceeds the transfer buffer
    NoModel,           // the firmware file has no model record
    FirmwareFile,      // the firmware file cannot be loaded
    Busy,              // another operation runs (the running one's board is kept)
    NumberText,        // an address or length text longer than an edit holds
    Range,             // a write or an erase would run past the top of the address space
    Text,              // a parameter text holds a character code page 932 cannot represent
    NoFileName,        // the file edit is empty
    NotAFile,          // the file is a folder, a link, a device or a Windows device name
    ReadOnly,          // a flash read's target is read-only
    NameTooLong,       // the file system does not take the name (a read's "FILE.partial")
    BeyondFile,        // a write or a verify asks for more bytes than the file holds
    NothingToCompare,  // a verify of length 0
    TextsTooLong,      // a parameter block's two texts need more than its 256 bytes
};

// What a verify found. Ranges themselves are kept beside the verify (verify.h).
struct VerifyFacts {
    uint32_t compared = 0;   // bytes compared
    uint32_t differing = 0;  // bytes that differ
    uint32_t ranges = 0;     // runs of differing bytes
    uint32_t first = 0;      // device address of the first difference
    uint8_t fileByte = 0;    // the file's byte there
    uint8_t flashByte = 0;   // the flash's byte there
};

// Status bytes in which the boot loader reported a failure; the run went on.
struct DeviceErrors {
    uint32_t blocks = 0;  // erase status with bit 0x20: block not erased
    uint32_t pages = 0;   // program status with bit 0x10: page not programmed
    uint32_t first = 0;   // address of the first failed block or page
};

struct ProgressSnapshot {
    Activity activity = Activity::None;
    Outcome outcome = Outcome::Running;
    uint32_t done = 0;      // units of the running step
    uint32_t total = 0;     // 0: the step has no units to count
    uint32_t step = 0;      // chain: 0 stop, 1 erase, 2 write; update: 0 verdict, 1 update
    uint32_t block = 0;     // parameter-block chain: which block
    uint32_t address = 0;   // where a flash operation starts
    uint32_t where = 0;     // the address (or page) of a failure
    uint32_t failStep = 0;  // parameter-block chain: the step that failed
    int code = 0;           // the programmer's result code of a failed update
    uint32_t startMs = 0;
    uint32_t unitsMs = 0;  // the first unit report: the rate counts from here
    uint32_t endMs = 0;    // 0 while the operation runs
    uint32_t serial = 0;   // counts the operations opened, so a reader sees a new one
    Stage stage = Stage::None;
    NotStartedWhy why = NotStartedWhy::None;
    VerifyFacts verify;
    DeviceErrors deviceErrors;
    // Flash write: the chunks not sent because they were all FF, which
    // counts on the flash there being erased already.
    uint32_t skipped = 0;
    // Commands refused while this operation ran, and the last one's reason;
    // a refusal never touches the running operation's own facts.
    uint32_t refusals = 0;
    NotStartedWhy refusedWhy = NotStartedWhy::None;
};

// Front end: an operation starts or ends. Opening resets the units and the outcome.
void OpenProgress(Activity activity, uint32_t address = 0, uint32_t block = 0);
// The step the operation has reached: a chain's stop, erase, write (0 to 2);
// an update's model verdict (0) and boot-mode update (1).
void SetStep(uint32_t step);
// Closes the running operation: a failure a worker recorded stands, otherwise
// the outcome given (Complete unless the front end knows better).
void CloseProgress(Outcome outcome = Outcome::Complete);

// Front end: a command started nothing; the board shows it ended so, and why.
void EndNotStarted(Activity activity, NotStartedWhy why, uint32_t address = 0, uint32_t block = 0);
// Front end: a command was refused beside a running operation.
void NoteRefusal(NotStartedWhy why);

// Worker: units done of total; and a failure, the first of which is kept.
void ReportUnits(uint32_t done, uint32_t total);
void ReportFailure(Outcome outcome, uint32_t where, int code = 0);
void SetStage(Stage stage);
// Worker: the operation ends before it began, and why.
void ReportNotStarted(NotStartedWhy why, uint32_t where);
void ReportVerify(const VerifyFacts& facts);
void ReportDeviceErrors(const DeviceErrors& errors);
// "2 pages not programmed", "1 block not erased and 3 pages not programmed".
void FormatDeviceErrors(const DeviceErrors& errors, char* out, size_t cap);
void ReportSkipped(uint32_t chunks);

ProgressSnapshot ReadProgress();
// Forgets everything (between tests).
void ResetProgress();

// The bar's fraction in thousandths: the chain counts its steps, an ended
// operation is full when complete.
uint32_t ProgressPermille(const ProgressSnapshot& s);
// Units per second since the start, 0 before a rate can be told.
double ProgressRate(const ProgressSnapshot& s, uint32_t nowMs);
// Seconds left at the rate so far; -1 when it cannot be told yet.
int ProgressSecondsLeft(const ProgressSnapshot& s, uint32_t nowMs);
// The status line: what runs and how far it is, or the outcome and the time
// it took, e.g. "flash read 0x1000: 12,288 of 131,072 bytes, 3.7 KB/s, 0:31
// left" or "update complete in 18.2 s". Empty before the first operation.
void FormatProgress(const ProgressSnapshot& s, uint32_t nowMs, char* out, size_t cap);

}  // namespace ops
