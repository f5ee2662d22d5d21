// read_again.cpp - asking a flash read chunk again after a damaged or lost
// answer.
#include "operations/read_again.h"

#include <cstdio>

#include "link/command_library.h"
#include "link/device_times.h"
#include "operations/address_space.h"
#include "operations/result.h"
#include "platform/platform.h"

namespace ops {

namespace {

// Worth asking again: the line lost or spoilt the answer, the port is open.
bool LineFault(int result) {
    if (result == wire::kDamagedAnswer) return true;
    return result == wire::kNoAnswer && wire::LastAnswerWait() != wire::AnswerWait::PortClosed;
}

void LogAskedAgain(const char* operation, uint32_t address, int result, int time) {
    char line[160];
    const char* what = result == wire::kDamagedAnswer ? "damaged answer" : "no answer";
    std::snprintf(line, sizeof line, "%s: %s at 0x%06X: asked again (%d of %d)", operation, what,
                  static_cast<unsigned>(address & kAddressMask), time, kAskAgainTimes);
    platform::LogLine(line);
}

}  // namespace

void CountLineTrouble(int result) {
    LineTrouble add;
    if (result == wire::kDamagedAnswer) add.damaged = 1;
    if (result == wire::kNoAnswer && wire::LastAnswerWait() != wire::AnswerWait::PortClosed) add.lost = 1;
    if (add.damaged != 0 || add.lost != 0) ReportLineTrouble(add);
}

int ReadChunkAskingAgain(uint8_t* destination, uint32_t address, uint32_t count, const char* operation) {
    int result = wire::ReadFlashChunk(destination, address, count);
    for (int time = 1; LineFault(result) && time <= kAskAgainTimes; ++time) {
        CountLineTrouble(result);
        LogAskedAgain(operation, address, result, time);
        LineTrouble again;
        again.askedAgain = 1;
        ReportLineTrouble(again);
        // The rest of a spoilt answer, or a late one, is let pass first, so
        // that it is never taken for the answer to the request asked again.
        platform::SleepMs(wire::kAskAgainPauseMs);
        result = wire::ReadFlashChunk(destination, address, count);
    }
    CountLineTrouble(result);
    return result;
}

}  // namespace ops
