// worker_slot.h - the dialog's one worker: starting it, refusing what would
// run beside it, and reaping it when its end message is handled.
#pragma once

#include <cstdint>

#include "operations/progress.h"
#include "operations/result.h"
#include "platform/platform.h"

namespace shell {

// A beep and a log line that says why a command did nothing.
void Refuse(const char* why);
// Refuse, for a command that found another operation running: the board
// counts it without touching the running operation.
void RefuseBusy(const char* why);
// Refuses (and returns true) while a worker runs or the slot is held:
// commands that start a worker or send a frame check this first.
bool RefuseIfBusy();

// Holds the slot with no worker in it (a request whose answer decides what
// runs next): RefuseIfBusy refuses with busyWhy until ReleaseSlot.
void HoldSlot(const char* busyWhy);
void ReleaseSlot();

// Starts the one worker. Refused (beep and a log line) while a worker runs.
bool StartWorker(platform::ThreadRoutine routine, void* param);
// StartWorker for an operation of its own: the progress board shows it from
// now until its end is handled.
bool StartTracked(ops::Activity activity, platform::ThreadRoutine routine, void* param, uint32_t address = 0,
                  uint32_t block = 0);
bool WorkerRunning();
// Waits (on the UI thread, carrying out other threads' log requests) until
// the worker has ended or timeoutMs has passed; true when none runs then.
bool AwaitWorker(uint32_t timeoutMs);
// On the worker's own end message: waits for its thread and empties the slot.
void ReapWorker();

}  // namespace shell
