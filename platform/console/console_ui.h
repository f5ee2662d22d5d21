// console_ui.h - the user interface sink for console front ends: what the
// front end provides to it (how a line, a box or a beep is shown) and what it
// takes from it (posted messages, due timers).
//
// A console keeps no controls: its front end calls the commands with their
// values. Posted messages and dialog timers wait here until the front end's
// loop carries them out on its own thread, as the dialog's message loop would.
#pragma once

#include <cstdint>

#include "platform/platform.h"

namespace platform::console {

// ---- provided by the front end -------------------------------------------
// Called one at a time, from any thread, with the output held (OutputLock);
// they must not call back into the user interface sink.
void ShowLogLine(const char* cp932);
void ShowLogLineUtf8(const char* utf8);
// A frame's log line with the frame's bytes (platform::LogFrame).
void ShowFrame(char letter, int length, const uint8_t* frame, int held, const char* cp932);
void ShowBox(const char* cp932);
// A Yes/No question: the front end shows it and answers; true for Yes.
bool AnswerQuestion(const char* cp932);
void ShowBoxUtf8(const char* utf8);
void ShowBeep(BeepSound sound);
void ShowClearLog();

// ---- for the front end ------------------------------------------------------

// From now on lines and frames logged on other threads wait in a queue
// (bounded; a thread that finds it full shows it first) for this thread, and
// the thread that logged them goes on.
void ShowLinesOnThisThread();
// Shows what waits. Taking the output (below) does so too, first: whatever
// the front end writes comes after every line logged before it.
void ShowQueued();
// For the Show hooks: how long ago the line being shown was logged (0 for
// one shown as it is logged), so that its time stamp is the time it was
// logged.
uint32_t ShownLineAgeMs();

// Holds the console's output, so that what the front end writes itself (a
// progress bar) never lands inside a line that another thread prints.
void AcquireOutput();
void ReleaseOutput();
class OutputLock {
public:
    OutputLock() { AcquireOutput(); }
    ~OutputLock() { ReleaseOutput(); }
    OutputLock(const OutputLock&) = delete;
    OutputLock& operator=(const OutputLock&) = delete;
};

struct Posted {
    uint32_t message;
    uintptr_t wParam;
    intptr_t lParam;
};
constexpr int kPostedCapacity = 64;
// The oldest message posted and not yet taken; false when none waits.
bool TakePosted(Posted& out);
// Messages that found the queue full and were lost (the front end reports them).
int PostedLost();

// A dialog timer whose time has come, or -1. Timers repeat, as SetTimer's
// do, until StopTimer.
int TakeDueTimer();
bool AnyTimerRunning();

// Forgets the messages and timers (between tests).
void ResetConsoleUi();

}  // namespace platform::console
