// dispatch.cpp - command routing, the worker slot and the firmware verdict.
#include "shell/dispatch.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "firmware/firmware_verify.h"
#include "firmware/image_loader.h"
#include "firmware/programmer.h"
#include "link/command_library.h"
#include "link/frame.h"
#include "link/receiver.h"
#include "link/serial_session.h"
#include "operations/device_clock.h"
#include "operations/pattern_sequence.h"
#include "operations/progress.h"
#include "operations/stop_resume.h"
#include "operations/verify.h"
#include "shell/command_ids.h"
#include "shell/service_commands.h"

namespace shell {

namespace {

platform::ThreadHandle workerThread = nullptr;  // the one worker slot
platform::ThreadRoutine workerRoutine = nullptr;
bool awaitingVerdict = false;  // "farm udt" sent its model request

constexpr const char* kDefaultTransferFile = "C:\\hew2\\work\\tq7300\\tmp.dat";
constexpr const char* kOpenFailedText = "COMがオープンできません";
constexpr const char* kNoModelText = "ﾌｧｰﾑﾌｧｲﾙに、機種情報がありません";
constexpr const char* kModelMismatchText = "機種が適合しません";

bool ProgrammingRuns() { return WorkerRunning() && workerRoutine == firmware::FirmwareUpdateWorker; }

void DirectSend(uint8_t command) {
    if (RefuseIfBusy()) return;
    if (!wire::SendEmptyRequest(command, true)) RefuseBusy("busy: request not sent");
}

void SetClock() {
    if (RefuseIfBusy()) return;
    if (!ops::SetDeviceClock()) RefuseBusy("busy: request not sent");
}

void Close() {
    wire::StopReceiver();
    platform::EnableControl(kIdPortEdit, true);
}

void Open() {
    char text[kTextLimit];
    platform::ReadControlText(kIdPortEdit, text, kTextLimit);
    // A session whose port went away has ended by itself: its receiver is
    // reaped here, so that "open" works again without a restart.
    if (wire::SessionOpen() && wire::PortLost()) Close();
    if (wire::SessionOpen()) {
        // The running session keeps its port; the number typed now is not taken.
        Refuse("COM port already open: close it first");
        return;
    }
    wire::PortNumber = std::atoi(text);
    const int opened = wire::StartReceiver();
    if (opened == wire::kSetupFailed) {
        // The system's message is in the PC's own language, so the box is
        // UTF-8; the first line is the console's own text for a failed open.
        char box[600];
        std::snprintf(box, sizeof box,
                      u8"COMがオープンできません\n\n%s\n\nThe port is closed again. Check the adapter's driver "
                      "(Device Manager), or try another port.",
                      wire::SetupFailureText());
        platform::WarningBoxUtf8(box);
        return;
    }
    if (opened != 0) {
        platform::WarningBox(kOpenFailedText);
        return;
    }
    platform::EnableControl(kIdPortEdit, false);
}

// A record with a wrong checksum, a character that is not a hexadecimal
// digit, or fewer characters than its byte count would be programmed as
// read; the engineer decides, and nothing is sent unless the answer is Yes.
bool DamagedFileDeclined() {
    const firmware::RecordDamage damage = firmware::FirstDamage;
    if (damage.line == 0) return false;
    char text[256];
    std::snprintf(text, sizeof text, "The firmware file is damaged at line %d: %s.\n\nProgram it anyway?",
                  damage.line, firmware::RecordFaultText(damage.fault));
    return !platform::AskYesNo(text);
}

void Recovery(ops::OperationParams* params) {
    // Checked before loading: the image must not change under a running programmer.
    if (RefuseIfBusy()) return;
    firmware::LoadFirmwareImage();
    if (DamagedFileDeclined()) {
        ops::EndNotStarted(ops::Activity::Recovery, ops::NotStartedWhy::None);
        return;
    }
    StartTracked(ops::Activity::Recovery, firmware::FirmwareUpdateWorker, params);
}

void FarmUpdate() {
    if (RefuseIfBusy()) return;
    const int model = firmware::LoadFirmwareImage();
    if (model == firmware::kModelNone) {
        platform::LogLine(kNoModelText);
        ops::EndNotStarted(ops::Activity::Update, firmware::FirmwareImageRead() ? ops::NotStartedWhy::NoModel
                                                                                : ops::NotStartedWhy::FirmwareFile);
        return;
    }
    if (DamagedFileDeclined()) {
        ops::EndNotStarted(ops::Activity::Update, ops::NotStartedWhy::None);
        return;
    }
    ops::OpenProgress(ops::Activity::Update);
    ops::SetStage(ops::Stage::Verdict);
    wire::NotifyOnResponse.param.store(0);
    wire::NotifyOnResponse.value.store(1);
    awaitingVerdict = true;
    platform::StartTimer(kVerdictTimer, kVerdictWaitMs);
    wire::SendEmptyRequest(static_cast<uint8_t>(model), true);
}

// Loaded as "recovery" loads it; a file that cannot be read gets the
// loader's box and nothing is sent.
void FirmwareVerify(ops::OperationParams* params) {
    if (RefuseIfBusy()) return;
    firmware::LoadFirmwareImage();
    if (!firmware::FirmwareImageRead()) {
        ops::EndNotStarted(ops::Activity::FirmwareVerify, ops::NotStartedWhy::FirmwareFile);
        return;
    }
    StartTracked(ops::Activity::FirmwareVerify, firmware::FirmwareVerifyWorker, params);
}

void ReapWorker() {
    if (workerThread == nullptr) return;
    wire::AwaitThreadEnd(workerThread);
    workerThread = nullptr;
    workerRoutine = nullptr;
}

// A worker ended: reap it, then let a parameter-block chain take its next
// step; anything else has ended with its worker.
void WorkerEnded(ops::OperationParams* params, uintptr_t outcome) {
    const ops::Activity activity = ops::ReadProgress().activity;
    ReapWorker();
    if (ParamSequenceMode != 0) {
        ParamChainStep(params, outcome);
        return;
    }
    if (activity == ops::Activity::ApStop && outcome == 0) ops::CloseProgress(ops::Outcome::NoAnswer);
    ops::CloseProgress(activity == ops::Activity::Sequence ? ops::Outcome::Stopped : ops::Outcome::Complete);
}

void StartWhenIdle(ops::Activity activity, platform::ThreadRoutine routine) {
    if (!RefuseIfBusy()) StartTracked(activity, routine, nullptr);
}

void OnModelVerdict(ops::OperationParams* params) {
    platform::StopTimer(kVerdictTimer);
    awaitingVerdict = false;
    if (wire::ResponseStatus() == wire::kStatusAccepted) {
        ops::SetStep(1);
        if (!StartWorker(firmware::FirmwareUpdateWorker, params)) ops::CloseProgress(ops::Outcome::NotStarted);
    } else {
        platform::LogLine(kModelMismatchText);
        ops::CloseProgress(ops::Outcome::Refused);
    }
}

}  // namespace

void Refuse(const char* why) {
    platform::Beep();
    platform::LogLine(why);
}

void RefuseBusy(const char* why) {
    Refuse(why);
    ops::NoteRefusal(ops::NotStartedWhy::Busy);
}

// Two workers share the request buffers and the handshake; and a frame sent
// beside a worker would have its answer taken for the one the worker waits
// for (during programming it would also break the boot protocol). So while a
// worker runs, or the model verdict is awaited, commands that start a worker
// or send a frame are refused.
bool RefuseIfBusy() {
    if (awaitingVerdict) {
        RefuseBusy("busy: waiting for the device's answer to the model request");
        return true;
    }
    if (WorkerRunning()) {
        RefuseBusy(ProgrammingRuns() ? "busy: firmware programming runs" : "busy: another operation runs");
        return true;
    }
    return false;
}

bool WorkerRunning() { return workerThread != nullptr && platform::ThreadRunning(workerThread); }

// Only the worker's own message empties the slot (ReapWorker). A worker that has
// ended while its message is still queued keeps it: were a new worker started in
// that moment, the old message, handled next, would be taken for the new worker's:
// the dialog would wait for the new one to end (blocked for up to 10 s) and then
// empty the slot under it, so that a third worker could start beside it.
bool StartWorker(platform::ThreadRoutine routine, void* param) {
    if (workerThread != nullptr) {
        RefuseBusy("busy: another operation runs");
        return false;
    }
    workerThread = platform::StartThread(routine, param);
    workerRoutine = workerThread != nullptr ? routine : nullptr;
    return workerThread != nullptr;
}

bool StartTracked(ops::Activity activity, platform::ThreadRoutine routine, void* param,
                  uint32_t address, uint32_t block) {
    // The slot, not only a running thread: an ended worker whose message is
    // still queued owns the board until that message closes its operation.
    if (workerThread != nullptr) {
        RefuseBusy("busy: another operation runs");
        return false;
    }
    ops::OpenProgress(activity, address, block);
    if (StartWorker(routine, param)) return true;
    ops::CloseProgress(ops::Outcome::NotStarted);
    return false;
}

void ParseNumberText(const char* text, uint32_t& field) {
    const size_t n = std::strlen(text);
    if (n != 0 && text[n - 1] == 'h') {
        char hex[kTextLimit];
        const size_t keep = n - 1 < sizeof hex - 1 ? n - 1 : sizeof hex - 1;
        std::memcpy(hex, text, keep);
        hex[keep] = '\0';
        unsigned long value = 0;
        if (std::sscanf(hex, "%lx", &value) == 1) field = static_cast<uint32_t>(value);
        return;
    }
    field = static_cast<uint32_t>(std::strtol(text, nullptr, 10));
}

void OnInitDialog(ops::OperationParams*) {
    char port[16];
    std::snprintf(port, sizeof port, "%d", 1);
    platform::SetControlText(kIdPortEdit, port);
    platform::SetControlText(kIdFileEdit, kDefaultTransferFile);
    platform::SetControlText(kIdLengthEdit, "0");
    platform::SetControlText(kIdStartAddressEdit, "0");
}

void OnCommand(ops::OperationParams* params, int id) {
    switch (id) {
        case kIdOpen: Open(); break;
        case kIdClose: Close(); break;
        case kIdRecovery: Recovery(params); break;
        case kIdFarmUpdate: FarmUpdate(); break;
        case kIdSequenceStart: StartWhenIdle(ops::Activity::Sequence, ops::PatternSequenceWorker); break;
        case kIdSequenceStop: wire::SetLinkFlag(wire::kFlagStopSequence); break;
        case kIdApStop: StartWhenIdle(ops::Activity::ApStop, ops::StopWorker); break;
        case kIdApResume: DirectSend(ops::kResumeRequest); break;
        case kIdRequest62: DirectSend(ops::kRequest62); break;
        case kIdFlashWrite:
        case kIdFlashRead:
        case kIdFlashErase:
        case kIdFlashVerify: FlashTransfer(params, id); break;
        case kIdFirmwareVerify: FirmwareVerify(params); break;
        case kIdAwaitApplication: StartWhenIdle(ops::Activity::AwaitApplication, ops::AwaitApplicationWorker); break;
        case kIdSetClock: SetClock(); break;
        case kIdReadClock: DirectSend(wire::kClockQueryRequest); break;
        case kIdClearLog: platform::ClearLog(); break;
        default:
            if (id >= kIdParamBlock0 && id <= kIdParamBlock3) ParamBlock(params, id - kIdParamBlock0);
            break;  // edits' notifications, Enter and Esc
    }
}

bool OnPrivateMessage(ops::OperationParams* params, uint32_t message, uintptr_t wParam,
                      intptr_t) {
    switch (message) {
        case wire::UM_SEQUENCE_STOPPED:
            wire::ClearLinkFlag(wire::kFlagStopSequence);
            WorkerEnded(params, 0);
            return true;
        case wire::UM_WORKER_DONE:
            WorkerEnded(params, wParam);
            return true;
        case wire::UM_RESPONSE_ARRIVED:
            if ((wParam & 0xFFFF) == 1) OnModelVerdict(params);
            return true;
        case wire::UM_PORT_LOST:
            if (wire::SessionOpen() && wire::PortLost()) Close();
            return true;
        default:
            return false;
    }
}

void OnTimer(int id) {
    if (id != kVerdictTimer) return;
    platform::StopTimer(kVerdictTimer);
    // Whoever takes the armed value acts: the receiver (the verdict is on its
    // way as UM_RESPONSE_ARRIVED) or this time-out.
    if (wire::NotifyOnResponse.value.exchange(0) != 0) {
        awaitingVerdict = false;
        platform::LogLine("no answer to the model request: update not started");
        ops::CloseProgress(ops::Outcome::NoAnswer);
    }
}

void OnClose() { wire::StopReceiver(); }

}  // namespace shell
