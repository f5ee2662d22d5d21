// state.cpp - the verbs that a long run (the soak) polls: the console's own threads and its state in a few lines.
#include "driver.h"
#include "steps.h"

#include "shell/command_ids.h"

#include <tlhelp32.h>

namespace tqdrive {

namespace {

// The console's own threads besides its UI thread: those that start inside its program
// image (the receiver and the worker; Wine's helper threads, such as the one that
// waits on a serial event, start in its system libraries). 0 when the process's
// threads cannot be read.
typedef LONG(NTAPI* QueryThreadFn)(HANDLE, int, PVOID, ULONG, PULONG);
const int kThreadQuerySetWin32StartAddress = 9;

int OwnThreads() {
    DWORD pid = 0;
    DWORD uiThread = GetWindowThreadProcessId(RequirePanel(), &pid);
    static QueryThreadFn query =
        (QueryThreadFn)(void*)GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQueryInformationThread");
    HANDLE mods = CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, pid);
    if (mods == INVALID_HANDLE_VALUE || !query) Fail("the console's program image cannot be found");
    MODULEENTRY32W me;
    me.dwSize = sizeof me;
    BOOL found = Module32FirstW(mods, &me);  // the first module is the program
    CloseHandle(mods);
    if (!found) Fail("the console's program image cannot be found");
    ULONG_PTR base = (ULONG_PTR)me.modBaseAddr, end = base + me.modBaseSize;
    HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snap == INVALID_HANDLE_VALUE) Fail("CreateToolhelp32Snapshot failed");
    int n = 0;
    THREADENTRY32 te;
    te.dwSize = sizeof te;
    for (BOOL more = Thread32First(snap, &te); more; more = Thread32Next(snap, &te)) {
        if (te.th32OwnerProcessID != pid || te.th32ThreadID == uiThread) continue;
        HANDLE t = OpenThread(THREAD_QUERY_INFORMATION, FALSE, te.th32ThreadID);
        if (!t) continue;  // it ended meanwhile
        ULONG_PTR start = 0;
        if (query(t, kThreadQuerySetWin32StartAddress, &start, sizeof start, nullptr) == 0 && start >= base &&
            start < end)
            ++n;
        CloseHandle(t);
    }
    CloseHandle(snap);
    return n;
}

// The log as the last state step saw it: each state step prints the lines added since.
Lines stateSeen;

}  // namespace

void StepThreads() { Print("threads " + std::to_string(OwnThreads())); }

// One line each: "threads N", "port 1|0" (the port edit enabled: no session), "panel 1|0"
// (the service panel shown), "box 1|0", "count N" (log lines), then "+ LINE" for each
// log line that the previous state step had not seen.
void StepState() {
    Print("threads " + std::to_string(OwnThreads()));
    Print(std::string("port ") + (IsWindowEnabled(RequireControl(shell::kIdPortEdit)) ? "1" : "0"));
    Print(std::string("panel ") + (IsWindowVisible(RequireControl(shell::kIdFlashWrite)) ? "1" : "0"));
    Print(std::string("box ") + (FindBox() ? "1" : "0"));
    if (!stateSeen.empty() && LogUnchanged(stateSeen)) {
        Print("count " + std::to_string(stateSeen.size()));
        return;
    }
    Lines now = ReadLog();
    Print("count " + std::to_string(now.size()));
    for (size_t i = FirstNewLine(stateSeen, now); i < now.size(); ++i) Print("+ " + ToUtf8(now[i]));
    stateSeen.swap(now);
}

}  // namespace tqdrive
