// terminal.h - what a command-line program needs of the system beyond the
// rest of the platform layer: its two output streams, Ctrl+C, text
// encodings, arguments, the port argument and the list of ports. One
// implementation per system: posix/terminal_posix.cpp and
// win32/terminal_win32.cpp.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace platform::terminal {

enum class Stream { Out, Err };

// Standard descriptors that are closed get the null device (else the first
// file opened, the serial port, would take their place and get the text),
// then output modes, the Ctrl+C handler and the timer resolution; before
// anything else.
void Init();
// Writes UTF-8 text as it is; a console on Windows gets it as UTF-16.
void Write(Stream stream, const char* utf8, size_t count);
bool IsTerminal(Stream stream);
// Whether the stream is a terminal that takes the cursor-movement codes
// (ESC [ n A, ESC [ K) a table of rows kept in place needs; Windows is asked
// to take them (ENABLE_VIRTUAL_TERMINAL_PROCESSING).
bool CanRedrawRows(Stream stream);
// Columns of the terminal behind stderr; 80 when it cannot be told.
int TerminalColumns();

// Ctrl+C (and SIGTERM, SIGHUP, or the console being closed) seen so far. A
// request within kInterruptSpacingMs of the last one counted is the same
// request (a terminal's hang-up and termination a millisecond apart), not the
// impatient second Ctrl+C that cuts an operation short.
constexpr int kInterruptSpacingMs = 500;
int Interrupts();
// Windows is ending the process within seconds: its console window was
// closed, or the user logs off or the PC shuts down. Never on Linux.
bool Closing();
// What a third Ctrl+C writes before the process ends: a line for stderr
// (after "tq73: "), and for --json the result object, split where its time
// goes: the handler writes jsonHead, ,"ms":N and jsonTail, so that a script
// still reads how and when it ended. Copied; jsonHead empty: no JSON.
void SetLastWords(const char* line, const char* jsonHead, const char* jsonTail);
// Ends the process at once, for a third Ctrl+C.
[[noreturn]] void ExitNow(int code);

// Conversions; the output is always terminated, and a character that has no
// form in the target is written as '?' with false returned.
bool Cp932ToUtf8(const char* in, char* out, size_t cap);
bool Utf8ToCp932(const char* in, char* out, size_t cap);
// A path as the platform's file calls take it: the argument itself (UTF-8 on
// Windows, opened through the W calls; the bytes given on Linux), once it is
// known to fit the console's 255 characters whole. False, out empty, else.
bool Utf8ToPath(const char* in, char* out, size_t cap);

// The program's arguments as UTF-8 (Windows reads its wide command line),
// every one of them; their count.
int Arguments(int argc, char** argv, const char* const*& out);
// Why the arguments could not all be carried exactly (Windows: half a
// character in one), or nullptr.
const char* ArgumentsRefused();

// Local time "HH:MM:SS.mmm", agoMs milliseconds before now.
void ClockStamp(char* out, size_t cap, uint32_t agoMs = 0);
// Local date and time with its offset from UTC, ISO 8601:
// "2026-12-08T14:05:09+01:00".
void IsoLocalTime(char* out, size_t cap);

// Turns --port into the port number the session opens (Linux maps the device
// path as COM1 of the posix platform); false with the reason.
bool PreparePort(const char* arg, int& number, char* why, size_t whyCap);
// Keeps other tq73 processes off the port for as long as this one runs; false
// with the reason when another holds it. (Windows refuses a second open of a
// COM port by itself; a Linux tty does not.)
bool ClaimPort(const char* arg, char* why, size_t whyCap);
// Whether the port is a serial device at all; false with the reason ("not a
// serial port") for anything else, before a byte is written to it.
bool CheckSerialPort(const char* arg, char* why, size_t whyCap);
// Why a port that the session could not open cannot be opened, and what to try.
void DescribePortFailure(const char* arg, char* out, size_t cap);

constexpr int kPortNameSize = 64;
// The serial ports that exist, sorted; their count (at most cap).
int ListPorts(char (*names)[kPortNameSize], int cap);

// Sorts the n names of a port list in place by before(a, b). Stable, so that
// names that before() takes as equal keep the order they were found in.
template <typename Before>
void SortPortNames(char (*names)[kPortNameSize], int n, Before before) {
    std::vector<std::string> sorted(names, names + n);
    std::stable_sort(sorted.begin(), sorted.end(),
                     [&](const std::string& a, const std::string& b) { return before(a.c_str(), b.c_str()); });
    for (int i = 0; i < n; ++i) std::snprintf(names[i], kPortNameSize, "%s", sorted[i].c_str());
}

// Byte size of a file; -1 when it cannot be told.
long long FileSize(const char* path);

}  // namespace platform::terminal
