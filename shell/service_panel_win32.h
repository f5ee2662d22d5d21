// service_panel_win32.h - the service panel: the main dialog's extra controls
// for flash transfers, parameter blocks, the clock and the pattern sequence,
// shown and hidden from the window's system menu.
#pragma once

#include <windows.h>

#include "shell/window_fonts_win32.h"

namespace shell {

// The panel's height in dialog units, from the top of its area (a gap, then
// its groups) to the status strip.
constexpr int kPanelAreaHeight = 223;

// Creates the panel's controls, hidden, as children of the dialog, behind the
// template's controls in the tab order. Called from WM_INITDIALOG before the
// dispatcher fills in the edits' first texts, so that those land in them.
void CreateServicePanel(HWND dialog);

// Puts the panel's controls in its area, which begins top dialog units down.
void PlaceServicePanel(const DialogUnits& units, int top);
bool ServicePanelShown();

// Adds "Service panel" (kSysCmdServicePanel) to the window's system menu.
void AddServicePanelMenuItem(HWND dialog);

// Whether the panel is shown (what the layout makes room for), with the
// menu item's check mark; the controls are shown or hidden apart, so that
// they appear only once the window has room for them.
void SetServicePanelShown(HWND dialog, bool shown);
void ShowServicePanelControls(HWND dialog, bool shown);

}  // namespace shell
