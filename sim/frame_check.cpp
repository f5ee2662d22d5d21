// frame_check.cpp - strict check of a host's traffic: application frames and boot-mode steps.
#include "frame_check.h"

#include <cstdio>

#include "frame.h"

namespace sim {

namespace {

constexpr uint8_t kWakeByte = 0x5C;
constexpr uint8_t kBootErase = 'E';
constexpr uint8_t kBootWrite = 'W';
constexpr uint8_t kBootProgram = 'U';
constexpr uint8_t kBootEnd = 0xFF;
constexpr size_t kPageSize = 128;
constexpr size_t kMaxPayload = 505;  // what a host's 512-byte frame buffer holds
constexpr size_t kBytesShown = 40;

std::string Hex(const std::vector<uint8_t>& bytes) {
    std::string out;
    char pair[4];
    for (size_t i = 0; i < bytes.size() && i < kBytesShown; ++i) {
        std::snprintf(pair, sizeof pair, "%02X", bytes[i]);
        out += pair;
    }
    if (bytes.size() > kBytesShown) out += "...";
    return out;
}

std::string ByteText(uint8_t b) {
    char text[8];
    std::snprintf(text, sizeof text, "%02X", b);
    return text;
}

size_t PayloadLength(const std::vector<uint8_t>& frame) { return static_cast<size_t>(frame[2] | (frame[3] << 8)); }

}  // namespace

void FrameCheck::HostClosed() {
    std::lock_guard<std::mutex> lock(mutex_);
    ++counts_.hostCloses;
    if (state_ != State::Top) ++counts_.leftMidStep;
    closed_ = true;
}

void FrameCheck::Feed(const uint8_t* data, size_t n, int64_t nowMs) {
    if (n == 0) return;
    std::lock_guard<std::mutex> lock(mutex_);
    if (anyByte_) Pause(nowMs - lastByteMs_, nowMs);
    for (size_t i = 0; i < n; ++i) Byte(data[i], nowMs);
    counts_.bytes += n;
    lastByteMs_ = nowMs;
    anyByte_ = true;
}

// What a pause before the next bytes means for the step under way.
void FrameCheck::Pause(int64_t gapMs, int64_t nowMs) {
    if (state_ == State::PageData && step_.size() == 3 && step_[2] == kBootEnd && gapMs >= kLoneByteMs) {
        // The host gave up on the page after its address: the end byte alone.
        ++counts_.bootEnds;
        state_ = State::Top;
        step_.clear();
        Completed();
        return;
    }
    if (gapMs < kStallMs) return;
    const std::string pause = " cut short by a pause of " + std::to_string(gapMs) + " ms";
    switch (state_) {
        case State::FrameBody: Violation(nowMs, "frame" + pause); break;
        case State::EraseCodes: Violation(nowMs, "erase step" + pause); break;
        case State::AddressHigh: Violation(nowMs, "page address" + pause); break;
        case State::PageData: Violation(nowMs, "page data" + pause); break;
        default: break;
    }
}

void FrameCheck::Byte(uint8_t b, int64_t nowMs) {
    switch (state_) {
        case State::Top: TopByte(b, nowMs); return;
        case State::FrameBody: FrameByte(b, nowMs); return;
        case State::EraseCodes:
            step_.push_back(b);
            if (step_.size() < 3) return;
            if (step_[1] != step_[2]) {
                Violation(nowMs, "erase step with two different block codes", {step_[1], step_[2]});
                return;
            }
            ++counts_.bootErases;
            step_.clear();
            state_ = State::Top;
            Completed();
            return;
        case State::WriteIdle: WriteIdleByte(b, nowMs); return;
        case State::AddressHigh:
            step_.push_back(b);
            state_ = State::AwaitData;
            return;
        case State::AwaitData: state_ = State::PageData; [[fallthrough]];
        case State::PageData:
            step_.push_back(b);
            if (step_.size() == 2 + kPageSize) state_ = State::AwaitProgram;
            return;
        case State::AwaitProgram:
            if (b == kBootProgram) {
                ++counts_.bootPages;
                state_ = State::WriteIdle;
            } else if (b == kBootEnd) {  // the host dropped the page after a bad data echo
                ++counts_.bootEnds;
                state_ = State::Top;
            } else {
                step_.push_back(b);
                Violation(nowMs, "page data followed by " + ByteText(b) + " instead of U or FF", {b});
                return;
            }
            step_.clear();
            Completed();
            return;
    }
}

void FrameCheck::TopByte(uint8_t b, int64_t nowMs) {
    step_.assign(1, b);
    switch (b) {
        case kStx: state_ = State::FrameBody; break;
        case kWakeByte: ++counts_.wakeBytes; break;
        case kBootErase: state_ = State::EraseCodes; break;
        case kBootWrite:
            ++counts_.bootWriteModes;
            state_ = State::WriteIdle;
            pageSinceWrite_ = false;
            break;
        case kBootEnd: ++counts_.bootEnds; break;
        default:
            // After a violation the bytes up to the next start are its remains.
            if (!resyncing_) Violation(nowMs, "byte " + ByteText(b) + " where a frame or a boot step must start");
            step_.clear();
            return;
    }
    resyncing_ = false;
    if (state_ != State::FrameBody && state_ != State::EraseCodes) {
        step_.clear();
        Completed();
    }
}

void FrameCheck::FrameByte(uint8_t b, int64_t nowMs) {
    step_.push_back(b);
    if (step_.size() == kFrameHeader && PayloadLength(step_) > kMaxPayload) {
        Violation(nowMs, "frame length " + std::to_string(PayloadLength(step_)) + " above 505",
                  std::vector<uint8_t>(step_.begin() + 1, step_.end()));
        return;
    }
    if (step_.size() < kFrameHeader || step_.size() < PayloadLength(step_) + kFrameOverhead) return;
    FrameEnds(nowMs);
}

void FrameCheck::FrameEnds(int64_t nowMs) {
    const size_t n = PayloadLength(step_);
    std::string wrong;
    if (step_[kFrameHeader + n] != kEtx) {
        wrong = "no ETX after the payload";
    } else if (step_[kFrameHeader + n + 2] != kCr) {
        wrong = "no CR at the end";
    } else if (step_[kFrameHeader + n + 1] != FrameChecksum(step_.data(), n)) {
        wrong = "wrong checksum";
    }
    if (!wrong.empty()) {
        Violation(nowMs, "frame with " + wrong, std::vector<uint8_t>(step_.begin() + 1, step_.end()));
        return;
    }
    ++counts_.frames;
    ++counts_.framesByCommand[step_[1]];
    step_.clear();
    state_ = State::Top;
    Completed();
}

// After a violation in write mode only the end byte is looked for: the host ends a
// failed write pass with it.
void FrameCheck::WriteIdleByte(uint8_t b, int64_t nowMs) {
    if (b == kBootEnd) {
        ++counts_.bootEnds;
        state_ = State::Top;
        resyncing_ = false;
        Completed();
        return;
    }
    if (resyncing_) return;
    if (!pageSinceWrite_ && (b == kStx || b == kWakeByte)) {
        // "W" got no reply or a wrong one: the host went back to frames.
        ++counts_.writeModesGivenUp;
        state_ = State::Top;
        TopByte(b, nowMs);
        return;
    }
    if (b % kPageSize != 0) {
        step_.assign(1, b);
        Violation(nowMs, "byte " + ByteText(b) + " in write mode where a page address must start", {b});
        return;
    }
    step_.assign(1, b);
    state_ = State::AddressHigh;
    pageSinceWrite_ = true;
}

// A step came through whole: the line is in step with the host.
void FrameCheck::Completed() { closed_ = false; }

void FrameCheck::Violation(int64_t nowMs, const std::string& what, std::vector<uint8_t> again) {
    const std::string text = std::to_string(nowMs) + " " + what + ": " + Hex(step_);
    step_.clear();
    if (closed_) {
        // The break the host's close left: checking starts afresh from the top.
        closed_ = false;
        ++counts_.breaksAtClose;
        state_ = State::Top;
        resyncing_ = true;
    } else {
        ++counts_.violations;
        if (violations_.size() < kMaxViolationsKept) violations_.push_back(text);
        const bool inWriteMode = state_ == State::WriteIdle || state_ == State::AddressHigh ||
                                 state_ == State::AwaitData || state_ == State::PageData ||
                                 state_ == State::AwaitProgram;
        state_ = inWriteMode ? State::WriteIdle : State::Top;
        resyncing_ = true;
    }
    for (uint8_t b : again) Byte(b, nowMs);
}

FrameCheck::Counts FrameCheck::Totals() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return counts_;
}

std::vector<std::string> FrameCheck::Violations() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return violations_;
}

std::string FrameCheck::Report() const {
    std::lock_guard<std::mutex> lock(mutex_);
    const Counts& c = counts_;
    std::string out;
    auto line = [&out](const std::string& name, uint64_t value) { out += name + " " + std::to_string(value) + "\n"; };
    line("bytes", c.bytes);
    line("frames", c.frames);
    for (size_t cmd = 0; cmd < c.framesByCommand.size(); ++cmd) {
        if (c.framesByCommand[cmd] != 0) line("frames." + ByteText(static_cast<uint8_t>(cmd)), c.framesByCommand[cmd]);
    }
    line("wake_bytes", c.wakeBytes);
    line("boot_erases", c.bootErases);
    line("boot_write_modes", c.bootWriteModes);
    line("boot_pages", c.bootPages);
    line("boot_ends", c.bootEnds);
    line("boot_write_modes_given_up", c.writeModesGivenUp);
    line("host_closes", c.hostCloses);
    line("left_mid_step", c.leftMidStep);
    line("breaks_at_close", c.breaksAtClose);
    line("violations", c.violations);
    for (const std::string& v : violations_) out += "violation " + v + "\n";
    return out;
}

}  // namespace sim
