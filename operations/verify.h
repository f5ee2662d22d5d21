// verify.h - proving what the unit's flash holds: a range read back and
// compared with the transfer file, or the firmware's pages compared with the
// image, with the differing ranges kept for the front ends to list.
#pragma once

#include <array>
#include <cstdint>

#include "operations/flash_transfer.h"
#include "operations/progress.h"
#include "operations/result.h"
#include "link/device_times.h"

namespace ops {

// A stretch of the device's flash to compare: its device address and where
// its bytes lie in the expected and the read-back buffer.
struct VerifySegment {
    uint32_t address;
    uint32_t offset;
    uint32_t length;
};

// A run of differing bytes.
struct VerifyRange {
    uint32_t address;  // device address (24 bits) of its first byte
    uint32_t offset;   // where it lies in the expected and read-back buffers
    uint32_t length;
};

// Every other byte differing is the worst case a transfer can hold.
constexpr uint32_t kMaxVerifyRanges = kTransferBufferSize / 2;
// The firmware's pages, merged where they touch: at most one per page.
constexpr int kMaxVerifySegments = 192;

// The flash as the last verify read it back; the expected bytes are the
// TransferBuffer (flash verify) or the FirmwareImage (firmware verify).
extern std::array<uint8_t, kTransferBufferSize> VerifyBuffer;

// The last verify's differing ranges, in address order, and the buffer
// they index. Written by the verify worker before its UM_WORKER_DONE; read
// by the front ends once it has been reaped.
extern std::array<VerifyRange, kMaxVerifyRanges> VerifyRanges;
extern const uint8_t* VerifyExpected;

// Range i of the last verify (i below its stored count), with the bytes
// expected there and those the flash held.
struct Difference {
    uint32_t address;
    uint32_t length;
    const uint8_t* expected;
    const uint8_t* found;
};
Difference VerifyDifference(uint32_t i);

// Compares expected and actual over the segments: fills facts and up to cap
// ranges (a range that continues into the next segment, without a gap of
// device addresses, stays one range). Returns the ranges found.
uint32_t CompareSegments(const uint8_t* expected, const uint8_t* actual, const VerifySegment* segments, int count,
                         VerifyRange* ranges, uint32_t cap, VerifyFacts& facts);

// What a verify compares: the expected bytes and the stretches of flash,
// named in the log lines by the operation's name.
struct VerifyPlan {
    const char* name;     // "flash verify", "firmware verify"
    const char* subject;  // what the flash is compared with: "the file", "the firmware file"
    const uint8_t* expected;
    const VerifySegment* segments;
    int count;
};

// On the worker thread: reads every segment into VerifyBuffer at its offset
// exactly as a flash read does (chunks of at most 256 bytes, the same bounded
// waits; a refused, unanswered or damaged answer ends it with the read's own
// box and line), then compares, logs the outcome and, when the flash
// differs, shows "FLASH VERIFY 異常". True when every byte is equal.
bool RunVerify(const VerifyPlan& plan);

// Worker entry: compares [StartAddress, StartAddress + Length) with the
// TransferBuffer; its parameter is the OperationParams record. Ends with
// UM_WORKER_DONE (0).
uint32_t FlashVerifyWorker(void* params);

// After an update the boot loader's closing byte returns the unit to its
// application, which must answer again before it can be read. Worker entry:
// a harmless request (a one-byte flash read at kAwaitProbeAddress) until
// the unit answers it, accepted or refused, within wire::kAwaitApplicationMs;
// otherwise the operation ends with no answer. Ends with UM_WORKER_DONE (0).
constexpr uint32_t kAwaitProbeAddress = 0x3000;
uint32_t AwaitApplicationWorker(void* unused);

}  // namespace ops
