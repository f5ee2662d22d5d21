// fake_platform.h - the platform under the fuzz targets: one process, one
// thread, a virtual clock, a serial line that delivers scripted chunks at
// scripted times, an in-memory file, and a recording user interface.
//
// Time passes only when the code under test sleeps, waits for the comm event
// or reads with a time-out, so a run that would take minutes of line time
// takes microseconds, and the same input always gives the same run.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace fuzzfake {

// ---- the virtual clock ------------------------------------------------------

// Starts the clock at 0 ms; TickMs() reads tickBase + elapsed (so a base near
// a wrap of 16 or 32 bits exercises the code that takes differences).
void ResetClock(uint32_t tickBase);
uint64_t NowMs();

// ---- the serial line -----------------------------------------------------------

// Level: a wait completes while any byte is queued (Wine). Edge: only bytes
// that arrive during the wait complete it (Windows).
enum class Signal { Level, Edge };

struct Chunk {
    uint64_t atMs;  // arrival time; chunks are given in time order
    std::vector<uint8_t> bytes;
};

// A fresh line for COM1: the chunks arrive at their times from now on.
void ResetLine(Signal signal, std::vector<Chunk> chunks);
size_t QueuedBytes();
bool AllArrived();
uint64_t LastArrivalMs();

// Called whenever the code under test lets time pass (sleeps and comm-event
// waits), so that a harness can play the requester: take what was handed
// over, or ask the receiver to stop. nullptr: none.
using StepHook = void (*)();
void SetStepHook(StepHook hook);

// Chunks that arrived in one piece while the receiver sat in an idle wait
// (nothing queued) and that are one well-formed frame each: the receiver must
// deliver every one of them.
const std::vector<std::vector<uint8_t>>& CleanFramesArrivedIdle();

// What the line itself notices about the code under test ends the run at
// once with a message on stderr and abort(), which libFuzzer reports as a
// crash: a comm-event wait begun while bytes were queued under edge
// signalling (they would sit there until more arrive), or thousands of calls
// in a row during which neither time passed nor a byte moved (a spin).
[[noreturn]] void Fail(const char* what);

// ---- the user interface --------------------------------------------------------

void ResetUi();
const std::vector<std::string>& LogLines();
int BoxCount();

// ---- files -------------------------------------------------------------------

// The one file that FileOpenRead finds, under this name.
void SetFile(const char* name, const uint8_t* data, size_t size);

}  // namespace fuzzfake
