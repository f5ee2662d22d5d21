// status_strip_win32.cpp - the progress bar, the status text and the taskbar
// button's progress, all read from the progress board on a timer, and the
// result's words once the operation has ended.
//
// The workers never wait for any of this: they store their counts on the
// board, and the UI thread reads it every 100 ms while an operation runs.
#include "shell/status_strip_win32.h"

#include <commctrl.h>
#include <shobjidl.h>

#include <cwchar>

#include "operations/progress.h"
#include "operations/result.h"
#include "shell/result_words.h"
#include "platform/platform.h"
#include "platform/win32/win32_ui.h"
#include "shell/command_ids.h"

namespace shell {

namespace {

constexpr UINT kStatusPeriodMs = 100;
constexpr int kBarWidth = 120;  // dialog units
constexpr int kTextRight = 402;
constexpr int kTextChars = 160;

ITaskbarList3* taskbar = nullptr;
UINT taskbarButtonCreated = 0;
bool following = false;    // the status timer runs
uint32_t shownSerial = 0;  // the operation the strip shows
uint32_t shownPermille = 0xFFFFFFFF;
uint32_t shownEndMs = 0;
wchar_t shownText[kTextChars] = L"";

bool Failed(const ops::ProgressSnapshot& s) {
    if (s.endMs == 0) return false;
    const ops::OperationResult r = ops::LastResult();
    return r.serial == s.serial && !ops::Succeeded(r.outcome);
}

// What the taskbar button shows: nothing when idle or done, the fraction
// while it runs (a pulse where there are no units), red when it failed.
void ShowOnTaskbar(HWND dialog, const ops::ProgressSnapshot& s, uint32_t permille) {
    if (taskbar == nullptr) return;
    if (s.activity == ops::Activity::None || (s.endMs != 0 && !Failed(s))) {
        taskbar->SetProgressState(dialog, TBPF_NOPROGRESS);
        return;
    }
    const bool counted = s.total != 0 || s.activity == ops::Activity::ParamChain || s.endMs != 0;
    taskbar->SetProgressState(dialog, Failed(s) ? TBPF_ERROR : counted ? TBPF_NORMAL : TBPF_INDETERMINATE);
    if (counted) taskbar->SetProgressValue(dialog, permille, 1000);
}

void Show(HWND dialog, const ops::ProgressSnapshot& s) {
    const uint32_t permille = ops::ProgressPermille(s);
    HWND bar = GetDlgItem(dialog, kIdProgressBar);
    if (permille != shownPermille || s.endMs != shownEndMs || s.serial != shownSerial) {
        SendMessageW(bar, PBM_SETSTATE, Failed(s) ? PBST_ERROR : PBST_NORMAL, 0);
        SendMessageW(bar, PBM_SETPOS, permille, 0);
        ShowOnTaskbar(dialog, s, permille);
    }
    char text[kTextChars];
    StatusText(s, platform::TickMs(), text, sizeof text);
    wchar_t wide[kTextChars];
    platform::ToWide(text, wide, kTextChars);
    // Only a changed text is set: the strip repaints when something changed.
    if (std::wcscmp(wide, shownText) != 0) {
        std::wcscpy(shownText, wide);
        SetDlgItemTextW(dialog, kIdStatusText, wide);
    }
    shownSerial = s.serial;
    shownPermille = permille;
    shownEndMs = s.endMs;
}

HWND CreateStripControl(HWND dialog, const wchar_t* className, DWORD style, int id) {
    HINSTANCE instance = reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(dialog, GWLP_HINSTANCE));
    HWND w = CreateWindowExW(0, className, L"", WS_CHILD | WS_VISIBLE | style, 0, 0, 0, 0, dialog,
                             reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), instance, nullptr);
    if (w != nullptr) SendMessageW(w, WM_SETFONT, SendMessageW(dialog, WM_GETFONT, 0, 0), FALSE);
    return w;
}

}  // namespace

void CreateStatusStrip(HWND dialog) {
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&controls);
    HWND bar = CreateStripControl(dialog, PROGRESS_CLASSW, PBS_SMOOTH, kIdProgressBar);
    SendMessageW(bar, PBM_SETRANGE32, 0, 1000);
    CreateStripControl(dialog, L"STATIC", SS_LEFTNOWORDWRAP | SS_NOPREFIX, kIdStatusText);
    taskbarButtonCreated = RegisterWindowMessageW(L"TaskbarButtonCreated");
    // The button may exist already (the message came before the dialog did).
    OnTaskbarButtonCreated(dialog);
}

void PlaceStatusStrip(HWND dialog, const DialogUnits& units, int top) {
    const RECT bar = ToPixels(units, 7, top + 2, kBarWidth, 10);
    const RECT text = ToPixels(units, kBarWidth + 12, top + 3, kTextRight - kBarWidth - 12, 9);
    SetWindowPos(GetDlgItem(dialog, kIdProgressBar), nullptr, bar.left, bar.top, bar.right - bar.left,
                 bar.bottom - bar.top, SWP_NOZORDER | SWP_NOACTIVATE);
    SetWindowPos(GetDlgItem(dialog, kIdStatusText), nullptr, text.left, text.top, text.right - text.left,
                 text.bottom - text.top, SWP_NOZORDER | SWP_NOACTIVATE);
}

void RefreshStatus(HWND dialog) {
    const ops::ProgressSnapshot s = ops::ReadProgress();
    if (s.serial == shownSerial && s.endMs == shownEndMs && !following) return;
    Show(dialog, s);
    const bool running = s.activity != ops::Activity::None && s.endMs == 0;
    if (running && !following) {
        SetTimer(dialog, kStatusTimer, kStatusPeriodMs, nullptr);
        following = true;
    } else if (!running && following) {
        KillTimer(dialog, kStatusTimer);
        following = false;
    }
}

void ShowStripText(HWND dialog, const wchar_t* text) {
    lstrcpynW(shownText, text, kTextChars);
    SetDlgItemTextW(dialog, kIdStatusText, shownText);
}

void OnStatusTimer(HWND dialog) {
    following = true;  // the timer is what runs us
    RefreshStatus(dialog);
}

bool IsTaskbarButtonCreated(UINT message) { return taskbarButtonCreated != 0 && message == taskbarButtonCreated; }

void OnTaskbarButtonCreated(HWND dialog) {
    if (taskbar == nullptr) {
        void* instance = nullptr;
        if (FAILED(CoCreateInstance(CLSID_TaskbarList, nullptr, CLSCTX_INPROC_SERVER, IID_ITaskbarList3, &instance))) {
            return;  // no taskbar progress on this system: the strip still shows it
        }
        taskbar = static_cast<ITaskbarList3*>(instance);
        if (FAILED(taskbar->HrInit())) {
            ReleaseStatusStrip();
            return;
        }
    }
    ShowOnTaskbar(dialog, ops::ReadProgress(), ops::ProgressPermille(ops::ReadProgress()));
}

void ReleaseStatusStrip() {
    if (taskbar != nullptr) taskbar->Release();
    taskbar = nullptr;
}

}  // namespace shell
