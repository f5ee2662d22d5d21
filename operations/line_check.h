// line_check.h - the line check: a few harmless requests (one-byte flash
// reads) timed, with what the system knows of the port's adapter, for the
// front ends to set against what the line itself needs.
#pragma once

#include <cstdint>

#include "operations/result.h"

namespace ops {

// The requests one check asks; it asks fewer when two in a row go
// unanswered, or the port closes.
constexpr int kLineCheckRequests = 9;

struct LineCheckParams {
    char port[256] = "";  // the port as the system names it ("COM7", "/dev/ttyUSB0")
};

// Worker (param: LineCheckParams, kept by the caller until the end
// message): measures the line, adds the port's adapter facts, and reports
// them as the result; nothing answered is a failure (no answer, or the port
// closed).
uint32_t LineCheckWorker(void* param);

}  // namespace ops
