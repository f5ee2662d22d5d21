// json.cpp - the JSON line writer of --json.
#include "cli/json.h"

#include <cstdio>
#include <cstring>

#include "platform/path_text.h"

namespace cli {

namespace {

// Room kept for the closing "}\n" and its NUL.
constexpr size_t kClosing = 3;

size_t Room(const JsonLine& l) { return kJsonLineSize - kClosing - l.length; }

bool Append(JsonLine& l, const char* bytes, size_t n) {
    if (n > Room(l)) {
        l.cut = true;
        return false;
    }
    std::memcpy(l.text + l.length, bytes, n);
    l.length += n;
    return true;
}

// The escaped form of one byte; n is its length.
void Escape(unsigned char c, char* out, size_t& n) {
    switch (c) {
        case '"': std::memcpy(out, "\\\"", n = 2); return;
        case '\\': std::memcpy(out, "\\\\", n = 2); return;
        case '\n': std::memcpy(out, "\\n", n = 2); return;
        case '\r': std::memcpy(out, "\\r", n = 2); return;
        case '\t': std::memcpy(out, "\\t", n = 2); return;
        default: break;
    }
    if (c < 0x20 || c == 0x7F) {
        n = static_cast<size_t>(std::snprintf(out, 8, "\\u%04x", c));
        return;
    }
    out[0] = static_cast<char>(c);
    n = 1;
}

bool Key(JsonLine& l, const char* key, size_t& mark) {
    mark = l.length;
    return Append(l, ",\"", 2) && Append(l, key, std::strlen(key)) && Append(l, "\":", 2);
}

// A field that did not fit whole is taken out again.
void Settle(JsonLine& l, size_t mark, bool fitted) {
    if (!fitted) {
        l.length = mark;
        l.cut = true;
    }
}

}  // namespace

void JsonBegin(JsonLine& l, const char* event) { JsonBeginObject(l, "event", event); }

void JsonBeginObject(JsonLine& l, const char* key, const char* utf8) {
    l.length = 0;
    l.cut = false;
    Append(l, "{\"", 2);
    Append(l, key, std::strlen(key));
    Append(l, "\":", 2);
    JsonString(l, nullptr, utf8);
}

void JsonString(JsonLine& l, const char* key, const char* utf8) {
    size_t mark = l.length;
    if ((key != nullptr && !Key(l, key, mark)) || !Append(l, "\"", 1)) return Settle(l, mark, false);
    // The closing quote is kept room for all along.
    const size_t limit = kJsonLineSize - kClosing - 1;
    const char* p = utf8;
    const char* const end = utf8 + std::strlen(utf8);
    while (p < end) {
        // A byte that does not begin a well-formed character (a Linux file
        // name may hold any bytes) becomes U+FFFD, so that the line stays JSON.
        const unsigned char lead = static_cast<unsigned char>(*p);
        const int width = lead < 0x80 ? 1 : platform::DecodeUtf8(p, static_cast<int>(end - p)).width;
        char piece[16];
        size_t n = 0;
        if (width == 0) {
            std::memcpy(piece, "\xEF\xBF\xBD", 3);
            n = 3;
        }
        for (int i = 0; i < width; ++i) {
            size_t k = 0;
            Escape(static_cast<unsigned char>(p[i]), piece + n, k);
            n += k;
        }
        if (l.length + n > limit) {
            l.cut = true;
            break;
        }
        std::memcpy(l.text + l.length, piece, n);
        l.length += n;
        p += width == 0 ? 1 : width;
    }
    l.text[l.length++] = '"';
}

void JsonInt(JsonLine& l, const char* key, long long value) {
    size_t mark = l.length;
    char digits[32];
    const int n = std::snprintf(digits, sizeof digits, "%lld", value);
    Settle(l, mark, Key(l, key, mark) && Append(l, digits, static_cast<size_t>(n)));
}

void JsonNumber(JsonLine& l, const char* key, double value, int decimals) {
    size_t mark = l.length;
    char digits[64];
    const int n = std::snprintf(digits, sizeof digits, "%.*f", decimals, value);
    Settle(
        l, mark,
        Key(l, key, mark) && n > 0 && n < static_cast<int>(sizeof digits) && Append(l, digits, static_cast<size_t>(n)));
}

void JsonBool(JsonLine& l, const char* key, bool value) {
    size_t mark = l.length;
    Settle(l, mark, Key(l, key, mark) && Append(l, value ? "true" : "false", value ? 4 : 5));
}

void JsonFields(JsonLine& inner) {
    inner.length = 0;
    inner.cut = false;
}

// Each field of inner begins with its comma; the object's first is dropped.
void JsonObject(JsonLine& l, const char* key, const JsonLine& inner) {
    size_t mark = l.length;
    const size_t skip = inner.length > 0 ? 1 : 0;
    Settle(l, mark,
           Key(l, key, mark) && Append(l, "{", 1) && Append(l, inner.text + skip, inner.length - skip) &&
               Append(l, "}", 1));
}

void JsonEnd(JsonLine& l) {
    l.text[l.length++] = '}';
    l.text[l.length++] = '\n';
    l.text[l.length] = '\0';
}

}  // namespace cli
