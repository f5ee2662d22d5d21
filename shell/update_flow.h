// update_flow.h - the firmware commands: "farm udt" with its wait for the
// device's verdict on the model, recovery, and the firmware verify.
#pragma once

#include <cstdint>

#include "operations/operation_params.h"
#include "link/device_times.h"

namespace shell {

// Loads the firmware file and sends its model request; the update starts on
// the device's verdict (OnResponseArrived) or ends at kVerdictTimer. Each is
// true when its operation started (for "farm udt": its model request went out).
bool FarmUpdate();
// Loads the firmware file and programs it with no model request.
bool Recovery(ops::OperationParams* params);
// Loads the firmware file and compares its pages with the unit's flash.
bool FirmwareVerify(ops::OperationParams* params);

// UM_RESPONSE_ARRIVED: the receiver tells of an answer that a request asked
// to be told of (notice, its wParam); the model request's is the verdict.
void OnResponseArrived(ops::OperationParams* params, uintptr_t notice);
// kVerdictTimer: the wait for the verdict ran out.
void OnVerdictTimer();

}  // namespace shell
