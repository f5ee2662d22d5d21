// bench_model.h - what the benchmark sets each measured time against: the
// bytes on a 38400-baud line and the protocol's fixed pauses (the goal), and
// beside it the old model of 10 ms reply polls.
#pragma once

#include "firmware/image_loader.h"

#include <chrono>
#include <cstdio>

namespace sim {
class PtyDevice;
}

namespace bench {

constexpr double kByteMs = 10.0 * 1000.0 / 38400.0;  // 8N1: ten bit times a byte
constexpr double kPollMs = 10.0;
constexpr int kFrameOverhead = 7;  // STX, command, two length bytes, ETX, checksum, CR
// Each operation should take at most this times what the line and its fixed
// pauses need.
constexpr double kGoalRatio = 1.03;

// The old model: a reply was looked for at once and then every 10 ms, so a
// step cost its line time rounded up to the next poll.
inline double PollRounded(double lineMs) {
    int polls = 0;
    while (polls * kPollMs < lineMs) ++polls;
    return polls * kPollMs;
}

struct Budget {
    double lineMs = 0;    // bytes on the wire, both ways
    double pausesMs = 0;  // fixed waits the protocol asks for
    double polledMs = 0;  // the old model: pauses plus each step's line time rounded up to a poll
};

inline void Step(Budget& b, int sent, int replied, double pauseMs) {
    const double line = (sent + replied) * kByteMs;
    b.lineMs += line;
    b.pausesMs += pauseMs;
    b.polledMs += pauseMs + (pauseMs >= line ? 0 : PollRounded(line));
}

inline double Since(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

// One row: the measured time, what line and pauses need, and the ratio that
// the goal is stated in.
// Rows without a goal (through an adapter's latency timer) say so.
inline void Report(const char* what, double measured, const Budget& b, bool hasGoal = true) {
    const double goal = b.lineMs + b.pausesMs;
    char verdict[40];
    if (hasGoal) {
        std::snprintf(verdict, sizeof verdict, "goal <= %.2f %s", kGoalRatio,
                      measured / goal <= kGoalRatio ? "met" : "MISSED");
    } else {
        std::snprintf(verdict, sizeof verdict, "the adapter's time");
    }
    std::printf("%-42s measured %9.1f ms | line %8.1f ms | pauses %7.1f ms | line+pauses %8.1f ms | "
                "ratio %.3f (%s) | 10 ms polls %8.1f ms\n",
                what, measured, b.lineMs, b.pausesMs, goal, measured / goal, verdict, b.polledMs);
    std::fflush(stdout);
}

// The flash write and read rows (transfer_bench.cpp), against a device in
// application mode on the open port; false when a transfer went wrong. The
// label's suffix tells the timer the rows ran with.
bool RunTransferRows(sim::PtyDevice& device, const char* suffix);
// A firmware verify of the image just programmed (transfer_bench.cpp).
bool RunFirmwareVerifyRow(const firmware::Image& image, const char* suffix);

}  // namespace bench
