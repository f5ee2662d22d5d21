// threads_win32.cpp - threads, sleeping, the clock, locks and signals on
// Windows.
//
// Every bounded wait here counts its bound with the performance counter:
// GetTickCount steps by the timer period (15.6 ms by default), so a bound
// counted in its steps could last half as long again.
#include <windows.h>

#include "platform/platform.h"

namespace platform {

namespace {
struct Start {
    ThreadRoutine routine;
    void* param;
};

// CreateThread wants a WINAPI routine; the console's routines are plain.
DWORD WINAPI Trampoline(LPVOID p) {
    const Start s = *static_cast<Start*>(p);
    delete static_cast<Start*>(p);
    return s.routine(s.param);
}

// The longest a sleep may overshoot on a default timer, and the rest of a
// pause that is yielded away rather than slept.
constexpr uint64_t kCoarseTickUs = 16000;

// What one Sleep(1) took last time a pause tried it: under a fine timer
// (timeBeginPeriod) a pause sleeps its rest in such steps, under the default
// one it yields instead.
volatile LONG sleepOneUs = 0;

uint64_t RemainingMs(uint64_t untilUs) {
    const uint64_t now = MonotonicUs();
    return now >= untilUs ? 0 : (untilUs - now + 999) / 1000;
}

// Waits for the handle, or until untilUs, carrying out the messages that
// other threads send to our windows (log requests); queued messages stay
// queued. True when the handle was signalled.
bool UiWaitHandle(HANDLE h, uint64_t untilUs) {
    for (;;) {
        MSG msg;
        PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
        const uint64_t left = RemainingMs(untilUs);
        const DWORD r = MsgWaitForMultipleObjects(h != nullptr ? 1 : 0, h != nullptr ? &h : nullptr, FALSE,
                                                  static_cast<DWORD>(left), QS_SENDMESSAGE);
        if (h != nullptr && r == WAIT_OBJECT_0) return true;
        if (r == WAIT_FAILED || RemainingMs(untilUs) == 0) return false;
    }
}
}  // namespace

ThreadHandle StartThread(ThreadRoutine routine, void* param) {
    Start* start = new Start{routine, param};
    HANDLE h = CreateThread(nullptr, 0, Trampoline, start, 0, nullptr);
    if (h == nullptr) delete start;
    return h;
}

bool ThreadRunning(ThreadHandle thread) {
    DWORD code = 0;
    if (!GetExitCodeThread(static_cast<HANDLE>(thread), &code)) return false;
    return code == STILL_ACTIVE;
}

void CloseThread(ThreadHandle thread) { CloseHandle(static_cast<HANDLE>(thread)); }

// A thread handle is signalled when the thread ends.
bool UiAwaitThreadEnd(ThreadHandle thread, uint32_t timeoutMs) {
    if (!ThreadRunning(thread)) return true;
    return UiWaitHandle(static_cast<HANDLE>(thread), MonotonicUs() + uint64_t(timeoutMs) * 1000);
}

void SleepMs(uint32_t ms) { Sleep(ms); }

void PauseMs(uint32_t ms) {
    const uint64_t until = MonotonicUs() + uint64_t(ms) * 1000;
    uint64_t now = MonotonicUs();
    if (until - now > kCoarseTickUs) Sleep(static_cast<DWORD>((until - now - kCoarseTickUs) / 1000));
    for (now = MonotonicUs(); now < until; now = MonotonicUs()) {
        if (until - now > static_cast<uint64_t>(sleepOneUs) + 1000) {
            Sleep(1);
            InterlockedExchange(&sleepOneUs, static_cast<LONG>(MonotonicUs() - now));
        } else {
            SwitchToThread();
        }
    }
}

void UiSleepMs(uint32_t ms) { UiWaitHandle(nullptr, MonotonicUs() + uint64_t(ms) * 1000); }

// From the performance counter too: GetTickCount moves in steps of the timer
// period, and Windows 11 does not honour a finer period for a minimized or
// hidden window, so a progress rate or a hold counted in it could be 16 ms off.
uint32_t TickMs() { return static_cast<uint32_t>(MonotonicUs() / 1000); }

uint64_t MonotonicUs() {
    static LARGE_INTEGER frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER count;
    QueryPerformanceCounter(&count);
    const uint64_t c = static_cast<uint64_t>(count.QuadPart);
    const uint64_t f = static_cast<uint64_t>(frequency.QuadPart);
    return c / f * 1000000 + c % f * 1000000 / f;
}

LockHandle NewLock() {
    auto* lock = new SRWLOCK;
    InitializeSRWLock(lock);
    return lock;
}

void Lock(LockHandle lock) { AcquireSRWLockExclusive(static_cast<PSRWLOCK>(lock)); }
bool TryLock(LockHandle lock) { return TryAcquireSRWLockExclusive(static_cast<PSRWLOCK>(lock)) != 0; }
void Unlock(LockHandle lock) { ReleaseSRWLockExclusive(static_cast<PSRWLOCK>(lock)); }

// Auto-reset: a wait takes the raise, and a raise with nobody waiting stays
// until the next wait.
SignalHandle NewSignal() { return CreateEventA(nullptr, FALSE, FALSE, nullptr); }

void RaiseSignal(SignalHandle signal) { SetEvent(static_cast<HANDLE>(signal)); }

bool WaitSignal(SignalHandle signal, uint32_t timeoutMs) {
    return WaitForSingleObject(static_cast<HANDLE>(signal), timeoutMs) == WAIT_OBJECT_0;
}

bool UiWaitSignal(SignalHandle signal, uint32_t timeoutMs) {
    return UiWaitHandle(static_cast<HANDLE>(signal), MonotonicUs() + uint64_t(timeoutMs) * 1000);
}

LocalTime NowLocal() {
    SYSTEMTIME st;
    GetLocalTime(&st);
    return LocalTime{st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute, st.wSecond};
}

}  // namespace platform
