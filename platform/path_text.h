// path_text.h - how the console carries file names: exactly, or not at all.
//
// A path that the engineer gives is kept as UTF-8 on Windows (the UTF-16 name,
// converted without loss) and as the bytes given on Linux, in a fixed buffer of
// kPathBytes. The Windows file calls turn it back into UTF-16 and use the W
// forms, so no code page stands between the name typed and the file opened: a
// name that cannot be carried whole is refused, never replaced by a look-alike.
// Portable code (no OS calls), so that native tests check the refusals.
#pragma once

#include <cstdint>

namespace platform {

// The fixed fields' limit: 255 characters, counted as Windows counts an
// edit's text (UTF-16 units); on Linux, characters of the UTF-8 text.
constexpr int kPathChars = 255;
// 255 UTF-16 units take at most 3 UTF-8 bytes each (a surrogate pair, two
// units, takes 4), plus the terminating NUL.
constexpr int kPathBytes = 3 * kPathChars + 1;

enum class PathCarry {
    Ok,
    TooLong,   // more than kPathChars characters
    Unpaired,  // a lone UTF-16 surrogate: half a character, which UTF-8 cannot hold
    Invalid,   // bytes that are not UTF-8 where UTF-8 is needed (Windows)
};

// Why a name was refused, for the log ("the file name is longer than ...").
const char* PathCarryText(PathCarry carry);

// UTF-16 (count units) to UTF-8 in out (cap bytes, NUL included); at most
// maxUnits units. Every character exactly or nothing: out is empty unless Ok.
template <typename Unit>
PathCarry Utf16ToUtf8(const Unit* in, int count, char* out, int cap, int maxUnits = kPathChars) {
    if (cap > 0) out[0] = '\0';
    if (count > maxUnits) return PathCarry::TooLong;
    int n = 0;
    for (int i = 0; i < count; ++i) {
        uint32_t c = static_cast<uint16_t>(in[i]);
        if (c >= 0xD800 && c <= 0xDFFF) {
            const bool high = c <= 0xDBFF;
            const uint32_t next = i + 1 < count ? static_cast<uint16_t>(in[i + 1]) : 0;
            if (!high || next < 0xDC00 || next > 0xDFFF) {
                if (cap > 0) out[0] = '\0';
                return PathCarry::Unpaired;
            }
            c = 0x10000 + ((c - 0xD800) << 10) + (next - 0xDC00);
            ++i;
        }
        const int width = c < 0x80 ? 1 : c < 0x800 ? 2 : c < 0x10000 ? 3 : 4;
        if (n + width > cap - 1) {
            if (cap > 0) out[0] = '\0';
            return PathCarry::TooLong;
        }
        if (width == 1) {
            out[n++] = static_cast<char>(c);
            continue;
        }
        static constexpr uint8_t kLead[] = {0, 0, 0xC0, 0xE0, 0xF0};
        out[n++] = static_cast<char>(kLead[width] | (c >> (6 * (width - 1))));
        for (int k = width - 2; k >= 0; --k) out[n++] = static_cast<char>(0x80 | ((c >> (6 * k)) & 0x3F));
    }
    out[n] = '\0';
    return PathCarry::Ok;
}

// Decodes the UTF-8 character at p (at most `left` bytes); its code point and
// width, or a width of 0 when the bytes are not one well-formed character
// (overlong forms, encoded surrogates and values above 10FFFF included).
struct Decoded {
    uint32_t code;
    int width;
};
Decoded DecodeUtf8(const char* p, int left);

// UTF-8 (NUL-terminated) to UTF-16 in out (cap units, NUL included), at most
// maxUnits units. Every character exactly or nothing: out is empty unless Ok.
template <typename Unit>
PathCarry Utf8ToUtf16(const char* in, Unit* out, int cap, int maxUnits = kPathChars) {
    if (cap > 0) out[0] = 0;
    int length = 0;
    while (in[length] != '\0') ++length;
    int n = 0;
    for (int i = 0; i < length;) {
        const Decoded d = DecodeUtf8(in + i, length - i);
        if (d.width == 0) {
            if (cap > 0) out[0] = 0;
            return PathCarry::Invalid;
        }
        const int units = d.code >= 0x10000 ? 2 : 1;
        if (n + units > maxUnits || n + units > cap - 1) {
            if (cap > 0) out[0] = 0;
            return PathCarry::TooLong;
        }
        if (units == 2) {
            out[n++] = static_cast<Unit>(0xD800 + ((d.code - 0x10000) >> 10));
            out[n++] = static_cast<Unit>(0xDC00 + ((d.code - 0x10000) & 0x3FF));
        } else {
            out[n++] = static_cast<Unit>(d.code);
        }
        i += d.width;
    }
    out[n] = 0;
    return PathCarry::Ok;
}

// A path as given on Linux (any bytes): refused only when it has more than
// kPathChars characters (bytes that begin a UTF-8 character) or does not fit
// kPathBytes.
PathCarry CheckBytePath(const char* path);

// Whether a path names a Windows device rather than a file: a last component
// whose name before its first dot is CON, PRN, AUX, NUL, CONIN$, CONOUT$, COM1
// to COM9 or LPT1 to LPT9 (any case, superscript digits too, trailing blanks
// ignored: Windows opens the device for "C:\any\nul.bin"), or a path in the
// device namespace (\\.\, \\?\GLOBALROOT, \??\; either slash). Opening one
// would read from or write to a port, a console or a disk.
bool NamesWindowsDevice(const char* path);

// What stands at a path, as the file calls of platform.h tell it.
enum class FileKind : uint8_t {
    Missing,  // nothing (or a folder on the way is missing)
    Regular,  // a file
    Pipe,     // a pipe or FIFO (Linux): read to its end, never written
    Folder,
    Link,    // a symbolic link (or reparse point), taken as itself
    Device,  // a device node, or a Windows device name
    Other,   // a socket, or what could not be told
};
// "is a folder, not a file", ...: what a message says of a path that is not
// a file the console takes; a kind that could not be told (a pipe or a
// device under Windows, whose attributes may look like a file's) is named so.
const char* NotAFileText(FileKind kind);

// A pipe that brings no byte for this long is taken as failed, so that a
// FIFO nobody writes to never holds the console.
constexpr uint32_t kPipeIdleMs = 5000;

// Why the last file call of a thread failed, in the terms a message needs.
enum class FileFault : uint8_t {
    None,
    Missing,      // it, or a folder on its way, does not exist
    Denied,       // no permission, or read-only
    NotAFile,     // a folder, a device, a link where a file is needed
    NameTooLong,  // a component longer than the file system takes
    Held,         // another program holds it without sharing
    Idle,         // a pipe brought nothing within kPipeIdleMs
    Other,
};
// "it does not exist", "no permission", ...: the reason in a message.
const char* FileFaultText(FileFault fault);

}  // namespace platform
