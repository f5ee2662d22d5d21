// line_tools_win32.h - the service panel's list of the ports the system has,
// which fills the port edit, and the window's side of the line check.
#pragma once

#include <windows.h>

#include <cstdint>

namespace shell {

// The list anew from what the system knows now, the port edit's port chosen.
void FillPortList(HWND dialog);
// WM_COMMAND of the list: dropped, it is filled anew; a port chosen goes into
// the port edit (while no session holds it). True when the command was the
// list's.
bool OnPortListCommand(HWND dialog, WORD id, WORD code);
// A line check's verdict is longer than the status strip: once a check ends
// (its serial given), its verdict goes into the log.
void LogLineCheckVerdict(uint32_t serial);

}  // namespace shell
