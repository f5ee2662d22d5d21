// device_times.h - every time-out and pause that the TQ7300 and its line set,
// with where each comes from. The commands, the link and the programmer take
// them from here, so that a bound is changed in one place.
#pragma once

#include <cstdint>

namespace wire {

// ---- application mode ------------------------------------------------------

// An answer is polled for every 10 ms, 101 times: the bound the console has
// always given the device to answer a request.
constexpr uint32_t kResponsePollMs = 10;
constexpr uint32_t kWaitForResponseBoundMs = 101 * kResponsePollMs;
// Bytes of a frame that stop coming for this long are a cut frame (the
// device sends a frame in one burst).
constexpr uint16_t kStalePartialMs = 100;
// A flash transfer polls on its own for each chunk's answer: a 256-byte chunk
// crosses the line in about 70 ms each way, so this leaves ample time.
constexpr uint32_t kOwnPollBoundMs = 5000;
// Before a flash read chunk is asked again: the rest of a spoilt 256-byte
// answer crosses the line in about 70 ms and the receiver gives up a cut
// frame 100 ms after its last byte, so whatever the first request brought
// has been taken off the line by then.
constexpr uint32_t kAskAgainPauseMs = 250;
// ap-stop: the pause after the wake byte 5C before the stop request, and the
// answer awaited as the 51 polls of 10 ms it always was.
constexpr uint32_t kWakePauseMs = 50;
constexpr int kStopAnswerSleeps = 51;
constexpr uint32_t kStopAnswerBoundMs = kStopAnswerSleeps * 10;
// The pattern sequence: each pattern is held 10 s, with 300 ms between two.
constexpr uint16_t kPatternHoldMs = 10000;
constexpr uint16_t kPatternPauseMs = 300;
// "farm udt" waits this long for the device's verdict on the model.
constexpr uint32_t kVerdictWaitMs = 3000;
// After an update the unit restarts into its application; it has this long
// to answer a request again before a verify of it is given up.
constexpr uint32_t kAwaitApplicationMs = 15000;

// ---- boot mode ---------------------------------------------------------------

// Fixed pauses the boot loader needs: after a block erase, after "W" before
// the first page, and after each page.
constexpr uint32_t kEraseSettleMs = 400;
constexpr uint32_t kWriteModeSettleMs = 1000;
constexpr uint32_t kPageSettleMs = 10;
// A boot-mode reply is polled for every 10 ms, this many times (1 s).
constexpr int kReplyPolls = 100;
// Closing the window waits this long for a write pass to reach its next page:
// the pause after "W" (1 s), or the three replies of the page under way (1 s each).
constexpr uint32_t kWritePassEndMs = 4000;

}  // namespace wire
