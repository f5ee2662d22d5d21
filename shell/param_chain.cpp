// param_chain.cpp - the parameter-block chain, as the dialog drives it.
#include "shell/param_chain.h"

#include <cstdio>

#include "link/frame.h"
#include "operations/flash_transfer.h"
#include "operations/param_block.h"
#include "operations/progress.h"
#include "operations/result.h"
#include "operations/stop_resume.h"
#include "platform/platform.h"
#include "shell/command_ids.h"
#include "shell/worker_slot.h"

namespace shell {

namespace {

// The worker of the chain that is under way (None: no chain runs).
enum class ChainStep { None, Stop, Erase, Write };
ChainStep chainStep = ChainStep::None;

constexpr const char* kStopUnansweredText =
    "parameter block: no answer to the stop request: nothing was erased or written";
constexpr const char* kChainEndedText =
    "parameter block: the device stopped answering: the chain ends, request 0x62 is not sent";

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

// Texts that the 256 bytes cannot hold would be cut into a block the unit
// reads wrongly (the second text's offset wraps, its end is lost): refused
// before the stop request.
bool TextsFitBlock(int k) {
    const uint32_t needed = ops::ParameterBlockBytes(ops::ParamFirstText, ops::ParamSecondText);
    if (needed <= ops::kParamBlockSize) return true;
    char text[160];
    std::snprintf(text, sizeof text,
                  "parameter block %d: the texts need %u bytes, the block holds %u: nothing was sent; shorten them", k,
                  static_cast<unsigned>(needed), static_cast<unsigned>(ops::kParamBlockSize));
    platform::WarningBox(text);
    return false;
}

// A refused erase or write lets the chain go on (the device answered and
// shows its own box); one that got no answer ends it: writing over a range
// whose erase was never confirmed, or telling the device to take a block it
// may not hold, is not done.
bool ChainLostDevice() {
    if (!ops::TransferLostDevice.load()) return false;
    chainStep = ChainStep::None;
    platform::LogLine(kChainEndedText);
    ops::CloseProgress();  // the worker's failure says where
    return true;
}

void AfterStop(ops::OperationParams* params, bool stopAnswered) {
    if (!stopAnswered) {
        chainStep = ChainStep::None;
        platform::Beep(platform::BeepSound::Default);
        platform::LogLine(kStopUnansweredText);
        ops::ReportFailure(ops::Outcome::NoAnswer, 0);
        ops::CloseProgress();
        return;
    }
    ops::SetStep(1);
    StartWorker(ops::FlashEraseWorker, params);
    chainStep = ChainStep::Erase;
}

void AfterErase(ops::OperationParams* params) {
    if (ChainLostDevice()) return;
    ops::SetStep(2);
    StartWorker(ops::FlashWriteWorker, params);
    chainStep = ChainStep::Write;
}

void AfterWrite() {
    if (ChainLostDevice()) return;
    // The chain ends with its request 0x62: a later worker's end must not
    // send it again.
    chainStep = ChainStep::None;
    wire::SendEmptyRequest(ops::kRequest62, true);
    ops::CloseProgress();
}

}  // namespace

bool ParamBlock(ops::OperationParams* params, int k) {
    if (RefuseIfBusy()) return false;
    // The texts are taken before the stop request: one that the unit cannot
    // hold stops the chain before anything is sent.
    char first[ops::kParamTextSize];
    char second[ops::kParamTextSize];
    if (!TakeParamText(k, 1, first) || !TakeParamText(k, 2, second)) {
        ops::EndNotStarted(ops::Activity::ParamChain, ops::NotStartedWhy::Text, ops::kParamBlockAddress,
                           static_cast<uint32_t>(k));
        return false;
    }
    return WriteParamBlock(params, k, first, second);
}

bool WriteParamBlock(ops::OperationParams* params, int k, const char* first, const char* second) {
    if (RefuseIfBusy()) return false;
    // No worker runs here, so none reads the text buffers while they are filled.
    std::snprintf(ops::ParamFirstText, sizeof ops::ParamFirstText, "%s", first);
    std::snprintf(ops::ParamSecondText, sizeof ops::ParamSecondText, "%s", second);
    if (!TextsFitBlock(k)) {
        ops::EndNotStarted(ops::Activity::ParamChain, ops::NotStartedWhy::TextsTooLong, ops::kParamBlockAddress,
                           static_cast<uint32_t>(k));
        return false;
    }
    // The stop goes first; it reads nothing that the rest of this pass writes,
    // and its end is handled only after this pass.
    if (!StartTracked(ops::Activity::ParamChain, ops::StopWorker, nullptr, ops::kParamBlockAddress,
                      static_cast<uint32_t>(k))) {
        return false;
    }
    chainStep = ChainStep::Stop;
    params->Length = ops::kParamBlockSize;
    params->StartAddress = ops::kParamBlockAddress;
    ops::BuildParameterBlock(ops::ParamFirstText, ops::ParamSecondText, ops::TransferBuffer.data());
    return true;
}

bool ParamChainRuns() { return chainStep != ChainStep::None; }

void ParamChainStep(ops::OperationParams* params, bool stopAnswered) {
    switch (chainStep) {
        case ChainStep::None: return;
        case ChainStep::Stop: AfterStop(params, stopAnswered); return;
        case ChainStep::Erase: AfterErase(params); return;
        case ChainStep::Write: AfterWrite(); return;
    }
}

void ResetParamChain() { chainStep = ChainStep::None; }

}  // namespace shell
