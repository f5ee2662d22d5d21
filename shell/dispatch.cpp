// dispatch.cpp - command routing, the worker slot and the firmware verdict.
#include "shell/dispatch.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "firmware/image_loader.h"
#include "firmware/programmer.h"
#include "link/frame.h"
#include "link/receiver.h"
#include "link/serial_session.h"
#include "operations/stop_resume.h"
#include "shell/command_ids.h"

namespace shell {

namespace {

platform::ThreadHandle workerThread = nullptr;  // the one worker slot
platform::ThreadRoutine workerRoutine = nullptr;
bool awaitingVerdict = false;  // "farm udt" sent its model request

constexpr const char* kDefaultTransferFile = "C:\\hew2\\work\\tq7300\\tmp.dat";
constexpr const char* kOpenFailedText = "COMがオープンできません";
constexpr const char* kNoModelText = "ﾌｧｰﾑﾌｧｲﾙに、機種情報がありません";
constexpr const char* kModelMismatchText = "機種が適合しません";
constexpr uint8_t kClockQueryRequest = 0x21;

void Refuse(const char* why) {
    platform::Beep();
    platform::LogLine(why);
}

bool ProgrammingRuns() { return WorkerRunning() && workerRoutine == firmware::FirmwareUpdateWorker; }

// Direct sends are held back while the model verdict is awaited (their
// answer would be taken for the verdict) and while the boot programmer owns
// the line (an application frame would break its protocol). Beside any other
// worker they are fine: the transmitter keeps the frames apart.
bool LineBusy() {
    if (awaitingVerdict) {
        Refuse("busy: waiting for the device's answer to the model request");
        return true;
    }
    if (ProgrammingRuns()) {
        Refuse("busy: firmware programming runs");
        return true;
    }
    return false;
}

// Commands that start a worker also wait for any worker to end: two workers
// share the request buffers and the handshake.
bool WorkerBusy() {
    if (LineBusy()) return true;
    if (WorkerRunning()) {
        Refuse("busy: another operation runs");
        return true;
    }
    return false;
}

void DirectSend(uint8_t command) {
    if (LineBusy()) return;
    if (!wire::SendEmptyRequest(command, true)) Refuse("busy: request not sent");
}

void Open() {
    char text[kTextLimit];
    platform::ReadControlText(kIdPortEdit, text, kTextLimit);
    if (wire::SessionOpen()) {
        // The running session keeps its port; the number typed now is not taken.
        Refuse("COM port already open: close it first");
        return;
    }
    wire::PortNumber = std::atoi(text);
    if (wire::StartReceiver() != 0) {
        platform::WarningBox(kOpenFailedText);
        return;
    }
    platform::EnableControl(kIdPortEdit, false);
}

void Close() {
    wire::StopReceiver();
    platform::EnableControl(kIdPortEdit, true);
}

void Recovery(ops::OperationParams* params) {
    // Checked before loading: the image must not change under a running programmer.
    if (WorkerBusy()) return;
    firmware::LoadFirmwareImage();
    StartWorker(firmware::FirmwareUpdateWorker, params);
}

void FarmUpdate() {
    if (WorkerBusy()) return;
    const int model = firmware::LoadFirmwareImage();
    if (model == firmware::kModelNone) {
        platform::LogLine(kNoModelText);
        return;
    }
    wire::NotifyOnResponse.param.store(0);
    wire::NotifyOnResponse.value.store(1);
    awaitingVerdict = true;
    platform::StartTimer(kVerdictTimer, kVerdictWaitMs);
    wire::SendEmptyRequest(static_cast<uint8_t>(model), true);
}

void ReapWorker() {
    if (workerThread == nullptr) return;
    wire::AwaitThreadEnd(workerThread);
    workerThread = nullptr;
    workerRoutine = nullptr;
}

void OnModelVerdict(ops::OperationParams* params) {
    platform::StopTimer(kVerdictTimer);
    awaitingVerdict = false;
    if (wire::ResponseStatus() == wire::kStatusAccepted) {
        StartWorker(firmware::FirmwareUpdateWorker, params);
    } else {
        platform::LogLine(kModelMismatchText);
    }
}

}  // namespace

bool WorkerRunning() { return workerThread != nullptr && platform::ThreadRunning(workerThread); }

bool StartWorker(platform::ThreadRoutine routine, void* param) {
    if (WorkerRunning()) {
        Refuse("busy: another operation runs");
        return false;
    }
    ReapWorker();  // a worker that ended before its message was handled
    workerThread = platform::StartThread(routine, param);
    workerRoutine = workerThread != nullptr ? routine : nullptr;
    return workerThread != nullptr;
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
        case kIdApStop:
            if (!WorkerBusy()) StartWorker(ops::StopWorker, nullptr);
            break;
        case kIdApResume: DirectSend(ops::kResumeRequest); break;
        case kIdRequest62: DirectSend(ops::kRequest62); break;
        case kIdReadClock: DirectSend(kClockQueryRequest); break;
        case kIdClearLog: platform::ClearLog(); break;
        default: break;  // edits' notifications, Enter and Esc, later operations
    }
}

bool OnPrivateMessage(ops::OperationParams* params, uint32_t message, uintptr_t wParam,
                      intptr_t) {
    switch (message) {
        case wire::UM_SEQUENCE_STOPPED:
            wire::ClearLinkFlag(wire::kFlagStopSequence);
            ReapWorker();
            return true;
        case wire::UM_WORKER_DONE:
            ReapWorker();
            return true;
        case wire::UM_RESPONSE_ARRIVED:
            if ((wParam & 0xFFFF) == 1) OnModelVerdict(params);
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
    }
}

void OnClose() { wire::StopReceiver(); }

}  // namespace shell
