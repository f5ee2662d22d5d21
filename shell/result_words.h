// result_words.h - the words for what an operation came to, for every front
// end: the status strip's line (and tq73's progress text) while it runs and
// when it has ended, and the command line's result sentence with where the
// unit is left and what to try.
#pragma once

#include <cstddef>
#include <cstdint>

#include "operations/progress.h"
#include "operations/result.h"

namespace shell {

// The result's headline: "update complete in 18.2 s", "flash read 0x1000
// refused at 0x1100", "parameter block 1: erase refused at 0xE200".
void ResultHeadline(const ops::OperationResult& r, char* out, size_t cap);

// The status line for the board as read: what runs and how far it is, or,
// once it has ended, its result's headline. Empty before the first operation.
void StatusText(const ops::ProgressSnapshot& s, uint32_t nowMs, char* out, size_t cap);

// What the command line was asked, in its own terms, for its sentences.
struct ResultContext {
    const char* command = "";     // the command as the window names it: "flash read"
    const char* file = nullptr;   // FILE as given (UTF-8), or none
    const char* path = "";        // FILE as the platform's file calls take it
    const char* port = "";        // the port as the messages name it
    const char* advicePort = "";  // the port as an advised command line names it
    const char* length = "";      // LEN as given, or empty
    unsigned textsNeeded = 0;     // param: the bytes its two texts take in the block
    bool interrupted = false;     // Ctrl+C ended it
    bool writePassCut = false;    // a second Ctrl+C closed the port under a write pass
};

// tq73's result sentence: the headline, where it ran, and what to do.
void ResultSentence(const ops::OperationResult& r, const ResultContext& c, char* out, size_t cap);
// ": the device is left in boot mode; run ... recover FILE to bring it back":
// appended for an update or recovery that programmed (nothing otherwise).
void AppendBootModeAdvice(const ops::OperationResult& r, const ResultContext& c, char* out, size_t cap);

}  // namespace shell
