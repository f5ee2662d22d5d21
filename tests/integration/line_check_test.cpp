// line_check_test.cpp - the line check against a device that answers, refuses
// or falls silent: what it counts as an answer and how it ends.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "dialog_test.h"
#include "link/command_library.h"
#include "link/serial_session.h"
#include "operations/line_check.h"
#include "operations/result.h"
#include "shell/command_ids.h"

namespace {

struct LineCase {
    const char* name;
    sim::Fault fault;
    int fromOccurrence;  // the first request that meets the fault
    ops::Outcome outcome;
    int asked;
    int answered;
    const char* status;  // how the status line begins
};

class LineCheckRun : public tqtest::DialogTest, public ::testing::WithParamInterface<LineCase> {};

TEST_P(LineCheckRun, CountsEveryAnswerAndEndsAsTheLineDid) {
    const LineCase& c = GetParam();
    Configure([&](sim::DeviceModel& m) { m.SetFault(wire::kMemoryRequest, c.fault, 0, c.fromOccurrence); });
    Press(shell::kIdOpen);
    ASSERT_TRUE(wire::SessionOpen());
    ASSERT_TRUE(shell::CheckLine("COM1"));
    ASSERT_TRUE(PumpUntilIdle(20000));

    const ops::OperationResult r = ops::LastResult();
    EXPECT_EQ(r.activity, ops::Activity::LineCheck);
    EXPECT_EQ(r.outcome, c.outcome);
    EXPECT_EQ(r.lineCheck.asked, c.asked);
    EXPECT_EQ(r.lineCheck.answered, c.answered);
    EXPECT_EQ(device->FramesReceived(wire::kMemoryRequest), c.asked);
    if (c.answered > 0) {
        EXPECT_GT(r.lineCheck.bestMs, 0.0);
        EXPECT_GE(r.lineCheck.medianMs, r.lineCheck.bestMs);
    } else {
        EXPECT_EQ(r.lineCheck.medianMs, 0.0);
    }
    EXPECT_TRUE(StatusStarts(c.status)) << Status();
    // The check leaves the session as it found it.
    EXPECT_TRUE(wire::SessionOpen());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, LineCheckRun,
    ::testing::Values(
        LineCase{"answering", sim::Fault::None, 0, ops::Outcome::Complete, 9, 9, "line check: "},
        // A refusal crossed the line both ways: it times the line as well.
        LineCase{"refusing", sim::Fault::Refuse, 0, ops::Outcome::Complete, 9, 9, "line check: "},
        LineCase{"silent_from_the_8th", sim::Fault::Silent, 8, ops::Outcome::Complete, 9, 7, "line check: "},
        // Two unanswered in a row end it: each waited the whole bound.
        LineCase{"silent_from_the_3rd", sim::Fault::Silent, 3, ops::Outcome::Complete, 4, 2, "line check: "},
        LineCase{"silent", sim::Fault::Silent, 0, ops::Outcome::NoAnswer, 2, 0, "line check: no answer"}),
    [](const ::testing::TestParamInfo<LineCase>& info) { return std::string(info.param.name); });

// A check asked while another operation runs is refused: it sends nothing and
// the running operation's result stays its own.
TEST_F(LineCheckRun, IsRefusedWhileAnotherOperationRuns) {
    Configure([](sim::DeviceModel& m) { m.SetFault(0x60, sim::Fault::Silent); });
    Press(shell::kIdOpen);
    Press(shell::kIdApStop);
    EXPECT_FALSE(shell::CheckLine("COM1"));
    ASSERT_TRUE(PumpUntilIdle(10000));
    EXPECT_EQ(device->FramesReceived(wire::kMemoryRequest), 0);
    const ops::OperationResult r = ops::LastResult();
    EXPECT_EQ(r.activity, ops::Activity::ApStop);
    EXPECT_EQ(r.refusals, 1u);
}

}  // namespace
