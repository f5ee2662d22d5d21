// dispatch.h - what the main dialog does for each command and private message.
// Plain code over the platform layer, so that it runs in native tests too; the
// Win32 dialog procedure only forwards to it.
#pragma once

#include <cstdint>

#include "operations/operation_params.h"
#include "operations/progress.h"
#include "platform/platform.h"

namespace shell {

constexpr int kTextLimit = 256;  // every control text, terminating NUL included
// How long "farm udt" waits for the device's verdict on the model.
constexpr uint32_t kVerdictWaitMs = 3000;

void OnInitDialog(ops::OperationParams* params);
void OnCommand(ops::OperationParams* params, int id);
// UM_WORKER_DONE, UM_SEQUENCE_STOPPED, UM_RESPONSE_ARRIVED; true when the
// message is one of them (the dialog reports those as handled).
bool OnPrivateMessage(ops::OperationParams* params, uint32_t message, uintptr_t wParam,
                      intptr_t lParam);
void OnTimer(int id);
// WM_CLOSE: ends the session; the caller then posts WM_QUIT.
void OnClose();

// A beep and a log line that says why a command did nothing.
void Refuse(const char* why);
// Refuse, for a command that found another operation running: the board
// counts it without touching the running operation.
void RefuseBusy(const char* why);
// Refuses (and returns true) while a worker runs or the model verdict is
// awaited: commands that start a worker or send a frame check this first.
bool RefuseIfBusy();

// Starts the one worker. Refused (beep and a log line) while a worker runs.
bool StartWorker(platform::ThreadRoutine routine, void* param);
// StartWorker for an operation of its own: the progress board shows it from
// now until its end is handled.
bool StartTracked(ops::Activity activity, platform::ThreadRoutine routine, void* param,
                  uint32_t address = 0, uint32_t block = 0);
bool WorkerRunning();

// Reads edit text into a 32-bit field: a trailing lower-case h selects hex.
void ParseNumberText(const char* text, uint32_t& field);

}  // namespace shell
