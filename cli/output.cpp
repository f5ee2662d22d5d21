// output.cpp - printing for tq73, and the console sink's display hooks.
#include "cli/output.h"

#include <cstdio>
#include <cstring>

#include "cli/json.h"
#include "cli/os.h"
#include "platform/console/console_ui.h"
#include "platform/platform.h"

namespace cli::out {

namespace {

constexpr int kLineSize = 2048;        // a log line in UTF-8: 512 CP932 bytes grow at most threefold
constexpr int kMaxBoxes = 8;
constexpr int kBoxSize = 512;
constexpr uint32_t kBarRedrawMs = 100;
constexpr uint32_t kProgressEventMs = 250;
constexpr int kBarCells = 20;
// The programmer's line before it sends "W" (CP932, as logged).
constexpr const char* kWritePassText = "書込中";

Settings settings;
const uint32_t startMs = platform::TickMs();

// Guarded by the output lock.
Frames frames;
char boxes[kMaxBoxes][kBoxSize];
char boxesCp932[kMaxBoxes][kBoxSize];
int boxCount = 0;
int barWidth = 0;  // characters of the bar on the terminal now; 0: none
uint32_t lastBarMs = 0;
char lastBar[300] = "";  // the bar's text as last drawn
uint32_t lastEventMs = 0;
ops::ProgressSnapshot lastEvent;
bool eventSent = false;

bool Json() { return settings.json; }

uint32_t SinceStart() { return platform::TickMs() - startMs; }

void WriteText(os::Stream s, const char* text) { os::Write(s, text, std::strlen(text)); }

void ClearBarHeld() {
    if (barWidth == 0) return;
    char blank[512];
    const int n = barWidth < static_cast<int>(sizeof blank) - 3 ? barWidth : static_cast<int>(sizeof blank) - 3;
    blank[0] = '\r';
    std::memset(blank + 1, ' ', static_cast<size_t>(n));
    blank[n + 1] = '\r';
    os::Write(os::Stream::Err, blank, static_cast<size_t>(n + 2));
    barWidth = 0;
}

void EmitJson(JsonLine& line) {
    JsonEnd(line);
    os::Write(os::Stream::Out, line.text, line.length);
}

void BeginEvent(JsonLine& line, const char* event) {
    JsonBegin(line, event);
    JsonInt(line, "ms", SinceStart());
}

// A text line on a stream, with the time in front under --verbose.
void PrintLine(os::Stream s, const char* prefix, const char* utf8) {
    ClearBarHeld();
    char line[kLineSize + 64];
    char stamp[32] = "";
    if (settings.verbosity == Verbosity::Verbose) {
        os::ClockStamp(stamp, sizeof stamp - 2);
        std::strcat(stamp, "  ");
    }
    std::snprintf(line, sizeof line, "%s%s%s\n", stamp, prefix, utf8);
    WriteText(s, line);
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// "T-  7 0261000003660D": the frame's length and the bytes shown; false when
// the line is not a frame line.
bool ParseFrameLine(const char* line, int& length, uint8_t* bytes, int& shown) {
    if ((line[0] != 'T' && line[0] != 'R') || line[1] != '-') return false;
    const char* p = line + 2;
    while (*p == ' ') ++p;
    length = 0;
    if (*p < '0' || *p > '9') return false;
    while (*p >= '0' && *p <= '9') length = length * 10 + (*p++ - '0');
    if (*p++ != ' ') return false;
    shown = 0;
    while (p[0] != '\0' && shown < kShownBytes) {
        const int hi = HexDigit(p[0]);
        const int lo = HexDigit(p[1]);
        if (hi < 0 || lo < 0) return false;
        bytes[shown++] = static_cast<uint8_t>(hi * 16 + lo);
        p += 2;
    }
    return true;
}

bool IsModelRequest(uint8_t command) { return command >= 0x70 && command <= 0x72; }

// Keeps what the front end later reads from the log: the frames' count, the
// last request and answer, and whether a model request was accepted.
void NoteFrame(const char* line, int length, const uint8_t* bytes, int shown) {
    (void)length;
    if (line[0] == 'T') {
        ++frames.sent;
        frames.lastCommand = shown > 1 ? bytes[1] : 0;
        std::memcpy(frames.request, bytes, static_cast<size_t>(shown));
        frames.requestShown = shown;
        return;
    }
    ++frames.received;
    std::memcpy(frames.answer, bytes, static_cast<size_t>(shown));
    frames.answerShown = shown;
    if (IsModelRequest(frames.lastCommand) && shown > 1 && bytes[1] == '0') frames.modelAccepted = true;
}

void HexOf(const uint8_t* bytes, int n, char* out) {
    static const char kHex[] = "0123456789ABCDEF";
    for (int i = 0; i < n; ++i) {
        out[2 * i] = kHex[bytes[i] >> 4];
        out[2 * i + 1] = kHex[bytes[i] & 15];
    }
    out[2 * n] = '\0';
}

const char* ActivityName(ops::Activity a) {
    switch (a) {
        case ops::Activity::Update: return "update";
        case ops::Activity::Recovery: return "recovery";
        case ops::Activity::FlashWrite: return "flash write";
        case ops::Activity::FlashRead: return "flash read";
        case ops::Activity::FlashErase: return "flash erase";
        case ops::Activity::ParamChain: return "parameter block";
        case ops::Activity::ApStop: return "ap-stop";
        case ops::Activity::Sequence: return "pattern sequence";
        case ops::Activity::None: default: return "";
    }
}

const char* UnitName(ops::Activity a) {
    switch (a) {
        case ops::Activity::Update:
        case ops::Activity::Recovery: return "pages";
        case ops::Activity::FlashWrite:
        case ops::Activity::FlashRead:
        case ops::Activity::FlashErase: return "bytes";
        case ops::Activity::ApStop: return "attempts";
        default: return "";
    }
}

bool CountsPages(ops::Activity a) { return a == ops::Activity::Update || a == ops::Activity::Recovery; }

bool Changed(const ops::ProgressSnapshot& a, const ops::ProgressSnapshot& b) {
    return a.serial != b.serial || a.done != b.done || a.total != b.total || a.step != b.step ||
           a.endMs != b.endMs || a.outcome != b.outcome;
}

// The board's status text. Before its first page the board cannot tell an
// update's stages apart ("waiting for the device's answer" until then, and
// a recovery reads "erasing" throughout), so the log decides here: after an
// accepting answer the programmer erases, after its write-pass line it waits
// for the boot loader's write mode.
void StatusText(const ops::ProgressSnapshot& s, uint32_t nowMs, char* text, size_t cap) {
    const bool programming = s.activity == ops::Activity::Recovery ||
                             (s.activity == ops::Activity::Update && frames.modelAccepted);
    if (programming && s.endMs == 0 && s.total == 0) {
        std::snprintf(text, cap, "%s: %s", s.activity == ops::Activity::Update ? "update" : "recovery",
                      frames.writePassBegun ? "opening write mode" : "erasing");
        return;
    }
    ops::FormatProgress(s, nowMs, text, cap);
}

void ProgressEvent(const ops::ProgressSnapshot& s, uint32_t nowMs) {
    char text[200];
    StatusText(s, nowMs, text, sizeof text);
    JsonLine line;
    BeginEvent(line, "progress");
    JsonString(line, "activity", ActivityName(s.activity));
    JsonInt(line, "done", s.done);
    JsonInt(line, "total", s.total);
    JsonString(line, "unit", UnitName(s.activity));
    if (s.activity == ops::Activity::ParamChain) JsonInt(line, "step", s.step);
    JsonInt(line, "permille", ops::ProgressPermille(s));
    JsonNumber(line, "rate", ops::ProgressRate(s, nowMs), 1);
    JsonInt(line, "seconds_left", ops::ProgressSecondsLeft(s, nowMs));
    JsonBool(line, "ended", s.endMs != 0);
    JsonString(line, "text", text);
    EmitJson(line);
}

// "[#########-----------]  45%  update: page 86 of 192, 0:09 left, 10.9 pages/s"
void DrawBar(const ops::ProgressSnapshot& s, uint32_t nowMs) {
    char text[200];
    StatusText(s, nowMs, text, sizeof text);
    const double rate = ops::ProgressRate(s, nowMs);
    if (CountsPages(s.activity) && s.total != 0 && rate > 0) {
        const size_t n = std::strlen(text);
        std::snprintf(text + n, sizeof text - n, ", %.1f pages/s", rate);
    }
    const uint32_t permille = ops::ProgressPermille(s);
    char bar[kBarCells + 1];
    const int filled = static_cast<int>(permille * kBarCells / 1000);
    for (int i = 0; i < kBarCells; ++i) bar[i] = i < filled ? '#' : '-';
    bar[kBarCells] = '\0';
    char line[300];
    int n = std::snprintf(line, sizeof line, "\r[%s] %3u%%  %s", bar, static_cast<unsigned>(permille / 10), text);
    // One character short of the width: a full row would wrap, and the next
    // carriage return would then redraw on a new row.
    const int columns = os::TerminalColumns();
    if (n > columns) n = columns;  // the '\r' takes no column
    if (n < 1) n = 1;
    // An unchanged bar is not written again.
    if (barWidth != 0 && n - 1 <= barWidth && std::strncmp(line, lastBar, static_cast<size_t>(n)) == 0 &&
        lastBar[n] == '\0') {
        return;
    }
    std::memcpy(lastBar, line, static_cast<size_t>(n));
    lastBar[n] = '\0';
    // What the last bar drew beyond this one is blanked; the bar is then as
    // wide as the blanks.
    const int width = n - 1;
    char padded[600];
    std::memcpy(padded, line, static_cast<size_t>(n));
    int total = n;
    while (total - 1 < barWidth && total < static_cast<int>(sizeof padded)) padded[total++] = ' ';
    os::Write(os::Stream::Err, padded, static_cast<size_t>(total));
    barWidth = total - 1 > width ? total - 1 : width;
}

}  // namespace

void Configure(const Settings& s) { settings = s; }

Frames Seen() {
    platform::console::OutputLock hold;
    return frames;
}

int BoxCount() {
    platform::console::OutputLock hold;
    return boxCount;
}

const char* BoxText(int index) {
    platform::console::OutputLock hold;
    return index >= 0 && index < boxCount ? boxes[index] : nullptr;
}

bool BoxShown(const char* cp932) {
    platform::console::OutputLock hold;
    for (int i = 0; i < boxCount; ++i) {
        if (std::strcmp(boxesCp932[i], cp932) == 0) return true;
    }
    return false;
}

void Note(const char* utf8) {
    if (settings.verbosity != Verbosity::Verbose || Json()) return;
    platform::console::OutputLock hold;
    PrintLine(os::Stream::Err, "tq73: ", utf8);
}

void Notice(const char* utf8) {
    platform::console::OutputLock hold;
    if (Json()) {
        JsonLine line;
        BeginEvent(line, "notice");
        JsonString(line, "text", utf8);
        EmitJson(line);
        return;
    }
    PrintLine(os::Stream::Err, "tq73: ", utf8);
}

void Line(const char* event, const char* utf8) {
    platform::console::OutputLock hold;
    if (Json()) {
        JsonLine line;
        BeginEvent(line, event);
        JsonString(line, "text", utf8);
        EmitJson(line);
        return;
    }
    PrintLine(os::Stream::Out, "", utf8);
}

void Progress(const ops::ProgressSnapshot& s, uint32_t nowMs) {
    if (s.activity == ops::Activity::None) return;
    platform::console::OutputLock hold;
    if (Json()) {
        const bool due = nowMs - lastEventMs >= kProgressEventMs || s.endMs != 0;
        if (!eventSent || (Changed(s, lastEvent) && due)) {
            ProgressEvent(s, nowMs);
            lastEvent = s;
            lastEventMs = nowMs;
            eventSent = true;
        }
        return;
    }
    if (!settings.bar) return;
    if (s.endMs != 0) {
        ClearBarHeld();
        return;
    }
    if (barWidth != 0 && nowMs - lastBarMs < kBarRedrawMs) return;
    lastBarMs = nowMs;
    DrawBar(s, nowMs);
}

void EndProgress() {
    platform::console::OutputLock hold;
    ClearBarHeld();
}

void Result(int exitCode, const char* outcome, const char* utf8) {
    platform::console::OutputLock hold;
    if (Json()) {
        JsonLine line;
        if (exitCode != kExitOk) {
            BeginEvent(line, "error");
            JsonString(line, "text", utf8);
            EmitJson(line);
        }
        BeginEvent(line, "result");
        JsonString(line, "command", settings.command);
        JsonInt(line, "exit_code", exitCode);
        JsonString(line, "outcome", outcome);
        JsonString(line, "text", utf8);
        EmitJson(line);
        return;
    }
    ClearBarHeld();
    if (exitCode == kExitOk) {
        PrintLine(os::Stream::Out, "", utf8);
    } else {
        PrintLine(os::Stream::Err, "tq73: ", utf8);
    }
}

}  // namespace cli::out

// ---- the console sink's display hooks -----------------------------------------

namespace platform::console {

using namespace cli;
using namespace cli::out;

void ShowLogLine(const char* cp932) {
    char text[kLineSize];
    os::Cp932ToUtf8(cp932, text, sizeof text);
    int length = 0;
    int shown = 0;
    uint8_t bytes[kShownBytes];
    const bool frame = ParseFrameLine(cp932, length, bytes, shown);
    if (frame) NoteFrame(cp932, length, bytes, shown);
    const bool writePassLine = std::strcmp(cp932, kWritePassText) == 0;
    if (writePassLine) frames.writePassBegun = true;
    if (Json()) {
        JsonLine line;
        if (frame) {
            char hex[2 * kShownBytes + 1];
            HexOf(bytes, shown, hex);
            BeginEvent(line, cp932[0] == 'T' ? "sent" : "received");
            JsonInt(line, "length", length);
            JsonString(line, "bytes", hex);
            JsonString(line, "line", text);
        } else {
            BeginEvent(line, "log");
            JsonString(line, "text", text);
        }
        EmitJson(line);
        return;
    }
    if (settings.verbosity == Verbosity::Quiet) return;
    PrintLine(os::Stream::Out, "", text);
    // The wait for write mode now ends the moment the device's reply is in,
    // far sooner than the pump's next look: the stage is drawn as it begins.
    if (writePassLine && settings.bar) {
        lastBarMs = platform::TickMs();
        DrawBar(ops::ReadProgress(), lastBarMs);
    }
}

void ShowBox(const char* cp932) {
    char text[kBoxSize];
    os::Cp932ToUtf8(cp932, text, sizeof text);
    if (boxCount < kMaxBoxes) {
        std::snprintf(boxes[boxCount], kBoxSize, "%s", text);
        std::snprintf(boxesCp932[boxCount], kBoxSize, "%s", cp932);
        ++boxCount;
    }
    if (Json()) {
        JsonLine line;
        BeginEvent(line, "box");
        JsonString(line, "text", text);
        EmitJson(line);
        return;
    }
    // Quiet: the result line says what failed.
    if (settings.verbosity == Verbosity::Quiet) return;
    PrintLine(os::Stream::Err, "error: ", text);
}

void ShowBeep(BeepSound sound) {
    if (!Json()) return;
    JsonLine line;
    BeginEvent(line, "beep");
    JsonString(line, "sound", sound == BeepSound::Default ? "default" : "warning");
    EmitJson(line);
}

void ShowClearLog() {
    if (!Json()) return;
    JsonLine line;
    BeginEvent(line, "clear_log");
    EmitJson(line);
}

}  // namespace platform::console
