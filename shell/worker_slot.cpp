// worker_slot.cpp - the dialog's one worker.
#include "shell/worker_slot.h"

#include "firmware/programmer.h"
#include "link/serial_session.h"

namespace shell {

namespace {

platform::ThreadHandle workerThread = nullptr;  // the one worker slot
platform::ThreadRoutine workerRoutine = nullptr;
const char* holdWhy = nullptr;  // set while the slot is held with no worker

bool ProgrammingRuns() { return WorkerRunning() && workerRoutine == firmware::FirmwareUpdateWorker; }

}  // namespace

void Refuse(const char* why) {
    platform::Beep();
    platform::LogLine(why);
}

void RefuseBusy(const char* why) {
    Refuse(why);
    ops::NoteRefusal(ops::NotStartedWhy::Busy);
}

// Two workers share the request buffers and the handshake; and a frame sent
// beside a worker would have its answer taken for the one the worker waits
// for (during programming it would also break the boot protocol). So while a
// worker runs, or the slot is held for an answer, commands that start a
// worker or send a frame are refused.
bool RefuseIfBusy() {
    if (holdWhy != nullptr) {
        RefuseBusy(holdWhy);
        return true;
    }
    if (WorkerRunning()) {
        RefuseBusy(ProgrammingRuns() ? "busy: firmware programming runs" : "busy: another operation runs");
        return true;
    }
    return false;
}

void HoldSlot(const char* busyWhy) { holdWhy = busyWhy; }

void ReleaseSlot() { holdWhy = nullptr; }

bool WorkerRunning() { return workerThread != nullptr && platform::ThreadRunning(workerThread); }

bool AwaitWorker(uint32_t timeoutMs) {
    return workerThread == nullptr || platform::UiAwaitThreadEnd(workerThread, timeoutMs);
}

// Only the worker's own message empties the slot (ReapWorker). A worker that has
// ended while its message is still queued keeps it: were a new worker started in
// that moment, the old message, handled next, would be taken for the new worker's:
// the dialog would wait for the new one to end (blocked for up to 10 s) and then
// empty the slot under it, so that a third worker could start beside it.
bool StartWorker(platform::ThreadRoutine routine, void* param) {
    if (workerThread != nullptr) {
        RefuseBusy("busy: another operation runs");
        return false;
    }
    workerThread = platform::StartThread(routine, param);
    workerRoutine = workerThread != nullptr ? routine : nullptr;
    return workerThread != nullptr;
}

bool StartTracked(ops::Activity activity, platform::ThreadRoutine routine, void* param, uint32_t address,
                  uint32_t block) {
    // The slot, not only a running thread: an ended worker whose message is
    // still queued owns the board until that message closes its operation.
    if (workerThread != nullptr) {
        RefuseBusy("busy: another operation runs");
        return false;
    }
    ops::OpenProgress(activity, address, block);
    if (StartWorker(routine, param)) return true;
    ops::CloseProgress(ops::Outcome::NotStarted);
    return false;
}

void ReapWorker() {
    if (workerThread == nullptr) return;
    wire::AwaitThreadEnd(workerThread);
    workerThread = nullptr;
    workerRoutine = nullptr;
}

}  // namespace shell
