// text_fit_win32.h - labels and buttons as wide as their texts need in the fonts
// they were given.
#pragma once

#include <windows.h>

namespace shell {

// After the layout has placed every control where its dialog units put it: a
// label, button or group box whose text is wider than its place is widened
// (a label to the right, a button on both sides) and kept inside the client
// area. The dialog units stay the base: a font whose letters are wider than
// their mean (a proportional face's capitals) or a bitmap font's cell that is
// not the units' multiple would otherwise cut a text ("COM" shown as "CO").
void WidenToTexts(HWND dialog);

}  // namespace shell
