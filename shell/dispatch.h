// dispatch.h - what the main dialog does for each command and private
// message: one handler each. Plain code over the platform layer, so that it
// runs in native tests and under the command-line twin too; the Win32 dialog
// procedure only forwards to it.
#pragma once

#include <cstdint>

#include "operations/operation_params.h"

namespace shell {

void OnInitDialog(ops::OperationParams* params);
// The command of a control; true when it started its operation, sent its
// request or did what it does (open, close, the sequence's stop flag), false
// when it was refused (the log and a box say why) or no control carries id.
bool OnCommand(ops::OperationParams* params, int id);
// Asks the pattern sequence to stop at its next step.
void StopSequence();
// After an update: waits until the unit answers in its application again (a
// front end's verify follows it). No control carries it. True when started.
bool AwaitApplication();
// The line check on the open session (portName as the system names the
// port, for its adapter's settings). True when started.
bool CheckLine(const char* portName);
// UM_WORKER_DONE, UM_SEQUENCE_STOPPED, UM_RESPONSE_ARRIVED, UM_PORT_LOST;
// true when the message is one of them (the dialog reports those as handled).
bool OnPrivateMessage(ops::OperationParams* params, uint32_t message, uintptr_t wParam, intptr_t lParam);
void OnTimer(int id);
// Asks a running write pass to end before its next page, with its closing
// byte (result 10): cut off, it would leave the unit's boot loader in the
// middle of a page, where no command reaches it. True when one runs.
bool EndWritePass();
// WM_CLOSE, and Windows ending the session: a write pass is ended as
// EndWritePass says and awaited, then the session ends; the caller then
// posts WM_QUIT.
void OnClose();

}  // namespace shell
