// frame_check.h - checks what a host sends for well-formed traffic, for soak tests of the console.
//
// The device model is lenient on purpose: it skips noise and resynchronises, so that a
// real host's requests behind line noise are still answered. That leniency would also
// hide a host that writes one frame into the middle of another (two senders at once)
// or a boot step cut short. FrameCheck takes the host's bytes exactly as they arrive
// and accepts only:
//   application mode: the wake byte 0x5C, and frames STX, command, 16-bit LE length of
//     at most 505, payload, ETX, additive checksum, CR, written without a pause of
//     kStallMs or more inside them (the device drops a frame cut by such a pause);
//   boot mode: "E" code code (both codes equal), "W", and in write mode pages of
//     address low (a multiple of 128: 00 or 80), address high, 128 data bytes, "U";
//     the end byte 0xFF between steps, after a page's data instead of "U", and alone
//     where page data were due (a host giving up after a bad address echo, recognised
//     by the pause after it). Each step is one write of the host: a pause of kStallMs
//     inside one is a violation, a pause between them (the host awaits the echo) is not.
// Anything else is a violation, recorded with its place and the bytes around it;
// checking resumes at the next byte that can start something.
//
// A host that gets no reply, or a wrong one, to "W" gives up on write mode without the
// end byte; so after a "W" with no page address yet, a frame or the wake byte leaves
// write mode (counted apart). Once a page address went out the host ends with 0xFF.
//
// The check does not ask the device which mode it is in: the host's bytes are checked
// against both grammars at once, which do not overlap where a host may switch between
// them (a host may send boot steps to a device in application mode, as "recovery"
// does, and frames to one that a failed update left in boot mode). Write mode, opened
// by "W", takes only pages and the end byte.
//
// Thread-safe: Feed() on the device thread, Report() from anywhere.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace sim {

class FrameCheck {
public:
    static constexpr int kStallMs = 250;  // the device model's idle reset
    static constexpr size_t kMaxViolationsKept = 50;

    // A lone end byte where page data were due is told from the first data byte by the
    // pause after it: a host writes a page's 128 bytes in one go.
    static constexpr int kLoneByteMs = 20;

    // Bytes as they came off the line at nowMs.
    void Feed(const uint8_t* data, size_t n, int64_t nowMs);
    // The host has closed its port or ended. The line itself goes on: a worker that
    // outlives the close may go on with its steps once the port is open again, or bytes
    // written while it was closed are lost, or a new session starts afresh while the
    // device is still inside a step. So the check keeps its place, and the first
    // malformation after the close is taken as that break (counted apart, not as a
    // violation): checking starts afresh from there.
    void HostClosed();

    struct Counts {
        uint64_t bytes = 0;
        uint64_t frames = 0;  // well-formed application frames
        std::array<uint64_t, 256> framesByCommand{};
        uint64_t wakeBytes = 0;
        uint64_t bootErases = 0;
        uint64_t bootWriteModes = 0;
        uint64_t bootPages = 0;          // pages with their "U"
        uint64_t bootEnds = 0;           // end bytes
        uint64_t writeModesGivenUp = 0;  // "W" left for a frame before any page
        uint64_t violations = 0;
        uint64_t hostCloses = 0;
        uint64_t leftMidStep = 0;    // host closes with a step, or write mode, unfinished
        uint64_t breaksAtClose = 0;  // malformations taken as the break a close left
    };
    Counts Totals() const;
    // Violations as "MS description: bytes", oldest first, at most kMaxViolationsKept.
    std::vector<std::string> Violations() const;
    // Counts as "name value" lines, then one "violation ..." line each.
    std::string Report() const;

private:
    enum class State {
        Top,         // between frames and steps, write mode closed
        FrameBody,   // inside a frame
        EraseCodes,  // after "E"
        WriteIdle,   // write mode, between pages
        AddressHigh,
        AwaitData,  // after a page address: its data, or a lone end byte
        PageData,
        AwaitProgram,
    };

    void Pause(int64_t gapMs, int64_t nowMs);
    void Byte(uint8_t b, int64_t nowMs);
    void TopByte(uint8_t b, int64_t nowMs);
    void FrameByte(uint8_t b, int64_t nowMs);
    void FrameEnds(int64_t nowMs);
    void WriteIdleByte(uint8_t b, int64_t nowMs);
    void Completed();
    // Records a malformation; `again` are the bytes to look at anew from where checking
    // resumes (a frame's bytes after its STX, or the byte that did not fit).
    void Violation(int64_t nowMs, const std::string& what, std::vector<uint8_t> again = {});

    mutable std::mutex mutex_;
    Counts counts_;
    std::vector<std::string> violations_;
    State state_ = State::Top;
    std::vector<uint8_t> step_;    // the frame or boot step read so far
    bool resyncing_ = false;       // after a violation: skip to a byte that starts something
    bool closed_ = false;          // the host closed the line since the last completed step
    bool pageSinceWrite_ = false;  // a page address went out since the last "W"
    int64_t lastByteMs_ = 0;
    bool anyByte_ = false;
};

}  // namespace sim
