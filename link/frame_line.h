// frame_line.h - the operator-log text of one frame: "T-  7 0261000003660D".
#pragma once

#include <cstdint>

namespace wire {

// Room for the longest line with any 16-bit length: "R-65542 " + 128 digits.
constexpr int kFrameLineBufferSize = 512;
constexpr int kFrameLineMaxBytesShown = 64;

// Letter, hyphen, the whole frame length right-aligned in three places, a
// blank, then at most the first 64 bytes as upper-case hex pairs. Reads only
// the bytes it shows; line must hold kFrameLineBufferSize characters.
void FormatFrameLine(char letter, const uint8_t* frame, int length, char* line);

}  // namespace wire
