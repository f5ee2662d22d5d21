// open_reason_test.cpp - a port that cannot be opened says why: one that does
// not exist and one that another open holds are told apart, in the box and
// the log; the port edit takes the number as Windows names the port.
#include <gtest/gtest.h>

#include <string>

#include "dialog_test.h"
#include "link/serial_session.h"
#include "platform/port_info.h"
#include "platform/posix/port_map.h"
#include "shell/command_ids.h"
#include "shell/session_commands.h"

namespace {

TEST(PortEdit, TakesTheNumberAsWindowsNamesThePort) {
    const struct {
        const char* text;
        int number;
    } cases[] = {{"5", 5},   {"COM5", 5}, {"com5", 5}, {"Com12", 12}, {" COM3", 3},
                 {"COM", 0}, {"abc", 0},  {"", 0},     {"CO5", 0},    {"COMX", 0}};
    for (const auto& c : cases) EXPECT_EQ(shell::PortNumberFromEdit(c.text), c.number) << c.text;
}

class OpenReason : public tqtest::DialogTest {};

TEST_F(OpenReason, AMissingPortAndAHeldOneAreToldApart) {
    platform::posix::MapPort(5, ::testing::TempDir() + "tq_no_such_tty");
    platform::posix::SetControl(shell::kIdPortEdit, "COM5");
    Press(shell::kIdOpen);
    ASSERT_EQ(platform::posix::BoxesShown().size(), 1u);
    // The box takes UTF-8: the system's words beside the console's own may be in any language.
    // The ports there are follow, as tq73 ports names them.
    const std::string there = platform::ports::PortsSummary(platform::ports::GatherPorts());
    EXPECT_EQ(platform::posix::BoxesShown()[0],
              std::string(u8"COMがオープンできません\n\nCOM5 does not exist on this PC; it has ") +
                  (there == "none" ? "no serial port" : there));
    const std::string box = platform::posix::BoxesShown()[0];
    EXPECT_TRUE(LogContains(box.substr(box.find("COM5 does not exist"))));  // all ASCII here
    EXPECT_FALSE(wire::SessionOpen());

    // Port 1 is the simulated unit's; port 6 names the same device, held by
    // the session's open.
    platform::posix::SetControl(shell::kIdPortEdit, "com1");
    Press(shell::kIdOpen);
    ASSERT_TRUE(wire::SessionOpen());
    std::string path;
    ASSERT_TRUE(platform::posix::MappedPort(1, path));
    platform::posix::MapPort(6, path);
    EXPECT_EQ(platform::PortOpen(6), nullptr);
    EXPECT_EQ(platform::PortOpenFault(), platform::OpenFault::InUse);
    EXPECT_EQ(wire::OpenSerialPort(wire::CommHandle, 6, wire::SessionLine(), 512, 512), wire::kOpenFailed);
    EXPECT_STREQ(wire::OpenFailureText(), "COM6 is in use by another program");
    Press(shell::kIdClose);

    // A number that names no port says nothing beyond the console's own text.
    platform::posix::ResetUi();
    platform::posix::SetControl(shell::kIdPortEdit, "abc");
    Press(shell::kIdOpen);
    ASSERT_EQ(platform::posix::BoxesShown().size(), 1u);
    EXPECT_EQ(platform::posix::BoxesShown()[0], "COMがオープンできません");
}

// The system's word that a port was removed ends that port's session only.
TEST_F(OpenReason, ARemovedPortEndsItsSessionAndNoOther) {
    Press(shell::kIdOpen);
    ASSERT_TRUE(wire::SessionOpen());
    shell::OnPortRemoved(2);
    shell::OnPortRemoved(0);
    EXPECT_TRUE(wire::SessionOpen());
    shell::OnPortRemoved(1);
    EXPECT_FALSE(wire::SessionOpen());
    EXPECT_TRUE(platform::posix::ControlEnabled(shell::kIdPortEdit));
    EXPECT_TRUE(LogContains("COM1 was removed from the system (the adapter was unplugged): the session is closed; "
                            "plug it in again and press open"));
    shell::OnPortRemoved(1);  // no session: nothing more
    Press(shell::kIdOpen);
    EXPECT_TRUE(wire::SessionOpen());
}

}  // namespace
