// number_text.cpp - the number texts of the panel's edits.
#include "shell/number_text.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/platform.h"

namespace shell {

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsHexDigit(char c) { return IsDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }
int HexValue(char c) { return IsDigit(c) ? c - '0' : (c | 0x20) - 'a' + 10; }

// Digits of the given base from text[from, to) into value; false past max.
bool Accumulate(const char* text, size_t from, size_t to, uint32_t base, uint32_t max, uint32_t& value) {
    uint64_t v = 0;
    for (size_t i = from; i < to; ++i) {
        v = v * base + static_cast<uint32_t>(HexValue(text[i]));
        if (v > max) return false;
    }
    value = static_cast<uint32_t>(v);
    return true;
}

bool AllOf(const char* text, size_t from, size_t to, bool (*pred)(char)) {
    if (from >= to) return false;
    for (size_t i = from; i < to; ++i) {
        if (!pred(text[i])) return false;
    }
    return true;
}

}  // namespace

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

bool ParseExactNumberText(const char* text, uint32_t max, uint32_t& value, char* why, size_t whyCap) {
    const size_t n = std::strlen(text);
    bool inRange = false;
    if (n > 1 && text[n - 1] == 'h') {
        const size_t from = (n > 3 && text[0] == '0' && text[1] == 'x') ? 2 : 0;
        if (!AllOf(text, from, n - 1, IsHexDigit)) {
            std::snprintf(why, whyCap,
                          "\"%s\" is not a number: hexadecimal is digits 0-9 a-f with a trailing h (1000h)", text);
            return false;
        }
        inRange = Accumulate(text, from, n - 1, 16, max, value);
    } else if (AllOf(text, 0, n, IsDigit)) {
        inRange = Accumulate(text, 0, n, 10, max, value);
    } else if (n > 1 && text[n - 1] == 'H' && AllOf(text, 0, n - 1, IsHexDigit)) {
        std::snprintf(why, whyCap, "\"%s\": hexadecimal takes a lower-case h (%.*sh)", text, static_cast<int>(n - 1),
                      text);
        return false;
    } else if (n > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X') && AllOf(text, 2, n, IsHexDigit)) {
        std::snprintf(why, whyCap, "\"%s\": write hexadecimal with a trailing h (%sh)", text, text + 2);
        return false;
    } else {
        std::snprintf(why, whyCap,
                      "\"%s\" is not a number: give decimal digits (4096) or hexadecimal with a trailing h (1000h)",
                      text);
        return false;
    }
    if (!inRange) {
        std::snprintf(why, whyCap, "%s is larger than %Xh", text, static_cast<unsigned>(max));
        return false;
    }
    return true;
}

bool AllDigits(const char* text) { return AllOf(text, 0, std::strlen(text), IsDigit); }

}  // namespace shell
