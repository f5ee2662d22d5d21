// programmer.h - writes the firmware image into the device's flash over the
// boot-mode byte protocol.
#pragma once

#include <cstdint>

#include "firmware/boot_blocks.h"
#include "firmware/image_loader.h"
#include "link/device_times.h"

namespace firmware {

// Boot-mode command bytes and replies.
constexpr uint8_t kBootErase = 'E';
constexpr uint8_t kBootWriteMode = 'W';
constexpr uint8_t kBootWriteModeReady = 0xAA;
constexpr uint8_t kBootProgramPage = 'U';
constexpr uint8_t kBootEnd = 0xFF;

enum ProgramResult : int {
    kProgramOk = 0,
    kNoEraseReply = 1,
    kNoWriteModeReply = 2,
    kBadWriteModeReply = 3,
    kNoAddressReply = 4,
    kBadAddressEcho = 5,
    kNoDataReply = 6,
    kBadDataEcho = 7,
    kNoProgramReply = 8,
    // Every step was answered, but a status byte said that a block was not
    // erased (bit 0x20) or a page not programmed (bit 0x10): the unit does
    // not hold the image although the run went to its end.
    kDeviceReportedFailure = 9,
    // The write pass was asked to end early (the program had to close): it
    // stopped before a page and sent the closing byte; the pages from there
    // on were not written.
    kWritePassEnded = 10,
};

// What a result code means, in a few words for the operator ("no reply to a
// block erase"); "unknown result" beyond the table.
const char* ProgramResultMeaning(int result);
// Whether the device was left in boot mode by a run with this result: the
// closing byte that returns it to its application goes out only after a
// write pass (results 0 and 4 to 10).
bool ProgramResultLeavesBootMode(int result);

// Where a run leaves the unit, and so what brings it back. The closing byte
// that follows a failed page step falls into the boot loader's page (it is
// taken as an address or data byte), so that only a restart reaches it again.
enum class UnitLeft : uint8_t {
    Application,    // complete: the closing byte returned it
    Unknown,        // nothing answered in boot mode: boot loader or application
    WriteModeOpen,  // "W" went out unanswered or wrongly answered: restart into the boot loader
    MidPage,        // a page step failed: restart into the boot loader, then recover
    PartlyWritten,  // back in its application with its flash partly written
};
// anyReply: whether the unit answered any boot step of the run.
UnitLeft UnitLeftAfter(int result, bool anyReply);
// Whether the unit answered any boot step of the last run.
bool LastRunAnswered();
// Whether a write pass runs: "W" has gone out and the closing byte has not.
// Every byte the unit gets then is part of a page, so a pass cut off leaves
// it where no command reaches it.
bool WritePassRuns();

// Status bytes with their error bit: above 0x80 with bit 0x20 (erase) or
// 0x10 (program) set.
constexpr uint8_t kEraseErrorBit = 0x20;
constexpr uint8_t kProgramErrorBit = 0x10;
bool StatusReportsError(uint8_t status, uint8_t errorBit);

// First address of the block holding a byte other than 0xFF, or -1.
int FirstUsedAddress(const Image& image, uint32_t start, uint32_t size);
// The pages an update of image writes: those of rows 0 to 6 that hold a byte
// other than 0xFF.
uint32_t CountPagesToProgram(const Image& image);

int ProgramFirmwareImage(const Image& image);
uint32_t FirmwareUpdateWorker(void* unused);

}  // namespace firmware
