// service_panel_win32.cpp - the service panel's controls, their places, and
// its menu item.
//
// The panel's controls are children of the main dialog itself, so that the
// dispatcher reads and writes them by id like the template's own controls and
// the dialog manager takes them into its tab order. They are created from
// WM_INITDIALOG and stay for the dialog's life; showing the panel makes them
// visible and has the window laid out for them (window_layout_win32.cpp).
#include "shell/service_panel_win32.h"

#include <array>
#include <cstddef>

#include "shell/command_ids.h"

namespace shell {

namespace {

// A row label is a label that begins a dialog group as a group box does: a
// row of its own, outside the boxes.
enum class Kind { Group, Label, RowLabel, Button, Edit, DropList };

struct PanelControl {
    Kind kind;
    int id;
    const wchar_t* text;
    int x, y, cx, cy;  // dialog units, the panel's area beginning at kTableTop
};

// Group boxes and labels are never addressed by id.
constexpr int kNoId = -1;

// The table below places the panel's area at the bottom of template 100's.
constexpr int kTableTop = 257;

// Characters an operator may type into a parameter text (the block's field
// with its terminating NUL fills the dispatcher's 256-byte control text).
constexpr int kParamTextChars = 255;

// In tab order: the left column (flash transfer, parameter blocks), then the
// right one (clock, pattern, other), then the firmware row. Each label comes
// right before its edit.
constexpr PanelControl kControls[] = {
    {Kind::Group, kNoId, L"flash transfer", 7, 262, 316, 88},
    {Kind::Label, kNoId, L"start address", 14, 277, 54, 8},
    {Kind::Edit, kIdStartAddressEdit, L"", 70, 274, 70, 14},
    {Kind::Label, kNoId, L"length", 150, 277, 28, 8},
    {Kind::Edit, kIdLengthEdit, L"", 180, 274, 70, 14},
    {Kind::Label, kNoId, L"file", 14, 295, 54, 8},
    {Kind::Edit, kIdFileEdit, L"", 70, 292, 162, 14},
    {Kind::Button, kIdBrowseOpen, L"open...", 234, 292, 40, 14},
    {Kind::Button, kIdBrowseSave, L"save...", 276, 292, 40, 14},
    {Kind::Button, kIdFlashWrite, L"flash write", 70, 312, 60, 14},
    {Kind::Button, kIdFlashRead, L"flash read", 136, 312, 60, 14},
    {Kind::Button, kIdFlashErase, L"flash erase", 202, 312, 60, 14},
    {Kind::Button, kIdFlashVerify, L"flash verify", 70, 330, 60, 14},
    {Kind::Button, kIdFirmwareVerify, L"verify firmware", 136, 330, 80, 14},

    {Kind::Group, kNoId, L"parameter blocks", 7, 356, 316, 86},
    {Kind::Label, kNoId, L"block 0 text 1", 14, 373, 58, 8},
    {Kind::Edit, kIdParamFirstText0 + 0, L"", 74, 370, 80, 14},
    {Kind::Label, kNoId, L"text 2", 160, 373, 26, 8},
    {Kind::Edit, kIdParamSecondText0 + 0, L"", 188, 370, 80, 14},
    {Kind::Button, kIdParamBlock0 + 0, L"param 0", 274, 370, 42, 14},
    {Kind::Label, kNoId, L"block 1 text 1", 14, 391, 58, 8},
    {Kind::Edit, kIdParamFirstText0 + 1, L"", 74, 388, 80, 14},
    {Kind::Label, kNoId, L"text 2", 160, 391, 26, 8},
    {Kind::Edit, kIdParamSecondText0 + 1, L"", 188, 388, 80, 14},
    {Kind::Button, kIdParamBlock0 + 1, L"param 1", 274, 388, 42, 14},
    {Kind::Label, kNoId, L"block 2 text 1", 14, 409, 58, 8},
    {Kind::Edit, kIdParamFirstText0 + 2, L"", 74, 406, 80, 14},
    {Kind::Label, kNoId, L"text 2", 160, 409, 26, 8},
    {Kind::Edit, kIdParamSecondText0 + 2, L"", 188, 406, 80, 14},
    {Kind::Button, kIdParamBlock0 + 2, L"param 2", 274, 406, 42, 14},
    {Kind::Label, kNoId, L"block 3 text 1", 14, 427, 58, 8},
    {Kind::Edit, kIdParamFirstText0 + 3, L"", 74, 424, 80, 14},
    {Kind::Label, kNoId, L"text 2", 160, 427, 26, 8},
    {Kind::Edit, kIdParamSecondText0 + 3, L"", 188, 424, 80, 14},
    {Kind::Button, kIdParamBlock0 + 3, L"param 3", 274, 424, 42, 14},

    {Kind::Group, kNoId, L"clock", 329, 262, 73, 50},
    {Kind::Button, kIdSetClock, L"set clock", 336, 274, 59, 14},
    {Kind::Button, kIdReadClock, L"read clock", 336, 292, 59, 14},

    {Kind::Group, kNoId, L"pattern", 329, 318, 73, 50},
    {Kind::Button, kIdSequenceStart, L"pattern start", 336, 330, 59, 14},
    {Kind::Button, kIdSequenceStop, L"pattern stop", 336, 348, 59, 14},

    {Kind::Group, kNoId, L"other", 329, 374, 73, 50},
    {Kind::Button, kIdRequest62, L"request 62", 336, 386, 59, 14},
    {Kind::Button, kIdClearLog, L"clear log", 336, 404, 59, 14},

    // Across the bottom, last in the tab order: the file the firmware commands
    // load, then the ports the system has and the line check. Rows without a
    // box, so that the panel stays low enough for a 1366 x 768 screen.
    {Kind::RowLabel, kNoId, L"firmware", 14, 448, 54, 8},
    {Kind::Edit, kIdFirmwareEdit, L"", 70, 445, 306, 14},
    {Kind::Button, kIdFirmwareBrowse, L"...", 380, 445, 18, 14},
    // A drop-down list's height is its list's when dropped.
    {Kind::RowLabel, kNoId, L"ports", 14, 466, 54, 8},
    {Kind::DropList, kIdPortList, L"", 70, 463, 256, 110},
    {Kind::Button, kIdCheckLine, L"check line", 330, 463, 68, 14},
};

constexpr size_t kControlCount = sizeof kControls / sizeof kControls[0];

std::array<HWND, kControlCount> panelWindows{};  // kControls' windows, same order
bool panelShown = false;

bool IsParamText(int id) { return id >= kIdParamFirstText0 && id < kIdParamSecondText0 + kParamBlocks; }

// Window class and styles of one panel control. The first focusable control
// after a group box starts a new dialog group, so that the arrow keys stay
// inside the box.
const wchar_t* ClassAndStyle(const PanelControl& c, bool startsGroup, DWORD* style, DWORD* exStyle) {
    *style = WS_CHILD;  // hidden until the panel is shown
    *exStyle = 0;
    switch (c.kind) {
        case Kind::Group: *style |= BS_GROUPBOX | WS_GROUP; return L"BUTTON";
        case Kind::Label:
        case Kind::RowLabel: *style |= SS_LEFT | SS_NOPREFIX; return L"STATIC";
        case Kind::Button: *style |= BS_PUSHBUTTON | WS_TABSTOP | (startsGroup ? WS_GROUP : 0); return L"BUTTON";
        case Kind::DropList:
            *style |= CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP | (startsGroup ? WS_GROUP : 0);
            return L"COMBOBOX";
        case Kind::Edit:
            *style |= ES_LEFT | ES_AUTOHSCROLL | WS_TABSTOP | (startsGroup ? WS_GROUP : 0);
            *exStyle = WS_EX_CLIENTEDGE;
            return L"EDIT";
    }
    return L"STATIC";
}

// The W call makes every panel control a Unicode window, so that an
// operator's Japanese text is kept as typed whatever the system code page.
// The layout gives it its place and size.
HWND CreatePanelControl(HWND dialog, const PanelControl& c, bool startsGroup, HINSTANCE instance) {
    DWORD style = 0;
    DWORD exStyle = 0;
    const wchar_t* className = ClassAndStyle(c, startsGroup, &style, &exStyle);
    HMENU id = reinterpret_cast<HMENU>(static_cast<INT_PTR>(c.id));
    return CreateWindowExW(exStyle, className, c.text, style, 0, 0, 0, 0, dialog, id, instance, nullptr);
}

void FocusLogIfInPanel(HWND dialog) {
    HWND focus = GetFocus();
    for (HWND w : panelWindows) {
        if (w != nullptr && (focus == w || IsChild(w, focus))) {
            SendMessageW(dialog, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(GetDlgItem(dialog, kIdLog)), TRUE);
            return;
        }
    }
}

}  // namespace

void CreateServicePanel(HWND dialog) {
    HINSTANCE instance = reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(dialog, GWLP_HINSTANCE));
    const WPARAM font = static_cast<WPARAM>(SendMessageW(dialog, WM_GETFONT, 0, 0));
    // The tab order is the z-order: each control goes right behind the one
    // before, the first behind the template's last control.
    HWND previous = GetWindow(GetWindow(dialog, GW_CHILD), GW_HWNDLAST);
    bool startsGroup = false;
    for (size_t i = 0; i < kControlCount; ++i) {
        const PanelControl& c = kControls[i];
        HWND w = CreatePanelControl(dialog, c, startsGroup, instance);
        panelWindows[i] = w;
        startsGroup = c.kind == Kind::Group || c.kind == Kind::RowLabel || (startsGroup && c.kind == Kind::Label);
        if (w == nullptr) continue;
        SendMessageW(w, WM_SETFONT, font, FALSE);
        // The number edits too: a longer text would be read cut, and a cut
        // number text is another number.
        if (IsParamText(c.id) || c.id == kIdStartAddressEdit || c.id == kIdLengthEdit) {
            SendMessageW(w, EM_LIMITTEXT, kParamTextChars, 0);
        }
        if (previous != nullptr) {
            SetWindowPos(w, previous, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
        }
        previous = w;
    }
}

void PlaceServicePanel(const DialogUnits& units, int top) {
    for (size_t i = 0; i < kControlCount; ++i) {
        const PanelControl& c = kControls[i];
        const RECT r = ToPixels(units, c.x, c.y - kTableTop + top, c.cx, c.cy);
        if (panelWindows[i] != nullptr) {
            SetWindowPos(panelWindows[i], nullptr, r.left, r.top, r.right - r.left, r.bottom - r.top,
                         SWP_NOZORDER | SWP_NOACTIVATE);
        }
    }
}

bool ServicePanelShown() { return panelShown; }

void AddServicePanelMenuItem(HWND dialog) {
    HMENU menu = GetSystemMenu(dialog, FALSE);
    if (menu == nullptr) return;
    AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
    AppendMenuW(menu, MF_STRING | MF_UNCHECKED, kSysCmdServicePanel, L"Service panel");
}

void SetServicePanelShown(HWND dialog, bool shown) {
    panelShown = shown;
    CheckMenuItem(GetSystemMenu(dialog, FALSE), kSysCmdServicePanel,
                  MF_BYCOMMAND | (panelShown ? MF_CHECKED : MF_UNCHECKED));
}

void ShowServicePanelControls(HWND dialog, bool shown) {
    // A hidden control keeps no focus the dialog manager could give back.
    if (!shown) FocusLogIfInPanel(dialog);
    for (HWND w : panelWindows) {
        if (w != nullptr) ShowWindow(w, shown ? SW_SHOWNA : SW_HIDE);
    }
}

}  // namespace shell
