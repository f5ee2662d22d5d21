// probe.cpp - the verbs that read inside the console through tqprobe.dll: the system menu's checks, fonts,
// texts in their controls, a DPI change.
#include "driver.h"
#include "steps.h"

#include <cwchar>

namespace tqdrive {

namespace {

// tqprobe.dll, beside this program, hooked into the console's UI thread: it answers
// a menu-state or a font query from inside the console's process (see tqprobe.cpp).
class ConsoleProbe {
public:
    // Thread 0: no probe (a hook on thread 0 would hook every thread of the desktop).
    ConsoleProbe(HWND panel, DWORD thread) : panel_(panel) {
        if (!thread) return;
        wchar_t path[MAX_PATH];
        DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
        std::wstring dll(path, n);
        dll = dll.substr(0, dll.find_last_of(L"\\/") + 1) + L"tqprobe.dll";
        module_ = LoadLibraryW(dll.c_str());
        HOOKPROC proc = module_ ? (HOOKPROC)(void*)GetProcAddress(module_, "TqProbeCallWndProc") : nullptr;
        if (proc) hook_ = SetWindowsHookExW(WH_CALLWNDPROC, proc, module_, thread);
    }
    ~ConsoleProbe() {
        if (hook_) UnhookWindowsHookEx(hook_);
        if (module_) FreeLibrary(module_);
    }
    bool Ready() const { return hook_ != nullptr; }
    // The item's state as GetMenuState gives it in the console; false when the
    // probe did not answer.
    bool State(UINT item, UINT* state) {
        if (!Ask(L"tqprobe.menustate", item)) return false;
        *state = (UINT)(UINT_PTR)GetPropW(panel_, L"tqprobe.menustate");
        return true;
    }
    // The face and lfHeight of control id's font in the console; false when the
    // probe did not answer. An empty face: the control has no font set.
    bool Font(int id, std::wstring* face, int* height) {
        if (!Ask(L"tqprobe.font", (WPARAM)id)) return false;
        ATOM atom = (ATOM)(UINT_PTR)GetPropW(panel_, L"tqprobe.fontface");
        wchar_t name[LF_FACESIZE + 1] = {};
        if (atom) {
            GlobalGetAtomNameW(atom, name, LF_FACESIZE + 1);
            GlobalDeleteAtom(atom);
        }
        *face = name;
        *height = (int)(INT_PTR)GetPropW(panel_, L"tqprobe.fontheight");
        return true;
    }
    // Posts WM_DROPFILES for path on control id (0: the log) in the console; false
    // when the probe did not answer.
    bool Drop(int id, const std::wstring& path) {
        ATOM atom = GlobalAddAtomW(path.c_str());
        if (!atom) return false;
        const bool answered = Ask(L"tqprobe.drop", MAKEWPARAM(id, atom));
        GlobalDeleteAtom(atom);
        return answered;
    }
    // The width of control's text in its font and the font's cell height; false
    // when the probe did not answer.
    bool Text(HWND control, int* width, int* cell) {
        if (!Ask(L"tqprobe.text", (WPARAM)control)) return false;
        *width = (int)(INT_PTR)GetPropW(panel_, L"tqprobe.textcx");
        *cell = (int)(INT_PTR)GetPropW(panel_, L"tqprobe.textcy");
        return true;
    }
    // Has the console handle WM_GETDPISCALEDSIZE and WM_DPICHANGED for dpi, *size
    // its answer to the first (0 0: none); false when the probe did not answer.
    bool DpiChanged(UINT dpi, SIZE* size) {
        if (!Ask(L"tqprobe.dpichanged", dpi)) return false;
        size->cx = (LONG)(INT_PTR)GetPropW(panel_, L"tqprobe.scaledcx");
        size->cy = (LONG)(INT_PTR)GetPropW(panel_, L"tqprobe.scaledcy");
        return true;
    }

private:
    // Sends the query with a fresh token; whether the probe answered it.
    bool Ask(const wchar_t* query, WPARAM wParam) {
        LPARAM token = (LPARAM)(++count_ + ((ULONG_PTR)GetTickCount() << 8));
        Send(panel_, RegisterWindowMessageW(query), wParam, token);
        return GetPropW(panel_, L"tqprobe.token") == (HANDLE)token;
    }

    HWND panel_;
    HMODULE module_ = nullptr;
    HHOOK hook_ = nullptr;
    ULONG_PTR count_ = 0;
};

}  // namespace

// Windows lets another process read a window's system menu; Wine keeps menus in the
// owning process and gives other processes no handle. There the state is read from
// inside the console through tqprobe.dll.
void StepMenuCheck(int id, const std::wstring& want, DWORD bound) {
    bool wantChecked = WantFlag(want, "menucheck");
    HWND panel = RequirePanel();
    HMENU menu = GetSystemMenu(panel, FALSE);
    ConsoleProbe probe(panel, menu ? 0 : ConsoleThread());
    if (!menu && !probe.Ready())
        throw StepUnsupported{"no handle for another process's system menu, and tqprobe.dll could not be hooked in"};
    UINT state = 0;
    if (!PollUntil(bound, [&] {
            if (menu) state = GetMenuState(menu, (UINT)id, MF_BYCOMMAND);
            else if (!probe.State((UINT)id, &state)) Fail("tqprobe.dll did not answer in the console");
            return state != (UINT)-1 && ((state & MF_CHECKED) != 0) == wantChecked;
        })) {
        if (state == (UINT)-1) Fail("the system menu has no item " + std::to_string(id));
        Fail("system menu item " + std::to_string(id) + (wantChecked ? " is not checked" : " is checked"));
    }
}

// GDI objects belong to the process that made them, on Windows as under Wine: the
// console's font handle is read inside the console.
void StepFont(int id) {
    RequireControl(id);
    ConsoleProbe probe(RequirePanel(), ConsoleThread());
    if (!probe.Ready()) throw StepUnsupported{"tqprobe.dll could not be hooked into the console"};
    std::wstring face;
    int height = 0;
    int width = 0, cell = 0;
    if (!probe.Font(id, &face, &height) || !probe.Text(RequireControl(id), &width, &cell))
        Fail("tqprobe.dll did not answer in the console");
    if (face.empty()) Fail("control " + std::to_string(id) + " has no font of its own");
    Print(ToUtf8(face) + "\t" + std::to_string(height) + "\t" + std::to_string(cell));
}

// A drop handle belongs to the process that made it (DragQueryFile reads its
// memory): it is made and posted inside the console.
void StepDrop(int id, const std::wstring& path) {
    if (id) RequireControl(id);
    if (path.size() > 255) Fail("drop takes a path of at most 255 characters (a global atom's)");
    ConsoleProbe probe(RequirePanel(), ConsoleThread());
    if (!probe.Ready()) throw StepUnsupported{"tqprobe.dll could not be hooked into the console"};
    if (!probe.Drop(id, path)) Fail("tqprobe.dll did not post the drop in the console");
}

namespace {

// The room a control's text needs in its client area: a button's border (2 pixels)
// and a pixel of space beside the text on either side; a group box's title the
// text; a label, an edit's line and a list's lines the font's cell. Width 0: a text
// of any width (an edit's scrolls; the status text, SS_LEFTNOWORDWRAP, cuts a long
// one by design), where a left label would wrap it out of sight.
struct TextRoom {
    int width;
    int height;
};

TextRoom RoomFor(HWND c, int textWidth, int cell) {
    wchar_t className[32] = L"";
    GetClassNameW(c, className, 32);
    const LONG style = GetWindowLongW(c, GWL_STYLE);
    if (_wcsicmp(className, L"Button") == 0)
        return {textWidth + 6, (style & BS_TYPEMASK) == BS_GROUPBOX ? cell : cell + 4};
    if (_wcsicmp(className, L"Static") == 0) return {(style & SS_TYPEMASK) == SS_LEFT ? textWidth : 0, cell};
    if (_wcsicmp(className, L"Edit") == 0 || _wcsicmp(className, L"ListBox") == 0) return {0, cell};
    return {0, 0};
}

// What the control gives its text: a list its lines' height.
SIZE RoomOf(HWND c) {
    wchar_t className[32] = L"";
    GetClassNameW(c, className, 32);
    RECT client;
    GetClientRect(c, &client);
    if (_wcsicmp(className, L"ListBox") == 0) return {client.right, (LONG)Send(c, LB_GETITEMHEIGHT, 0, 0)};
    return {client.right, client.bottom};
}

std::string Describe(HWND c) {
    wchar_t className[32] = L"";
    GetClassNameW(c, className, 32);
    return "control " + std::to_string(GetDlgCtrlID(c)) + " (" + ToUtf8(className) + " \"" + ToUtf8(WindowText(c)) +
           "\")";
}

bool IsGroupBox(HWND c) {
    wchar_t className[32] = L"";
    GetClassNameW(c, className, 32);
    return _wcsicmp(className, L"Button") == 0 && (GetWindowLongW(c, GWL_STYLE) & BS_TYPEMASK) == BS_GROUPBOX;
}

// Two visible controls that share pixels (a group box holds its controls: it is left out).
std::string Overlaps(const std::vector<HWND>& shown) {
    std::string found;
    for (size_t i = 0; i < shown.size(); ++i) {
        for (size_t j = i + 1; j < shown.size(); ++j) {
            RECT a, b, both;
            GetWindowRect(shown[i], &a);
            GetWindowRect(shown[j], &b);
            if (!IsGroupBox(shown[i]) && !IsGroupBox(shown[j]) && IntersectRect(&both, &a, &b))
                found += "; " + Describe(shown[i]) + " overlaps " + Describe(shown[j]);
        }
    }
    return found;
}

}  // namespace

// Every visible control's text fits its client area as the console's fonts draw it,
// and no two visible controls overlap.
void StepTextFits() {
    HWND panel = RequirePanel();
    ConsoleProbe probe(panel, ConsoleThread());
    if (!probe.Ready()) throw StepUnsupported{"tqprobe.dll could not be hooked into the console"};
    std::vector<HWND> shown;
    std::string cut;
    int tightest = 1 << 20;
    for (HWND c = GetWindow(panel, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
        if (!IsWindowVisible(c)) continue;
        shown.push_back(c);
        int width = 0, cell = 0;
        if (!probe.Text(c, &width, &cell)) Fail("tqprobe.dll did not answer in the console");
        const SIZE has = RoomOf(c);
        const TextRoom room = RoomFor(c, width, cell);
        if (has.cx < room.width || has.cy < room.height)
            cut += "; " + Describe(c) + " gives " + std::to_string(has.cx) + "x" + std::to_string(has.cy) +
                   ", its text needs " + std::to_string(room.width) + "x" + std::to_string(room.height);
        if (room.width > 0) tightest = std::min(tightest, (int)has.cx - room.width);
    }
    cut += Overlaps(shown);
    Print(std::to_string(shown.size()) + " visible controls, the tightest text " + std::to_string(tightest) +
          " pixels within its control");
    if (!cut.empty()) Fail("texts cut or controls overlapping" + cut);
}

void StepDpiChange(int dpi) {
    ConsoleProbe probe(RequirePanel(), ConsoleThread());
    if (!probe.Ready()) throw StepUnsupported{"tqprobe.dll could not be hooked into the console"};
    SIZE size;
    if (!probe.DpiChanged((UINT)dpi, &size)) Fail("tqprobe.dll did not answer in the console");
    if (size.cx <= 0 || size.cy <= 0) Fail("the console did not answer WM_GETDPISCALEDSIZE");
    // The answer holds the frame at the new DPI; under Wine the frame keeps the
    // old one's size (its DPI never changed), so the client areas are compared.
    HWND panel = RequirePanel();
    RECT frame = {0, 0, 0, 0}, client;
    AdjustWindowRectExForDpi(&frame, (DWORD)GetWindowLongW(panel, GWL_STYLE), FALSE,
                             (DWORD)GetWindowLongW(panel, GWL_EXSTYLE), (UINT)dpi);
    GetClientRect(panel, &client);
    const std::string answered = std::to_string(size.cx - (frame.right - frame.left)) + "x" +
                                 std::to_string(size.cy - (frame.bottom - frame.top));
    const std::string got = std::to_string(client.right) + "x" + std::to_string(client.bottom);
    if (answered != got)
        Fail("the client area is " + got + ", not the " + answered + " of the WM_GETDPISCALEDSIZE answer");
    Print(got);
}

}  // namespace tqdrive
