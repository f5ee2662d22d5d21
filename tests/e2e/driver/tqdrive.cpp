// tqdrive.cpp: drives a running tq73panel.exe from outside, for the Wine end-to-end tests.
//
// The arguments are a list of steps, each a verb with a fixed number of arguments,
// carried out in order; the first step that fails ends the program with exit code 1
// and a message on stderr naming the step (usage errors give 2). Every step that waits
// takes its own bound in seconds, and every message sent to the console goes through
// SendMessageTimeoutW, so a hung console makes a step fail instead of hanging the test.
//
// Texts are read with the W messages and printed as UTF-8 on stdout, so that a shell
// can grep the Japanese log texts. Two facts about Wine shape this program: the A form
// of LB_GETTEXT hands back UTF-16 bytes when it crosses processes, and GetWindowText
// on another process's edit returns nothing; hence LB_GETTEXT and WM_GETTEXT, W form.

#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <cstdlib>
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

using Lines = std::vector<std::wstring>;

struct StepError {
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
    std::vector<wchar_t> buf((size_t)len + 64, L'\0');
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

HWND FindBox()
{
    return FindWindowW(kBoxClass, kBoxCaption);
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

void StepBox(const std::wstring& expected, DWORD bound)
{
    HWND box = nullptr;
    if (!PollUntil(bound, [&] { return (box = FindBox()) != nullptr; }))
        Fail("no TQ7300 message box appeared");
    // The box is created before its text control is filled in; give it a moment.
    std::wstring text;
    PollUntil(2000, [&] { return !(text = BoxText(box)).empty(); });
    Print("box: " + ToUtf8(text));
    if (text.find(expected) == std::wstring::npos)
        Fail("the box says \"" + ToUtf8(text) + "\", expected \"" + ToUtf8(expected) + "\"");
    PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), (LPARAM)GetDlgItem(box, IDOK));
    if (!PollUntil(5000, [&] { return !IsWindow(box); }))
        Fail("the message box did not close");
}

void StepNoBox()
{
    HWND box = FindBox();
    if (box)
        Fail("a TQ7300 message box is open: \"" + ToUtf8(BoxText(box)) + "\"");
}

void StepClose(DWORD bound)
{
    if (!PostMessageW(RequirePanel(), WM_CLOSE, 0, 0))
        Fail("PostMessage WM_CLOSE failed");
    StepGone(bound);
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
    {L"enabled", 3, "enabled ID 1|0 SECS    wait until control ID is enabled (1) or disabled (0)"},
    {L"log", 0, "log                    print every log line (UTF-8)"},
    {L"loghex", 0, "loghex                 print every log line as CP932 hex; fail on a line CP932 cannot hold"},
    {L"waitlog", 2, "waitlog PAT SECS       wait for a log line containing PAT (a|b: either)"},
    {L"watch", 2, "watch PAT SECS         print log lines as they appear until one contains PAT"},
    {L"run", 3, "run ID PAT SECS        press ID, then print the new log lines until one contains PAT"},
    {L"box", 2, "box TEXT SECS          wait for the TQ7300 box, check its text contains TEXT, press OK"},
    {L"nobox", 0, "nobox                  fail if a TQ7300 box is open"},
    {L"close", 1, "close SECS             post WM_CLOSE and wait until the window has gone"},
    {L"sleep", 1, "sleep SECS             pause"},
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
    else if (verb == L"enabled") StepEnabled(ControlId(a[0]), a[1], BoundMs(a[2]));
    else if (verb == L"log") StepLog();
    else if (verb == L"loghex") StepLogHex();
    else if (verb == L"waitlog") StepWaitLog(a[0], BoundMs(a[1]));
    else if (verb == L"watch") StepWatch(a[0], BoundMs(a[1]));
    else if (verb == L"run") StepRun(ControlId(a[0]), a[1], BoundMs(a[2]));
    else if (verb == L"box") StepBox(a[0], BoundMs(a[1]));
    else if (verb == L"nobox") StepNoBox();
    else if (verb == L"close") StepClose(BoundMs(a[0]));
    else if (verb == L"sleep") Sleep(BoundMs(a[0]));
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
            std::string step = ToUtf8(verb);
            for (const auto& x : a)
                step += " " + ToUtf8(x);
            fprintf(stderr, "tqdrive: step \"%s\" failed: %s\n", step.c_str(), e.what.c_str());
            return 1;
        }
        i += 1 + arity;
    }
    LocalFree(argv);
    return 0;
}
