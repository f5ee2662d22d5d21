// log.cpp - the verbs that read the console's log (a list box): whole, as CP932 bytes, or line by line as it grows.
#include "driver.h"
#include "steps.h"

#include "shell/command_ids.h"

#include <algorithm>
#include <cstdio>

namespace tqdrive {

namespace {

const UINT kCp932 = 932;
// The console keeps at most 511 characters of a log line.
const size_t kLogLineRoom = 2048;

// The line's bytes in code page 932, as the console holds them; false when the line has
// a character that code page 932 cannot carry, which no text of the console has.
bool ToCp932Hex(const std::wstring& w, std::string* hex) {
    hex->clear();
    if (w.empty()) return true;
    BOOL lossy = FALSE;
    int n = WideCharToMultiByte(kCp932, WC_NO_BEST_FIT_CHARS, w.data(), (int)w.size(), nullptr, 0, nullptr, &lossy);
    std::string bytes((size_t)n, '\0');
    WideCharToMultiByte(kCp932, WC_NO_BEST_FIT_CHARS, w.data(), (int)w.size(), &bytes[0], n, nullptr, &lossy);
    char pair[3];
    for (unsigned char c : bytes) {
        snprintf(pair, sizeof pair, "%02X", c);
        *hex += pair;
    }
    return !lossy;
}

// Prints each log line that is not in seen as it appears, until one matches.
void WatchFrom(Lines seen, const std::wstring& pattern, DWORD bound) {
    auto alts = Alternatives(pattern);
    bool found = PollUntil(bound, [&] {
        if (!seen.empty() && LogUnchanged(seen)) return false;
        Lines now = ReadLog();
        bool hit = false;
        for (size_t i = FirstNewLine(seen, now); i < now.size(); ++i) {
            Print(ToUtf8(now[i]));
            hit = hit || Matches(now[i], alts);
        }
        seen.swap(now);
        return hit;
    });
    if (!found) Fail("no log line matched \"" + ToUtf8(pattern) + "\" in time");
}

}  // namespace

std::wstring LogLineText(HWND list, LRESULT i, bool* ok) {
    LRESULT len = Send(list, LB_GETTEXTLEN, (WPARAM)i, 0);
    *ok = len != LB_ERR;
    if (!*ok) return std::wstring();
    // Room for the longest line the console keeps, not only this one's length: a line
    // added meanwhile shifts a longer one to index i, and Wine copies whatever index i
    // holds when the LB_GETTEXT arrives.
    std::vector<wchar_t> buf(std::max<size_t>((size_t)len + 64, kLogLineRoom), L'\0');
    *ok = Send(list, LB_GETTEXT, (WPARAM)i, (LPARAM)buf.data()) != LB_ERR;
    return std::wstring(buf.data());
}

// One consistent snapshot of the log: the list may lose its oldest line while it is
// read, so a read during which the count changed is taken again.
Lines ReadLog() {
    HWND list = RequireControl(shell::kIdLog);
    for (int attempt = 0; attempt < 20; ++attempt) {
        LRESULT count = Send(list, LB_GETCOUNT, 0, 0);
        if (count == LB_ERR) Fail("LB_GETCOUNT failed");
        Lines lines;
        bool ok = true;
        for (LRESULT i = 0; i < count && ok; ++i) lines.push_back(LogLineText(list, i, &ok));
        if (ok && Send(list, LB_GETCOUNT, 0, 0) == count) return lines;
        Sleep(kPollMs);
    }
    Fail("the log kept changing while it was read");
}

// Whether the log still is the snapshot, judged by its count, first and last line: a
// full read costs two messages a line, and a watch should not load the console's UI
// thread while the console works.
bool LogUnchanged(const Lines& snapshot) {
    HWND list = RequireControl(shell::kIdLog);
    LRESULT count = Send(list, LB_GETCOUNT, 0, 0);
    if (count == LB_ERR || (size_t)count != snapshot.size()) return false;
    if (count == 0) return true;
    bool ok1 = false, ok2 = false;
    return LogLineText(list, 0, &ok1) == snapshot.front() && LogLineText(list, count - 1, &ok2) == snapshot.back() &&
           ok1 && ok2;
}

std::vector<std::wstring> Alternatives(const std::wstring& pattern) {
    std::vector<std::wstring> alts;
    size_t from = 0;
    for (;;) {
        size_t bar = pattern.find(L'|', from);
        alts.push_back(pattern.substr(from, bar == std::wstring::npos ? bar : bar - from));
        if (bar == std::wstring::npos) return alts;
        from = bar + 1;
    }
}

bool Matches(const std::wstring& line, const std::vector<std::wstring>& alts) {
    for (const auto& a : alts)
        if (line.find(a) != std::wstring::npos) return true;
    return false;
}

// Lines of now that were not in before. The log only appends at the end and drops at the
// front, so the new lines follow the longest tail of before that starts now.
size_t FirstNewLine(const Lines& before, const Lines& now) {
    size_t maxOverlap = before.size() < now.size() ? before.size() : now.size();
    for (size_t k = maxOverlap; k > 0; --k) {
        bool same = true;
        for (size_t i = 0; i < k && same; ++i) same = before[before.size() - k + i] == now[i];
        if (same) return k;
    }
    return 0;
}

void StepLog() {
    for (const auto& line : ReadLog()) Print(ToUtf8(line));
}

// The list selects the line, then tells the dialog as a click on it does
// (LBN_SELCHANGE); setting the selection alone sends nothing.
void StepPickLine(const std::wstring& pattern) {
    const Lines lines = ReadLog();
    auto hit = std::find_if(lines.rbegin(), lines.rend(),
                            [&](const std::wstring& l) { return l.find(pattern) != std::wstring::npos; });
    if (hit == lines.rend()) Fail("no log line contains \"" + ToUtf8(pattern) + "\"");
    const WPARAM index = static_cast<WPARAM>(lines.rend() - hit - 1);
    HWND list = RequireControl(shell::kIdLog);
    if (SendMessageW(list, LB_SETCURSEL, index, 0) == LB_ERR) Fail("LB_SETCURSEL failed");
    if (!PostMessageW(RequirePanel(), WM_COMMAND, MAKEWPARAM(shell::kIdLog, LBN_SELCHANGE), (LPARAM)list))
        Fail("PostMessage WM_COMMAND failed");
}

void StepLogHex() {
    std::string hex;
    for (const auto& line : ReadLog()) {
        if (!ToCp932Hex(line, &hex)) Fail("a log line is not code page 932 text: \"" + ToUtf8(line) + "\"");
        Print(hex);
    }
}

void StepWaitLog(const std::wstring& pattern, DWORD bound) {
    auto alts = Alternatives(pattern);
    std::wstring hit;
    Lines seen;
    bool first = true;
    bool found = PollUntil(bound, [&] {
        if (!first && LogUnchanged(seen)) return false;
        first = false;
        seen = ReadLog();
        for (const auto& line : seen)
            if (Matches(line, alts)) {
                hit = line;
                return true;
            }
        return false;
    });
    if (!found) Fail("no log line matches \"" + ToUtf8(pattern) + "\"");
    Print(ToUtf8(hit));
}

// The lines already in the log count as new: they are printed first.
void StepWatch(const std::wstring& pattern, DWORD bound) { WatchFrom(Lines(), pattern, bound); }

// The log is read before the press, so that every line the command adds is printed,
// however fast the console is.
void StepRun(int id, const std::wstring& pattern, DWORD bound) {
    Lines before = ReadLog();
    StepPress(id);
    WatchFrom(before, pattern, bound);
}

}  // namespace tqdrive
