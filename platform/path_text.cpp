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

namespace {

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

char Upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

// Whether text starts with prefix, letters in any case and either slash.
bool StartsWithFolded(const char* text, const char* prefix) {
    for (; *prefix != '\0'; ++text, ++prefix) {
        const bool slashes = IsSeparator(*prefix) && IsSeparator(*text);
        if (!slashes && Upper(*text) != Upper(*prefix)) return false;
    }
    return true;
}

// COMn and LPTn take a digit 1 to 9, or a superscript one, two or three
// (U+00B9, U+00B2, U+00B3: two bytes in UTF-8).
bool PortDigit(const char* p, int length) {
    if (length == 1) return p[0] >= '1' && p[0] <= '9';
    if (length != 2 || static_cast<uint8_t>(p[0]) != 0xC2) return false;
    const uint8_t second = static_cast<uint8_t>(p[1]);
    return second == 0xB9 || second == 0xB2 || second == 0xB3;
}

bool DeviceStem(const char* stem, int length) {
    static const char* const kPlain[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
    for (const char* name : kPlain) {
        int n = 0;
        while (name[n] != '\0') ++n;
        if (n == length && StartsWithFolded(stem, name)) return true;
    }
    return length >= 4 && (StartsWithFolded(stem, "COM") || StartsWithFolded(stem, "LPT")) &&
           PortDigit(stem + 3, length - 3);
}

}  // namespace

bool NamesWindowsDevice(const char* path) {
    static const char* const kDeviceSpaces[] = {"\\\\.\\", "\\\\?\\GLOBALROOT", "\\??\\"};
    for (const char* space : kDeviceSpaces) {
        if (StartsWithFolded(path, space)) return true;
    }
    const char* name = path;
    for (const char* p = path; *p != '\0'; ++p) {
        if (IsSeparator(*p) || *p == ':') name = p + 1;
    }
    int stem = 0;
    while (name[stem] != '\0' && name[stem] != '.') ++stem;
    while (stem > 0 && name[stem - 1] == ' ') --stem;
    return DeviceStem(name, stem);
}

const char* NotAFileText(FileKind kind) {
    switch (kind) {
        case FileKind::Folder: return "is a folder, not a file";
        case FileKind::Link: return "is a symbolic link, not a file";
        case FileKind::Pipe: return "is a pipe, not a file";
        case FileKind::Device: return "is a device, not a file";
        default: return "is not a file on a disk (a pipe or a device)";
    }
}

const char* FileFaultText(FileFault fault) {
    switch (fault) {
        case FileFault::None: return "no fault";
        case FileFault::Missing: return "it does not exist, or a folder on its way does not";
        case FileFault::Denied: return "no permission (or it is read-only)";
        case FileFault::NotAFile: return "it is not a file (a folder, a device or a link)";
        case FileFault::NameTooLong: return "its name is longer than the file system takes";
        case FileFault::Held: return "another program holds it open";
        case FileFault::Idle:
            static_assert(kPipeIdleMs == 5000, "the text names the bound");
            return "it brought no bytes for 5 s";
        case FileFault::Other:
        default: return "the system refused it";
    }
}

}  // namespace platform
