// verify.cpp - reading flash back and comparing it with what it should hold.
//
// The read goes exactly as a flash read's (the same requests, chunks, bounds
// and damaged-answer rules), into a buffer of its own, so that the expected
// bytes (the transfer file in TransferBuffer, or the firmware image) stay
// untouched and nothing is written to the device or to a file.
#include "operations/verify.h"

#include <cstdio>

#include "link/command_library.h"
#include "link/receiver.h"
#include "link/serial_session.h"
#include "operations/read_again.h"
#include "platform/platform.h"
#include "link/device_times.h"

namespace ops {

std::array<uint8_t, kTransferBufferSize> VerifyBuffer{};
std::array<VerifyRange, kMaxVerifyRanges> VerifyRanges{};

Difference VerifyDifference(uint32_t i) {
    const VerifyRange& r = VerifyRanges[i];
    return Difference{r.address, r.length, VerifyExpected + r.offset, VerifyBuffer.data() + r.offset};
}
const uint8_t* VerifyExpected = nullptr;

namespace {

constexpr const char* kVerifyFailedText = "FLASH VERIFY 異常";
// The log lists this many ranges beside its summary line; front ends read
// them all from VerifyRanges.
constexpr uint32_t kLoggedRanges = 8;

uint32_t TotalLength(const VerifyPlan& plan) {
    uint32_t total = 0;
    for (int i = 0; i < plan.count; ++i) total += plan.segments[i].length;
    return total;
}

// Reads every segment into VerifyBuffer; false when a request failed (its
// line and box are out).
bool ReadSegments(const VerifyPlan& plan, uint32_t total) {
    uint32_t done = 0;
    ReportUnits(0, total);
    for (int i = 0; i < plan.count; ++i) {
        const VerifySegment& seg = plan.segments[i];
        uint32_t address = seg.address;
        uint32_t offset = seg.offset;
        for (uint32_t remaining = seg.length; remaining != 0;) {
            const uint32_t n = ReadChunkSize(remaining);
            const int result = ReadChunkAskingAgain(VerifyBuffer.data() + offset, address, n, plan.name);
            if (ReadRequestFailed(result, plan.name, address)) return false;
            offset += n;
            remaining -= n;
            address += n;
            done += n;
            ReportUnits(done, total);
        }
    }
    return true;
}

void LogEqual(const VerifyPlan& plan, uint32_t compared, uint32_t elapsedMs) {
    char line[160];
    std::snprintf(line, sizeof line, "%s: the flash holds %s: %u bytes compared in %.1f s", plan.name, plan.subject,
                  unsigned(compared), elapsedMs / 1000.0);
    platform::LogLine(line);
}

void LogDifferent(const VerifyPlan& plan, const VerifyFacts& facts, uint32_t listed) {
    char line[200];
    std::snprintf(line, sizeof line,
                  "%s: %u of %u bytes differ from %s in %u range%s; the first at 0x%06X: file %02X, flash %02X",
                  plan.name, unsigned(facts.differing), unsigned(facts.compared), plan.subject, unsigned(facts.ranges),
                  facts.ranges == 1 ? "" : "s", unsigned(facts.first), unsigned(facts.fileByte),
                  unsigned(facts.flashByte));
    platform::LogLine(line);
    for (uint32_t i = 0; i < listed && i < kLoggedRanges; ++i) {
        const VerifyRange& r = VerifyRanges[i];
        std::snprintf(line, sizeof line, "%s: differs at 0x%06X-0x%06X (%u byte%s)", plan.name, unsigned(r.address),
                      unsigned((r.address + r.length - 1) & kAddressMask), unsigned(r.length),
                      r.length == 1 ? "" : "s");
        platform::LogLine(line);
    }
}

}  // namespace

uint32_t CompareSegments(const uint8_t* expected, const uint8_t* actual, const VerifySegment* segments, int count,
                         VerifyRange* ranges, uint32_t cap, VerifyFacts& facts) {
    facts = VerifyFacts{};
    uint32_t found = 0;
    bool open = false;  // the last byte compared differed: a range is open
    uint32_t nextAddress = 0;
    for (int i = 0; i < count; ++i) {
        const VerifySegment& seg = segments[i];
        if ((seg.address & kAddressMask) != nextAddress) open = false;  // a gap ends a range
        for (uint32_t k = 0; k < seg.length; ++k) {
            const uint32_t offset = seg.offset + k;
            const uint32_t address = (seg.address + k) & kAddressMask;
            if (expected[offset] == actual[offset]) {
                open = false;
                continue;
            }
            if (facts.differing++ == 0) {
                facts.first = address;
                facts.fileByte = expected[offset];
                facts.flashByte = actual[offset];
            }
            if (open) {
                if (found <= cap) ++ranges[found - 1].length;
            } else {
                ++facts.ranges;
                if (found < cap) ranges[found] = VerifyRange{address, offset, 1};
                ++found;
                open = true;
            }
        }
        facts.compared += seg.length;
        nextAddress = (seg.address + seg.length) & kAddressMask;
    }
    return found < cap ? found : cap;
}

bool RunVerify(const VerifyPlan& plan) {
    const uint32_t startMs = platform::TickMs();
    const uint32_t total = TotalLength(plan);
    SetStage(Stage::Reading);
    if (!ReadSegments(plan, total)) return false;
    SetStage(Stage::Comparing);
    VerifyFacts facts;
    VerifyExpected = plan.expected;
    const uint32_t listed = CompareSegments(plan.expected, VerifyBuffer.data(), plan.segments, plan.count,
                                            VerifyRanges.data(), kMaxVerifyRanges, facts);
    ReportVerify(facts);
    if (facts.differing == 0) {
        LogEqual(plan, facts.compared, platform::TickMs() - startMs);
        return true;
    }
    ReportFailure(Outcome::Different, facts.first);
    LogDifferent(plan, facts, listed);
    platform::WarningBox(kVerifyFailedText);
    return false;
}

uint32_t FlashVerifyWorker(void* params) {
    const auto* p = static_cast<const OperationParams*>(params);
    TransferLostDevice.store(false);
    if (TransferLengthFits(p, "flash verify")) {
        const VerifySegment whole{p->StartAddress, 0, p->Length};
        RunVerify(VerifyPlan{"flash verify", "the file", TransferBuffer.data(), &whole, 1});
    }
    platform::PostToDialog(wire::UM_WORKER_DONE, 0, 0);
    return 0;
}

uint32_t AwaitApplicationWorker(void*) {
    const uint32_t start = platform::TickMs();
    uint8_t probe = 0;
    for (uint32_t tries = 1;; ++tries) {
        const int result = wire::ReadFlashChunk(&probe, kAwaitProbeAddress, 1);
        // Any whole answer, even a refusal, comes from the application.
        if (result != wire::kNoAnswer) break;
        if (wire::LastAnswerWait() == wire::AnswerWait::PortClosed) {
            ReportFailure(Outcome::PortClosed, 0);
            break;
        }
        if (platform::TickMs() - start >= wire::kAwaitApplicationMs) {
            ReportFailure(Outcome::NoAnswer, 0);
            break;
        }
        ReportUnits(tries, 0);
    }
    platform::PostToDialog(wire::UM_WORKER_DONE, 0, 0);
    return 0;
}

}  // namespace ops
