// read_again.cpp - asking a flash read chunk again after a damaged or lost
// answer, and taking a chunk on a line that spoils answers only when two
// answers agree.
#include "operations/read_again.h"

#include <array>
#include <cstdio>
#include <cstring>

#include "link/command_library.h"
#include "link/device_times.h"
#include "operations/address_space.h"
#include "operations/flash_transfer.h"
#include "operations/result.h"
#include "platform/platform.h"

namespace ops {

namespace {

// Worth asking again: the line lost or spoilt the answer, the port is open.
bool LineFault(int result) {
    if (result == wire::kDamagedAnswer) return true;
    return result == wire::kNoAnswer && wire::LastAnswerWait() != wire::AnswerWait::PortClosed;
}

// The frame's 8-bit sum misses about one double bit error in ten, so on a
// line that has spoilt an answer of this operation a sound-looking answer may
// still be wrong; two that agree are not (the line never spoils two alike).
bool LineSuspect() {
    const LineTrouble t = LastResult().line;
    return t.damaged != 0 || t.lost != 0;
}

void LogAskedAgain(const char* operation, uint32_t address, const char* what, int time) {
    char line[160];
    std::snprintf(line, sizeof line, "%s: %s at 0x%06X: asked again (%d of %d)", operation, what,
                  static_cast<unsigned>(address & kAddressMask), time, kAskAgainTimes);
    platform::LogLine(line);
}

void LogConfirming(const char* operation) {
    char line[160];
    std::snprintf(line, sizeof line,
                  "%s: the line spoils answers: from here on a chunk is taken when two answers agree", operation);
    platform::LogLine(line);
}

void Add(uint32_t LineTrouble::*field) {
    LineTrouble add;
    add.*field = 1;
    ReportLineTrouble(add);
}

// The sound answers of one chunk so far, until two agree.
struct Answers {
    std::array<std::array<uint8_t, kChunkSize>, kAskAgainTimes + 2> kept{};
    int count = 0;

    // Keeps the answer; true when an earlier one holds the same bytes.
    bool Agrees(const uint8_t* data, uint32_t n) {
        for (int i = 0; i < count; ++i) {
            if (std::memcmp(kept[i].data(), data, n) == 0) return true;
        }
        std::memcpy(kept[count++].data(), data, n);
        return false;
    }
};

}  // namespace

void CountLineTrouble(int result) {
    if (result == wire::kDamagedAnswer) Add(&LineTrouble::damaged);
    if (result == wire::kNoAnswer && wire::LastAnswerWait() != wire::AnswerWait::PortClosed) Add(&LineTrouble::lost);
}

// A plain line: one request, asked again at most kAskAgainTimes for a spoilt
// or lost answer. A suspect line (or one that turns so on this chunk): a sound
// answer is confirmed by one more request; answers that disagree count as a
// fault, asked again within the same bound.
int ReadChunkAskingAgain(uint8_t* destination, uint32_t address, uint32_t count, const char* operation) {
    if (count > kChunkSize) return wire::ReadFlashChunk(destination, address, count);
    bool confirm = LineSuspect();
    Answers answers;
    for (int again = 0;;) {
        const int result = wire::ReadFlashChunk(destination, address, count);
        CountLineTrouble(result);
        const char* why = result == wire::kDamagedAnswer ? "damaged answer" : "no answer";
        if (result == wire::kAccepted) {
            if (!confirm || answers.Agrees(destination, count)) return result;
            if (answers.count == 1) continue;  // the request that confirms it
            Add(&LineTrouble::disagreed);
            why = "answers that disagree";
        } else if (!LineFault(result)) {
            return result;
        } else if (!confirm) {
            confirm = true;
            LogConfirming(operation);
        }
        if (again == kAskAgainTimes) return result == wire::kAccepted ? wire::kDamagedAnswer : result;
        ++again;
        Add(&LineTrouble::askedAgain);
        LogAskedAgain(operation, address, why, again);
        // The rest of a spoilt answer, or a late one, is let pass first, so
        // that it is never taken for the answer to the request asked again.
        if (result != wire::kAccepted) platform::SleepMs(wire::kAskAgainPauseMs);
    }
}

}  // namespace ops
