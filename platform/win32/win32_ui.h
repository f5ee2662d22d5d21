// win32_ui.h - what the Win32 shell tells the platform layer about its window.
#pragma once

#include <windows.h>

namespace platform {

// A line for the log list box, sent on the window's own thread; lParam: the
// CP932 text, or the UTF-8 one when wParam is kLogTextUtf8.
constexpr UINT kLogRequestMessage = WM_APP + 1;
constexpr WPARAM kLogTextUtf8 = 1;
constexpr UINT kClearLogMessage = WM_APP + 2;
// Other threads queue their lines and post this once per batch (send it when
// the queue is full, or before a box of theirs): the window then shows every
// line that waits (ShowQueuedLog).
constexpr UINT kLogWakeMessage = WM_APP + 4;
constexpr int kLogListId = 100;

// Called on the window's thread, which shows the log from then on.
void SetMainDialog(HWND dialog);
// On the window's thread: the queued lines into the log, in order.
void ShowQueuedLog();
HWND MainDialog();

// CP932 text to UTF-16 for display; always terminated.
void ToWide(const char* text, wchar_t* wide, int cap);
// UTF-8 text to UTF-16 for display; always terminated. A text longer than
// cap is cut at a whole character, never dropped: a long path stays readable
// up to where it is cut.
void Utf8ToWide(const char* text, wchar_t* wide, int cap);

}  // namespace platform
