// flash_transfer.cpp - the flash write, read and erase workers.
//
// Every answer is awaited with a bound (the library's own poll), so a device
// that stops answering, or a port closed under a transfer, ends the worker
// with a log line that says where, the operation's failure box, and its
// UM_WORKER_DONE.
#include "operations/flash_transfer.h"

#include <algorithm>
#include <cstdio>

#include "link/command_library.h"
#include "operations/progress.h"
#include "platform/platform.h"

namespace ops {

std::array<uint8_t, kTransferBufferSize> TransferBuffer{};
std::atomic<bool> TransferLostDevice{false};

namespace {

constexpr const char* kWriteFailedText = "FLASH WRITE 異常";
constexpr const char* kReadFailedText = "FLASH READ 異常";
constexpr const char* kEraseFailedText = "FLASH ERASE 異常";
constexpr const char* kFileWriteFailedText = "WRITE ERROR";
constexpr uint32_t kAddressMask = 0xFFFFFF;

// Says why a request got no answer: the log keeps the reason and the place;
// the box is the operation's own failure box.
void ReportNoAnswer(const char* operation, uint32_t address, const char* failureBox) {
    char line[160];
    const bool portOpen = wire::LastAnswerWait() != wire::AnswerWait::PortClosed;
    ReportFailure(portOpen ? Outcome::NoAnswer : Outcome::PortClosed, address & kAddressMask);
    if (portOpen) {
        std::snprintf(line, sizeof line,
                      "%s: no answer at 0x%06X within %u s: check the cable and the device, then "
                      "try again",
                      operation, static_cast<unsigned>(address & kAddressMask),
                      static_cast<unsigned>(wire::kOwnPollBoundMs / 1000));
    } else {
        std::snprintf(line, sizeof line, "%s: the port is closed at 0x%06X: open it and try again",
                      operation, static_cast<unsigned>(address & kAddressMask));
    }
    platform::LogLine(line);
    platform::WarningBox(failureBox);
}

// An answer that came cut or corrupted: the device may be fine and the line
// is suspect, so the log says so; the chunk's data were not taken.
void ReportDamagedAnswer(const char* operation, uint32_t address, const char* failureBox) {
    char line[160];
    ReportFailure(Outcome::DamagedAnswer, address & kAddressMask);
    std::snprintf(line, sizeof line,
                  "%s: damaged answer at 0x%06X (bytes missing or a wrong checksum): check the cable "
                  "and the connectors, then try again",
                  operation, static_cast<unsigned>(address & kAddressMask));
    platform::LogLine(line);
    platform::WarningBox(failureBox);
}

// A length beyond TransferBuffer would make a worker read or write past it.
bool LengthFits(const OperationParams* p, const char* operation) {
    if (p->Length <= kTransferBufferSize) return true;
    ReportFailure(Outcome::NotStarted, p->StartAddress & kAddressMask);
    char text[160];
    std::snprintf(text, sizeof text,
                  "%s: length 0x%X is larger than the transfer buffer (0x%X bytes): nothing was "
                  "sent",
                  operation, static_cast<unsigned>(p->Length),
                  static_cast<unsigned>(kTransferBufferSize));
    platform::WarningBox(text);
    return false;
}

// Handles a failed request; true when the transfer must stop.
bool Failed(int result, const char* operation, uint32_t address, const char* failureBox) {
    if (result == wire::kAccepted) return false;
    if (result == wire::kNoAnswer) {
        TransferLostDevice.store(true);
        ReportNoAnswer(operation, address, failureBox);
    } else if (result == wire::kDamagedAnswer) {
        ReportDamagedAnswer(operation, address, failureBox);
    } else {
        ReportFailure(Outcome::Refused, address & kAddressMask);
        platform::WarningBox(failureBox);
    }
    return true;
}

void WriteChunks(const OperationParams* p) {
    uint32_t address = p->StartAddress;
    uint32_t offset = 0;
    ReportUnits(0, p->Length);
    for (uint32_t remaining = p->Length; remaining != 0;) {
        const uint32_t n = WriteChunkSize(address, remaining);
        const uint8_t* data = TransferBuffer.data() + offset;
        if (!AllErased(data, n)) {
            const int result = wire::WriteFlashChunk(data, address, n);
            if (Failed(result, "flash write", address, kWriteFailedText)) return;
        }
        offset += n;
        remaining -= n;
        address += n;
        ReportUnits(offset, p->Length);
    }
}

void ReadChunks(const OperationParams* p) {
    uint32_t address = p->StartAddress;
    uint32_t offset = 0;
    ReportUnits(0, p->Length);
    for (uint32_t remaining = p->Length; remaining != 0;) {
        const uint32_t n = ReadChunkSize(remaining);
        const int result = wire::ReadFlashChunk(TransferBuffer.data() + offset, address, n);
        if (Failed(result, "flash read", address, kReadFailedText)) return;
        offset += n;
        remaining -= n;
        address += n;
        ReportUnits(offset, p->Length);
    }
}

uint32_t Done() {
    platform::PostToDialog(wire::UM_WORKER_DONE, 0, 0);
    return 0;
}

}  // namespace

uint32_t WriteChunkSize(uint32_t address, uint32_t remaining) {
    const uint32_t toBoundary = kChunkSize - address % kChunkSize;
    return std::min({remaining, kChunkSize, toBoundary});
}

uint32_t ReadChunkSize(uint32_t remaining) { return std::min(remaining, kChunkSize); }

bool AllErased(const uint8_t* data, uint32_t count) {
    return std::all_of(data, data + count, [](uint8_t b) { return b == 0xFF; });
}

uint32_t FlashWriteWorker(void* params) {
    const auto* p = static_cast<const OperationParams*>(params);
    TransferLostDevice.store(false);
    if (LengthFits(p, "flash write")) WriteChunks(p);
    return Done();
}

uint32_t FlashReadWorker(void* params) {
    const auto* p = static_cast<const OperationParams*>(params);
    TransferLostDevice.store(false);
    if (LengthFits(p, "flash read")) {
        ReadChunks(p);
        // Written after a failed read too: the file always gets the full
        // length, the part not read holding what the buffer held before.
        const int length = static_cast<int>(p->Length);
        if (!platform::FileWriteNew(p->FileName, TransferBuffer.data(), length)) {
            ReportFailure(Outcome::FileError, p->StartAddress & kAddressMask);
            platform::WarningBox(kFileWriteFailedText);
        }
    }
    return Done();
}

uint32_t FlashEraseWorker(void* params) {
    const auto* p = static_cast<const OperationParams*>(params);
    TransferLostDevice.store(false);
    const int result = wire::EraseFlashRange(p->StartAddress, p->Length & 0xFFFF);
    Failed(result, "flash erase", p->StartAddress, kEraseFailedText);
    return Done();
}

}  // namespace ops
