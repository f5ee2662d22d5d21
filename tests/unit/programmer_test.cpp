// programmer_test.cpp - the boot-mode programmer against the device model on a pseudo-terminal:
// the exact bytes of a run, the echo checks and every failure result.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "device_link.h"
#include "firmware/programmer.h"
#include "link/link_state.h"
#include "platform/posix/posix_hooks.h"

namespace {

using Bytes = std::vector<uint8_t>;

class Programmer : public tqtest::DeviceLinkTest {
protected:
    void SetUp() override {
        DeviceLinkTest::SetUp();
        Configure([](sim::DeviceModel& m) {
            m.FillFlash(0x00);
            m.EnterBootMode();
        });
        OpenSession();
        image.fill(0xFF);
    }

    int Run() { return firmware::ProgramFirmwareImage(image); }

    void FailAt(sim::BootStep step, sim::BootFault fault, uint8_t value = 0, int occurrence = 0) {
        Configure([=](sim::DeviceModel& m) { m.SetBootFault(step, {fault, value, occurrence}); });
    }

    static Bytes Page(uint32_t address, const firmware::Image& img) {
        Bytes b{static_cast<uint8_t>(address & 0xFF), static_cast<uint8_t>(address >> 8)};
        b.insert(b.end(), img.begin() + address, img.begin() + address + 128);
        b.push_back('U');
        return b;
    }

    bool EndsWithEndByte() {
        return Eventually(
            [this] {
                const Bytes got = DeviceBytes();
                return !got.empty() && got.back() == 0xFF;
            },
            1000);
    }

    firmware::Image image;
};

TEST_F(Programmer, ExactBytesOfASmallImage) {
    for (uint32_t a = 0x3000; a < 0x3080; ++a) image[a] = static_cast<uint8_t>(a);
    image[0xA001] = 0x5A;
    ASSERT_EQ(Run(), firmware::kProgramOk);

    Bytes expected{'E', 0x0A, 0x0A, 'E', 0x03, 0x03, 'W'};
    for (uint8_t b : Page(0x3000, image)) expected.push_back(b);
    for (uint8_t b : Page(0xA000, image)) expected.push_back(b);
    expected.push_back(0xFF);
    ASSERT_TRUE(DeviceReceived(expected.size()));
    EXPECT_EQ(DeviceBytes(), expected);

    const std::vector<std::string> log = platform::posix::LogHistory();
    const std::vector<std::string> wanted{"ﾌﾞﾛｯｸ消去 3000-33FF",
                                          "resp 00",
                                          "ﾌﾞﾛｯｸ消去 A001-BFFF",
                                          "resp 00",
                                          "書込中",
                                          "書込3000",
                                          "resp 00",
                                          "書込a000",
                                          "resp 00"};
    EXPECT_EQ(log, wanted);
    const sim::FlashImage flash = device->Flash();
    EXPECT_EQ(flash[0x3000], 0x00);
    EXPECT_EQ(flash[0x307F], 0x7F);
    EXPECT_EQ(flash[0x3080], 0xFF);  // erased, not written
    EXPECT_EQ(flash[0xA001], 0x5A);
    EXPECT_EQ(flash[0xA000], 0xFF);
    EXPECT_FALSE(wire::LinkFlagSet(wire::kFlagRawCapture));
}

TEST_F(Programmer, PageAt3080SendsItsAddressLowByteFirst) {
    image[0x3085] = 0x01;
    ASSERT_EQ(Run(), firmware::kProgramOk);
    const Bytes got = DeviceBytes();
    const Bytes head{'E', 0x0A, 0x0A, 'W', 0x80, 0x30};
    ASSERT_GE(got.size(), head.size());
    EXPECT_EQ(Bytes(got.begin(), got.begin() + 6), head);
    EXPECT_TRUE(LogContains("書込3080"));
}

TEST_F(Programmer, EmptyImageSendsOnlyWriteModeAndEnd) {
    ASSERT_EQ(Run(), firmware::kProgramOk);
    ASSERT_TRUE(DeviceReceived(2));
    EXPECT_EQ(DeviceBytes(), (Bytes{'W', 0xFF}));
}

TEST_F(Programmer, DataOutsideRowsZeroToSixIsNeverSent) {
    image[0x1000] = 1;
    image[0x5000] = 2;
    image[0xF000] = 3;
    ASSERT_EQ(Run(), firmware::kProgramOk);
    ASSERT_TRUE(DeviceReceived(2));
    EXPECT_EQ(DeviceBytes(), (Bytes{'W', 0xFF}));
}

// The run goes on past an error status (the page is still written), and
// ends as a failure: the unit does not hold the image.
TEST_F(Programmer, EraseErrorStatusIsLoggedAndTheRunGoesOn) {
    image[0xE000] = 0;
    FailAt(sim::BootStep::Erase, sim::BootFault::Status, 0xA0);
    EXPECT_EQ(Run(), firmware::kDeviceReportedFailure);
    EXPECT_TRUE(LogContains("resp error **********  a0"));
    EXPECT_TRUE(LogContains("書込e000"));
}

TEST_F(Programmer, StatusWithoutTheHighBitIsPlain) {
    image[0xE000] = 0;
    FailAt(sim::BootStep::Erase, sim::BootFault::Status, 0x20);
    FailAt(sim::BootStep::Program, sim::BootFault::Status, 0x90);
    EXPECT_EQ(Run(), firmware::kDeviceReportedFailure);  // the program status 90 failed
    EXPECT_TRUE(LogContains("resp 20"));
    EXPECT_TRUE(LogContains("resp error **********  90"));
}

TEST_F(Programmer, NoEraseReplyIsResult1WithoutEndByte) {
    image[0x3000] = 0;
    FailAt(sim::BootStep::Erase, sim::BootFault::Silent);
    EXPECT_EQ(Run(), firmware::kNoEraseReply);
    EXPECT_EQ(DeviceBytes(), (Bytes{'E', 0x0A, 0x0A}));
}

TEST_F(Programmer, NoWriteModeReplyIsResult2WithoutEndByte) {
    FailAt(sim::BootStep::Write, sim::BootFault::Silent);
    EXPECT_EQ(Run(), firmware::kNoWriteModeReply);
    EXPECT_EQ(DeviceBytes(), (Bytes{'W'}));
}

TEST_F(Programmer, WrongWriteModeReplyIsResult3AndLogged) {
    FailAt(sim::BootStep::Write, sim::BootFault::WrongReply, 0x55);
    EXPECT_EQ(Run(), firmware::kBadWriteModeReply);
    EXPECT_TRUE(LogContains("err 55"));
    EXPECT_EQ(DeviceBytes(), (Bytes{'W'}));
}

TEST_F(Programmer, NoAddressReplyIsResult4WithEndByte) {
    image[0x3000] = 0;
    FailAt(sim::BootStep::Address, sim::BootFault::Silent);
    EXPECT_EQ(Run(), firmware::kNoAddressReply);
    EXPECT_TRUE(EndsWithEndByte());
}

TEST_F(Programmer, WrongAddressEchoIsResult5WithEndByte) {
    image[0x3000] = 0;
    FailAt(sim::BootStep::Address, sim::BootFault::WrongReply, 0x31);
    EXPECT_EQ(Run(), firmware::kBadAddressEcho);
    EXPECT_TRUE(EndsWithEndByte());
}

TEST_F(Programmer, NoDataReplyIsResult6WithEndByte) {
    image[0x3000] = 0;
    FailAt(sim::BootStep::Data, sim::BootFault::Silent);
    EXPECT_EQ(Run(), firmware::kNoDataReply);
    EXPECT_TRUE(EndsWithEndByte());
}

TEST_F(Programmer, WrongChecksumOnTheThirdPageStopsAfterThatPage) {
    image[0x3000] = 0;
    image[0x3080] = 0;
    image[0x3100] = 0;
    image[0x3180] = 0;
    FailAt(sim::BootStep::Data, sim::BootFault::WrongReply, 0, 3);
    EXPECT_EQ(Run(), firmware::kBadDataEcho);
    EXPECT_TRUE(EndsWithEndByte());
    EXPECT_TRUE(LogContains("書込3100"));
    EXPECT_FALSE(LogContains("書込3180"));
}

// A program that must close within seconds asks the pass to end: the page in
// hand is finished whole, and the closing byte follows it, never a page cut.
TEST_F(Programmer, EndedWritePassFinishesThePageInHandThenSendsOnlyTheEndByte) {
    for (uint32_t a = 0x3000; a < 0x3200; ++a) image[a] = static_cast<uint8_t>(a * 7);
    std::thread closer([this] {
        Eventually([this] { return LogContains("書込3080"); }, 5000);
        wire::SetLinkFlag(wire::kFlagEndWritePass);
    });
    const int result = Run();
    closer.join();
    EXPECT_EQ(result, firmware::kWritePassEnded);
    EXPECT_TRUE(EndsWithEndByte());
    EXPECT_FALSE(LogContains("書込3100"));
    const Bytes page = Page(0x3080, image);
    const Bytes got = DeviceBytes();
    ASSERT_GT(got.size(), page.size());
    EXPECT_EQ(Bytes(got.end() - 1 - page.size(), got.end() - 1), page);
    EXPECT_FALSE(wire::LinkFlagSet(wire::kFlagEndWritePass));
    EXPECT_FALSE(firmware::ProgramResultLeavesBootMode(result));
}

TEST_F(Programmer, NoProgramReplyIsResult8WithEndByte) {
    image[0x3000] = 0;
    FailAt(sim::BootStep::Program, sim::BootFault::Silent);
    EXPECT_EQ(Run(), firmware::kNoProgramReply);
    EXPECT_TRUE(EndsWithEndByte());
}

TEST_F(Programmer, WorkerLogsTheResultAndPostsDone) {
    firmware::FirmwareImage.fill(0xFF);
    FailAt(sim::BootStep::Write, sim::BootFault::WrongReply, 0x55);
    firmware::FirmwareUpdateWorker(nullptr);
    EXPECT_TRUE(LogContains("更新失敗 err: 03"));
    platform::posix::Posted msg{};
    ASSERT_TRUE(AwaitPosted(wire::UM_WORKER_DONE, msg, 100));
    EXPECT_EQ(msg.wParam, 0u);
}

TEST(BootBlocks, FirstUsedAddress) {
    firmware::Image img;
    img.fill(0xFF);
    EXPECT_EQ(firmware::FirstUsedAddress(img, 0xA000, 0x2000), -1);
    img[0xA001] = 0;
    EXPECT_EQ(firmware::FirstUsedAddress(img, 0xA000, 0x2000), 0xA001);
    EXPECT_EQ(firmware::FirstUsedAddress(img, 0xA080, 0x80), -1);
}

}  // namespace
