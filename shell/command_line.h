// command_line.h - the firmware path from the process command line.
#pragma once

#include <type_traits>

#include "platform/path_text.h"

namespace shell {

// The command line without the program name and the blanks after it: a
// quoted name ends at its closing quote, an unquoted one at the first
// character at or below a blank. The rest is kept verbatim. For the 8-bit
// command line and the wide one alike.
template <typename Char>
const Char* CommandLineTail(const Char* p) {
    const auto blankOrBelow = [](Char c) { return static_cast<std::make_unsigned_t<Char>>(c) <= ' '; };
    if (*p == Char('"')) {
        ++p;
        while (*p != 0 && *p != Char('"')) ++p;
        if (*p == Char('"')) ++p;
    } else {
        while (*p != 0 && !blankOrBelow(*p)) ++p;
    }
    while (*p != 0 && blankOrBelow(*p)) ++p;
    return p;
}

// The firmware path from the wide command line: FirmwareTail gives the tail,
// less one pair of double quotes that encloses the whole tail, as units
// (what the window's firmware edit shows), FirmwarePathFromCommandLine the
// same as the file calls take it (UTF-8). Windows quotes a path with blanks itself (a file dropped on the
// program, "Open with", a shortcut), and such a path could never be opened
// with its quotes; everything else stays verbatim (an unquoted tail of
// several words is one path). path is empty unless the result is Ok: a tail
// of more than 255 characters, or one holding half a character, is refused
// whole, never cut to a name that may be another file's.
template <typename Unit>
const Unit* FirmwareTail(const Unit* commandLine, int* count) {
    const Unit* tail = CommandLineTail(commandLine);
    int n = 0;
    while (tail[n] != 0) ++n;
    bool enclosed = n >= 2 && tail[0] == Unit('"') && tail[n - 1] == Unit('"');
    for (int i = 1; enclosed && i < n - 1; ++i) enclosed = tail[i] != Unit('"');
    if (enclosed) {
        ++tail;
        n -= 2;
    }
    *count = n;
    return tail;
}

template <typename Unit>
platform::PathCarry FirmwarePathFromCommandLine(const Unit* commandLine, char* path, int cap) {
    int count = 0;
    const Unit* tail = FirmwareTail(commandLine, &count);
    return platform::Utf16ToUtf8(tail, count, path, cap);
}

// Copies text into a buffer of cap bytes, cutting a longer text so that it
// ends on a whole CP932 character.
void CopyCutToFit(const char* text, char* buffer, int cap);

}  // namespace shell
