// receiver.cpp - the receive loop, frame delivery and the requesters' waits.
//
// The loop waits only when nothing is left for it to do, so that it behaves
// the same whether the driver signals received characters as an edge (Windows:
// bytes already queued do not wake the next wait) or as a level (Wine: the
// wait completes at once while any byte is queued):
//   - four or more bytes queued: a frame is read at once, without waiting for
//     a further byte that may never come;
//   - one to three bytes (a partial): they are taken and the rest of the
//     header is read with the port's read time-outs, which end the moment the
//     bytes are in, so that a short answer is never held up by a poll; a
//     partial whose rest does not come is dropped once it is 100 ms old. Its
//     age is kept across passes and restarts only when a byte is added, so a
//     level-signalled wait cannot keep it young;
//   - nothing queued: a bounded wait for the driver's event, which a stop
//     request releases at once.
//
// Requesters wait for ResponseReady on the answer signal (AwaitAnswer), which
// the receiver raises right after it has set the flag: a wait ends when the
// answer is complete, not at the next tick of a poll.
#include "link/receiver.h"

#include <algorithm>
#include <cstring>

#include "link/frame.h"
#include "link/frame_line.h"
#include "link/line_tap.h"
#include "link/serial_session.h"
#include "link/device_times.h"

namespace wire {

FrameBuffer ResponseBuffer{};
FrameBuffer TransmitFrame{};
std::atomic<uint32_t> ResponseReady{0};
int ReceivedLength = 0;
ResponseNotice NotifyOnResponse;

namespace {

uint16_t partialSince = 0;  // low 16 bits of the tick; 0: no partial timed
// Bytes of the frame being delivered that came off the line, its STX
// included: the whole frame, or fewer when its rest never came. The log shows
// this count and these bytes, never the declared length over zeros.
int arrivedCount = 0;
int partialCount = 0;  // bytes of a frame's start taken so far (0 to 3)
uint8_t partialBytes[4] = {};

constexpr uint32_t kIdleWaitMs = 200;    // one blocking wait; the loop re-checks after it
constexpr uint32_t kHeldBytePollMs = 2;  // raw capture: the last byte is not taken yet
constexpr int kDiscardChunk = 64;
constexpr int kHeaderSize = 4;  // STX, status, two length bytes

thread_local AnswerWait lastWait = AnswerWait::Arrived;

// Made at its first use and kept: the receiver raises it, a requester waits.
platform::SignalHandle AnswerSignal() {
    static const platform::SignalHandle signal = platform::NewSignal();
    return signal;
}

uint16_t Now16() { return static_cast<uint16_t>(platform::TickMs()); }

bool RawCapture() { return LinkFlagSet(kFlagRawCapture); }

// Reads into destination until count bytes are in, the attempts run out, a
// stop is asked for, or the line has been quiet for wire::kStalePartialMs. A device
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
        if (LinkFlagSet(kFlagStopReceiver) || --attemptsLeft <= 0 || now - lastProgress > wire::kStalePartialMs) {
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

// Sleeps or waits until a pass has something to do; false when the line has
// gone away.
bool AwaitInput(platform::PortHandle h) {
    const int queued = platform::PortQueued(h);
    if (RawCapture()) {
        if (queued > 0 && !ResponseArrived()) return true;
        if (queued > 0) {
            platform::SleepMs(kHeldBytePollMs);
            return true;
        }
    } else if (queued > 0 || partialCount > 0) {
        return true;  // the pass reads; for a partial its read is the wait
    }
    return platform::PortWaitEvent(h, kIdleWaitMs) != platform::WaitOutcome::Gone;
}

std::atomic<bool> portLost{false};

constexpr const char* kPortLostText =
    "the port went away (the adapter was unplugged or the line closed): the session is closed; plug it in "
    "again and press open";

void ForgetPartial() {
    partialCount = 0;
    partialSince = 0;
}

// One to three bytes that stopped arriving are dropped once they are older
// than 100 ms; the unsigned difference makes a tick wrap count as stale.
void DropStalePartial(uint16_t now) {
    if (partialSince == 0) return;
    if (static_cast<uint32_t>(now - partialSince) <= wire::kStalePartialMs) return;
    ForgetPartial();  // dropped once; a later partial is timed anew
}

// Raw capture hands over one byte at a time, and the next only after the
// requester has cleared ResponseReady for its next step: a byte is never
// overwritten before it was taken, and bytes behind it stay queued for
// DrainRawInput.
void HandOverRawByte(platform::PortHandle h, int queued) {
    if (queued <= 0 || ResponseArrived()) return;
    if (ReadPort(h, ResponseBuffer.data(), 1) != 1) return;
    TapLine(TapDirection::FromDevice, ResponseBuffer.data(), 1);
    MarkAnswerReady();
}

// Reads a frame whose start may have been taken already as a partial.
void ReadFrame(platform::PortHandle h) {
    ReceivedLength = 0;
    // Pairs with the requester's ArmResponse: its clearing of the status is
    // ordered before the buffer is rewritten here.
    (void)ResponseReady.load(std::memory_order_acquire);
    ResponseBuffer.fill(0);
    int got = partialCount;
    std::memcpy(ResponseBuffer.data(), partialBytes, static_cast<size_t>(partialCount));
    ForgetPartial();
    if (got < kHeaderSize) got += ReadPort(h, ResponseBuffer.data() + got, kHeaderSize - got);
    if (got < 1 || ResponseBuffer[0] != kStx) return;  // not a frame start: dropped
    ReceivedLength = (ResponseBuffer[2] | ResponseBuffer[3] << 8) + 3;
    const int fits = std::min(ReceivedLength, kFrameBufferSize - 4);
    int attemptsLeft = kReadExactAttempts;
    bool gaveUp = false;
    arrivedCount = got + ReadWithBudget(ResponseBuffer.data() + 4, fits, attemptsLeft, gaveUp);
    // A frame cut short because the session is closing was cut by the host,
    // not by the line: it is no answer, damaged or whole, and its requester
    // is told that the port closed.
    if (gaveUp && LinkFlagSet(kFlagStopReceiver)) return;
    if (ReceivedLength > fits) arrivedCount += DiscardFrameRest(ReceivedLength - fits);
    DeliverFrame(ResponseBuffer.data() + 1);
}

// Takes what is queued of a frame's start and reads the rest of its header
// with the port's read time-outs: the read ends the moment the bytes are in,
// or after a few milliseconds without them. The age restarts only when a byte
// was added: a pass that brings nothing new must not make the partial young.
void ReadPartial(platform::PortHandle h) {
    const int before = partialCount;
    partialCount += ReadPort(h, partialBytes + partialCount, kHeaderSize - partialCount);
    if (partialCount >= kHeaderSize) {
        ReadFrame(h);
        return;
    }
    if (partialCount != before || partialSince == 0) partialSince = partialCount > 0 ? Now16() : 0;
}

void RunPass(platform::PortHandle h) {
    DropStalePartial(Now16());
    const int queued = platform::PortQueued(h);
    if (RawCapture()) {
        ForgetPartial();  // a frame's start never becomes a reply byte
        HandOverRawByte(h, queued);
    } else if (partialCount + queued >= kHeaderSize) {
        ReadFrame(h);
    } else if (partialCount + queued > 0) {
        ReadPartial(h);
    }
}

}  // namespace

uint32_t ReceiverLoop(void*) {
    ReceivedLength = 0;
    arrivedCount = 0;
    ForgetPartial();
    const platform::PortHandle h = CommHandle.load();
    portLost.store(false);
    while (!LinkFlagSet(kFlagStopReceiver)) {
        if (!AwaitInput(h)) {
            // Nothing will come on this port again: the session ends here, so
            // that every wait ends at once and nothing spins on the dead line.
            portLost.store(true);
            platform::LogLine(kPortLostText);
            break;
        }
        if (LinkFlagSet(kFlagStopReceiver)) break;
        RunPass(h);
    }
    {
        // A sender may be writing with the handle it loaded: the port is
        // closed only between two writes.
        TransmitterLock tx(false);
        CloseSerialPort(CommHandle.exchange(nullptr));
    }
    WakeAnswerWaiter();  // a requester waiting for an answer learns that none can come
    // Posted only once the port is closed: the dialog's close that answers it
    // finds no handle left to touch.
    if (portLost.load()) platform::PostToDialog(UM_PORT_LOST, 0, 0);
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
    TapLine(TapDirection::FromDevice, frame, std::min(arrivedCount, kFrameBufferSize));
    // The flag is raised before the dialog hears of the answer: the dialog may
    // start the boot-mode programmer at once, whose first step clears the flag,
    // and a flag raised after that would hand it this frame's STX as a reply.
    MarkAnswerReady();
    const uint32_t notice = NotifyOnResponse.value.exchange(0);
    if (notice != 0) {
        platform::PostToDialog(UM_RESPONSE_ARRIVED, notice, NotifyOnResponse.param.load());
    }
    return verdict;
}

void MarkAnswerReady() {
    ResponseReady.store(1, std::memory_order_release);
    platform::RaiseSignal(AnswerSignal());
}

void WakeAnswerWaiter() { platform::RaiseSignal(AnswerSignal()); }

bool PortLost() { return portLost.load(); }

// The flag is looked at before every wait and after it: an answer set between
// the requester's clearing and its wait has left the signal raised, and a
// raise meant for an earlier answer only makes the loop look again. An answer
// that is there when the bound runs out still counts.
AnswerWait AwaitAnswer(uint32_t boundMs) {
    const uint64_t start = platform::MonotonicUs();
    const uint64_t boundUs = uint64_t(boundMs) * 1000;
    for (;;) {
        if (ResponseArrived()) return lastWait = AnswerWait::Arrived;
        if (CommHandle.load() == nullptr) return lastWait = AnswerWait::PortClosed;
        const uint64_t waited = platform::MonotonicUs() - start;
        if (waited >= boundUs) return lastWait = AnswerWait::TimedOut;
        const uint64_t leftMs = (boundUs - waited + 999) / 1000;
        platform::WaitSignal(AnswerSignal(), static_cast<uint32_t>(leftMs));
    }
}

AnswerWait LastAnswerWait() { return lastWait; }

int WaitForResponse() {
    if (AwaitAnswer(wire::kWaitForResponseBoundMs) != AnswerWait::Arrived) return kNoAnswer;
    return ResponseStatus() == kStatusAccepted ? kAccepted : kRefused;
}

int ResponseAccepted() { return ResponseStatus() == kStatusAccepted ? 1 : 0; }

int WaitForBootByte(int count, uint8_t* byte) {
    if (count <= 0) return 0;
    if (AwaitAnswer(static_cast<uint32_t>(count) * wire::kResponsePollMs) != AnswerWait::Arrived) return 0;
    *byte = ResponseBuffer[0];
    return 1;
}

// Only what the driver holds already: a read for bytes that are not there
// would wait out its time-outs on every page.
void DrainRawInput() {
    const platform::PortHandle h = CommHandle.load();
    if (h != nullptr) DropBytes(h, std::min(platform::PortQueued(h), kRawDiscardLimit));
}

}  // namespace wire
