// line_noise.h - a marginal line: bits flipped at a bit error rate, bytes
// dropped at a rate, each direction on its own generator so that the same
// traffic meets the same faults whatever the timing (a seed repeats a run).
#pragma once

#include <cstdint>
#include <random>
#include <vector>

namespace sim {

struct NoiseCounts {
    uint64_t bytes = 0;    // bytes that crossed
    uint64_t flipped = 0;  // bits flipped
    uint64_t dropped = 0;  // bytes lost
};

class LineNoise {
public:
    // bitErrorRate: each of a byte's 8 data bits is flipped with this chance;
    // dropRate: each byte is lost with this chance. Both 0 to below 1.
    LineNoise(double bitErrorRate, double dropRate, uint64_t seed);

    bool Active() const { return flipRate_ > 0 || dropRate_ > 0; }
    // Spoils the bytes in place (a dropped byte is removed).
    void Apply(std::vector<uint8_t>& bytes);
    const NoiseCounts& Counts() const { return counts_; }

private:
    // Positions to the next fault, drawn so that a long clean run costs one draw.
    uint64_t NextGap(double rate);

    double flipRate_;
    double dropRate_;
    std::mt19937_64 random_;
    uint64_t bitsToFlip_;   // clean bits before the next flip
    uint64_t bytesToDrop_;  // clean bytes before the next drop
    NoiseCounts counts_;
};

}  // namespace sim
