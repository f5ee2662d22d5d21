// line_noise_test.cpp - the marginal line: its rates, its repeatability, and
// that it touches nothing at rate 0.
#include "line_noise.h"

#include <gtest/gtest.h>

#include <bitset>

namespace {

using Bytes = std::vector<uint8_t>;

uint64_t BitsDiffering(const Bytes& a, const Bytes& b) {
    uint64_t n = 0;
    for (size_t i = 0; i < a.size() && i < b.size(); ++i) n += std::bitset<8>(a[i] ^ b[i]).count();
    return n;
}

Bytes Traffic(size_t n) {
    Bytes bytes(n);
    for (size_t i = 0; i < n; ++i) bytes[i] = static_cast<uint8_t>(i * 31 + 7);
    return bytes;
}

TEST(LineNoise, FlipsBitsAtItsRateAndCountsThem) {
    // 8 Mbit at 1e-4: about 800 flips; 4 standard deviations either way.
    const struct {
        double rate;
        uint64_t low, high;
    } cases[] = {{0, 0, 0}, {1e-4, 690, 910}, {1e-3, 7640, 8360}};
    for (const auto& c : cases) {
        sim::LineNoise noise(c.rate, 0, 7);
        const Bytes clean = Traffic(1000000);
        Bytes spoilt = clean;
        noise.Apply(spoilt);
        ASSERT_EQ(spoilt.size(), clean.size()) << c.rate;
        const uint64_t flipped = BitsDiffering(clean, spoilt);
        EXPECT_EQ(flipped, noise.Counts().flipped) << c.rate;
        EXPECT_GE(flipped, c.low) << c.rate;
        EXPECT_LE(flipped, c.high) << c.rate;
        EXPECT_EQ(noise.Counts().bytes, clean.size());
    }
}

TEST(LineNoise, DropsBytesAtItsRate) {
    sim::LineNoise noise(0, 1e-3, 3);
    Bytes bytes = Traffic(1000000);
    noise.Apply(bytes);
    EXPECT_EQ(bytes.size() + noise.Counts().dropped, 1000000u);
    EXPECT_GE(noise.Counts().dropped, 870u);
    EXPECT_LE(noise.Counts().dropped, 1130u);
    EXPECT_EQ(noise.Counts().flipped, 0u);
}

// The same seed and the same traffic, cut into other pieces, meet the same
// faults; another seed meets others.
TEST(LineNoise, ASeedRepeatsTheRunWhateverThePieces) {
    sim::LineNoise whole(1e-3, 1e-3, 42);
    sim::LineNoise pieces(1e-3, 1e-3, 42);
    sim::LineNoise other(1e-3, 1e-3, 43);
    Bytes a = Traffic(20000);
    Bytes c = a;
    whole.Apply(a);
    other.Apply(c);
    Bytes b;
    const Bytes clean = Traffic(20000);
    for (size_t at = 0; at < clean.size(); at += 77) {
        Bytes piece(clean.begin() + at, clean.begin() + std::min(clean.size(), at + 77));
        pieces.Apply(piece);
        b.insert(b.end(), piece.begin(), piece.end());
    }
    EXPECT_EQ(a, b);
    EXPECT_NE(a, c);
}

}  // namespace
