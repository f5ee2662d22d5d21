// tqprobe.cpp - tqprobe.dll, a window-procedure hook that tqdrive.exe sets on the
// console's UI thread to read what only the console's own process can read.
//
// Wine keeps a window's menus inside the process that owns the window: another
// process gets no handle from GetSystemMenu, so tqdrive cannot see the system
// menu's check mark from outside. Hooked into the console's thread, this DLL
// answers a registered message by reading the menu item's state there and
// leaving it as a window property, which any process can read. A font handle
// means nothing in another process either (GDI objects belong to the process
// that made them): a second query reads a control's font face and height, a
// third the extent of a control's text in its font.
#include <windows.h>
#include <shlobj.h>

#include <cstring>
#include <cwchar>

namespace {

// The query: wParam the system menu item, lParam a token that the answer repeats,
// so that the asker can tell a fresh answer from one left by an earlier query.
const wchar_t kQueryMessage[] = L"tqprobe.menustate";
// GetMenuState's result for the item (-1: no such item, or no system menu).
const wchar_t kStateProperty[] = L"tqprobe.menustate";
const wchar_t kTokenProperty[] = L"tqprobe.token";
// The font query: wParam the control id, lParam the token. The answer: the face
// as a global atom (the asker deletes it), and lfHeight; atom 0 when the
// control has no font of its own.
const wchar_t kFontQueryMessage[] = L"tqprobe.font";
const wchar_t kFaceProperty[] = L"tqprobe.fontface";
const wchar_t kHeightProperty[] = L"tqprobe.fontheight";
// The DPI query: wParam a DPI. The window is sent what Windows sends it when it
// reaches a monitor of that DPI (Wine sends neither), from its own thread:
// WM_GETDPISCALEDSIZE with its size now, whose answer is left as two window
// properties, then WM_DPICHANGED with its own place and that size.
const wchar_t kDpiQueryMessage[] = L"tqprobe.dpichanged";
const wchar_t kScaledWidthProperty[] = L"tqprobe.scaledcx";
const wchar_t kScaledHeightProperty[] = L"tqprobe.scaledcy";
const UINT kGetDpiScaledSize = 0x02E4;
// The drop query: wParam the control the file is dropped on (0: the middle of the
// log), lParam a global atom holding the path (the asker deletes it). The window is
// posted WM_DROPFILES with a drop handle made here, in its own process, as the
// shell's drag and drop makes one; the token property answers once it is posted.
const wchar_t kDropQueryMessage[] = L"tqprobe.drop";
// The text query: wParam a control's window (any of the console's, labels without
// an id too). The answer: the width of its text drawn in its font, and the cell
// height of that font (tmHeight), as the system gives it.
const wchar_t kTextQueryMessage[] = L"tqprobe.text";
const wchar_t kTextWidthProperty[] = L"tqprobe.textcx";
const wchar_t kCellHeightProperty[] = L"tqprobe.textcy";

void AnswerMenuState(HWND window, UINT item, LPARAM token) {
    HMENU menu = GetSystemMenu(window, FALSE);
    UINT state = menu ? GetMenuState(menu, item, MF_BYCOMMAND) : (UINT)-1;
    SetPropW(window, kStateProperty, (HANDLE)(UINT_PTR)state);
    SetPropW(window, kTokenProperty, (HANDLE)token);
}

void AnswerFont(HWND window, int id, LPARAM token) {
    HWND control = GetDlgItem(window, id);
    HFONT font = control ? (HFONT)SendMessageW(control, WM_GETFONT, 0, 0) : nullptr;
    LOGFONTW lf = {};
    ATOM face = 0;
    if (font && GetObjectW(font, sizeof lf, &lf)) face = GlobalAddAtomW(lf.lfFaceName[0] ? lf.lfFaceName : L"?");
    SetPropW(window, kFaceProperty, (HANDLE)(UINT_PTR)face);
    SetPropW(window, kHeightProperty, (HANDLE)(INT_PTR)lf.lfHeight);
    SetPropW(window, kTokenProperty, (HANDLE)token);
}

void AnswerText(HWND window, HWND control, LPARAM token) {
    wchar_t text[512];
    const int length = GetWindowTextW(control, text, 512);
    HDC dc = GetDC(control);
    HGDIOBJ old = SelectObject(dc, (HFONT)SendMessageW(control, WM_GETFONT, 0, 0));
    SIZE size = {0, 0};
    TEXTMETRICW metrics = {};
    if (length > 0) GetTextExtentPoint32W(dc, text, length, &size);
    GetTextMetricsW(dc, &metrics);
    SelectObject(dc, old);
    ReleaseDC(control, dc);
    SetPropW(window, kTextWidthProperty, (HANDLE)(INT_PTR)size.cx);
    SetPropW(window, kCellHeightProperty, (HANDLE)(INT_PTR)metrics.tmHeight);
    SetPropW(window, kTokenProperty, (HANDLE)token);
}

void SendDpiChanged(HWND window, UINT dpi, LPARAM token) {
    RECT suggested;
    GetWindowRect(window, &suggested);
    SIZE size = {suggested.right - suggested.left, suggested.bottom - suggested.top};
    if (!SendMessageW(window, kGetDpiScaledSize, MAKEWPARAM(dpi, dpi), (LPARAM)&size)) size = {0, 0};
    SetPropW(window, kScaledWidthProperty, (HANDLE)(INT_PTR)size.cx);
    SetPropW(window, kScaledHeightProperty, (HANDLE)(INT_PTR)size.cy);
    if (size.cx > 0 && size.cy > 0) {
        suggested.right = suggested.left + size.cx;
        suggested.bottom = suggested.top + size.cy;
    }
    SendMessageW(window, WM_DPICHANGED, MAKEWPARAM(dpi, dpi), (LPARAM)&suggested);
    SetPropW(window, kTokenProperty, (HANDLE)token);
}

// A DROPFILES header, the path's units, and the two NULs that end the list.
HGLOBAL MakeDrop(const wchar_t* path, POINT at) {
    const size_t units = wcslen(path);
    HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, sizeof(DROPFILES) + (units + 2) * sizeof(wchar_t));
    if (!memory) return nullptr;
    DROPFILES* drop = (DROPFILES*)GlobalLock(memory);
    drop->pFiles = sizeof(DROPFILES);
    drop->pt = at;
    drop->fNC = FALSE;
    drop->fWide = TRUE;
    memcpy(drop + 1, path, units * sizeof(wchar_t));
    GlobalUnlock(memory);
    return memory;
}

void PostDrop(HWND window, int id, ATOM atom, LPARAM token) {
    wchar_t path[256] = {};
    GlobalGetAtomNameW(atom, path, 256);
    HWND target = GetDlgItem(window, id ? id : 100);
    RECT r = {0, 0, 0, 0};
    if (target) {
        GetWindowRect(target, &r);
        MapWindowPoints(nullptr, window, (POINT*)&r, 2);
    }
    POINT at = {(r.left + r.right) / 2, (r.top + r.bottom) / 2};
    HGLOBAL drop = MakeDrop(path, at);
    if (drop && PostMessageW(window, WM_DROPFILES, (WPARAM)drop, 0)) SetPropW(window, kTokenProperty, (HANDLE)token);
}

}  // namespace

extern "C" __declspec(dllexport) LRESULT CALLBACK TqProbeCallWndProc(int code, WPARAM wParam, LPARAM lParam) {
    static UINT query = RegisterWindowMessageW(kQueryMessage);
    static UINT fontQuery = RegisterWindowMessageW(kFontQueryMessage);
    static UINT dpiQuery = RegisterWindowMessageW(kDpiQueryMessage);
    static UINT dropQuery = RegisterWindowMessageW(kDropQueryMessage);
    static UINT textQuery = RegisterWindowMessageW(kTextQueryMessage);
    if (code == HC_ACTION) {
        const CWPSTRUCT* call = (const CWPSTRUCT*)lParam;
        if (call->message == query) AnswerMenuState(call->hwnd, (UINT)call->wParam, call->lParam);
        else if (call->message == fontQuery) AnswerFont(call->hwnd, (int)call->wParam, call->lParam);
        else if (call->message == dpiQuery) SendDpiChanged(call->hwnd, (UINT)call->wParam, call->lParam);
        else if (call->message == dropQuery)
            PostDrop(call->hwnd, LOWORD(call->wParam), HIWORD(call->wParam), call->lParam);
        else if (call->message == textQuery) AnswerText(call->hwnd, (HWND)call->wParam, call->lParam);
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) { return TRUE; }
