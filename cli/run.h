// run.h - carrying out one tq73 command through the window's dispatcher.
#pragma once

#include "cli/args.h"

namespace cli {

// Opens the port (or the simulated device), sets the control texts the
// command reads, gives the window's command id to the dispatcher, pumps
// posted messages and dialog timers until the operation has ended, closes
// the port and prints the result. Returns the exit code.
int Run(const Request& request);

}  // namespace cli
