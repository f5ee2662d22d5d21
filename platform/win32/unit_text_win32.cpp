// unit_text_win32.cpp - one character to code page 932 and back, with the
// conversions Windows itself uses for the panel's texts.
#include <windows.h>

#include <cstring>

#include "platform/unit_text.h"

namespace platform {

bool CharacterFitsCp932(const char* utf8, int width) {
    wchar_t units[4];
    const int count = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8, width, units, 4);
    if (count <= 0) return false;
    char bytes[8];
    BOOL usedDefault = FALSE;
    const int n =
        WideCharToMultiByte(932, WC_NO_BEST_FIT_CHARS, units, count, bytes, sizeof bytes, nullptr, &usedDefault);
    if (n <= 0 || usedDefault) return false;
    wchar_t back[4];
    const int m = MultiByteToWideChar(932, MB_ERR_INVALID_CHARS, bytes, n, back, 4);
    return m == count && std::memcmp(back, units, static_cast<size_t>(count) * sizeof(wchar_t)) == 0;
}

}  // namespace platform
