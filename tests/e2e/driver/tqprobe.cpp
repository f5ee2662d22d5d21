// tqprobe.cpp: tqprobe.dll, a window-procedure hook that tqdrive.exe sets on the
// console's UI thread to read what only the console's own process can read.
//
// Wine keeps a window's menus inside the process that owns the window: another
// process gets no handle from GetSystemMenu, so tqdrive cannot see the system
// menu's check mark from outside. Hooked into the console's thread, this DLL
// answers a registered message by reading the menu item's state there and
// leaving it as a window property, which any process can read.
#include <windows.h>

namespace {

// The query: wParam the system menu item, lParam a token that the answer repeats,
// so that the asker can tell a fresh answer from one left by an earlier query.
const wchar_t kQueryMessage[] = L"tqprobe.menustate";
// GetMenuState's result for the item (-1: no such item, or no system menu).
const wchar_t kStateProperty[] = L"tqprobe.menustate";
const wchar_t kTokenProperty[] = L"tqprobe.token";

void AnswerMenuState(HWND window, UINT item, LPARAM token)
{
    HMENU menu = GetSystemMenu(window, FALSE);
    UINT state = menu ? GetMenuState(menu, item, MF_BYCOMMAND) : (UINT)-1;
    SetPropW(window, kStateProperty, (HANDLE)(UINT_PTR)state);
    SetPropW(window, kTokenProperty, (HANDLE)token);
}

} // namespace

extern "C" __declspec(dllexport) LRESULT CALLBACK TqProbeCallWndProc(int code, WPARAM wParam, LPARAM lParam)
{
    static UINT query = RegisterWindowMessageW(kQueryMessage);
    if (code == HC_ACTION) {
        const CWPSTRUCT* call = (const CWPSTRUCT*)lParam;
        if (call->message == query)
            AnswerMenuState(call->hwnd, (UINT)call->wParam, call->lParam);
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID)
{
    return TRUE;
}
