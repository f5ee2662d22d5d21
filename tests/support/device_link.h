// device_link.h - a simulated device on a real pseudo-terminal, opened by the
// console's own session code as port 1, for tests that talk to a device.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "link/link_state.h"
#include "platform/posix/port_map.h"
#include "platform/posix/posix_hooks.h"
#include "pty_device.h"

namespace tqtest {

// Starts the device and the console's session on it; stops both afterwards
// and leaves the process-wide link state as a fresh program has it.
class DeviceLinkTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Opens the console's session (StartReceiver on port 1).
    void OpenSession();
    // Waits until the device took in n bytes (bounded).
    bool DeviceReceived(size_t n, int timeoutMs = 3000);
    std::vector<uint8_t> DeviceBytes() { return device->Received(); }
    void Configure(const std::function<void(sim::DeviceModel&)>& change) { device->Configure(change); }
    // Waits for a posted message of the given kind; false on time-out.
    bool AwaitPosted(uint32_t message, platform::posix::Posted& out, int timeoutMs = 5000);
    bool LogContains(const std::string& text);
    // Polls until pred holds or timeoutMs passes.
    static bool Eventually(const std::function<bool()>& pred, int timeoutMs = 3000);

    std::unique_ptr<sim::PtyDevice> device;
};

}  // namespace tqtest
