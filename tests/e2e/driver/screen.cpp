// screen.cpp - the verbs on what the window shows beside the log: the status strip, its layout on the screen, fonts.
#include "driver.h"
#include "steps.h"

#include "shell/command_ids.h"

#include <commctrl.h>

#include <cwchar>

namespace tqdrive {

namespace {

std::string RectText(const RECT& r) {
    return std::to_string(r.left) + "," + std::to_string(r.top) + "-" + std::to_string(r.right) + "," +
           std::to_string(r.bottom);
}

bool Inside(const RECT& r, const RECT& area) {
    return r.left >= area.left && r.top >= area.top && r.right <= area.right && r.bottom <= area.bottom;
}

}  // namespace

// Samples the progress bar's position and the status text every 20 ms, printing each
// change as "POS TEXT", until the text contains PAT.
void StepProgress(const std::wstring& pattern, DWORD bound) {
    auto alts = Alternatives(pattern);
    std::wstring last;
    LRESULT lastPos = -1;
    bool found = PollUntil(bound, [&] {
        // The console sets the bar before the text: a text read first is never ahead
        // of the bar read after it.
        const std::wstring text = WindowText(RequireControl(shell::kIdStatusText));
        const LRESULT pos = Send(RequireControl(shell::kIdProgressBar), PBM_GETPOS, 0, 0);
        if (pos != lastPos || text != last) {
            Print(std::to_string(pos) + " " + ToUtf8(text));
            lastPos = pos;
            last = text;
        }
        return Matches(text, alts);
    });
    if (!found) Fail("the status text never matched \"" + ToUtf8(pattern) + "\"; it says \"" + ToUtf8(last) + "\"");
}

void StepWinSize() {
    RECT r;
    if (!GetWindowRect(RequirePanel(), &r)) Fail("GetWindowRect failed");
    Print(std::to_string(r.right - r.left) + " " + std::to_string(r.bottom - r.top));
}

// Left, top, width, height in pixels of the dialog's client area.
void StepRect(int id) {
    HWND panel = RequirePanel();
    RECT r;
    if (!GetWindowRect(RequireControl(id), &r)) Fail("GetWindowRect failed");
    MapWindowPoints(HWND_DESKTOP, panel, (POINT*)&r, 2);
    Print(std::to_string(r.left) + " " + std::to_string(r.top) + " " + std::to_string(r.right - r.left) + " " +
          std::to_string(r.bottom - r.top));
}

// The window lies in the work area of its monitor (and of the primary one, which
// SPI_GETWORKAREA gives), and every visible control, the status strip's included,
// lies in the window's client area: none can be out of reach.
void StepFits() {
    HWND panel = RequirePanel();
    MONITORINFO info = {};
    info.cbSize = sizeof info;
    if (!GetMonitorInfoW(MonitorFromWindow(panel, MONITOR_DEFAULTTONEAREST), &info)) Fail("GetMonitorInfo failed");
    RECT work;
    if (!SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0)) Fail("SystemParametersInfo(SPI_GETWORKAREA) failed");
    RECT window, client;
    GetWindowRect(panel, &window);
    GetClientRect(panel, &client);
    MapWindowPoints(panel, HWND_DESKTOP, (POINT*)&client, 2);
    std::string outside;
    if (!Inside(window, info.rcWork) || !Inside(window, work)) outside += " the window " + RectText(window);
    int count = 0;
    for (HWND c = GetWindow(panel, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
        if (!IsWindowVisible(c)) continue;
        RECT r;
        GetWindowRect(c, &r);
        ++count;
        if (!Inside(r, client) || r.right <= r.left || r.bottom <= r.top)
            outside += " control " + std::to_string(GetDlgCtrlID(c)) + " " + RectText(r);
    }
    Print("window " + RectText(window) + " client " + RectText(client) + " work area " + RectText(info.rcWork) +
          " (SPI_GETWORKAREA " + RectText(work) + "), " + std::to_string(count) + " visible controls");
    if (!outside.empty()) Fail("out of reach:" + outside);
}

// Whether a font of FACE made here has a glyph for every character of TEXT.
void StepGlyphs(const std::wstring& face, const std::wstring& text) {
    LOGFONTW lf = {};
    lf.lfHeight = -16;
    lf.lfCharSet = DEFAULT_CHARSET;
    wcsncpy(lf.lfFaceName, face.c_str(), LF_FACESIZE - 1);
    HFONT font = CreateFontIndirectW(&lf);
    HDC dc = GetDC(nullptr);
    HGDIOBJ old = SelectObject(dc, font);
    wchar_t got[LF_FACESIZE] = {};
    GetTextFaceW(dc, LF_FACESIZE, got);
    std::vector<WORD> glyphs(text.size() + 1, 0);
    DWORD n = GetGlyphIndicesW(dc, text.c_str(), (int)text.size(), glyphs.data(), GGI_MARK_NONEXISTING_GLYPHS);
    SelectObject(dc, old);
    ReleaseDC(nullptr, dc);
    DeleteObject(font);
    if (_wcsicmp(got, face.c_str()) != 0)
        Fail("the system has no font " + ToUtf8(face) + " (it gave " + ToUtf8(got) + ")");
    if (n == GDI_ERROR) Fail("GetGlyphIndices failed");
    for (size_t i = 0; i < text.size(); ++i)
        if (glyphs[i] == 0xFFFF) Fail(ToUtf8(face) + " has no glyph for " + ToUtf8(text.substr(i, 1)));
}

void StepCodePage() { Print(std::to_string(GetACP()) + " " + std::to_string(GetOEMCP())); }

}  // namespace tqdrive
