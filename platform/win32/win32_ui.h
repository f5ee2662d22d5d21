// win32_ui.h - what the Win32 shell tells the platform layer about its window.
#pragma once

#include <windows.h>

namespace platform {

// Log requests from any thread reach the dialog as this message, sent (not
// posted) so the caller waits until the line is in; lParam: the CP932 text.
constexpr UINT kLogRequestMessage = WM_APP + 1;
constexpr UINT kClearLogMessage = WM_APP + 2;
constexpr int kLogListId = 100;

void SetMainDialog(HWND dialog);
HWND MainDialog();

// CP932 text to UTF-16 for display; always terminated.
void ToWide(const char* text, wchar_t* wide, int cap);

}  // namespace platform
