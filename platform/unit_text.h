// unit_text.h - texts the unit stores: code page 932 bytes, every character
// exactly as the operator gave it.
#pragma once

#include <cstddef>
#include <cstdint>

namespace platform {

// The first character of a text that the unit cannot store, as a refusal
// names it.
struct TextRefusal {
    char text[1024];     // the whole text, UTF-8 (cut to fit)
    char character[8];   // the character, UTF-8 ("?" for a byte that is not UTF-8)
    uint32_t codePoint;  // its code point, or the byte
    bool notUtf8;        // the text holds a byte that is not UTF-8 at all
};

// The one rule for a text the unit stores: each character of the UTF-8 text
// must convert to code page 932 without best fit and back to itself (no '?',
// no look-alike). True, with refusal filled in, at the first one that does
// not; false when every character fits.
bool FindCharacterCp932Lacks(const char* utf8, TextRefusal& refusal);

// The operating system's conversion of one character (width bytes of UTF-8)
// to code page 932 and back: true when it comes back the same.
bool CharacterFitsCp932(const char* utf8, int width);

}  // namespace platform
