// record.h - the service record: one JSON object per unit and operation,
// appended to the file --record names (JSON Lines), so that a depot can tell
// afterwards what each unit was given and what came of it.
#pragma once

#include <cstddef>

#include "cli/args.h"
#include "cli/json.h"
#include "platform/port_info.h"

namespace cli::record {

// What the record says beyond the operation's result (ops::LastResult).
struct Facts {
    const Request* request = nullptr;
    const char* unit = "";  // the port as given, or the label of a simulated unit
    int exitCode = 0;
    const char* outcome = "";
    const char* text = "";  // the result line
    double seconds = 0;     // the command's time, start to end
    int modelCode = 0;      // a firmware command's model request byte, 0 when none
    // What the system knows of the unit's port (its USB adapter), or nullptr.
    const platform::ports::PortInfo* adapter = nullptr;
};

// --record's file as given (UTF-8) into path, as the platform's file calls
// take it, and whether it can take records: a file, or a name in a folder
// that takes a new one (made here, empty); not a link, a pipe, a device or a
// read-only file. Checked before the port opens. False with the reason.
bool TakeFile(const char* given, char* path, size_t pathCap, char* why, size_t whyCap);
// The record as one line.
void Format(const Facts& facts, JsonLine& line);
// Appends it to path in one write; false with the reason.
bool Append(const char* path, const Facts& facts, char* why, size_t whyCap);

}  // namespace cli::record
