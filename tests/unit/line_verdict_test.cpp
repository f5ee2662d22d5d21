// line_verdict_test.cpp - the words of a line check for a healthy line, a
// slow one and each likely cause, and for a unit that does not answer.
#include "shell/line_verdict.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using platform::LowLatency;

ops::LineFigures Figures(double medianMs, LowLatency ll, int timer, int answered = 9) {
    ops::LineFigures f;
    f.asked = 9;
    f.answered = answered;
    f.medianMs = medianMs;
    f.bestMs = medianMs;
    f.lowLatency = ll;
    f.latencyTimerMs = timer;
    return f;
}

TEST(LineCheck, HealthyAndSlowLinesAndTheirLikelyCause) {
    const double need = shell::LineNeedsMs();
    EXPECT_NEAR(need, 5.47, 0.01);  // 21 bytes of 10 bits at 38400 baud
    const struct {
        ops::LineFigures f;
        bool healthy;
        const char* words;
    } cases[] = {
        {Figures(need + 0.5, LowLatency::Set, -1), true, "the line is healthy: a round trip takes 6.0 ms"},
        {Figures(need + 16, LowLatency::NotApplicable, 16), false,
         "each answer comes 16.0 ms late, so a full update waits 9.2 s longer for its 576 answers; likely cause: "
         "the adapter's latency timer is 16 ms (its driver's LatencyTimer): set it to 1 in Device Manager, Ports, "
         "COM7"},
        {Figures(need + 16, LowLatency::NotSupported, -1), false,
         "does not take ASYNC_LOW_LATENCY; set the timer to 1 ms in /sys/bus/usb-serial/devices/COM7/latency_timer"},
        {Figures(need + 10, LowLatency::Set, -1), false, "ASYNC_LOW_LATENCY took, so the delay is beyond the driver"},
        {Figures(need + 12, LowLatency::NotApplicable, -1), false,
         "a USB serial adapter's latency timer (often 16 ms)"},
        {Figures(need + 5, LowLatency::NotApplicable, -1), false, "the adapter, a hub or the unit answering late"},
        // Quick, but not every request was answered.
        {Figures(need, LowLatency::Set, -1, 7), false, "the line is slow (some requests were not answered)"},
        {Figures(0, LowLatency::Set, -1, 0), false, "none of 9 requests was answered"},
    };
    for (const auto& c : cases) {
        char text[600];
        EXPECT_EQ(shell::JudgeLine(c.f, "COM7", text, sizeof text), c.healthy) << text;
        EXPECT_NE(std::string(text).find(c.words), std::string::npos) << text;
    }
}

}  // namespace
