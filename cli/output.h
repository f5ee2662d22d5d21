// output.h - how tq73 shows what happens: the operator log's lines (UTF-8,
// time-stamped under --verbose), boxes as errors, a progress bar on a
// terminal, JSON events under --json, and the one result line.
//
// The log lines reach it through the console user interface sink, from any
// thread; everything here writes with the output held, so lines, the bar and
// events never interleave.
#pragma once

#include <cstdint>

#include "cli/args.h"
#include "operations/progress.h"

namespace cli::out {

struct Settings {
    Verbosity verbosity = Verbosity::Normal;
    bool json = false;
    bool bar = false;  // a progress bar on stderr
    bool answerYes = false;  // --force: the console's questions are answered Yes
    const char* command = "";
};
void Configure(const Settings& settings);

// What the log has shown of the frames so far.
constexpr int kShownBytes = 64;  // a frame line shows at most 64 bytes
struct Frames {
    int sent = 0;      // "T-" lines
    int received = 0;  // "R-" lines
    uint8_t lastCommand = 0;           // byte 1 of the last frame sent
    uint8_t answer[kShownBytes] = {};  // the last frame received, as shown
    int answerShown = 0;
    int answerLength = 0;  // the bytes of it that arrived, as its line counts them
    uint8_t request[kShownBytes] = {};  // the last frame sent, as shown
    int requestShown = 0;
    bool modelAccepted = false;  // an answer "0" followed a model request
    bool writePassBegun = false;  // the programmer logged its write-pass line
};
Frames Seen();

// The boxes shown so far (UTF-8); nullptr past the last.
int BoxCount();
const char* BoxText(int index);
bool BoxShown(const char* cp932);

// A note for --verbose only, on stderr.
void Note(const char* utf8);
// What tq73 does about the operator's Ctrl+C, on stderr (a JSON event).
void Notice(const char* utf8);
// A line of the command's own output (a port name, the device clock) on
// stdout; a JSON event of the given kind with the text under --json.
void Line(const char* event, const char* utf8);
// Redraws the bar or sends a progress event when something changed.
void Progress(const ops::ProgressSnapshot& s, uint32_t nowMs);
// The bar is taken off the terminal.
void EndProgress();
// The end: on success the text on stdout; on failure one line on stderr.
// Under --json an error event (on failure) and the result event.
void Result(int exitCode, const char* outcome, const char* utf8);

}  // namespace cli::out
