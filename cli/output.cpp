// output.cpp - printing for tq73, and the console sink's display hooks.
#include "cli/output.h"

#include <cstdio>
#include <cstring>

#include "cli/decode_view.h"
#include "cli/json.h"
#include "platform/terminal.h"
#include "firmware/image_loader.h"
#include "platform/console/console_ui.h"
#include "operations/result.h"
#include "platform/platform.h"
#include "shell/log_gloss.h"
#include "shell/result_words.h"

namespace cli::out {

namespace {

constexpr int kLineSize = 2048;  // a log line in UTF-8: 512 CP932 bytes grow at most threefold
constexpr int kBoxSize = 512;
constexpr uint32_t kBarRedrawMs = 100;
constexpr uint32_t kProgressEventMs = 250;
constexpr int kBarCells = 20;

Settings settings;
const uint32_t startMs = platform::TickMs();

// Guarded by the output lock.
Frames frames;
int barWidth = 0;  // characters of the bar on the terminal now; 0: none
uint32_t lastBarMs = 0;
char lastBar[300] = "";  // the bar's text as last drawn
uint32_t lastEventMs = 0;
ops::ProgressSnapshot lastEvent;
bool eventSent = false;

bool Json() { return settings.json; }

// A queued line is stamped with the time it was logged, but never before an
// event already written: the events' order is the order they happened in for
// whoever reads them, so their times never go back. Called with the output held.
uint32_t SinceStart() {
    static uint32_t lastStamp = 0;
    const uint32_t since = platform::TickMs() - startMs;
    const uint32_t age = platform::console::ShownLineAgeMs();
    const uint32_t logged = age < since ? since - age : 0;
    lastStamp = logged > lastStamp ? logged : lastStamp;
    return lastStamp;
}

void WriteText(platform::terminal::Stream s, const char* text) {
    platform::terminal::Write(s, text, std::strlen(text));
}

void ClearBarHeld() {
    if (barWidth == 0) return;
    char blank[512];
    const int n = barWidth < static_cast<int>(sizeof blank) - 3 ? barWidth : static_cast<int>(sizeof blank) - 3;
    blank[0] = '\r';
    std::memset(blank + 1, ' ', static_cast<size_t>(n));
    blank[n + 1] = '\r';
    platform::terminal::Write(platform::terminal::Stream::Err, blank, static_cast<size_t>(n + 2));
    barWidth = 0;
}

void EmitJson(JsonLine& line) {
    JsonEnd(line);
    platform::terminal::Write(platform::terminal::Stream::Out, line.text, line.length);
}

void BeginEvent(JsonLine& line, const char* event) {
    JsonBegin(line, event);
    JsonInt(line, "ms", SinceStart());
}

// A text line on a stream, with the time in front under --verbose.
void PrintLine(platform::terminal::Stream s, const char* prefix, const char* utf8) {
    ClearBarHeld();
    char line[kLineSize + 64];
    char stamp[32] = "";
    if (settings.verbosity == Verbosity::Verbose) {
        platform::terminal::ClockStamp(stamp, sizeof stamp - 2, platform::console::ShownLineAgeMs());
        std::strcat(stamp, "  ");
    }
    std::snprintf(line, sizeof line, "%s%s%s\n", stamp, prefix, utf8);
    WriteText(s, line);
}

// A decoding under the line it decodes (on its stream), which carries the time.
void PrintDecodedLine(const char* utf8, platform::terminal::Stream s = platform::terminal::Stream::Out) {
    ClearBarHeld();
    char line[kLineSize + 64];
    std::snprintf(line, sizeof line, "%s%s\n", kDecodedPrefix, utf8);
    WriteText(s, line);
}

// Keeps the frames' count and the last request and answer.
void NoteFrame(char letter, int length, const uint8_t* bytes, int held) {
    if (letter == 'T') {
        ++frames.sent;
        std::memcpy(frames.request, bytes, static_cast<size_t>(held));
        frames.requestHeld = held;
        frames.answersSinceSent = 0;
        return;
    }
    ++frames.received;
    ++frames.answersSinceSent;
    std::memcpy(frames.answer, bytes, static_cast<size_t>(held));
    frames.answerHeld = held;
    frames.answerLength = length;
}

// out holds 2 * n + 1 characters.
void HexOf(const uint8_t* bytes, int n, char* out) {
    static const char kHex[] = "0123456789ABCDEF";
    for (int i = 0; i < n; ++i) {
        out[2 * i] = kHex[bytes[i] >> 4];
        out[2 * i + 1] = kHex[bytes[i] & 15];
    }
    out[2 * n] = '\0';
}

// "12 34 56 ..." from "123456": out holds 3 * n + 4 characters.
void Spaced(const char* hex, int n, bool more, char* out) {
    int o = 0;
    for (int i = 0; i < n; ++i) {
        if (i != 0) out[o++] = ' ';
        out[o++] = hex[2 * i];
        out[o++] = hex[2 * i + 1];
    }
    if (more) {
        std::memcpy(out + o, " ..", 3);
        o += 3;
    }
    out[o] = '\0';
}

bool Changed(const ops::ProgressSnapshot& a, const ops::ProgressSnapshot& b) {
    return a.serial != b.serial || a.done != b.done || a.total != b.total || a.step != b.step || a.endMs != b.endMs;
}

void ProgressEvent(const ops::ProgressSnapshot& s, uint32_t nowMs) {
    char text[200];
    shell::StatusText(s, nowMs, text, sizeof text);
    JsonLine line;
    BeginEvent(line, "progress");
    JsonString(line, "activity", ops::ActivityName(s.activity));
    JsonInt(line, "done", s.done);
    JsonInt(line, "total", s.total);
    JsonString(line, "unit", ops::UnitName(s.activity));
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
    shell::StatusText(s, nowMs, text, sizeof text);
    const double rate = ops::ProgressRate(s, nowMs);
    if (ops::CountsPages(s.activity) && s.total != 0 && rate > 0) {
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
    const int columns = platform::terminal::TerminalColumns();
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
    platform::terminal::Write(platform::terminal::Stream::Err, padded, static_cast<size_t>(total));
    barWidth = total - 1 > width ? total - 1 : width;
}

}  // namespace

void AddResultFacts(JsonLine& line, const ops::OperationResult& s) {
    if ((s.activity == ops::Activity::FlashVerify || s.activity == ops::Activity::FirmwareVerify) &&
        (s.outcome == ops::Outcome::Complete || s.outcome == ops::Outcome::Different)) {
        JsonInt(line, "compared", s.verify.compared);
        JsonInt(line, "differing", s.verify.differing);
        JsonInt(line, "ranges", s.verify.ranges);
        if (s.verify.differing != 0) JsonInt(line, "first_difference", s.verify.first);
    }
    if (s.activity == ops::Activity::FlashWrite && s.skipped != 0) JsonInt(line, "skipped_chunks", s.skipped);
    if (s.line.askedAgain != 0 || s.line.damaged != 0 || s.line.lost != 0) {
        JsonInt(line, "asked_again", s.line.askedAgain);
        JsonInt(line, "damaged_answers", s.line.damaged);
        JsonInt(line, "lost_answers", s.line.lost);
        JsonInt(line, "disagreeing_answers", s.line.disagreed);
    }
    // Set only when the command read a firmware file.
    const firmware::LoadFacts& loaded = firmware::LastLoadFacts;
    if (loaded.outsideBytes != 0) {
        JsonInt(line, "bytes_outside_blocks", loaded.outsideBytes);
        JsonInt(line, "first_outside", loaded.firstOutside);
    }
    if (s.deviceErrors.blocks != 0 || s.deviceErrors.pages != 0) {
        JsonInt(line, "blocks_not_erased", s.deviceErrors.blocks);
        JsonInt(line, "pages_not_programmed", s.deviceErrors.pages);
        JsonInt(line, "first_failed", s.deviceErrors.first);
    }
}

namespace {

// What a third Ctrl+C leaves behind: the line, with the advice, and under
// --json the result object, its time written by the handler.
void KeepLastWords(const char* advice) {
    char text[600];
    std::snprintf(text, sizeof text, "interrupted a third time: leaving at once%s%s", advice[0] != '\0' ? "; " : "",
                  advice);
    if (!Json()) {
        platform::terminal::SetLastWords(text, "", "");
        return;
    }
    JsonLine line;
    JsonBegin(line, "result");
    char head[64];
    std::snprintf(head, sizeof head, "%.*s", static_cast<int>(line.length), line.text);
    const size_t headLength = line.length;
    JsonString(line, "command", settings.command);
    JsonInt(line, "exit_code", 130);
    JsonString(line, "outcome", "interrupted");
    JsonString(line, "text", text);
    JsonEnd(line);
    char tail[1024];
    std::snprintf(tail, sizeof tail, "%.*s", static_cast<int>(line.length - headLength), line.text + headLength);
    platform::terminal::SetLastWords(text, head, tail);
}

}  // namespace

void Configure(const Settings& s) {
    settings = s;
    KeepLastWords("");
}

void SetInterruptAdvice(const char* utf8) { KeepLastWords(utf8); }

Frames Seen() {
    platform::console::OutputLock hold;
    return frames;
}

void Note(const char* utf8) {
    if (settings.verbosity != Verbosity::Verbose || Json()) return;
    platform::console::OutputLock hold;
    PrintLine(platform::terminal::Stream::Err, "tq73: ", utf8);
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
    PrintLine(platform::terminal::Stream::Err, "tq73: ", utf8);
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
    PrintLine(platform::terminal::Stream::Out, "", utf8);
}

void LineWithFields(const char* event, const char* utf8, const char* const (*fields)[2], int count) {
    if (!Json()) {
        Line(event, utf8);
        return;
    }
    platform::console::OutputLock hold;
    JsonLine line;
    BeginEvent(line, event);
    JsonString(line, "text", utf8);
    for (int i = 0; i < count; ++i) JsonString(line, fields[i][0], fields[i][1]);
    EmitJson(line);
}

void Difference(uint32_t address, uint32_t length, const uint8_t* file, const uint8_t* flash) {
    constexpr uint32_t kShown = 16;
    const int shown = static_cast<int>(length < kShown ? length : kShown);
    char fileHex[2 * kShown + 1], flashHex[2 * kShown + 1];
    HexOf(file, shown, fileHex);
    HexOf(flash, shown, flashHex);
    char spacedFile[3 * kShown + 4], spacedFlash[3 * kShown + 4];
    Spaced(fileHex, shown, length > kShown, spacedFile);
    Spaced(flashHex, shown, length > kShown, spacedFlash);
    char text[200];
    std::snprintf(text, sizeof text, "0x%06X-0x%06X (%u byte%s): file %s, flash %s", unsigned(address),
                  unsigned((address + length - 1) & 0xFFFFFF), unsigned(length), length == 1 ? "" : "s", spacedFile,
                  spacedFlash);
    platform::console::OutputLock hold;
    if (Json()) {
        JsonLine line;
        BeginEvent(line, "difference");
        JsonInt(line, "address", address);
        JsonInt(line, "length", length);
        JsonString(line, "file", fileHex);
        JsonString(line, "flash", flashHex);
        JsonString(line, "text", text);  // the line tq73 prints without --json
        EmitJson(line);
        return;
    }
    PrintLine(platform::terminal::Stream::Out, "", text);
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

void AboutResult(const char* command, const char* text) {
    platform::console::OutputLock hold;
    JsonLine line;
    BeginEvent(line, "result");
    JsonString(line, "command", command);
    JsonInt(line, "exit_code", kExitOk);
    JsonString(line, "outcome", "complete");
    JsonString(line, "text", text);
    JsonString(line, "version", VersionNumber());
    JsonString(line, "commit", VersionCommit());
    EmitJson(line);
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
        AddResultFacts(line, ops::LastResult());
        EmitJson(line);
        return;
    }
    ClearBarHeld();
    if (exitCode == kExitOk) {
        PrintLine(platform::terminal::Stream::Out, "", utf8);
    } else {
        PrintLine(platform::terminal::Stream::Err, "tq73: ", utf8);
    }
}

}  // namespace cli::out

// ---- the console sink's display hooks -----------------------------------------

namespace platform::console {

using namespace cli;
using namespace cli::out;

namespace {

// A log line in UTF-8, with the English of a Japanese text when it has one.
void ShowText(const char* text, const char* english) {
    if (Json()) {
        JsonLine line;
        BeginEvent(line, "log");
        JsonString(line, "text", text);
        if (english != nullptr) JsonString(line, "english", english);
        EmitJson(line);
        return;
    }
    if (settings.verbosity == Verbosity::Quiet) return;
    PrintLine(platform::terminal::Stream::Out, "", text);
    if (english != nullptr && settings.decode) PrintDecodedLine(english);
}

}  // namespace

void ShowLogLine(const char* cp932) {
    char text[kLineSize];
    platform::terminal::Cp932ToUtf8(cp932, text, sizeof text);
    char gloss[kLineSize], english[kLineSize];
    const bool glossed =
        shell::GlossOf(cp932, gloss, sizeof gloss) && platform::terminal::Cp932ToUtf8(gloss, english, sizeof english);
    ShowText(text, glossed ? english : nullptr);
}

void ShowLogLineUtf8(const char* text) { ShowText(text, nullptr); }

void ShowFrame(char letter, int length, const uint8_t* frame, int held, const char* cp932) {
    held = held < 0 ? 0 : held > kFrameBytes ? kFrameBytes : held;
    NoteFrame(letter, length, frame, held);
    static shell::FrameDecoder session;  // used with the output held
    const shell::Decoding decoded = session.Frame(letter, frame, held, length, SinceStart());
    if (!Json()) {
        ShowLogLine(cp932);
        if (settings.decode && settings.verbosity != Verbosity::Quiet) {
            PrintDecodedLine(decoded.text);
        }
        return;
    }
    static char hex[2 * kFrameBytes + 1];  // written with the output held
    HexOf(frame, held, hex);
    JsonLine line;
    BeginEvent(line, letter == 'T' ? "sent" : "received");
    JsonInt(line, "length", length);
    JsonString(line, "bytes", hex);
    // A frame longer than the console keeps shows its first bytes only.
    if (held < length) JsonBool(line, "bytes_cut", true);
    JsonString(line, "line", cp932);
    AddDecoded(line, decoded);
    EmitJson(line);
}

namespace {

// A box, with the English of its first line when that is one of the Japanese
// texts ("FLASH READ 異常"): in the JSON event, and under --decode below it.
void ShowBoxText(const char* utf8, const char* english) {
    if (Json()) {
        JsonLine line;
        BeginEvent(line, "box");
        JsonString(line, "text", utf8);
        if (english != nullptr) JsonString(line, "english", english);
        EmitJson(line);
        return;
    }
    // Quiet: the result line says what failed.
    if (settings.verbosity == Verbosity::Quiet) return;
    PrintLine(platform::terminal::Stream::Err, "error: ", utf8);
    if (english != nullptr && settings.decode) PrintDecodedLine(english, platform::terminal::Stream::Err);
}

// The English of a box whose first line is one of the system's texts.
bool EnglishOfFirstLine(const char* cp932, char* english, size_t cap) {
    char first[kBoxSize], gloss[kBoxSize];
    std::snprintf(first, sizeof first, "%.*s", static_cast<int>(std::strcspn(cp932, "\n")), cp932);
    return shell::GlossOf(first, gloss, sizeof gloss) && platform::terminal::Cp932ToUtf8(gloss, english, cap);
}

}  // namespace

// A box that names a path comes as UTF-8; its first line is the system's
// text all the same.
void ShowBoxUtf8(const char* utf8) {
    char first[kBoxSize], cp932[kBoxSize], english[kBoxSize];
    std::snprintf(first, sizeof first, "%.*s", static_cast<int>(std::strcspn(utf8, "\n")), utf8);
    const bool glossed = platform::terminal::Utf8ToCp932(first, cp932, sizeof cp932) &&
                         EnglishOfFirstLine(cp932, english, sizeof english);
    ShowBoxText(utf8, glossed ? english : nullptr);
}

void ShowBox(const char* cp932) {
    char text[kBoxSize];
    platform::terminal::Cp932ToUtf8(cp932, text, sizeof text);
    char english[kBoxSize];
    ShowBoxText(text, EnglishOfFirstLine(cp932, english, sizeof english) ? english : nullptr);
}

// The window's Yes/No box; tq73 answers it as --force says, and shows both.
bool AnswerQuestion(const char* cp932) {
    char text[kBoxSize];
    platform::terminal::Cp932ToUtf8(cp932, text, sizeof text);
    const bool yes = settings.answerYes;
    if (Json()) {
        JsonLine line;
        BeginEvent(line, "question");
        JsonString(line, "text", text);
        JsonString(line, "answer", yes ? "yes" : "no");
        EmitJson(line);
        return yes;
    }
    if (settings.verbosity != Verbosity::Quiet) {
        PrintLine(platform::terminal::Stream::Err, "question: ", text);
        PrintLine(platform::terminal::Stream::Err,
                  "answer: ", yes ? "yes (--force)" : "no (give --force to answer yes)");
    }
    return yes;
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
