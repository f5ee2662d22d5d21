// file_choice_win32.cpp - the browse buttons, dropped files and the path a
// second start hands over: each fills the file edit or the firmware edit.
//
// Every path stays UTF-16 from the system's dialog, the drop or the other
// process to the edit, so that a name no code page holds arrives as it is.
// The commands read the edits as they read a typed path (path_text.h).
#include "shell/file_choice_win32.h"

#include <commdlg.h>

#include <cwchar>

#include "firmware/image_loader.h"
#include "platform/platform.h"
#include "shell/command_ids.h"
#include "shell/service_panel_win32.h"
#include "shell/window_layout_win32.h"

namespace shell {

namespace {

// WM_COPYDATA's tag for a firmware path handed over by a second start; its
// data is the path's UTF-16 units, without a NUL.
constexpr ULONG_PTR kFirmwareHandOver = 0x54513733;  // "TQ73"
// The second start waits this long for the running window to take the path.
constexpr UINT kHandOverWaitMs = 5000;

struct BrowseButton {
    int id;
    int editId;
    bool save;  // the Save dialog (a file to be written), else Open (a file that exists)
    const wchar_t* title;
    const wchar_t* filter;
};

constexpr wchar_t kTransferFilter[] = L"All files (*.*)\0*.*\0Binary files (*.bin;*.dat)\0*.bin;*.dat\0";
constexpr wchar_t kFirmwareFilter[] =
    L"Firmware files (*.mot;*.s19;*.srec)\0*.mot;*.s19;*.srec\0All files (*.*)\0*.*\0";

// Flash write, erase and verify take a file that exists; flash read writes
// one, and the Save dialog asks before an existing one is replaced.
constexpr BrowseButton kBrowseButtons[] = {
    {kIdBrowseOpen, kIdFileEdit, false, L"Open a file for flash write, erase or verify", kTransferFilter},
    {kIdBrowseSave, kIdFileEdit, true, L"Save flash read as", kTransferFilter},
    {kIdFirmwareBrowse, kIdFirmwareEdit, false, L"Open a firmware file", kFirmwareFilter},
};

void SetEditUnits(HWND dialog, int editId, const wchar_t* text, int count) {
    wchar_t units[kChosenTextUnits + 1];
    const int n = count < kChosenTextUnits ? count : kChosenTextUnits;
    wmemcpy(units, text, static_cast<size_t>(n));
    units[n] = L'\0';
    SetDlgItemTextW(dialog, editId, units);
}

void ShowPanel(HWND dialog) {
    if (!ServicePanelShown()) ToggleServicePanel(dialog);
}

// The dialog starts in the folder of the edit's path (a relative one taken
// from the working folder), with its name filled in. OFN_NOCHANGEDIR: the
// working folder is where "enc73.mot" and relative paths are looked for, and
// choosing a file must not move it.
void Browse(HWND dialog, const BrowseButton& b) {
    wchar_t current[kChosenTextUnits];
    GetDlgItemTextW(dialog, b.editId, current, kChosenTextUnits);
    wchar_t folder[kChosenTextUnits] = L"";
    wchar_t file[kChosenTextUnits] = L"";
    wchar_t* name = nullptr;
    const DWORD n = current[0] != L'\0' ? GetFullPathNameW(current, kChosenTextUnits, folder, &name) : 0;
    if (n > 0 && n < static_cast<DWORD>(kChosenTextUnits) && name != nullptr) {
        wcscpy(file, name);
        *name = L'\0';
    } else {
        folder[0] = L'\0';
    }
    OPENFILENAMEW ofn;
    ZeroMemory(&ofn, sizeof ofn);
    ofn.lStructSize = sizeof ofn;
    ofn.hwndOwner = dialog;
    ofn.lpstrFilter = b.filter;
    ofn.lpstrFile = file;
    ofn.nMaxFile = kChosenTextUnits;
    ofn.lpstrInitialDir = folder[0] != L'\0' ? folder : nullptr;
    ofn.lpstrTitle = b.title;
    ofn.Flags =
        OFN_PATHMUSTEXIST | OFN_NOCHANGEDIR | OFN_HIDEREADONLY | (b.save ? OFN_OVERWRITEPROMPT : OFN_FILEMUSTEXIST);
    const BOOL chosen = b.save ? GetSaveFileNameW(&ofn) : GetOpenFileNameW(&ofn);
    if (chosen) SetDlgItemTextW(dialog, b.editId, file);
}

bool IsFirmwareName(const wchar_t* path) {
    const wchar_t* dot = wcsrchr(path, L'.');
    if (dot == nullptr || wcspbrk(dot, L"\\/") != nullptr) return false;
    return _wcsicmp(dot, L".mot") == 0 || _wcsicmp(dot, L".s19") == 0 || _wcsicmp(dot, L".srec") == 0;
}

// Whether the point (the dialog's client coordinates) lies on control id,
// shown. Its place is asked directly: the group box around it covers the
// same point and comes first in the z-order.
bool DroppedOn(HWND dialog, int id, POINT at) {
    HWND control = GetDlgItem(dialog, id);
    if (control == nullptr || !IsWindowVisible(control)) return false;
    RECT r;
    GetWindowRect(control, &r);
    MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&r), 2);
    return PtInRect(&r, at) != FALSE;
}

}  // namespace

void InitFileChoice(HWND dialog, const wchar_t* firmwareText, int count) {
    SetEditUnits(dialog, kIdFirmwareEdit, firmwareText, count);
    DragAcceptFiles(dialog, TRUE);
}

bool OnBrowseCommand(HWND dialog, int id) {
    for (const BrowseButton& b : kBrowseButtons) {
        if (b.id == id) {
            Browse(dialog, b);
            return true;
        }
    }
    return false;
}

void TakeFirmwareEdit(int id) {
    if (id != kIdFarmUpdate && id != kIdRecovery && id != kIdFirmwareVerify) return;
    char path[firmware::kPathSize];
    const platform::PathCarry carry = platform::ReadControlPath(kIdFirmwareEdit, path, firmware::kPathSize);
    firmware::SetFirmwarePath(path, carry);
}

// One file is taken: the first, when several are dropped.
void OnDropFiles(HWND dialog, HDROP drop) {
    wchar_t path[kChosenTextUnits];
    const UINT n = DragQueryFileW(drop, 0, path, kChosenTextUnits);
    POINT at = {0, 0};
    DragQueryPoint(drop, &at);
    DragFinish(drop);
    if (n == 0 || n >= static_cast<UINT>(kChosenTextUnits - 1)) {
        platform::Beep();
        return;
    }
    if (DroppedOn(dialog, kIdFileEdit, at)) {
        SetDlgItemTextW(dialog, kIdFileEdit, path);
    } else if (IsFirmwareName(path)) {
        SetDlgItemTextW(dialog, kIdFirmwareEdit, path);
        ShowPanel(dialog);
    } else {
        platform::Beep();
    }
}

void HandOverToRunningWindow(HWND running, const wchar_t* firmwareText, int count) {
    if (count > 0) {
        wchar_t given[kChosenTextUnits];
        const int n = count < kChosenTextUnits - 1 ? count : kChosenTextUnits - 1;
        wmemcpy(given, firmwareText, static_cast<size_t>(n));
        given[n] = L'\0';
        wchar_t full[kChosenTextUnits];
        const DWORD length = GetFullPathNameW(given, kChosenTextUnits, full, nullptr);
        const bool absolute = length > 0 && length < static_cast<DWORD>(kChosenTextUnits);
        COPYDATASTRUCT data;
        data.dwData = kFirmwareHandOver;
        data.cbData = static_cast<DWORD>((absolute ? length : static_cast<DWORD>(count)) * sizeof(wchar_t));
        data.lpData = absolute ? static_cast<void*>(full) : const_cast<wchar_t*>(firmwareText);
        DWORD_PTR result = 0;
        SendMessageTimeoutW(running, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&data), SMTO_ABORTIFHUNG, kHandOverWaitMs,
                            &result);
    }
    if (IsIconic(running)) ShowWindowAsync(running, SW_RESTORE);
    SetForegroundWindow(running);
}

bool OnCopyData(HWND dialog, const COPYDATASTRUCT* data) {
    if (data == nullptr || data->dwData != kFirmwareHandOver || data->cbData % sizeof(wchar_t) != 0) return false;
    SetEditUnits(dialog, kIdFirmwareEdit, static_cast<const wchar_t*>(data->lpData),
                 static_cast<int>(data->cbData / sizeof(wchar_t)));
    ShowPanel(dialog);
    return true;
}

}  // namespace shell
