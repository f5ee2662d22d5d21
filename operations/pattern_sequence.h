// pattern_sequence.h - the repeating pattern sequence: the pattern table for
// ten seconds, the empty pattern, a 300 ms pause, until told to stop.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>

#include "link/device_times.h"

namespace ops {

constexpr int kPatternTableSize = 53;
extern const std::array<uint8_t, kPatternTableSize> PatternTable;

// The countdown of the current hold or pause in milliseconds. Process-wide
// and not reset by a new sequence: a sequence stopped during a hold leaves
// the rest of it for the next one to wait out.
extern std::atomic<uint16_t> SequenceTimer;

// The steps of one cycle, in the order they follow each other: show (20),
// hold (21), start the pause (33), wait for the pause to end (0), show again.
// The numbers only tell the steps apart: nothing counts with them, compares
// them by size or keeps them beyond one run of the worker. They are the
// numbering the sequence has always been described with, gaps and all, kept
// so that a state seen in a debugger reads the same as in that description.
enum PatternState : int {
    kPatternPauseEnds = 0,
    kPatternShow = 20,
    kPatternHold = 21,
    kPatternStartPause = 33,
};

// Milliseconds between two readings of the tick's low 16 bits; a wrap in
// between still counts the full time.
uint16_t ElapsedMs16(uint16_t previous, uint16_t now);

// Worker entry (parameter ignored): logs the start, runs until bit 1 of
// LinkFlags is set, logs the stop and posts UM_SEQUENCE_STOPPED.
uint32_t PatternSequenceWorker(void* unused);

}  // namespace ops
