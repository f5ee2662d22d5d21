// stop_resume.cpp - the stop worker: wake byte, pause, request 0x60, answer poll.
#include "operations/stop_resume.h"

#include "link/command_library.h"
#include "link/frame.h"
#include "link/receiver.h"
#include "link/serial_session.h"
#include "operations/progress.h"
#include "operations/result.h"
#include "link/device_times.h"

namespace ops {

bool StopAttempt() {
    const uint8_t wake = kWakeByte;
    wire::WriteRaw(&wake, 1);
    platform::PauseMs(wire::kWakePauseMs);
    wire::ArmResponse();
    wire::SendEmptyRequest(kStopRequest, false);
    return wire::AwaitAnswer(wire::kStopAnswerBoundMs) == wire::AnswerWait::Arrived;
}

uint32_t StopWorker(void*) {
    bool answered = false;
    for (int attempt = 0; attempt < kStopAttempts && !answered; ++attempt) {
        ReportUnits(static_cast<uint32_t>(attempt + 1), kStopAttempts);
        answered = StopAttempt();
    }
    // An answer that refuses the stop is an answer all the same (the chain
    // of a parameter block goes on), but the operation did not succeed.
    if (answered && !wire::AnswerFrameSound()) {
        ReportFailure(Outcome::DamagedAnswer, 0);
    } else if (answered && wire::ResponseStatus() != wire::kStatusAccepted) {
        ReportFailure(Outcome::Refused, 0);
    }
    platform::PostToDialog(wire::UM_WORKER_DONE, answered ? kStopAnswered : kStopUnanswered, 0);
    return 0;
}

}  // namespace ops
