// posix_hooks.h - what native tests see of and set in the posix platform: a
// refused set-up step, the edge or level signalling of received characters,
// and the recorded user interface (log, posted messages, boxes, controls,
// timers). Which device a port number opens is port_map.h's.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace platform::posix {

// Makes the next port set-up step of that name ("tcsetattr") fail with EINVAL,
// as a driver that refuses the line setting would.
void FailPortSetupStep(const std::string& call);

// Level: a wait completes while any byte is queued (Wine). Edge: only bytes
// that arrive during the wait complete it (Windows).
enum class EventSignal { Level, Edge };
void SetEventSignal(EventSignal signal);
// How many waits for received characters the platform has seen (a spinning
// receiver shows as a large number).
uint64_t EventWaitCount();

struct Posted {
    uint32_t message;
    uintptr_t wParam;
    intptr_t lParam;
};
// Waits up to timeoutMs for a posted message; false on time-out.
bool TakePosted(Posted& out, int timeoutMs);
// Called on the posting thread as each message is posted (empty: none), so a
// test can see what the poster had done by then.
void WatchPosts(std::function<void(const Posted&)> watcher);

std::vector<std::string> LogHistory();  // every line ever logged, oldest first
std::vector<std::string> LogShown();    // what the 100-line log holds now
int LogSelected();                      // index of the selected line, -1 none
std::vector<std::string> BoxesShown();
// The Yes/No questions asked, and what the operator answers them (No until
// told otherwise, as the box's default button).
std::vector<std::string> QuestionsAsked();
void AnswerQuestions(bool yes);
int BeepCount();
bool ControlEnabled(int id);
std::string ControlText(int id);
void SetControl(int id, const std::string& text);
// The dialog timer that is due, if any (armed again: it repeats until
// StopTimer, as SetTimer's does); -1 when none.
int TakeDueTimer();
bool TimerRunning(int id);

// Moves the millisecond tick forward, as if that much time had passed, so a
// test can let a long hold run out at once. The offset stays until reset.
void AdvanceTick(uint32_t ms);
void ResetTick();

// Emulates a coarse system timer: with a period (15625 for the default
// Windows timer of 15.625 ms), sleeps and timed-out signal waits end on the
// next multiple of it, as on Windows; 0 (the default) makes them exact.
void SetTimerPeriodUs(uint32_t us);

// Forgets everything recorded (between tests).
void ResetUi();

}  // namespace platform::posix
