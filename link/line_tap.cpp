// line_tap.cpp - the one tap of the line.
#include "link/line_tap.h"

#include <atomic>

#include "link/link_state.h"

namespace wire {

namespace {
std::atomic<LineTap> tap{nullptr};
}

void SetLineTap(LineTap t) { tap.store(t); }

void TapLine(TapDirection direction, const uint8_t* bytes, int count) {
    const LineTap t = tap.load();
    if (t != nullptr && count > 0) t(direction, LinkFlagSet(kFlagRawCapture), bytes, count);
}

}  // namespace wire
