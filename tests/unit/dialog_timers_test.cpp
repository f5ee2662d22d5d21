// dialog_timers_test.cpp - dialog timers without a window (the console's and the tests' sinks) keep
// SetTimer's rules: a timer repeats until it is stopped, a start on a running
// id restarts it, a period below 10 ms is 10 ms, and the clock may wrap.
#include <gtest/gtest.h>

#include "platform/dialog_timers.h"
#include "platform/platform.h"
#include "platform/posix/posix_hooks.h"

namespace {

TEST(DialogTimers, RepeatEachPeriodUntilStopped) {
    platform::DialogTimers timers;
    timers.Start(7, 100, 1000);
    EXPECT_EQ(timers.TakeDue(1099), -1);
    EXPECT_EQ(timers.TakeDue(1100), 7);
    EXPECT_EQ(timers.TakeDue(1100), -1);  // armed again for 1200
    EXPECT_TRUE(timers.Running(7));
    EXPECT_EQ(timers.TakeDue(1200), 7);
    timers.Stop(7);
    EXPECT_EQ(timers.TakeDue(5000), -1);
    EXPECT_FALSE(timers.Running(7));
    EXPECT_FALSE(timers.AnyRunning());
}

TEST(DialogTimers, StartOnARunningIdRestartsIt) {
    platform::DialogTimers timers;
    timers.Start(3, 100, 0);
    timers.Start(3, 100, 80);
    EXPECT_EQ(timers.TakeDue(100), -1);
    EXPECT_EQ(timers.TakeDue(180), 3);
}

TEST(DialogTimers, APeriodBelowTenMillisecondsIsTen) {
    platform::DialogTimers timers;
    timers.Start(1, 0, 500);
    EXPECT_EQ(timers.TakeDue(509), -1);
    EXPECT_EQ(timers.TakeDue(510), 1);
}

TEST(DialogTimers, DueAcrossTheClocksWrap) {
    platform::DialogTimers timers;
    timers.Start(2, 100, 0xFFFFFFC0u);
    EXPECT_EQ(timers.TakeDue(0xFFFFFFF0u), -1);
    EXPECT_EQ(timers.TakeDue(0x24u), 2);
}

TEST(DialogTimers, AFullTableStartsNoMore) {
    platform::DialogTimers timers;
    int started = 0;
    while (timers.Start(started + 1, 100, 0)) ++started;
    EXPECT_GT(started, 1);
    EXPECT_FALSE(timers.Running(started + 1));
    timers.Clear();
    EXPECT_FALSE(timers.AnyRunning());
}

// The recording sink that the dialog tests pump: its timer fires again until
// the dispatcher stops it, as the dialog's does.
TEST(RecordingUiTimers, RepeatUntilStopped) {
    platform::posix::ResetUi();
    platform::StartTimer(5, 100);
    EXPECT_EQ(platform::posix::TakeDueTimer(), -1);
    platform::SleepMs(120);
    EXPECT_EQ(platform::posix::TakeDueTimer(), 5);
    EXPECT_TRUE(platform::posix::TimerRunning(5));
    platform::SleepMs(120);
    EXPECT_EQ(platform::posix::TakeDueTimer(), 5);
    platform::StopTimer(5);
    platform::SleepMs(120);
    EXPECT_EQ(platform::posix::TakeDueTimer(), -1);
    EXPECT_FALSE(platform::posix::TimerRunning(5));
    platform::posix::ResetUi();
}

}  // namespace
