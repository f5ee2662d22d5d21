// service_commands.cpp - flash transfers and the parameter-block chain, as
// the dialog prepares and drives them.
#include "shell/service_commands.h"

#include <cstdio>

#include "link/frame.h"
#include "operations/flash_transfer.h"
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
constexpr const char* kWriteErrorText = "WRITE ERROR";

void ReadNumber(int editId, uint32_t& field) {
    char text[kTextLimit];
    platform::ReadControlText(editId, text, kTextLimit);
    ParseNumberText(text, field);
}

// Loads the transfer file into TransferBuffer; an empty length edit gets the
// byte count. The file is opened for writing too, without sharing, so a
// read-only file or one held open elsewhere is refused.
bool LoadTransferFile(const char* path) {
    platform::FileHandle file = platform::FileOpenExclusive(path);
    if (file == nullptr) {
        platform::WarningBox(kOpenErrorText);
        return false;
    }
    const int got = platform::FileReadOnce(file, ops::TransferBuffer.data(),
                                           static_cast<int>(ops::kTransferBufferSize));
    if (got < 0) {
        platform::FileClose(file);
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
        default: return ops::FlashEraseWorker;
    }
}

ops::Activity TransferActivity(int id) {
    switch (id) {
        case kIdFlashWrite: return ops::Activity::FlashWrite;
        case kIdFlashRead: return ops::Activity::FlashRead;
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

bool TakeTransferFile(ops::OperationParams* params, const char* operation, bool load) {
    const platform::PathCarry carry =
        platform::ReadControlPath(kIdFileEdit, params->FileName, static_cast<int>(sizeof params->FileName));
    if (carry != platform::PathCarry::Ok) {
        char line[200];
        std::snprintf(line, sizeof line, "%s: %s: nothing was %s", operation, platform::PathCarryText(carry),
                      load ? "opened" : "opened or created");
        platform::LogLine(line);
        platform::WarningBox(load ? kOpenErrorText : kWriteErrorText);
        return false;
    }
    return !load || LoadTransferFile(params->FileName);
}

void FlashTransfer(ops::OperationParams* params, int id) {
    if (RefuseIfBusy()) return;
    const char* operation = id == kIdFlashWrite ? "flash write" : id == kIdFlashRead ? "flash read" : "flash erase";
    if (!TakeTransferFile(params, operation, id != kIdFlashRead)) return;
    ReadNumber(kIdStartAddressEdit, params->StartAddress);
    ReadNumber(kIdLengthEdit, params->Length);
    StartTracked(TransferActivity(id), TransferWorker(id), params, params->StartAddress & 0xFFFFFF);
}

void ParamBlock(ops::OperationParams* params, int k) {
    if (RefuseIfBusy()) return;
    // The texts are taken before the stop request: one that the unit cannot
    // hold stops the chain before anything is sent. No worker runs here, so
    // none reads the text buffers while they are filled.
    if (!TakeParamText(k, 1, ops::ParamFirstText) || !TakeParamText(k, 2, ops::ParamSecondText)) return;
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
    if (needed > ops::kParamBlockSize) ReportCutBlock(needed);
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
