// sim_none.cpp - Windows has no pseudo-terminals: --sim is refused there.
#include <cstdio>

#include "cli/simulator.h"

namespace cli::simulator {

bool SimulatorAvailable() { return false; }

bool StartSimulator(bool, char*, size_t, char* why, size_t whyCap) {
    std::snprintf(why, whyCap,
                  "--sim is not available in tq73.exe: the simulated TQ7300 runs on a Linux pseudo-terminal. "
                  "Use tq73 --sim on Linux, or run tq7300-sim there, map its link to a COM port and give --port");
    return false;
}

void StopSimulator() {}

}  // namespace cli::simulator
