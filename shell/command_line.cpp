// command_line.cpp - splitting the program name off the command line.
#include "shell/command_line.h"

namespace shell {

namespace {
// CP932 lead bytes of double-byte characters.
bool LeadByte(unsigned char c) { return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC); }
}  // namespace

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
