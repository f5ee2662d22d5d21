// device_link.cpp - set-up and tear-down of the simulated device link.
#include "device_link.h"

#include <chrono>
#include <thread>

#include "link/serial_session.h"

namespace tqtest {

void DeviceLinkTest::SetUp() {
    platform::posix::ResetUi();
    platform::posix::ClearPortMap();
    platform::posix::SetEventSignal(platform::posix::EventSignal::Level);
    wire::LinkFlags.store(0);
    wire::ResponseReady.store(0);
    wire::NotifyOnResponse.value.store(0);
    device = std::make_unique<sim::PtyDevice>();
    std::string error;
    ASSERT_TRUE(device->Start(&error)) << error;
    platform::posix::MapPort(1, device->SlavePath());
}

void DeviceLinkTest::TearDown() {
    wire::StopReceiver();
    device->Stop();
    wire::LinkFlags.store(0);
    platform::posix::ClearPortMap();
}

void DeviceLinkTest::OpenSession() {
    wire::PortNumber = 1;
    ASSERT_EQ(wire::StartReceiver(), 0);
}

bool DeviceLinkTest::DeviceReceived(size_t n, int timeoutMs) { return device->WaitForReceivedCount(n, timeoutMs); }

bool DeviceLinkTest::AwaitPosted(uint32_t message, platform::posix::Posted& out, int timeoutMs) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (std::chrono::steady_clock::now() < until) {
        if (platform::posix::TakePosted(out, 50) && out.message == message) return true;
    }
    return false;
}

bool DeviceLinkTest::LogContains(const std::string& text) {
    for (const auto& line : platform::posix::LogHistory()) {
        if (line == text) return true;
    }
    return false;
}

bool DeviceLinkTest::Eventually(const std::function<bool()>& pred, int timeoutMs) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!pred()) {
        if (std::chrono::steady_clock::now() >= until) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

}  // namespace tqtest
