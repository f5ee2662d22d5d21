// frame.cpp - frame checksum, SendFrame and the transmitter lock.
#include "link/frame.h"

#include "link/serial_session.h"
#include "link/frame_line.h"
#include "link/line_tap.h"

namespace wire {

namespace {
// How often this thread holds the transmitter: an operation that owns it
// (building a record, then sending it) may call one that takes it again.
thread_local int heldDepth = 0;

// Longest a UI-thread send waits for a worker's frame to be written: a frame
// of 512 bytes with the write time-out of 1 ms a byte plus 1000 ms fits well.
constexpr uint32_t kUiTransmitterWaitMs = 3000;

// The lock itself, and the signal raised at every release for the UI thread,
// which must not block in the lock: the worker holding it may be inside
// LogLine, waiting for the UI thread to add its line.
platform::LockHandle TransmitterLockHandle() {
    static const platform::LockHandle lock = platform::NewLock();
    return lock;
}

platform::SignalHandle TransmitterFreed() {
    static const platform::SignalHandle signal = platform::NewSignal();
    return signal;
}

bool UiAcquire() {
    const uint64_t start = platform::MonotonicUs();
    while (!platform::TryLock(TransmitterLockHandle())) {
        const uint64_t waitedMs = (platform::MonotonicUs() - start) / 1000;
        if (waitedMs >= kUiTransmitterWaitMs) return false;
        platform::UiWaitSignal(TransmitterFreed(), static_cast<uint32_t>(kUiTransmitterWaitMs - waitedMs));
    }
    return true;
}
}  // namespace

uint8_t FrameChecksum(const uint8_t* frame, int payloadLength) {
    uint32_t sum = kStx + frame[1] + frame[2] + frame[3];
    for (int i = 0; i < payloadLength; ++i) sum += frame[4 + i];
    return static_cast<uint8_t>(sum + kEtx);
}

int SendFrame(uint32_t command, uint32_t payloadLength) {
    const int n = static_cast<int>(payloadLength & 0xFFFF);
    if (n > kMaxPayload) return 0;  // the frame would not fit TransmitFrame
    uint8_t* f = TransmitFrame.data();
    f[0] = kStx;
    f[1] = static_cast<uint8_t>(command);
    f[2] = static_cast<uint8_t>(n & 0xFF);
    f[3] = static_cast<uint8_t>(n >> 8);
    f[4 + n] = kEtx;
    f[5 + n] = FrameChecksum(f, n);
    f[6 + n] = kCr;
    char line[kFrameLineBufferSize];
    FormatFrameLine('T', f, n + 7, line);
    platform::LogFrame('T', n + 7, f, n + 7, line);
    // Tapped before the write: the answer may be taken off the line before
    // the write has returned.
    if (CommHandle.load() != nullptr) TapLine(TapDirection::ToDevice, f, n + 7);
    return WritePort(CommHandle.load(), f, n + 7);
}

bool AcquireTransmitter(bool onUiThread) {
    if (heldDepth > 0) {
        ++heldDepth;
        return true;
    }
    if (onUiThread) {
        if (!UiAcquire()) return false;
    } else {
        platform::Lock(TransmitterLockHandle());
    }
    heldDepth = 1;
    return true;
}

void ReleaseTransmitter() {
    if (--heldDepth != 0) return;
    platform::Unlock(TransmitterLockHandle());
    platform::RaiseSignal(TransmitterFreed());
}

int WriteRaw(const void* bytes, int count) {
    TransmitterLock tx(false);
    if (CommHandle.load() != nullptr) TapLine(TapDirection::ToDevice, static_cast<const uint8_t*>(bytes), count);
    return WritePort(CommHandle.load(), bytes, count);
}

bool SendEmptyRequest(uint8_t command, bool onUiThread) {
    TransmitterLock tx(onUiThread);
    if (!tx.held()) return false;
    SendFrame(command, 0);
    return true;
}

}  // namespace wire
