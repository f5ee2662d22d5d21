// json_read.cpp - a reader for the top level of one JSON object: it walks the
// keys in order and skips every value it does not want, nested ones whole.
#include "cli/json_read.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "platform/path_text.h"

namespace cli {

namespace {

const char* SkipBlanks(const char* p) {
    while (*p == ' ' || *p == '\t' || *p == '\r' || *p == '\n') ++p;
    return p;
}

// Past the string that starts at p (its opening quote); nullptr when it does
// not end on the line.
const char* SkipString(const char* p) {
    for (++p; *p != '\0'; ++p) {
        if (*p == '\\') {
            if (*++p == '\0') return nullptr;
        } else if (*p == '"') {
            return p + 1;
        }
    }
    return nullptr;
}

// Past the value at p: a string, an object or array with all it holds, or a
// number or word up to the next ',' '}' or ']'.
const char* SkipValue(const char* p) {
    if (*p == '"') return SkipString(p);
    int depth = 0;
    for (; *p != '\0'; ++p) {
        if (*p == '"') {
            p = SkipString(p);
            if (p == nullptr) return nullptr;
            --p;
        } else if (*p == '{' || *p == '[') {
            ++depth;
        } else if (*p == '}' || *p == ']') {
            if (depth == 0) return p;
            if (--depth == 0) return p + 1;
        } else if (*p == ',' && depth == 0) {
            return p;
        }
    }
    return depth == 0 ? p : nullptr;
}

// The value of key at the object's top level, or nullptr.
const char* FindValue(const char* line, const char* key) {
    const size_t keyLength = std::strlen(key);
    const char* p = SkipBlanks(line);
    if (*p++ != '{') return nullptr;
    for (;;) {
        p = SkipBlanks(p);
        if (*p != '"') return nullptr;
        const char* name = p + 1;
        const char* afterName = SkipString(p);
        if (afterName == nullptr) return nullptr;
        const bool match =
            static_cast<size_t>(afterName - 1 - name) == keyLength && std::strncmp(name, key, keyLength) == 0;
        p = SkipBlanks(afterName);
        if (*p++ != ':') return nullptr;
        p = SkipBlanks(p);
        if (match) return p;
        p = SkipValue(p);
        if (p == nullptr) return nullptr;
        p = SkipBlanks(p);
        if (*p++ != ',') return nullptr;
    }
}

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool ReadHex4(const char* p, uint32_t& value) {
    value = 0;
    for (int i = 0; i < 4; ++i) {
        const int digit = HexValue(p[i]);
        if (digit < 0) return false;
        value = value << 4 | uint32_t(digit);
    }
    return true;
}

// Writes the code point as UTF-8 when it fits whole; false once out is full.
bool PutCodePoint(uint32_t c, char* out, size_t cap, size_t& n) {
    char bytes[4];
    size_t width = 0;
    if (c < 0x80) {
        bytes[width++] = static_cast<char>(c);
    } else if (c < 0x800) {
        bytes[width++] = static_cast<char>(0xC0 | c >> 6);
        bytes[width++] = static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        bytes[width++] = static_cast<char>(0xE0 | c >> 12);
        bytes[width++] = static_cast<char>(0x80 | (c >> 6 & 0x3F));
        bytes[width++] = static_cast<char>(0x80 | (c & 0x3F));
    } else {
        bytes[width++] = static_cast<char>(0xF0 | c >> 18);
        bytes[width++] = static_cast<char>(0x80 | (c >> 12 & 0x3F));
        bytes[width++] = static_cast<char>(0x80 | (c >> 6 & 0x3F));
        bytes[width++] = static_cast<char>(0x80 | (c & 0x3F));
    }
    if (n + width >= cap) return false;
    std::memcpy(out + n, bytes, width);
    n += width;
    return true;
}

// The escape after a backslash at p; p moves past it.
uint32_t Unescape(const char*& p) {
    const char c = *p++;
    switch (c) {
        case 'n': return '\n';
        case 'r': return '\r';
        case 't': return '\t';
        case 'b': return '\b';
        case 'f': return '\f';
        case 'u': break;
        default: return static_cast<unsigned char>(c);
    }
    uint32_t unit = 0;
    if (!ReadHex4(p, unit)) return 0xFFFD;
    p += 4;
    uint32_t low = 0;
    if (unit >= 0xD800 && unit < 0xDC00 && p[0] == '\\' && p[1] == 'u' && ReadHex4(p + 2, low) && low >= 0xDC00 &&
        low < 0xE000) {
        p += 6;
        return 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
    }
    return unit >= 0xD800 && unit < 0xE000 ? 0xFFFD : unit;
}

// The bytes of the UTF-8 character at p (a byte that begins none is one on
// its own).
size_t CharacterWidth(const char* p) {
    const platform::Decoded d = platform::DecodeUtf8(p, static_cast<int>(std::strlen(p)));
    return d.width > 0 ? static_cast<size_t>(d.width) : 1;
}

}  // namespace

bool JsonReadString(const char* line, const char* key, char* out, size_t cap) {
    const char* p = FindValue(line, key);
    if (p == nullptr || *p != '"' || cap == 0) return false;
    size_t n = 0;
    bool room = true;
    for (++p; *p != '"';) {
        if (*p == '\0') return false;
        if (*p == '\\') {
            ++p;
            if (*p == '\0') return false;
            const uint32_t c = Unescape(p);
            room = room && PutCodePoint(c, out, cap, n);
        } else {
            // Bytes pass through; a character is cut whole or not at all.
            const size_t width = CharacterWidth(p);
            if (room && n + width < cap) {
                std::memcpy(out + n, p, width);
                n += width;
            } else {
                room = false;
            }
            p += width;
        }
    }
    out[n] = '\0';
    return true;
}

bool JsonReadNumber(const char* line, const char* key, double& value) {
    const char* p = FindValue(line, key);
    if (p == nullptr || !(*p == '-' || (*p >= '0' && *p <= '9'))) return false;
    char* end = nullptr;
    value = std::strtod(p, &end);
    return end != p;
}

}  // namespace cli
