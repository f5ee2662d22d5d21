// transfer_commands.cpp - the panel's flash transfers, as the dialog prepares
// them.
#include "shell/transfer_commands.h"

#include <cctype>
#include <cstdio>

#include "operations/flash_transfer.h"
#include "operations/progress.h"
#include "operations/result.h"
#include "operations/verify.h"
#include "platform/platform.h"
#include "shell/command_ids.h"
#include "shell/number_text.h"
#include "shell/worker_slot.h"

namespace shell {

namespace {

constexpr const char* kOpenErrorText = "OPEN ERROR";
constexpr const char* kReadErrorText = "READ ERROR";
constexpr const char* kWriteErrorText = "WRITE ERROR";
using ops::kAddressMask;
// A log line that names a path: the path's bytes and some words.
constexpr int kPathLine = platform::kPathBytes + 160;

// What each transfer command is: its name in the log, its operation and
// worker, whether it reads the file (write, erase, verify: a verify compares
// what a write sent) and whether it changes the flash.
struct TransferCommand {
    int id;
    const char* name;  // in the log; in capitals in a box
    ops::Activity activity;
    platform::ThreadRoutine worker;
    bool loadsFile;
    bool changesFlash;
};

constexpr TransferCommand kTransfers[] = {
    {kIdFlashWrite, "flash write", ops::Activity::FlashWrite, ops::FlashWriteWorker, true, true},
    {kIdFlashRead, "flash read", ops::Activity::FlashRead, ops::FlashReadWorker, false, false},
    {kIdFlashErase, "flash erase", ops::Activity::FlashErase, ops::FlashEraseWorker, true, true},
    {kIdFlashVerify, "flash verify", ops::Activity::FlashVerify, ops::FlashVerifyWorker, true, false},
};

const TransferCommand* FindTransfer(int id) {
    for (const TransferCommand& command : kTransfers) {
        if (command.id == id) return &command;
    }
    return nullptr;
}

// Reads the file to its end as far as cap: a pipe hands its bytes over in
// pieces, and one read would take only the first of them. more tells whether
// the file held more than cap. -1 when a read failed.
int ReadWhole(platform::FileHandle file, uint8_t* buffer, int cap, bool& more) {
    int got = 0;
    while (got < cap) {
        const int n = platform::FileReadOnce(file, buffer + got, cap - got);
        if (n < 0) return -1;
        if (n == 0) break;
        got += n;
    }
    uint8_t probe = 0;
    more = got == cap && platform::FileReadOnce(file, &probe, 1) > 0;
    return got;
}

// Why the file of a write, an erase or a verify cannot be used: the log line
// that says so, before the command's box.
void LogSourceFault(const char* name, const char* path, const char* what) {
    char line[kPathLine];
    std::snprintf(line, sizeof line, "%s: %s %s: nothing was sent", name, path, what);
    platform::LogLineUtf8(line);  // ASCII words around the engineer's UTF-8 path
}

void LogOpenFault(const char* name, const char* path, platform::FileFault fault) {
    char what[96];
    if (fault == platform::FileFault::NotAFile) {
        std::snprintf(what, sizeof what, "%s", platform::NotAFileText(platform::FileKindAt(path, true)));
    } else {
        std::snprintf(what, sizeof what, "cannot be read: %s", platform::FileFaultText(fault));
    }
    LogSourceFault(name, path, what);
}

// A file longer than a transfer: its first bytes are taken, as the length
// edit then shows, and the log says that the rest is not.
void LogTakenPart(const char* name, const char* path) {
    static_assert(ops::kTransferBufferSize == 131072, "the line names the size");
    char line[kPathLine];
    std::snprintf(line, sizeof line,
                  "%s: %s holds more than the 131072 bytes a transfer takes: only its first 131072 bytes are taken",
                  name, path);
    platform::LogLineUtf8(line);
}

// Loads the transfer file into TransferBuffer, read to its end as far as a
// transfer takes it; loaded gets the count, more whether the file held more. The
// file is only read, so it is opened for reading, shared with other readers:
// a read-only file, or one a viewer has open, can be written to the flash or
// compared with it.
bool LoadTransferFile(const char* path, const TransferCommand& command, uint32_t start, uint32_t& loaded, bool& more) {
    platform::FileHandle file = platform::FileOpenRead(path);
    if (file == nullptr) {
        // Taken first: the look at the path for the line sets a fault of its own.
        const platform::FileFault fault = platform::LastFileFault();
        LogOpenFault(command.name, path, fault);
        const bool notAFile = fault == platform::FileFault::NotAFile;
        ops::EndNotStarted(command.activity, notAFile ? ops::NotStartedWhy::NotAFile : ops::NotStartedWhy::FileOpen,
                           start);
        platform::WarningBox(kOpenErrorText);
        return false;
    }
    more = false;
    const int got = ReadWhole(file, ops::TransferBuffer.data(), static_cast<int>(ops::kTransferBufferSize), more);
    if (got < 0) {
        LogSourceFault(command.name, path, platform::FileFaultText(platform::LastFileFault()));
        platform::FileClose(file);
        ops::EndNotStarted(command.activity, ops::NotStartedWhy::FileRead, start);
        platform::WarningBox(kReadErrorText);
        return false;
    }
    platform::FileClose(file);
    loaded = static_cast<uint32_t>(got);
    return true;
}

// An empty length edit takes the loaded file's size, as the edit then shows.
void FillEmptyLength(const TransferCommand& command, const char* path, uint32_t loaded, bool more) {
    char length[kTextLimit];
    platform::ReadControlText(kIdLengthEdit, length, kTextLimit);
    if (length[0] != '\0') return;
    std::snprintf(length, sizeof length, "%u", static_cast<unsigned>(loaded));
    platform::SetControlText(kIdLengthEdit, length);
    if (more) LogTakenPart(command.name, path);
}

// The transfer file of the file edit: its path taken exactly into
// params->FileName and, for a command that reads it, loaded. False when the
// command must not start: an empty edit, or a name that cannot be carried as
// given, has a log line that says why and the "OPEN ERROR" box ("WRITE ERROR"
// for a file to be created); a file that cannot be opened or read has its
// line and box. Nothing is opened or created then, and the board shows the
// activity as not started.
bool TakeTransferFile(ops::OperationParams* params, const TransferCommand& command, uint32_t start, uint32_t& loaded) {
    const platform::PathCarry carry =
        platform::ReadControlPath(kIdFileEdit, params->FileName, static_cast<int>(sizeof params->FileName));
    if (carry != platform::PathCarry::Ok || params->FileName[0] == '\0') {
        char line[200];
        std::snprintf(line, sizeof line, "%s: %s: nothing was %s", command.name,
                      carry != platform::PathCarry::Ok ? platform::PathCarryText(carry) : "no file name was given",
                      command.loadsFile ? "opened" : "opened or created");
        platform::LogLine(line);
        ops::EndNotStarted(
            command.activity,
            carry != platform::PathCarry::Ok ? ops::NotStartedWhy::FileOpen : ops::NotStartedWhy::NoFileName, start);
        platform::WarningBox(command.loadsFile ? kOpenErrorText : kWriteErrorText);
        return false;
    }
    bool more = false;
    if (!command.loadsFile) return true;
    if (!LoadTransferFile(params->FileName, command, start, loaded, more)) return false;
    FillEmptyLength(command, params->FileName, loaded, more);
    return true;
}

// A write or a verify takes Length bytes from the start of TransferBuffer;
// bytes beyond the file's would be whatever an earlier transfer left there,
// written to the unit or compared with it as if the file held them.
bool BeyondFile(const ops::OperationParams* params, const TransferCommand& command, uint32_t loaded) {
    if (command.id == kIdFlashErase || params->Length <= loaded) return false;
    char text[200];
    std::snprintf(text, sizeof text,
                  "%s: the length 0x%X is more than the %u bytes the file holds, and no byte that is not the file's "
                  "is %s: nothing was sent",
                  command.name, static_cast<unsigned>(params->Length), static_cast<unsigned>(loaded),
                  command.changesFlash ? "written" : "compared");
    platform::WarningBox(text);
    return true;
}

// A write or an erase past the top of the address space is refused with a
// box before anything is sent.
bool CrossesTopOfAddressSpace(const ops::OperationParams* params, const TransferCommand& command) {
    const uint32_t start = params->StartAddress & kAddressMask;
    if (!ops::RunsPastTopOfAddressSpace(start, params->Length)) return false;
    char boxName[16] = "";
    for (size_t i = 0; command.name[i] != '\0' && i + 1 < sizeof boxName; ++i) {
        boxName[i] = static_cast<char>(std::toupper(static_cast<unsigned char>(command.name[i])));
    }
    char text[200];
    std::snprintf(text, sizeof text,
                  "%s: 0x%06X + 0x%X runs past the top of the address space (0xFFFFFF) and would go on at "
                  "0x000000: nothing was sent",
                  boxName, static_cast<unsigned>(start), static_cast<unsigned>(params->Length));
    platform::WarningBox(text);
    return true;
}

// A flash read's target, checked before the first request: a refusal has
// its line and the "OPEN ERROR" box, and nothing is sent or written.
bool ReadTargetTaken(const char* target, const TransferCommand& command, uint32_t start) {
    const ops::TargetFault fault = ops::CheckReadTarget(target);
    if (fault == ops::TargetFault::None) return true;
    ops::LogReadTargetFault(fault, target);
    ops::NotStartedWhy why = ops::NotStartedWhy::FileOpen;
    if (fault == ops::TargetFault::NotAFile || fault == ops::TargetFault::PartialNotAFile) {
        why = ops::NotStartedWhy::NotAFile;
    } else if (fault == ops::TargetFault::ReadOnly) {
        why = ops::NotStartedWhy::ReadOnly;
    } else if (fault == ops::TargetFault::PartialName) {
        why = ops::NotStartedWhy::NameTooLong;
    }
    ops::EndNotStarted(command.activity, why, start);
    platform::WarningBox(kOpenErrorText);
    return false;
}

// What every transfer checks once its numbers and its file are taken, and
// its start: the range against the file and the address space, a read's
// target.
bool CheckedStart(ops::OperationParams* params, const TransferCommand& command, uint32_t start, uint32_t loaded) {
    if (command.loadsFile && BeyondFile(params, command, loaded)) {
        ops::EndNotStarted(command.activity, ops::NotStartedWhy::BeyondFile, start);
        return false;
    }
    if (command.id == kIdFlashVerify && params->Length == 0) {
        platform::WarningBox("flash verify: a length of 0 compares nothing: nothing was sent");
        ops::EndNotStarted(command.activity, ops::NotStartedWhy::NothingToCompare, start);
        return false;
    }
    if (command.changesFlash && CrossesTopOfAddressSpace(params, command)) {
        ops::EndNotStarted(command.activity, ops::NotStartedWhy::Range, start);
        return false;
    }
    if (command.id == kIdFlashRead && !ReadTargetTaken(params->FileName, command, start)) return false;
    return StartTracked(command.activity, command.worker, params, start);
}

}  // namespace

bool FlashTransfer(ops::OperationParams* params, int id) {
    const TransferCommand* command = FindTransfer(id);
    if (command == nullptr || RefuseIfBusy()) return false;
    // The start address first, so that whatever refuses the command names it.
    if (!ReadNumberEdit(kIdStartAddressEdit, params->StartAddress, "start address")) {
        ops::EndNotStarted(command->activity, ops::NotStartedWhy::NumberText);
        return false;
    }
    const uint32_t start = params->StartAddress & kAddressMask;
    uint32_t loaded = 0;
    if (!TakeTransferFile(params, *command, start, loaded)) return false;
    if (!ReadNumberEdit(kIdLengthEdit, params->Length, "length")) {
        ops::EndNotStarted(command->activity, ops::NotStartedWhy::NumberText, start);
        return false;
    }
    return CheckedStart(params, *command, start, loaded);
}

bool StartTransfer(ops::OperationParams* params, const TransferRequest& request) {
    const TransferCommand* command = FindTransfer(request.id);
    if (command == nullptr || RefuseIfBusy()) return false;
    params->StartAddress = request.start;
    params->Length = request.length;
    const uint32_t start = request.start & kAddressMask;
    if (std::snprintf(params->FileName, sizeof params->FileName, "%s", request.file) >=
        static_cast<int>(sizeof params->FileName)) {
        params->FileName[0] = '\0';
    }
    uint32_t loaded = 0;
    bool more = false;
    if (request.file[0] != '\0' && command->loadsFile &&
        !LoadTransferFile(params->FileName, *command, start, loaded, more)) {
        return false;
    }
    if (command->loadsFile && !request.lengthGiven) {
        params->Length = loaded;
        if (more) LogTakenPart(command->name, params->FileName);
    }
    return CheckedStart(params, *command, start, loaded);
}

}  // namespace shell
