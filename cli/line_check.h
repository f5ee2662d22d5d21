// line_check.h - tq73 check: a few harmless requests (one-byte flash reads)
// timed, set against what the line itself needs, what that makes a full
// update take, and the likely cause when the line is slow.
#pragma once

#include <cstddef>

#include "platform/platform.h"

namespace cli {

// What the check measured and what it knows of the port.
struct LineFigures {
    int asked = 0;
    int answered = 0;
    double medianMs = 0;  // round trip of the answered requests
    double bestMs = 0;
    platform::LowLatency lowLatency = platform::LowLatency::NotApplicable;
    bool usb = false;         // the port is a USB serial adapter, where that is known
    int latencyTimerMs = -1;  // the adapter driver's own setting, where it keeps one
    const char* port = "";    // for the advice
};

// The bytes of one check's request and answer cross the line in this long.
double LineNeedsMs();
// The words of the check: healthy, or slow with what a full update loses and
// the likely cause; false when the line is slow or nothing answered.
bool JudgeLine(const LineFigures& f, char* out, size_t cap);
// Asks `count` one-byte flash reads on the open session and times them.
LineFigures MeasureLine(int count);
// The check on the open session of port (its name as --port chose it; label
// for the advice): its words; false when nothing answered.
bool CheckLine(const char* port, const char* label, char* out, size_t cap);

}  // namespace cli
