// dispatch.h - what the main dialog does for each command and private
// message: one handler each. Plain code over the platform layer, so that it
// runs in native tests and under the command-line twin too; the Win32 dialog
// procedure only forwards to it.
#pragma once

#include <cstdint>

#include "operations/operation_params.h"

namespace shell {

void OnInitDialog(ops::OperationParams* params);
void OnCommand(ops::OperationParams* params, int id);
// UM_WORKER_DONE, UM_SEQUENCE_STOPPED, UM_RESPONSE_ARRIVED, UM_PORT_LOST;
// true when the message is one of them (the dialog reports those as handled).
bool OnPrivateMessage(ops::OperationParams* params, uint32_t message, uintptr_t wParam, intptr_t lParam);
void OnTimer(int id);
// WM_CLOSE: ends the session; the caller then posts WM_QUIT.
void OnClose();

}  // namespace shell
