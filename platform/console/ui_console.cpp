// ui_console.cpp - the user interface sink of the command-line programs, for
// Linux and Windows alike: posted messages in a ring, dialog timers on the
// millisecond tick, and the log, boxes and beeps handed to the front end one
// at a time. A console has no controls: its front end hands the commands
// their values in their calls, so a control reads as empty and keeps nothing.
//
// Once the front end has named its showing thread, a line or frame logged on
// any other thread is queued and that thread goes on; the queue is shown in
// order whenever anyone takes the output (the loop's look, a box, the
// result), so a box or a question comes after every line logged before it.
//
// Two platform locks guard the shared state (mingw's win32 thread model has
// no std::mutex): every hold is a handful of stores, the output hold one
// printed line.
#include "platform/console/console_ui.h"

#include <atomic>
#include <utility>

#include "platform/dialog_timers.h"
#include "platform/log_queue.h"
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

LogQueue& Queue() {
    static LogQueue queue;
    return queue;
}
std::atomic<bool> queueing{false};    // a showing thread was named
thread_local bool onShowing = false;  // this thread is it

uint32_t shownAgeMs = 0;  // how long ago the entry being shown was logged

// With the output held: every queued entry, oldest first, each stamped with
// the time it was logged.
void ShowQueuedHeld() {
    if (!queueing) return;
    for (LogEntry& e : Queue().TakeAll()) {
        shownAgeMs = TickMs() - e.loggedMs;
        if (e.clear) {
            console::ShowClearLog();
        } else if (e.frameLetter != 0) {
            console::ShowFrame(e.frameLetter, e.frameLength, e.frame.data(), static_cast<int>(e.frame.size()),
                               e.text.c_str());
        } else if (e.utf8) {
            console::ShowLogLineUtf8(e.text.c_str());
        } else {
            console::ShowLogLine(e.text.c_str());
        }
    }
    shownAgeMs = 0;
}

// A line logged off the showing thread waits for it; a full queue is shown
// by the caller first (under the output hold, so in order), then queued.
bool Queued(LogEntry entry) {
    if (!queueing || onShowing) return false;
    entry.loggedMs = TickMs();
    while (Queue().Push(entry) == LogQueue::Put::Full) {
        console::OutputLock hold;
    }
    return true;
}

class StateLock {
public:
    StateLock() { Lock(StateLockHandle()); }
    ~StateLock() { Unlock(StateLockHandle()); }
    StateLock(const StateLock&) = delete;
    StateLock& operator=(const StateLock&) = delete;
};

}  // namespace

void LogLine(const char* text) {
    LogEntry entry;
    entry.text = text;
    if (Queued(std::move(entry))) return;
    console::OutputLock hold;
    console::ShowLogLine(text);
}

void LogLineUtf8(const char* text) {
    LogEntry entry;
    entry.text = text;
    entry.utf8 = true;
    if (Queued(std::move(entry))) return;
    console::OutputLock hold;
    console::ShowLogLineUtf8(text);
}

void LogFrame(char letter, int length, const uint8_t* frame, int held, const char* line) {
    LogEntry entry;
    entry.text = line;
    entry.frameLetter = letter;
    entry.frameLength = length;
    entry.frame.assign(frame, frame + (held > 0 ? held : 0));
    if (Queued(std::move(entry))) return;
    console::OutputLock hold;
    console::ShowFrame(letter, length, frame, held, line);
}

void ClearLog() {
    LogEntry entry;
    entry.clear = true;
    if (Queued(std::move(entry))) return;
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

void AcquireOutput() {
    Lock(OutputLockHandle());
    ShowQueuedHeld();
}

void ShowLinesOnThisThread() {
    onShowing = true;
    queueing = true;
}

void ShowQueued() { OutputLock hold; }

uint32_t ShownLineAgeMs() { return shownAgeMs; }
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
    queueing = false;
    onShowing = false;
    Queue().TakeAll();
    StateLock hold;
    timers.Clear();
    postedHead = 0;
    postedCount = 0;
    postedLost = 0;
}

}  // namespace console
}  // namespace platform
