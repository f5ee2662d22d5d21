// boot_blocks.h - the device's flash blocks as its boot loader names them, and
// which of them an update programs.
#pragma once

#include <cstdint>

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

// Whether an update writes the byte at address (it lies in rows 0 to 6).
constexpr bool InProgrammedBlock(uint32_t address) {
    for (int row = 0; row < kProgrammedRows; ++row) {
        const BootBlock& b = BootBlockTable[row];
        if (address >= b.start && address < b.start + b.size) return true;
    }
    return false;
}

}  // namespace firmware
