// child_process_win32.cpp - this program again as a child on Windows:
// CreateProcessW with its output on an anonymous pipe, a process group of
// its own so that a Ctrl+C reaches it as CTRL_BREAK_EVENT through us.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "platform/child_process.h"

namespace platform::child {

struct Child {
    HANDLE process;
    HANDLE out;  // read end of its standard output
    DWORD id;
};

namespace {

// One argument as CommandLineToArgvW and the C runtime read it back: quoted
// when it holds a blank or a quote or is empty, a quote escaped, and the
// backslashes before a quote (or the closing one) doubled.
void AppendQuoted(std::string& line, const char* arg) {
    if (arg[0] != '\0' && std::strpbrk(arg, " \t\"") == nullptr) {
        line += arg;
        return;
    }
    line += '"';
    size_t backslashes = 0;
    for (const char* p = arg;; ++p) {
        if (*p == '\\') {
            ++backslashes;
            continue;
        }
        if (*p == '\0' || *p == '"') {
            line.append(backslashes * 2 + (*p == '"' ? 1 : 0), '\\');
            if (*p == '\0') break;
            line += '"';
        } else {
            line.append(backslashes, '\\');
            line += *p;
        }
        backslashes = 0;
    }
    line += '"';
}

void Say(char* why, size_t cap, const char* what) {
    std::snprintf(why, cap, "%s (error %lu)", what, static_cast<unsigned long>(GetLastError()));
}

HANDLE Inheritable(HANDLE h) {
    HANDLE copy = nullptr;
    if (h == nullptr || h == INVALID_HANDLE_VALUE) return nullptr;
    DuplicateHandle(GetCurrentProcess(), h, GetCurrentProcess(), &copy, 0, TRUE, DUPLICATE_SAME_ACCESS);
    return copy;
}

}  // namespace

Child* StartSelf(const char* const* args, int count, char* why, size_t whyCap) {
    wchar_t self[MAX_PATH + 1];
    const DWORD n = GetModuleFileNameW(nullptr, self, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) {
        Say(why, whyCap, "cannot tell where this program is");
        return nullptr;
    }
    std::string line = "tq73";
    for (int i = 0; i < count; ++i) {
        line += ' ';
        AppendQuoted(line, args[i]);
    }
    std::wstring wide(line.size() + 1, L'\0');
    const int w = MultiByteToWideChar(CP_UTF8, 0, line.c_str(), -1, &wide[0], static_cast<int>(wide.size()));
    if (w <= 0) {
        Say(why, whyCap, "the arguments are not UTF-8");
        return nullptr;
    }
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE readEnd = nullptr, writeEnd = nullptr;
    if (!CreatePipe(&readEnd, &writeEnd, &inherit, 0)) {
        Say(why, whyCap, "no pipe");
        return nullptr;
    }
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    HANDLE nul =
        CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, OPEN_EXISTING, 0, nullptr);
    HANDLE err = Inheritable(GetStdHandle(STD_ERROR_HANDLE));
    STARTUPINFOW start{};
    start.cb = sizeof start;
    start.dwFlags = STARTF_USESTDHANDLES;
    start.hStdInput = nul;
    start.hStdOutput = writeEnd;
    start.hStdError = err;
    PROCESS_INFORMATION info{};
    const BOOL started = CreateProcessW(self, &wide[0], nullptr, nullptr, TRUE, CREATE_NEW_PROCESS_GROUP, nullptr,
                                        nullptr, &start, &info);
    if (!started) Say(why, whyCap, "cannot start this program again");
    CloseHandle(writeEnd);
    if (nul != INVALID_HANDLE_VALUE) CloseHandle(nul);
    if (err != nullptr) CloseHandle(err);
    if (!started) {
        CloseHandle(readEnd);
        return nullptr;
    }
    CloseHandle(info.hThread);
    return new Child{info.hProcess, readEnd, info.dwProcessId};
}

int Read(Child* child, char* buffer, int cap) {
    DWORD got = 0;
    if (!ReadFile(child->out, buffer, static_cast<DWORD>(cap), &got, nullptr)) return 0;
    return static_cast<int>(got);
}

void Interrupt(Child* child) { GenerateConsoleCtrlEvent(CTRL_BREAK_EVENT, child->id); }

void Kill(Child* child) { TerminateProcess(child->process, 137); }

bool Wait(Child* child, uint32_t timeoutMs, int& exitCode) {
    if (WaitForSingleObject(child->process, timeoutMs) != WAIT_OBJECT_0) return false;
    DWORD code = 1;
    GetExitCodeProcess(child->process, &code);
    exitCode = static_cast<int>(code);
    return true;
}

void Release(Child* child) {
    CloseHandle(child->out);
    CloseHandle(child->process);
    delete child;
}

}  // namespace platform::child
