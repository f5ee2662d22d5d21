// station.h - one command on several units at once: tq73 started again for
// each unit (its own process, so that a unit that hangs or crashes never
// touches another), their events read back, shown as live rows on a
// terminal, as lines prefixed with the port elsewhere, or as JSON events
// with their port; then a summary and one exit code.
#pragma once

#include "cli/args.h"

namespace cli::station {

// args: the program's arguments as UTF-8 (args[0] the program), as the
// request was parsed from. Returns the station's exit code (station_view.h).
int Run(const Request& request, int count, const char* const* args);

}  // namespace cli::station
