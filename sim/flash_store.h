// flash_store.h - the simulated TQ7300's flash: one 24-bit address space, dense where boot mode works, sparse above.
//
// Boot mode only ever reaches the first 64 KiB, and tests look at it byte by byte, so
// that part is one array that Low() hands out by reference. Above it, 4 KiB pages come
// into being on their first write or erase; a byte on a page never touched reads as the
// fill value. So a device that is only written near its parameter area costs 64 KiB,
// not 16 MiB, and an image copy covers only what was ever used.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <map>
#include <vector>

namespace sim {

constexpr size_t kFlashSize = 0x10000;  // what boot mode can reach
using FlashImage = std::array<uint8_t, kFlashSize>;

constexpr uint32_t kAppFlashSize = 0x1000000;  // 24-bit addresses
constexpr uint32_t kFlashPageSize = 0x1000;

class FlashStore {
public:
    FlashStore() { Reset(0x00); }

    // Every byte reads `fill` again; pages above 64 KiB are given back.
    void Reset(uint8_t fill);
    // Bytes at or beyond kAppFlashSize are dropped.
    void Write(uint32_t address, const uint8_t* data, size_t n);
    void Set(uint32_t address, size_t n, uint8_t value);
    // Clipped at kAppFlashSize: fewer than n bytes when the range runs past the end.
    std::vector<uint8_t> Read(uint32_t address, size_t n) const;
    // The bits of mask at address stick: from now on no write or erase changes
    // them (a worn cell that the device still answers '0' for).
    void Stick(uint32_t address, uint8_t mask);

    const FlashImage& Low() const { return low_; }
    // From address 0 to the end of the highest page ever written or erased, at least 64 KiB.
    size_t Extent() const { return extent_; }

private:
    using Page = std::array<uint8_t, kFlashPageSize>;

    // Applies `op(target, offset, count)` to each run of writable bytes in the range.
    template <typename Op>
    void ForEachRun(uint32_t address, size_t n, Op op);
    // ForEachRun for a write or an erase: stuck bits keep their value.
    template <typename Op>
    void Change(uint32_t address, size_t n, Op op);

    FlashImage low_{};
    std::map<uint32_t, Page> high_;  // keyed by page number (address / kFlashPageSize)
    uint8_t fill_ = 0x00;
    size_t extent_ = kFlashSize;
    std::map<uint32_t, uint8_t> stuck_;  // address -> bits that never change
};

}  // namespace sim
