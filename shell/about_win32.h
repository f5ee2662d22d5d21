// about_win32.h - "About TQ7300 service console" in the window's system menu:
// a box with the version and the copyright line of the program's VERSIONINFO.
#pragma once

#include <windows.h>

namespace shell {

void AddAboutMenuItem(HWND dialog);
// The system-menu command; true when command was the About item's.
bool OnAboutCommand(HWND dialog, WPARAM command);

}  // namespace shell
