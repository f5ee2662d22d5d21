// window_fonts_win32.cpp - the fonts of the main window's controls.
//
// The template's font is FixedSys, a bitmap font tied to one code page with no
// font linking: on a Windows whose ANSI code page is not 932 it has no
// Japanese glyphs, and the log's CP932 texts (converted to UTF-16 on their way
// in) would show as "?". There the controls that show Japanese texts get a
// font that has the glyphs: a monospaced Japanese face when the system has one
// (MS Gothic first), else the message font, which Windows links to its
// Japanese fonts. On a 932 system they keep the template's font.
//
// A bitmap font is drawn at one of its few cell heights whatever height was
// asked for (FixedSys: 15 pixels for the template's 14 at 96 DPI, where a
// scalable font would be 19 pixels high), and from about 150 % up GDI doubles
// it. So every size here is taken from the font as the system gives it: the
// Japanese font gets the cell height of the font beside it, and the layout
// the units the font really makes.
//
// The window may also need its fonts at another DPI (moved to another
// monitor) or smaller than the template's (a screen too small for the window
// at the template's size); the controls then get fonts made from the
// template's, or, where the template's face cannot be made smaller (a bitmap
// font), the Japanese face in its place, which comes in every size; the
// layout follows the dialog units those make.
#include "shell/window_fonts_win32.h"

#include <algorithm>
#include <cstring>
#include <cwchar>

#include "shell/command_ids.h"

namespace shell {

namespace {

constexpr UINT kJapaneseCodePage = 932;
constexpr int kFullScale = 1000;  // permille
// Windows' monospaced Japanese face; Western systems often carry it too.
constexpr wchar_t kPreferredFace[] = L"MS Gothic";

LOGFONTW templateFont;           // as the dialog manager made it from the template
HFONT templateHandle = nullptr;  // the dialog manager's; never deleted here
int templateDpi = 96;
DialogUnits templateUnits = {8, 16};
bool templateScales = false;
bool wantJapanese = false;  // the ANSI code page is not 932
LOGFONTW scalableFont;      // the Japanese face; the height is set per use
HFONT uiFont = nullptr;     // made here, or null while the template's serves
HFONT japaneseHandle = nullptr;

// Keeps the first monospaced face listed, or the preferred one, which ends the
// listing. An '@' face is the same font turned for vertical writing.
int CALLBACK OnJapaneseFace(const LOGFONTW* font, const TEXTMETRICW*, DWORD, LPARAM param) {
    wchar_t* face = reinterpret_cast<wchar_t*>(param);
    if ((font->lfPitchAndFamily & 3) != FIXED_PITCH || font->lfFaceName[0] == L'@') return 1;
    const bool preferred = std::wcscmp(font->lfFaceName, kPreferredFace) == 0;
    if (preferred || face[0] == L'\0') {
        std::wcsncpy(face, font->lfFaceName, LF_FACESIZE - 1);
        face[LF_FACESIZE - 1] = L'\0';
    }
    return preferred ? 0 : 1;
}

// A monospaced face with Japanese glyphs, else the message font.
LOGFONTW ChooseJapaneseFont(HWND dialog) {
    LOGFONTW font;
    std::memset(&font, 0, sizeof font);
    font.lfCharSet = SHIFTJIS_CHARSET;
    wchar_t face[LF_FACESIZE] = L"";
    HDC dc = GetDC(dialog);
    EnumFontFamiliesExW(dc, &font, OnJapaneseFace, reinterpret_cast<LPARAM>(face), 0);
    ReleaseDC(dialog, dc);
    if (face[0] != L'\0') {
        std::wcscpy(font.lfFaceName, face);
        font.lfPitchAndFamily = FIXED_PITCH | FF_MODERN;
        return font;
    }
    NONCLIENTMETRICSW metrics;
    std::memset(&metrics, 0, sizeof metrics);
    metrics.cbSize = sizeof metrics;
    if (SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0)) return metrics.lfMessageFont;
    font.lfCharSet = DEFAULT_CHARSET;
    std::wcscpy(font.lfFaceName, L"MS Shell Dlg 2");
    return font;
}

// The controls whose texts may be Japanese: the log, the panel's edits and
// the status text.
bool ShowsJapanese(int id) {
    return id == kIdLog || id == kIdStatusText || (id >= kIdStartAddressEdit && id <= kIdFileEdit) ||
           (id >= kIdParamFirstText0 && id < kIdParamSecondText0 + kParamBlocks);
}

int DialogDpi(HWND dialog) {
    using GetDpiForWindowFn = UINT(WINAPI*)(HWND);
    // Windows 10 1607 and later; older systems have one DPI for every window.
    static const auto getDpi = NewerUser32Function<GetDpiForWindowFn>("GetDpiForWindow");
    if (getDpi != nullptr) return static_cast<int>(getDpi(dialog));
    HDC dc = GetDC(dialog);
    const int dpi = GetDeviceCaps(dc, LOGPIXELSY);
    ReleaseDC(dialog, dc);
    return dpi;
}

// The dialog manager's own measure: the font's height, and the mean width of
// the 52 letters rounded.
DialogUnits UnitsOf(HWND dialog, HFONT font, bool* scalable) {
    static const wchar_t kLetters[] = L"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
    HDC dc = GetDC(dialog);
    HGDIOBJ old = SelectObject(dc, font);
    TEXTMETRICW metrics;
    SIZE size = {0, 0};
    DialogUnits units = templateUnits;
    if (GetTextMetricsW(dc, &metrics) && GetTextExtentPoint32W(dc, kLetters, 52, &size)) {
        units.baseX = (size.cx / 26 + 1) / 2;
        units.baseY = metrics.tmHeight;
        if (scalable != nullptr) *scalable = (metrics.tmPitchAndFamily & (TMPF_VECTOR | TMPF_TRUETYPE)) != 0;
    }
    SelectObject(dc, old);
    ReleaseDC(dialog, dc);
    return units;
}

bool AsMade(const FontPlan& plan) {
    return plan.dpi == templateDpi && plan.permille == kFullScale && !plan.scalableFace;
}

// The controls' main font: the template's height at the plan's DPI and scale.
HFONT MakeUiFont(const FontPlan& plan) {
    LOGFONTW font = plan.scalableFace ? scalableFont : templateFont;
    font.lfHeight = MulDiv(templateFont.lfHeight, plan.dpi * plan.permille, templateDpi * kFullScale);
    if (font.lfHeight == 0) font.lfHeight = -1;
    font.lfWidth = 0;
    return CreateFontIndirectW(&font);
}

// The height of the font's cell as the system really draws it.
int CellHeight(HWND dialog, HFONT font) {
    HDC dc = GetDC(dialog);
    HGDIOBJ old = SelectObject(dc, font);
    TEXTMETRICW metrics;
    const int height = GetTextMetricsW(dc, &metrics) ? static_cast<int>(metrics.tmHeight) : templateUnits.baseY;
    SelectObject(dc, old);
    ReleaseDC(dialog, dc);
    return height;
}

// The Japanese face with the cell of the font beside it (a positive height
// asks for the cell), so that it fits the controls laid out for that one.
HFONT MakeJapaneseFont(HWND dialog, HFONT beside) {
    LOGFONTW font = scalableFont;
    font.lfHeight = std::max(1, CellHeight(dialog, beside));
    font.lfWidth = 0;
    return CreateFontIndirectW(&font);
}

void Replace(HFONT* slot, HFONT font) {
    if (*slot != nullptr) DeleteObject(*slot);
    *slot = font;
}

}  // namespace

RECT ToPixels(const DialogUnits& units, int x, int y, int cx, int cy) {
    RECT r = {MulDiv(x, units.baseX, 4), MulDiv(y, units.baseY, 8), MulDiv(x + cx, units.baseX, 4),
              MulDiv(y + cy, units.baseY, 8)};
    return r;
}

void InitWindowFonts(HWND dialog) {
    templateHandle = reinterpret_cast<HFONT>(SendMessageW(dialog, WM_GETFONT, 0, 0));
    std::memset(&templateFont, 0, sizeof templateFont);
    if (templateHandle == nullptr || GetObjectW(templateHandle, sizeof templateFont, &templateFont) == 0) {
        templateFont.lfHeight = -16;
    }
    templateDpi = DialogDpi(dialog);
    RECT units = {0, 0, 4, 8};
    MapDialogRect(dialog, &units);
    templateUnits = {units.right, units.bottom};
    if (templateHandle != nullptr) UnitsOf(dialog, templateHandle, &templateScales);
    wantJapanese = GetACP() != kJapaneseCodePage;
    scalableFont = ChooseJapaneseFont(dialog);
}

DialogUnits ApplyWindowFonts(HWND dialog, const FontPlan& plan) {
    HFONT ui = AsMade(plan) ? nullptr : MakeUiFont(plan);
    HFONT shownUi = ui != nullptr ? ui : templateHandle;
    // In the Japanese face the main font has the glyphs itself.
    const bool apart = wantJapanese && !plan.scalableFace && shownUi != nullptr;
    HFONT japanese = apart ? MakeJapaneseFont(dialog, shownUi) : nullptr;
    HFONT shownJapanese = japanese != nullptr ? japanese : shownUi;
    for (HWND w = GetWindow(dialog, GW_CHILD); w != nullptr; w = GetWindow(w, GW_HWNDNEXT)) {
        HFONT font = ShowsJapanese(GetDlgCtrlID(w)) ? shownJapanese : shownUi;
        SendMessageW(w, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    }
    // Only now that no control holds them any more.
    Replace(&uiFont, ui);
    Replace(&japaneseHandle, japanese);
    return ui != nullptr ? UnitsOf(dialog, ui, nullptr) : templateUnits;
}

DialogUnits MeasureWindowFonts(HWND dialog, const FontPlan& plan) {
    if (AsMade(plan)) return templateUnits;
    HFONT font = MakeUiFont(plan);
    if (font == nullptr) return templateUnits;
    const DialogUnits units = UnitsOf(dialog, font, nullptr);
    DeleteObject(font);
    return units;
}

int TemplateDpi() { return templateDpi; }

bool TemplateFontScales() { return templateScales; }

}  // namespace shell
