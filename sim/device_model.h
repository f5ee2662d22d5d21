// device_model.h - simulated TQ7300 device logic: bytes from the line in, timed reply chunks out.
//
// The model is pure logic: no I/O, no threads, no clock. A runner (PtyDevice, or a
// test) feeds it received bytes with Receive(), collects what the device would write
// back with TakeReplies(), and tells it with LineIdle() when the line has been quiet
// for a while (the model cannot notice silence by itself). Where the device keeps a
// time (pattern arrivals) it uses what the runner last told it with SetNow().
//
// Application mode: the stream is cut into frames (STX, command, 16-bit LE length,
// payload, ETX, additive checksum, CR). Bytes that cannot start a frame (the wake byte
// 0x5C, line noise) are skipped. A candidate frame whose length is beyond what a host
// can send (505), whose ETX/CR are not in place, or whose checksum is wrong while a
// correct frame starts inside it, is taken to be noise: its STX is dropped and scanning
// resumes at the next byte, so real requests behind noise are still found. Otherwise a
// frame with a wrong checksum is answered with kStatusBadFrame (the host gets an answer
// instead of a time-out) and is not acted on.
// Every request gets exactly one frame back: status '0' with an empty payload, except
//   0x20 (set clock)  stores the 5-byte clock payload;
//   0x21 (clock)      answers the stored clock: DayNumber LE, hour, minute, second
//                     (packed BCD, as 0x20 set them) and the weekday (0 = Sunday);
//                     the model has no clock, so the time does not advance (it reads
//                     1 January 2000, 00:00:00, a Saturday, until first set);
//   0x50 'P'          by sub-code (payload byte 0), with a 24-bit LE address after it:
//                     0x04 read (count16; the bytes are the answer), 0x84 write (data
//                     follow the address), 0x44 erase (len16; bytes become 0xFF) act on
//                     the flash; a range past 0xFFFFFF or a read of more than 505 bytes
//                     (more than a host's 512-byte buffer holds) is refused ('1');
//                     0x83 pattern (data follow the address, possibly none) is recorded
//                     with its arrival time; 0x02 (count16 after the address) answers
//                     `count` bytes 00 01 02 ... (byte i is i mod 256), more than 505
//                     refused; other sub-codes (0x81 ...) are accepted without effect;
//   0x70/0x71/0x72    '0' when it names the accepted model, and the device then enters
//                     boot mode; '1' otherwise, staying in application mode.
// A fault set for a command changes only the answer (the request still takes effect),
// except Refuse, which refuses the request: nothing is done, status '1' is sent. A fault
// set for a command and sub-code (payload byte 0) decides for those requests instead of
// the command's own fault.
//
// Boot mode: the byte protocol. "E" code code erases a BootBlockTable block to 0xFF
// (reply 0x00; 0xA0 and nothing erased for an unknown or mismatched code); "W" replies
// 0xAA and opens write mode, where each page is address low, high (echo: their sum),
// 128 data bytes (echo: their sum) and "U" (programs the page, reply 0x00). 0xFF
// outside a multi-byte step returns to application mode without a reply. A byte other
// than "U" after a page's data abandons that page and is taken as the next step.
// Boot mode and application mode share one flash: boot mode reaches its first 64 KiB.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <map>
#include <vector>

#include "flash_store.h"

namespace sim {

constexpr uint8_t kModelP = 0x70;
constexpr uint8_t kModelQ = 0x71;
constexpr uint8_t kModelR = 0x72;

// How the device misbehaves when answering one application command.
enum class Fault {
    None,
    Silent,        // no answer at all
    Refuse,        // status '1'; the request is not acted on
    Late,          // the answer comes after delayMs (default kDefaultLateMs)
    BadChecksum,   // the answer's checksum byte is off by one
    GarbageFirst,  // 1 to 3 junk bytes (never 0x02), delayMs silence (default 150), the answer
    Split,         // the answer in two bursts delayMs apart (default 30), the first >= 5 bytes
    Oversize,      // instead of the answer: status '0', length 600, 600 payload bytes
    Cut,           // only the answer's first kCutAnswerBytes, then silence (power lost mid-answer)
    Short,         // a well-formed answer whose payload lost its second half
    Masked,        // payload bytes 0 and 1 moved by +d and -d (d a multiple of 8 that changes
                   // with each such answer): wrong, with the right checksum (a double bit
                   // error that the 8-bit sum misses)
};

constexpr int kDefaultLateMs = 1500;       // beyond the host's one-second wait
constexpr int kDefaultGarbageGapMs = 150;  // beyond the host's 100 ms stale-partial age
constexpr int kDefaultSplitGapMs = 30;
constexpr size_t kOversizePayload = 600;
constexpr size_t kCutAnswerBytes = 8;  // the header and four bytes: the host sees a frame start

// The largest read a host can take in one answer: its 512-byte receive buffer less the
// frame's 7 bytes of overhead.
constexpr size_t kMaxReadCount = 505;

// One 'P' 0x83 pattern as it arrived: the runner's time then, and the bytes after the
// request's address (none for the empty pattern).
struct PatternRecord {
    int64_t ms = 0;
    std::vector<uint8_t> data;
};

// One chunk to write back: wait delayMs after the previous chunk (or after the request,
// when nothing is queued), then write the bytes.
struct Reply {
    std::vector<uint8_t> bytes;
    int delayMs = 0;
};

enum class BootStep { Erase, Write, Address, Data, Program };

enum class BootFault {
    None,
    Silent,      // no reply (the step is still carried out)
    WrongReply,  // reply `value`, or the correct reply + 1 when `value` happens to be correct
    Status,      // reply exactly `value` (e.g. 0xA0 for erase, 0x90 for program)
};

// occurrence 0: every time the step happens; n: only the n-th time (1-based), counted
// from the moment the behaviour was set.
struct BootBehaviour {
    BootFault fault = BootFault::None;
    uint8_t value = 0;
    int occurrence = 0;
};

class DeviceModel {
public:
    DeviceModel();

    // Misbehaviour per application command byte; Fault::None restores normal answers.
    // fromOccurrence n > 1: the first n - 1 such requests (counted from this call) are
    // answered normally, the fault applies from the n-th on; 0 or 1: from the first.
    // times > 0: only that many requests meet it (a line that spoils a few answers),
    // those after are answered normally; 0: every one from the n-th on.
    void SetFault(uint8_t command, Fault fault, int delayMs = 0, int fromOccurrence = 0, int times = 0);
    // The same for requests of `command` whose first payload byte is `subCode` (the 'P'
    // sub-code); it decides for them instead of the command's own fault, even as None.
    void SetFault(uint8_t command, uint8_t subCode, Fault fault, int delayMs = 0, int fromOccurrence = 0,
                  int times = 0);
    // After the `times` requests of the sub-code's fault, the next `thenTimes` meet
    // `then` (a line that spoils one answer and garbles the next ones).
    void SetFaultThen(uint8_t command, uint8_t subCode, Fault then, int thenTimes);
    // Every application fault, per command and per sub-code, is gone.
    void ClearFaults();
    // The model request (0x70/0x71/0x72) this device accepts; default 0x70.
    void SetModel(uint8_t acceptedModelCommand);
    void SetBootFault(BootStep step, BootBehaviour behaviour);

    // Feed bytes as they came off the line.
    void Receive(const uint8_t* data, size_t n);
    // The line has been quiet: a half-received frame is noise (complete requests it
    // overlapped are still answered) and a half-received boot step is dropped. A lone 0xFF
    // where page data were expected is the host giving up on the page (it ends a failed
    // run that way right after a bad address echo), so it leaves boot mode.
    void LineIdle();
    // What to write back since the last call, in order.
    std::vector<Reply> TakeReplies();

    bool InBootMode() const { return bootMode_; }
    // Start listening in boot mode, as a device left there by an interrupted update.
    void EnterBootMode();

    // The runner's clock in milliseconds, as stamped on what arrives from now on.
    void SetNow(int64_t ms) { now_ = ms; }
    const std::vector<PatternRecord>& Patterns() const { return patterns_; }

    // The first 64 KiB of flash, the part boot mode reaches.
    const FlashImage& Flash() const { return flash_.Low(); }
    // Any part of the 24-bit flash; clipped (fewer bytes) where it runs past 0xFFFFFF.
    std::vector<uint8_t> FlashRange(uint32_t address, size_t count) const { return flash_.Read(address, count); }
    // The image from address 0 to the end of the highest 4 KiB page ever written or
    // erased, at least 64 KiB.
    std::vector<uint8_t> FlashDump() const { return flash_.Read(0, flash_.Extent()); }
    // Sets every byte of the flash to `value`, as a device fresh from the factory.
    void FillFlash(uint8_t value);
    // Bytes beyond 0xFFFFFF are dropped.
    void SetFlash(uint32_t address, const uint8_t* data, size_t n);
    // The bits of mask at address stick: writes are answered as usual, in
    // application and boot mode, but never change them.
    void StickBits(uint32_t address, uint8_t mask) { flash_.Stick(address, mask); }
    // Incremented by every erase or program; lets a runner notice flash changes.
    uint32_t FlashChanges() const { return flashChanges_; }

    const std::vector<uint8_t>& Received() const { return received_; }
    // Well-formed request frames per command byte (bad-checksum frames not included).
    int FramesReceived(uint8_t command) const { return framesReceived_[command]; }
    int BadChecksumFrames() const { return badChecksumFrames_; }

private:
    struct Outcome {
        uint8_t status = 0x30;
        std::vector<uint8_t> payload;
        bool enterBoot = false;
    };
    struct CommandFault {
        Fault fault = Fault::None;
        int delayMs = 0;
        int fromOccurrence = 0;
        int seen = 0;  // matching requests since the fault was set
        int times = 0;
        Fault then = Fault::None;
        int thenTimes = 0;
    };
    // What the bytes from a position in pending_ amount to.
    enum class Candidate { Noise, Incomplete, BadChecksum, Good };
    enum class BootState { Command, EraseCode1, EraseCode2, WriteIdle, AddressHigh, PageData, AwaitProgram };

    void Consume(uint8_t byte);
    void DrainPending();
    void ScanFrames();
    Candidate Examine(size_t at) const;
    bool HidesGoodFrame() const;
    void HandleFrame(const std::vector<uint8_t>& frame, bool checksumOk);
    Outcome Execute(uint8_t command, const std::vector<uint8_t>& payload);
    Outcome SetClock(const std::vector<uint8_t>& payload);
    CommandFault FaultFor(uint8_t command, const std::vector<uint8_t>& payload);
    Outcome MemoryAccess(const std::vector<uint8_t>& payload);
    Outcome FlashAccess(uint8_t sub, uint32_t address, const std::vector<uint8_t>& payload);
    Outcome ModelRequest(uint8_t command) const;
    void Answer(uint8_t status, const std::vector<uint8_t>& payload, CommandFault how);
    void AnswerGarbageFirst(std::vector<uint8_t> frame, int gapMs);
    void AnswerSplit(const std::vector<uint8_t>& frame, int gapMs);

    void BootLineIdle();
    void BootByte(uint8_t byte);
    void BootCommandByte(uint8_t byte);
    void BootWriteIdleByte(uint8_t byte);
    void BootPageDataByte(uint8_t byte);
    void BootAwaitProgramByte(uint8_t byte);
    void EraseBlock();
    void ProgramPage();
    void LeaveBootMode();
    void BootReply(BootStep step, uint8_t correct);
    int DecideBootReply(BootStep step, uint8_t correct);
    void PushBootReply(int reply);

    FlashStore flash_;
    std::vector<uint8_t> received_;
    std::vector<uint8_t> pending_;  // application-mode bytes not yet framed
    std::vector<Reply> replies_;
    std::array<int, 256> framesReceived_{};
    std::array<CommandFault, 256> faults_{};
    std::map<uint16_t, CommandFault> subCodeFaults_;  // keyed by command << 8 | sub-code
    std::vector<PatternRecord> patterns_;
    int64_t now_ = 0;
    std::array<uint8_t, 6> clock_{};
    int badChecksumFrames_ = 0;
    int garbageAnswers_ = 0;
    uint8_t acceptedModel_ = kModelP;
    uint32_t flashChanges_ = 0;

    bool bootMode_ = false;
    BootState bootState_ = BootState::Command;
    uint8_t eraseCode_ = 0;
    uint8_t addressLow_ = 0;
    uint16_t pageAddress_ = 0;
    std::array<uint8_t, 128> page_{};
    size_t pageFill_ = 0;
    std::array<BootBehaviour, 5> bootFaults_{};
    std::array<int, 5> bootStepCount_{};
};

}  // namespace sim
