// service_commands.h - the commands of the service panel that prepare a
// worker: flash transfers and the parameter-block chain.
#pragma once

#include <cstdint>

#include "operations/operation_params.h"

namespace shell {

// The parameter-block chain: 0 while none runs, else block k + 1; the step
// is 0 (stop under way), 1 (erase under way) or 2 (write under way).
extern int ParamSequenceMode;
extern int ParamSequenceStep;

// Commands 203, 204, 205 and 209: take the edits into OperationParams, load
// the file for a write, an erase or a verify, and start the command's worker.
void FlashTransfer(ops::OperationParams* params, int id);
// Commands 300 to 303: stop the device, then erase and write block k.
void ParamBlock(ops::OperationParams* params, int k);
// After a worker was reaped: the chain's next step, if a chain runs.
void ParamChainStep(ops::OperationParams* params, uintptr_t outcome);

}  // namespace shell
