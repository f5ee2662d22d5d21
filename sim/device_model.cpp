// device_model.cpp - simulated TQ7300: application-mode framing, requests and injected answer faults.
#include "device_model.h"

#include <algorithm>

#include "frame.h"

namespace sim {

namespace {

// The largest payload a host can put in a request; a longer length field means the
// "STX" was noise, and waiting for that many bytes would swallow real frames.
constexpr size_t kMaxRequestPayload = 505;

constexpr uint8_t kCmdSetClock = 0x20;
constexpr uint8_t kCmdQueryClock = 0x21;
constexpr uint8_t kCmdMemory = 0x50;
constexpr uint8_t kMemRead = 0x04;
constexpr uint8_t kMemWrite = 0x84;
constexpr uint8_t kMemErase = 0x44;
constexpr uint8_t kMemPattern = 0x83;
constexpr uint8_t kMemDataQuery = 0x02;  // answered with a fixed ramp, so order shows

// Sub-code and 24-bit address in front of every 'P' payload.
constexpr size_t kMemHeader = 4;

// Junk sent before an answer; none of it can be taken for an STX.
constexpr std::array<uint8_t, 3> kJunk = {0x5A, 0xA5, 0x3C};

// 1 January 2000 (DayNumber 0) was a Saturday.
constexpr int kWeekdayOfDayZero = 6;

uint32_t Le24(const std::vector<uint8_t>& p, size_t at) { return p[at] | (p[at + 1] << 8) | (p[at + 2] << 16); }

uint16_t Le16(const std::vector<uint8_t>& p, size_t at) { return static_cast<uint16_t>(p[at] | (p[at + 1] << 8)); }

bool InFlash(uint32_t address, size_t count) { return address + count <= kAppFlashSize; }

uint16_t SubCodeKey(uint8_t command, uint8_t subCode) { return static_cast<uint16_t>(command << 8 | subCode); }

int OrDefault(int delayMs, int fallback) { return delayMs > 0 ? delayMs : fallback; }

}  // namespace

DeviceModel::DeviceModel() { clock_[5] = kWeekdayOfDayZero; }

void DeviceModel::SetFault(uint8_t command, Fault fault, int delayMs, int fromOccurrence, int times) {
    faults_[command] = {fault, delayMs, fromOccurrence, 0, times};
}

void DeviceModel::SetFault(uint8_t command, uint8_t subCode, Fault fault, int delayMs, int fromOccurrence, int times) {
    subCodeFaults_[SubCodeKey(command, subCode)] = {fault, delayMs, fromOccurrence, 0, times};
}

void DeviceModel::SetFaultThen(uint8_t command, uint8_t subCode, Fault then, int thenTimes) {
    CommandFault& f = subCodeFaults_[SubCodeKey(command, subCode)];
    f.then = then;
    f.thenTimes = thenTimes;
}

void DeviceModel::ClearFaults() {
    faults_.fill({});
    subCodeFaults_.clear();
}

void DeviceModel::SetModel(uint8_t acceptedModelCommand) { acceptedModel_ = acceptedModelCommand; }

void DeviceModel::Receive(const uint8_t* data, size_t n) {
    for (size_t i = 0; i < n; ++i) {
        received_.push_back(data[i]);
        Consume(data[i]);
    }
}

std::vector<Reply> DeviceModel::TakeReplies() {
    std::vector<Reply> out;
    out.swap(replies_);
    return out;
}

void DeviceModel::FillFlash(uint8_t value) { flash_.Reset(value); }

void DeviceModel::SetFlash(uint32_t address, const uint8_t* data, size_t n) { flash_.Write(address, data, n); }

void DeviceModel::Consume(uint8_t byte) {
    if (bootMode_) {
        BootByte(byte);
        return;
    }
    pending_.push_back(byte);
    DrainPending();
}

void DeviceModel::DrainPending() {
    ScanFrames();
    if (bootMode_ && !pending_.empty()) {
        // Bytes that followed the accepted model request belong to the boot protocol.
        std::vector<uint8_t> rest;
        rest.swap(pending_);
        for (uint8_t b : rest) Consume(b);
    }
}

// A host writes a request in one go, so a frame still incomplete when the line goes
// quiet began with a noise STX; real frames it swallowed are still in pending_.
void DeviceModel::LineIdle() {
    if (bootMode_) {
        BootLineIdle();
        return;
    }
    while (!bootMode_ && !pending_.empty()) {
        pending_.erase(pending_.begin());
        DrainPending();
    }
}

// Cuts complete frames off the front of pending_; stops at an incomplete one.
void DeviceModel::ScanFrames() {
    while (!bootMode_ && !pending_.empty()) {
        const Candidate c = Examine(0);
        if (c == Candidate::Incomplete) return;
        // A bad sum around a good frame means our STX was noise that ran into real requests.
        if (c == Candidate::Noise || (c == Candidate::BadChecksum && HidesGoodFrame())) {
            pending_.erase(pending_.begin());
            continue;
        }
        const auto end = pending_.begin() + static_cast<std::ptrdiff_t>(Le16(pending_, 2) + kFrameOverhead);
        const std::vector<uint8_t> frame(pending_.begin(), end);
        pending_.erase(pending_.begin(), end);
        HandleFrame(frame, c == Candidate::Good);
    }
}

DeviceModel::Candidate DeviceModel::Examine(size_t at) const {
    if (pending_[at] != kStx) return Candidate::Noise;
    const size_t available = pending_.size() - at;
    if (available < kFrameHeader) return Candidate::Incomplete;
    const size_t n = Le16(pending_, at + 2);
    if (n > kMaxRequestPayload) return Candidate::Noise;
    if (available < n + kFrameOverhead) return Candidate::Incomplete;
    const uint8_t* f = pending_.data() + at;
    if (f[kFrameHeader + n] != kEtx || f[kFrameHeader + n + 2] != kCr) return Candidate::Noise;
    return f[kFrameHeader + n + 1] == FrameChecksum(f, n) ? Candidate::Good : Candidate::BadChecksum;
}

// Whether a complete, correct frame starts inside the candidate at the front.
bool DeviceModel::HidesGoodFrame() const {
    const size_t length = Le16(pending_, 2) + kFrameOverhead;
    for (size_t at = 1; at < length; ++at) {
        if (Examine(at) == Candidate::Good) return true;
    }
    return false;
}

void DeviceModel::HandleFrame(const std::vector<uint8_t>& frame, bool checksumOk) {
    if (!checksumOk) {
        ++badChecksumFrames_;
        Answer(kStatusBadFrame, {}, {});
        return;
    }
    const uint8_t command = frame[1];
    ++framesReceived_[command];
    const std::vector<uint8_t> payload(frame.begin() + kFrameHeader, frame.end() - 3);
    const CommandFault how = FaultFor(command, payload);
    if (how.fault == Fault::Refuse) {
        Answer(kStatusRefused, {}, {});
        return;
    }
    const Outcome outcome = Execute(command, payload);
    Answer(outcome.status, outcome.payload, how);
    if (outcome.enterBoot) EnterBootMode();
}

// Counts the request against every fault that matches it, and returns the one that
// decides its answer: the sub-code's over the command's, None before its occurrence.
DeviceModel::CommandFault DeviceModel::FaultFor(uint8_t command, const std::vector<uint8_t>& payload) {
    CommandFault* how = &faults_[command];
    ++how->seen;
    if (!payload.empty()) {
        const auto sub = subCodeFaults_.find(SubCodeKey(command, payload[0]));
        if (sub != subCodeFaults_.end()) {
            how = &sub->second;
            ++how->seen;
        }
    }
    const int first = std::max(how->fromOccurrence, 1);
    if (how->seen < first) return CommandFault{};
    if (how->times <= 0 || how->seen < first + how->times) return *how;
    if (how->seen >= first + how->times + how->thenTimes) return CommandFault{};
    CommandFault then = *how;
    then.fault = how->then;
    return then;
}

DeviceModel::Outcome DeviceModel::Execute(uint8_t command, const std::vector<uint8_t>& payload) {
    switch (command) {
        case kCmdSetClock: return SetClock(payload);
        case kCmdQueryClock: return {kStatusAccepted, std::vector<uint8_t>(clock_.begin(), clock_.end()), false};
        case kCmdMemory: return MemoryAccess(payload);
        case kModelP:
        case kModelQ:
        case kModelR: return ModelRequest(command);
        default: return {};
    }
}

DeviceModel::Outcome DeviceModel::SetClock(const std::vector<uint8_t>& payload) {
    if (payload.size() < 5) return {kStatusRefused, {}, false};
    std::copy(payload.begin(), payload.begin() + 5, clock_.begin());
    clock_[5] = static_cast<uint8_t>((Le16(payload, 0) + kWeekdayOfDayZero) % 7);
    return {};
}

DeviceModel::Outcome DeviceModel::MemoryAccess(const std::vector<uint8_t>& payload) {
    if (payload.size() < kMemHeader) return {kStatusRefused, {}, false};
    const uint8_t sub = payload[0];
    const uint32_t address = Le24(payload, 1);
    const auto data = payload.begin() + kMemHeader;
    switch (sub) {
        case kMemPattern: patterns_.push_back({now_, std::vector<uint8_t>(data, payload.end())}); return {};
        case kMemWrite:
        case kMemRead:
        case kMemErase:
        case kMemDataQuery: return FlashAccess(sub, address, payload);
        default: return {};
    }
}

// The sub-codes that name a range: write by its data, the others by a count after the address.
DeviceModel::Outcome DeviceModel::FlashAccess(uint8_t sub, uint32_t address, const std::vector<uint8_t>& payload) {
    const Outcome refused{kStatusRefused, {}, false};
    if (sub == kMemWrite) {
        const size_t count = payload.size() - kMemHeader;
        if (!InFlash(address, count)) return refused;
        flash_.Write(address, payload.data() + kMemHeader, count);
        if (count > 0) ++flashChanges_;
        return {};
    }
    if (payload.size() < kMemHeader + 2) return refused;
    const size_t count = Le16(payload, kMemHeader);
    if (sub == kMemDataQuery) {
        if (count > kMaxReadCount) return refused;
        std::vector<uint8_t> answer(count);
        for (size_t i = 0; i < count; ++i) answer[i] = static_cast<uint8_t>(i);
        return {kStatusAccepted, std::move(answer), false};
    }
    if (!InFlash(address, count)) return refused;
    if (sub == kMemRead) {
        if (count > kMaxReadCount) return refused;
        return {kStatusAccepted, flash_.Read(address, count), false};
    }
    flash_.Set(address, count, 0xFF);
    if (count > 0) ++flashChanges_;
    return {};
}

DeviceModel::Outcome DeviceModel::ModelRequest(uint8_t command) const {
    if (command != acceptedModel_) return {kStatusRefused, {}, false};
    return {kStatusAccepted, {}, true};
}

void DeviceModel::Answer(uint8_t status, const std::vector<uint8_t>& payload, CommandFault how) {
    std::vector<uint8_t> frame = BuildFrame(status, payload);
    switch (how.fault) {
        case Fault::Cut: frame.resize(std::min(frame.size(), kCutAnswerBytes)); break;
        case Fault::Short:
            frame = BuildFrame(status, std::vector<uint8_t>(payload.begin(), payload.begin() + payload.size() / 2));
            break;
        case Fault::Silent: return;
        case Fault::Late: replies_.push_back({frame, OrDefault(how.delayMs, kDefaultLateMs)}); return;
        case Fault::BadChecksum: ++frame[frame.size() - 2]; break;
        case Fault::Masked:
            if (payload.size() >= 2) {
                const int d = 8 * (how.seen % 31 + 1);
                frame[4] = static_cast<uint8_t>(frame[4] + d);
                frame[5] = static_cast<uint8_t>(frame[5] - d);
            }
            break;
        case Fault::GarbageFirst: AnswerGarbageFirst(frame, OrDefault(how.delayMs, kDefaultGarbageGapMs)); return;
        case Fault::Split: AnswerSplit(frame, OrDefault(how.delayMs, kDefaultSplitGapMs)); return;
        case Fault::Oversize: {
            // Letters only: the host must skip it by its length, not by luck in resync.
            std::vector<uint8_t> big(kOversizePayload);
            for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<uint8_t>('A' + i % 26);
            frame = BuildFrame(kStatusAccepted, big);
            break;
        }
        default: break;
    }
    replies_.push_back({frame, 0});
}

// 1, 2, 3, 1, ... junk bytes on successive garbage answers.
void DeviceModel::AnswerGarbageFirst(std::vector<uint8_t> frame, int gapMs) {
    const size_t count = 1 + static_cast<size_t>(garbageAnswers_++ % 3);
    replies_.push_back({std::vector<uint8_t>(kJunk.begin(), kJunk.begin() + static_cast<std::ptrdiff_t>(count)), 0});
    replies_.push_back({std::move(frame), gapMs});
}

void DeviceModel::AnswerSplit(const std::vector<uint8_t>& frame, int gapMs) {
    // At least the 4-byte header plus one more byte, so that the host sees a frame start.
    const size_t cut = std::max<size_t>(5, frame.size() / 2);
    const auto middle = frame.begin() + static_cast<std::ptrdiff_t>(cut);
    replies_.push_back({std::vector<uint8_t>(frame.begin(), middle), 0});
    replies_.push_back({std::vector<uint8_t>(middle, frame.end()), gapMs});
}

}  // namespace sim
