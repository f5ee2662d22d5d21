// param_block.cpp - the parameter block layout.
#include "operations/param_block.h"

#include <cstring>

namespace ops {

char ParamFirstText[kParamTextSize] = {};
char ParamSecondText[kParamTextSize] = {};

namespace {

// The text from offset `at` of the zeroed block, which supplies its NUL;
// nothing lands at or past the end.
void PutCut(uint8_t* block, uint32_t at, const char* text, uint32_t length) {
    if (at >= kParamBlockSize) return;
    const uint32_t fits = kParamBlockSize - at;
    std::memcpy(block + at, text, length < fits ? length : fits);
}

// A text buffer holds at most 255 characters; never read past that.
uint32_t TextLength(const char* text) {
    uint32_t n = 0;
    while (n < kParamTextSize - 1 && text[n] != '\0') ++n;
    return n;
}

}  // namespace

uint32_t ParameterBlockBytes(const char* first, const char* second) {
    return 4 + TextLength(first) + TextLength(second);
}

uint32_t BuildParameterBlock(const char* first, const char* second, uint8_t* block) {
    const uint32_t l1 = TextLength(first);
    const uint32_t l2 = TextLength(second);
    std::memset(block, 0, kParamBlockSize);
    block[1] = static_cast<uint8_t>(l1 + 3);
    PutCut(block, 2, first, l1);
    PutCut(block, l1 + 3, second, l2);
    return ParameterBlockBytes(first, second);
}

}  // namespace ops
