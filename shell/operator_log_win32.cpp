// operator_log_win32.cpp - list box side of the operator log.
#include "shell/operator_log_win32.h"

#include "platform/win32/win32_ui.h"
#include "shell/command_ids.h"

namespace shell {

void PrepareLogList(HWND dialog) {
    HWND list = GetDlgItem(dialog, kIdLog);
    // A control made from an ANSI template is an ANSI window: text sent with
    // the W calls would be squeezed through the system code page. Setting its
    // procedure through the W call turns it into a Unicode window.
    SetWindowLongPtrW(list, GWLP_WNDPROC, GetWindowLongPtrW(list, GWLP_WNDPROC));
}

void AppendLogLine(HWND dialog, const char* text) {
    HWND list = GetDlgItem(dialog, kIdLog);
    wchar_t wide[512];
    platform::ToWide(text, wide, 512);
    LRESULT n = SendMessageW(list, LB_GETCOUNT, 0, 0);
    SendMessageW(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(wide));
    if (n >= kLogCapacity) {
        SendMessageW(list, LB_DELETESTRING, 0, 0);
        --n;
    }
    SendMessageW(list, LB_SETCURSEL, static_cast<WPARAM>(n), 0);
}

void ResetLog(HWND dialog) { SendDlgItemMessageW(dialog, kIdLog, LB_RESETCONTENT, 0, 0); }

}  // namespace shell
