// param_block.h - the 256-byte parameter block made of two texts, as the
// device reads it at 0xE200.
#pragma once

#include <cstdint>

namespace ops {

constexpr uint32_t kParamBlockAddress = 0xE200;
constexpr uint32_t kParamBlockSize = 256;
constexpr int kParamTextSize = 256;  // each text buffer, terminating NUL included

// The two texts of the last parameter-block command, as read from its edits.
extern char ParamFirstText[kParamTextSize];
extern char ParamSecondText[kParamTextSize];

// Lays out 00, the second text's offset (low 8 bits of L1 + 3), the first
// text and its NUL, the second text and its NUL, zeros to the end, into
// block (256 bytes). What does not fit is cut at byte 256. Returns the bytes
// the layout needs (4 + L1 + L2); above 256 the block was cut.
uint32_t BuildParameterBlock(const char* first, const char* second, uint8_t* block);
// The bytes the block made of the two texts needs (4 + L1 + L2); a block
// needing more than kParamBlockSize cannot hold them and is not sent.
uint32_t ParameterBlockBytes(const char* first, const char* second);

}  // namespace ops
