// Benchmark, not a test: times one ap-stop, a full-image firmware update and
// (transfer_bench.cpp) a 128 KB flash write and read against the simulator
// paced at 38400 baud, and prints each time next to what the line and the
// protocol's own pauses and 10 ms polls require.
#include <chrono>
#include <cstdio>
#include <string>

#include "firmware/programmer.h"
#include "link/receiver.h"
#include "link/serial_session.h"
#include "operations/progress.h"
#include "operations/stop_resume.h"
#include "platform/posix/posix_hooks.h"
#include "bench_model.h"
#include "pty_device.h"

using namespace bench;

namespace {

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

// What a worker pays for telling the window how far it is: one report per
// chunk or page, against the line time of that chunk.
void ReportProgressCost() {
    constexpr int kCalls = 1000000;
    ops::OpenProgress(ops::Activity::FlashRead);
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < kCalls; ++i) ops::ReportUnits(static_cast<uint32_t>(i), kCalls);
    const double ns = Since(start) * 1e6 / kCalls;
    ops::CloseProgress();
    std::printf("progress report                %.0f ns a call: %.1f us over a 128 KB read (512 reports, "
                "%.4f%% of its line time)\n",
                ns, ns * 512 / 1000, 100.0 * ns * 512 / 1e6 / 36800.0);
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

    // The update's end byte leaves boot mode once the line has been quiet;
    // the transfers need the application back.
    bool transfersOk = device.WaitForBootMode(false, 2000);
    if (!transfersOk) std::fprintf(stderr, "bench: the device stayed in boot mode after the update\n");
    if (transfersOk) transfersOk = RunTransferRows(device) && RunFirmwareVerifyRow(image);

    wire::StopReceiver();
    device.Stop();
    ReportProgressCost();
    return result == firmware::kProgramOk && answered && transfersOk ? 0 : 1;
}
