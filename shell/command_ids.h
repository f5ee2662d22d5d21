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
    kIdFlashWrite = 203,
    kIdFlashRead = 204,
    kIdFlashErase = 205,
    kIdSetClock = 206,
    kIdReadClock = 207,
    kIdClearLog = 208,
    kIdFlashVerify = 209,     // read the range back and compare it with the file
    kIdFirmwareVerify = 210,  // compare the firmware's pages with the unit's flash
    kIdBrowseOpen = 211,      // "open...": the system's Open dialog for the file edit (write, erase, verify)
    kIdFirmwareEdit = 212,    // the firmware file that "farm udt", "recovery" and "verify firmware" load
    kIdFirmwareBrowse = 213,  // "...": the system's Open dialog for the firmware edit
    kIdBrowseSave = 214,      // "save...": the system's Save dialog for the file edit (read)
    kIdPortList = 215,        // the ports the system has; choosing one fills the port edit
    kIdCheckLine = 216,       // "check line": the line check on the open session
    kIdParamBlock0 = 300,     // 300 + k writes parameter block k, k = 0 to 3
    kIdParamBlock3 = 303,
    kIdParamFirstText0 = 304,   // 304 + k: first text of block k
    kIdParamSecondText0 = 308,  // 308 + k: second text of block k
    kIdProgressBar = 400,       // the status strip below the log
    kIdStatusText = 401,
};

constexpr int kParamBlocks = 4;

// The system-menu command that shows and hides the service panel (the low
// four bits of a WM_SYSCOMMAND's wParam belong to the system).
constexpr unsigned kSysCmdServicePanel = 0x0100;
constexpr unsigned kSysCmdSaveLog = 0x0110;
constexpr unsigned kSysCmdRecordSession = 0x0120;
constexpr unsigned kSysCmdAbout = 0x0130;

// Dialog timers.
constexpr int kVerdictTimer = 1;
constexpr int kStatusTimer = 2;    // the status strip follows a running operation
constexpr int kLogPaintTimer = 3;  // the log repaints once after a burst of lines

}  // namespace shell
