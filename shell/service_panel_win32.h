// service_panel_win32.h - the service panel: the main dialog's extra controls
// for flash transfers, parameter blocks, the clock and the pattern sequence,
// shown and hidden from the window's system menu.
#pragma once

#include <windows.h>

namespace shell {

// Creates the panel's controls, hidden, as children of the dialog, behind the
// template's controls in the tab order. Called from WM_INITDIALOG before the
// dispatcher fills in the edits' first texts, so that those land in them.
void CreateServicePanel(HWND dialog);

// Gives the window its first size: the template and the status strip below it.
void FitTemplateAndStrip(HWND dialog);

// Adds "Service panel" (kSysCmdServicePanel) to the window's system menu.
void AddServicePanelMenuItem(HWND dialog);

// The system-menu command: shows the panel and grows the window, or hides it
// and gives the window the size of its template back.
void ToggleServicePanel(HWND dialog);

}  // namespace shell
