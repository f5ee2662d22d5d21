// window_layout_win32.cpp - the main window's layout: the template's controls,
// the service panel and the status strip, and the window's size and place.
//
// Everything is placed in dialog units, mapped with the units of the fonts the
// controls have now, each time the window is laid out: at start-up, when the
// panel is shown or hidden, when the window reaches a monitor with another DPI
// and when the work area changes. With the panel hidden the template's
// controls stand where template 100 puts them. With the panel shown the log is
// shortened and the template's buttons move up beside it, and the panel takes
// the room below: the window is then 409 x 325 dialog units instead of
// 409 x 496 (with Windows' FixedSys of 8 x 15 pixels at 100 %, a client area of
// 818 x 609 pixels: a 1366 x 768 screen has room for it and its taskbar). A
// scalable font in FixedSys's place (as under Wine) makes larger units, and
// FixedSys doubled by GDI at 175 % and 200 % makes the window about
// 1636 x 1218 pixels: either can make the window larger than the work area;
// the fonts are then made smaller (in a face that comes in every size where
// FixedSys cannot be) until the window fits, so that every control can always
// be reached. Labels and buttons are then widened to their texts as measured
// in the fonts they got (text_fit_win32.cpp).
#include "shell/window_layout_win32.h"

#include <algorithm>

#include "shell/command_ids.h"
#include "shell/operator_log_win32.h"
#include "shell/service_panel_win32.h"
#include "shell/status_strip_win32.h"
#include "shell/text_fit_win32.h"
#include "shell/window_fonts_win32.h"

namespace shell {

namespace {

// Template 100's client area in dialog units.
constexpr int kTemplateWidth = 409;
constexpr int kTemplateHeight = 257;
// With the panel shown, the template's controls fill a band this high and the
// panel's area begins below it.
constexpr int kCompactHeight = 86;

// Scale of the fonts, in permille of the template's size, while fitting.
constexpr int kFullScale = 1000;
// Texts smaller than this are hard to read: at 225 % it is still 0.8 of the
// 100 % size, which a 1366 x 768 screen at 225 % needs for the panel.
constexpr int kSmallestScale = 350;
constexpr int kScaleStep = 25;  // the least a refit shrinks by
constexpr int kFitAttempts = 12;

// The template's "COM" label carries id -1, as the panel's labels do.
constexpr int kComLabelId = 0xFFFF;

struct TemplatePlace {
    int id;
    int x, y, cx, cy;         // as template 100 places it
    int compactY, compactCy;  // with the panel shown
};

// In the template's order, which is also its controls' z-order.
constexpr TemplatePlace kTemplatePlaces[] = {
    {kIdLog, 7, 3, 310, 250, 3, 81},           {kComLabelId, 343, 7, 13, 8, 7, 8},
    {kIdPortEdit, 368, 3, 30, 14, 3, 14},      {kIdOpen, 326, 20, 32, 14, 20, 14},
    {kIdClose, 367, 20, 32, 14, 20, 14},       {kIdApStop, 324, 183, 38, 11, 38, 11},
    {kIdApResume, 367, 183, 38, 11, 38, 11},   {kIdRecovery, 322, 220, 40, 14, 53, 14},
    {kIdFarmUpdate, 321, 239, 41, 14, 70, 14},
};

int currentDpi = 96;

void Move(HWND w, const RECT& r) {
    SetWindowPos(w, nullptr, r.left, r.top, r.right - r.left, r.bottom - r.top, SWP_NOZORDER | SWP_NOACTIVATE);
}

// The template's controls are the dialog's first children; the COM label is
// found by its place, since the panel's labels share its id.
void PlaceTemplate(HWND dialog, const DialogUnits& units, bool compact) {
    HWND w = GetWindow(dialog, GW_CHILD);
    for (const TemplatePlace& p : kTemplatePlaces) {
        if (w == nullptr) return;
        if (GetDlgCtrlID(w) == p.id) {
            Move(w, ToPixels(units, p.x, compact ? p.compactY : p.y, p.cx, compact ? p.compactCy : p.cy));
        }
        w = GetWindow(w, GW_HWNDNEXT);
    }
}

int ClientHeight(bool panelShown) {
    return (panelShown ? kCompactHeight + kPanelAreaHeight : kTemplateHeight) + kStatusStripHeight;
}

SIZE ClientPixels(const DialogUnits& units, bool panelShown) {
    const RECT r = ToPixels(units, 0, 0, kTemplateWidth, ClientHeight(panelShown));
    return {r.right, r.bottom};
}

// The frame and caption around a client area at this DPI.
SIZE OuterPixels(HWND dialog, SIZE client, int dpi) {
    using AdjustForDpi = BOOL(WINAPI*)(RECT*, DWORD, BOOL, DWORD, UINT);
    // Windows 10 1607 and later; before, every window has the system's DPI.
    static const auto adjustForDpi = NewerUser32Function<AdjustForDpi>("AdjustWindowRectExForDpi");
    RECT r = {0, 0, client.cx, client.cy};
    const DWORD style = static_cast<DWORD>(GetWindowLongW(dialog, GWL_STYLE));
    const DWORD exStyle = static_cast<DWORD>(GetWindowLongW(dialog, GWL_EXSTYLE));
    if (adjustForDpi != nullptr) {
        adjustForDpi(&r, style, FALSE, exStyle, static_cast<UINT>(dpi));
    } else {
        AdjustWindowRectEx(&r, style, FALSE, exStyle);
    }
    return {r.right - r.left, r.bottom - r.top};
}

RECT WorkArea(HMONITOR monitor) {
    MONITORINFO info;
    info.cbSize = sizeof info;
    if (monitor != nullptr && GetMonitorInfoW(monitor, &info)) return info.rcWork;
    RECT work;
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    return work;
}

bool FitsWorkArea(HWND dialog, const FontPlan& plan, const RECT& work, bool panelShown, SIZE* client, SIZE* outer) {
    *client = ClientPixels(MeasureWindowFonts(dialog, plan), panelShown);
    *outer = OuterPixels(dialog, *client, plan.dpi);
    return outer->cx <= work.right - work.left && outer->cy <= work.bottom - work.top;
}

// The fonts with which the window fits the work area: the template's at its
// full size when they fit as the system really gives them, else the largest
// smaller scale that fits. A bitmap font (Windows' FixedSys, which GDI
// doubles from about 150 % up) cannot be made a little smaller: the scalable
// face stands in for it then.
FontPlan FittingPlan(HWND dialog, int dpi, const RECT& work, bool panelShown) {
    FontPlan plan = {dpi, kFullScale, false};
    SIZE client;
    SIZE outer;
    if (FitsWorkArea(dialog, plan, work, panelShown, &client, &outer)) return plan;
    plan.scalableFace = !TemplateFontScales();
    for (int attempt = 1; attempt < kFitAttempts && plan.permille > kSmallestScale; ++attempt) {
        if (FitsWorkArea(dialog, plan, work, panelShown, &client, &outer)) break;
        // Only the client area shrinks with the fonts; the frame stays.
        const int byWidth = MulDiv(plan.permille, work.right - work.left - (outer.cx - client.cx), client.cx);
        const int byHeight = MulDiv(plan.permille, work.bottom - work.top - (outer.cy - client.cy), client.cy);
        plan.permille = std::max(kSmallestScale, std::min({byWidth, byHeight, plan.permille - kScaleStep}));
    }
    return plan;
}

int Clamp(int value, int low, int high) { return std::max(low, std::min(value, high)); }

// Sizes the window around the client area, inside the work area, as near to
// topLeft as it can be; then corrects the size once by what the frame truly
// took.
void SizeWindow(HWND dialog, POINT topLeft, SIZE client, int dpi, const RECT& work) {
    SIZE outer = OuterPixels(dialog, client, dpi);
    for (int pass = 0; pass < 2; ++pass) {
        const int x = Clamp(topLeft.x, work.left, std::max(work.left, work.right - outer.cx));
        const int y = Clamp(topLeft.y, work.top, std::max(work.top, work.bottom - outer.cy));
        SetWindowPos(dialog, nullptr, x, y, outer.cx, outer.cy, SWP_NOZORDER | SWP_NOACTIVATE);
        RECT now;
        GetClientRect(dialog, &now);
        if (now.right == client.cx && now.bottom == client.cy) return;
        outer.cx += client.cx - now.right;
        outer.cy += client.cy - now.bottom;
    }
}

void LayOutAt(HWND dialog, int dpi, POINT topLeft, HMONITOR monitor) {
    currentDpi = dpi;
    const bool panelShown = ServicePanelShown();
    const RECT work = WorkArea(monitor);
    const DialogUnits units = ApplyWindowFonts(dialog, FittingPlan(dialog, dpi, work, panelShown));
    SizeWindow(dialog, topLeft, ClientPixels(units, panelShown), dpi, work);
    PlaceTemplate(dialog, units, panelShown);
    KeepSelectedLineInView(dialog);
    PlaceServicePanel(units, panelShown ? kCompactHeight : kTemplateHeight);
    PlaceStatusStrip(dialog, units, ClientHeight(panelShown) - kStatusStripHeight);
    WidenToTexts(dialog);
    RedrawWindow(dialog, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
}

POINT TopLeftOf(HWND dialog) {
    RECT r;
    GetWindowRect(dialog, &r);
    return {r.left, r.top};
}

// Windows 10 1703 and later scale a per-monitor dialog by themselves when its
// DPI changes, but only the template's controls and only by the DPI ratio;
// the layout here does all of it.
void TakeOverDpiScaling(HWND dialog) {
    using SetBehavior = BOOL(WINAPI*)(HWND, int, int);
    constexpr int kDisableAll = 1;  // DDC_DISABLE_ALL
    const auto set = NewerUser32Function<SetBehavior>("SetDialogDpiChangeBehavior");
    if (set != nullptr) set(dialog, kDisableAll, kDisableAll);
}

}  // namespace

void InitWindowLayout(HWND dialog) {
    InitWindowFonts(dialog);
    TakeOverDpiScaling(dialog);
    LayOutAt(dialog, TemplateDpi(), TopLeftOf(dialog), MonitorFromWindow(dialog, MONITOR_DEFAULTTONEAREST));
}

void LayOutWindow(HWND dialog) {
    LayOutAt(dialog, currentDpi, TopLeftOf(dialog), MonitorFromWindow(dialog, MONITOR_DEFAULTTONEAREST));
}

// The monitor the window reaches is not known yet: the one it is on stands in.
void OnGetDpiScaledSize(HWND dialog, int dpi, SIZE* size) {
    const bool panelShown = ServicePanelShown();
    const RECT work = WorkArea(MonitorFromWindow(dialog, MONITOR_DEFAULTTONEAREST));
    const FontPlan plan = FittingPlan(dialog, dpi, work, panelShown);
    *size = OuterPixels(dialog, ClientPixels(MeasureWindowFonts(dialog, plan), panelShown), dpi);
}

void OnDpiChanged(HWND dialog, int dpi, const RECT& suggested) {
    LayOutAt(dialog, dpi, {suggested.left, suggested.top}, MonitorFromRect(&suggested, MONITOR_DEFAULTTONEAREST));
}

void ToggleServicePanel(HWND dialog) {
    // Chosen from the taskbar while minimized: the operator wants to see it.
    if (IsIconic(dialog)) ShowWindow(dialog, SW_RESTORE);
    const bool shown = !ServicePanelShown();
    SetServicePanelShown(dialog, shown);
    if (shown) {
        LayOutWindow(dialog);
        ShowServicePanelControls(dialog, true);
    } else {
        ShowServicePanelControls(dialog, false);
        LayOutWindow(dialog);
    }
}

}  // namespace shell
