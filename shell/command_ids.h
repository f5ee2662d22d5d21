// command_ids.h - control and command identifiers of the main window.
#pragma once

namespace shell {

enum ControlId : int {
    kIdLog = 100,
    kIdOpen = 101,
    kIdClose = 102,
    kIdPortEdit = 103,
    kIdRecovery = 105,
    kIdFarmUpdate = 106,
    kIdSequenceStart = 108,
    kIdSequenceStop = 109,
    kIdApStop = 110,
    kIdApResume = 111,
    kIdRequest62 = 112,
    kIdStartAddressEdit = 200,
    kIdLengthEdit = 201,
    kIdFileEdit = 202,
    kIdSetClock = 206,
    kIdReadClock = 207,
    kIdClearLog = 208,
};

// Dialog timers.
constexpr int kVerdictTimer = 1;

}  // namespace shell
