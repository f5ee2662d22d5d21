// console.cpp - reaching the console's window from outside, the verbs' arguments, and the step's outcome.
#include "driver.h"

#include <cstdio>
#include <cstdlib>
#include <cwchar>

namespace tqdrive {

namespace {

const char kPanelClass[] = "TQ73PANEL";
// Bound for one message sent to the console; it answers within milliseconds when alive.
const UINT kSendBoundMs = 3000;

}  // namespace

std::string ToUtf8(const std::wstring& w) {
    if (w.empty()) return std::string();
    int n = WideCharToMultiByte(CP_UTF8, 0, w.data(), (int)w.size(), nullptr, 0, nullptr, nullptr);
    std::string s((size_t)n, '\0');
    WideCharToMultiByte(CP_UTF8, 0, w.data(), (int)w.size(), &s[0], n, nullptr, nullptr);
    return s;
}

void Print(const std::string& line) {
    std::string out = line + "\n";
    fwrite(out.data(), 1, out.size(), stdout);
    fflush(stdout);
}

[[noreturn]] void Fail(const std::string& what) { throw StepError{what}; }

DWORD BoundMs(const std::wstring& seconds) {
    wchar_t* end = nullptr;
    double s = wcstod(seconds.c_str(), &end);
    if (end == seconds.c_str() || *end != L'\0' || s < 0 || s > 3600) Fail("bad number of seconds: " + ToUtf8(seconds));
    return (DWORD)(s * 1000.0);
}

int ControlId(const std::wstring& text) {
    wchar_t* end = nullptr;
    long id = wcstol(text.c_str(), &end, 10);
    if (end == text.c_str() || *end != L'\0' || id < 0 || id > 0xFFFF) Fail("bad control id: " + ToUtf8(text));
    return (int)id;
}

// A command id: decimal, or hex with 0x (system-menu commands are written so).
int CommandId(const std::wstring& text) {
    wchar_t* end = nullptr;
    unsigned long id = wcstoul(text.c_str(), &end, 0);
    if (end == text.c_str() || *end != L'\0' || id > 0xFFFF) Fail("bad command id: " + ToUtf8(text));
    return (int)id;
}

bool WantFlag(const std::wstring& want, const char* verb) {
    if (want == L"1") return true;
    if (want != L"0") Fail(std::string(verb) + " wants 1 or 0");
    return false;
}

HWND FindPanel() { return FindWindowA(kPanelClass, nullptr); }

HWND RequirePanel() {
    HWND w = FindPanel();
    if (!w) Fail("no window of class TQ73PANEL");
    return w;
}

HWND RequireControl(int id) {
    HWND c = GetDlgItem(RequirePanel(), id);
    if (!c) Fail("the window has no control " + std::to_string(id));
    return c;
}

DWORD ConsoleThread() {
    DWORD tid = GetWindowThreadProcessId(RequirePanel(), nullptr);
    if (!tid) Fail("the console's thread is unknown");
    return tid;
}

LRESULT Send(HWND w, UINT msg, WPARAM wp, LPARAM lp) {
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutW(w, msg, wp, lp, SMTO_ABORTIFHUNG, kSendBoundMs, &result))
        Fail("message " + std::to_string(msg) + " got no answer within " + std::to_string(kSendBoundMs) + " ms");
    return (LRESULT)result;
}

std::wstring WindowText(HWND w) {
    LRESULT len = Send(w, WM_GETTEXTLENGTH, 0, 0);
    std::vector<wchar_t> buf((size_t)len + 64, L'\0');
    Send(w, WM_GETTEXT, (WPARAM)buf.size(), (LPARAM)buf.data());
    return std::wstring(buf.data());
}

}  // namespace tqdrive
