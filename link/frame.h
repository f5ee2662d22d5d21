// frame.h - the application-mode frame: checksum, transmitter and the lock
// that keeps two threads from building in the one TransmitFrame at once.
#pragma once

#include <cstdint>

#include "link/link_state.h"

namespace wire {

// 8-bit sum of STX, command/status, both length bytes, the payload and ETX of
// the frame that starts at frame[0]; payloadLength bytes from frame[4].
uint8_t FrameChecksum(const uint8_t* frame, int payloadLength);

// Frames the payload already in TransmitFrame[4..], logs the T line, then
// writes it. Returns the bytes written. The caller must hold the transmitter.
int SendFrame(uint32_t command, uint32_t payloadLength);

// Ownership of TransmitFrame from the first payload byte written until
// SendFrame has returned. Worker threads wait for it; the UI thread waits
// while serving log requests (a worker that holds it may be inside LogLine),
// and gives up after a bound. A thread that holds it may take it again.
bool AcquireTransmitter(bool onUiThread);
void ReleaseTransmitter();

class TransmitterLock {
public:
    explicit TransmitterLock(bool onUiThread) : held_(AcquireTransmitter(onUiThread)) {}
    ~TransmitterLock() {
        if (held_) ReleaseTransmitter();
    }
    TransmitterLock(const TransmitterLock&) = delete;
    TransmitterLock& operator=(const TransmitterLock&) = delete;
    bool held() const { return held_; }

private:
    bool held_;
};

// Writes raw bytes (the wake byte, boot-mode steps) under the transmitter, so
// that they never land inside a frame and the port is not closed under them.
// Worker threads only. Returns the count written.
int WriteRaw(const void* bytes, int count);

// Builds and sends one request with an empty payload under the transmitter.
// false when the transmitter could not be had.
bool SendEmptyRequest(uint8_t command, bool onUiThread);

}  // namespace wire
