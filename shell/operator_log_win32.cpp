// operator_log_win32.cpp - list box side of the operator log.
//
// A line is in the list (the newest 100 kept, the newest selected) when its
// log request returns, but the list box does not paint it then: painting is
// held while lines arrive and done once, 40 ms after the first of them, or
// half a second after the last repaint while lines keep coming. A worker waiting in LogLine therefore never waits for a
// repaint, and a burst of lines costs one.
#include "shell/operator_log_win32.h"

#include "platform/win32/win32_ui.h"
#include "shell/command_ids.h"
#include "shell/transcript_win32.h"

namespace shell {

namespace {

// A repaint of the list is most of what the shown window costs the line: with
// one core kept busy by another program, a full update took 3 % longer shown
// than minimized when the list was painted 25 times a second, 1.6 % at 10,
// 0.6 % at 4 and 0.3 % at 2 or 1. So a line after a quiet spell is painted
// within kPaintDelayMs, and lines that keep coming (a transfer's frames) at
// most every kPaintPeriodMs; the status strip shows the progress meanwhile.
constexpr DWORD kPaintDelayMs = 40;
constexpr DWORD kPaintPeriodMs = 500;
bool paintHeld = false;
DWORD lastPaint = 0;

void HoldPaint(HWND dialog, HWND list) {
    if (paintHeld) return;
    SendMessageW(list, WM_SETREDRAW, FALSE, 0);
    const DWORD since = GetTickCount() - lastPaint;
    const DWORD wait = since + kPaintDelayMs >= kPaintPeriodMs ? kPaintDelayMs : kPaintPeriodMs - since;
    SetTimer(dialog, kLogPaintTimer, wait, nullptr);
    paintHeld = true;
}

}  // namespace

void PrepareLogList(HWND dialog) {
    HWND list = GetDlgItem(dialog, kIdLog);
    // A control made from an ANSI template is an ANSI window: text sent with
    // the W calls would be squeezed through the system code page. Setting its
    // procedure through the W call turns it into a Unicode window.
    SetWindowLongPtrW(list, GWLP_WNDPROC, GetWindowLongPtrW(list, GWLP_WNDPROC));
}

void AppendLogLine(HWND dialog, const char* text, bool utf8) {
    HWND list = GetDlgItem(dialog, kIdLog);
    // A UTF-8 line names a path: its text around a path of 255 characters
    // needs more than a CP932 line's 511.
    wchar_t wide[1024];
    if (utf8) {
        platform::Utf8ToWide(text, wide, 1024);
    } else {
        platform::ToWide(text, wide, 1024);
    }
    HoldPaint(dialog, list);
    LRESULT n = SendMessageW(list, LB_GETCOUNT, 0, 0);
    SendMessageW(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(wide));
    if (n >= kLogCapacity) {
        SendMessageW(list, LB_DELETESTRING, 0, 0);
        --n;
    }
    SendMessageW(list, LB_SETCURSEL, static_cast<WPARAM>(n), 0);
    RecordLogLine(wide);
}

void ResetLog(HWND dialog) {
    HoldPaint(dialog, GetDlgItem(dialog, kIdLog));
    SendDlgItemMessageW(dialog, kIdLog, LB_RESETCONTENT, 0, 0);
}

void KeepSelectedLineInView(HWND dialog) {
    HWND list = GetDlgItem(dialog, kIdLog);
    // Selecting a line scrolls it into view; the list sends no notification for it.
    const LRESULT selected = SendMessageW(list, LB_GETCURSEL, 0, 0);
    if (selected != LB_ERR) SendMessageW(list, LB_SETCURSEL, static_cast<WPARAM>(selected), 0);
}

void PaintLog(HWND dialog) {
    KillTimer(dialog, kLogPaintTimer);
    if (!paintHeld) return;
    paintHeld = false;
    lastPaint = GetTickCount();
    HWND list = GetDlgItem(dialog, kIdLog);
    SendMessageW(list, WM_SETREDRAW, TRUE, 0);
    RedrawWindow(list, nullptr, nullptr, RDW_ERASE | RDW_FRAME | RDW_INVALIDATE);
}

}  // namespace shell
