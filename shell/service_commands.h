// service_commands.h - the commands of the service panel that prepare a
// worker: flash transfers and the parameter-block chain.
#pragma once

#include <cstdint>

#include "operations/operation_params.h"
#include "operations/progress.h"

namespace shell {

// The parameter-block chain: 0 while none runs, else block k + 1; the step
// is 0 (stop under way), 1 (erase under way) or 2 (write under way).
extern int ParamSequenceMode;
extern int ParamSequenceStep;

// The transfer file of the file edit, for every command that uses it: its
// path taken exactly into params->FileName and, when load is true (the file
// is read: write, erase, verify), the file opened without sharing and loaded
// into TransferBuffer (an empty length edit gets its size). operation names
// the command in the log. False when the command must not start: a name that
// cannot be carried as given has a log line that says why and the "OPEN
// ERROR" box ("WRITE ERROR" for a file to be created); a file that cannot be
// opened or read has its box. Nothing is opened or created then, and the
// progress board shows the activity as not started, and why.
bool TakeTransferFile(ops::OperationParams* params, const char* operation, bool load, ops::Activity activity);
// Commands 203, 204, 205 and 209: take the edits into OperationParams, load
// the file for a write, an erase or a verify, and start the command's worker.
void FlashTransfer(ops::OperationParams* params, int id);
// Commands 300 to 303: stop the device, then erase and write block k.
void ParamBlock(ops::OperationParams* params, int k);
// After a worker was reaped: the chain's next step, if a chain runs.
void ParamChainStep(ops::OperationParams* params, uintptr_t outcome);

}  // namespace shell
