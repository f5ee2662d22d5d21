// receiver_test.cpp - the receiver on a real pseudo-terminal: handshake, bursts, stray bytes,
// raw capture and over-long frames, with edge and level signalling alike.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <vector>

#include "device_link.h"
#include "link/frame.h"
#include "link/receiver.h"
#include "link/serial_session.h"

namespace {

using platform::posix::EventSignal;
using Bytes = std::vector<uint8_t>;

int Request(uint8_t command) {
    wire::TransmitterLock tx(false);
    wire::ArmResponse();
    wire::SendFrame(command, 0);
    return wire::WaitForResponse();
}

size_t RLines() {
    size_t n = 0;
    for (const auto& line : platform::posix::LogHistory()) n += line.rfind("R-", 0) == 0;
    return n;
}

class Receiver : public tqtest::DeviceLinkTest, public ::testing::WithParamInterface<EventSignal> {
protected:
    void SetUp() override {
        DeviceLinkTest::SetUp();
        platform::posix::SetEventSignal(GetParam());
        OpenSession();
    }
};

TEST_P(Receiver, AnsweredRequestIsAcceptedAndLoggedBothWays) {
    EXPECT_EQ(Request(0x61), wire::kAccepted);
    const auto log = platform::posix::LogHistory();
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[0], "T-  7 0261000003660D");
    EXPECT_EQ(log[1], "R-  7 0230000003350D");
    EXPECT_EQ(DeviceBytes(), (Bytes{0x02, 0x61, 0x00, 0x00, 0x03, 0x66, 0x0D}));
}

TEST_P(Receiver, RefusedAndUnansweredRequests) {
    Configure([](sim::DeviceModel& m) {
        m.SetFault(0x62, sim::Fault::Refuse);
        m.SetFault(0x21, sim::Fault::Silent);
    });
    EXPECT_EQ(Request(0x62), wire::kRefused);
    EXPECT_EQ(Request(0x21), wire::kNoAnswer);
}

TEST_P(Receiver, FrameInTwoBurstsIsDeliveredOnce) {
    Configure([](sim::DeviceModel& m) { m.SetFault(0x61, sim::Fault::Split, 40); });
    EXPECT_EQ(Request(0x61), wire::kAccepted);
    EXPECT_EQ(RLines(), 1u);
}

TEST_P(Receiver, BadChecksumIsLoggedAndDeliveredWithItsStatus) {
    Configure([](sim::DeviceModel& m) { m.SetFault(0x61, sim::Fault::BadChecksum); });
    EXPECT_EQ(Request(0x61), wire::kAccepted);
    EXPECT_EQ(RLines(), 1u);
}

// Stray bytes followed by silence must go after their 100 ms, or the next
// frame would be read from behind them and lost.
TEST_P(Receiver, StrayBytesThenSilenceAreDroppedAndTheNextFrameIsRead) {
    Configure([](sim::DeviceModel& m) { m.SetFault(0x61, sim::Fault::GarbageFirst, 200); });
    EXPECT_EQ(Request(0x61), wire::kAccepted);
    EXPECT_EQ(RLines(), 1u);
    EXPECT_EQ(wire::QueuedInputCount(), 0);
}

// Two answers arriving together: the second is handled without waiting for
// a further byte (which under edge signalling would never come).
TEST_P(Receiver, FrameLeftQueuedAfterAPassIsHandled) {
    {
        wire::TransmitterLock tx(false);
        wire::SendFrame(0x61, 0);
        wire::SendFrame(0x62, 0);
    }
    EXPECT_TRUE(Eventually([] { return RLines() == 2; }, 2000));
}

TEST_P(Receiver, OverLongFrameNeverOverrunsAndTheLineStaysInStep) {
    Configure([](sim::DeviceModel& m) { m.SetFault(0x61, sim::Fault::Oversize); });
    EXPECT_EQ(Request(0x61), wire::kAccepted);  // delivered, its status read
    bool logged = false;
    for (const auto& line : platform::posix::LogHistory()) logged |= line.rfind("R-607 02", 0) == 0;
    EXPECT_TRUE(logged);
    EXPECT_EQ(Request(0x62), wire::kAccepted);
    EXPECT_EQ(RLines(), 2u);
}

// A noise byte taken for an STX, declaring far more than ever comes: once the line
// has been quiet a moment the receiver gives the frame up, and the next request is
// answered within its one-second wait instead of being read into the noise.
TEST_P(Receiver, TruncatedHugeFrameIsGivenUpWhenTheLineGoesQuiet) {
    Bytes noise = {0x02, 0x30, 0xFF, 0xFF};
    noise.insert(noise.end(), 40, 'N');
    device->Inject(noise);
    EXPECT_TRUE(Eventually([] { return RLines() == 1; }, 2000));
    EXPECT_EQ(Request(0x61), wire::kAccepted);
    EXPECT_EQ(RLines(), 2u);
}

TEST_P(Receiver, RawCaptureHandsOverOneByteAtATime) {
    Configure([](sim::DeviceModel& m) { m.EnterBootMode(); });
    wire::SetLinkFlag(wire::kFlagRawCapture);
    wire::ResponseReady.store(0);
    // Two erase commands: two status replies, which arrive together.
    const uint8_t erase[6] = {'E', 0x01, 0x01, 'E', 0x00, 0x00};
    wire::WritePort(wire::CommHandle.load(), erase, 6);
    uint8_t byte = 0xEE;
    ASSERT_EQ(wire::WaitForBootByte(100, &byte), 1);
    EXPECT_EQ(byte, 0x00);
    ASSERT_TRUE(Eventually([] { return wire::QueuedInputCount() == 1; }, 1000));
    platform::SleepMs(30);
    EXPECT_EQ(wire::QueuedInputCount(), 1);  // not taken while the first is unread
    wire::ResponseReady.store(0);
    byte = 0xEE;
    ASSERT_EQ(wire::WaitForBootByte(100, &byte), 1);
    EXPECT_EQ(byte, 0x00);
    EXPECT_TRUE(platform::posix::LogHistory().empty());  // raw bytes are not logged
    wire::ClearLinkFlag(wire::kFlagRawCapture);
}

TEST_P(Receiver, RawDrainRemovesBytesBehindTheHandedOverOne) {
    Configure([](sim::DeviceModel& m) { m.EnterBootMode(); });
    wire::SetLinkFlag(wire::kFlagRawCapture);
    wire::ResponseReady.store(0);
    const uint8_t erase[9] = {'E', 0x01, 0x01, 'E', 0x00, 0x00, 'E', 0x02, 0x02};
    wire::WritePort(wire::CommHandle.load(), erase, 9);
    uint8_t byte = 0;
    ASSERT_EQ(wire::WaitForBootByte(100, &byte), 1);
    ASSERT_TRUE(Eventually([] { return wire::QueuedInputCount() == 2; }, 1000));
    wire::DrainRawInput();
    EXPECT_EQ(wire::QueuedInputCount(), 0);
    wire::ClearLinkFlag(wire::kFlagRawCapture);
}

// The page's discard takes at most ten bytes, and only what is queued: it
// never waits for bytes that are not there.
TEST_P(Receiver, RawDrainTakesAtMostTenQueuedBytes) {
    Configure([](sim::DeviceModel& m) { m.EnterBootMode(); });
    wire::SetLinkFlag(wire::kFlagRawCapture);
    wire::ResponseReady.store(0);
    uint8_t erases[3 * 13];
    for (int i = 0; i < 13; ++i) {
        erases[3 * i] = 'E';
        erases[3 * i + 1] = erases[3 * i + 2] = static_cast<uint8_t>(i % 7);
    }
    wire::WritePort(wire::CommHandle.load(), erases, sizeof erases);
    uint8_t byte = 0;
    ASSERT_EQ(wire::WaitForBootByte(100, &byte), 1);
    ASSERT_TRUE(Eventually([] { return wire::QueuedInputCount() == 12; }, 2000));
    wire::DrainRawInput();
    EXPECT_EQ(wire::QueuedInputCount(), 2);
    wire::DrainRawInput();
    EXPECT_EQ(wire::QueuedInputCount(), 0);
    const auto start = std::chrono::steady_clock::now();
    wire::DrainRawInput();  // nothing queued: no read, no wait
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(5));
    wire::ClearLinkFlag(wire::kFlagRawCapture);
}

// The dialog that hears of the answer may clear the flag at once (the boot-mode
// programmer does): the flag must be up before the message goes, never after.
TEST_P(Receiver, NotifyOnResponseFiresOnceForTheNextFrame) {
    std::atomic<int> readyAtPost{-1};
    platform::posix::WatchPosts([&](const platform::posix::Posted& p) {
        if (p.message == wire::UM_RESPONSE_ARRIVED) readyAtPost.store(wire::ResponseArrived() ? 1 : 0);
    });
    wire::NotifyOnResponse.value.store(1);
    EXPECT_EQ(Request(0x61), wire::kAccepted);
    platform::posix::Posted msg{};
    ASSERT_TRUE(AwaitPosted(wire::UM_RESPONSE_ARRIVED, msg, 1000));
    platform::posix::WatchPosts(nullptr);
    EXPECT_EQ(readyAtPost.load(), 1);
    EXPECT_EQ(msg.wParam, 1u);
    EXPECT_EQ(msg.lParam, 0);
    EXPECT_EQ(wire::NotifyOnResponse.value.load(), 0u);
    EXPECT_EQ(Request(0x61), wire::kAccepted);
    EXPECT_FALSE(platform::posix::TakePosted(msg, 100));
}

INSTANTIATE_TEST_SUITE_P(Signals, Receiver, ::testing::Values(EventSignal::Level, EventSignal::Edge),
                         [](const auto& info) {
                             return info.param == EventSignal::Level ? std::string("Level") : std::string("Edge");
                         });

}  // namespace
