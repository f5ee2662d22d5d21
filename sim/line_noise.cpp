// line_noise.cpp - bit flips and dropped bytes at given rates.
#include "line_noise.h"

#include <limits>

namespace sim {

LineNoise::LineNoise(double bitErrorRate, double dropRate, uint64_t seed)
    : flipRate_(bitErrorRate), dropRate_(dropRate), random_(seed) {
    bitsToFlip_ = NextGap(flipRate_);
    bytesToDrop_ = NextGap(dropRate_);
}

uint64_t LineNoise::NextGap(double rate) {
    if (rate <= 0) return std::numeric_limits<uint64_t>::max();
    return std::geometric_distribution<uint64_t>(rate)(random_);
}

void LineNoise::Apply(std::vector<uint8_t>& bytes) {
    if (!Active()) {
        counts_.bytes += bytes.size();
        return;
    }
    size_t kept = 0;
    for (uint8_t byte : bytes) {
        ++counts_.bytes;
        for (int bit = 0; bit < 8; ++bit) {
            if (bitsToFlip_-- != 0) continue;
            byte = static_cast<uint8_t>(byte ^ (1u << bit));
            ++counts_.flipped;
            bitsToFlip_ = NextGap(flipRate_);
        }
        if (bytesToDrop_-- == 0) {
            ++counts_.dropped;
            bytesToDrop_ = NextGap(dropRate_);
            continue;
        }
        bytes[kept++] = byte;
    }
    bytes.resize(kept);
}

}  // namespace sim
