// ui_win32.cpp - the user interface sink on Windows: log requests, private
// messages, the warning box and the dialog's controls.
//
// The console's texts are CP932 bytes. They are shown through the W calls
// after conversion, so that they read correctly on a system whose code page
// is not 932.
#include "platform/win32/win32_ui.h"

#include "platform/platform.h"

namespace platform {

namespace {
HWND mainDialog = nullptr;
constexpr wchar_t kCaption[] = L"TQ7300";
}  // namespace

void SetMainDialog(HWND dialog) { mainDialog = dialog; }
HWND MainDialog() { return mainDialog; }

void ToWide(const char* text, wchar_t* wide, int cap) {
    const int n = MultiByteToWideChar(932, 0, text, -1, wide, cap);
    if (n <= 0) wide[0] = L'\0';
    wide[cap - 1] = L'\0';
}

void LogLine(const char* text) {
    if (mainDialog != nullptr) {
        SendMessageA(mainDialog, kLogRequestMessage, 0, reinterpret_cast<LPARAM>(text));
    }
}

void ClearLog() {
    if (mainDialog != nullptr) SendMessageA(mainDialog, kClearLogMessage, 0, 0);
}

void PostToDialog(uint32_t message, uintptr_t wParam, intptr_t lParam) {
    PostMessageA(mainDialog, message, wParam, lParam);
}

void WarningBox(const char* text) {
    wchar_t wide[512];
    ToWide(text, wide, 512);
    MessageBoxW(mainDialog, wide, kCaption, MB_OK | MB_ICONWARNING);
}

void Beep() { MessageBeep(MB_ICONWARNING); }

void ReadControlText(int id, char* buffer, int cap) {
    buffer[0] = '\0';
    GetDlgItemTextA(mainDialog, id, buffer, cap);
    buffer[cap - 1] = '\0';
}

void SetControlText(int id, const char* text) { SetDlgItemTextA(mainDialog, id, text); }

void EnableControl(int id, bool enabled) {
    HWND control = GetDlgItem(mainDialog, id);
    if (control != nullptr) EnableWindow(control, enabled ? TRUE : FALSE);
}

void StartTimer(int id, uint32_t ms) { SetTimer(mainDialog, static_cast<UINT_PTR>(id), ms, nullptr); }

void StopTimer(int id) { KillTimer(mainDialog, static_cast<UINT_PTR>(id)); }

}  // namespace platform
