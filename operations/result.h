// result.h - what an operation came to, handed to the front end when it ends.
//
// Beside the progress board (progress.h) the core keeps the result of the
// operation that runs: its worker records the first failure, a verify's
// counts, the device's status failures; closing the operation finishes it.
// A front end takes the result of the operation it started by the board's
// serial; its words come from shell/result_words.h, a command line's exit
// code from its own table of outcomes.
#pragma once

#include <cstddef>
#include <cstdint>

#include "operations/progress.h"
#include "platform/platform.h"

namespace ops {

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

// Answers the line spoilt or lost, and the requests asked again for them
// (a flash read's or a verify's chunks only).
struct LineTrouble {
    uint32_t askedAgain = 0;
    uint32_t damaged = 0;  // came cut or with a wrong checksum
    uint32_t lost = 0;     // never came within the bound, the port open
    // Sound answers to the same request that differed: on a line that spoils
    // answers, a chunk is taken only when two answers agree.
    uint32_t disagreed = 0;
};

// What a line check measured: harmless requests timed, and what the system
// knows of the port's adapter.
struct LineFigures {
    int asked = 0;
    int answered = 0;
    double medianMs = 0;  // round trip of the answered requests
    double bestMs = 0;
    platform::LowLatency lowLatency = platform::LowLatency::NotApplicable;
    bool usb = false;         // the port is a USB serial adapter, where that is known
    int latencyTimerMs = -1;  // the adapter driver's own setting, where it keeps one
};

struct OperationResult {
    Activity activity = Activity::None;
    Outcome outcome = Outcome::Running;  // Running while the operation is open
    uint32_t serial = 0;                 // the board's serial of the operation
    uint32_t address = 0;                // where a flash operation starts
    uint32_t block = 0;                  // parameter-block chain: which block
    uint32_t step = 0;                   // the step reached: chain 0 to 2; update 0 verdict, 1 update
    uint32_t done = 0;                   // units of the last step, and of how many
    uint32_t total = 0;
    Stage stage = Stage::None;  // where the operation was when it ended
    uint32_t where = 0;         // the address (or page) of a failure
    uint32_t failStep = 0;      // parameter-block chain: the step that failed
    int code = 0;               // the programmer's result code of a failed update
    uint32_t startMs = 0;
    uint32_t endMs = 0;
    NotStartedWhy why = NotStartedWhy::None;
    VerifyFacts verify;
    DeviceErrors deviceErrors;
    // Flash write: the chunks not sent because they were all FF, which
    // counts on the flash there being erased already.
    uint32_t skipped = 0;
    LineTrouble line;
    LineFigures lineCheck;  // a line check's measurement
    // Commands refused while this operation ran, and the last one's reason;
    // a refusal never touches the running operation's own facts.
    uint32_t refusals = 0;
    NotStartedWhy refusedWhy = NotStartedWhy::None;
};

// Complete, or stopped by the operator where stopping is its end (the
// pattern sequence): what every front end counts as success.
bool Succeeded(Outcome outcome);

// Closes the running operation: a failure a worker recorded stands, otherwise
// the outcome given (Complete unless the front end knows better).
void CloseProgress(Outcome outcome = Outcome::Complete);
// Front end: a command started nothing; the board shows it ended so, and why.
void EndNotStarted(Activity activity, NotStartedWhy why, uint32_t address = 0, uint32_t block = 0);
// Front end: a command was refused beside a running operation.
void NoteRefusal(NotStartedWhy why);

// Worker: a failure, the first of which is kept.
void ReportFailure(Outcome outcome, uint32_t where, int code = 0);
// Worker: the operation ends before it began, and why.
void ReportNotStarted(NotStartedWhy why, uint32_t where);
void ReportVerify(const VerifyFacts& facts);
void ReportDeviceErrors(const DeviceErrors& errors);
void ReportSkipped(uint32_t chunks);
// Worker: adds to the counts of spoilt answers and requests asked again.
void ReportLineTrouble(const LineTrouble& add);
void ReportLineFigures(const LineFigures& figures);

// The result of the operation opened last; Running until it is closed.
OperationResult LastResult();

// "2 pages not programmed", "1 block not erased and 3 pages not programmed".
void FormatDeviceErrors(const DeviceErrors& errors, char* out, size_t cap);

}  // namespace ops
