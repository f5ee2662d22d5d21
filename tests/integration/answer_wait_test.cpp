// answer_wait_test.cpp - the one wait for an answer and the platform's signal and thread-end wait:
// an answer is taken whenever it lands inside the bound, a raise is never
// taken for an answer, and every bound holds (silent device, port closed
// under the wait, a thread that does not end).
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "device_link.h"
#include "link/command_library.h"
#include "link/frame.h"
#include "link/receiver.h"
#include "link/serial_session.h"

namespace {

using Clock = std::chrono::steady_clock;
using wire::AnswerWait;

double MsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// Stands for an open port without a receiver, so that the waits can be
// driven by hand; restored afterwards.
class AnswerWaitTest : public ::testing::Test {
protected:
    void SetUp() override {
        wire::CommHandle.store(&token_);
        wire::ArmResponse();
    }
    void TearDown() override {
        wire::CommHandle.store(nullptr);
        wire::ArmResponse();
    }
    int token_ = 0;
};

struct Landing {
    const char* what;
    int atMs;    // when the answer lands
    bool raise;  // with the receiver's raise, or only the flag
    uint32_t boundMs;
    AnswerWait expected;
};

// The answer lands at atMs on another thread; the flag alone (no raise) is
// what a wake lost or late would leave: it must still count at the bound.
TEST_F(AnswerWaitTest, AnswersThatLandInsideTheBoundAreTaken) {
    const Landing cases[] = {
        {"early, raised", 20, true, 1000, AnswerWait::Arrived},
        {"just before the bound, raised", 220, true, 300, AnswerWait::Arrived},
        {"just before the bound, flag only", 200, false, 300, AnswerWait::Arrived},
        {"after the bound", 450, true, 300, AnswerWait::TimedOut},
    };
    for (const Landing& c : cases) {
        wire::ArmResponse();
        std::thread device([&c] {
            std::this_thread::sleep_for(std::chrono::milliseconds(c.atMs));
            if (c.raise) {
                wire::MarkAnswerReady();
            } else {
                wire::ResponseReady.store(1, std::memory_order_release);
            }
        });
        const auto start = Clock::now();
        EXPECT_EQ(wire::AwaitAnswer(c.boundMs), c.expected) << c.what;
        if (c.expected == AnswerWait::TimedOut) {
            EXPECT_GE(MsSince(start), c.boundMs - 1.0) << c.what;
        }
        device.join();
    }
}

// The receiver delivered while the requester was between its clearing and
// its wait: the raise waits for it, and the wait ends at once.
TEST_F(AnswerWaitTest, AnswerBetweenClearingAndWaitingEndsTheWaitAtOnce) {
    wire::ArmResponse();
    std::thread device([] { wire::MarkAnswerReady(); });
    device.join();
    const auto start = Clock::now();
    EXPECT_EQ(wire::AwaitAnswer(1000), AnswerWait::Arrived);
    EXPECT_LT(MsSince(start), 500.0);
}

// A raise with no answer behind it (left from an earlier answer, or a wake
// for a closing port that did not close) only makes the wait look again.
TEST_F(AnswerWaitTest, SpuriousWakeUpsAreNotTakenForAnAnswer) {
    wire::MarkAnswerReady();  // an earlier answer's raise, never waited for
    wire::ArmResponse();
    std::thread waker([] {
        for (int i = 0; i < 5; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            wire::WakeAnswerWaiter();
        }
    });
    const auto start = Clock::now();
    EXPECT_EQ(wire::AwaitAnswer(250), AnswerWait::TimedOut);
    EXPECT_GE(MsSince(start), 249.0);
    waker.join();
}

TEST_F(AnswerWaitTest, PortClosedUnderTheWaitEndsItAtOnce) {
    std::thread closer([] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        wire::CommHandle.store(nullptr);
        wire::WakeAnswerWaiter();
    });
    const auto start = Clock::now();
    EXPECT_EQ(wire::AwaitAnswer(5000), AnswerWait::PortClosed);
    EXPECT_LT(MsSince(start), 2000.0);
    EXPECT_EQ(wire::LastAnswerWait(), AnswerWait::PortClosed);
    closer.join();
}

// The callers keep their numbers: with the port closed each says "no answer".
TEST_F(AnswerWaitTest, CallersKeepTheirResultCodes) {
    wire::CommHandle.store(nullptr);
    uint8_t byte = 0;
    EXPECT_EQ(wire::WaitForResponse(), wire::kNoAnswer);
    EXPECT_EQ(wire::WaitForBootByte(100, &byte), 0);
    EXPECT_EQ(wire::AwaitOwnAnswer(), wire::kNoAnswer);
    wire::CommHandle.store(&token_);
    wire::ResponseBuffer[1] = '0';
    wire::ResponseReady.store(1);
    EXPECT_EQ(wire::WaitForResponse(), wire::kAccepted);
    EXPECT_EQ(wire::AwaitOwnAnswer(), wire::kAccepted);
    wire::ResponseBuffer[1] = 'X';
    EXPECT_EQ(wire::WaitForResponse(), wire::kRefused);
    EXPECT_EQ(wire::AwaitOwnAnswer(), wire::kRefusedPolled);
}

// One raise, one wait: the signal is taken by the wait that sees it.
TEST(PlatformSignal, ARaiseIsTakenByOneWait) {
    static const platform::SignalHandle s = platform::NewSignal();  // kept, as the console keeps its own
    platform::RaiseSignal(s);
    platform::RaiseSignal(s);
    EXPECT_TRUE(platform::WaitSignal(s, 0));
    const auto start = Clock::now();
    EXPECT_FALSE(platform::WaitSignal(s, 100));
    EXPECT_GE(MsSince(start), 99.0);
}

TEST(PlatformThreads, TheThreadEndWaitEndsWhenTheThreadDoesAndHoldsItsBound) {
    static std::atomic<bool> release{false};
    release.store(false);
    const platform::ThreadHandle stuck = platform::StartThread(
        [](void*) -> uint32_t {
            while (!release.load()) std::this_thread::sleep_for(std::chrono::milliseconds(5));
            return 0;
        },
        nullptr);
    auto start = Clock::now();
    EXPECT_FALSE(platform::UiAwaitThreadEnd(stuck, 300));  // a thread that does not end
    EXPECT_GE(MsSince(start), 299.0);
    std::thread releaser([] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        release.store(true);
    });
    start = Clock::now();
    EXPECT_EQ(wire::AwaitThreadEnd(stuck), 0);
    EXPECT_LT(MsSince(start), 5000.0);
    releaser.join();
}

class SilentDevice : public tqtest::DeviceLinkTest {};

// A device that never answers: each wait gives up after its bound, not before.
TEST_F(SilentDevice, EachWaitHoldsItsBound) {
    Configure([](sim::DeviceModel& m) {
        m.SetFault(0x61, sim::Fault::Silent);
        m.SetFault(0x50, sim::Fault::Silent);
    });
    OpenSession();
    auto start = Clock::now();
    {
        wire::TransmitterLock tx(false);
        wire::ArmResponse();
        wire::SendFrame(0x61, 0);
    }
    EXPECT_EQ(wire::WaitForResponse(), wire::kNoAnswer);
    EXPECT_GE(MsSince(start), wire::kWaitForResponseBoundMs - 1.0);
    uint8_t data[16];
    start = Clock::now();
    EXPECT_EQ(wire::ReadFlashChunk(data, 0, 16), wire::kNoAnswer);
    EXPECT_GE(MsSince(start), wire::kOwnPollBoundMs - 1.0);
    EXPECT_EQ(wire::LastAnswerWait(), AnswerWait::TimedOut);
}

// The session closed under a worker's wait: it ends at once and tells why.
TEST_F(SilentDevice, CloseUnderAWaitEndsItAsPortClosed) {
    Configure([](sim::DeviceModel& m) { m.SetFault(0x50, sim::Fault::Silent); });
    OpenSession();
    std::atomic<int> result{-1};
    std::atomic<bool> closed{false};
    const auto start = Clock::now();
    std::thread worker([&] {
        uint8_t data[16];
        result.store(wire::ReadFlashChunk(data, 0, 16));
        closed.store(wire::LastAnswerWait() == AnswerWait::PortClosed);
    });
    ASSERT_TRUE(DeviceReceived(13));
    wire::StopReceiver();
    worker.join();
    EXPECT_EQ(result.load(), wire::kNoAnswer);
    EXPECT_TRUE(closed.load());
    EXPECT_LT(MsSince(start), 3000.0);
}

}  // namespace
