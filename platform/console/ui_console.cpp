// ui_console.cpp - the user interface sink of the command-line programs, for
// Linux and Windows alike: control texts in fixed slots, posted messages in a
// ring, dialog timers on the millisecond tick, and the log, boxes and beeps
// handed to the front end one at a time.
//
// Two platform locks guard the shared state (mingw's win32 thread model has
// no std::mutex): every hold is a handful of stores, the output hold one
// printed line.
#include <cstring>

#include "platform/console/console_ui.h"
#include "platform/dialog_timers.h"
#include "platform/platform.h"

namespace platform {

namespace {

constexpr int kControlSlots = 24;
constexpr int kControlTextBytes = 1024;  // as the Windows sink's longest control text

struct Control {
    int id;
    bool used;
    bool enabled;
    char text[kControlTextBytes];
};

LockHandle StateLockHandle() {
    static const LockHandle lock = NewLock();
    return lock;
}

LockHandle OutputLockHandle() {
    static const LockHandle lock = NewLock();
    return lock;
}

Control controls[kControlSlots];
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

bool LeadByte(unsigned char c) { return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC); }

// Copies at most cap - 1 bytes, never half a double-byte character: its lead
// byte alone would turn the byte after it into garbage on the device.
void CopyWhole(const char* from, char* to, int cap) {
    int kept = 0;
    while (from[kept] != '\0') {
        const int width = LeadByte(static_cast<unsigned char>(from[kept])) && from[kept + 1] != '\0' ? 2 : 1;
        if (kept + width > cap - 1) break;
        kept += width;
    }
    std::memcpy(to, from, static_cast<size_t>(kept));
    to[kept] = '\0';
}

// The slot of a control, made on first use; nullptr when every slot is taken.
Control* Slot(int id, bool make) {
    for (Control& c : controls) {
        if (c.used && c.id == id) return &c;
    }
    if (!make) return nullptr;
    for (Control& c : controls) {
        if (!c.used) {
            c.used = true;
            c.id = id;
            c.enabled = true;
            c.text[0] = '\0';
            return &c;
        }
    }
    return nullptr;
}

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

void ReadControlText(int id, char* buffer, int cap) {
    if (cap <= 0) return;
    StateLock hold;
    const Control* c = Slot(id, false);
    CopyWhole(c != nullptr ? c->text : "", buffer, cap);
}

// The front end puts only texts that code page 932 holds into the controls
// that go to the unit: it has checked them before.
bool ReadControlTextExact(int id, char* buffer, int cap, TextRefusal& refusal) {
    refusal = TextRefusal{};
    ReadControlText(id, buffer, cap);
    return true;
}

// A path is set here as given (UTF-8 on Windows, bytes on Linux) and taken
// back whole: never cut to fit.
PathCarry ReadControlPath(int id, char* path, int cap) {
    if (cap <= 0) return PathCarry::TooLong;
    path[0] = '\0';
    StateLock hold;
    const Control* c = Slot(id, false);
    const char* text = c != nullptr ? c->text : "";
    const PathCarry carry = CheckBytePath(text);
    if (carry != PathCarry::Ok) return carry;
    const size_t n = std::strlen(text);
    if (n + 1 > static_cast<size_t>(cap)) return PathCarry::TooLong;
    std::memcpy(path, text, n + 1);
    return PathCarry::Ok;
}

void SetControlText(int id, const char* text) {
    StateLock hold;
    Control* c = Slot(id, true);
    if (c != nullptr) CopyWhole(text, c->text, kControlTextBytes);
}

void EnableControl(int id, bool enabled) {
    StateLock hold;
    Control* c = Slot(id, true);
    if (c != nullptr) c->enabled = enabled;
}

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

bool ControlEnabled(int id) {
    StateLock hold;
    const Control* c = Slot(id, false);
    return c == nullptr || c->enabled;
}

void ResetConsoleUi() {
    StateLock hold;
    for (Control& c : controls) c.used = false;
    timers.Clear();
    postedHead = 0;
    postedCount = 0;
    postedLost = 0;
}

}  // namespace console
}  // namespace platform
