// progress_test.cpp - the progress board's arithmetic and texts, per kind of operation.
#include <gtest/gtest.h>

#include <string>

#include "operations/progress.h"
#include "operations/result.h"
#include "operations/result.h"

namespace {

using ops::Activity;
using ops::Outcome;
using ops::ProgressSnapshot;

ProgressSnapshot Snap(Activity a, uint32_t done, uint32_t total, uint32_t startMs = 1000, uint32_t unitsMs = 1000) {
    ProgressSnapshot s;
    s.activity = a;
    s.done = done;
    s.total = total;
    s.startMs = startMs;
    s.unitsMs = unitsMs;
    s.serial = 1;
    return s;
}

ProgressSnapshot Ended(ProgressSnapshot s, Outcome o, uint32_t endMs) {
    s.complete = o == Outcome::Complete;
    s.endMs = endMs;
    return s;
}

std::string Text(const ProgressSnapshot& s, uint32_t nowMs) {
    char out[160];
    ops::FormatProgress(s, nowMs, out, sizeof out);
    return out;
}

TEST(Progress, FractionsPerKind) {
    struct Case {
        const char* what;
        ProgressSnapshot s;
        uint32_t permille;
    } cases[] = {
        {"nothing yet", ProgressSnapshot{}, 0},
        {"read, a quarter", Snap(Activity::FlashRead, 32768, 131072), 250},
        {"update, pages", Snap(Activity::Update, 96, 192), 500},
        {"update, waiting for the verdict", Snap(Activity::Update, 0, 0), 0},
        {"erase has no units", Snap(Activity::FlashErase, 0, 0), 0},
        {"more done than total is full", Snap(Activity::FlashWrite, 300, 256), 1000},
        {"stop, second attempt", Snap(Activity::ApStop, 2, 3), 666},
        {"complete is full", Ended(Snap(Activity::FlashErase, 0, 0), Outcome::Complete, 2000), 1000},
        {"a refusal keeps where it stopped", Ended(Snap(Activity::FlashRead, 512, 1024), Outcome::Refused, 2000), 500},
    };
    for (const Case& c : cases) EXPECT_EQ(ops::ProgressPermille(c.s), c.permille) << c.what;

    // The chain counts its steps, each step's units inside its third.
    ProgressSnapshot chain = Snap(Activity::ParamChain, 64, 128);
    chain.step = 2;
    EXPECT_EQ(ops::ProgressPermille(chain), (2000u + 500u) / 3);
    chain.step = 1;
    chain.total = 0;
    EXPECT_EQ(ops::ProgressPermille(chain), 333u);
}

TEST(Progress, RateAndTimeLeft) {
    // 12,288 bytes in 3.3 s since the first chunk: 3.7 KB/s, 119 KB to go.
    const ProgressSnapshot s = Snap(Activity::FlashRead, 12288, 131072, 500, 1000);
    EXPECT_NEAR(ops::ProgressRate(s, 4300), 3723.6, 0.1);
    EXPECT_EQ(ops::ProgressSecondsLeft(s, 4300), 32);
    // No rate before half a second of units, nor before the first unit.
    EXPECT_EQ(ops::ProgressRate(s, 1400), 0.0);
    EXPECT_EQ(ops::ProgressSecondsLeft(s, 1400), -1);
    EXPECT_EQ(ops::ProgressRate(Snap(Activity::FlashRead, 0, 1024), 9000), 0.0);
    // Nothing left, or nothing to count: no time left to tell.
    EXPECT_EQ(ops::ProgressSecondsLeft(Snap(Activity::FlashRead, 1024, 1024), 9000), -1);
    EXPECT_EQ(ops::ProgressSecondsLeft(Snap(Activity::Sequence, 0, 0), 9000), -1);
    // The tick wraps: the rate still counts the real time.
    const ProgressSnapshot wrapped = Snap(Activity::FlashWrite, 4000, 8000, 0xFFFFF000u, 0xFFFFF000u);
    EXPECT_NEAR(ops::ProgressRate(wrapped, 0xFFFFF000u + 2000), 2000.0, 0.1);
}

TEST(Progress, RunningTexts) {
    ProgressSnapshot read = Snap(Activity::FlashRead, 12288, 131072, 500, 1000);
    read.address = 0x1000;
    ProgressSnapshot chain = Snap(Activity::ParamChain, 0, 0);
    chain.block = 2;
    chain.step = 1;
    ProgressSnapshot erase = Snap(Activity::FlashErase, 0, 0);
    erase.address = 0x2000;
    ProgressSnapshot updateErasing = Snap(Activity::Update, 0, 0);
    updateErasing.step = 1;  // the model was accepted
    struct Case {
        ProgressSnapshot s;
        uint32_t now;
        const char* text;
    } cases[] = {
        {read, 4300, "flash read 0x1000: 12,288 of 131,072 bytes, 3.7 KB/s, 0:32 left"},
        {read, 1200, "flash read 0x1000: 12,288 of 131,072 bytes"},
        {Snap(Activity::Update, 12, 192, 0, 1000), 3000, "update: page 12 of 192, 0:30 left"},
        {Snap(Activity::Update, 0, 0), 1500, "update: waiting for the device's answer to the model request"},
        {Snap(Activity::Recovery, 0, 0), 1500, "recovery: erasing"},
        {updateErasing, 1500, "update: erasing"},
        {erase, 1500, "flash erase 0x2000: waiting for the device"},
        {chain, 1500, "parameter block 2: step 2 of 3, erase"},
        {Snap(Activity::ApStop, 1, 3), 1100, "ap-stop: attempt 1 of 3"},
        {Snap(Activity::Sequence, 0, 0), 1000 + 72000, "pattern sequence: running for 1:12"},
    };
    for (const Case& c : cases) EXPECT_EQ(Text(c.s, c.now), c.text);
    EXPECT_EQ(Text(ProgressSnapshot{}, 0), "");
}

// The board: a reader sees an operation as running until the front end closes
// it, the first failure stands, and a new operation starts afresh.
TEST(Progress, BoardKeepsTheFirstFailureUntilClosed) {
    ops::ResetProgress();
    ops::OpenProgress(Activity::ParamChain, 0xE200, 3);
    const uint32_t first = ops::ReadProgress().serial;
    ops::ReportUnits(1, 3);
    ops::SetStep(1);
    EXPECT_EQ(ops::ReadProgress().total, 0u) << "a new step starts its units afresh";
    ops::ReportFailure(Outcome::Refused, 0xE200);
    ops::SetStep(2);
    ops::ReportFailure(Outcome::NoAnswer, 0xE300);
    EXPECT_EQ(ops::LastResult().outcome, Outcome::Running);
    ops::CloseProgress();
    ops::OperationResult r = ops::LastResult();
    EXPECT_EQ(r.outcome, Outcome::Refused);
    EXPECT_EQ(r.where, 0xE200u);
    EXPECT_EQ(r.failStep, 1u);
    EXPECT_EQ(r.step, 2u);
    EXPECT_EQ(r.serial, first);
    EXPECT_NE(ops::ReadProgress().endMs, 0u);
    EXPECT_EQ(r.endMs, ops::ReadProgress().endMs);
    EXPECT_FALSE(ops::ReadProgress().complete) << "a refused chain's bar is not full";
    ops::CloseProgress(Outcome::Stopped);
    EXPECT_EQ(ops::LastResult().outcome, Outcome::Refused) << "closing twice changes nothing";

    ops::OpenProgress(Activity::FlashWrite, 0x100);
    EXPECT_EQ(ops::ReadProgress().serial, first + 1);
    EXPECT_EQ(ops::ReadProgress().endMs, 0u);
    r = ops::LastResult();
    EXPECT_EQ(r.serial, first + 1);
    EXPECT_EQ(r.outcome, Outcome::Running);
    EXPECT_EQ(r.where, 0u);
    ops::ResetProgress();
}

}  // namespace
