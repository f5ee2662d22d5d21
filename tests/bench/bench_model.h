// bench_model.h - what the benchmark sets each measured time against: the
// bytes on a 38400-baud line, the protocol's fixed pauses and its 10 ms polls.
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

// A reply is looked for at once and then every 10 ms, so a step costs its
// line time rounded up to the next poll.
inline double PollRounded(double lineMs) {
    int polls = 0;
    while (polls * kPollMs < lineMs) ++polls;
    return polls * kPollMs;
}

struct Budget {
    double lineMs = 0;    // bytes on the wire, both ways
    double pausesMs = 0;  // fixed waits the protocol asks for
    double polledMs = 0;  // pauses plus each step's line time rounded up to a poll
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

inline void Report(const char* what, double measured, const Budget& b) {
    std::printf("%-28s measured %9.1f ms | line %8.1f ms | pauses %8.1f ms | pauses+polls %8.1f ms | overhead %+6.1f%%\n",
                what, measured, b.lineMs, b.pausesMs, b.polledMs,
                100.0 * (measured - b.polledMs) / b.polledMs);
}

// The flash write and read rows (transfer_bench.cpp), against a device in
// application mode on the open port; false when a transfer went wrong.
bool RunTransferRows(sim::PtyDevice& device);
// A firmware verify of the image just programmed (transfer_bench.cpp).
bool RunFirmwareVerifyRow(const firmware::Image& image);

}  // namespace bench
