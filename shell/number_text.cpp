// number_text.cpp - the number texts of the panel's edits.
#include "shell/number_text.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/platform.h"

namespace shell {

void ParseNumberText(const char* text, uint32_t& field) {
    const size_t n = std::strlen(text);
    if (n != 0 && text[n - 1] == 'h') {
        char hex[kTextLimit];
        const size_t keep = n - 1 < sizeof hex - 1 ? n - 1 : sizeof hex - 1;
        std::memcpy(hex, text, keep);
        hex[keep] = '\0';
        unsigned long value = 0;
        if (std::sscanf(hex, "%lx", &value) == 1) field = static_cast<uint32_t>(value);
        return;
    }
    field = static_cast<uint32_t>(std::strtol(text, nullptr, 10));
}

// The panel's edits take 255 characters, but a program can put more into one
// (WM_SETTEXT is not limited), and a text cut to 255 characters is another
// number; so one character more is read, to tell.
bool ReadNumberEdit(int editId, uint32_t& field, const char* what) {
    char text[kTextLimit + 1];
    platform::ReadControlText(editId, text, sizeof text);
    if (std::strlen(text) >= static_cast<size_t>(kTextLimit)) {
        char box[128];
        std::snprintf(box, sizeof box, "%s: the text is longer than %d characters: nothing was sent", what,
                      kTextLimit - 1);
        platform::WarningBox(box);
        return false;
    }
    ParseNumberText(text, field);
    return true;
}

}  // namespace shell
