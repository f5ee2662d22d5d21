// receiver.cpp - the receive loop, frame delivery and the requesters' waits.
//
// The loop waits only when nothing is left for it to do, so that it behaves
// the same whether the driver signals received characters as an edge (Windows:
// bytes already queued do not wake the next wait) or as a level (Wine: the
// wait completes at once while any byte is queued):
//   - four or more bytes queued: a frame is read at once, without waiting for
//     a further byte that may never come;
//   - one to three bytes queued (a partial): short sleeps until the rest
//     arrives or the partial is 100 ms old and dropped; the partial's age is
//     kept across passes, so a level-signalled wait cannot keep it young;
//   - nothing queued: a bounded wait for the driver's event, which a stop
//     request releases at once.
#include "link/receiver.h"

#include <algorithm>

#include "link/frame.h"
#include "link/frame_line.h"
#include "link/serial_session.h"

namespace wire {

FrameBuffer ResponseBuffer{};
FrameBuffer TransmitFrame{};
std::atomic<uint32_t> ResponseReady{0};
int ReceivedLength = 0;
ResponseNotice NotifyOnResponse;

namespace {

uint16_t partialSince = 0;  // low 16 bits of the tick; 0: no partial pending
// Bytes of the frame being delivered that came off the line, its STX
// included: the whole frame, or fewer when its rest never came. The log shows
// this count and these bytes, never the declared length over zeros.
int arrivedCount = 0;
int partialCount = 0;

constexpr uint32_t kIdleWaitMs = 200;     // one blocking wait; the loop re-checks after it
constexpr uint32_t kPartialPollMs = 5;    // while a partial frame sits in the queue
constexpr uint32_t kHeldBytePollMs = 2;   // raw capture: the last byte is not taken yet
constexpr uint32_t kResponsePollMs = 10;
constexpr int kWaitForResponseSleeps = 100;
constexpr int kDiscardChunk = 64;

uint16_t Now16() { return static_cast<uint16_t>(platform::TickMs()); }

bool RawCapture() { return LinkFlagSet(kFlagRawCapture); }

// Reads into destination until count bytes are in, the attempts run out, a
// stop is asked for, or the line has been quiet for kStalePartialMs. A device
// writes a frame in one go, so a rest that has not come by then is not coming;
// and a noise byte taken for an STX may declare up to 65535 bytes, for which
// the attempts alone would keep the receiver reading (and swallowing the real
// answers behind it) for tens of seconds. Returns the count read.
int ReadWithBudget(uint8_t* destination, int count, int& attemptsLeft, bool& gaveUp) {
    int got = 0;
    gaveUp = false;
    uint32_t lastProgress = platform::TickMs();
    while (got < count) {
        const int n = ReadPort(CommHandle.load(), destination + got, count - got);
        got += n;
        const uint32_t now = platform::TickMs();
        if (n > 0) lastProgress = now;
        if (LinkFlagSet(kFlagStopReceiver) || --attemptsLeft <= 0 ||
            now - lastProgress > kStalePartialMs) {
            gaveUp = got < count;
            break;
        }
    }
    return got;
}

// The part of an over-long frame that does not fit the ResponseBuffer is read
// off the line and thrown away, so that it cannot be taken for further frames.
// Returns the count thrown away.
int DiscardFrameRest(int count) {
    uint8_t scratch[kDiscardChunk];
    int attemptsLeft = kReadExactAttempts;
    bool gaveUp = false;
    int dropped = 0;
    while (count > dropped && !gaveUp) {
        const int chunk = std::min(count - dropped, kDiscardChunk);
        dropped += ReadWithBudget(scratch, chunk, attemptsLeft, gaveUp);
    }
    return dropped;
}

void DropBytes(platform::PortHandle h, int count) {
    uint8_t scratch[kDiscardChunk];
    while (count > 0) {
        const int got = ReadPort(h, scratch, std::min(count, kDiscardChunk));
        if (got <= 0) break;
        count -= got;
    }
}

// Sleeps or waits until a pass has something to do.
void AwaitInput(platform::PortHandle h) {
    const int queued = platform::PortQueued(h);
    if (RawCapture()) {
        if (queued > 0 && !ResponseArrived()) return;
        if (queued > 0) {
            platform::SleepMs(kHeldBytePollMs);
            return;
        }
    } else {
        if (queued >= 4) return;
        if (queued > 0) {
            platform::SleepMs(kPartialPollMs);
            return;
        }
    }
    platform::PortWaitEvent(h, kIdleWaitMs);
}

// One to three bytes that stopped arriving are dropped once they are older
// than 100 ms; the unsigned difference makes a tick wrap count as stale.
void DropStalePartial(platform::PortHandle h, uint16_t now, int& queued) {
    if (partialSince == 0) return;
    if (static_cast<uint32_t>(now - partialSince) <= kStalePartialMs) return;
    DropBytes(h, partialCount);
    queued -= partialCount;
    partialSince = 0;  // dropped once; a later partial is timed anew
}

void TrackPartial(uint16_t now, int queued) {
    if (queued <= 0) {
        partialSince = 0;
        return;
    }
    // The age runs from when this many bytes were first seen: a wake-up that
    // brings nothing new must not make the partial young again.
    if (partialSince == 0 || queued != partialCount) {
        partialCount = queued;
        partialSince = now;
    }
}

// Raw capture hands over one byte at a time, and the next only after the
// requester has cleared ResponseReady for its next step: a byte is never
// overwritten before it was taken, and bytes behind it stay queued for
// DrainRawInput.
void HandOverRawByte(platform::PortHandle h, int queued) {
    if (queued <= 0 || ResponseArrived()) return;
    if (ReadPort(h, ResponseBuffer.data(), 1) == 1) {
        ResponseReady.store(1, std::memory_order_release);
    }
}

void ReadFrame(platform::PortHandle h) {
    partialSince = 0;
    ReceivedLength = 0;
    // Pairs with the requester's ArmResponse: its clearing of the status is
    // ordered before the buffer is rewritten here.
    (void)ResponseReady.load(std::memory_order_acquire);
    ResponseBuffer.fill(0);
    const int got = ReadPort(h, ResponseBuffer.data(), 4);
    if (got < 1 || ResponseBuffer[0] != kStx) return;  // not a frame start: dropped
    ReceivedLength = (ResponseBuffer[2] | ResponseBuffer[3] << 8) + 3;
    const int fits = std::min(ReceivedLength, kFrameBufferSize - 4);
    int attemptsLeft = kReadExactAttempts;
    bool gaveUp = false;
    arrivedCount = got + ReadWithBudget(ResponseBuffer.data() + 4, fits, attemptsLeft, gaveUp);
    if (ReceivedLength > fits) arrivedCount += DiscardFrameRest(ReceivedLength - fits);
    DeliverFrame(ResponseBuffer.data() + 1);
}

void RunPass(platform::PortHandle h) {
    int queued = platform::PortQueued(h);
    const uint16_t now = Now16();
    DropStalePartial(h, now, queued);
    if (RawCapture()) {
        HandOverRawByte(h, queued);
    } else if (queued >= 4) {
        ReadFrame(h);
    } else {
        TrackPartial(now, queued);
    }
}

}  // namespace

uint32_t ReceiverLoop(void*) {
    ReceivedLength = 0;
    arrivedCount = 0;
    partialSince = 0;
    partialCount = 0;
    const platform::PortHandle h = CommHandle.load();
    while (!LinkFlagSet(kFlagStopReceiver)) {
        AwaitInput(h);
        if (LinkFlagSet(kFlagStopReceiver)) break;
        RunPass(h);
    }
    {
        // A sender may be writing with the handle it loaded: the port is
        // closed only between two writes.
        TransmitterLock tx(false);
        CloseSerialPort(CommHandle.exchange(nullptr));
    }
    return 0;
}

int ReadExact(uint8_t* destination, int count, int attempts) {
    bool gaveUp = false;
    const int got = ReadWithBudget(destination, count, attempts, gaveUp);
    return gaveUp ? -1 : got;
}

int CheckFrame(const uint8_t* frame, int bufferSize, int payloadLength) {
    if (4 + payloadLength + 3 > bufferSize) return kFrameBadTrailer;  // trailer never held
    if (frame[4 + payloadLength] != kEtx) return kFrameBadTrailer;
    if (frame[5 + payloadLength] != FrameChecksum(frame, payloadLength)) return kFrameBadChecksum;
    if (frame[6 + payloadLength] != kCr) return kFrameBadTrailer;
    return kFrameGood;
}

int DeliverFrame(const uint8_t* fromStatusByte) {
    const uint8_t* frame = fromStatusByte - 1;
    const int payload = frame[2] | frame[3] << 8;
    const int verdict = CheckFrame(frame, kFrameBufferSize, payload);
    char line[kFrameLineBufferSize];
    FormatFrameLine('R', frame, arrivedCount, line);
    platform::LogFrame('R', arrivedCount, frame, std::min(arrivedCount, kFrameBufferSize), line);
    const uint32_t notice = NotifyOnResponse.value.exchange(0);
    if (notice != 0) {
        platform::PostToDialog(UM_RESPONSE_ARRIVED, notice, NotifyOnResponse.param.load());
    }
    ResponseReady.store(1, std::memory_order_release);
    return verdict;
}

int WaitForResponse() {
    int sleeps = 0;
    while (!ResponseArrived()) {
        platform::SleepMs(kResponsePollMs);
        if (++sleeps > kWaitForResponseSleeps) return kNoAnswer;
    }
    return ResponseStatus() == kStatusAccepted ? kAccepted : kRefused;
}

int ResponseAccepted() { return ResponseStatus() == kStatusAccepted ? 1 : 0; }

int WaitForBootByte(int count, uint8_t* byte) {
    for (int poll = 0; poll < count; ++poll) {
        if (ResponseArrived()) {
            *byte = ResponseBuffer[0];
            return 1;
        }
        platform::SleepMs(kResponsePollMs);
    }
    return 0;
}

void DrainRawInput() {
    const platform::PortHandle h = CommHandle.load();
    if (h != nullptr) DropBytes(h, platform::PortQueued(h));
}

}  // namespace wire
