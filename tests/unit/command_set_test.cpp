// command_set_test.cpp - the command set's pure parts byte for byte: library payloads (read off the
// T lines that SendFrame logs; no port is open, so nothing is answered), the
// records, the clock's day numbers, the transfer chunking and the parameter
// block.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "link/command_library.h"
#include "operations/device_clock.h"
#include "operations/flash_transfer.h"
#include "operations/param_block.h"
#include "platform/posix/posix_hooks.h"

namespace {

using Bytes = std::vector<uint8_t>;

// The T line that SendFrame logs for these frame bytes.
std::string Sent(const Bytes& frame) {
    char line[16];
    std::snprintf(line, sizeof line, "T-%3zu ", frame.size());
    std::string out = line;
    for (uint8_t b : frame) {
        std::snprintf(line, sizeof line, "%02X", b);
        out += line;
    }
    return out;
}

std::vector<std::string> Log() { return platform::posix::LogHistory(); }
std::string LastSent() { return Log().empty() ? std::string() : Log().back(); }

class Library : public ::testing::Test {
protected:
    void SetUp() override { platform::posix::ResetUi(); }
};

TEST_F(Library, WorkedVectorsGoOutByteForByte) {
    uint8_t data[256];
    wire::SendScaledCommand(100, 20, 253);
    EXPECT_EQ(LastSent(), Sent({0x02, 0x41, 0x05, 0x00, 0x5D, 0x00, 0x4C, 0x04, 0xFD, 0x03, 0xF5, 0x0D}));
    wire::ReadFlashChunk(data, 0xE200, 256);
    EXPECT_EQ(LastSent(), Sent({0x02, 0x50, 0x06, 0x00, 0x04, 0x00, 0xE2, 0x00, 0x00, 0x01, 0x03, 0x42, 0x0D}));
    wire::EraseFlashRange(0xE200, 256);
    EXPECT_EQ(LastSent(), Sent({0x02, 0x50, 0x06, 0x00, 0x44, 0x00, 0xE2, 0x00, 0x00, 0x01, 0x03, 0x82, 0x0D}));
    // Address bits above 23 and count bits above 15 are dropped.
    wire::SendAddressCommand(0xAB123456, 0x10102, 0x7E);
    EXPECT_EQ(LastSent(), Sent({0x02, 0x40, 0x06, 0x00, 0x56, 0x34, 0x12, 0x02, 0x01, 0x7E, 0x03, 0x68, 0x0D}));
    EXPECT_EQ(Log().size(), 4u);
}

TEST_F(Library, PatternWritesWaitForAnAnswer) {
    // No port: WaitForResponse gives up after its 101 sleeps.
    EXPECT_EQ(wire::WritePatternArea(nullptr, 0), wire::kNoAnswer);
    EXPECT_EQ(LastSent(), Sent({0x02, 0x50, 0x04, 0x00, 0x83, 0x00, 0x00, 0x00, 0x03, 0xDC, 0x0D}));
    const uint8_t two[] = {0xAA, 0x55};
    wire::WritePatternArea(two, 0x10002);  // counts are taken modulo 2^16
    EXPECT_EQ(LastSent(), Sent({0x02, 0x50, 0x06, 0x00, 0x83, 0x00, 0x00, 0x00, 0xAA, 0x55, 0x03, 0xDD, 0x0D}));
}

TEST_F(Library, CountsThatDoNotFitAreRefusedBeforeAnythingIsSent) {
    static uint8_t big[600];
    EXPECT_EQ(wire::WriteFlashChunk(big, 0, wire::kMaxDataCount + 1), wire::kCountTooLarge);
    EXPECT_EQ(wire::WritePatternArea(big, wire::kMaxDataCount + 1), wire::kCountTooLarge);
    EXPECT_EQ(wire::ReadFlashChunk(big, 0, wire::kMaxAnswerCount + 1), wire::kCountTooLarge);
    EXPECT_TRUE(Log().empty());
    // The largest that fits goes out; with no port it ends without an answer at once.
    EXPECT_EQ(wire::WriteFlashChunk(big, 0, wire::kMaxDataCount), wire::kNoAnswer);
    EXPECT_EQ(LastSent().substr(0, 6), "T-512 ");
}

TEST_F(Library, OperationsThatPollOnTheirOwnEndAtOnceWithoutAPort) {
    uint8_t clock[6];
    EXPECT_EQ(wire::QueryDeviceClock(clock), wire::kNoAnswer);
    EXPECT_EQ(LastSent(), Sent({0x02, 0x21, 0x00, 0x00, 0x03, 0x26, 0x0D}));
    EXPECT_EQ(wire::SendCommand22(0x5A), wire::kNoAnswer);
    EXPECT_EQ(LastSent(), Sent({0x02, 0x22, 0x01, 0x00, 0x5A, 0x03, 0x82, 0x0D}));
}

TEST_F(Library, ZeroRecordSourceSendsTheShortRecordAndStopsWhenUnanswered) {
    wire::RecordSource = {};
    EXPECT_EQ(wire::BuildRecordAndSend(), wire::kNoAnswer);
    EXPECT_EQ(Log(), std::vector<std::string>{
                         Sent({0x02, 0x50, 0x06, 0x00, 0x81, 0x00, 0x00, 0x00, 0x03, 0x00, 0x03, 0xDF, 0x0D})});
}

struct RecordCase {
    const char* what;
    wire::RecordSourceFields source;
    Bytes record;
    uint8_t lengthByte;
    uint8_t codeByte;
};

const uint8_t kBlock8[8] = {1, 2, 3, 4, 5, 6, 7, 8};
const uint8_t kBlock8Six[8] = {1, 2, 3, 4, 5, 6, 9, 8};
const uint8_t kBlock4[4] = {0xA, 0xB, 0xC, 0xD};

TEST(BuildRecord, TypeFieldsCodeAndLength) {
    const RecordCase cases[] = {
        {"all zero", {0, 0, 0, 0, nullptr, nullptr}, {0x03, 0x00}, 2, 0},
        {"kind 1", {1, 0x05, 0, 0, kBlock8, nullptr}, {0x27, 0x01, 1, 2, 3, 4, 5, 6, 7, 8}, 10, 5},
        {"block8", {0, 0, 0, 0, kBlock8, nullptr}, {0x23, 0x00, 1, 2, 3, 4, 5, 6, 7, 8}, 10, 0},
        {"long form, byte 6 is 7", {0, 0x10, 0, 0, kBlock8, nullptr}, {0x63, 0x00, 1, 2, 3, 4, 5, 6, 7, 8}, 0x8A, 0},
        {"long form, byte 6 not 7",
         {0, 0x10, 0, 0, kBlock8Six, nullptr},
         {0x23, 0x00, 1, 2, 3, 4, 5, 6, 9, 8},
         0x8A,
         0},
        {"every optional byte in order",
         {0x2C, 0xE3, 0x11, 0x22, nullptr, kBlock4},
         {0x03, 0x2C, 0x04, 0x11, 0x22, 0xA, 0xB, 0xC, 0xD},
         9,
         0x03 + 0x22 + 1},
        {"kind 0x23 code", {0x23, 0x41, 0, 0x40, nullptr, nullptr}, {0x03, 0x23, 0x40}, 3, 0x05},
        {"kind 0xB8 code wraps", {0xB8, 0x4F, 0, 0xF5, nullptr, nullptr}, {0x03, 0xB8, 0xF5}, 3, 0x04},
    };
    for (const RecordCase& c : cases) {
        uint8_t record[17];
        uint8_t lengthByte = 0;
        uint8_t codeByte = 0;
        const int n = wire::BuildRecord(c.source, record, lengthByte, codeByte);
        EXPECT_EQ(Bytes(record, record + n), c.record) << c.what;
        EXPECT_EQ(lengthByte, c.lengthByte) << c.what;
        EXPECT_EQ(codeByte, c.codeByte) << c.what;
    }
}

TEST(DeviceClock, WorkedDates) {
    struct Case {
        int year, month, day;
        uint16_t n;
    };
    const Case cases[] = {
        {2000, 1, 1, 0},   {2010, 6, 14, 3817}, {2024, 2, 29, 8825}, {2024, 3, 1, 8826}, {2000, 12, 31, 365},
        {2001, 1, 1, 366}, {2001, 3, 1, 425},   {2100, 3, 1, 36585}, {2000, 2, 29, 59},  {2000, 3, 1, 60},
    };
    for (const Case& c : cases) {
        const uint8_t y = static_cast<uint8_t>(c.year - 2000);
        EXPECT_EQ(ops::DateToDayNumber(y, c.month, c.day), c.n) << c.year << "-" << c.month << "-" << c.day;
        const ops::DeviceDate d = ops::DayNumberToDate(c.n);
        EXPECT_EQ(d.years, y);
        EXPECT_EQ(d.month, c.month);
        EXPECT_EQ(d.day, c.day);
    }
    EXPECT_EQ(ops::ToBcd(59), 0x59);
    EXPECT_EQ(ops::ToBcd(100), 0xA0);
    EXPECT_EQ(ops::ToBcd(0), 0x00);
}

TEST(DeviceClock, EveryDayNumberRoundTrips) {
    for (uint32_t n = 0; n <= 0xFFFF; ++n) {
        const ops::DeviceDate d = ops::DayNumberToDate(static_cast<uint16_t>(n));
        ASSERT_GE(d.day, 1);
        ASSERT_EQ(ops::DateToDayNumber(d.years, d.month, d.day), n);
    }
}

TEST(DeviceClock, PayloadFromTheLocalTime) {
    struct Case {
        platform::LocalTime now;
        Bytes payload;
    };
    const Case cases[] = {
        {{2000, 1, 1, 0, 0, 0}, {0x00, 0x00, 0x00, 0x00, 0x00}},
        {{2010, 6, 14, 12, 34, 56}, {0xE9, 0x0E, 0x12, 0x34, 0x56}},
        {{2024, 2, 29, 23, 59, 59}, {0x79, 0x22, 0x23, 0x59, 0x59}},
        // 1999: years wrap to 255 and the day number wraps modulo 65536.
        {{1999, 12, 31, 1, 2, 3}, {0x3F, 0x6D, 0x01, 0x02, 0x03}},
    };
    for (const Case& c : cases) {
        uint8_t payload[ops::kClockPayloadSize];
        ops::BuildClockPayload(c.now, payload);
        EXPECT_EQ(Bytes(payload, payload + 5), c.payload) << c.now.year;
    }
}

TEST(FlashChunks, WriteChunksEndAtBoundariesReadChunksDoNot) {
    struct Case {
        uint32_t address, length;
        bool write;
        std::vector<uint32_t> chunks;
    };
    const Case cases[] = {
        {0x1F0, 0x220, true, {16, 256, 256, 16}},
        {0x2FF, 2, true, {1, 1}},
        {0x80, 300, false, {256, 44}},
        {0x1F0, 0x220, false, {256, 256, 32}},
        {0xFF000080, 0x100, true, {128, 128}},  // bits above 23 do not change the cut
        {0, 0, true, {}},
    };
    for (const Case& c : cases) {
        std::vector<uint32_t> got;
        uint32_t address = c.address;
        for (uint32_t remaining = c.length; remaining != 0;) {
            const uint32_t n = c.write ? ops::WriteChunkSize(address, remaining) : ops::ReadChunkSize(remaining);
            got.push_back(n);
            remaining -= n;
            address += n;
        }
        EXPECT_EQ(got, c.chunks) << std::hex << c.address << " " << c.length;
    }
    const uint8_t erased[4] = {0xFF, 0xFF, 0xFF, 0xFF};
    const uint8_t written[4] = {0xFF, 0xFF, 0xFE, 0xFF};
    EXPECT_TRUE(ops::AllErased(erased, 4));
    EXPECT_FALSE(ops::AllErased(written, 4));
}

TEST(ParameterBlock, LayoutAndCut) {
    uint8_t block[ops::kParamBlockSize + 8];
    std::fill(std::begin(block), std::end(block), 0xEE);  // the guard past the block stays

    EXPECT_EQ(ops::BuildParameterBlock("", "", block), 4u);
    EXPECT_EQ(block[0], 0x00);
    EXPECT_EQ(block[1], 0x03);
    EXPECT_EQ(std::count(block, block + 256, 0), 255);

    EXPECT_EQ(ops::BuildParameterBlock("AB", "C", block), 7u);
    EXPECT_EQ(Bytes(block, block + 8), (Bytes{0x00, 0x05, 0x41, 0x42, 0x00, 0x43, 0x00, 0x00}));
    EXPECT_EQ(std::count(block, block + 256, 0), 252);

    const std::string a200(200, 'a');
    const std::string b100(100, 'b');
    EXPECT_EQ(ops::BuildParameterBlock(a200.c_str(), b100.c_str(), block), 304u);
    EXPECT_EQ(block[1], 203);
    EXPECT_EQ(block[202], 0x00);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(block + 203), 53), std::string(53, 'b'));

    // L1 of 255: the offset byte keeps only its low 8 bits and no second text fits.
    const std::string a255(255, 'a');
    EXPECT_EQ(ops::BuildParameterBlock(a255.c_str(), b100.c_str(), block), 359u);
    EXPECT_EQ(block[1], 2);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(block + 2), 254), std::string(254, 'a'));
    EXPECT_EQ(block[256], 0xEE);
}

}  // namespace
