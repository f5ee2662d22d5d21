// device_boot.cpp - simulated TQ7300: the boot-mode byte protocol (block erase, page write) and its faults.
#include <algorithm>
#include <numeric>

#include "device_model.h"

namespace sim {

namespace {

constexpr uint8_t kBootErase = 'E';
constexpr uint8_t kBootWrite = 'W';
constexpr uint8_t kBootProgram = 'U';
constexpr uint8_t kBootEnd = 0xFF;
// Status bits that report a failed erase or program (in a status above 0x80).
constexpr uint8_t kEraseErrorBit = 0x20;
constexpr uint8_t kProgramErrorBit = 0x10;

bool ReportsError(int status, uint8_t bit) { return status > 0x80 && (status & bit) != 0; }

constexpr uint8_t kWriteModeOpen = 0xAA;
constexpr uint8_t kStatusOk = 0x00;
constexpr uint8_t kEraseUnknownBlock = 0xA0;  // above 0x80 with the erase error bit 0x20

constexpr size_t kPageSize = 128;

struct FlashBlock {
    uint32_t start;
    uint32_t size;
    uint8_t code;
};

// The device's erasable blocks and the codes that name them.
constexpr std::array<FlashBlock, 8> kBootBlockTable = {{
    {0x3000, 0x400, 0x0A},
    {0x3400, 0x400, 0x0B},
    {0x3800, 0x400, 0x0C},
    {0x3C00, 0x400, 0x0D},
    {0xA000, 0x2000, 0x03},
    {0xC000, 0x2000, 0x02},
    {0xE000, 0x1000, 0x01},
    {0xF000, 0x1000, 0x00},
}};

const FlashBlock* FindBlock(uint8_t code) {
    for (const FlashBlock& block : kBootBlockTable) {
        if (block.code == code) return &block;
    }
    return nullptr;
}

size_t StepIndex(BootStep step) { return static_cast<size_t>(step); }

}  // namespace

void DeviceModel::SetBootFault(BootStep step, BootBehaviour behaviour) {
    bootFaults_[StepIndex(step)] = behaviour;
    bootStepCount_[StepIndex(step)] = 0;
}

void DeviceModel::EnterBootMode() {
    bootMode_ = true;
    bootState_ = BootState::Command;
}

// A frame half-received before boot mode began must not prefix the next request.
void DeviceModel::LeaveBootMode() {
    bootMode_ = false;
    bootState_ = BootState::Command;
    pending_.clear();
}

// A multi-byte step cut short by silence is dropped, as a boot loader's byte time-out would.
void DeviceModel::BootLineIdle() {
    switch (bootState_) {
        case BootState::EraseCode1:
        case BootState::EraseCode2: bootState_ = BootState::Command; break;
        case BootState::AddressHigh: bootState_ = BootState::WriteIdle; break;
        case BootState::PageData:
            if (pageFill_ == 1 && page_[0] == kBootEnd) {
                LeaveBootMode();
            } else if (pageFill_ > 0) {
                bootState_ = BootState::WriteIdle;
            }
            break;
        default: break;  // between steps: nothing half-done
    }
}

void DeviceModel::BootByte(uint8_t byte) {
    switch (bootState_) {
        case BootState::Command: BootCommandByte(byte); break;
        case BootState::EraseCode1:
            eraseCode_ = byte;
            bootState_ = BootState::EraseCode2;
            break;
        case BootState::EraseCode2:
            bootState_ = BootState::Command;
            if (byte != eraseCode_) eraseCode_ = 0xFF;  // codes disagree: matches no block
            EraseBlock();
            break;
        case BootState::WriteIdle: BootWriteIdleByte(byte); break;
        case BootState::AddressHigh:
            pageAddress_ = static_cast<uint16_t>(addressLow_ | (byte << 8));
            pageFill_ = 0;
            bootState_ = BootState::PageData;
            BootReply(BootStep::Address, static_cast<uint8_t>(addressLow_ + byte));
            break;
        case BootState::PageData: BootPageDataByte(byte); break;
        case BootState::AwaitProgram: BootAwaitProgramByte(byte); break;
    }
}

// Outside write mode only "E", "W" and the end byte mean anything; the rest is ignored.
void DeviceModel::BootCommandByte(uint8_t byte) {
    if (byte == kBootErase) {
        bootState_ = BootState::EraseCode1;
    } else if (byte == kBootWrite) {
        bootState_ = BootState::WriteIdle;
        BootReply(BootStep::Write, kWriteModeOpen);
    } else if (byte == kBootEnd) {
        LeaveBootMode();
    }
}

// Page addresses are multiples of 128, so their low byte is never 0xFF.
void DeviceModel::BootWriteIdleByte(uint8_t byte) {
    if (byte == kBootEnd) {
        LeaveBootMode();
        return;
    }
    addressLow_ = byte;
    bootState_ = BootState::AddressHigh;
}

void DeviceModel::BootPageDataByte(uint8_t byte) {
    page_[pageFill_++] = byte;
    if (pageFill_ < kPageSize) return;
    bootState_ = BootState::AwaitProgram;
    BootReply(BootStep::Data, static_cast<uint8_t>(std::accumulate(page_.begin(), page_.end(), 0u)));
}

void DeviceModel::BootAwaitProgramByte(uint8_t byte) {
    bootState_ = BootState::WriteIdle;
    if (byte == kBootProgram) {
        ProgramPage();
        return;
    }
    BootWriteIdleByte(byte);  // the host dropped the page: this byte starts its next step
}

void DeviceModel::EraseBlock() {
    const FlashBlock* block = FindBlock(eraseCode_);
    if (block == nullptr) {
        BootReply(BootStep::Erase, kEraseUnknownBlock);
        return;
    }
    // A status that reports the erase failed leaves the block as it was.
    const int reply = DecideBootReply(BootStep::Erase, kStatusOk);
    if (!ReportsError(reply, kEraseErrorBit)) {
        flash_.Set(block->start, block->size, 0xFF);
        ++flashChanges_;
    }
    PushBootReply(reply);
}

// The boot loader's 16-bit addresses end at 64 KiB: a page there does not spill over.
void DeviceModel::ProgramPage() {
    // A status that reports the page was not programmed leaves it as it was.
    const int reply = DecideBootReply(BootStep::Program, kStatusOk);
    if (!ReportsError(reply, kProgramErrorBit)) {
        SetFlash(pageAddress_, page_.data(), std::min(page_.size(), kFlashSize - pageAddress_));
        ++flashChanges_;
    }
    PushBootReply(reply);
}

void DeviceModel::BootReply(BootStep step, uint8_t correct) { PushBootReply(DecideBootReply(step, correct)); }

// The step's reply, or what the fault configured for this occurrence says
// instead; -1 for none.
int DeviceModel::DecideBootReply(BootStep step, uint8_t correct) {
    const BootBehaviour& b = bootFaults_[StepIndex(step)];
    const int count = ++bootStepCount_[StepIndex(step)];
    const bool applies = b.fault != BootFault::None && (b.occurrence == 0 || b.occurrence == count);
    uint8_t reply = correct;
    if (applies && b.fault == BootFault::Silent) return -1;
    if (applies && b.fault == BootFault::Status) reply = b.value;
    if (applies && b.fault == BootFault::WrongReply) {
        reply = b.value != correct ? b.value : static_cast<uint8_t>(correct + 1);
    }
    return reply;
}

void DeviceModel::PushBootReply(int reply) {
    if (reply >= 0) replies_.push_back({{static_cast<uint8_t>(reply)}, 0});
}

}  // namespace sim
