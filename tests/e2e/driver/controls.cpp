// controls.cpp - the verbs on the console's window and its controls: wait for it, press, set and read texts, states.
#include "driver.h"
#include "steps.h"

#include <cwchar>

namespace tqdrive {

namespace {

// The class name without the version prefix ("6.0.2600.2982!Button") that class
// redirection of Common Controls 6 may put before it.
std::wstring BaseClassName(HWND w) {
    wchar_t name[256] = {};
    if (!GetClassNameW(w, name, 256)) Fail("GetClassName failed");
    std::wstring s = name;
    size_t bang = s.rfind(L'!');
    return bang == std::wstring::npos ? s : s.substr(bang + 1);
}

}  // namespace

void StepWindow(DWORD bound) {
    if (!PollUntil(bound, [] { return FindPanel() != nullptr; })) Fail("no TQ73PANEL window appeared");
}

void StepGone(DWORD bound) {
    if (!PollUntil(bound, [] { return FindPanel() == nullptr; })) Fail("the TQ73PANEL window is still there");
}

void StepClose(DWORD bound) {
    if (!PostMessageW(RequirePanel(), WM_CLOSE, 0, 0)) Fail("PostMessage WM_CLOSE failed");
    StepGone(bound);
}

// What Windows sends every top-level window at a log-off: the query, then the
// end; the end is sent (not posted), and its answer waited for, as Windows
// waits before it ends the process.
void StepEndSession(const std::wstring& windowClass, DWORD bound) {
    HWND target = nullptr;
    if (!PollUntil(bound, [&] { return (target = FindWindowW(windowClass.c_str(), nullptr)) != nullptr; }))
        Fail("no window of the class given");
    DWORD_PTR answer = 0;
    if (!SendMessageTimeoutW(target, WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF, SMTO_NORMAL, 5000, &answer))
        Fail("WM_QUERYENDSESSION was not answered within 5 s");
    Print("query: " + std::string(answer != 0 ? "may end" : "refused"));
    SendMessageTimeoutW(target, WM_ENDSESSION, TRUE, ENDSESSION_LOGOFF, SMTO_NORMAL, 10000, &answer);
}

void StepShowWindow(int how) {
    ShowWindowAsync(RequirePanel(), how);
    if (!PollUntil(5000, [&] { return (IsIconic(RequirePanel()) != FALSE) == (how == SW_MINIMIZE); }))
        Fail("the window did not change its state");
}

void StepSetText(int id, const std::wstring& text) {
    HWND c = RequireControl(id);
    if (!Send(c, WM_SETTEXT, 0, (LPARAM)text.c_str())) Fail("WM_SETTEXT refused");
}

void StepGetText(int id) { Print(ToUtf8(WindowText(RequireControl(id)))); }

void StepExpectText(int id, const std::wstring& expected, DWORD bound) {
    std::wstring last;
    if (!PollUntil(bound, [&] { return (last = WindowText(RequireControl(id))) == expected; }))
        Fail("control " + std::to_string(id) + " holds \"" + ToUtf8(last) + "\", expected \"" + ToUtf8(expected) +
             "\"");
}

void StepPress(int id) {
    HWND panel = RequirePanel();
    HWND ctrl = GetDlgItem(panel, id);
    if (!PostMessageW(panel, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), (LPARAM)ctrl))
        Fail("PostMessage WM_COMMAND failed");
}

// Unlike press, the click goes through the button itself: it takes the focus and sends
// the dialog its WM_COMMAND, as when the operator clicks it.
void StepClick(int id) {
    if (!PostMessageW(RequireControl(id), BM_CLICK, 0, 0)) Fail("PostMessage BM_CLICK failed");
}

void StepSysCommand(int id) {
    if (!PostMessageW(RequirePanel(), WM_SYSCOMMAND, (WPARAM)id, 0)) Fail("PostMessage WM_SYSCOMMAND failed");
}

void StepEnabled(int id, const std::wstring& want, DWORD bound) {
    bool wantEnabled = WantFlag(want, "enabled");
    if (!PollUntil(bound, [&] { return (IsWindowEnabled(RequireControl(id)) != FALSE) == wantEnabled; }))
        Fail("control " + std::to_string(id) + (wantEnabled ? " is disabled" : " is enabled"));
}

void StepVisible(int id, const std::wstring& want, DWORD bound) {
    bool wantVisible = WantFlag(want, "visible");
    if (!PollUntil(bound, [&] { return (IsWindowVisible(RequireControl(id)) != FALSE) == wantVisible; }))
        Fail("control " + std::to_string(id) + (wantVisible ? " is hidden" : " is visible"));
}

void StepForeground(DWORD bound) {
    HWND panel = RequirePanel();
    if (!PollUntil(bound, [&] { return GetForegroundWindow() == panel && !IsIconic(panel); }))
        Fail(IsIconic(panel) ? "the window is still minimized" : "the window is not the foreground window");
}

void StepClass(int id, const std::wstring& expected) {
    std::wstring got = BaseClassName(RequireControl(id));
    if (_wcsicmp(got.c_str(), expected.c_str()) != 0)
        Fail("control " + std::to_string(id) + " is a " + ToUtf8(got) + ", expected " + ToUtf8(expected));
}

// As the operator chooses from a drop-down list: dropped (the console fills
// it then), the first item holding PAT selected, the list closed; each item
// is printed.
void StepChoose(int id, const std::wstring& pattern) {
    HWND list = RequireControl(id);
    Send(list, CB_SHOWDROPDOWN, TRUE, 0);
    const LRESULT count = Send(list, CB_GETCOUNT, 0, 0);
    LRESULT chosen = CB_ERR;
    for (LRESULT i = 0; i < count; ++i) {
        wchar_t item[512] = L"";
        if (Send(list, CB_GETLBTEXTLEN, i, 0) >= 511) continue;
        Send(list, CB_GETLBTEXT, i, (LPARAM)item);
        Print(ToUtf8(item));
        if (chosen == CB_ERR && wcsstr(item, pattern.c_str()) != nullptr) chosen = i;
    }
    if (chosen == CB_ERR) Fail("no item of control " + std::to_string(id) + " holds " + ToUtf8(pattern));
    Send(list, CB_SETCURSEL, chosen, 0);
    Send(GetParent(list), WM_COMMAND, MAKEWPARAM(id, CBN_SELCHANGE), (LPARAM)list);
    Send(list, CB_SHOWDROPDOWN, FALSE, 0);
}

}  // namespace tqdrive
