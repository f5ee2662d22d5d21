// simulator.h - the simulated TQ7300 that --sim runs in-process (Linux: on a
// pseudo-terminal; Windows has none).
#pragma once

#include <cstddef>

namespace cli::simulator {

// Whether this build has --sim at all (Windows has no pseudo-terminals).
bool SimulatorAvailable();
// The simulated TQ7300 for --sim (in boot mode, or running its application),
// set up so that port number 1 reaches it; where it is, or false with the
// reason (not available on Windows).
bool StartSimulator(bool bootMode, char* where, size_t whereCap, char* why, size_t whyCap);
void StopSimulator();

}  // namespace cli::simulator
