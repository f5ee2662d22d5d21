// operator_log_win32.h - the operator log in list box 100.
#pragma once

#include <windows.h>

namespace shell {

constexpr int kLogCapacity = 100;

// Runs on the UI thread: appends the CP932 line, drops the oldest beyond 100
// lines, selects the new line (which scrolls it into view).
void AppendLogLine(HWND dialog, const char* text);
void ResetLog(HWND dialog);
// Makes the list box a Unicode window, so that the UTF-16 texts it is given
// are kept as they are whatever the system code page.
void PrepareLogList(HWND dialog);

}  // namespace shell
