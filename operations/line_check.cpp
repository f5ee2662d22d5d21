// line_check.cpp - timing the round trip of harmless requests.
#include "operations/line_check.h"

#include <algorithm>
#include <chrono>
#include <vector>

#include "link/command_library.h"
#include "link/link_state.h"
#include "link/serial_session.h"
#include "operations/progress.h"
#include "operations/verify.h"
#include "platform/port_info.h"

namespace ops {

namespace {

// Each unanswered request waits the whole answer bound (5 s): a line that
// left this many in a row unanswered is not answering, and asking on would
// only keep the engineer waiting for the same verdict.
constexpr int kUnansweredInARow = 2;

// Asks up to `count` one-byte flash reads on the open session and times them.
LineFigures MeasureLine(int count) {
    LineFigures f;
    f.lowLatency = platform::PortLowLatency(wire::CommHandle.load());
    std::vector<double> times;
    int unanswered = 0;
    while (f.asked < count && unanswered < kUnansweredInARow) {
        uint8_t probe = 0;
        const auto start = std::chrono::steady_clock::now();
        const int result = wire::ReadFlashChunk(&probe, kAwaitProbeAddress, 1);
        const std::chrono::duration<double, std::milli> took = std::chrono::steady_clock::now() - start;
        ++f.asked;
        // A refusal is an answer too: it crossed the line both ways.
        const bool answered = result == wire::kAccepted || result == wire::kRefusedPolled;
        if (answered) times.push_back(took.count());
        unanswered = result == wire::kNoAnswer ? unanswered + 1 : 0;
        if (result == wire::kNoAnswer && wire::LastAnswerWait() == wire::AnswerWait::PortClosed) break;
        ReportUnits(static_cast<uint32_t>(f.asked), static_cast<uint32_t>(count));
    }
    f.answered = static_cast<int>(times.size());
    if (times.empty()) return f;
    std::sort(times.begin(), times.end());
    f.medianMs = times[times.size() / 2];
    f.bestMs = times.front();
    return f;
}

}  // namespace

uint32_t LineCheckWorker(void* param) {
    const auto* p = static_cast<const LineCheckParams*>(param);
    LineFigures f = MeasureLine(kLineCheckRequests);
    for (const platform::ports::PortInfo& info : platform::ports::GatherPorts()) {
        if (info.name != p->port) continue;
        f.usb = info.usb;
        f.latencyTimerMs = info.latencyTimerMs;
    }
    ReportLineFigures(f);
    if (f.answered == 0) {
        const bool closed = wire::LastAnswerWait() == wire::AnswerWait::PortClosed;
        ReportFailure(closed ? Outcome::PortClosed : Outcome::NoAnswer, kAwaitProbeAddress);
    }
    platform::PostToDialog(wire::UM_WORKER_DONE, 0, 0);
    return 0;
}

}  // namespace ops
