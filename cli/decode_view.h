// decode_view.h - the decoded view of tq73: what a frame or a boot-mode step
// is, under its line (--decode) or as the "decoded" object of a JSON event,
// and the English of the console's Japanese texts; and tq73 decode, which
// reads a session back from a file.
#pragma once

#include <cstdint>

#include "cli/args.h"
#include "cli/json.h"
#include "shell/frame_decoder.h"

namespace cli {

// What is printed under a decoded line: "    = flash read 0x003000, 256 bytes".
constexpr const char* kDecodedPrefix = "    = ";

// "decoded":{"text":...,<the fields>}
void AddDecoded(JsonLine& line, const shell::Decoding& d);

// The line, then the decoding under it; under --json one event with both.
void PrintDecoded(const char* line, const shell::Decoding& d, bool json, const char* event);

// tq73 decode FILE|-: a session transcript, tq73 --json output, a raw
// capture of what the device received (the simulator's --record) or a
// tq73 --capture file, decoded on stdout. Returns the exit code.
int DecodeCommand(const Request& request);

}  // namespace cli
