// frame.h - application-mode frame layout as the simulated TQ7300 builds and checks it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace sim {

constexpr uint8_t kStx = 0x02;
constexpr uint8_t kEtx = 0x03;
constexpr uint8_t kCr = 0x0D;

// STX, command/status, two length bytes before the payload; ETX, checksum, CR after it.
constexpr size_t kFrameHeader = 4;
constexpr size_t kFrameOverhead = 7;

// Status bytes the device answers with. Hosts only test for kStatusAccepted; the
// distinct bad-frame status makes a corrupted request recognisable in a log.
constexpr uint8_t kStatusAccepted = 0x30;  // '0'
constexpr uint8_t kStatusRefused = 0x31;   // '1'
constexpr uint8_t kStatusBadFrame = 0x32;  // '2': request arrived with a wrong checksum

// Additive 8-bit checksum over STX, byte 1, both length bytes, the payload and ETX.
// `frame` points at the STX; the length is taken from the frame's own length field.
uint8_t FrameChecksum(const uint8_t* frame, size_t payloadLength);

// A complete frame: STX, `commandOrStatus`, length, payload, ETX, checksum, CR.
std::vector<uint8_t> BuildFrame(uint8_t commandOrStatus, const std::vector<uint8_t>& payload);

}  // namespace sim
