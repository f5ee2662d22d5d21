// frame_line.cpp - formatting of frame log lines.
#include "link/frame_line.h"

#include <cstdio>

namespace wire {

void FormatFrameLine(char letter, const uint8_t* frame, int length, char* line) {
    int pos = std::snprintf(line, kFrameLineBufferSize, "%c-%3d ", letter, length);
    const int shown = length < kFrameLineMaxBytesShown ? (length < 0 ? 0 : length) : kFrameLineMaxBytesShown;
    static const char kHex[] = "0123456789ABCDEF";
    for (int i = 0; i < shown; ++i) {
        line[pos++] = kHex[frame[i] >> 4];
        line[pos++] = kHex[frame[i] & 0x0F];
    }
    line[pos] = '\0';
}

}  // namespace wire
