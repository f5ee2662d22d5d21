// operator_log_win32.h - the operator log in list box 100.
#pragma once

#include <windows.h>

namespace shell {

constexpr int kLogCapacity = 100;

// Runs on the UI thread: appends the line (CP932, or UTF-8 when utf8 says so), drops the oldest beyond 100
// lines, selects the new line (which scrolls it into view), and hands it to a
// session recording. The list box shows it at its next paint, at most a few
// tens of milliseconds later.
void AppendLogLine(HWND dialog, const char* text, bool utf8);
void ResetLog(HWND dialog);
// The paint timer: shows the lines that came since painting was held.
void PaintLog(HWND dialog);
// After the list box was resized: the newest (selected) line back into view.
void KeepSelectedLineInView(HWND dialog);
// Makes the list box a Unicode window, so that the UTF-16 texts it is given
// are kept as they are whatever the system code page.
void PrepareLogList(HWND dialog);

}  // namespace shell
