// fuzz_number_text.cpp - shell::ParseNumberText on any text (the bytes up to
// the first NUL, of any length).
//
// Beyond the sanitizers: plain decimal numbers of up to 9 digits and plain
// hexadecimal numbers of up to 8 digits with the trailing "h" read as their
// value; and a 32-bit value taken from the input, written as decimal and as
// hexadecimal with "h" (leading zeros up to the 255 characters an edit
// holds), reads back unchanged.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "shell/number_text.h"

namespace {

uint32_t Parse(const std::string& text) {
    uint32_t field = 0xA5A5A5A5;
    shell::ParseNumberText(text.c_str(), field);
    return field;
}

bool AllOf(const std::string& s, size_t from, size_t to, const char* set) {
    if (from >= to) return false;
    for (size_t i = from; i < to; ++i) {
        if (std::strchr(set, s[i]) == nullptr || s[i] == '\0') return false;
    }
    return true;
}

[[noreturn]] void Mismatch(const std::string& text, uint32_t got, uint32_t want) {
    std::fprintf(stderr, "==fuzz== \"%s\" read as %u, expected %u\n", text.c_str(), got, want);
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), strnlen(reinterpret_cast<const char*>(data), size));
    const uint32_t got = Parse(text);

    const size_t n = text.size();
    if (n <= 9 && AllOf(text, 0, n, "0123456789")) {
        const uint32_t want = uint32_t(std::strtoul(text.c_str(), nullptr, 10));
        if (got != want) Mismatch(text, got, want);
    }
    if (n >= 2 && n <= 9 && text[n - 1] == 'h' && AllOf(text, 0, n - 1, "0123456789abcdefABCDEF")) {
        const uint32_t want = uint32_t(std::strtoul(text.substr(0, n - 1).c_str(), nullptr, 16));
        if (got != want) Mismatch(text, got, want);
    }

    if (size >= 5) {
        uint32_t v;
        std::memcpy(&v, data, 4);
        const size_t zeros = data[4];
        char digits[16];
        std::snprintf(digits, sizeof digits, (v & 1) ? "%xh" : "%Xh", v);
        std::string hex = std::string(zeros, '0') + digits;
        if (hex.size() <= 255 && Parse(hex) != v) Mismatch(hex, Parse(hex), v);
        std::snprintf(digits, sizeof digits, "%u", v);
        // strtol reads a long: every 32-bit value fits, with zeros in front too.
        std::string dec = std::string(zeros, '0') + digits;
        if (dec.size() <= 255 && Parse(dec) != v) Mismatch(dec, Parse(dec), v);
    }
    return 0;
}
