// transfer_commands.h - the panel's flash transfers (write, read, erase,
// verify) as the dialog prepares them: the file, the numbers, the range.
#pragma once

#include <cstdint>

#include "operations/operation_params.h"

namespace shell {

// Commands 203, 204, 205 and 209 (any other id does nothing): take the edits
// into OperationParams, load the file for a write, an erase or a verify, and
// start the command's worker.
// True when the worker started.
bool FlashTransfer(ops::OperationParams* params, int id);
// An erase of length bytes at start, with no file (a front end that is
// given the range itself): refused as the panel's erase refuses a range
// past the top of the address space; true when the worker started.
bool EraseRange(ops::OperationParams* params, uint32_t start, uint32_t length);

}  // namespace shell
