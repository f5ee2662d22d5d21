// command_line.cpp - splitting the program name off the command line.
#include "shell/command_line.h"

namespace shell {

namespace {
bool BlankOrBelow(char c) { return static_cast<unsigned char>(c) <= ' '; }

// CP932 lead bytes of double-byte characters.
bool LeadByte(unsigned char c) { return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC); }
}  // namespace

const char* CommandLineTail(const char* p) {
    if (*p == '"') {
        ++p;
        while (*p != '\0' && *p != '"') ++p;
        if (*p == '"') ++p;
    } else {
        while (*p != '\0' && !BlankOrBelow(*p)) ++p;
    }
    while (*p != '\0' && BlankOrBelow(*p)) ++p;
    return p;
}

void CopyCutToFit(const char* text, char* buffer, int cap) {
    int i = 0;
    while (text[i] != '\0') {
        const int width = (LeadByte(static_cast<unsigned char>(text[i])) && text[i + 1] != '\0') ? 2 : 1;
        if (i + width > cap - 1) break;
        for (int k = 0; k < width; ++k) buffer[i + k] = text[i + k];
        i += width;
    }
    buffer[i] = '\0';
}

}  // namespace shell
