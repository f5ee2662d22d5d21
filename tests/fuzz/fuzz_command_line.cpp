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
//     would not fit;
//   - the same bytes read as a wide command line (UTF-16 units, low byte
//     first) give the firmware path exactly or nothing: when carried, its
//     UTF-8 turns back into the tail's units (less one enclosing pair of
//     quotes); when refused, the path buffer is empty.
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

void CheckWidePath(const uint8_t* data, size_t size, int cap) {
    std::u16string wide;
    for (size_t i = 0; i + 1 < size; i += 2) {
        const char16_t unit = static_cast<char16_t>(data[i] | data[i + 1] << 8);
        if (unit == 0) break;
        wide += unit;
    }
    const size_t pathCap = static_cast<size_t>(cap) * 3;
    std::unique_ptr<char[]> path(new char[pathCap]);
    const platform::PathCarry carry =
        shell::FirmwarePathFromCommandLine(wide.c_str(), path.get(), static_cast<int>(pathCap));
    const std::string line(wide.begin(), wide.end());  // only for the message
    if (strnlen(path.get(), pathCap) >= pathCap) Fail("the path is not terminated inside its buffer", line, cap);
    if (carry != platform::PathCarry::Ok) {
        if (path[0] != '\0') Fail("a refused path left text behind", line, cap);
        return;
    }
    std::u16string tail(shell::CommandLineTail(wide.c_str()));
    if (tail.size() >= 2 && tail.front() == u'"' && tail.back() == u'"' && tail.find(u'"', 1) == tail.size() - 1) {
        tail = tail.substr(1, tail.size() - 2);
    }
    char16_t back[platform::kPathChars + 1];
    if (platform::Utf8ToUtf16(path.get(), back, platform::kPathChars + 1) != platform::PathCarry::Ok ||
        std::u16string(back) != tail) {
        Fail("the carried path is not the tail's text", line, cap);
    }
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
    CheckWidePath(data + 1, size - 1, cap);
    return 0;
}
