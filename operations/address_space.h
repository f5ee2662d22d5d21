// address_space.h - the device's 24-bit addresses, and the one rule about
// their top.
#pragma once

#include <cstdint>

namespace ops {

// The request frames carry 24-bit addresses; the workers count modulo 2^24.
constexpr uint32_t kAddressMask = 0xFFFFFF;

// A write or an erase of length bytes at start that ran past 0xFFFFFF would
// go on at 0x000000 and destroy the start of flash: every front end refuses
// it before anything is sent. (A read or a verify keeps the arithmetic: it
// changes nothing on the unit.)
constexpr bool RunsPastTopOfAddressSpace(uint64_t start, uint64_t length) {
    return start + length > kAddressMask + 1ull;
}

}  // namespace ops
