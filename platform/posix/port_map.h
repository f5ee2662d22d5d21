// port_map.h - which device a port number opens on Linux.
//
// Windows finds COMn by its number. Linux names a serial device by its driver
// (/dev/ttyUSB0, /dev/ttyACM0, a pseudo-terminal's /dev/pts/N) and gives the
// numbers no meaning, so here a number opens only the path it was mapped to:
// tq73 maps the device given with --port (or its --sim's pseudo-terminal) to
// port 1, and native tests and the benchmark map their simulator's. A number
// mapped to nothing does not open: no /dev/ttyS* is ever guessed, so nothing is
// opened that the engineer did not point at.
#pragma once

#include <string>

namespace platform::posix {

// Port number (1 and up) to device path; a later map of a number replaces its path.
void MapPort(int number, const std::string& path);
void ClearPortMap();
// The path mapped to number; false when it is mapped to nothing.
bool MappedPort(int number, std::string& path);

}  // namespace platform::posix
