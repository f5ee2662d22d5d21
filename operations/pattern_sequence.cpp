// pattern_sequence.cpp - the pattern sequence worker and its state machine.
#include "operations/pattern_sequence.h"

#include "operations/progress.h"
#include "operations/result.h"

#include "link/command_library.h"
#include "platform/platform.h"
#include "link/device_times.h"

namespace ops {

// Thirteen groups of 0x02 and three pattern bytes: one pair of adjacent bits
// walking up from the lowest two bits to the highest, then all 24 bits; and
// a closing 0xFF.
const std::array<uint8_t, kPatternTableSize> PatternTable = {
    0x02, 0x03, 0x00, 0x00, 0x02, 0x0C, 0x00, 0x00, 0x02, 0x30, 0x00, 0x00, 0x02, 0xC0, 0x00, 0x00, 0x02, 0x00,
    0x03, 0x00, 0x02, 0x00, 0x0C, 0x00, 0x02, 0x00, 0x30, 0x00, 0x02, 0x00, 0xC0, 0x00, 0x02, 0x00, 0x00, 0x03,
    0x02, 0x00, 0x00, 0x0C, 0x02, 0x00, 0x00, 0x30, 0x02, 0x00, 0x00, 0xC0, 0x02, 0xFF, 0xFF, 0xFF, 0xFF,
};

std::atomic<uint16_t> SequenceTimer{0};

namespace {

constexpr const char* kStartText = "開始!!";
constexpr const char* kStopText = "停止!!";
constexpr uint32_t kPassSleepMs = 10;
constexpr const char* kNoAnswerText =
    "pattern: no answer within 1 s: check the cable and the device (the sequence goes on)";

// The sequence itself ignores unanswered requests; the operator is told once,
// and again only after the device has answered in between.
bool silenceReported = false;
// What became of the sequence's requests: a sequence that the device never
// took is told as such when it ends.
int patternsSent = 0;
int patternsTaken = 0;
int patternsRefused = 0;

void Send(const uint8_t* data, uint32_t count) {
    const int result = wire::WritePatternArea(data, count);
    ++patternsSent;
    if (result == wire::kAccepted) ++patternsTaken;
    if (result == wire::kRefused) ++patternsRefused;
    if (result != wire::kNoAnswer) {
        silenceReported = false;
    } else if (!silenceReported) {
        silenceReported = true;
        platform::LogLine(kNoAnswerText);
    }
}

uint16_t Tick16() { return static_cast<uint16_t>(platform::TickMs()); }

void CountDown(uint16_t elapsed) {
    const uint16_t timer = SequenceTimer.load();
    if (timer == 0) return;
    SequenceTimer.store(elapsed > timer ? 0 : static_cast<uint16_t>(timer - elapsed));
}

// One step; the answers' status is not looked at: the sequence goes on.
PatternState Step(PatternState state) {
    const bool timerRunning = SequenceTimer.load() != 0;
    switch (state) {
        case kPatternPauseEnds: return timerRunning ? state : kPatternShow;
        case kPatternShow:
            if (timerRunning) return state;
            Send(PatternTable.data(), kPatternTableSize);
            SequenceTimer.store(wire::kPatternHoldMs);
            return kPatternHold;
        case kPatternHold:
            if (timerRunning) return state;
            Send(nullptr, 0);
            return kPatternStartPause;
        case kPatternStartPause:
        default: SequenceTimer.store(wire::kPatternPauseMs); return kPatternPauseEnds;
    }
}

}  // namespace

uint16_t ElapsedMs16(uint16_t previous, uint16_t now) { return static_cast<uint16_t>(now - previous); }

uint32_t PatternSequenceWorker(void*) {
    platform::LogLine(kStartText);
    silenceReported = false;
    patternsSent = 0;
    patternsTaken = 0;
    patternsRefused = 0;
    PatternState state = kPatternPauseEnds;
    uint16_t previous = Tick16();
    while (!wire::LinkFlagSet(wire::kFlagStopSequence)) {
        const uint16_t now = Tick16();
        const uint16_t elapsed = ElapsedMs16(previous, now);
        previous = now;
        platform::SleepMs(kPassSleepMs);
        CountDown(elapsed);
        state = Step(state);
    }
    // Stopped while the table is shown: the engineer who stops the pattern
    // means it to go off, so the empty pattern goes out before the stop line.
    if (state == kPatternHold) Send(nullptr, 0);
    platform::LogLine(kStopText);
    if (patternsSent != 0 && patternsTaken == 0) {
        ReportFailure(patternsRefused != 0 ? Outcome::Refused : Outcome::NoAnswer, 0);
    }
    platform::PostToDialog(wire::UM_SEQUENCE_STOPPED, 0, 0);
    return 0;
}

}  // namespace ops
