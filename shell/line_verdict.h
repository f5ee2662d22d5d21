// line_verdict.h - the words of a line check, for every front end: the
// verdict with what a slow line costs a full update and its likely cause,
// and the status strip's short headline.
#pragma once

#include <cstddef>

#include "operations/result.h"

namespace shell {

// The bytes of one check's request and answer cross the line in this long.
double LineNeedsMs();
// "the line is healthy: ..." or "the line is slow: ...; likely cause: ...",
// naming port (as the system's settings name it) in the advice; false when
// the line is slow or nothing answered.
bool JudgeLine(const ops::LineFigures& f, const char* port, char* out, size_t cap);
// "line check: healthy, a round trip takes 5.9 ms", or slow and where to look.
void LineHeadline(const ops::LineFigures& f, char* out, size_t cap);

}  // namespace shell
