// verify_test.cpp - proof on the unit: a verify reads the flash back and compares it with the
// file, a read that fails is never taken for "equal", and an update whose
// status bytes report failures does not end as complete.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "dialog_test.h"
#include "firmware/firmware_verify.h"
#include "firmware/image_loader.h"
#include "firmware/programmer.h"
#include "link/device_times.h"
#include "operations/verify.h"
#include "shell/command_ids.h"

namespace {

using Bytes = std::vector<uint8_t>;
using ops::Outcome;

constexpr uint32_t kAt = 0x3000;

// A logged line that begins with text.
bool LoggedStarting(const std::string& text) {
    for (const auto& line : platform::posix::LogHistory()) {
        if (line.rfind(text, 0) == 0) return true;
    }
    return false;
}
constexpr const char* kVerifyBox = "FLASH VERIFY 異常";

class Verify : public tqtest::DialogTest {
protected:
    // The file holds 600 bytes; the device's flash at kAt holds them too.
    void SetUp() override {
        DialogTest::SetUp();
        for (int i = 0; i < 600; ++i) file.push_back(static_cast<uint8_t>(i * 7 + 3));
        path = ::testing::TempDir() + "tq_verify.bin";
        std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(file.data()), file.size());
        const Bytes data = file;
        Configure([data](sim::DeviceModel& m) { m.SetFlash(kAt, data.data(), data.size()); });
        platform::posix::SetControl(shell::kIdFileEdit, path);
        platform::posix::SetControl(shell::kIdStartAddressEdit, "3000h");
        platform::posix::SetControl(shell::kIdLengthEdit, "");
        Press(shell::kIdOpen);
    }

    ops::OperationResult Run(int id) {
        Press(id);
        // A chunk with no answer is asked twice again, each with the full bound.
        EXPECT_TRUE(PumpUntilIdle(3 * wire::kOwnPollBoundMs + 5000));
        return ops::LastResult();
    }

    Bytes file;
    std::string path;
};

TEST_F(Verify, EqualFlashIsSaidSoWithoutABoxAndTouchesNothing) {
    const ops::OperationResult s = Run(shell::kIdFlashVerify);
    EXPECT_EQ(s.outcome, Outcome::Complete);
    EXPECT_EQ(s.verify.compared, 600u);
    EXPECT_EQ(s.verify.differing, 0u);
    EXPECT_TRUE(platform::posix::BoxesShown().empty());
    EXPECT_TRUE(StatusStarts("flash verify 0x3000: 600 bytes equal in")) << Status();
    EXPECT_TRUE(LoggedStarting("flash verify: the flash holds the file: 600 bytes compared"));
    // The empty length edit took the file's size, as a write's does; three
    // reads (256, 256, 88) and no write or erase went out.
    EXPECT_EQ(platform::posix::ControlText(shell::kIdLengthEdit), "600");
    EXPECT_EQ(device->FramesReceived(0x50), 3);
    EXPECT_EQ(device->FlashRange(kAt, 600), file);
}

TEST_F(Verify, StuckCellIsFoundWithItsAddressAndBothBytes) {
    // The file's byte at 0x3101 is 0A; the cell's top bit sticks at 1.
    const uint8_t value = file[0x101];
    Configure([value](sim::DeviceModel& m) {
        const uint8_t erased = 0xFF;
        m.SetFlash(0x3101, &erased, 1);
        m.StickBits(0x3101, 0x80);
        m.SetFlash(0x3101, &value, 1);
    });
    const ops::OperationResult s = Run(shell::kIdFlashVerify);
    EXPECT_EQ(s.outcome, Outcome::Different);
    EXPECT_EQ(s.verify.differing, 1u);
    EXPECT_EQ(s.verify.ranges, 1u);
    EXPECT_EQ(s.verify.first, 0x3101u);
    EXPECT_EQ(s.verify.fileByte, file[0x101]);
    EXPECT_EQ(s.verify.flashByte, file[0x101] | 0x80);
    EXPECT_EQ(platform::posix::BoxesShown(), std::vector<std::string>{kVerifyBox});
    EXPECT_TRUE(LogContains("flash verify: differs at 0x003101-0x003101 (1 byte)"));
}

// A read that fails ends the verify with the read's own box, never with
// "equal" or "different", whatever the bytes in the buffer.
TEST_F(Verify, FailedReadsAreNeverAVerdict) {
    const struct {
        const char* name;
        sim::Fault fault;
        Outcome outcome;
    } cases[] = {
        {"silent", sim::Fault::Silent, Outcome::NoAnswer},
        {"refused", sim::Fault::Refuse, Outcome::Refused},
        {"cut", sim::Fault::Cut, Outcome::DamagedAnswer},
        {"short", sim::Fault::Short, Outcome::DamagedAnswer},
    };
    for (const auto& c : cases) {
        platform::posix::ResetUi();
        platform::posix::SetControl(shell::kIdFileEdit, path);
        platform::posix::SetControl(shell::kIdStartAddressEdit, "3000h");
        platform::posix::SetControl(shell::kIdLengthEdit, "600");
        Configure([&](sim::DeviceModel& m) { m.SetFault(0x50, 0x04, c.fault, 0, 2); });
        const ops::OperationResult s = Run(shell::kIdFlashVerify);
        EXPECT_EQ(s.outcome, c.outcome) << c.name;
        EXPECT_EQ(s.where, 0x3100u) << c.name;
        EXPECT_EQ(platform::posix::BoxesShown(), std::vector<std::string>{"FLASH READ 異常"}) << c.name;
        Configure([](sim::DeviceModel& m) { m.ClearFaults(); });
    }
}

class FirmwareProof : public tqtest::DialogTest {
protected:
    // An image filling every programmed block, written as an S-record file.
    void SetUp() override {
        DialogTest::SetUp();
        image.fill(0xFF);
        uint32_t seed = 7300;
        std::string mot = "S00600004844521B\r\nTQ1\r\n";
        for (int row = 0; row < firmware::kProgrammedRows; ++row) {
            const firmware::BootBlock& b = firmware::BootBlockTable[row];
            for (uint32_t a = b.start; a < b.start + b.size; a += 32) {
                char line[96];
                int n = std::snprintf(line, sizeof line, "S123%04X", unsigned(a));
                unsigned sum = 0x23 + (a >> 8) + (a & 0xFF);
                for (uint32_t k = 0; k < 32; ++k) {
                    seed = seed * 1103515245u + 12345u;
                    image[a + k] = static_cast<uint8_t>(seed >> 16);
                    sum += image[a + k];
                    n += std::snprintf(line + n, sizeof line - n, "%02X", image[a + k]);
                }
                std::snprintf(line + n, sizeof line - n, "%02X\r\n", (~sum) & 0xFF);
                mot += line;
            }
        }
        mot += "S9030000FC\r\n";
        const std::string path = ::testing::TempDir() + "tq_verify_fw.mot";
        std::ofstream(path, std::ios::binary) << mot;
        std::strcpy(firmware::FirmwarePath, path.c_str());
    }

    firmware::Image image;
};

TEST_F(FirmwareProof, FullImageVerifiesAfterTheUpdateAndAStuckCellIsFound) {
    // A bit that sticks at 1 where the image has a 0.
    uint32_t stuckAt = 0xC085;
    while (image[stuckAt] == 0xFF) ++stuckAt;
    const uint8_t mask = static_cast<uint8_t>(~image[stuckAt] & -(~image[stuckAt] & 0xFF));
    Configure([&](sim::DeviceModel& m) {
        m.FillFlash(0xFF);
        m.StickBits(stuckAt, mask);
    });
    Press(shell::kIdOpen);
    Press(shell::kIdFarmUpdate);
    ASSERT_TRUE(PumpUntilLogged("更新完了", 30000));
    ASSERT_TRUE(PumpUntilIdle());
    const ops::OperationResult s = [&] {
        Press(shell::kIdFirmwareVerify);
        EXPECT_TRUE(PumpUntilIdle(30000));
        return ops::LastResult();
    }();
    EXPECT_EQ(s.activity, ops::Activity::FirmwareVerify);
    EXPECT_EQ(s.verify.compared, 192u * 128u);  // every page of the seven blocks
    EXPECT_EQ(s.outcome, Outcome::Different);
    EXPECT_EQ(s.verify.differing, 1u);
    EXPECT_EQ(s.verify.first, stuckAt);
    EXPECT_EQ(s.verify.flashByte, image[stuckAt] | mask);
    // Two pages a read: 96 reads for 192 pages, besides the model request.
    EXPECT_EQ(device->FramesReceived(0x50), 96);
}

// An S1 record of 16 bytes of value at address.
std::string Record16(uint32_t address, uint8_t value) {
    char line[64];
    unsigned sum = 0x13 + (address >> 8) + (address & 0xFF) + 16u * value;
    int n = std::snprintf(line, sizeof line, "S113%04X", unsigned(address));
    for (int k = 0; k < 16; ++k) n += std::snprintf(line + n, sizeof line - n, "%02X", value);
    std::snprintf(line + n, sizeof line - n, "%02X\r\n", (~sum) & 0xFF);
    return line;
}

// Status bytes that report failures make the run result 9 once every other
// step went well; the log keeps every status line and adds one of its own.
TEST_F(FirmwareProof, DeviceStatusFailuresEndTheUpdateWithResultNine) {
    // Three pages of the first block and one of the second.
    const std::string path = ::testing::TempDir() + "tq_status_fw.mot";
    std::ofstream(path, std::ios::binary) << "TQ1\r\n" + Record16(0x3000, 1) + Record16(0x3080, 2) +
                                                 Record16(0x3100, 3) + Record16(0x3400, 4) + "S9030000FC\r\n";
    std::strcpy(firmware::FirmwarePath, path.c_str());
    const struct {
        const char* name;
        sim::BootStep step;
        uint8_t status;
        int occurrence;
        uint32_t blocks, pages, first;
    } cases[] = {
        {"third page not programmed", sim::BootStep::Program, 0x90, 3, 0, 1, 0x3100},
        {"second block not erased", sim::BootStep::Erase, 0xA0, 2, 1, 0, 0x3400},
    };
    Press(shell::kIdOpen);
    for (const auto& c : cases) {
        platform::posix::ResetUi();
        Configure([&](sim::DeviceModel& m) {
            m.SetBootFault(c.step, {sim::BootFault::Status, c.status, c.occurrence});
            m.EnterBootMode();
        });
        Press(shell::kIdRecovery);
        ASSERT_TRUE(PumpUntilLogged("更新失敗 err: 09", 20000)) << c.name;
        ASSERT_TRUE(PumpUntilIdle());
        const ops::OperationResult s = ops::LastResult();
        EXPECT_EQ(s.outcome, Outcome::Failed) << c.name;
        EXPECT_EQ(s.code, firmware::kDeviceReportedFailure) << c.name;
        EXPECT_EQ(s.deviceErrors.blocks, c.blocks) << c.name;
        EXPECT_EQ(s.deviceErrors.pages, c.pages) << c.name;
        EXPECT_EQ(s.deviceErrors.first, c.first) << c.name;
        char status[40];
        std::snprintf(status, sizeof status, "resp error **********  %02x", c.status);
        EXPECT_TRUE(LogContains(status)) << c.name;
        EXPECT_TRUE(LoggedStarting("update: the device reported")) << c.name;
        EXPECT_FALSE(LogContains("更新完了")) << c.name;
        // Every page was still attempted: the run went to its closing byte.
        EXPECT_TRUE(device->WaitForBootMode(false, 2000)) << c.name;
        Configure([&](sim::DeviceModel& m) { m.SetBootFault(c.step, {}); });
    }
}

TEST(VerifyCompare, RangesAndFirstDifference) {
    struct Case {
        const char* name;
        std::vector<uint32_t> differ;  // offsets that differ
        uint32_t ranges;
        std::vector<std::pair<uint32_t, uint32_t>> listed;  // address, length
    } cases[] = {
        {"equal", {}, 0, {}},
        {"one byte", {5}, 1, {{0x1005, 1}}},
        {"last byte", {599}, 1, {{0x1257, 1}}},
        {"across a chunk boundary", {255, 256, 257}, 1, {{0x10FF, 3}}},
        {"two ranges", {0, 1, 300}, 2, {{0x1000, 2}, {0x112C, 1}}},
    };
    for (const Case& c : cases) {
        Bytes expected(600, 0x5A), actual(600, 0x5A);
        for (uint32_t at : c.differ) actual[at] = 0xA5;
        const ops::VerifySegment whole{0x1000, 0, 600};
        ops::VerifyRange ranges[4];
        ops::VerifyFacts facts;
        const uint32_t n = ops::CompareSegments(expected.data(), actual.data(), &whole, 1, ranges, 4, facts);
        EXPECT_EQ(facts.compared, 600u) << c.name;
        EXPECT_EQ(facts.differing, c.differ.size()) << c.name;
        EXPECT_EQ(facts.ranges, c.ranges) << c.name;
        ASSERT_EQ(n, c.listed.size()) << c.name;
        for (uint32_t i = 0; i < n; ++i) {
            EXPECT_EQ(ranges[i].address, c.listed[i].first) << c.name;
            EXPECT_EQ(ranges[i].length, c.listed[i].second) << c.name;
        }
        if (!c.differ.empty()) {
            EXPECT_EQ(facts.first, 0x1000 + c.differ[0]) << c.name;
        }
    }
    // Segments with a gap between them never share a range; touching ones do;
    // more ranges than the caller keeps are still counted.
    Bytes expected(0x10000, 0x00), actual(0x10000, 0xFF);
    const ops::VerifySegment pages[] = {{0x3000, 0x3000, 128}, {0x3080, 0x3080, 128}, {0x3200, 0x3200, 128}};
    ops::VerifyRange ranges[1];
    ops::VerifyFacts facts;
    EXPECT_EQ(ops::CompareSegments(expected.data(), actual.data(), pages, 3, ranges, 1, facts), 1u);
    EXPECT_EQ(facts.ranges, 2u);
    EXPECT_EQ(ranges[0].length, 256u);
}

TEST(VerifyCompare, FirmwarePagesAreThoseTheProgrammerWrites) {
    firmware::Image image;
    image.fill(0xFF);
    image[0x2FFF] = 0;  // below every block
    image[0x3001] = 0;
    image[0x3080] = 0;  // adjacent page: one segment
    image[0xA07F] = 0;
    image[0xF000] = 0;  // row 7 is never written
    ops::VerifySegment segments[ops::kMaxVerifySegments];
    ASSERT_EQ(firmware::FirmwarePageSegments(image, segments), 2);
    EXPECT_EQ(segments[0].address, 0x3000u);
    EXPECT_EQ(segments[0].length, 256u);
    EXPECT_EQ(segments[1].address, 0xA000u);
    EXPECT_EQ(segments[1].length, 128u);
}

}  // namespace
