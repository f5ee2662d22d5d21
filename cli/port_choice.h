// port_choice.h - tq73's list of ports with what the system knows of them,
// and --port given as "auto" or as an adapter's USB serial number.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "platform/port_info.h"

namespace cli {

// Prints one line (one "port" event) per port; returns how many.
int PrintPorts(const std::vector<platform::ports::PortInfo>& ports);

// The port that --port names: as given, or the one chosen by "auto" or a USB
// serial number. False with the reason (and the ports there are) when "auto"
// finds none or several, or a serial number fits several.
bool ResolvePort(const char* arg, const std::vector<platform::ports::PortInfo>& ports, std::string& port, char* why,
                 size_t whyCap);

// ResolvePort over the system's list, read only when arg is "auto" or a word
// that is no device path or COM name (it may be a serial number).
bool ChoosePortArgument(const char* arg, std::string& port, char* why, size_t whyCap);

}  // namespace cli
