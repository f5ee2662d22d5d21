// ui_console.cpp - the user interface sink of the command-line programs, for
// Linux and Windows alike: posted messages in a ring, dialog timers on the
// millisecond tick, and the log, boxes and beeps handed to the front end one
// at a time. A console has no controls: its front end hands the commands
// their values in their calls, so a control reads as empty and keeps nothing.
//
// Two platform locks guard the shared state (mingw's win32 thread model has
// no std::mutex): every hold is a handful of stores, the output hold one
// printed line.
#include "platform/console/console_ui.h"
#include "platform/dialog_timers.h"
#include "platform/platform.h"

namespace platform {

namespace {

LockHandle StateLockHandle() {
    static const LockHandle lock = NewLock();
    return lock;
}

LockHandle OutputLockHandle() {
    static const LockHandle lock = NewLock();
    return lock;
}

DialogTimers timers;
console::Posted posted[console::kPostedCapacity];
int postedHead = 0;
int postedCount = 0;
int postedLost = 0;

class StateLock {
public:
    StateLock() { Lock(StateLockHandle()); }
    ~StateLock() { Unlock(StateLockHandle()); }
    StateLock(const StateLock&) = delete;
    StateLock& operator=(const StateLock&) = delete;
};

}  // namespace

void LogLine(const char* text) {
    console::OutputLock hold;
    console::ShowLogLine(text);
}

void LogFrame(char letter, int length, const uint8_t* frame, int held, const char* line) {
    console::OutputLock hold;
    console::ShowFrame(letter, length, frame, held, line);
}

void ClearLog() {
    console::OutputLock hold;
    console::ShowClearLog();
}

void PostToDialog(uint32_t message, uintptr_t wParam, intptr_t lParam) {
    StateLock hold;
    if (postedCount == console::kPostedCapacity) {
        ++postedLost;
        return;
    }
    posted[(postedHead + postedCount) % console::kPostedCapacity] = console::Posted{message, wParam, lParam};
    ++postedCount;
}

void WarningBox(const char* text) {
    console::OutputLock hold;
    console::ShowBox(text);
}

bool AskYesNo(const char* text) {
    console::OutputLock hold;
    return console::AnswerQuestion(text);
}

void WarningBoxUtf8(const char* text) {
    console::OutputLock hold;
    console::ShowBoxUtf8(text);
}

void Beep(BeepSound sound) {
    console::OutputLock hold;
    console::ShowBeep(sound);
}

void ReadControlText(int, char* buffer, int cap) {
    if (cap > 0) buffer[0] = '\0';
}

bool ReadControlTextExact(int, char* buffer, int cap, TextRefusal& refusal) {
    refusal = TextRefusal{};
    ReadControlText(0, buffer, cap);
    return true;
}

PathCarry ReadControlPath(int, char* path, int cap) {
    if (cap <= 0) return PathCarry::TooLong;
    path[0] = '\0';
    return PathCarry::Ok;
}

void SetControlText(int, const char*) {}

void EnableControl(int, bool) {}

void StartTimer(int id, uint32_t ms) {
    const uint32_t now = TickMs();
    StateLock hold;
    timers.Start(id, ms, now);
}

void StopTimer(int id) {
    StateLock hold;
    timers.Stop(id);
}

namespace console {

void AcquireOutput() { Lock(OutputLockHandle()); }
void ReleaseOutput() { Unlock(OutputLockHandle()); }

bool TakePosted(Posted& out) {
    StateLock hold;
    if (postedCount == 0) return false;
    out = posted[postedHead];
    postedHead = (postedHead + 1) % kPostedCapacity;
    --postedCount;
    return true;
}

int PostedLost() {
    StateLock hold;
    return postedLost;
}

int TakeDueTimer() {
    const uint32_t now = TickMs();
    StateLock hold;
    return timers.TakeDue(now);
}

bool AnyTimerRunning() {
    StateLock hold;
    return timers.AnyRunning();
}

void ResetConsoleUi() {
    StateLock hold;
    timers.Clear();
    postedHead = 0;
    postedCount = 0;
    postedLost = 0;
}

}  // namespace console
}  // namespace platform
