// main_win32.cpp - entry point, window class, the main dialog and its loop.
#include <windows.h>
#include <mmsystem.h>
#include <objbase.h>
// After windows.h:
#include <dbt.h>

#include <cstring>

#include "firmware/image_loader.h"
#include "operations/operation_params.h"
#include "operations/progress.h"
#include "platform/port_info.h"
#include "platform/win32/win32_ui.h"
#include "shell/about_win32.h"
#include "shell/command_ids.h"
#include "shell/command_line.h"
#include "shell/dispatch.h"
#include "shell/file_choice_win32.h"
#include "shell/line_tools_win32.h"
#include "shell/log_decoding_win32.h"
#include "shell/operator_log_win32.h"
#include "shell/service_panel_win32.h"
#include "shell/session_commands.h"
#include "shell/status_strip_win32.h"
#include "shell/transcript_win32.h"
#include "shell/window_layout_win32.h"

namespace {

constexpr char kClassName[] = "TQ73PANEL";
constexpr int kDialogTemplate = 100;
constexpr int kIconResource = 100;
// The class carries the dialog (DefDlgProcA), so its windows must have the
// DLGWINDOWEXTRA bytes (30 on both builds) where the dialog manager keeps the
// message result, the dialog procedure and DWLP_USER, the OperationParams
// pointer here. The 4 bytes after them are unused; they stay because the
// class has always been registered with 34 (what GCL_CBWNDEXTRA reads).
constexpr int kWindowExtraBytes = DLGWINDOWEXTRA + 4;
static_assert(kWindowExtraBytes == 34, "the class's window extra bytes");

HINSTANCE moduleInstance = nullptr;

// The firmware path as the command line gave it, for the firmware edit.
wchar_t firmwareText[shell::kChosenTextUnits];
int firmwareTextUnits = 0;

ops::OperationParams* ParamsOf(HWND dialog) {
    return reinterpret_cast<ops::OperationParams*>(GetWindowLongPtrA(dialog, DWLP_USER));
}

// The system keeps its own flags in the low four bits of the command.
bool OnSystemCommand(HWND dialog, WPARAM wParam) {
    const WPARAM command = wParam & 0xFFF0;
    if (command == shell::kSysCmdServicePanel) {
        shell::ToggleServicePanel(dialog);
        if (shell::ServicePanelShown()) shell::FillPortList(dialog);
        return true;
    }
    return shell::OnTranscriptCommand(dialog, command) || shell::OnAboutCommand(dialog, command);
}

void OnDialogTimer(HWND dialog, int id) {
    switch (id) {
        case shell::kLogPaintTimer: shell::PaintLog(dialog); break;
        case shell::kStatusTimer: shell::OnStatusTimer(dialog); break;
        default:
            shell::OnTimer(id);
            shell::RefreshStatus(dialog);
            break;
    }
}

// A COM port that the system removed (an adapter unplugged) ends its session
// at once, before the driver's calls would tell; the panel's list follows
// the ports that come and go.
void OnDeviceChange(HWND dialog, WPARAM event, LPARAM data) {
    const auto* header = reinterpret_cast<const DEV_BROADCAST_HDR*>(data);
    const bool comes = event == DBT_DEVICEARRIVAL;
    if ((!comes && event != DBT_DEVICEREMOVECOMPLETE) || header == nullptr ||
        header->dbch_devicetype != DBT_DEVTYP_PORT) {
        return;
    }
    if (shell::ServicePanelShown()) shell::FillPortList(dialog);
    if (comes) return;
    const auto* port = reinterpret_cast<const DEV_BROADCAST_PORT_A*>(header);
    shell::OnPortRemoved(platform::ports::ComPortNumber(port->dbcp_name));
}

INT_PTR CALLBACK MainDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    ops::OperationParams* params = ParamsOf(dialog);
    switch (message) {
        case WM_INITDIALOG:
            // The pointer needs all of its bits on a 64-bit build: DWLP_USER.
            SetWindowLongPtrA(dialog, DWLP_USER, lParam);
            platform::SetMainDialog(dialog);
            shell::PrepareLogList(dialog);
            // Before OnInitDialog: it writes the first texts of the panel's edits.
            shell::CreateServicePanel(dialog);
            shell::CreateStatusStrip(dialog);
            shell::InitWindowLayout(dialog);
            shell::AddServicePanelMenuItem(dialog);
            shell::AddTranscriptMenuItems(dialog);
            shell::AddAboutMenuItem(dialog);
            shell::OnInitDialog(reinterpret_cast<ops::OperationParams*>(lParam));
            shell::InitFileChoice(dialog, firmwareText, firmwareTextUnits);
            return FALSE;
        case WM_COMMAND:
            if (LOWORD(wParam) == shell::kIdLog && HIWORD(wParam) == LBN_SELCHANGE) {
                shell::ShowSelectedLineDecoding(dialog);
            }
            if (shell::OnPortListCommand(dialog, LOWORD(wParam), HIWORD(wParam))) return FALSE;
            if (shell::OnBrowseCommand(dialog, LOWORD(wParam))) return FALSE;
            shell::TakeFirmwareEdit(LOWORD(wParam));
            shell::OnCommand(params, LOWORD(wParam));
            shell::RefreshStatus(dialog);
            return FALSE;
        case WM_DROPFILES: shell::OnDropFiles(dialog, reinterpret_cast<HDROP>(wParam)); return FALSE;
        case WM_COPYDATA:
            SetWindowLongPtrW(dialog, DWLP_MSGRESULT,
                              shell::OnCopyData(dialog, reinterpret_cast<const COPYDATASTRUCT*>(lParam)));
            return TRUE;
        case WM_SYSCOMMAND: return OnSystemCommand(dialog, wParam) ? TRUE : FALSE;
        case WM_TIMER: OnDialogTimer(dialog, static_cast<int>(wParam)); return FALSE;
        case shell::kGetDpiScaledSizeMessage:
            shell::OnGetDpiScaledSize(dialog, LOWORD(wParam), reinterpret_cast<SIZE*>(lParam));
            // A dialog procedure's answer goes through DWLP_MSGRESULT: TRUE, the size is set.
            SetWindowLongPtrW(dialog, DWLP_MSGRESULT, TRUE);
            return TRUE;
        case WM_DPICHANGED:
            shell::OnDpiChanged(dialog, LOWORD(wParam), *reinterpret_cast<const RECT*>(lParam));
            SetWindowLongPtrW(dialog, DWLP_MSGRESULT, 0);
            return TRUE;
        case WM_DISPLAYCHANGE: shell::LayOutWindow(dialog); return FALSE;
        case WM_DEVICECHANGE: OnDeviceChange(dialog, wParam, lParam); return FALSE;
        case WM_SETTINGCHANGE:
            if (wParam == SPI_SETWORKAREA) shell::LayOutWindow(dialog);
            return FALSE;
        case WM_CLOSE:
            shell::OnClose();
            platform::ShowQueuedLog();  // the last lines into the transcript too
            shell::EndRecording(dialog);
            shell::ReleaseStatusStrip();
            PostQuitMessage(0);
            return FALSE;
        case WM_QUERYENDSESSION:
            // Windows shuts down or logs off: a write pass ends at its next
            // page now, while there is time; the session may end.
            if (shell::EndWritePass()) shell::OnClose();
            SetWindowLongPtrW(dialog, DWLP_MSGRESULT, TRUE);
            return TRUE;
        case WM_ENDSESSION:
            // The process ends once this returns: the session and the
            // recording end first, as on WM_CLOSE.
            if (wParam != FALSE) {
                shell::OnClose();
                platform::ShowQueuedLog();
                shell::EndRecording(dialog);
            }
            return FALSE;
        case shell::kRecordingFailedMessage: shell::ShowRecordingFailed(dialog, lParam); return TRUE;
        case platform::kLogRequestMessage:
            shell::AppendLogLine(dialog, reinterpret_cast<const char*>(lParam), wParam == platform::kLogTextUtf8);
            return TRUE;
        case platform::kClearLogMessage: shell::ResetLog(dialog); return TRUE;
        case platform::kLogWakeMessage: platform::ShowQueuedLog(); return TRUE;
        default:
            if (shell::IsTaskbarButtonCreated(message)) {
                shell::OnTaskbarButtonCreated(dialog);
                return TRUE;
            }
            // The private messages are reported as handled: the dialog manager
            // has meanings of its own for WM_USER + 1 and + 2.
            const ops::ProgressSnapshot running = ops::ReadProgress();
            if (!shell::OnPrivateMessage(params, message, wParam, lParam)) return FALSE;
            if (running.endMs == 0) shell::LogLineCheckVerdict(running.serial);
            shell::RefreshStatus(dialog);
            return TRUE;
    }
}

bool RegisterMainClass() {
    WNDCLASSA wc;
    std::memset(&wc, 0, sizeof wc);
    wc.style = CS_HREDRAW | CS_VREDRAW;
    wc.lpfnWndProc = DefDlgProcA;
    wc.cbClsExtra = 0;
    wc.cbWndExtra = kWindowExtraBytes;
    wc.hInstance = moduleInstance;
    wc.hIcon = LoadIconA(moduleInstance, MAKEINTRESOURCEA(kIconResource));
    wc.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    wc.lpszMenuName = nullptr;
    wc.lpszClassName = kClassName;
    return RegisterClassA(&wc) != 0;
}

int ShowCodeFromStartup() {
    STARTUPINFOA si;
    std::memset(&si, 0, sizeof si);
    si.cb = sizeof si;
    GetStartupInfoA(&si);
    return (si.dwFlags & STARTF_USESHOWWINDOW) != 0 ? si.wShowWindow : SW_SHOWDEFAULT;
}

// No wait for the device depends on the timer period any more (they end on
// events, and the device's pauses yield their last timer period away); a
// fine timer only lets those pauses sleep where they would otherwise yield.
// Windows 11 may ignore it for a minimized window, which is then no slower.
void RaiseTimerResolution() { timeBeginPeriod(1); }

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    // The wide command line: the 8-bit one has been through the system's code
    // page already, and a name it cannot hold arrives there as a look-alike.
    // The firmware edit holds the path from then on, as given: the firmware
    // commands read it from there, and refuse it there if it cannot be carried.
    int units = 0;
    const wchar_t* tail = shell::FirmwareTail(GetCommandLineW(), &units);
    firmwareTextUnits = units < shell::kChosenTextUnits ? units : shell::kChosenTextUnits;
    std::memcpy(firmwareText, tail, sizeof(wchar_t) * static_cast<size_t>(firmwareTextUnits));
    // Another copy runs: it takes the path and comes forward, and this one ends.
    HWND running = FindWindowA(kClassName, nullptr);
    if (running != nullptr) {
        shell::HandOverToRunningWindow(running, tail, units);
        return 0;
    }

    static ops::OperationParams operationParams;
    std::memset(&operationParams, 0, sizeof operationParams);
    moduleInstance = instance;
    if (!RegisterMainClass()) return 1;

    RaiseTimerResolution();
    // The taskbar button's progress is a COM object of the shell.
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    HWND dialog = CreateDialogParamA(instance, MAKEINTRESOURCEA(kDialogTemplate), nullptr, MainDialogProc,
                                     reinterpret_cast<LPARAM>(&operationParams));
    if (dialog == nullptr) return 1;
    ShowWindow(dialog, ShowCodeFromStartup());
    UpdateWindow(dialog);
    platform::SetMainDialog(dialog);

    // The W calls: the panel's edits are Unicode windows, and a loop of A calls
    // would squeeze every typed character through the system code page on its
    // way to them (Japanese typed on a Western Windows would arrive as '?').
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        if (IsDialogMessageW(dialog, &msg)) continue;
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    return static_cast<int>(msg.wParam);
}
