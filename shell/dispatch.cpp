// dispatch.cpp - routes the dialog's commands, private messages and timers to
// their handlers.
#include "shell/dispatch.h"

#include <cstdio>

#include "firmware/programmer.h"
#include "link/command_library.h"
#include "link/link_state.h"
#include "link/serial_session.h"
#include "operations/line_check.h"
#include "operations/pattern_sequence.h"
#include "operations/progress.h"
#include "operations/result.h"
#include "operations/stop_resume.h"
#include "operations/verify.h"
#include "platform/platform.h"
#include "shell/command_ids.h"
#include "shell/param_chain.h"
#include "shell/session_commands.h"
#include "shell/transfer_commands.h"
#include "shell/update_flow.h"
#include "shell/worker_slot.h"
#include "link/device_times.h"

namespace shell {

namespace {

constexpr const char* kDefaultTransferFile = "C:\\hew2\\work\\tq7300\\tmp.dat";

bool StartWhenIdle(ops::Activity activity, platform::ThreadRoutine routine) {
    return !RefuseIfBusy() && StartTracked(activity, routine, nullptr);
}

// The running check's port; the worker reads it until its end message.
ops::LineCheckParams lineCheck;

// A worker ended: reap it, then let a parameter-block chain take its next
// step; anything else has ended with its worker. Only the stop worker's
// message says something (whether the device answered).
void OnWorkerDone(ops::OperationParams* params, uintptr_t wParam) {
    const bool stopAnswered = wParam != ops::kStopUnanswered;
    const ops::Activity activity = ops::ReadProgress().activity;
    ReapWorker();
    if (ParamChainRuns()) {
        ParamChainStep(params, stopAnswered);
        return;
    }
    if (activity == ops::Activity::ApStop && !stopAnswered) ops::CloseProgress(ops::Outcome::NoAnswer);
    ops::CloseProgress(activity == ops::Activity::Sequence ? ops::Outcome::Stopped : ops::Outcome::Complete);
}

void OnSequenceStopped(ops::OperationParams* params) {
    wire::ClearLinkFlag(wire::kFlagStopSequence);
    OnWorkerDone(params, 0);  // the sequence's end carries nothing
}

}  // namespace

void OnInitDialog(ops::OperationParams*) {
    char port[16];
    std::snprintf(port, sizeof port, "%d", 1);
    platform::SetControlText(kIdPortEdit, port);
    platform::SetControlText(kIdFileEdit, kDefaultTransferFile);
    platform::SetControlText(kIdLengthEdit, "0");
    platform::SetControlText(kIdStartAddressEdit, "0");
}

bool OnCommand(ops::OperationParams* params, int id) {
    switch (id) {
        case kIdOpen: return OpenPort();
        case kIdClose: ClosePort(); return true;
        case kIdRecovery: return Recovery(params);
        case kIdFarmUpdate: return FarmUpdate();
        case kIdSequenceStart: return StartWhenIdle(ops::Activity::Sequence, ops::PatternSequenceWorker);
        case kIdSequenceStop: StopSequence(); return true;
        case kIdApStop: return StartWhenIdle(ops::Activity::ApStop, ops::StopWorker);
        case kIdApResume: return SendDirect(ops::kResumeRequest);
        case kIdRequest62: return SendDirect(ops::kRequest62);
        case kIdFlashWrite:
        case kIdFlashRead:
        case kIdFlashErase:
        case kIdFlashVerify: return FlashTransfer(params, id);
        case kIdFirmwareVerify: return FirmwareVerify(params);
        case kIdSetClock: return SetClock();
        case kIdReadClock: return SendDirect(wire::kClockQueryRequest);
        case kIdClearLog: platform::ClearLog(); return true;
        case kIdCheckLine: {
            char name[16];
            std::snprintf(name, sizeof name, "COM%d", wire::PortNumber);
            return CheckLine(name);
        }
        default:
            if (id >= kIdParamBlock0 && id <= kIdParamBlock3) return ParamBlock(params, id - kIdParamBlock0);
            return false;  // edits' notifications, Enter and Esc, and ids no control carries
    }
}

void StopSequence() { wire::SetLinkFlag(wire::kFlagStopSequence); }

bool AwaitApplication() { return StartWhenIdle(ops::Activity::AwaitApplication, ops::AwaitApplicationWorker); }

bool CheckLine(const char* portName) {
    // Refused first: a running check still reads its port.
    if (RefuseIfBusy()) return false;
    std::snprintf(lineCheck.port, sizeof lineCheck.port, "%s", portName);
    return StartTracked(ops::Activity::LineCheck, ops::LineCheckWorker, &lineCheck);
}

bool OnPrivateMessage(ops::OperationParams* params, uint32_t message, uintptr_t wParam, intptr_t) {
    switch (message) {
        case wire::UM_SEQUENCE_STOPPED: OnSequenceStopped(params); return true;
        case wire::UM_WORKER_DONE: OnWorkerDone(params, wParam); return true;
        case wire::UM_RESPONSE_ARRIVED: OnResponseArrived(params, wParam); return true;
        case wire::UM_PORT_LOST: OnPortLost(); return true;
        default: return false;
    }
}

void OnTimer(int id) {
    if (id == kVerdictTimer) OnVerdictTimer();
}

bool EndWritePass() {
    if (!firmware::WritePassRuns()) return false;
    wire::SetLinkFlag(wire::kFlagEndWritePass);
    return true;
}

void OnClose() {
    if (EndWritePass()) AwaitWorker(wire::kWritePassEndMs);
    wire::StopReceiver();
}

}  // namespace shell
