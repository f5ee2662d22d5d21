// transfer_commands.cpp - the panel's flash transfers, as the dialog prepares
// them.
#include "shell/transfer_commands.h"

#include <cctype>
#include <cstdio>

#include "operations/flash_transfer.h"
#include "operations/progress.h"
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
constexpr uint32_t kAddressMask = 0xFFFFFF;  // the device's 24-bit addresses

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

// Loads the transfer file into TransferBuffer; an empty length edit gets the
// byte count. The file is only read, so it is opened for reading, shared with
// other readers: a read-only file, or one a viewer has open, can be written
// to the flash or compared with it.
bool LoadTransferFile(const char* path, ops::Activity activity) {
    platform::FileHandle file = platform::FileOpenRead(path);
    if (file == nullptr) {
        ops::EndNotStarted(activity, ops::NotStartedWhy::FileOpen);
        platform::WarningBox(kOpenErrorText);
        return false;
    }
    const int got =
        platform::FileReadOnce(file, ops::TransferBuffer.data(), static_cast<int>(ops::kTransferBufferSize));
    if (got < 0) {
        platform::FileClose(file);
        ops::EndNotStarted(activity, ops::NotStartedWhy::FileRead);
        platform::WarningBox(kReadErrorText);
        return false;
    }
    char length[kTextLimit];
    platform::ReadControlText(kIdLengthEdit, length, kTextLimit);
    if (length[0] == '\0') {
        std::snprintf(length, sizeof length, "%d", got);
        platform::SetControlText(kIdLengthEdit, length);
    }
    platform::FileClose(file);
    return true;
}

// The transfer file of the file edit: its path taken exactly into
// params->FileName and, for a command that reads it, loaded. False when the
// command must not start: a name that cannot be carried as given has a log
// line that says why and the "OPEN ERROR" box ("WRITE ERROR" for a file to be
// created); a file that cannot be opened or read has its box. Nothing is
// opened or created then, and the board shows the activity as not started.
bool TakeTransferFile(ops::OperationParams* params, const TransferCommand& command) {
    const platform::PathCarry carry =
        platform::ReadControlPath(kIdFileEdit, params->FileName, static_cast<int>(sizeof params->FileName));
    if (carry != platform::PathCarry::Ok) {
        char line[200];
        std::snprintf(line, sizeof line, "%s: %s: nothing was %s", command.name, platform::PathCarryText(carry),
                      command.loadsFile ? "opened" : "opened or created");
        platform::LogLine(line);
        ops::EndNotStarted(command.activity, ops::NotStartedWhy::FileOpen);
        platform::WarningBox(command.loadsFile ? kOpenErrorText : kWriteErrorText);
        return false;
    }
    return !command.loadsFile || LoadTransferFile(params->FileName, command.activity);
}

// The device's addresses are 24 bits and the workers count on modulo 2^24:
// a write or an erase running past 0xFFFFFF would go on at 0x000000 and
// destroy the start of flash. Such a range is refused before anything is
// sent. (A read or a verify keeps that arithmetic: it changes nothing on the
// unit.)
bool CrossesTopOfAddressSpace(const ops::OperationParams* params, const TransferCommand& command) {
    const uint32_t start = params->StartAddress & kAddressMask;
    if (static_cast<uint64_t>(start) + params->Length <= kAddressMask + 1ull) return false;
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

}  // namespace

void FlashTransfer(ops::OperationParams* params, int id) {
    const TransferCommand* command = FindTransfer(id);
    if (command == nullptr || RefuseIfBusy()) return;
    if (!TakeTransferFile(params, *command)) return;
    if (!ReadNumberEdit(kIdStartAddressEdit, params->StartAddress, "start address") ||
        !ReadNumberEdit(kIdLengthEdit, params->Length, "length")) {
        ops::EndNotStarted(command->activity, ops::NotStartedWhy::NumberText);
        return;
    }
    const uint32_t start = params->StartAddress & kAddressMask;
    if (command->changesFlash && CrossesTopOfAddressSpace(params, *command)) {
        ops::EndNotStarted(command->activity, ops::NotStartedWhy::Range, start);
        return;
    }
    if (id == kIdFlashRead && !ops::ReadTargetUsable(params->FileName)) {
        ops::EndNotStarted(command->activity, ops::NotStartedWhy::FileOpen, start);
        platform::WarningBox(kOpenErrorText);
        return;
    }
    StartTracked(command->activity, command->worker, params, start);
}

}  // namespace shell
