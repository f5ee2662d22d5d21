// threads_win32.cpp - threads, sleeping and the clock on Windows.
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

void SleepMs(uint32_t ms) { Sleep(ms); }

void UiSleepMs(uint32_t ms) {
    // Carry out messages that other threads send to our windows (log
    // requests) while we wait; queued messages stay queued.
    const DWORD until = GetTickCount() + ms;
    for (;;) {
        MSG msg;
        PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
        const DWORD now = GetTickCount();
        if (static_cast<LONG>(until - now) <= 0) break;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, until - now, QS_SENDMESSAGE);
    }
}

uint32_t TickMs() { return GetTickCount(); }

LocalTime NowLocal() {
    SYSTEMTIME st;
    GetLocalTime(&st);
    return LocalTime{st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute, st.wSecond};
}

}  // namespace platform
