// decode_view.cpp - the decoded view, and tq73 decode: a session read back
// from a transcript, tq73's JSON, a raw capture or a tq73 capture.
#include "cli/decode_view.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "cli/capture_file.h"
#include "cli/json_read.h"
#include "platform/platform.h"
#include "platform/terminal.h"
#include "shell/log_gloss.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

namespace cli {

void AddDecoded(JsonLine& line, const shell::Decoding& d) {
    JsonLine inner;
    JsonFields(inner);
    JsonString(inner, "text", d.text);
    for (int i = 0; i < d.count; ++i) {
        const shell::DecodedField& f = d.fields[i];
        switch (f.kind) {
            case shell::DecodedField::Kind::Text: JsonString(inner, f.key, f.text); break;
            case shell::DecodedField::Kind::Number: JsonInt(inner, f.key, f.number); break;
            case shell::DecodedField::Kind::Flag: JsonBool(inner, f.key, f.number != 0); break;
        }
    }
    JsonObject(line, "decoded", inner);
}

namespace {

// A session file is text of a few megabytes at most; a capture of a whole
// update is well under one.
constexpr size_t kInputCap = size_t(64) << 20;

void Print(const std::string& text) {
    platform::terminal::Write(platform::terminal::Stream::Out, text.data(), text.size());
}

}  // namespace

void PrintDecoded(const char* line, const shell::Decoding& d, bool json, const char* event) {
    if (json) {
        JsonLine j;
        JsonBegin(j, event);
        JsonString(j, "line", line);
        AddDecoded(j, d);
        JsonEnd(j);
        platform::terminal::Write(platform::terminal::Stream::Out, j.text, j.length);
        return;
    }
    Print(std::string(line) + "\n" + kDecodedPrefix + d.text + "\n");
}

namespace {

void PrintError(const char* why) {
    const std::string text = std::string("tq73: decode: ") + why + "\n";
    platform::terminal::Write(platform::terminal::Stream::Err, text.data(), text.size());
}

// ---- reading the input --------------------------------------------------------

bool ReadAll(const char* name, std::string& out, char* why, size_t cap) {
    char buffer[65536];
    if (std::strcmp(name, "-") == 0) {
#ifdef _WIN32
        _setmode(_fileno(stdin), _O_BINARY);
#endif
        size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, stdin)) > 0 && out.size() <= kInputCap) out.append(buffer, n);
        if (std::ferror(stdin)) return std::snprintf(why, cap, "standard input could not be read"), false;
    } else {
        char path[platform::kPathBytes];
        if (!platform::terminal::Utf8ToPath(name, path, sizeof path)) {
            return std::snprintf(why, cap, "%s: the name cannot be carried", name), false;
        }
        platform::FileHandle f = platform::FileOpenRead(path);
        if (f == nullptr) {
            std::snprintf(why, cap, "%s cannot be read (%s)", name, platform::FileFaultText(platform::LastFileFault()));
            return false;
        }
        int n;
        while ((n = platform::FileReadOnce(f, buffer, sizeof buffer)) > 0 && out.size() <= kInputCap) {
            out.append(buffer, static_cast<size_t>(n));
        }
        platform::FileClose(f);
        if (n < 0) {
            std::snprintf(why, cap, "%s could not be read to its end (%s)", name,
                          platform::FileFaultText(platform::LastFileFault()));
            return false;
        }
    }
    if (out.size() > kInputCap) return std::snprintf(why, cap, "%s is larger than 64 MiB", name), false;
    return true;
}

// Text (a transcript, tq73's output or its JSON) or the raw bytes of a line.
bool LooksRaw(const std::string& in) {
    for (unsigned char c : in) {
        if (c < 0x20 && c != '\n' && c != '\r' && c != '\t') return true;
    }
    return false;
}

// ---- text lines ---------------------------------------------------------------

// A time stamp in front of a line: the transcript's "2026-12-08 14:22:29.123 "
// or tq73 --verbose's "14:22:29.123  ". Returns its length, and ms of the day.
size_t Stamp(const char* s, long long& ms) {
    int h, m, sec, milli, used = 0;
    const char* t = s;
    int y, mo, d;
    if (std::sscanf(s, "%4d-%2d-%2d %n", &y, &mo, &d, &used) == 3 && used == 11) t = s + used;
    used = 0;
    if (std::sscanf(t, "%2d:%2d:%2d.%3d%n", &h, &m, &sec, &milli, &used) != 4 || used != 12) return 0;
    ms = ((h * 60LL + m) * 60 + sec) * 1000 + milli;
    size_t n = static_cast<size_t>(t - s) + 12;
    while (s[n] == ' ') ++n;
    return n;
}

struct Session {
    shell::FrameDecoder frames;
    bool json = false;
};

// A log line: a frame line decoded, a Japanese text glossed, any other as it is.
void DecodeLogLine(Session& s, const char* whole, const char* logLine, long long ms) {
    char letter;
    int length;
    std::vector<uint8_t> bytes;
    if (shell::ParseFrameLine(logLine, letter, length, bytes)) {
        const shell::Decoding d = s.frames.Frame(letter, bytes.data(), static_cast<int>(bytes.size()), length, ms);
        PrintDecoded(whole, d, s.json, letter == 'T' ? "sent" : "received");
        return;
    }
    char cp932[2048], english[shell::kDecodedTextSize];
    shell::Decoding d;
    if (platform::terminal::Utf8ToCp932(logLine, cp932, sizeof cp932) &&
        shell::GlossOf(cp932, english, sizeof english) &&
        platform::terminal::Cp932ToUtf8(english, d.text, sizeof d.text)) {
        PrintDecoded(whole, d, s.json, "log");
        return;
    }
    if (!s.json) Print(std::string(whole) + "\n");
}

// A string field of one of tq73's own JSON lines, its escapes undone; false
// when there is none. Unescaped, a string is never longer than the line.
bool TextField(const std::string& line, const char* key, std::string& out) {
    std::vector<char> text(line.size() + 1);
    if (!JsonReadString(line.c_str(), key, text.data(), text.size())) return false;
    out = text.data();
    return true;
}

void DecodeJsonLine(Session& s, const std::string& line) {
    std::string event, text, hex;
    if (!TextField(line, "event", event)) return;
    double ms = -1, length = 0;
    JsonReadNumber(line.c_str(), "ms", ms);
    const long long at = static_cast<long long>(ms);
    if (event == "sent" || event == "received") {
        JsonReadNumber(line.c_str(), "length", length);
        TextField(line, "line", text);
        TextField(line, "bytes", hex);
        std::vector<uint8_t> bytes;
        shell::BytesOfHex(hex.c_str(), bytes);
        const shell::Decoding d = s.frames.Frame(event == "sent" ? 'T' : 'R', bytes.data(),
                                                 static_cast<int>(bytes.size()), static_cast<int>(length), at);
        PrintDecoded(text.c_str(), d, s.json, event.c_str());
    } else if (event == "log" && TextField(line, "text", text)) {
        DecodeLogLine(s, text.c_str(), text.c_str(), at);
    }
}

void DecodeText(Session& s, const std::string& in) {
    size_t start = in.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
    while (start < in.size()) {
        size_t end = in.find('\n', start);
        if (end == std::string::npos) end = in.size();
        std::string line = in.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        start = end + 1;
        // A decoding already there (tq73 --decode's output) is made anew.
        if (line.compare(0, std::strlen(kDecodedPrefix), kDecodedPrefix) == 0) continue;
        if (!line.empty() && line[0] == '{') {
            DecodeJsonLine(s, line);
            continue;
        }
        long long ms = -1;
        const size_t stamp = Stamp(line.c_str(), ms);
        DecodeLogLine(s, line.c_str(), line.c_str() + stamp, ms);
    }
}

// ---- raw bytes ----------------------------------------------------------------

std::string HexOf(const uint8_t* p, size_t n) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (size_t i = 0; i < n; ++i) {
        out += kHex[p[i] >> 4];
        out += kHex[p[i] & 15];
    }
    return out;
}

void DecodeRaw(Session& s, const std::string& in) {
    const auto* bytes = reinterpret_cast<const uint8_t*>(in.data());
    for (const shell::StreamItem& item : shell::DecodeHostStream(bytes, in.size())) {
        constexpr size_t kShown = 64;
        char head[32];
        std::snprintf(head, sizeof head, "%06zu ", item.offset);
        const size_t shown = item.length < kShown ? item.length : kShown;
        const std::string line = head + HexOf(bytes + item.offset, shown) + (item.length > kShown ? ".." : "");
        PrintDecoded(line.c_str(), item.decoding, s.json, "bytes");
    }
}

}  // namespace

int DecodeCommand(const Request& request) {
    std::string in;
    char why[600];
    if (!ReadAll(request.file, in, why, sizeof why)) {
        PrintError(why);
        return kExitFile;
    }
    Session s;
    s.json = request.json;
    if (IsCaptureFile(in)) {
        if (!DecodeCapture(in, s.json, why, sizeof why)) {
            char text[700];
            std::snprintf(text, sizeof text, "%s: %s", request.file, why);
            PrintError(text);
            return kExitFile;
        }
    } else if (LooksRaw(in)) {
        DecodeRaw(s, in);
    } else {
        DecodeText(s, in);
    }
    return kExitOk;
}

}  // namespace cli
