// param_chain.h - the parameter-block chain: stop the device, erase block k's
// range, write it, and end with request 0x62, one worker after the other.
#pragma once

#include <cstdint>

#include "operations/operation_params.h"

namespace shell {

// Commands 300 to 303: takes block k's texts and starts the chain's stop;
// true when it started.
bool ParamBlock(ops::OperationParams* params, int k);
// The same chain for block k with its two texts as the unit stores them
// (CP932, each shorter than 256 bytes): a front end that has the texts itself.
bool WriteParamBlock(ops::OperationParams* params, int k, const char* first, const char* second);
// True from ParamBlock's stop until the chain has ended, whichever way.
bool ParamChainRuns();
// After a worker of the chain was reaped: the chain's next step. stopAnswered
// is what the stop worker's end message said (read only after the stop).
void ParamChainStep(ops::OperationParams* params, bool stopAnswered);
// Forgets a chain (a test's fresh dialog).
void ResetParamChain();

}  // namespace shell
