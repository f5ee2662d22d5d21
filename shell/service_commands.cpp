// service_commands.cpp - flash transfers and the parameter-block chain, as
// the dialog prepares and drives them.
#include "shell/service_commands.h"

#include <cstdio>
#include <cstring>

#include "link/frame.h"
#include "operations/flash_transfer.h"
#include "operations/verify.h"
#include "operations/param_block.h"
#include "operations/progress.h"
#include "operations/stop_resume.h"
#include "platform/platform.h"
#include "shell/command_ids.h"
#include "shell/dispatch.h"

namespace shell {

int ParamSequenceMode = 0;
int ParamSequenceStep = 0;

namespace {

constexpr const char* kOpenErrorText = "OPEN ERROR";
constexpr const char* kReadErrorText = "READ ERROR";
constexpr uint32_t kAddressMask = 0xFFFFFF;  // the device's 24-bit addresses
constexpr const char* kWriteErrorText = "WRITE ERROR";

// A number text is used whole or not at all. The panel's edits take 255
// characters, but a program can put more into one (WM_SETTEXT is not
// limited), and a text cut to 255 characters is another number; so one
// character more is read, to tell.
bool ReadNumber(int editId, uint32_t& field, const char* what) {
    char text[kTextLimit + 1];
    platform::ReadControlText(editId, text, sizeof text);
    if (std::strlen(text) >= static_cast<size_t>(kTextLimit)) {
        char box[128];
        std::snprintf(box, sizeof box, "%s: the text is longer than %d characters: nothing was sent", what,
                      kTextLimit - 1);
        platform::WarningBox(box);
        return false;
    }
    ParseNumberText(text, field);
    return true;
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
    const int got = platform::FileReadOnce(file, ops::TransferBuffer.data(),
                                           static_cast<int>(ops::kTransferBufferSize));
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

// The device's addresses are 24 bits and the workers count on modulo 2^24:
// a write or an erase running past 0xFFFFFF would go on at 0x000000 and
// destroy the start of flash. Such a range is refused before anything is
// sent. (A read keeps that arithmetic: it changes nothing on the unit.)
bool CrossesTopOfAddressSpace(const ops::OperationParams* params, int id) {
    const uint32_t start = params->StartAddress & kAddressMask;
    if (static_cast<uint64_t>(start) + params->Length <= kAddressMask + 1ull) return false;
    char text[200];
    std::snprintf(text, sizeof text,
                  "%s: 0x%06X + 0x%X runs past the top of the address space (0xFFFFFF) and would go on at "
                  "0x000000: nothing was sent",
                  id == kIdFlashWrite ? "FLASH WRITE" : "FLASH ERASE", static_cast<unsigned>(start),
                  static_cast<unsigned>(params->Length));
    platform::WarningBox(text);
    return true;
}

// A text for the unit that code page 932 cannot hold is refused whole, with
// the character named: the unit would store '?' or a look-alike in its place.
bool TakeParamText(int k, int which, char* buffer) {
    platform::TextRefusal refusal;
    const int id = (which == 1 ? kIdParamFirstText0 : kIdParamSecondText0) + k;
    if (platform::ReadControlTextExact(id, buffer, ops::kParamTextSize, refusal)) return true;
    char text[sizeof refusal.text + 256];
    std::snprintf(text, sizeof text,
                  "parameter block %d: text %d \"%s\" holds \"%s\" (U+%04X), a character that code page 932 "
                  "cannot represent, so the unit cannot store it: nothing was sent",
                  k, which, refusal.text, refusal.character, static_cast<unsigned>(refusal.codePoint));
    platform::WarningBoxUtf8(text);
    return false;
}

platform::ThreadRoutine TransferWorker(int id) {
    switch (id) {
        case kIdFlashWrite: return ops::FlashWriteWorker;
        case kIdFlashRead: return ops::FlashReadWorker;
        case kIdFlashVerify: return ops::FlashVerifyWorker;
        default: return ops::FlashEraseWorker;
    }
}

ops::Activity TransferActivity(int id) {
    switch (id) {
        case kIdFlashWrite: return ops::Activity::FlashWrite;
        case kIdFlashRead: return ops::Activity::FlashRead;
        case kIdFlashVerify: return ops::Activity::FlashVerify;
        default: return ops::Activity::FlashErase;
    }
}

constexpr const char* kStopUnansweredText =
    "parameter block: no answer to the stop request: nothing was erased or written";
constexpr const char* kChainEndedText =
    "parameter block: the device stopped answering: the chain ends, request 0x62 is not sent";

// A refused erase or write lets the chain go on (the device answered and
// shows its own box); one that got no answer ends it: writing over a range
// whose erase was never confirmed, or telling the device to take a block it
// may not hold, is not done.
bool ChainLostDevice() {
    if (!ops::TransferLostDevice.load()) return false;
    ParamSequenceMode = 0;
    platform::LogLine(kChainEndedText);
    ops::CloseProgress();  // the worker's failure says where
    return true;
}

void ReportCutBlock(uint32_t needed) {
    char line[128];
    std::snprintf(line, sizeof line,
                  "parameter block: the texts need %u bytes, the block holds %u: the end is cut",
                  static_cast<unsigned>(needed), static_cast<unsigned>(ops::kParamBlockSize));
    platform::LogLine(line);
}

}  // namespace

bool TakeTransferFile(ops::OperationParams* params, const char* operation, bool load, ops::Activity activity) {
    const platform::PathCarry carry =
        platform::ReadControlPath(kIdFileEdit, params->FileName, static_cast<int>(sizeof params->FileName));
    if (carry != platform::PathCarry::Ok) {
        char line[200];
        std::snprintf(line, sizeof line, "%s: %s: nothing was %s", operation, platform::PathCarryText(carry),
                      load ? "opened" : "opened or created");
        platform::LogLine(line);
        ops::EndNotStarted(activity, ops::NotStartedWhy::FileOpen);
        platform::WarningBox(load ? kOpenErrorText : kWriteErrorText);
        return false;
    }
    return !load || LoadTransferFile(params->FileName, activity);
}

void FlashTransfer(ops::OperationParams* params, int id) {
    if (RefuseIfBusy()) return;
    const char* operation = id == kIdFlashWrite   ? "flash write"
                            : id == kIdFlashRead  ? "flash read"
                            : id == kIdFlashErase ? "flash erase"
                                                  : "flash verify";
    // A verify loads the file as a write does: it compares what a write sent.
    if (!TakeTransferFile(params, operation, id != kIdFlashRead, TransferActivity(id))) return;
    if (!ReadNumber(kIdStartAddressEdit, params->StartAddress, "start address") ||
        !ReadNumber(kIdLengthEdit, params->Length, "length")) {
        ops::EndNotStarted(TransferActivity(id), ops::NotStartedWhy::NumberText);
        return;
    }
    // A verify only reads: like a read, it counts on past the top.
    if ((id == kIdFlashWrite || id == kIdFlashErase) && CrossesTopOfAddressSpace(params, id)) {
        ops::EndNotStarted(TransferActivity(id), ops::NotStartedWhy::Range, params->StartAddress & 0xFFFFFF);
        return;
    }
    if (id == kIdFlashRead && !ops::ReadTargetUsable(params->FileName)) {
        ops::EndNotStarted(TransferActivity(id), ops::NotStartedWhy::FileOpen, params->StartAddress & 0xFFFFFF);
        platform::WarningBox(kOpenErrorText);
        return;
    }
    StartTracked(TransferActivity(id), TransferWorker(id), params, params->StartAddress & 0xFFFFFF);
}

void ParamBlock(ops::OperationParams* params, int k) {
    if (RefuseIfBusy()) return;
    // The texts are taken before the stop request: one that the unit cannot
    // hold stops the chain before anything is sent. No worker runs here, so
    // none reads the text buffers while they are filled.
    if (!TakeParamText(k, 1, ops::ParamFirstText) || !TakeParamText(k, 2, ops::ParamSecondText)) {
        ops::EndNotStarted(ops::Activity::ParamChain, ops::NotStartedWhy::Text, ops::kParamBlockAddress);
        return;
    }
    // The stop goes first; it reads nothing that the rest of this pass writes,
    // and its end is handled only after this pass.
    if (!StartTracked(ops::Activity::ParamChain, ops::StopWorker, nullptr, ops::kParamBlockAddress,
                      static_cast<uint32_t>(k))) {
        return;
    }
    ParamSequenceMode = k + 1;
    params->Length = ops::kParamBlockSize;
    params->StartAddress = ops::kParamBlockAddress;
    const uint32_t needed =
        ops::BuildParameterBlock(ops::ParamFirstText, ops::ParamSecondText, ops::TransferBuffer.data());
    if (needed > ops::kParamBlockSize) {
        ReportCutBlock(needed);
        ops::ReportTextsCut(needed);
    }
    ParamSequenceStep = 0;
}

void ParamChainStep(ops::OperationParams* params, uintptr_t outcome) {
    if (ParamSequenceMode == 0) return;
    switch (ParamSequenceStep) {
        case 0:
            if (outcome == 0) {  // the device did not answer the stop
                ParamSequenceMode = 0;
                platform::Beep(platform::BeepSound::Default);
                platform::LogLine(kStopUnansweredText);
                ops::ReportFailure(ops::Outcome::NoAnswer, 0);
                ops::CloseProgress();
                return;
            }
            ops::SetStep(1);
            StartWorker(ops::FlashEraseWorker, params);
            ParamSequenceStep = 1;
            return;
        case 1:
            if (ChainLostDevice()) return;
            ops::SetStep(2);
            StartWorker(ops::FlashWriteWorker, params);
            ParamSequenceStep = 2;
            return;
        default:
            if (ChainLostDevice()) return;
            // The chain ends with its request 0x62: a later worker's end must
            // not send it again.
            ParamSequenceMode = 0;
            wire::SendEmptyRequest(ops::kRequest62, true);
            ops::CloseProgress();
            return;
    }
}

}  // namespace shell
