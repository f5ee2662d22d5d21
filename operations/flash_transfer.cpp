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
#include "operations/read_again.h"
#include "operations/result.h"
#include "platform/platform.h"

namespace ops {

std::array<uint8_t, kTransferBufferSize> TransferBuffer{};
std::atomic<bool> TransferLostDevice{false};

namespace {

constexpr const char* kWriteFailedText = "FLASH WRITE 異常";
constexpr const char* kReadFailedText = "FLASH READ 異常";
// The same words as UTF-8 (E7 95 B0 E5 B8 B8 is 異常), for the boxes that name
// a path: the engineer's path is UTF-8 and may hold characters that code page
// 932 lacks ("Jérôme"), so such a box is UTF-8 throughout.
constexpr const char* kReadFailedTextUtf8 = "FLASH READ \xE7\x95\xB0\xE5\xB8\xB8";
constexpr const char* kEraseFailedText = "FLASH ERASE 異常";
constexpr const char* kFileWriteFailedText = "WRITE ERROR";
constexpr char kPartialSuffix[] = ".partial";
constexpr size_t kFileNameSize = sizeof(OperationParams::FileName);

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
        std::snprintf(line, sizeof line, "%s: the port is closed at 0x%06X: open it and try again", operation,
                      static_cast<unsigned>(address & kAddressMask));
    }
    platform::LogLine(line);
    if (failureBox != nullptr) platform::WarningBox(failureBox);
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
    if (failureBox != nullptr) platform::WarningBox(failureBox);
}

}  // namespace

// A length beyond TransferBuffer would make a worker read or write past it.
bool TransferLengthFits(const OperationParams* p, const char* operation) {
    if (p->Length <= kTransferBufferSize) return true;
    ReportNotStarted(NotStartedWhy::Length, p->StartAddress & kAddressMask);
    char text[160];
    std::snprintf(text, sizeof text,
                  "%s: length 0x%X is larger than the transfer buffer (0x%X bytes): nothing was "
                  "sent",
                  operation, static_cast<unsigned>(p->Length), static_cast<unsigned>(kTransferBufferSize));
    platform::WarningBox(text);
    return false;
}

namespace {

// Handles a failed request; true when the transfer must stop. Without a
// failure box the caller shows its own.
bool Failed(int result, const char* operation, uint32_t address, const char* failureBox) {
    if (result == wire::kAccepted) return false;
    if (result == wire::kNoAnswer) {
        TransferLostDevice.store(true);
        ReportNoAnswer(operation, address, failureBox);
    } else if (result == wire::kDamagedAnswer) {
        ReportDamagedAnswer(operation, address, failureBox);
    } else {
        ReportFailure(Outcome::Refused, address & kAddressMask);
        if (failureBox != nullptr) platform::WarningBox(failureBox);
    }
    return true;
}

void WriteChunks(const OperationParams* p) {
    uint32_t address = p->StartAddress;
    uint32_t offset = 0;
    uint32_t skipped = 0;
    ReportUnits(0, p->Length);
    for (uint32_t remaining = p->Length; remaining != 0;) {
        const uint32_t n = WriteChunkSize(address, remaining);
        const uint8_t* data = TransferBuffer.data() + offset;
        if (AllErased(data, n)) {
            ReportSkipped(++skipped);
        } else {
            const int result = wire::WriteFlashChunk(data, address, n);
            CountLineTrouble(result);
            if (Failed(result, "flash write", address, kWriteFailedText)) return;
        }
        offset += n;
        remaining -= n;
        address += n;
        ReportUnits(offset, p->Length);
    }
}

// True when the whole range was read; `got` bytes of it are in TransferBuffer.
// A failure's box is the worker's, once it knows where the bytes went.
bool ReadChunks(const OperationParams* p, uint32_t& got) {
    uint32_t address = p->StartAddress;
    uint32_t offset = 0;
    ReportUnits(0, p->Length);
    for (uint32_t remaining = p->Length; remaining != 0;) {
        const uint32_t n = ReadChunkSize(remaining);
        const int result = ReadChunkAskingAgain(TransferBuffer.data() + offset, address, n, "flash read");
        if (Failed(result, "flash read", address, nullptr)) {
            got = offset;
            return false;
        }
        offset += n;
        remaining -= n;
        address += n;
        ReportUnits(offset, p->Length);
    }
    got = offset;
    return true;
}

// The read's bytes go to a file beside the target, "<target>.partial", and a
// whole read takes the target's place in one rename: a failed read or a full
// disk never leaves the target changed or half-written.
bool PartialName(const char* target, char* out, size_t cap) {
    return std::snprintf(out, cap, "%s%s", target, kPartialSuffix) < static_cast<int>(cap);
}

// An existing file that can be opened for writing with no sharing (so not
// read-only, not a folder, not held open elsewhere); it is not changed.
bool Writable(const char* path) {
    platform::FileHandle file = platform::FileOpenExclusive(path);
    if (file == nullptr) return false;
    platform::FileClose(file);
    return true;
}

// A whole read that cannot take the target's place (the target held open
// elsewhere since the check) is not thrown away: it stays in the partial file.
void KeepWholeRead(const OperationParams* p) {
    char partial[kFileNameSize + sizeof kPartialSuffix];
    const int length = static_cast<int>(p->Length);
    if (PartialName(p->FileName, partial, sizeof partial) &&
        platform::FileWriteNew(partial, TransferBuffer.data(), length)) {
        if (platform::FileReplace(partial, p->FileName)) return;
        char line[kFileNameSize + 200];
        std::snprintf(line, sizeof line, "flash read: the file could not be replaced; the %u bytes read are in %s",
                      static_cast<unsigned>(p->Length), partial);
        platform::LogLineUtf8(line);
    } else {
        platform::FileRemove(partial);
    }
    ReportFailure(Outcome::FileError, p->StartAddress & kAddressMask);
    platform::WarningBox(kFileWriteFailedText);
}

// A read that failed: the target stays as it was; the bytes read before the
// failure, if any, go to the partial file, which the line and the box name.
// Both are UTF-8, so that the path shows as typed; each names one path only,
// so that the text fits the log and the box whatever the path.
void KeepPartialRead(const OperationParams* p, uint32_t got) {
    char partial[kFileNameSize + sizeof kPartialSuffix];
    char line[kFileNameSize + 200];
    char box[kFileNameSize + 200];
    const bool named = PartialName(p->FileName, partial, sizeof partial);
    if (got == 0) {
        std::snprintf(box, sizeof box, "%s\nNothing was read: %s was not changed.", kReadFailedTextUtf8, p->FileName);
    } else if (named && platform::FileWriteNew(partial, TransferBuffer.data(), static_cast<int>(got))) {
        std::snprintf(line, sizeof line,
                      "flash read: the %u bytes read before the failure are in %s; the file was not changed",
                      static_cast<unsigned>(got), partial);
        platform::LogLineUtf8(line);
        std::snprintf(box, sizeof box, "%s\nThe %u bytes read before the failure are in %s; the file was not changed.",
                      kReadFailedTextUtf8, static_cast<unsigned>(got), partial);
    } else {
        std::snprintf(box, sizeof box, "%s\nThe bytes read could not be written to %s; the file was not changed.",
                      kReadFailedTextUtf8, partial);
    }
    platform::WarningBoxUtf8(box);
}

uint32_t Done() {
    platform::PostToDialog(wire::UM_WORKER_DONE, 0, 0);
    return 0;
}

}  // namespace

bool ReadRequestFailed(int result, const char* operation, uint32_t address) {
    return Failed(result, operation, address, kReadFailedText);
}

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
    if (TransferLengthFits(p, "flash write")) WriteChunks(p);
    return Done();
}

uint32_t FlashReadWorker(void* params) {
    const auto* p = static_cast<const OperationParams*>(params);
    TransferLostDevice.store(false);
    if (TransferLengthFits(p, "flash read")) {
        uint32_t got = 0;
        if (ReadChunks(p, got)) {
            KeepWholeRead(p);
        } else {
            KeepPartialRead(p, got);
        }
    }
    return Done();
}

// Nothing is written through a link or onto a device, and a read-only file
// stays as it is whoever runs the console; the partial file beside the target
// must be a file of the read's own (or none) in a folder that takes one.
TargetFault CheckReadTarget(const char* target) {
    char partial[kFileNameSize + sizeof kPartialSuffix];
    if (!PartialName(target, partial, sizeof partial)) return TargetFault::PartialName;
    const platform::FileKind kind = platform::FileKindAt(target, false);
    if (kind != platform::FileKind::Missing && kind != platform::FileKind::Regular) return TargetFault::NotAFile;
    if (kind == platform::FileKind::Regular && platform::FileReadOnly(target)) return TargetFault::ReadOnly;
    if (kind == platform::FileKind::Regular && !Writable(target)) return TargetFault::Held;
    const platform::FileKind partialKind = platform::FileKindAt(partial, false);
    if (partialKind == platform::FileKind::Other && platform::LastFileFault() == platform::FileFault::NameTooLong) {
        return TargetFault::PartialName;
    }
    if (partialKind == platform::FileKind::Regular) return Writable(partial) ? TargetFault::None : TargetFault::Held;
    if (partialKind != platform::FileKind::Missing) return TargetFault::PartialNotAFile;
    if (platform::FileCanCreate(partial)) return TargetFault::None;
    return platform::LastFileFault() == platform::FileFault::NameTooLong ? TargetFault::PartialName
                                                                         : TargetFault::Folder;
}

void LogReadTargetFault(TargetFault fault, const char* target) {
    // Taken first: the look at the target below would set a fault of its own.
    const char* why = platform::FileFaultText(platform::LastFileFault());
    char line[2 * kFileNameSize + 200];
    char partial[kFileNameSize + sizeof kPartialSuffix] = "";
    PartialName(target, partial, sizeof partial);
    const char* notAFile = platform::NotAFileText(platform::FileKindAt(target, false));
    switch (fault) {
        case TargetFault::None: return;
        case TargetFault::NotAFile:
            std::snprintf(line, sizeof line, "flash read: %s %s: nothing was sent or written", target,
                          platform::NamesWindowsDevice(target) ? "is a device's name, not a file" : notAFile);
            break;
        case TargetFault::ReadOnly:
            std::snprintf(line, sizeof line,
                          "flash read: %s is read-only: nothing was sent; make it writable or choose another name",
                          target);
            break;
        case TargetFault::Held:
            std::snprintf(line, sizeof line, "flash read: %s cannot be opened for writing (%s): nothing was sent",
                          target, why);
            break;
        case TargetFault::PartialNotAFile:
            std::snprintf(line, sizeof line,
                          "flash read: %s, which the read writes first, %s: nothing was sent; remove it or "
                          "choose another name",
                          partial, platform::NotAFileText(platform::FileKindAt(partial, false)));
            break;
        case TargetFault::PartialName:
            std::snprintf(line, sizeof line,
                          "flash read: the name %s, which the read writes first, is longer than the file system "
                          "takes: nothing was sent; choose a shorter name",
                          partial);
            break;
        case TargetFault::Folder:
            std::snprintf(line, sizeof line, "flash read: the folder of %s takes no new file (%s): nothing was sent",
                          target, why);
            break;
    }
    platform::LogLineUtf8(line);  // ASCII words around the engineer's UTF-8 path
}

uint32_t FlashEraseWorker(void* params) {
    const auto* p = static_cast<const OperationParams*>(params);
    TransferLostDevice.store(false);
    const int result = wire::EraseFlashRange(p->StartAddress, p->Length & 0xFFFF);
    CountLineTrouble(result);
    Failed(result, "flash erase", p->StartAddress, kEraseFailedText);
    return Done();
}

}  // namespace ops
