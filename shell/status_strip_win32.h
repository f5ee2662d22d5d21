// status_strip_win32.h - the strip below the log that tells how far the
// running operation is (a progress bar and a status text), and the same
// progress on the taskbar button where the system offers one.
#pragma once

#include <windows.h>

#include "shell/window_fonts_win32.h"

namespace shell {

// The strip's height in dialog units; the window grows by it.
constexpr int kStatusStripHeight = 16;

// Creates the bar and the text (not tab stops: the shipped tab order stays)
// and asks for the taskbar button's progress.
void CreateStatusStrip(HWND dialog);
// Puts the strip top dialog units down (the bottom of the client area).
void PlaceStatusStrip(HWND dialog, const DialogUnits& units, int top);
// After anything that may have started or ended an operation: shows its
// state now, and follows it with a short timer while it runs.
void RefreshStatus(HWND dialog);
void OnStatusTimer(HWND dialog);
// A text of its own in the strip (the selected log line's decoding) until the
// operation's state next changes the status text.
void ShowStripText(HWND dialog, const wchar_t* text);
// The shell's "TaskbarButtonCreated": the button can show progress from now.
bool IsTaskbarButtonCreated(UINT message);
void OnTaskbarButtonCreated(HWND dialog);
void ReleaseStatusStrip();

}  // namespace shell
