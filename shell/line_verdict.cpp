// line_verdict.cpp - the words of a line check: healthy, or slow with what a
// full update loses and the likely cause.
#include "shell/line_verdict.h"

#include <cstdio>
#include <cstring>

#include "link/serial_session.h"

namespace shell {

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

void Advice(const ops::LineFigures& f, const char* port, double excess, char* out, size_t cap) {
    const size_t n = std::strlen(out);
    if (f.latencyTimerMs > 1) {
        std::snprintf(out + n, cap - n,
                      "; likely cause: the adapter's latency timer is %d ms (its driver's LatencyTimer): set it to 1 "
                      "in Device Manager, Ports, %s, Properties, Port Settings, Advanced, Latency Timer",
                      f.latencyTimerMs, port);
    } else if (f.lowLatency == platform::LowLatency::NotSupported) {
        const char* slash = std::strrchr(port, '/');
        std::snprintf(out + n, cap - n,
                      "; likely cause: a USB adapter's latency timer, and its driver does not take "
                      "ASYNC_LOW_LATENCY; set the timer to 1 ms in /sys/bus/usb-serial/devices/%s/latency_timer "
                      "where its driver offers one",
                      slash != nullptr ? slash + 1 : port);
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

bool JudgeLine(const ops::LineFigures& f, const char* port, char* out, size_t cap) {
    if (f.answered == 0) {
        std::snprintf(out, cap, "none of %d requests was answered: check the cable and that the unit runs", f.asked);
        return false;
    }
    const double need = LineNeedsMs();
    const double excess = f.medianMs - need;
    const char* missed = f.answered < f.asked ? " (some requests were not answered)" : "";
    if (excess <= kSlowExcessMs && f.answered == f.asked) {
        std::snprintf(out, cap,
                      "the line is healthy: a round trip takes %.1f ms (median of %d), %.1f ms of which the "
                      "line needs; a full update waits no longer than the line and its pauses need",
                      f.medianMs, f.answered, need);
        return true;
    }
    std::snprintf(out, cap,
                  "the line is slow%s: a round trip takes %.1f ms (median of %d), where the line needs "
                  "%.1f ms; each answer comes %.1f ms late, so a full update waits %.1f s longer for its %d "
                  "answers",
                  missed, f.medianMs, f.answered, need, excess > 0 ? excess : 0.0,
                  (excess > 0 ? excess : 0.0) * kUpdateAnswers / 1000.0, kUpdateAnswers);
    Advice(f, port, excess, out, cap);
    return false;
}

void LineHeadline(const ops::LineFigures& f, char* out, size_t cap) {
    char words[600];
    const bool healthy = JudgeLine(f, "", words, sizeof words);
    if (healthy) {
        std::snprintf(out, cap, "line check: healthy, a round trip takes %.1f ms", f.medianMs);
    } else {
        std::snprintf(out, cap, "line check: slow, a round trip takes %.1f ms where the line needs %.1f ms", f.medianMs,
                      LineNeedsMs());
    }
}

}  // namespace shell
