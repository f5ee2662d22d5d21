// line_check.cpp - timing the round trip of harmless requests.
#include "cli/line_check.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <cstdio>
#include <vector>

#include "link/command_library.h"
#include "link/device_times.h"
#include "link/serial_session.h"
#include "operations/verify.h"
#include "platform/port_info.h"

namespace cli {

namespace {

// A one-byte read: its request frame (7 + 6 bytes) and its answer (7 + 1).
constexpr int kRequestBytes = 13;
constexpr int kAnswerBytes = 8;
constexpr double kBitsPerByte = 10;  // start, 8 data, stop
// A full update waits for three answers per page (the address's echo, the
// data's sum, the program status), 192 pages.
constexpr int kUpdateAnswers = 3 * 192;
// Beyond this much above what the line needs, a round trip is slow: a USB
// adapter that hands bytes over at once adds about 1 ms.
constexpr double kSlowExcessMs = 3;
constexpr int kCheckRequests = 9;

void Advice(const LineFigures& f, double excess, char* out, size_t cap) {
    const size_t n = std::strlen(out);
    if (f.latencyTimerMs > 1) {
        std::snprintf(out + n, cap - n,
                      "; likely cause: the adapter's latency timer is %d ms (its driver's LatencyTimer): set it to 1 "
                      "in Device Manager, Ports, %s, Properties, Port Settings, Advanced, Latency Timer",
                      f.latencyTimerMs, f.port);
    } else if (f.lowLatency == platform::LowLatency::NotSupported) {
        const char* slash = std::strrchr(f.port, '/');
        std::snprintf(out + n, cap - n,
                      "; likely cause: a USB adapter's latency timer, and its driver does not take "
                      "ASYNC_LOW_LATENCY; set the timer to 1 ms in /sys/bus/usb-serial/devices/%s/latency_timer "
                      "where its driver offers one",
                      slash != nullptr ? slash + 1 : f.port);
    } else if (f.lowLatency == platform::LowLatency::Set) {
        std::snprintf(out + n, cap - n,
                      "; ASYNC_LOW_LATENCY took, so the delay is beyond the driver: a hub, a converter between, or "
                      "the unit answering late");
    } else if (excess > 8) {
        std::snprintf(out + n, cap - n,
                      "; likely cause: a USB serial adapter's latency timer (often 16 ms): set it to 1 ms in its "
                      "driver's settings (Device Manager, the port's Advanced settings)");
    } else {
        std::snprintf(out + n, cap - n, "; likely cause: the adapter, a hub or the unit answering late");
    }
}

}  // namespace

double LineNeedsMs() { return (kRequestBytes + kAnswerBytes) * kBitsPerByte * 1000.0 / wire::kSessionBaud; }

bool JudgeLine(const LineFigures& f, char* out, size_t cap) {
    if (f.answered == 0) {
        std::snprintf(out, cap, "check: none of %d requests was answered: check the cable and that the unit runs",
                      f.asked);
        return false;
    }
    const double need = LineNeedsMs();
    const double excess = f.medianMs - need;
    const char* missed = f.answered < f.asked ? " (some requests were not answered)" : "";
    if (excess <= kSlowExcessMs && f.answered == f.asked) {
        std::snprintf(out, cap,
                      "check: the line is healthy: a round trip takes %.1f ms (median of %d), %.1f ms of which the "
                      "line needs; a full update waits no longer than the line and its pauses need",
                      f.medianMs, f.answered, need);
        return true;
    }
    std::snprintf(out, cap,
                  "check: the line is slow%s: a round trip takes %.1f ms (median of %d), where the line needs "
                  "%.1f ms; each answer comes %.1f ms late, so a full update waits %.1f s longer for its %d "
                  "answers",
                  missed, f.medianMs, f.answered, need, excess > 0 ? excess : 0.0,
                  (excess > 0 ? excess : 0.0) * kUpdateAnswers / 1000.0, kUpdateAnswers);
    Advice(f, excess, out, cap);
    return false;
}

LineFigures MeasureLine(int count) {
    LineFigures f;
    f.asked = count;
    f.lowLatency = platform::PortLowLatency(wire::CommHandle.load());
    std::vector<double> times;
    for (int i = 0; i < count; ++i) {
        uint8_t probe = 0;
        const auto start = std::chrono::steady_clock::now();
        const int result = wire::ReadFlashChunk(&probe, ops::kAwaitProbeAddress, 1);
        const std::chrono::duration<double, std::milli> took = std::chrono::steady_clock::now() - start;
        // A refusal is an answer too: it crossed the line both ways.
        if (result == wire::kAccepted || result == wire::kRefusedPolled) times.push_back(took.count());
        if (result == wire::kNoAnswer && wire::LastAnswerWait() == wire::AnswerWait::PortClosed) break;
    }
    f.answered = static_cast<int>(times.size());
    if (times.empty()) return f;
    std::sort(times.begin(), times.end());
    f.medianMs = times[times.size() / 2];
    f.bestMs = times.front();
    return f;
}

bool CheckLine(const char* port, const char* label, char* out, size_t cap) {
    LineFigures f = MeasureLine(kCheckRequests);
    f.port = label;
    for (const platform::ports::PortInfo& p : platform::ports::GatherPorts()) {
        if (p.name != port) continue;
        f.usb = p.usb;
        f.latencyTimerMs = p.latencyTimerMs;
    }
    JudgeLine(f, out, cap);
    return f.answered != 0;
}

}  // namespace cli
