// stop_resume.h - halting the device application (a worker) and letting it run again.
#pragma once

#include <cstdint>

#include "link/device_times.h"

namespace ops {

constexpr uint8_t kWakeByte = 0x5C;
constexpr uint8_t kStopRequest = 0x60;
constexpr uint8_t kResumeRequest = 0x61;
constexpr uint8_t kRequest62 = 0x62;
constexpr int kStopAttempts = 3;

// What the stop worker's UM_WORKER_DONE carries (wParam); the other workers'
// end messages carry nothing.
constexpr uintptr_t kStopUnanswered = 0;
constexpr uintptr_t kStopAnswered = 1;

// Worker entry: up to three wake-byte-plus-0x60 attempts; posts
// UM_WORKER_DONE with kStopAnswered or kStopUnanswered.
uint32_t StopWorker(void* unused);

// One stop attempt; true when a frame arrived within the bound.
bool StopAttempt();

}  // namespace ops
