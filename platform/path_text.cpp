// path_text.cpp - the checks and decoding behind carrying a file name exactly.
#include "platform/path_text.h"

namespace platform {

const char* PathCarryText(PathCarry carry) {
    switch (carry) {
        case PathCarry::Ok: return "the file name can be carried";
        case PathCarry::TooLong: return "the file name is longer than the 255 characters the console takes";
        case PathCarry::Unpaired:
            return "the file name holds half of a character (a lone UTF-16 surrogate), which no file name can carry";
        case PathCarry::Invalid: return "the file name is not valid UTF-8 text";
    }
    return "the file name cannot be carried";
}

Decoded DecodeUtf8(const char* p, int left) {
    const auto byte = [p](int i) { return static_cast<uint8_t>(p[i]); };
    const uint8_t b0 = byte(0);
    if (b0 < 0x80) return {b0, 1};
    int width = 0;
    uint32_t code = 0;
    uint32_t lowest = 0;
    if ((b0 & 0xE0) == 0xC0) {
        width = 2, code = b0 & 0x1F, lowest = 0x80;
    } else if ((b0 & 0xF0) == 0xE0) {
        width = 3, code = b0 & 0x0F, lowest = 0x800;
    } else if ((b0 & 0xF8) == 0xF0) {
        width = 4, code = b0 & 0x07, lowest = 0x10000;
    } else {
        return {0, 0};
    }
    if (width > left) return {0, 0};
    for (int k = 1; k < width; ++k) {
        if ((byte(k) & 0xC0) != 0x80) return {0, 0};
        code = code << 6 | (byte(k) & 0x3F);
    }
    if (code < lowest || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return {0, 0};
    return {code, width};
}

PathCarry CheckBytePath(const char* path) {
    int bytes = 0;
    int chars = 0;
    for (; path[bytes] != '\0'; ++bytes) {
        if ((static_cast<uint8_t>(path[bytes]) & 0xC0) != 0x80) ++chars;
    }
    return chars > kPathChars || bytes > kPathBytes - 1 ? PathCarry::TooLong : PathCarry::Ok;
}

}  // namespace platform
