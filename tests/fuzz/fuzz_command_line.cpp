// fuzz_command_line.cpp - shell::CommandLineTail on any command line, and
// shell::CopyCutToFit of its tail into a buffer of any size from 1 byte up,
// held on the heap at exactly that size so that a write past it is caught.
//
// Input: byte 0 picks the buffer size (1 to 256, or 300 beyond the path
// buffer), the rest up to a NUL is the command line.
//
// Beyond the sanitizers:
//   - the tail is a suffix of the line: the program name (quoted: through its
//     closing quote; unquoted: up to the first character at or below a
//     blank) and the blanks and control characters after it removed;
//   - the copy is a prefix of the tail that ends on a whole CP932 character,
//     the whole tail when it fits, and cut only where the next character
//     would not fit.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "shell/command_line.h"

namespace {

bool AtOrBelowBlank(char c) { return static_cast<unsigned char>(c) <= ' '; }
bool Lead(unsigned char c) { return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC); }

size_t ExpectedTailStart(const std::string& s) {
    size_t i = 0;
    if (!s.empty() && s[0] == '"') {
        const size_t close = s.find('"', 1);
        i = close == std::string::npos ? s.size() : close + 1;
    } else {
        while (i < s.size() && !AtOrBelowBlank(s[i])) ++i;
    }
    while (i < s.size() && AtOrBelowBlank(s[i])) ++i;
    return i;
}

[[noreturn]] void Fail(const char* what, const std::string& line, int cap) {
    std::fprintf(stderr, "==fuzz== %s (cap %d, line of %zu bytes)\n", what, cap, line.size());
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const int cap = data[0] == 0xFF ? 300 : data[0] + 1;
    const char* rest = reinterpret_cast<const char*>(data + 1);
    const std::string line(rest, strnlen(rest, size - 1));

    const char* tail = shell::CommandLineTail(line.c_str());
    const size_t at = static_cast<size_t>(tail - line.c_str());
    if (tail < line.c_str() || at > line.size()) Fail("the tail lies outside the line", line, cap);
    if (at != ExpectedTailStart(line)) Fail("the tail starts at the wrong place", line, cap);

    std::unique_ptr<char[]> buffer(new char[static_cast<size_t>(cap)]);
    shell::CopyCutToFit(tail, buffer.get(), cap);
    const std::string text(tail);
    const size_t copied = strnlen(buffer.get(), static_cast<size_t>(cap));
    if (copied >= static_cast<size_t>(cap)) Fail("the copy is not terminated inside its buffer", line, cap);
    if (text.compare(0, copied, buffer.get(), copied) != 0) Fail("the copy is not a prefix of the tail", line, cap);

    // Walk the characters as CP932 does: a lead byte with a byte behind it
    // makes a pair.
    size_t i = 0;
    while (i < copied) i += (Lead(static_cast<unsigned char>(text[i])) && i + 1 < text.size()) ? 2 : 1;
    if (i != copied) Fail("the copy ends inside a double-byte character", line, cap);
    if (copied < text.size()) {
        const size_t width = (Lead(static_cast<unsigned char>(text[copied])) && copied + 1 < text.size()) ? 2 : 1;
        if (copied + width <= static_cast<size_t>(cap - 1)) Fail("the copy was cut although more fits", line, cap);
    }
    return 0;
}
