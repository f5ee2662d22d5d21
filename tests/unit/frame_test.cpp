// frame_test.cpp - frame building and checking, byte for byte, and the log line of a frame.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "link/frame.h"
#include "link/frame_line.h"
#include "link/receiver.h"
#include "platform/posix/posix_hooks.h"

namespace {

std::vector<uint8_t> Sent(uint8_t command, const std::vector<uint8_t>& payload) {
    for (size_t i = 0; i < payload.size(); ++i) wire::TransmitFrame[4 + i] = payload[i];
    wire::SendFrame(command, static_cast<uint32_t>(payload.size()));
    return std::vector<uint8_t>(wire::TransmitFrame.begin(), wire::TransmitFrame.begin() + payload.size() + 7);
}

std::string Line(char letter, const std::vector<uint8_t>& frame, int length) {
    char line[wire::kFrameLineBufferSize];
    wire::FormatFrameLine(letter, frame.data(), length, line);
    return line;
}

TEST(SendFrame, EmptyRequestsAreSevenBytes) {
    EXPECT_EQ(Sent(0x61, {}), (std::vector<uint8_t>{0x02, 0x61, 0x00, 0x00, 0x03, 0x66, 0x0D}));
    EXPECT_EQ(Sent(0x60, {}), (std::vector<uint8_t>{0x02, 0x60, 0x00, 0x00, 0x03, 0x65, 0x0D}));
    EXPECT_EQ(Sent(0x70, {}), (std::vector<uint8_t>{0x02, 0x70, 0x00, 0x00, 0x03, 0x75, 0x0D}));
    EXPECT_EQ(Sent(0x72, {}), (std::vector<uint8_t>{0x02, 0x72, 0x00, 0x00, 0x03, 0x77, 0x0D}));
}

TEST(SendFrame, ChecksumWrapsAndControlBytesPassUnescaped) {
    const auto f = Sent(0x50, {0xFF, 0x02, 0x03, 0x0D, 0xF0});
    EXPECT_EQ(f[2], 5);
    EXPECT_EQ(f[3], 0);
    EXPECT_EQ((std::vector<uint8_t>(f.begin() + 4, f.begin() + 9)),
              (std::vector<uint8_t>{0xFF, 0x02, 0x03, 0x0D, 0xF0}));
    EXPECT_EQ(f[9], 0x03);
    EXPECT_EQ(f[10], static_cast<uint8_t>(0x02 + 0x50 + 5 + 0xFF + 0x02 + 0x03 + 0x0D + 0xF0 + 0x03));
    EXPECT_EQ(f[11], 0x0D);
}

TEST(SendFrame, LogsTheFrameBeforeWritingEvenWithoutAPort) {
    platform::posix::ResetUi();
    EXPECT_EQ(wire::SendFrame(0x61, 0), 0);  // no port: nothing written
    ASSERT_EQ(platform::posix::LogHistory().size(), 1u);
    EXPECT_EQ(platform::posix::LogHistory()[0], "T-  7 0261000003660D");
}

TEST(SendFrame, RefusesAPayloadThatWouldNotFitTheBuffer) {
    platform::posix::ResetUi();
    EXPECT_EQ(wire::SendFrame(0x50, 506), 0);
    EXPECT_TRUE(platform::posix::LogHistory().empty());
}

TEST(FormatFrameLine, PrefixAndHexForEveryLength) {
    std::vector<uint8_t> frame(512);
    for (size_t i = 0; i < frame.size(); ++i) frame[i] = static_cast<uint8_t>(i);
    frame[1] = 0xFF;
    EXPECT_EQ(Line('R', frame, 0), "R-  0 ");
    EXPECT_EQ(Line('T', {0x02, 0x60, 0x00, 0x00, 0x03, 0x65, 0x0D}, 7), "T-  7 0260000003650D");
    const std::string l65 = Line('T', frame, 65);
    EXPECT_EQ(l65.substr(0, 6), "T- 65 ");
    EXPECT_EQ(l65.size(), 6u + 128u);
    EXPECT_EQ(l65.substr(6, 6), "00FF02");
    EXPECT_EQ(l65.substr(l65.size() - 2), "3F");  // byte 63 is the last shown
    const std::string l100 = Line('R', frame, 100);
    EXPECT_EQ(l100.substr(0, 6), "R-100 ");
    EXPECT_EQ(l100.size(), 134u);
    EXPECT_EQ(Line('T', frame, 512).substr(0, 6), "T-512 ");
}

TEST(FormatFrameLine, LengthsBeyondThreeDigitsStillFitTheBuffer) {
    std::vector<uint8_t> frame(64, 0xAB);
    const std::string l = Line('R', frame, 65542);
    EXPECT_EQ(l.substr(0, 8), "R-65542 ");
    EXPECT_EQ(l.size(), 8u + 128u);
}

TEST(CheckFrame, Verdicts) {
    std::vector<uint8_t> good{0x02, 0x30, 0x01, 0x00, 0x41, 0x03, 0x77, 0x0D};
    good[6] = static_cast<uint8_t>(0x02 + 0x30 + 0x01 + 0x41 + 0x03);
    EXPECT_EQ(wire::CheckFrame(good.data(), 512, 1), wire::kFrameGood);
    auto badSum = good;
    badSum[6] ^= 1;
    EXPECT_EQ(wire::CheckFrame(badSum.data(), 512, 1), wire::kFrameBadChecksum);
    auto noEtx = good;
    noEtx[5] = 0x00;
    EXPECT_EQ(wire::CheckFrame(noEtx.data(), 512, 1), wire::kFrameBadTrailer);
    auto noCr = good;
    noCr[7] = 0x0A;
    EXPECT_EQ(wire::CheckFrame(noCr.data(), 512, 1), wire::kFrameBadTrailer);
}

TEST(CheckFrame, ALengthBeyondTheBufferIsBadWithoutReadingPastIt) {
    std::vector<uint8_t> buffer(512, 0);
    EXPECT_EQ(wire::CheckFrame(buffer.data(), 512, 506), wire::kFrameBadTrailer);
    EXPECT_EQ(wire::CheckFrame(buffer.data(), 512, 65535), wire::kFrameBadTrailer);
}

}  // namespace
