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
#include "cli/json.h"
#include "operations/progress.h"
#include "operations/result.h"

namespace cli::out {

struct Settings {
    Verbosity verbosity = Verbosity::Normal;
    bool json = false;
    bool bar = false;        // a progress bar on stderr
    bool answerYes = false;  // --force: the console's questions are answered Yes
    bool decode = false;     // --decode: each frame's decoding under its line
    const char* command = "";
};
void Configure(const Settings& settings);
// What a third Ctrl+C says beside "leaving at once" (where the unit is left
// and what brings it back), on stderr and in the JSON result.
void SetInterruptAdvice(const char* utf8);

// The frames seen so far, as the link handed them over.
constexpr int kFrameBytes = 512;  // what the console keeps of a frame
struct Frames {
    int sent = 0;
    int received = 0;
    uint8_t answer[kFrameBytes] = {};   // the last frame received
    int answerLength = 0;               // its length as its line gives it
    int answerHeld = 0;                 // bytes of it in answer
    uint8_t request[kFrameBytes] = {};  // the last frame sent
    int requestHeld = 0;
    int answersSinceSent = 0;  // frames received since the last one sent
};
Frames Seen();

// A note for --verbose only, on stderr.
void Note(const char* utf8);
// What tq73 does about the operator's Ctrl+C, on stderr (a JSON event).
void Notice(const char* utf8);
// A line of the command's own output (a port name, the device clock) on
// stdout; a JSON event of the given kind with the text under --json.
void Line(const char* event, const char* utf8);
// The same with named texts beside it in the JSON event (key, value pairs).
void LineWithFields(const char* event, const char* utf8, const char* const (*fields)[2], int count);
// One differing range of a verify: on stdout "0x003010-0x003011 (2 bytes):
// file 12 34, flash FF FF" (at most 16 bytes each); under --json a
// difference event.
void Difference(uint32_t address, uint32_t length, const uint8_t* file, const uint8_t* flash);
// Redraws the bar or sends a progress event when something changed.
void Progress(const ops::ProgressSnapshot& s, uint32_t nowMs);
// The bar is taken off the terminal.
void EndProgress();
// --help and --version under --json: the text as one result object (with
// the version and the commit).
void AboutResult(const char* command, const char* text);
// The facts of an operation's result that scripts act on (a verify's counts,
// the device's failures, skipped chunks, bytes of a firmware file outside
// the blocks), added to a JSON object: the result event's and the record's.
void AddResultFacts(JsonLine& line, const ops::OperationResult& result);
// The end: on success the text on stdout; on failure one line on stderr.
// Under --json an error event (on failure) and the result event.
void Result(int exitCode, const char* outcome, const char* utf8);

}  // namespace cli::out
