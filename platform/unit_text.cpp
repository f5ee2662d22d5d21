// unit_text.cpp - the rule for a text the unit stores, one character at a time,
// so that a refusal can name the first character that code page 932 lacks.
#include "platform/unit_text.h"

#include <cstdio>
#include <cstring>

#include "platform/path_text.h"

namespace platform {

bool FindCharacterCp932Lacks(const char* utf8, TextRefusal& refusal) {
    std::memset(&refusal, 0, sizeof refusal);
    const int length = static_cast<int>(std::strlen(utf8));
    for (int i = 0; i < length;) {
        const Decoded d = DecodeUtf8(utf8 + i, length - i);
        if (d.width == 0 || !CharacterFitsCp932(utf8 + i, d.width)) {
            std::snprintf(refusal.text, sizeof refusal.text, "%s", utf8);
            refusal.notUtf8 = d.width == 0;
            refusal.codePoint = refusal.notUtf8 ? static_cast<uint8_t>(utf8[i]) : d.code;
            if (refusal.notUtf8) {
                std::snprintf(refusal.character, sizeof refusal.character, "?");
            } else {
                std::memcpy(refusal.character, utf8 + i, static_cast<size_t>(d.width));
            }
            return true;
        }
        i += d.width;
    }
    return false;
}

}  // namespace platform
