// flash_store.cpp - sparse 24-bit flash for the simulated TQ7300.
#include "flash_store.h"

#include <algorithm>

namespace sim {

namespace {

size_t Clip(uint32_t address, size_t n) {
    return address >= kAppFlashSize ? 0 : std::min<size_t>(n, kAppFlashSize - address);
}

}  // namespace

void FlashStore::Reset(uint8_t fill) {
    fill_ = fill;
    low_.fill(fill);
    high_.clear();
    extent_ = kFlashSize;
}

template <typename Op>
void FlashStore::ForEachRun(uint32_t address, size_t n, Op op) {
    n = Clip(address, n);
    size_t done = 0;
    while (done < n) {
        const uint32_t at = address + static_cast<uint32_t>(done);
        if (at < kFlashSize) {
            const size_t count = std::min(n - done, kFlashSize - at);
            op(low_.data() + at, done, count);
            done += count;
            continue;
        }
        const uint32_t pageNumber = at / kFlashPageSize;
        auto inserted = high_.try_emplace(pageNumber);
        if (inserted.second) inserted.first->second.fill(fill_);
        const size_t offset = at % kFlashPageSize;
        const size_t count = std::min(n - done, kFlashPageSize - offset);
        op(inserted.first->second.data() + offset, done, count);
        done += count;
        extent_ = std::max<size_t>(extent_, (static_cast<size_t>(pageNumber) + 1) * kFlashPageSize);
    }
}

template <typename Op>
void FlashStore::Change(uint32_t address, size_t n, Op op) {
    std::vector<std::pair<uint32_t, uint8_t>> kept;  // stuck cells in the range, as they were
    const uint64_t end = uint64_t(address) + n;
    for (auto it = stuck_.lower_bound(address); it != stuck_.end() && it->first < end; ++it) {
        kept.emplace_back(it->first, Read(it->first, 1).at(0));
    }
    ForEachRun(address, n, op);
    for (const auto& [at, was] : kept) {
        const uint8_t mask = stuck_[at];
        const uint8_t now = static_cast<uint8_t>((Read(at, 1).at(0) & ~mask) | (was & mask));
        ForEachRun(at, 1, [now](uint8_t* target, size_t, size_t) { *target = now; });
    }
}

void FlashStore::Stick(uint32_t address, uint8_t mask) {
    if (address < kAppFlashSize) stuck_[address] |= mask;
}

void FlashStore::Write(uint32_t address, const uint8_t* data, size_t n) {
    Change(address, n, [data](uint8_t* target, size_t from, size_t count) { std::copy_n(data + from, count, target); });
}

void FlashStore::Set(uint32_t address, size_t n, uint8_t value) {
    Change(address, n, [value](uint8_t* target, size_t, size_t count) { std::fill_n(target, count, value); });
}

std::vector<uint8_t> FlashStore::Read(uint32_t address, size_t n) const {
    n = Clip(address, n);
    std::vector<uint8_t> out(n, fill_);
    size_t done = 0;
    while (done < n) {
        const uint32_t at = address + static_cast<uint32_t>(done);
        if (at < kFlashSize) {
            const size_t count = std::min(n - done, kFlashSize - at);
            std::copy_n(low_.begin() + at, count, out.begin() + static_cast<std::ptrdiff_t>(done));
            done += count;
            continue;
        }
        const size_t offset = at % kFlashPageSize;
        const size_t count = std::min(n - done, kFlashPageSize - offset);
        const auto page = high_.find(at / kFlashPageSize);
        if (page != high_.end()) {
            std::copy_n(page->second.begin() + static_cast<std::ptrdiff_t>(offset), count,
                        out.begin() + static_cast<std::ptrdiff_t>(done));
        }
        done += count;
    }
    return out;
}

}  // namespace sim
