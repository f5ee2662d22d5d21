// window_layout_win32.h - where the main window's controls go and how large the
// window is: for the panel's state, the window's DPI, and the work area of the
// monitor it is on, so that every control can be reached on a small screen.
#pragma once

#include <windows.h>

namespace shell {

// From WM_INITDIALOG, once every control exists: the fonts, the first layout,
// and the dialog manager's own DPI handling switched off (this file does it).
void InitWindowLayout(HWND dialog);

// Lays the window out again where it is: after the panel was shown or
// hidden, and when the screen or its work area changed.
void LayOutWindow(HWND dialog);

// The system-menu command: shows the service panel and lays the window out
// for it, or hides it and gives the window its template's layout back.
void ToggleServicePanel(HWND dialog);

// WM_GETDPISCALEDSIZE (Windows 10 1703 and later, before WM_DPICHANGED): the
// window's size at another DPI, so that the place Windows suggests has it.
constexpr UINT kGetDpiScaledSizeMessage = 0x02E4;
void OnGetDpiScaledSize(HWND dialog, int dpi, SIZE* size);

// WM_DPICHANGED: the window went to a monitor with another DPI (or the scale
// changed); it takes the suggested place with the size its layout needs there.
void OnDpiChanged(HWND dialog, int dpi, const RECT& suggested);

}  // namespace shell
