// transfer_commands.h - the panel's flash transfers (write, read, erase,
// verify) as the dialog prepares them: the file, the numbers, the range.
#pragma once

#include "operations/operation_params.h"

namespace shell {

// Commands 203, 204, 205 and 209 (any other id does nothing): take the edits
// into OperationParams, load the file for a write, an erase or a verify, and
// start the command's worker.
void FlashTransfer(ops::OperationParams* params, int id);

}  // namespace shell
