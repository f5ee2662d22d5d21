// programmer.h - writes the firmware image into the device's flash over the
// boot-mode byte protocol.
#pragma once

#include <cstdint>

#include "firmware/image_loader.h"

namespace firmware {

struct BootBlock {
    uint32_t start;
    uint32_t size;
    uint8_t code;
};

// The device's flash blocks; rows 0 to 6 are erased and written, row 7 never.
constexpr BootBlock BootBlockTable[8] = {
    {0x3000, 0x400, 0x0A},  {0x3400, 0x400, 0x0B},  {0x3800, 0x400, 0x0C},  {0x3C00, 0x400, 0x0D},
    {0xA000, 0x2000, 0x03}, {0xC000, 0x2000, 0x02}, {0xE000, 0x1000, 0x01}, {0xF000, 0x1000, 0x00},
};
constexpr int kProgrammedRows = 7;
constexpr uint32_t kPageSize = 128;

// Boot-mode command bytes and replies.
constexpr uint8_t kBootErase = 'E';
constexpr uint8_t kBootWriteMode = 'W';
constexpr uint8_t kBootWriteModeReady = 0xAA;
constexpr uint8_t kBootProgramPage = 'U';
constexpr uint8_t kBootEnd = 0xFF;

// Fixed pauses the device needs, and the reply bound (polls of 10 ms).
constexpr uint32_t kEraseSettleMs = 400;
constexpr uint32_t kWriteModeSettleMs = 1000;
constexpr uint32_t kPageSettleMs = 10;
constexpr int kReplyPolls = 100;

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

// Status bytes with their error bit: above 0x80 with bit 0x20 (erase) or
// 0x10 (program) set.
constexpr uint8_t kEraseErrorBit = 0x20;
constexpr uint8_t kProgramErrorBit = 0x10;
bool StatusReportsError(uint8_t status, uint8_t errorBit);

// First address of the block holding a byte other than 0xFF, or -1.
int FirstUsedAddress(const Image& image, uint32_t start, uint32_t size);

int ProgramFirmwareImage(const Image& image);
uint32_t FirmwareUpdateWorker(void* unused);

}  // namespace firmware
