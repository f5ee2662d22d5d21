// link_state.h - the process-wide state that the serial link shares between threads.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>

#include "platform/platform.h"

namespace wire {

constexpr int kFrameBufferSize = 512;
constexpr int kMaxPayload = kFrameBufferSize - 7;  // 505
constexpr uint8_t kStx = 0x02;
constexpr uint8_t kEtx = 0x03;
constexpr uint8_t kCr = 0x0D;
constexpr uint8_t kStatusAccepted = '0';

// LinkFlags bits.
constexpr uint16_t kFlagStopReceiver = 1;  // bit 0: the receiver leaves its loop
constexpr uint16_t kFlagStopSequence = 2;  // bit 1: the pattern sequence stops
constexpr uint16_t kFlagRawCapture = 8;    // bit 3: hand over single bytes, no framing
// bit 4: the programmer ends its write pass before the next page, with the
// closing byte (a program that must end within seconds).
constexpr uint16_t kFlagEndWritePass = 16;

// Private messages posted to the main dialog.
constexpr uint32_t kWmUser = 0x0400;
constexpr uint32_t UM_WORKER_DONE = kWmUser + 1;
constexpr uint32_t UM_SEQUENCE_STOPPED = kWmUser + 2;
constexpr uint32_t UM_RESPONSE_ARRIVED = kWmUser + 3;
// The receiver ended the session because the port went away: the dialog
// closes it as "close" would, so that the port edit and "open" work again.
constexpr uint32_t UM_PORT_LOST = kWmUser + 4;

using FrameBuffer = std::array<uint8_t, kFrameBufferSize>;

// The open port, or nullptr. Written by the UI thread on open and by the
// receiver when it leaves; read by every sender.
extern std::atomic<platform::PortHandle> CommHandle;
extern int PortNumber;
extern std::atomic<uint16_t> LinkFlags;

extern FrameBuffer TransmitFrame;
extern FrameBuffer ResponseBuffer;
// Set (release) by the receiver once ResponseBuffer is complete; cleared by
// requesters before they send; polled with acquire.
extern std::atomic<uint32_t> ResponseReady;
extern int ReceivedLength;

struct ResponseNotice {
    std::atomic<uint32_t> value{0};
    std::atomic<intptr_t> param{0};
};
extern ResponseNotice NotifyOnResponse;

inline void SetLinkFlag(uint16_t bit) { LinkFlags.fetch_or(bit); }
inline void ClearLinkFlag(uint16_t bit) { LinkFlags.fetch_and(static_cast<uint16_t>(~bit)); }
inline bool LinkFlagSet(uint16_t bit) { return (LinkFlags.load() & bit) != 0; }

inline uint8_t ResponseStatus() { return ResponseBuffer[1]; }
inline bool ResponseArrived() { return ResponseReady.load(std::memory_order_acquire) != 0; }
// Clears the status and the flag before a request goes out, so that neither a
// late answer nor an old status can be taken for the new one.
inline void ArmResponse() {
    ResponseBuffer[1] = 0;
    ResponseReady.store(0, std::memory_order_release);
}

}  // namespace wire
