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
// A transfer asked for with its values instead of the panel's edits: id is
// the command's (203, 204, 205, 209), file as the platform's file calls take
// it (a write's, a verify's or an erase's source, a read's target; empty: an
// erase with no file). A length not given takes the loaded file's size.
struct TransferRequest {
    int id;
    uint32_t start;
    uint32_t length;
    bool lengthGiven;
    const char* file;
};
// Checked and refused as the panel's command is; true when the worker started.
bool StartTransfer(ops::OperationParams* params, const TransferRequest& request);

}  // namespace shell
