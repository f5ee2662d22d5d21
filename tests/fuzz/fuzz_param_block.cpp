// fuzz_param_block.cpp - ops::BuildParameterBlock of two texts of any bytes,
// against the layout written out plainly: 00, the second text's offset (low
// 8 bits of L1 + 3), the first text and its NUL, the second text and its NUL,
// zeros, everything past byte 256 cut off; the result 4 + L1 + L2.
//
// Input: byte 0 splits the rest into the two texts. Each text ends at its
// first NUL; a text of 255 bytes or more is given as 255 bytes without a NUL,
// as an edit's full buffer can hold it. Each text and the block sit on the
// heap at exactly their size, so a read or write past them is caught.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "operations/param_block.h"

namespace {

constexpr size_t kMaxText = ops::kParamTextSize - 1;

// The text as the buffer holds it: up to its NUL, at most 255 bytes; the heap
// copy has its NUL only when it is shorter than that.
std::unique_ptr<char[]> HeapText(const uint8_t* data, size_t size, size_t& length) {
    length = std::min(strnlen(reinterpret_cast<const char*>(data), size), kMaxText);
    const size_t bytes = length < kMaxText ? length + 1 : kMaxText;
    std::unique_ptr<char[]> text(new char[bytes]);
    std::memcpy(text.get(), data, length);
    if (length < kMaxText) text[length] = '\0';
    return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const size_t split = std::min<size_t>(data[0], size - 1);
    size_t l1 = 0;
    size_t l2 = 0;
    auto first = HeapText(data + 1, split, l1);
    auto second = HeapText(data + 1 + split, size - 1 - split, l2);

    std::unique_ptr<uint8_t[]> block(new uint8_t[ops::kParamBlockSize]);
    std::memset(block.get(), 0xEE, ops::kParamBlockSize);
    const uint32_t needed = ops::BuildParameterBlock(first.get(), second.get(), block.get());

    std::vector<uint8_t> layout;
    layout.push_back(0);
    layout.push_back(static_cast<uint8_t>(l1 + 3));
    layout.insert(layout.end(), data + 1, data + 1 + l1);
    layout.push_back(0);
    layout.insert(layout.end(), data + 1 + split, data + 1 + split + l2);
    layout.push_back(0);
    const uint32_t wantNeeded = static_cast<uint32_t>(layout.size());
    layout.resize(ops::kParamBlockSize, 0);

    if (needed != wantNeeded || std::memcmp(block.get(), layout.data(), ops::kParamBlockSize) != 0) {
        std::fprintf(stderr, "==fuzz== texts of %zu and %zu bytes: needed %u (expected %u) or layout differs\n", l1, l2,
                     needed, wantNeeded);
        std::abort();
    }
    return 0;
}
