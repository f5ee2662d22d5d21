// progress.h - how far the running operation is, for whatever shows it.
//
// The front end that starts an operation opens it here; its worker reports
// units done; the front end closes it (result.h) when the operation has
// ended. The board carries progress only: what the operation came to is its
// result. Readers (a window's timer, a console's loop) take a snapshot
// whenever they like. Reporting never waits for a reader: a
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
    LineCheck,         // harmless requests timed: requests of how many
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

struct ProgressSnapshot {
    Activity activity = Activity::None;
    uint32_t done = 0;     // units of the running step
    uint32_t total = 0;    // 0: the step has no units to count
    uint32_t step = 0;     // chain: 0 stop, 1 erase, 2 write; update: 0 verdict, 1 update
    uint32_t block = 0;    // parameter-block chain: which block
    uint32_t address = 0;  // where a flash operation starts
    uint32_t startMs = 0;
    uint32_t unitsMs = 0;  // the first unit report: the rate counts from here
    uint32_t endMs = 0;    // 0 while the operation runs
    uint32_t serial = 0;   // counts the operations opened, so a reader sees a new one
    Stage stage = Stage::None;
    bool complete = false;  // ended complete: the bar is full
};

// Front end: an operation starts. Opening resets the units, and the result
// beside the board (result.h) starts afresh.
void OpenProgress(Activity activity, uint32_t address = 0, uint32_t block = 0);
// The step the operation has reached: a chain's stop, erase, write (0 to 2);
// an update's model verdict (0) and boot-mode update (1).
void SetStep(uint32_t step);

// Worker: units done of total, and where the operation is.
void ReportUnits(uint32_t done, uint32_t total);
void SetStage(Stage stage);

ProgressSnapshot ReadProgress();
// Forgets everything, the last result too (between tests).
void ResetProgress();

// The bar's fraction in thousandths: the chain counts its steps, an ended
// operation is full when complete.
uint32_t ProgressPermille(const ProgressSnapshot& s);
// Units per second since the start, 0 before a rate can be told.
double ProgressRate(const ProgressSnapshot& s, uint32_t nowMs);
// Seconds left at the rate so far; -1 when it cannot be told yet.
int ProgressSecondsLeft(const ProgressSnapshot& s, uint32_t nowMs);
// What runs and how far it is, e.g. "flash read 0x1000: 12,288 of 131,072
// bytes, 3.7 KB/s, 0:31 left". Empty when nothing runs; an ended
// operation's words come from its result (shell/result_words.h).
void FormatProgress(const ProgressSnapshot& s, uint32_t nowMs, char* out, size_t cap);
// "flash read", "parameter block", "update": the operation as every front
// end names it; its title adds where it works: "flash read 0x1000",
// "parameter block 2" ("firmware verify" has no address of its own).
const char* ActivityName(Activity activity);
void ActivityTitle(Activity activity, uint32_t address, uint32_t block, char* out, size_t cap);
// What an activity's units count: "bytes", "pages", "attempts", or "".
const char* UnitName(Activity activity);
bool CountsBytes(Activity activity);
bool CountsPages(Activity activity);
// A parameter-block chain's step: "stop", "erase", "write".
const char* ChainStepName(uint32_t step);
// "12,288": the digits grouped in threes.
void GroupedNumber(uint32_t value, char* out, size_t cap);

}  // namespace ops
