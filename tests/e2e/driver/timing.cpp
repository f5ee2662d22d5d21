// timing.cpp - the verbs that measure the console's answers: round trips, responsiveness over a span, a benchmark.
#include "driver.h"
#include "steps.h"

#include "shell/command_ids.h"

#include <mmsystem.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace tqdrive {

namespace {

// One WM_NULL round trip through the console's UI thread; the time it took, or a
// failure when it got no answer within boundMs. Without SMTO_ABORTIFHUNG: Wine takes a
// thread that was idle in GetMessage for seconds, then got busy a moment, for hung at
// once, and the bound is what this check is about.
DWORD RoundTripMs(HWND panel, DWORD boundMs) {
    DWORD start = GetTickCount();
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutW(panel, WM_NULL, 0, 0, SMTO_NORMAL, boundMs, &result))
        Fail("the window did not answer a message within " + std::to_string(boundMs) + " ms");
    return GetTickCount() - start;
}

// A round trip through the console's message queue: EM_SETMODIFY is posted to the port
// edit, and the edit's modify flag (which the console never reads) shows once the
// console's message loop has taken the post from its queue and dispatched it. Clicks
// and keys are queued too, so this is what the operator feels; a sent message is
// answered even while the UI thread waits in a loop that handles only sent ones.
class QueueProbe {
public:
    explicit QueueProbe(HWND panel) : edit_(GetDlgItem(panel, shell::kIdPortEdit)) {}
    ~QueueProbe() {
        if (edit_) PostMessageW(edit_, EM_SETMODIFY, FALSE, 0);
    }
    bool Ready() const { return edit_ != nullptr; }
    // The time the post took to be handled; a failure past boundMs.
    DWORD RoundTripMs(DWORD boundMs) {
        flag_ = !flag_;
        DWORD start = GetTickCount();
        if (!PostMessageW(edit_, EM_SETMODIFY, flag_ ? TRUE : FALSE, 0)) Fail("PostMessage EM_SETMODIFY failed");
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
    HWND edit_;
    bool flag_ = false;
};

double NowMs() {
    static LARGE_INTEGER frequency = {};
    if (frequency.QuadPart == 0) QueryPerformanceFrequency(&frequency);
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return 1000.0 * (double)now.QuadPart / (double)frequency.QuadPart;
}

// The newest log line, or the status text for a pattern that begins with "status:".
bool NewestMatches(const std::vector<std::wstring>& alts, bool status) {
    if (status) return Matches(WindowText(RequireControl(shell::kIdStatusText)), alts);
    HWND list = RequireControl(shell::kIdLog);
    const LRESULT count = Send(list, LB_GETCOUNT, 0, 0);
    if (count == LB_ERR || count == 0) return false;
    bool ok = false;
    const std::wstring line = LogLineText(list, count - 1, &ok);
    return ok && Matches(line, alts);
}

}  // namespace

void StepSleep(DWORD spanMs) { Sleep(spanMs); }

void StepAlive(DWORD boundMs) { Print("alive: " + std::to_string(RoundTripMs(RequirePanel(), boundMs)) + " ms"); }

// Round trips every 100 ms for the whole span, each within boundMs: a sent message,
// and a posted one through the console's queue. The window keeps answering while an
// operation fails under it. Ends early, passing, when the window goes (the scenario
// closed it).
void StepResponsive(DWORD spanMs, DWORD boundMs) {
    const DWORD start = GetTickCount();
    DWORD longestSent = 0, longestQueued = 0, trips = 0;
    HWND panel = RequirePanel();
    QueueProbe queue(panel);
    if (!queue.Ready()) Fail("the window has no port edit");
    while (GetTickCount() - start < spanMs) {
        if (!IsWindow(panel)) break;
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

// Whether the console's UI thread answers a message within the bound: a hung console
// fails the step, a live one prints how long it took.
void StepAnswers(DWORD bound) {
    HWND panel = RequirePanel();
    DWORD start = GetTickCount();
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutW(panel, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, bound, &result))
        Fail("the console did not answer within " + std::to_string(bound) + " ms");
    Print("answers " + std::to_string(GetTickCount() - start));
}

// Presses ID N times, each time on an emptied log, and prints how long each took
// until the newest log line (or the status text, "status:PAT") contained PAT: the
// log and the text are looked at every millisecond.
void StepTimeIt(int id, const std::wstring& pattern, const std::wstring& times, DWORD bound) {
    const bool status = pattern.rfind(L"status:", 0) == 0;
    const auto alts = Alternatives(status ? pattern.substr(7) : pattern);
    const int n = _wtoi(times.c_str());
    if (n <= 0) Fail("timeit wants a count of 1 or more");
    timeBeginPeriod(1);
    std::vector<double> took;
    for (int k = 0; k < n; ++k) {
        Send(RequirePanel(), WM_COMMAND, MAKEWPARAM(shell::kIdClearLog, BN_CLICKED), 0);
        Sleep(150);  // the previous worker is reaped; the log has painted
        const double start = NowMs();
        StepPress(id);
        bool done = false;
        while (!done && NowMs() - start < bound) {
            done = NewestMatches(alts, status);
            if (!done) Sleep(1);
        }
        if (!done) Fail("run " + std::to_string(k + 1) + " never showed \"" + ToUtf8(pattern) + "\"");
        took.push_back(NowMs() - start);
    }
    timeEndPeriod(1);
    std::vector<double> sorted = took;
    std::sort(sorted.begin(), sorted.end());
    double sum = 0;
    for (double t : took) sum += t;
    char line[160];
    snprintf(line, sizeof line, "runs %d median %.1f mean %.1f min %.1f max %.1f", n, sorted[sorted.size() / 2],
             sum / n, sorted.front(), sorted.back());
    Print(line);
}

}  // namespace tqdrive
