// tqdrive.cpp - drives a running tq73panel.exe from outside, for the Wine end-to-end tests.
//
// The arguments are a list of steps, each a verb with a fixed number of arguments,
// carried out in order; the first step that fails ends the program with exit code 1
// and a message on stderr naming the step (usage errors give 2, a check that this
// system cannot make gives 3). Every step that waits takes its own bound in seconds,
// and every message sent to the console goes through SendMessageTimeoutW, so a hung
// console makes a step fail instead of hanging the test.
//
// Texts are read with the W messages and printed as UTF-8 on stdout, so that a shell
// can grep the Japanese log texts. Two facts about Wine shape this program: the A form
// of LB_GETTEXT hands back UTF-16 bytes when it crosses processes, and GetWindowText
// on another process's edit returns nothing; hence LB_GETTEXT and WM_GETTEXT, W form.
//
// Keys are posted to the console's focus window, as the keyboard would queue them, so
// that they pass through the console's own message loop and dialog manager. A posted
// key does not change the keyboard state that the dialog manager reads for Shift, so
// for SHIFT+ the driver shares the console thread's input state (AttachThreadInput)
// and sets Shift there while the key is handled.

#include <windows.h>
#include <shellapi.h>
#include <commctrl.h>
#include <mmsystem.h>
#include <tlhelp32.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <fcntl.h>
#include <io.h>
#include <string>
#include <vector>

namespace {

const char kPanelClass[] = "TQ73PANEL";
const wchar_t kBoxClass[] = L"#32770";
const wchar_t kBoxCaption[] = L"TQ7300";
const int kLogListId = 100;
// The static control that carries a message box's text.
const int kBoxTextId = 0xFFFF;
// Bound for one message sent to the console; it answers within milliseconds when alive.
const UINT kSendBoundMs = 3000;
const DWORD kPollMs = 20;
const UINT kCp932 = 932;
// The console keeps at most 511 characters of a log line.
const size_t kLogLineRoom = 2048;

using Lines = std::vector<std::wstring>;

struct StepError {
    std::string what;
};

// A step that cannot be checked on this system (exit code 3), as opposed to one that
// found the console wrong (exit code 1).
struct StepUnsupported {
    std::string what;
};

std::string ToUtf8(const std::wstring& w)
{
    if (w.empty())
        return std::string();
    int n = WideCharToMultiByte(CP_UTF8, 0, w.data(), (int)w.size(), nullptr, 0, nullptr, nullptr);
    std::string s((size_t)n, '\0');
    WideCharToMultiByte(CP_UTF8, 0, w.data(), (int)w.size(), &s[0], n, nullptr, nullptr);
    return s;
}

// The line's bytes in code page 932, as the console holds them; false when the line has
// a character that code page 932 cannot carry, which no text of the console has.
bool ToCp932Hex(const std::wstring& w, std::string* hex)
{
    hex->clear();
    if (w.empty())
        return true;
    BOOL lossy = FALSE;
    int n = WideCharToMultiByte(kCp932, WC_NO_BEST_FIT_CHARS, w.data(), (int)w.size(), nullptr, 0,
                                nullptr, &lossy);
    std::string bytes((size_t)n, '\0');
    WideCharToMultiByte(kCp932, WC_NO_BEST_FIT_CHARS, w.data(), (int)w.size(), &bytes[0], n, nullptr,
                        &lossy);
    char pair[3];
    for (unsigned char c : bytes) {
        snprintf(pair, sizeof pair, "%02X", c);
        *hex += pair;
    }
    return !lossy;
}

void Print(const std::string& line)
{
    std::string out = line + "\n";
    fwrite(out.data(), 1, out.size(), stdout);
    fflush(stdout);
}

[[noreturn]] void Fail(const std::string& what)
{
    throw StepError{what};
}

DWORD BoundMs(const std::wstring& seconds)
{
    wchar_t* end = nullptr;
    double s = wcstod(seconds.c_str(), &end);
    if (end == seconds.c_str() || *end != L'\0' || s < 0 || s > 3600)
        Fail("bad number of seconds: " + ToUtf8(seconds));
    return (DWORD)(s * 1000.0);
}

int ControlId(const std::wstring& text)
{
    wchar_t* end = nullptr;
    long id = wcstol(text.c_str(), &end, 10);
    if (end == text.c_str() || *end != L'\0' || id < 0 || id > 0xFFFF)
        Fail("bad control id: " + ToUtf8(text));
    return (int)id;
}

// A command id: decimal, or hex with 0x (system-menu commands are written so).
int CommandId(const std::wstring& text)
{
    wchar_t* end = nullptr;
    unsigned long id = wcstoul(text.c_str(), &end, 0);
    if (end == text.c_str() || *end != L'\0' || id > 0xFFFF)
        Fail("bad command id: " + ToUtf8(text));
    return (int)id;
}

// Polls until done() holds or the bound has passed; returns whether it held.
template <typename Pred>
bool PollUntil(DWORD boundMs, Pred done)
{
    DWORD start = GetTickCount();
    for (;;) {
        if (done())
            return true;
        if (GetTickCount() - start >= boundMs)
            return false;
        Sleep(kPollMs);
    }
}

HWND FindPanel()
{
    return FindWindowA(kPanelClass, nullptr);
}

HWND RequirePanel()
{
    HWND w = FindPanel();
    if (!w)
        Fail("no window of class TQ73PANEL");
    return w;
}

HWND RequireControl(int id)
{
    HWND c = GetDlgItem(RequirePanel(), id);
    if (!c)
        Fail("the window has no control " + std::to_string(id));
    return c;
}

LRESULT Send(HWND w, UINT msg, WPARAM wp, LPARAM lp)
{
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutW(w, msg, wp, lp, SMTO_ABORTIFHUNG, kSendBoundMs, &result))
        Fail("message " + std::to_string(msg) + " got no answer within " +
             std::to_string(kSendBoundMs) + " ms");
    return (LRESULT)result;
}

std::wstring WindowText(HWND w)
{
    LRESULT len = Send(w, WM_GETTEXTLENGTH, 0, 0);
    std::vector<wchar_t> buf((size_t)len + 64, L'\0');
    Send(w, WM_GETTEXT, (WPARAM)buf.size(), (LPARAM)buf.data());
    return std::wstring(buf.data());
}

std::wstring LogLineText(HWND list, LRESULT i, bool* ok)
{
    LRESULT len = Send(list, LB_GETTEXTLEN, (WPARAM)i, 0);
    *ok = len != LB_ERR;
    if (!*ok)
        return std::wstring();
    // Room for the longest line the console keeps, not only this one's length: a line
    // added meanwhile shifts a longer one to index i, and Wine copies whatever index i
    // holds when the LB_GETTEXT arrives.
    std::vector<wchar_t> buf(std::max<size_t>((size_t)len + 64, kLogLineRoom), L'\0');
    *ok = Send(list, LB_GETTEXT, (WPARAM)i, (LPARAM)buf.data()) != LB_ERR;
    return std::wstring(buf.data());
}

// One consistent snapshot of the log: the list may lose its oldest line while it is
// read, so a read during which the count changed is taken again.
Lines ReadLog()
{
    HWND list = RequireControl(kLogListId);
    for (int attempt = 0; attempt < 20; ++attempt) {
        LRESULT count = Send(list, LB_GETCOUNT, 0, 0);
        if (count == LB_ERR)
            Fail("LB_GETCOUNT failed");
        Lines lines;
        bool ok = true;
        for (LRESULT i = 0; i < count && ok; ++i)
            lines.push_back(LogLineText(list, i, &ok));
        if (ok && Send(list, LB_GETCOUNT, 0, 0) == count)
            return lines;
        Sleep(kPollMs);
    }
    Fail("the log kept changing while it was read");
}

// Whether the log still is the snapshot, judged by its count, first and last line: a
// full read costs two messages a line, and a watch should not load the console's UI
// thread while the console works.
bool LogUnchanged(const Lines& snapshot)
{
    HWND list = RequireControl(kLogListId);
    LRESULT count = Send(list, LB_GETCOUNT, 0, 0);
    if (count == LB_ERR || (size_t)count != snapshot.size())
        return false;
    if (count == 0)
        return true;
    bool ok1 = false, ok2 = false;
    return LogLineText(list, 0, &ok1) == snapshot.front() &&
           LogLineText(list, count - 1, &ok2) == snapshot.back() && ok1 && ok2;
}

std::vector<std::wstring> Alternatives(const std::wstring& pattern)
{
    std::vector<std::wstring> alts;
    size_t from = 0;
    for (;;) {
        size_t bar = pattern.find(L'|', from);
        alts.push_back(pattern.substr(from, bar == std::wstring::npos ? bar : bar - from));
        if (bar == std::wstring::npos)
            return alts;
        from = bar + 1;
    }
}

bool Matches(const std::wstring& line, const std::vector<std::wstring>& alts)
{
    for (const auto& a : alts)
        if (line.find(a) != std::wstring::npos)
            return true;
    return false;
}

// Lines of now that were not in before. The log only appends at the end and drops at the
// front, so the new lines follow the longest tail of before that starts now.
size_t FirstNewLine(const Lines& before, const Lines& now)
{
    size_t maxOverlap = before.size() < now.size() ? before.size() : now.size();
    for (size_t k = maxOverlap; k > 0; --k) {
        bool same = true;
        for (size_t i = 0; i < k && same; ++i)
            same = before[before.size() - k + i] == now[i];
        if (same)
            return k;
    }
    return 0;
}

HWND FindBox(const wchar_t* caption = kBoxCaption)
{
    return FindWindowW(kBoxClass, caption);
}

std::wstring BoxText(HWND box)
{
    HWND text = GetDlgItem(box, kBoxTextId);
    if (text)
        return WindowText(text);
    // Fall back to the first static control with a text.
    for (HWND c = GetWindow(box, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
        wchar_t cls[64] = {};
        GetClassNameW(c, cls, 64);
        if (_wcsicmp(cls, L"Static") == 0) {
            std::wstring t = WindowText(c);
            if (!t.empty())
                return t;
        }
    }
    return std::wstring();
}

// ---- the verbs ------------------------------------------------------------------

void StepWindow(DWORD bound)
{
    if (!PollUntil(bound, [] { return FindPanel() != nullptr; }))
        Fail("no TQ73PANEL window appeared");
}

void StepGone(DWORD bound)
{
    if (!PollUntil(bound, [] { return FindPanel() == nullptr; }))
        Fail("the TQ73PANEL window is still there");
}

void StepSetText(int id, const std::wstring& text)
{
    HWND c = RequireControl(id);
    if (!Send(c, WM_SETTEXT, 0, (LPARAM)text.c_str()))
        Fail("WM_SETTEXT refused");
}

void StepGetText(int id)
{
    Print(ToUtf8(WindowText(RequireControl(id))));
}

void StepExpectText(int id, const std::wstring& expected, DWORD bound)
{
    std::wstring last;
    if (!PollUntil(bound, [&] { return (last = WindowText(RequireControl(id))) == expected; }))
        Fail("control " + std::to_string(id) + " holds \"" + ToUtf8(last) + "\", expected \"" +
             ToUtf8(expected) + "\"");
}

void StepPress(int id)
{
    HWND panel = RequirePanel();
    HWND ctrl = GetDlgItem(panel, id);
    if (!PostMessageW(panel, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), (LPARAM)ctrl))
        Fail("PostMessage WM_COMMAND failed");
}

// Unlike press, the click goes through the button itself: it takes the focus and sends
// the dialog its WM_COMMAND, as when the operator clicks it.
void StepClick(int id)
{
    if (!PostMessageW(RequireControl(id), BM_CLICK, 0, 0))
        Fail("PostMessage BM_CLICK failed");
}

void StepEnabled(int id, const std::wstring& want, DWORD bound)
{
    bool wantEnabled;
    if (want == L"1")
        wantEnabled = true;
    else if (want == L"0")
        wantEnabled = false;
    else
        Fail("enabled wants 1 or 0");
    if (!PollUntil(bound, [&] { return (IsWindowEnabled(RequireControl(id)) != FALSE) == wantEnabled; }))
        Fail("control " + std::to_string(id) + (wantEnabled ? " is disabled" : " is enabled"));
}

void StepLog()
{
    for (const auto& line : ReadLog())
        Print(ToUtf8(line));
}

void StepLogHex()
{
    std::string hex;
    for (const auto& line : ReadLog()) {
        if (!ToCp932Hex(line, &hex))
            Fail("a log line is not code page 932 text: \"" + ToUtf8(line) + "\"");
        Print(hex);
    }
}

void StepWaitLog(const std::wstring& pattern, DWORD bound)
{
    auto alts = Alternatives(pattern);
    std::wstring hit;
    Lines seen;
    bool first = true;
    bool found = PollUntil(bound, [&] {
        if (!first && LogUnchanged(seen))
            return false;
        first = false;
        seen = ReadLog();
        for (const auto& line : seen)
            if (Matches(line, alts)) {
                hit = line;
                return true;
            }
        return false;
    });
    if (!found)
        Fail("no log line matches \"" + ToUtf8(pattern) + "\"");
    Print(ToUtf8(hit));
}

// Prints each log line that is not in seen as it appears, until one matches.
void WatchFrom(Lines seen, const std::wstring& pattern, DWORD bound)
{
    auto alts = Alternatives(pattern);
    bool found = PollUntil(bound, [&] {
        if (!seen.empty() && LogUnchanged(seen))
            return false;
        Lines now = ReadLog();
        bool hit = false;
        for (size_t i = FirstNewLine(seen, now); i < now.size(); ++i) {
            Print(ToUtf8(now[i]));
            hit = hit || Matches(now[i], alts);
        }
        seen.swap(now);
        return hit;
    });
    if (!found)
        Fail("no log line matched \"" + ToUtf8(pattern) + "\" in time");
}

// The lines already in the log count as new: they are printed first.
void StepWatch(const std::wstring& pattern, DWORD bound)
{
    WatchFrom(Lines(), pattern, bound);
}

// The log is read before the press, so that every line the command adds is printed,
// however fast the console is.
void StepRun(int id, const std::wstring& pattern, DWORD bound)
{
    Lines before = ReadLog();
    StepPress(id);
    WatchFrom(before, pattern, bound);
}

// Waits for the TQ7300 box and checks that its text holds expected; the box.
HWND AwaitBox(const std::wstring& expected, DWORD bound, const std::wstring& caption = kBoxCaption)
{
    HWND box = nullptr;
    if (!PollUntil(bound, [&] { return (box = FindBox(caption.c_str())) != nullptr; }))
        Fail("no message box captioned \"" + ToUtf8(caption) + "\" appeared");
    // The box is created before its text control is filled in; give it a moment. A box
    // shown by a worker thread that has just waited for seconds without reading messages
    // looks hung to SMTO_ABORTIFHUNG until its modal loop runs: such a read is retried.
    std::wstring text;
    PollUntil(3000, [&] {
        try {
            text = BoxText(box);
        } catch (const StepError&) {
            text.clear();
        }
        return !text.empty();
    });
    Print("box: " + ToUtf8(text));
    if (text.find(expected) == std::wstring::npos)
        Fail("the box says \"" + ToUtf8(text) + "\", expected \"" + ToUtf8(expected) + "\"");
    return box;
}

void PressBoxButton(HWND box, int id)
{
    PostMessageW(box, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), (LPARAM)GetDlgItem(box, id));
    if (!PollUntil(5000, [&] { return !IsWindow(box); }))
        Fail("the message box did not close");
}

void StepBox(const std::wstring& expected, DWORD bound)
{
    PressBoxButton(AwaitBox(expected, bound), IDOK);
}

// A box of another caption (the About box): its text, then OK, and it must close.
void StepCaptionBox(const std::wstring& caption, const std::wstring& expected, DWORD bound)
{
    PressBoxButton(AwaitBox(expected, bound, caption), IDOK);
}

// A Yes/No question: it has both buttons and No as its default, and is
// answered as told.
void StepAsk(const std::wstring& expected, const std::wstring& answer, DWORD bound)
{
    HWND box = AwaitBox(expected, bound);
    if (!GetDlgItem(box, IDYES) || !GetDlgItem(box, IDNO))
        Fail("the box has no Yes and No buttons");
    // The default button is the one drawn as the default push button (the dialog
    // manager's own default id stays IDOK under Wine, whatever the box asked for).
    const LONG noStyle = GetWindowLongW(GetDlgItem(box, IDNO), GWL_STYLE);
    const LONG yesStyle = GetWindowLongW(GetDlgItem(box, IDYES), GWL_STYLE);
    if ((noStyle & 0x0F) != BS_DEFPUSHBUTTON || (yesStyle & 0x0F) == BS_DEFPUSHBUTTON)
        Fail("the box's default button is not No");
    if (answer != L"yes" && answer != L"no")
        Fail("ask wants yes or no");
    PressBoxButton(box, answer == L"yes" ? IDYES : IDNO);
}

void StepNoBox()
{
    HWND box = FindBox();
    if (box)
        Fail("a TQ7300 message box is open: \"" + ToUtf8(BoxText(box)) + "\"");
}

bool WantFlag(const std::wstring& want, const char* verb)
{
    if (want == L"1")
        return true;
    if (want != L"0")
        Fail(std::string(verb) + " wants 1 or 0");
    return false;
}

void StepSysCommand(int id)
{
    if (!PostMessageW(RequirePanel(), WM_SYSCOMMAND, (WPARAM)id, 0))
        Fail("PostMessage WM_SYSCOMMAND failed");
}

void StepVisible(int id, const std::wstring& want, DWORD bound)
{
    bool wantVisible = WantFlag(want, "visible");
    if (!PollUntil(bound, [&] { return (IsWindowVisible(RequireControl(id)) != FALSE) == wantVisible; }))
        Fail("control " + std::to_string(id) + (wantVisible ? " is hidden" : " is visible"));
}

// The class name without the version prefix ("6.0.2600.2982!Button") that class
// redirection of Common Controls 6 may put before it.
std::wstring BaseClassName(HWND w)
{
    wchar_t name[256] = {};
    if (!GetClassNameW(w, name, 256))
        Fail("GetClassName failed");
    std::wstring s = name;
    size_t bang = s.rfind(L'!');
    return bang == std::wstring::npos ? s : s.substr(bang + 1);
}

void StepClass(int id, const std::wstring& expected)
{
    std::wstring got = BaseClassName(RequireControl(id));
    if (_wcsicmp(got.c_str(), expected.c_str()) != 0)
        Fail("control " + std::to_string(id) + " is a " + ToUtf8(got) + ", expected " + ToUtf8(expected));
}

void StepWinSize()
{
    RECT r;
    if (!GetWindowRect(RequirePanel(), &r))
        Fail("GetWindowRect failed");
    Print(std::to_string(r.right - r.left) + " " + std::to_string(r.bottom - r.top));
}

// Left, top, width, height in pixels of the dialog's client area.
void StepRect(int id)
{
    HWND panel = RequirePanel();
    RECT r;
    if (!GetWindowRect(RequireControl(id), &r))
        Fail("GetWindowRect failed");
    MapWindowPoints(HWND_DESKTOP, panel, (POINT*)&r, 2);
    Print(std::to_string(r.left) + " " + std::to_string(r.top) + " " + std::to_string(r.right - r.left) +
          " " + std::to_string(r.bottom - r.top));
}

DWORD ConsoleThread();

// tqprobe.dll, beside this program, hooked into the console's UI thread: it answers
// a menu-state or a font query from inside the console's process (see tqprobe.cpp).
class ConsoleProbe {
public:
    // Thread 0: no probe (a hook on thread 0 would hook every thread of the desktop).
    ConsoleProbe(HWND panel, DWORD thread) : panel_(panel)
    {
        if (!thread)
            return;
        wchar_t path[MAX_PATH];
        DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
        std::wstring dll(path, n);
        dll = dll.substr(0, dll.find_last_of(L"\\/") + 1) + L"tqprobe.dll";
        module_ = LoadLibraryW(dll.c_str());
        HOOKPROC proc = module_ ? (HOOKPROC)(void*)GetProcAddress(module_, "TqProbeCallWndProc") : nullptr;
        if (proc)
            hook_ = SetWindowsHookExW(WH_CALLWNDPROC, proc, module_, thread);
    }
    ~ConsoleProbe()
    {
        if (hook_)
            UnhookWindowsHookEx(hook_);
        if (module_)
            FreeLibrary(module_);
    }
    bool Ready() const { return hook_ != nullptr; }
    // The item's state as GetMenuState gives it in the console; false when the
    // probe did not answer.
    bool State(UINT item, UINT* state)
    {
        if (!Ask(L"tqprobe.menustate", item))
            return false;
        *state = (UINT)(UINT_PTR)GetPropW(panel_, L"tqprobe.menustate");
        return true;
    }
    // The face and lfHeight of control id's font in the console; false when the
    // probe did not answer. An empty face: the control has no font set.
    bool Font(int id, std::wstring* face, int* height)
    {
        if (!Ask(L"tqprobe.font", (WPARAM)id))
            return false;
        ATOM atom = (ATOM)(UINT_PTR)GetPropW(panel_, L"tqprobe.fontface");
        wchar_t name[LF_FACESIZE + 1] = {};
        if (atom) {
            GlobalGetAtomNameW(atom, name, LF_FACESIZE + 1);
            GlobalDeleteAtom(atom);
        }
        *face = name;
        *height = (int)(INT_PTR)GetPropW(panel_, L"tqprobe.fontheight");
        return true;
    }
    // Has the console handle WM_GETDPISCALEDSIZE and WM_DPICHANGED for dpi, *size
    // its answer to the first (0 0: none); false when the probe did not answer.
    bool DpiChanged(UINT dpi, SIZE* size)
    {
        if (!Ask(L"tqprobe.dpichanged", dpi))
            return false;
        size->cx = (LONG)(INT_PTR)GetPropW(panel_, L"tqprobe.scaledcx");
        size->cy = (LONG)(INT_PTR)GetPropW(panel_, L"tqprobe.scaledcy");
        return true;
    }

private:
    // Sends the query with a fresh token; whether the probe answered it.
    bool Ask(const wchar_t* query, WPARAM wParam)
    {
        LPARAM token = (LPARAM)(++count_ + ((ULONG_PTR)GetTickCount() << 8));
        Send(panel_, RegisterWindowMessageW(query), wParam, token);
        return GetPropW(panel_, L"tqprobe.token") == (HANDLE)token;
    }

    HWND panel_;
    HMODULE module_ = nullptr;
    HHOOK hook_ = nullptr;
    ULONG_PTR count_ = 0;
};

// Windows lets another process read a window's system menu; Wine keeps menus in the
// owning process and gives other processes no handle. There the state is read from
// inside the console through tqprobe.dll.
void StepMenuCheck(int id, const std::wstring& want, DWORD bound)
{
    bool wantChecked = WantFlag(want, "menucheck");
    HWND panel = RequirePanel();
    HMENU menu = GetSystemMenu(panel, FALSE);
    ConsoleProbe probe(panel, menu ? 0 : ConsoleThread());
    if (!menu && !probe.Ready())
        throw StepUnsupported{"no handle for another process's system menu, and tqprobe.dll could not be hooked in"};
    UINT state = 0;
    if (!PollUntil(bound, [&] {
            if (menu)
                state = GetMenuState(menu, (UINT)id, MF_BYCOMMAND);
            else if (!probe.State((UINT)id, &state))
                Fail("tqprobe.dll did not answer in the console");
            return state != (UINT)-1 && ((state & MF_CHECKED) != 0) == wantChecked;
        })) {
        if (state == (UINT)-1)
            Fail("the system menu has no item " + std::to_string(id));
        Fail("system menu item " + std::to_string(id) + (wantChecked ? " is not checked" : " is checked"));
    }
}

DWORD ConsoleThread()
{
    DWORD tid = GetWindowThreadProcessId(RequirePanel(), nullptr);
    if (!tid)
        Fail("the console's thread is unknown");
    return tid;
}

// GDI objects belong to the process that made them, on Windows as under Wine: the
// console's font handle is read inside the console.
void StepFont(int id)
{
    RequireControl(id);
    ConsoleProbe probe(RequirePanel(), ConsoleThread());
    if (!probe.Ready())
        throw StepUnsupported{"tqprobe.dll could not be hooked into the console"};
    std::wstring face;
    int height = 0;
    if (!probe.Font(id, &face, &height))
        Fail("tqprobe.dll did not answer in the console");
    if (face.empty())
        Fail("control " + std::to_string(id) + " has no font of its own");
    Print(ToUtf8(face) + "\t" + std::to_string(height));
}

void StepDpiChange(int dpi)
{
    ConsoleProbe probe(RequirePanel(), ConsoleThread());
    if (!probe.Ready())
        throw StepUnsupported{"tqprobe.dll could not be hooked into the console"};
    SIZE size;
    if (!probe.DpiChanged((UINT)dpi, &size))
        Fail("tqprobe.dll did not answer in the console");
    if (size.cx <= 0 || size.cy <= 0)
        Fail("the console did not answer WM_GETDPISCALEDSIZE");
    // The answer holds the frame at the new DPI; under Wine the frame keeps the
    // old one's size (its DPI never changed), so the client areas are compared.
    HWND panel = RequirePanel();
    RECT frame = {0, 0, 0, 0}, client;
    AdjustWindowRectExForDpi(&frame, (DWORD)GetWindowLongW(panel, GWL_STYLE), FALSE,
                             (DWORD)GetWindowLongW(panel, GWL_EXSTYLE), (UINT)dpi);
    GetClientRect(panel, &client);
    const std::string answered = std::to_string(size.cx - (frame.right - frame.left)) + "x" +
                                 std::to_string(size.cy - (frame.bottom - frame.top));
    const std::string got = std::to_string(client.right) + "x" + std::to_string(client.bottom);
    if (answered != got)
        Fail("the client area is " + got + ", not the " + answered + " of the WM_GETDPISCALEDSIZE answer");
    Print(got);
}

// Whether a font of FACE made here has a glyph for every character of TEXT.
void StepGlyphs(const std::wstring& face, const std::wstring& text)
{
    LOGFONTW lf = {};
    lf.lfHeight = -16;
    lf.lfCharSet = DEFAULT_CHARSET;
    wcsncpy(lf.lfFaceName, face.c_str(), LF_FACESIZE - 1);
    HFONT font = CreateFontIndirectW(&lf);
    HDC dc = GetDC(nullptr);
    HGDIOBJ old = SelectObject(dc, font);
    wchar_t got[LF_FACESIZE] = {};
    GetTextFaceW(dc, LF_FACESIZE, got);
    std::vector<WORD> glyphs(text.size() + 1, 0);
    DWORD n = GetGlyphIndicesW(dc, text.c_str(), (int)text.size(), glyphs.data(), GGI_MARK_NONEXISTING_GLYPHS);
    SelectObject(dc, old);
    ReleaseDC(nullptr, dc);
    DeleteObject(font);
    if (_wcsicmp(got, face.c_str()) != 0)
        Fail("the system has no font " + ToUtf8(face) + " (it gave " + ToUtf8(got) + ")");
    if (n == GDI_ERROR)
        Fail("GetGlyphIndices failed");
    for (size_t i = 0; i < text.size(); ++i)
        if (glyphs[i] == 0xFFFF)
            Fail(ToUtf8(face) + " has no glyph for " + ToUtf8(text.substr(i, 1)));
}

std::string RectText(const RECT& r)
{
    return std::to_string(r.left) + "," + std::to_string(r.top) + "-" + std::to_string(r.right) + "," +
           std::to_string(r.bottom);
}

bool Inside(const RECT& r, const RECT& area)
{
    return r.left >= area.left && r.top >= area.top && r.right <= area.right && r.bottom <= area.bottom;
}

// The window lies in the work area of its monitor (and of the primary one, which
// SPI_GETWORKAREA gives), and every visible control, the status strip's included,
// lies in the window's client area: none can be out of reach.
void StepFits()
{
    HWND panel = RequirePanel();
    MONITORINFO info = {};
    info.cbSize = sizeof info;
    if (!GetMonitorInfoW(MonitorFromWindow(panel, MONITOR_DEFAULTTONEAREST), &info))
        Fail("GetMonitorInfo failed");
    RECT work;
    if (!SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0))
        Fail("SystemParametersInfo(SPI_GETWORKAREA) failed");
    RECT window, client;
    GetWindowRect(panel, &window);
    GetClientRect(panel, &client);
    MapWindowPoints(panel, HWND_DESKTOP, (POINT*)&client, 2);
    std::string outside;
    if (!Inside(window, info.rcWork) || !Inside(window, work))
        outside += " the window " + RectText(window);
    int count = 0;
    for (HWND c = GetWindow(panel, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
        if (!IsWindowVisible(c))
            continue;
        RECT r;
        GetWindowRect(c, &r);
        ++count;
        if (!Inside(r, client) || r.right <= r.left || r.bottom <= r.top)
            outside += " control " + std::to_string(GetDlgCtrlID(c)) + " " + RectText(r);
    }
    Print("window " + RectText(window) + " client " + RectText(client) + " work area " + RectText(info.rcWork) +
          " (SPI_GETWORKAREA " + RectText(work) + "), " + std::to_string(count) + " visible controls");
    if (!outside.empty())
        Fail("out of reach:" + outside);
}

HWND ConsoleFocus()
{
    GUITHREADINFO info = {};
    info.cbSize = sizeof info;
    if (!GetGUIThreadInfo(ConsoleThread(), &info))
        Fail("GetGUIThreadInfo failed");
    return info.hwndFocus;
}

// The id of the dialog's control that has the focus (or holds the window that has
// it); 0 when none has.
int FocusedControl()
{
    HWND panel = RequirePanel();
    for (HWND w = ConsoleFocus(); w && w != panel; w = GetParent(w))
        if (GetParent(w) == panel)
            return GetDlgCtrlID(w);
    return 0;
}

void StepFocus()
{
    Print(std::to_string(FocusedControl()));
}

void StepFocused(int id, DWORD bound)
{
    int last = 0;
    if (!PollUntil(bound, [&] { return (last = FocusedControl()) == id; }))
        Fail("the focus is on control " + std::to_string(last) + ", expected " + std::to_string(id));
}

struct KeyName {
    const wchar_t* name;
    UINT vk;
};

const KeyName kKeys[] = {
    {L"TAB", VK_TAB},     {L"RETURN", VK_RETURN}, {L"ENTER", VK_RETURN}, {L"ESCAPE", VK_ESCAPE},
    {L"ESC", VK_ESCAPE},  {L"SPACE", VK_SPACE},   {L"LEFT", VK_LEFT},    {L"RIGHT", VK_RIGHT},
    {L"UP", VK_UP},       {L"DOWN", VK_DOWN},     {L"HOME", VK_HOME},    {L"END", VK_END},
};

UINT VirtualKey(const std::wstring& name)
{
    for (const auto& k : kKeys)
        if (_wcsicmp(name.c_str(), k.name) == 0)
            return k.vk;
    wchar_t* end = nullptr;
    unsigned long vk = wcstoul(name.c_str(), &end, 0);
    if (end == name.c_str() || *end != L'\0' || vk == 0 || vk > 0xFE)
        Fail("unknown key: " + ToUtf8(name));
    return (UINT)vk;
}

void PostKey(HWND target, UINT vk)
{
    LPARAM scan = (LPARAM)MapVirtualKeyW(vk, MAPVK_VK_TO_VSC) << 16;
    if (!PostMessageW(target, WM_KEYDOWN, vk, scan | 1) ||
        !PostMessageW(target, WM_KEYUP, vk, scan | 1 | (LPARAM)0xC0000000))
        Fail("PostMessage of the key failed");
}

// Sets or clears Shift in the keyboard state that this thread shares with the console.
void SetShift(bool down)
{
    BYTE state[256];
    if (!GetKeyboardState(state))
        Fail("GetKeyboardState failed");
    BYTE v = down ? 0x80 : 0;
    state[VK_SHIFT] = v;
    state[VK_LSHIFT] = v;
    if (!SetKeyboardState(state))
        Fail("SetKeyboardState failed");
}

// TAB steps wait until the focus has moved (at most kKeySettleMs), so that the next
// step sees the move; with SHIFT every key waits so, and Shift is let go after it.
const DWORD kKeySettleMs = 2000;

void StepKey(const std::wstring& keyText)
{
    const std::wstring shiftPrefix = L"SHIFT+";
    bool shift = keyText.size() > shiftPrefix.size() && _wcsnicmp(keyText.c_str(), shiftPrefix.c_str(), shiftPrefix.size()) == 0;
    UINT vk = VirtualKey(shift ? keyText.substr(shiftPrefix.size()) : keyText);
    DWORD tid = ConsoleThread();
    HWND before = ConsoleFocus();
    HWND target = before ? before : RequirePanel();
    if (shift) {
        if (!AttachThreadInput(GetCurrentThreadId(), tid, TRUE))
            Fail("AttachThreadInput to the console's thread failed");
        SetShift(true);
    }
    PostKey(target, vk);
    if (shift || vk == VK_TAB)
        PollUntil(kKeySettleMs, [&] { return ConsoleFocus() != before; });
    if (shift) {
        SetShift(false);
        AttachThreadInput(GetCurrentThreadId(), tid, FALSE);
    }
}

// The dialog manager moves the focus, in the console's own thread, as Tab would.
void StepSetFocus(int id)
{
    Send(RequirePanel(), WM_NEXTDLGCTL, (WPARAM)RequireControl(id), TRUE);
}

// Each UTF-16 unit of TEXT as a WM_CHAR, as the keyboard (or an input method) hands
// typed characters to the focus window; they pass through the console's message loop.
void StepType(const std::wstring& text)
{
    HWND target = ConsoleFocus();
    if (!target)
        Fail("no window of the console has the focus");
    for (wchar_t c : text)
        if (!PostMessageW(target, WM_CHAR, (WPARAM)c, 1))
            Fail("PostMessage WM_CHAR failed");
}

// One WM_NULL round trip through the console's UI thread; the time it took, or a
// failure when it got no answer within boundMs. Without SMTO_ABORTIFHUNG: Wine takes a
// thread that was idle in GetMessage for seconds, then got busy a moment, for hung at
// once, and the bound is what this check is about.
DWORD RoundTripMs(HWND panel, DWORD boundMs)
{
    DWORD start = GetTickCount();
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutW(panel, WM_NULL, 0, 0, SMTO_NORMAL, boundMs, &result))
        Fail("the window did not answer a message within " + std::to_string(boundMs) + " ms");
    return GetTickCount() - start;
}

void StepAlive(DWORD boundMs)
{
    Print("alive: " + std::to_string(RoundTripMs(RequirePanel(), boundMs)) + " ms");
}

// A round trip through the console's message queue: EM_SETMODIFY is posted to the port
// edit, and the edit's modify flag (which the console never reads) shows once the
// console's message loop has taken the post from its queue and dispatched it. Clicks
// and keys are queued too, so this is what the operator feels; a sent message is
// answered even while the UI thread waits in a loop that handles only sent ones.
class QueueProbe {
public:
    explicit QueueProbe(HWND panel) : edit_(GetDlgItem(panel, kPortEditId)) {}
    ~QueueProbe()
    {
        if (edit_)
            PostMessageW(edit_, EM_SETMODIFY, FALSE, 0);
    }
    bool Ready() const { return edit_ != nullptr; }
    // The time the post took to be handled; a failure past boundMs.
    DWORD RoundTripMs(DWORD boundMs)
    {
        flag_ = !flag_;
        DWORD start = GetTickCount();
        if (!PostMessageW(edit_, EM_SETMODIFY, flag_ ? TRUE : FALSE, 0))
            Fail("PostMessage EM_SETMODIFY failed");
        if (!PollUntil(boundMs, [&] {
                DWORD_PTR modified = 0;
                if (!SendMessageTimeoutW(edit_, EM_GETMODIFY, 0, 0, SMTO_NORMAL, boundMs, &modified))
                    Fail("the port edit did not answer within " + std::to_string(boundMs) + " ms");
                return (modified != 0) == flag_;
            }))
            Fail("the window did not handle a posted message within " + std::to_string(boundMs) + " ms");
        return GetTickCount() - start;
    }

private:
    static const int kPortEditId = 103;
    HWND edit_;
    bool flag_ = false;
};

// Round trips every 100 ms for the whole span, each within boundMs: a sent message,
// and a posted one through the console's queue. The window keeps answering while an
// operation fails under it. Ends early, passing, when the window goes (the scenario
// closed it).
void StepResponsive(DWORD spanMs, DWORD boundMs)
{
    const DWORD start = GetTickCount();
    DWORD longestSent = 0, longestQueued = 0, trips = 0;
    HWND panel = RequirePanel();
    QueueProbe queue(panel);
    if (!queue.Ready())
        Fail("the window has no port edit");
    while (GetTickCount() - start < spanMs) {
        if (!IsWindow(panel))
            break;
        DWORD sent = RoundTripMs(panel, boundMs);
        DWORD queued = queue.RoundTripMs(boundMs);
        longestSent = sent > longestSent ? sent : longestSent;
        longestQueued = queued > longestQueued ? queued : longestQueued;
        ++trips;
        Print("responsive: " + std::to_string(trips) + " round trips, longest " + std::to_string(longestSent) +
              " ms sent, " + std::to_string(longestQueued) + " ms queued");
        Sleep(100);
    }
}

// Another program holding a file open without sharing, as an editor or a virus scanner
// may: "holding" is printed once it is open, and it is let go after the span.
void StepHold(const std::wstring& path, DWORD spanMs)
{
    HANDLE h = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        Fail("could not open " + ToUtf8(path) + " (error " + std::to_string(GetLastError()) + ")");
    Print("holding");
    Sleep(spanMs);
    CloseHandle(h);
}

// Holds that end while the steps after them run: the holder thread closes the file.
std::vector<HANDLE> releasers;

struct Release {
    HANDLE file;
    DWORD afterMs;
};

DWORD WINAPI ReleaseLater(LPVOID p)
{
    const Release r = *(Release*)p;
    delete (Release*)p;
    Sleep(r.afterMs);
    CloseHandle(r.file);
    return 0;
}

void StepHoldFor(const std::wstring& path, DWORD spanMs)
{
    HANDLE h = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        Fail("could not open " + ToUtf8(path) + " (error " + std::to_string(GetLastError()) + ")");
    HANDLE t = CreateThread(nullptr, 0, ReleaseLater, new Release{h, spanMs}, 0, nullptr);
    if (t == nullptr)
        Fail("could not start the releasing thread");
    releasers.push_back(t);
}

// The driver ends only after its holds have been let go.
void AwaitReleases()
{
    for (HANDLE t : releasers)
        WaitForSingleObject(t, INFINITE);
}

void StepClose(DWORD bound)
{
    if (!PostMessageW(RequirePanel(), WM_CLOSE, 0, 0))
        Fail("PostMessage WM_CLOSE failed");
    StepGone(bound);
}

// ---- the status strip and the transcript ------------------------------------------

const int kProgressBarId = 400;
const int kStatusTextId = 401;
// The file name box of the standard file dialog: the combo box of the Explorer style,
// or the edit of the old style.
const int kFileNameComboId = 0x47C;
const int kFileNameEditId = 0x480;

// Samples the progress bar's position and the status text every 20 ms, printing each
// change as "POS TEXT", until the text contains PAT.
void StepProgress(const std::wstring& pattern, DWORD bound)
{
    auto alts = Alternatives(pattern);
    std::wstring last;
    LRESULT lastPos = -1;
    bool found = PollUntil(bound, [&] {
        // The console sets the bar before the text: a text read first is never ahead
        // of the bar read after it.
        const std::wstring text = WindowText(RequireControl(kStatusTextId));
        const LRESULT pos = Send(RequireControl(kProgressBarId), PBM_GETPOS, 0, 0);
        if (pos != lastPos || text != last) {
            Print(std::to_string(pos) + " " + ToUtf8(text));
            lastPos = pos;
            last = text;
        }
        return Matches(text, alts);
    });
    if (!found)
        Fail("the status text never matched \"" + ToUtf8(pattern) + "\"; it says \"" + ToUtf8(last) + "\"");
}

// Answers the console's save dialog titled TITLE with PATH, as an operator would.
void StepSaveFile(const std::wstring& title, const std::wstring& path, DWORD bound)
{
    HWND dialog = nullptr;
    if (!PollUntil(bound, [&] { return (dialog = FindWindowW(kBoxClass, title.c_str())) != nullptr; }))
        Fail("no \"" + ToUtf8(title) + "\" dialog appeared");
    HWND name = nullptr;
    PollUntil(2000, [&] {
        name = GetDlgItem(dialog, kFileNameComboId);
        if (!name)
            name = GetDlgItem(dialog, kFileNameEditId);
        return name != nullptr;
    });
    if (!name || !Send(name, WM_SETTEXT, 0, (LPARAM)path.c_str()))
        Fail("the file name box of \"" + ToUtf8(title) + "\" cannot be set");
    PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), (LPARAM)GetDlgItem(dialog, IDOK));
    if (!PollUntil(bound, [&] { return !IsWindow(dialog); }))
        Fail("the \"" + ToUtf8(title) + "\" dialog did not close");
}

// ---- timing, for the benchmark ------------------------------------------------------

void StepShowWindow(int how)
{
    ShowWindowAsync(RequirePanel(), how);
    if (!PollUntil(5000, [&] { return (IsIconic(RequirePanel()) != FALSE) == (how == SW_MINIMIZE); }))
        Fail("the window did not change its state");
}

double NowMs()
{
    static LARGE_INTEGER frequency = {};
    if (frequency.QuadPart == 0)
        QueryPerformanceFrequency(&frequency);
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return 1000.0 * (double)now.QuadPart / (double)frequency.QuadPart;
}

// The newest log line, or the status text for a pattern that begins with "status:".
bool NewestMatches(const std::vector<std::wstring>& alts, bool status)
{
    if (status)
        return Matches(WindowText(RequireControl(kStatusTextId)), alts);
    HWND list = RequireControl(kLogListId);
    const LRESULT count = Send(list, LB_GETCOUNT, 0, 0);
    if (count == LB_ERR || count == 0)
        return false;
    bool ok = false;
    const std::wstring line = LogLineText(list, count - 1, &ok);
    return ok && Matches(line, alts);
}

// Presses ID N times, each time on an emptied log, and prints how long each took
// until the newest log line (or the status text, "status:PAT") contained PAT: the
// log and the text are looked at every millisecond.
void StepTimeIt(int id, const std::wstring& pattern, const std::wstring& times, DWORD bound)
{
    const bool status = pattern.rfind(L"status:", 0) == 0;
    const auto alts = Alternatives(status ? pattern.substr(7) : pattern);
    const int n = _wtoi(times.c_str());
    if (n <= 0)
        Fail("timeit wants a count of 1 or more");
    timeBeginPeriod(1);
    std::vector<double> took;
    for (int k = 0; k < n; ++k) {
        Send(RequirePanel(), WM_COMMAND, MAKEWPARAM(208, BN_CLICKED), 0);  // clear log
        Sleep(150);  // the previous worker is reaped; the log has painted
        const double start = NowMs();
        StepPress(id);
        bool done = false;
        while (!done && NowMs() - start < bound) {
            done = NewestMatches(alts, status);
            if (!done)
                Sleep(1);
        }
        if (!done)
            Fail("run " + std::to_string(k + 1) + " never showed \"" + ToUtf8(pattern) + "\"");
        took.push_back(NowMs() - start);
    }
    timeEndPeriod(1);
    std::vector<double> sorted = took;
    std::sort(sorted.begin(), sorted.end());
    double sum = 0;
    for (double t : took)
        sum += t;
    char line[160];
    snprintf(line, sizeof line, "runs %d median %.1f mean %.1f min %.1f max %.1f", n, sorted[sorted.size() / 2],
             sum / n, sorted.front(), sorted.back());
    Print(line);
}

// ---- for long runs (the soak): one driver, many steps ------------------------------

// Whether the console's UI thread answers a message within the bound: a hung console
// fails the step, a live one prints how long it took.
void StepAnswers(DWORD bound)
{
    HWND panel = RequirePanel();
    DWORD start = GetTickCount();
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutW(panel, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, bound, &result))
        Fail("the console did not answer within " + std::to_string(bound) + " ms");
    Print("answers " + std::to_string(GetTickCount() - start));
}

// The console's own threads besides its UI thread: those that start inside its program
// image (the receiver and the worker; Wine's helper threads, such as the one that
// waits on a serial event, start in its system libraries). 0 when the process's
// threads cannot be read.
typedef LONG(NTAPI* QueryThreadFn)(HANDLE, int, PVOID, ULONG, PULONG);
const int kThreadQuerySetWin32StartAddress = 9;

int OwnThreads()
{
    DWORD pid = 0;
    DWORD uiThread = GetWindowThreadProcessId(RequirePanel(), &pid);
    static QueryThreadFn query =
        (QueryThreadFn)(void*)GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQueryInformationThread");
    HANDLE mods = CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, pid);
    if (mods == INVALID_HANDLE_VALUE || !query)
        Fail("the console's program image cannot be found");
    MODULEENTRY32W me;
    me.dwSize = sizeof me;
    BOOL found = Module32FirstW(mods, &me);  // the first module is the program
    CloseHandle(mods);
    if (!found)
        Fail("the console's program image cannot be found");
    ULONG_PTR base = (ULONG_PTR)me.modBaseAddr, end = base + me.modBaseSize;
    HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snap == INVALID_HANDLE_VALUE)
        Fail("CreateToolhelp32Snapshot failed");
    int n = 0;
    THREADENTRY32 te;
    te.dwSize = sizeof te;
    for (BOOL more = Thread32First(snap, &te); more; more = Thread32Next(snap, &te)) {
        if (te.th32OwnerProcessID != pid || te.th32ThreadID == uiThread)
            continue;
        HANDLE t = OpenThread(THREAD_QUERY_INFORMATION, FALSE, te.th32ThreadID);
        if (!t)
            continue;  // it ended meanwhile
        ULONG_PTR start = 0;
        if (query(t, kThreadQuerySetWin32StartAddress, &start, sizeof start, nullptr) == 0 && start >= base &&
            start < end)
            ++n;
        CloseHandle(t);
    }
    CloseHandle(snap);
    return n;
}

void StepThreads()
{
    Print("threads " + std::to_string(OwnThreads()));
}

// Presses OK on every TQ7300 box open now, printing each one's text.
void StepDismiss()
{
    for (int i = 0; i < 20; ++i) {
        HWND box = FindBox();
        if (!box)
            return;
        std::wstring text;
        PollUntil(1000, [&] { return !(text = BoxText(box)).empty(); });
        Print("box: " + ToUtf8(text));
        PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), (LPARAM)GetDlgItem(box, IDOK));
        if (!PollUntil(5000, [&] { return !IsWindow(box); }))
            Fail("a message box did not close");
    }
    Fail("message boxes keep coming");
}

// The log as the last state step saw it: each state step prints the lines added since.
Lines stateSeen;

// One line each: "threads N", "port 1|0" (the port edit enabled: no session), "panel 1|0"
// (the service panel shown), "box 1|0", "count N" (log lines), then "+ LINE" for each
// log line that the previous state step had not seen.
void StepState()
{
    Print("threads " + std::to_string(OwnThreads()));
    Print(std::string("port ") + (IsWindowEnabled(RequireControl(103)) ? "1" : "0"));
    Print(std::string("panel ") + (IsWindowVisible(RequireControl(203)) ? "1" : "0"));
    Print(std::string("box ") + (FindBox() ? "1" : "0"));
    if (!stateSeen.empty() && LogUnchanged(stateSeen)) {
        Print("count " + std::to_string(stateSeen.size()));
        return;
    }
    Lines now = ReadLog();
    Print("count " + std::to_string(now.size()));
    for (size_t i = FirstNewLine(stateSeen, now); i < now.size(); ++i)
        Print("+ " + ToUtf8(now[i]));
    stateSeen.swap(now);
}

struct Verb {
    const wchar_t* name;
    int arity;
    const char* usage;
};

const Verb kVerbs[] = {
    {L"window", 1, "window SECS            wait for the TQ73PANEL window"},
    {L"gone", 1, "gone SECS              wait until the window has gone"},
    {L"settext", 2, "settext ID TEXT        WM_SETTEXT on control ID"},
    {L"gettext", 1, "gettext ID             print the text of control ID"},
    {L"text", 3, "text ID TEXT SECS      wait until control ID holds TEXT"},
    {L"press", 1, "press ID               post WM_COMMAND with command ID"},
    {L"click", 1, "click ID               post BM_CLICK to button ID (it sends its WM_COMMAND itself)"},
    {L"enabled", 3, "enabled ID 1|0 SECS    wait until control ID is enabled (1) or disabled (0)"},
    {L"log", 0, "log                    print every log line (UTF-8)"},
    {L"loghex", 0, "loghex                 print every log line as CP932 hex; fail on a line CP932 cannot hold"},
    {L"waitlog", 2, "waitlog PAT SECS       wait for a log line containing PAT (a|b: either)"},
    {L"watch", 2, "watch PAT SECS         print log lines as they appear until one contains PAT"},
    {L"run", 3, "run ID PAT SECS        press ID, then print the new log lines until one contains PAT"},
    {L"box", 2, "box TEXT SECS          wait for the TQ7300 box, check its text contains TEXT, press OK"},
    {L"nobox", 0, "nobox                  fail if a TQ7300 box is open"},
    {L"capbox", 3, "capbox CAPTION TEXT SECS  as box, for the box captioned CAPTION"},
    {L"ask", 3, "ask TEXT yes|no SECS   wait for the TQ7300 Yes/No box (No its default), check TEXT, answer"},
    {L"close", 1, "close SECS             post WM_CLOSE and wait until the window has gone"},
    {L"sleep", 1, "sleep SECS             pause"},
    {L"syscmd", 1, "syscmd ID              post WM_SYSCOMMAND with command ID (decimal, or 0x hex)"},
    {L"visible", 3, "visible ID 1|0 SECS    wait until control ID is visible (1) or hidden (0)"},
    {L"class", 2, "class ID NAME          check the window class of control ID (Button, Edit, ...)"},
    {L"winsize", 0, "winsize                print the window's outer width and height in pixels"},
    {L"rect", 1, "rect ID                print left top width height of control ID in the client area"},
    {L"menucheck", 3, "menucheck ID 1|0 SECS  wait until system menu item ID is checked (1) or not (0);\n"
                      "                         exit code 3 where another process's menu cannot be read"},
    {L"key", 1, "key [SHIFT+]KEY        post a key (TAB RETURN ESCAPE SPACE LEFT ... or a VK number)\n"
                "                         to the console's focus window; TAB waits until the focus moves"},
    {L"setfocus", 1, "setfocus ID            give control ID the focus (WM_NEXTDLGCTL)"},
    {L"type", 1, "type TEXT              post TEXT as WM_CHAR messages to the console's focus window"},
    {L"focus", 0, "focus                  print the id of the control that has the focus (0: none)"},
    {L"focused", 2, "focused ID SECS        wait until control ID has the focus"},
    {L"progress", 2, "progress PAT SECS      print the progress bar's position and the status text as\n"
                     "                         they change, until the text contains PAT"},
    {L"minimize", 0, "minimize               minimize the console's window"},
    {L"restore", 0, "restore                restore the console's window"},
    {L"timeit", 4, "timeit ID PAT N SECS   press ID N times on an emptied log, timing each until the newest\n"
                   "                         log line (or, for status:PAT, the status text) contains PAT"},
    {L"savefile", 3, "savefile TITLE PATH SECS  answer the save dialog TITLE with PATH and OK"},
    {L"alive", 1, "alive SECS             one message round trip through the window within SECS"},
    {L"responsive", 2, "responsive SPAN SECS   a round trip every 100 ms for SPAN seconds, each within SECS"},
    {L"hold", 2, "hold PATH SECS         open PATH (made if missing) without sharing, hold it for SECS"},
    {L"holdfor", 2, "holdfor PATH SECS      as hold, but the next steps run while it holds"},
    {L"answers", 1, "answers MS             the console answers a message within MS milliseconds"},
    {L"threads", 0, "threads                print the number of the console's own threads besides its UI thread"},
    {L"font", 1, "font ID                print the face and lfHeight of control ID's font (read in the console)"},
    {L"dpichange", 1, "dpichange DPI          the console handles WM_GETDPISCALEDSIZE and WM_DPICHANGED for DPI,\n"
                      "                         sent in the console by tqprobe.dll as on reaching a monitor, and\n"
                      "                         takes the client area its answer holds; prints it"},
    {L"glyphs", 2, "glyphs FACE TEXT       check that the font FACE has a glyph for every character of TEXT"},
    {L"fits", 0, "fits                   the window in its monitor's work area, every visible control in\n"
                 "                         the client area; prints the rectangles"},
    {L"dismiss", 0, "dismiss                press OK on every TQ7300 box open now, printing their texts"},
    {L"codepage", 0, "codepage               print the system's ANSI and OEM code pages (GetACP, GetOEMCP)"},
    {L"state", 0, "state                  threads, port edit enabled, panel shown, box open, log count,\n"
                   "                         and the log lines added since the last state step"},
    {L"serve", 0, "serve                  read step lists from stdin, one a line, fields separated by\n"
                  "                         tabs (\\t \\n \\\\ escapes); after each list print =ok, or\n"
                  "                         =fail or =unsupported with the reason; ends at EOF or quit"},
};

void Usage()
{
    fprintf(stderr, "usage: tqdrive STEP [STEP...]\nsteps:\n");
    for (const auto& v : kVerbs)
        fprintf(stderr, "  %s\n", v.usage);
}

void RunStep(const std::wstring& verb, const std::vector<std::wstring>& a)
{
    if (verb == L"window") StepWindow(BoundMs(a[0]));
    else if (verb == L"gone") StepGone(BoundMs(a[0]));
    else if (verb == L"settext") StepSetText(ControlId(a[0]), a[1]);
    else if (verb == L"gettext") StepGetText(ControlId(a[0]));
    else if (verb == L"text") StepExpectText(ControlId(a[0]), a[1], BoundMs(a[2]));
    else if (verb == L"press") StepPress(ControlId(a[0]));
    else if (verb == L"click") StepClick(ControlId(a[0]));
    else if (verb == L"enabled") StepEnabled(ControlId(a[0]), a[1], BoundMs(a[2]));
    else if (verb == L"log") StepLog();
    else if (verb == L"loghex") StepLogHex();
    else if (verb == L"waitlog") StepWaitLog(a[0], BoundMs(a[1]));
    else if (verb == L"watch") StepWatch(a[0], BoundMs(a[1]));
    else if (verb == L"run") StepRun(ControlId(a[0]), a[1], BoundMs(a[2]));
    else if (verb == L"box") StepBox(a[0], BoundMs(a[1]));
    else if (verb == L"nobox") StepNoBox();
    else if (verb == L"capbox") StepCaptionBox(a[0], a[1], BoundMs(a[2]));
    else if (verb == L"ask") StepAsk(a[0], a[1], BoundMs(a[2]));
    else if (verb == L"close") StepClose(BoundMs(a[0]));
    else if (verb == L"sleep") Sleep(BoundMs(a[0]));
    else if (verb == L"syscmd") StepSysCommand(CommandId(a[0]));
    else if (verb == L"visible") StepVisible(ControlId(a[0]), a[1], BoundMs(a[2]));
    else if (verb == L"class") StepClass(ControlId(a[0]), a[1]);
    else if (verb == L"winsize") StepWinSize();
    else if (verb == L"rect") StepRect(ControlId(a[0]));
    else if (verb == L"menucheck") StepMenuCheck(CommandId(a[0]), a[1], BoundMs(a[2]));
    else if (verb == L"key") StepKey(a[0]);
    else if (verb == L"setfocus") StepSetFocus(ControlId(a[0]));
    else if (verb == L"type") StepType(a[0]);
    else if (verb == L"focus") StepFocus();
    else if (verb == L"focused") StepFocused(ControlId(a[0]), BoundMs(a[1]));
    else if (verb == L"progress") StepProgress(a[0], BoundMs(a[1]));
    else if (verb == L"minimize") StepShowWindow(SW_MINIMIZE);
    else if (verb == L"restore") StepShowWindow(SW_RESTORE);
    else if (verb == L"timeit") StepTimeIt(ControlId(a[0]), a[1], a[2], BoundMs(a[3]));
    else if (verb == L"savefile") StepSaveFile(a[0], a[1], BoundMs(a[2]));
    else if (verb == L"alive") StepAlive(BoundMs(a[0]));
    else if (verb == L"responsive") StepResponsive(BoundMs(a[0]), BoundMs(a[1]));
    else if (verb == L"hold") StepHold(a[0], BoundMs(a[1]));
    else if (verb == L"holdfor") StepHoldFor(a[0], BoundMs(a[1]));
    else if (verb == L"answers") StepAnswers((DWORD)ControlId(a[0]));
    else if (verb == L"threads") StepThreads();
    else if (verb == L"codepage") Print(std::to_string(GetACP()) + " " + std::to_string(GetOEMCP()));
    else if (verb == L"font") StepFont(ControlId(a[0]));
    else if (verb == L"dpichange") StepDpiChange(ControlId(a[0]));
    else if (verb == L"glyphs") StepGlyphs(a[0], a[1]);
    else if (verb == L"fits") StepFits();
    else if (verb == L"dismiss") StepDismiss();
    else if (verb == L"state") StepState();
}

std::string StepText(const std::wstring& verb, const std::vector<std::wstring>& a)
{
    std::string step = ToUtf8(verb);
    for (const auto& x : a)
        step += " " + ToUtf8(x);
    return step;
}

const Verb* FindVerb(const std::wstring& name)
{
    for (const auto& cand : kVerbs)
        if (name == cand.name)
            return &cand;
    return nullptr;
}

// Runs a step list; 0 when all steps passed, else the exit code of the failed step
// (1 wrong, 2 bad list, 3 cannot be checked here), with the reason in *why.
int RunSteps(const std::vector<std::wstring>& args, std::string* why)
{
    // Check the whole list first, so that a typo does not leave a half-driven console.
    for (size_t i = 0; i < args.size();) {
        const Verb* v = FindVerb(args[i]);
        if (!v || wcscmp(v->name, L"serve") == 0 || i + v->arity >= args.size()) {
            *why = "bad step: " + ToUtf8(args[i]);
            return 2;
        }
        i += 1 + v->arity;
    }
    for (size_t i = 0; i < args.size();) {
        const Verb* v = FindVerb(args[i]);
        std::vector<std::wstring> a(args.begin() + i + 1, args.begin() + i + 1 + v->arity);
        try {
            RunStep(args[i], a);
        } catch (const StepError& e) {
            *why = "step \"" + StepText(args[i], a) + "\" failed: " + e.what;
            return 1;
        } catch (const StepUnsupported& e) {
            *why = "step \"" + StepText(args[i], a) + "\" cannot be checked here: " + e.what;
            return 3;
        }
        i += 1 + v->arity;
    }
    return 0;
}

// One request line into its fields: tab-separated, with \t, \n and \\ escapes; UTF-8.
std::vector<std::wstring> RequestFields(const std::string& line)
{
    std::vector<std::string> fields(1);
    for (size_t i = 0; i < line.size(); ++i) {
        char c = line[i];
        if (c == '\t') {
            fields.emplace_back();
        } else if (c == '\\' && i + 1 < line.size()) {
            char e = line[++i];
            fields.back() += e == 't' ? '\t' : e == 'n' ? '\n' : e;
        } else {
            fields.back() += c;
        }
    }
    std::vector<std::wstring> out;
    for (const auto& f : fields) {
        int n = MultiByteToWideChar(CP_UTF8, 0, f.data(), (int)f.size(), nullptr, 0);
        std::wstring w((size_t)n, L'\0');
        if (n > 0)
            MultiByteToWideChar(CP_UTF8, 0, f.data(), (int)f.size(), &w[0], n);
        out.push_back(w);
    }
    return out;
}

// A long run drives the console from one process: starting a Wine process per step
// costs far more than the step.
int Serve()
{
    std::string line;
    char chunk[4096];
    while (fgets(chunk, sizeof chunk, stdin)) {
        line += chunk;
        if (line.empty() || line.back() != '\n')
            continue;
        while (!line.empty() && (line.back() == '\n' || line.back() == '\r'))
            line.pop_back();
        if (line == "quit")
            return 0;
        std::string why;
        int rc = line.empty() ? 0 : RunSteps(RequestFields(line), &why);
        Print(rc == 0 ? "=ok" : rc == 3 ? "=unsupported " + why : "=fail " + why);
        line.clear();
    }
    return 0;
}

} // namespace

int main()
{
    _setmode(_fileno(stdout), _O_BINARY);
    int argc = 0;
    // The W command line keeps Japanese patterns intact whatever the ANSI code page is.
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (!argv || argc < 2) {
        Usage();
        return 2;
    }
    if (argc == 2 && std::wstring(argv[1]) == L"serve")
        return Serve();
    // Check the whole list first, so that a typo does not leave a half-driven console.
    for (int i = 1; i < argc;) {
        const Verb* v = nullptr;
        for (const auto& cand : kVerbs)
            if (std::wstring(argv[i]) == cand.name)
                v = &cand;
        if (!v || i + v->arity >= argc) {
            fprintf(stderr, "tqdrive: bad step at argument %d: %s\n", i, ToUtf8(argv[i]).c_str());
            Usage();
            return 2;
        }
        i += 1 + v->arity;
    }
    for (int i = 1; i < argc;) {
        std::wstring verb = argv[i];
        int arity = 0;
        for (const auto& cand : kVerbs)
            if (verb == cand.name)
                arity = cand.arity;
        std::vector<std::wstring> a(argv + i + 1, argv + i + 1 + arity);
        try {
            RunStep(verb, a);
        } catch (const StepError& e) {
            fprintf(stderr, "tqdrive: step \"%s\" failed: %s\n", StepText(verb, a).c_str(), e.what.c_str());
            return 1;
        } catch (const StepUnsupported& e) {
            fprintf(stderr, "tqdrive: step \"%s\" cannot be checked here: %s\n", StepText(verb, a).c_str(),
                    e.what.c_str());
            return 3;
        }
        i += 1 + arity;
    }
    AwaitReleases();
    LocalFree(argv);
    return 0;
}
