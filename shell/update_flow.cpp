// update_flow.cpp - the firmware commands and the wait for the model verdict.
#include "shell/update_flow.h"

#include <cstdio>

#include "firmware/firmware_verify.h"
#include "firmware/image_loader.h"
#include "firmware/programmer.h"
#include "link/frame.h"
#include "link/link_state.h"
#include "operations/progress.h"
#include "operations/result.h"
#include "platform/platform.h"
#include "shell/command_ids.h"
#include "shell/worker_slot.h"
#include "link/device_times.h"

namespace shell {

namespace {

constexpr const char* kNoModelText = "ﾌｧｰﾑﾌｧｲﾙに、機種情報がありません";
constexpr const char* kModelMismatchText = "機種が適合しません";
constexpr const char* kAwaitingVerdictWhy = "busy: waiting for the device's answer to the model request";
// The notice value the model request arms: its answer comes back as
// UM_RESPONSE_ARRIVED with it.
constexpr uint32_t kModelVerdictNotice = 1;

// A record with a wrong checksum, a character that is not a hexadecimal
// digit, or fewer characters than its byte count would be programmed as
// read; the engineer decides, and nothing is sent unless the answer is Yes.
bool DamagedFileDeclined() {
    const firmware::RecordDamage damage = firmware::FirstDamage;
    if (damage.line == 0) return false;
    char text[256];
    std::snprintf(text, sizeof text, "The firmware file is damaged at line %d: %s.\n\nProgram it anyway?", damage.line,
                  firmware::RecordFaultText(damage.fault));
    return !platform::AskYesNo(text);
}

}  // namespace

bool Recovery(ops::OperationParams* params) {
    // Checked before loading: the image must not change under a running programmer.
    if (RefuseIfBusy()) return false;
    firmware::LoadFirmwareImage();
    if (DamagedFileDeclined()) {
        ops::EndNotStarted(ops::Activity::Recovery, ops::NotStartedWhy::None);
        return false;
    }
    return StartTracked(ops::Activity::Recovery, firmware::FirmwareUpdateWorker, params);
}

bool FarmUpdate() {
    if (RefuseIfBusy()) return false;
    const int model = firmware::LoadFirmwareImage();
    if (model == firmware::kModelNone) {
        platform::LogLine(kNoModelText);
        ops::EndNotStarted(ops::Activity::Update, firmware::FirmwareImageRead() ? ops::NotStartedWhy::NoModel
                                                                                : ops::NotStartedWhy::FirmwareFile);
        return false;
    }
    if (DamagedFileDeclined()) {
        ops::EndNotStarted(ops::Activity::Update, ops::NotStartedWhy::None);
        return false;
    }
    ops::OpenProgress(ops::Activity::Update);
    ops::SetStage(ops::Stage::Verdict);
    wire::NotifyOnResponse.param.store(0);
    wire::NotifyOnResponse.value.store(kModelVerdictNotice);
    HoldSlot(kAwaitingVerdictWhy);
    platform::StartTimer(kVerdictTimer, wire::kVerdictWaitMs);
    wire::SendEmptyRequest(static_cast<uint8_t>(model), true);
    return true;
}

// Loaded as "recovery" loads it; a file that cannot be read gets the
// loader's box and nothing is sent.
bool FirmwareVerify(ops::OperationParams* params) {
    if (RefuseIfBusy()) return false;
    firmware::LoadFirmwareImage();
    if (!firmware::FirmwareImageRead()) {
        ops::EndNotStarted(ops::Activity::FirmwareVerify, ops::NotStartedWhy::FirmwareFile);
        return false;
    }
    return StartTracked(ops::Activity::FirmwareVerify, firmware::FirmwareVerifyWorker, params);
}

void OnResponseArrived(ops::OperationParams* params, uintptr_t notice) {
    if ((notice & 0xFFFF) != kModelVerdictNotice) return;
    platform::StopTimer(kVerdictTimer);
    ReleaseSlot();
    if (wire::ResponseStatus() == wire::kStatusAccepted) {
        ops::SetStep(1);
        if (!StartWorker(firmware::FirmwareUpdateWorker, params)) ops::CloseProgress(ops::Outcome::NotStarted);
    } else {
        platform::LogLine(kModelMismatchText);
        ops::CloseProgress(ops::Outcome::Refused);
    }
}

void OnVerdictTimer() {
    platform::StopTimer(kVerdictTimer);
    // Whoever takes the armed value acts: the receiver (the verdict is on its
    // way as UM_RESPONSE_ARRIVED) or this time-out.
    if (wire::NotifyOnResponse.value.exchange(0) != 0) {
        ReleaseSlot();
        platform::LogLine("no answer to the model request: update not started");
        ops::CloseProgress(ops::Outcome::NoAnswer);
    }
}

}  // namespace shell
