// Benchmark, not a test: times a full-image firmware update and one ap-stop
// against the simulator paced at 38400 baud, and prints each time next to
// what the line and the protocol's own pauses and 10 ms polls require.
#include <chrono>
#include <cstdio>
#include <string>

#include "firmware/programmer.h"
#include "link/receiver.h"
#include "link/serial_session.h"
#include "operations/stop_resume.h"
#include "platform/posix/posix_hooks.h"
#include "pty_device.h"

namespace {

constexpr double kByteMs = 10.0 * 1000.0 / 38400.0;  // 8N1: ten bit times a byte
constexpr double kPollMs = 10.0;

// A reply is looked for at once and then every 10 ms, so a step costs its
// line time rounded up to the next poll.
double PollRounded(double lineMs) {
    int polls = 0;
    while (polls * kPollMs < lineMs) ++polls;
    return polls * kPollMs;
}

struct Budget {
    double lineMs = 0;    // bytes on the wire, both ways
    double pausesMs = 0;  // fixed waits the protocol asks for
    double polledMs = 0;  // pauses plus each step's line time rounded up to a poll
};

void Step(Budget& b, int sent, int replied, double pauseMs) {
    const double line = (sent + replied) * kByteMs;
    b.lineMs += line;
    b.pausesMs += pauseMs;
    b.polledMs += pauseMs + (pauseMs >= line ? 0 : PollRounded(line));
}

Budget UpdateBudget(int erases, int pages) {
    Budget b;
    for (int i = 0; i < erases; ++i) Step(b, 3, 1, firmware::kEraseSettleMs);
    Step(b, 1, 1, 0);
    b.pausesMs += firmware::kWriteModeSettleMs;
    b.polledMs += firmware::kWriteModeSettleMs;
    for (int i = 0; i < pages; ++i) {
        Step(b, 2, 1, 0);
        Step(b, 128, 1, 0);
        Step(b, 1, 1, 0);
        b.pausesMs += firmware::kPageSettleMs;
        b.polledMs += firmware::kPageSettleMs;
    }
    b.lineMs += kByteMs;  // the end byte
    return b;
}

double Since(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

void Report(const char* what, double measured, const Budget& b) {
    std::printf("%-28s measured %9.1f ms | line %8.1f ms | pauses %8.1f ms | pauses+polls %8.1f ms | overhead %+6.1f%%\n",
                what, measured, b.lineMs, b.pausesMs, b.polledMs,
                100.0 * (measured - b.polledMs) / b.polledMs);
}

}  // namespace

int main() {
    sim::PtyOptions options;
    options.pace = true;
    sim::PtyDevice device(options);
    std::string error;
    if (!device.Start(&error)) {
        std::fprintf(stderr, "bench: cannot start the simulator: %s\n", error.c_str());
        return 1;
    }
    platform::posix::MapPort("COM1", device.SlavePath());
    wire::PortNumber = 1;
    if (wire::StartReceiver() != 0) {
        std::fprintf(stderr, "bench: cannot open the simulated port\n");
        return 1;
    }

    // ap-stop against an answering device: wake byte, 50 ms, request, answer.
    auto start = std::chrono::steady_clock::now();
    const bool answered = ops::StopAttempt();
    const double stopMs = Since(start);
    Budget stop;
    stop.lineMs = (1 + 7 + 7) * kByteMs;
    stop.pausesMs = ops::kWakePauseMs;
    stop.polledMs = ops::kWakePauseMs + PollRounded((7 + 7) * kByteMs);
    Report(answered ? "ap-stop (answered)" : "ap-stop (NO ANSWER)", stopMs, stop);

    // Full image: every byte of rows 0 to 6.
    firmware::Image image;
    image.fill(0xFF);
    int pages = 0;
    for (int row = 0; row < firmware::kProgrammedRows; ++row) {
        const firmware::BootBlock& b = firmware::BootBlockTable[row];
        for (uint32_t a = b.start; a < b.start + b.size; ++a) image[a] = static_cast<uint8_t>(a * 7);
        pages += static_cast<int>(b.size / firmware::kPageSize);
    }
    device.Configure([](sim::DeviceModel& m) { m.EnterBootMode(); });
    start = std::chrono::steady_clock::now();
    const int result = firmware::ProgramFirmwareImage(image);
    const double updateMs = Since(start);
    char label[64];
    std::snprintf(label, sizeof label, "full update, %d pages (%d)", pages, result);
    Report(label, updateMs, UpdateBudget(firmware::kProgrammedRows, pages));

    wire::StopReceiver();
    device.Stop();
    return result == firmware::kProgramOk && answered ? 0 : 1;
}
