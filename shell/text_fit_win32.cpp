// text_fit_win32.cpp - labels and buttons widened to their texts.
//
// The layout places every control in dialog units, which come from the mean
// width of a font's letters; a text of capitals in a proportional face, or a
// button's text with the room its border takes, can need more than its
// template gave it. Each text is measured here in the control's own font as
// the system draws it, and the control widened where it must be.
#include "shell/text_fit_win32.h"

#include <algorithm>
#include <cwchar>

namespace shell {

namespace {

// A label and a group box's title run from their left edge, and grow to the
// right; a button's text is centred, and it grows on both sides.
enum class Kind { Other, Label, GroupBox, Button };

Kind KindOf(HWND w) {
    wchar_t className[16] = L"";
    GetClassNameW(w, className, 16);
    const LONG style = GetWindowLongW(w, GWL_STYLE);
    if (_wcsicmp(className, L"Button") == 0) {
        const LONG type = style & BS_TYPEMASK;
        if (type == BS_PUSHBUTTON || type == BS_DEFPUSHBUTTON) return Kind::Button;
        return type == BS_GROUPBOX ? Kind::GroupBox : Kind::Other;
    }
    // A left-aligned label wraps a text too long for it, and its next line is
    // out of sight. Other statics (the status text) cut their texts by design.
    if (_wcsicmp(className, L"Static") == 0 && (style & SS_TYPEMASK) == SS_LEFT) return Kind::Label;
    return Kind::Other;
}

// The width the control's text needs in its font: the text, and for a
// button or a group box half a character beside it on either side, where the
// border and the frame's gap are drawn.
int NeededWidth(HWND w, Kind kind) {
    wchar_t text[128];
    const int length = GetWindowTextW(w, text, 128);
    if (length <= 0) return 0;
    HDC dc = GetDC(w);
    HGDIOBJ old = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(w, WM_GETFONT, 0, 0)));
    SIZE size = {0, 0};
    TEXTMETRICW metrics;
    int needed = 0;
    if (GetTextExtentPoint32W(dc, text, length, &size) && GetTextMetricsW(dc, &metrics)) {
        const int beside = kind == Kind::Label ? 0 : std::max(3, static_cast<int>(metrics.tmAveCharWidth) / 2);
        needed = size.cx + 2 * beside;
    }
    SelectObject(dc, old);
    ReleaseDC(w, dc);
    return needed;
}

void Widen(HWND dialog, HWND w, Kind kind, int needed) {
    RECT r;
    GetWindowRect(w, &r);
    MapWindowPoints(HWND_DESKTOP, dialog, reinterpret_cast<POINT*>(&r), 2);
    const int more = needed - (r.right - r.left);
    if (more <= 0) return;
    r.left -= kind == Kind::Button ? more / 2 : 0;
    r.right = r.left + needed;
    RECT client;
    GetClientRect(dialog, &client);
    const int shift = std::max(0, static_cast<int>(r.right - client.right));
    r.left = std::max(client.left, r.left - shift);
    r.right = std::min(client.right, r.left + needed);
    SetWindowPos(w, nullptr, r.left, r.top, r.right - r.left, r.bottom - r.top, SWP_NOZORDER | SWP_NOACTIVATE);
}

}  // namespace

void WidenToTexts(HWND dialog) {
    for (HWND w = GetWindow(dialog, GW_CHILD); w != nullptr; w = GetWindow(w, GW_HWNDNEXT)) {
        const Kind kind = KindOf(w);
        if (kind != Kind::Other) Widen(dialog, w, kind, NeededWidth(w, kind));
    }
}

}  // namespace shell
