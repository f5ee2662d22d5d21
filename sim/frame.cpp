// frame.cpp - builds and sums application-mode frames for the simulated TQ7300.
#include "frame.h"

namespace sim {

uint8_t FrameChecksum(const uint8_t* frame, size_t payloadLength) {
    unsigned sum = 0;
    for (size_t i = 0; i < kFrameHeader + payloadLength + 1; ++i) sum += frame[i];  // +1: ETX
    return static_cast<uint8_t>(sum);
}

std::vector<uint8_t> BuildFrame(uint8_t commandOrStatus, const std::vector<uint8_t>& payload) {
    const size_t n = payload.size() & 0xFFFF;  // the length field has 16 bits
    std::vector<uint8_t> frame;
    frame.reserve(n + kFrameOverhead);
    frame.push_back(kStx);
    frame.push_back(commandOrStatus);
    frame.push_back(static_cast<uint8_t>(n & 0xFF));
    frame.push_back(static_cast<uint8_t>(n >> 8));
    frame.insert(frame.end(), payload.begin(), payload.begin() + static_cast<std::ptrdiff_t>(n));
    frame.push_back(kEtx);
    frame.push_back(FrameChecksum(frame.data(), n));
    frame.push_back(kCr);
    return frame;
}

}  // namespace sim
