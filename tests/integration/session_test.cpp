// session_test.cpp - opening and closing the session: refusals, reopening, and a stop that
// releases a receiver blocked in its wait.
#include <gtest/gtest.h>

#include <chrono>

#include "device_link.h"
#include "link/frame.h"
#include "link/receiver.h"
#include "link/serial_session.h"

namespace {

class Session : public tqtest::DeviceLinkTest {};

int Request(uint8_t command) {
    wire::TransmitterLock tx(false);
    wire::ArmResponse();
    wire::SendFrame(command, 0);
    return wire::WaitForResponse();
}

TEST_F(Session, PortZeroOrUnmappedIsAFailedOpenWithNothingLeftRunning) {
    wire::PortNumber = 0;
    EXPECT_EQ(wire::StartReceiver(), wire::kOpenFailed);
    EXPECT_FALSE(wire::SessionOpen());
    wire::PortNumber = 7;
    EXPECT_EQ(wire::StartReceiver(), wire::kOpenFailed);
    EXPECT_FALSE(wire::SessionOpen());
    EXPECT_EQ(wire::StopReceiver(), 0);
}

// Port numbers are not limited to one digit: COM10 and above are Windows's
// device namespace (the Win32 platform's business); here the number opens the
// path it is mapped to like any other.
TEST_F(Session, PortTenAndAboveOpensByNumber) {
    platform::posix::ClearPortMap();
    platform::posix::MapPort(12, device->SlavePath());
    wire::PortNumber = 12;
    ASSERT_EQ(wire::StartReceiver(), 0);
    EXPECT_EQ(Request(0x61), wire::kAccepted);
}

TEST_F(Session, SecondOpenIsRefusedAndTheSessionKeepsWorking) {
    OpenSession();
    EXPECT_EQ(wire::StartReceiver(), wire::kAlreadyOpen);
    EXPECT_EQ(Request(0x61), wire::kAccepted);
}

TEST_F(Session, CloseThenOpenAgainWorks) {
    OpenSession();
    EXPECT_EQ(Request(0x61), wire::kAccepted);
    wire::StopReceiver();
    EXPECT_EQ(wire::CommHandle.load(), nullptr);
    EXPECT_FALSE(wire::SessionOpen());
    OpenSession();
    EXPECT_EQ(Request(0x62), wire::kAccepted);
}

// The bound only catches a stop that hangs in the receiver's wait; the
// receiver's own idle wait is far shorter than AwaitThreadEnd's 10 s.
TEST_F(Session, StopReleasesABlockedReceiver) {
    OpenSession();
    platform::SleepMs(50);  // the receiver is now waiting for input
    const auto start = std::chrono::steady_clock::now();
    wire::StopReceiver();
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_LT(took, std::chrono::seconds(2));
    EXPECT_FALSE(wire::LinkFlagSet(wire::kFlagStopReceiver));
}

TEST_F(Session, StopLeavesTheOtherFlagsAsTheyAre) {
    OpenSession();
    wire::SetLinkFlag(wire::kFlagStopSequence);
    wire::StopReceiver();
    EXPECT_TRUE(wire::LinkFlagSet(wire::kFlagStopSequence));
}

}  // namespace
