// window_fonts_win32.h - the fonts of the main window's controls: the template's
// font at the window's DPI and scale (or a face that comes in every size where
// the template's is too large for the screen), and where the system's code page
// is not 932 a font with Japanese glyphs for the controls that show Japanese
// texts.
#pragma once

#include <windows.h>

namespace shell {

// Pixels per 4 horizontal and per 8 vertical dialog units, as MapDialogRect
// uses them.
struct DialogUnits {
    int baseX;
    int baseY;
};

// A user32 function that only newer Windows versions have, looked up at run
// time so that the program still starts on older ones: nullptr there.
template <class Function>
Function NewerUser32Function(const char* name) {
    return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"user32.dll"), name)));
}

// Maps a rectangle in dialog units to pixels the way MapDialogRect does.
RECT ToPixels(const DialogUnits& units, int x, int y, int cx, int cy);

// Called once from WM_INITDIALOG, after every control exists: keeps the
// template's font and the DPI it was made for, and chooses the scalable face.
void InitWindowFonts(HWND dialog);

// Which fonts the controls get: for a DPI, at a scale (permille of the
// template's size), in the template's face or in the scalable face: a face
// with Japanese glyphs that comes in every size (a monospaced Japanese face
// where the system has one, else the message font).
struct FontPlan {
    int dpi;
    int permille;
    bool scalableFace;
};

// Gives every control the fonts of the plan and returns the dialog units they
// make, measured on the fonts as the system really gives them. At the
// template's own DPI and full scale in its face the template's font and units
// stay as the dialog manager made them.
DialogUnits ApplyWindowFonts(HWND dialog, const FontPlan& plan);

// The dialog units those fonts would make, without giving them to anything.
DialogUnits MeasureWindowFonts(HWND dialog, const FontPlan& plan);

// The DPI the window was made for.
int TemplateDpi();

// Whether the template's font comes in any size. A bitmap font (Windows' own
// FixedSys) has its few sizes only: asked for another it gives the nearest of
// them, or a whole multiple of one.
bool TemplateFontScales();

}  // namespace shell
