// driver.h - what the verbs of tqdrive.exe share: failing a step, printing, bounded waits, reaching the console.
//
// Every message sent to the console goes through Send (SendMessageTimeoutW), and every
// wait takes its own bound, so a hung console makes a step fail instead of hanging the
// test. Texts are read with the W messages and printed as UTF-8 on stdout, so that a
// shell can grep the Japanese log texts. Two facts about Wine shape this: the A form of
// LB_GETTEXT hands back UTF-16 bytes when it crosses processes, and GetWindowText on
// another process's edit returns nothing; hence LB_GETTEXT and WM_GETTEXT, W form.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace tqdrive {

using Args = std::vector<std::wstring>;
using Lines = std::vector<std::wstring>;

// A step that found the console wrong (exit code 1).
struct StepError {
    std::string what;
};

// A step that cannot be checked on this system (exit code 3), as opposed to one that
// found the console wrong.
struct StepUnsupported {
    std::string what;
};

[[noreturn]] void Fail(const std::string& what);
void Print(const std::string& line);
std::string ToUtf8(const std::wstring& w);

// The arguments of the verbs.
DWORD BoundMs(const std::wstring& seconds);
int ControlId(const std::wstring& text);
int CommandId(const std::wstring& text);                    // decimal, or hex with 0x
bool WantFlag(const std::wstring& want, const char* verb);  // "1" or "0"

const DWORD kPollMs = 20;

// Polls until done() holds or the bound has passed; returns whether it held.
template <typename Pred>
bool PollUntil(DWORD boundMs, Pred done) {
    DWORD start = GetTickCount();
    for (;;) {
        if (done()) return true;
        if (GetTickCount() - start >= boundMs) return false;
        Sleep(kPollMs);
    }
}

// The console's window and its controls.
HWND FindPanel();
HWND RequirePanel();
HWND RequireControl(int id);
DWORD ConsoleThread();
LRESULT Send(HWND w, UINT msg, WPARAM wp, LPARAM lp);
std::wstring WindowText(HWND w);

// The log (log.cpp), which other verbs watch too.
Lines ReadLog();
bool LogUnchanged(const Lines& snapshot);
std::wstring LogLineText(HWND list, LRESULT i, bool* ok);
size_t FirstNewLine(const Lines& before, const Lines& now);
std::vector<std::wstring> Alternatives(const std::wstring& pattern);
bool Matches(const std::wstring& line, const std::vector<std::wstring>& alts);

// The TQ7300 message boxes (boxes.cpp).
HWND FindBox();
std::wstring BoxText(HWND box);

}  // namespace tqdrive
