// fuzz_receiver.cpp - the real receive loop (wire::ReceiverLoop) over a
// scripted COM1: bursts of any bytes arriving at any gaps, framed or in raw
// capture, with the tick starting anywhere (its 16-bit wraps included).
// Built twice: level signalling (as under Wine) and edge (as on Windows,
// with TQ_FUZZ_EDGE).
//
// Input: byte 0 = flags (bit 0 raw capture, bits 1-2 tick start, bit 3 a
// requester waits for a notice), then chunks of [gap][length][bytes]: the
// chunk arrives gap ms after the one before it (a gap of 200 and above means
// (gap - 200) x 25 ms), with length bytes (fewer where the input ends).
//
// Beyond the sanitizers, a run fails when
//   - the receiver waits with bytes queued under edge signalling, or spins
//     (fake_platform.cpp);
//   - it has not consumed everything long after the last byte arrived;
//   - in raw capture, the bytes handed over are not exactly the bytes that
//     arrived, in order (none lost, none repeated);
//   - a well-formed frame that arrived in one burst while the receiver sat
//     idle is not logged as its R line, in order.
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "fake_platform.h"
#include "link/frame_line.h"
#include "link/link_state.h"
#include "link/receiver.h"
#include "link/serial_session.h"

namespace {

#ifdef TQ_FUZZ_EDGE
constexpr fuzzfake::Signal kSignal = fuzzfake::Signal::Edge;
#else
constexpr fuzzfake::Signal kSignal = fuzzfake::Signal::Level;
#endif

constexpr uint32_t kTickStarts[4] = {1000, 0xFFFF - 40, 0xFFFFFFFFu - 150, 0x0001FFF0};

struct Run {
    bool raw = false;
    bool stopping = false;
    bool overdue = false;
    uint64_t bound = 0;
    std::vector<uint8_t> handedOver;
};
Run run;

// Plays the requester between the receiver's steps: takes what was handed
// over (and clears ResponseReady for the next, as WaitForBootByte's caller
// and every requester does), and asks for the stop once the line is done,
// the way StopReceiver does: mask cleared first, then the flag.
void Step() {
    if (wire::ResponseArrived()) {
        if (run.raw) run.handedOver.push_back(wire::ResponseBuffer[0]);
        wire::ArmResponse();
    }
    if (run.stopping) return;
    const bool done = fuzzfake::AllArrived() && fuzzfake::QueuedBytes() == 0;
    const bool late = fuzzfake::NowMs() > run.bound;
    if (done || late) {
        run.overdue = !done;
        run.stopping = true;
        platform::PortSetMask(wire::CommHandle.load(), 0);
        wire::SetLinkFlag(wire::kFlagStopReceiver);
    }
}

std::vector<fuzzfake::Chunk> ParseChunks(const uint8_t* data, size_t size, size_t& total) {
    std::vector<fuzzfake::Chunk> chunks;
    uint64_t at = 1;  // after the open, whose purge would eat bytes queued at 0
    size_t i = 0;
    total = 0;
    while (i + 2 <= size) {
        const uint8_t gap = data[i];
        size_t n = data[i + 1];
        i += 2;
        if (n > size - i) n = size - i;
        at += gap < 200 ? gap : uint64_t(gap - 200) * 25;
        chunks.push_back({at, std::vector<uint8_t>(data + i, data + i + n)});
        total += n;
        i += n;
    }
    return chunks;
}

[[noreturn]] void Fail(const char* what) { fuzzfake::Fail(what); }

void CheckRawHandOver(const std::vector<fuzzfake::Chunk>& chunks) {
    std::vector<uint8_t> sent;
    for (const auto& c : chunks) sent.insert(sent.end(), c.bytes.begin(), c.bytes.end());
    if (run.handedOver != sent) {
        std::fprintf(stderr, "==fuzz== raw capture handed over %zu bytes of %zu\n", run.handedOver.size(), sent.size());
        Fail("raw capture lost, repeated or reordered bytes");
    }
}

void CheckCleanFramesLogged() {
    const auto& log = fuzzfake::LogLines();
    size_t at = 0;
    for (const auto& frame : fuzzfake::CleanFramesArrivedIdle()) {
        char expected[wire::kFrameLineBufferSize];
        wire::FormatFrameLine('R', frame.data(), static_cast<int>(frame.size()), expected);
        while (at < log.size() && log[at] != expected) ++at;
        if (at == log.size()) {
            std::fprintf(stderr, "==fuzz== missing log line %s\n", expected);
            Fail("a frame that arrived whole on an idle line was not delivered");
        }
        ++at;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const uint8_t flags = data[0];
    size_t total = 0;
    std::vector<fuzzfake::Chunk> chunks = ParseChunks(data + 1, size - 1, total);

    run = Run{};
    run.raw = (flags & 1) != 0;
    fuzzfake::ResetClock(kTickStarts[(flags >> 1) & 3]);
    fuzzfake::ResetUi();
    fuzzfake::ResetLine(kSignal, chunks);
    // Long enough for every over-long frame header to run its read budget out.
    run.bound = fuzzfake::LastArrivalMs() + 60000 * (2 + total / 256);

    wire::LinkFlags.store(run.raw ? wire::kFlagRawCapture : 0);
    wire::ResponseReady.store(0);
    wire::ResponseBuffer.fill(0);
    wire::ReceivedLength = 0;
    wire::NotifyOnResponse.value.store((flags & 8) != 0 ? 0x1234 : 0);
    wire::PortNumber = 1;
    if (wire::OpenSerialPort(wire::CommHandle, 1, wire::SessionLine(), wire::kSessionQueueSize,
                             wire::kSessionQueueSize) != 0) {
        Fail("COM1 did not open");
    }
    platform::PortSetMask(wire::CommHandle.load(), platform::kEventRxChar);
    fuzzfake::SetStepHook(Step);

    wire::ReceiverLoop(nullptr);

    fuzzfake::SetStepHook(nullptr);
    wire::LinkFlags.store(0);
    if (wire::CommHandle.load() != nullptr) Fail("the receiver left without closing the port");
    if (run.overdue) Fail("bytes were still queued long after the last one arrived");
    if (run.raw) {
        CheckRawHandOver(chunks);
    } else {
        CheckCleanFramesLogged();
    }
    return 0;
}
