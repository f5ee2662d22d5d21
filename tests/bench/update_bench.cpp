// update_bench.cpp - benchmark, not a test: times one ap-stop, a full-image firmware update and
// (transfer_bench.cpp) a 128 KB flash write and read against the simulator
// paced at 38400 baud, and prints each time as a ratio to what the line and
// the protocol's fixed pauses require. The rows run twice: with the posix
// platform's sleeps exact, and with them ending on 15.625 ms ticks as on a
// Windows default timer. Then an update through a USB serial adapter's
// latency timer (16 ms, the common default, and 1 ms).
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "firmware/programmer.h"
#include "link/receiver.h"
#include "link/serial_session.h"
#include "operations/progress.h"
#include "operations/result.h"
#include "operations/stop_resume.h"
#include "platform/posix/port_map.h"
#include "platform/posix/posix_hooks.h"
#include "bench_model.h"
#include "pty_device.h"

using namespace bench;

namespace {

constexpr uint32_t kWindowsDefaultTimerUs = 15625;

Budget UpdateBudget(int erases, int pages) {
    Budget b;
    for (int i = 0; i < erases; ++i) Step(b, 3, 1, wire::kEraseSettleMs);
    Step(b, 1, 1, 0);
    b.pausesMs += wire::kWriteModeSettleMs;
    b.polledMs += wire::kWriteModeSettleMs;
    for (int i = 0; i < pages; ++i) {
        Step(b, 2, 1, 0);
        Step(b, 128, 1, 0);
        Step(b, 1, 1, 0);
        b.pausesMs += wire::kPageSettleMs;
        b.polledMs += wire::kPageSettleMs;
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

// The simulator on a pty, opened by the console's session as port 1.
std::unique_ptr<sim::PtyDevice> OpenDevice(int latencyMs) {
    sim::PtyOptions options;
    options.pace = true;
    options.latencyMs = latencyMs;
    auto device = std::make_unique<sim::PtyDevice>(options);
    std::string error;
    if (!device->Start(&error)) {
        std::fprintf(stderr, "bench: cannot start the simulator: %s\n", error.c_str());
        return nullptr;
    }
    platform::posix::MapPort(1, device->SlavePath());
    wire::PortNumber = 1;
    if (wire::StartReceiver() != 0) {
        std::fprintf(stderr, "bench: cannot open the simulated port\n");
        return nullptr;
    }
    return device;
}

void CloseDevice(std::unique_ptr<sim::PtyDevice>& device) {
    wire::StopReceiver();
    if (device) device->Stop();
    device.reset();
}

firmware::Image FullImage(int& pages) {
    firmware::Image image;
    image.fill(0xFF);
    pages = 0;
    for (int row = 0; row < firmware::kProgrammedRows; ++row) {
        const firmware::BootBlock& b = firmware::BootBlockTable[row];
        for (uint32_t a = b.start; a < b.start + b.size; ++a) image[a] = static_cast<uint8_t>(a * 7);
        pages += static_cast<int>(b.size / firmware::kPageSize);
    }
    return image;
}

// ap-stop against an answering device: wake byte, 50 ms, request, answer;
// the median of kStopRuns, so that one scheduling hiccup does not make the row.
constexpr int kStopRuns = 21;

bool StopRow(const char* suffix) {
    std::vector<double> times;
    bool answered = true;
    for (int i = 0; i < kStopRuns; ++i) {
        const auto start = std::chrono::steady_clock::now();
        answered = ops::StopAttempt() && answered;
        times.push_back(Since(start));
    }
    std::sort(times.begin(), times.end());
    Budget stop;
    stop.lineMs = (1 + 7 + 7) * kByteMs;
    stop.pausesMs = wire::kWakePauseMs;
    stop.polledMs = wire::kWakePauseMs + PollRounded((7 + 7) * kByteMs);
    char label[80];
    std::snprintf(label, sizeof label, "ap-stop (%s, median of %d)%s", answered ? "answered" : "NO ANSWER", kStopRuns,
                  suffix);
    Report(label, times[kStopRuns / 2], stop);
    return answered;
}

// A full-image update from boot mode; the device back in its application
// afterwards, as the transfers need it.
bool UpdateRow(sim::PtyDevice& device, const char* suffix, bool hasGoal = true) {
    int pages = 0;
    const firmware::Image image = FullImage(pages);
    device.Configure([](sim::DeviceModel& m) { m.EnterBootMode(); });
    const auto start = std::chrono::steady_clock::now();
    const int result = firmware::ProgramFirmwareImage(image);
    const double updateMs = Since(start);
    char label[80];
    std::snprintf(label, sizeof label, "full update, %d pages (%d)%s", pages, result, suffix);
    Report(label, updateMs, UpdateBudget(firmware::kProgrammedRows, pages), hasGoal);
    // The end byte leaves boot mode once the line has been quiet.
    const bool back = device.WaitForBootMode(false, 2000);
    if (!back) std::fprintf(stderr, "bench: the device stayed in boot mode after the update\n");
    return result == firmware::kProgramOk && back;
}

bool RunRows(const char* heading, const char* suffix, bool transfers) {
    std::printf("%s\n", heading);
    auto device = OpenDevice(0);
    if (!device) return false;
    bool ok = StopRow(suffix);
    ok = UpdateRow(*device, suffix) && ok;
    if (transfers) {
        int pages = 0;
        ok = ok && RunTransferRows(*device, suffix) && RunFirmwareVerifyRow(FullImage(pages), suffix);
    }
    CloseDevice(device);
    return ok;
}

bool LatencyRow(int latencyMs) {
    auto device = OpenDevice(latencyMs);
    if (!device) return false;
    char suffix[32];
    std::snprintf(suffix, sizeof suffix, ", --latency %d", latencyMs);
    const bool ok = UpdateRow(*device, suffix, false);
    CloseDevice(device);
    return ok;
}

}  // namespace

// --quick: the fine-timer ap-stop and update only (about 15 s).
int main(int argc, char** argv) {
    const bool quick = argc > 1 && std::string(argv[1]) == "--quick";
    bool ok = RunRows("fine timer (the posix platform's sleeps exact):", "", !quick);
    if (quick) return ok ? 0 : 1;
    std::printf("\n");
    platform::posix::SetTimerPeriodUs(kWindowsDefaultTimerUs);
    ok = RunRows("emulated Windows default timer (sleeps and timed-out waits end on 15.625 ms ticks):",
                 ", 15.6 ms timer", true) &&
         ok;
    platform::posix::SetTimerPeriodUs(0);
    std::printf("\nthrough a USB serial adapter's latency timer (fine timer):\n");
    ok = LatencyRow(16) && ok;
    ok = LatencyRow(1) && ok;
    std::printf("\n");
    ReportProgressCost();
    return ok ? 0 : 1;
}
