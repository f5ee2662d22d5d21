// file_choice_win32.h - how the engineer names the window's files without
// typing them: the system's Open and Save dialogs behind the panel's buttons,
// files dropped on the window, and a path handed over by a second start.
// Each only fills an edit; nothing starts by itself.
#pragma once

#include <windows.h>
#include <shellapi.h>

namespace shell {

// The longest text the file edits are filled with, in UTF-16 units: far more
// than the 255 characters a path may have, so that a longer one reaches the
// edit whole and is refused whole when a command reads it, never cut to
// another file's name.
constexpr int kChosenTextUnits = 1024;

// WM_INITDIALOG: the firmware edit gets the firmware path as the command line
// gave it (count units of text), and the window takes dropped files.
void InitFileChoice(HWND dialog, const wchar_t* firmwareText, int count);

// A browse button's command: its dialog, and the chosen path into its edit.
// False for any other id.
bool OnBrowseCommand(HWND dialog, int id);

// Before a firmware command (id): the firmware edit's text becomes the path
// the firmware loader reads, carried exactly or refused as path_text.h says.
void TakeFirmwareEdit(int id);

// WM_DROPFILES: a file dropped on the file edit goes into it; a firmware
// file (.mot, .s19, .srec) dropped anywhere else goes into the firmware edit,
// with the panel shown. Anything else dropped there is refused with the
// warning sound.
void OnDropFiles(HWND dialog, HDROP drop);

// A second start: its firmware path (count units; none when 0) to the running
// window's firmware edit, as an absolute path, since the second start's
// working folder is not the first's; then the running window comes forward.
void HandOverToRunningWindow(HWND running, const wchar_t* firmwareText, int count);
// WM_COPYDATA on the running window: true when it was a firmware path handed
// over (the edit then holds it and the panel is shown).
bool OnCopyData(HWND dialog, const COPYDATASTRUCT* data);

}  // namespace shell
