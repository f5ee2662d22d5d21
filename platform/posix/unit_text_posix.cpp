// unit_text_posix.cpp - one character to code page 932 and back with iconv(3),
// which refuses (EILSEQ) what the code page lacks instead of fitting it.
#include <iconv.h>

#include <cstring>

#include "platform/unit_text.h"

namespace platform {

namespace {

// from's bytes in to's encoding; false when iconv refuses any of them.
bool ConvertAll(const char* to, const char* from, const char* in, size_t length, char* out, size_t cap,
                size_t& written) {
    iconv_t cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1)) return false;
    char* src = const_cast<char*>(in);
    char* dst = out;
    size_t room = cap;
    const bool ok = iconv(cd, &src, &length, &dst, &room) != static_cast<size_t>(-1) && length == 0;
    iconv_close(cd);
    written = cap - room;
    return ok;
}

}  // namespace

bool CharacterFitsCp932(const char* utf8, int width) {
    char bytes[8];
    size_t n = 0;
    if (!ConvertAll("CP932", "UTF-8", utf8, static_cast<size_t>(width), bytes, sizeof bytes, n) || n == 0) return false;
    char back[8];
    size_t m = 0;
    if (!ConvertAll("UTF-8", "CP932", bytes, n, back, sizeof back, m)) return false;
    return m == static_cast<size_t>(width) && std::memcmp(back, utf8, m) == 0;
}

}  // namespace platform
