// device_model_test.cpp - behaviour of the simulated TQ7300's device model: frames, boot protocol, injected faults.
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <numeric>
#include <utility>
#include <vector>

#include "device_model.h"
#include "frame.h"

namespace {

using Bytes = std::vector<uint8_t>;
using sim::BootBehaviour;
using sim::BootFault;
using sim::BootStep;
using sim::DeviceModel;
using sim::Fault;

const Bytes kResume = {0x02, 0x61, 0x00, 0x00, 0x03, 0x66, 0x0D};
const Bytes kAcceptedEmpty = {0x02, 0x30, 0x00, 0x00, 0x03, 0x35, 0x0D};
const Bytes kRefusedEmpty = {0x02, 0x31, 0x00, 0x00, 0x03, 0x36, 0x0D};
const Bytes kModelP = {0x02, 0x70, 0x00, 0x00, 0x03, 0x75, 0x0D};

std::vector<sim::Reply> Feed(DeviceModel& m, const Bytes& bytes) {
    m.Receive(bytes.data(), bytes.size());
    return m.TakeReplies();
}

// Everything the device would write, delays ignored.
Bytes Answer(DeviceModel& m, const Bytes& bytes) {
    Bytes all;
    for (const sim::Reply& r : Feed(m, bytes)) all.insert(all.end(), r.bytes.begin(), r.bytes.end());
    return all;
}

Bytes Concat(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

Bytes MemoryRequest(uint8_t sub, uint32_t address, const Bytes& rest) {
    Bytes payload = {sub, uint8_t(address), uint8_t(address >> 8), uint8_t(address >> 16)};
    return sim::BuildFrame(0x50, Concat(payload, rest));
}

Bytes PageOf(uint8_t first) {
    Bytes page(128);
    std::iota(page.begin(), page.end(), first);
    return page;
}

Bytes Count16(size_t n) { return {uint8_t(n), uint8_t(n >> 8)}; }

Bytes Accepted(const Bytes& payload) { return sim::BuildFrame(0x30, payload); }

uint8_t Sum(const Bytes& b) { return uint8_t(std::accumulate(b.begin(), b.end(), 0u)); }

DeviceModel BootedModel() {
    DeviceModel m;
    m.EnterBootMode();
    return m;
}

// ---- frames ----------------------------------------------------------------

TEST(Frame, BuildsWireBytesWithWrappingChecksum) {
    EXPECT_EQ(sim::BuildFrame(0x70, {}), kModelP);
    const Bytes scaled = {0x02, 0x41, 0x05, 0x00, 0x5D, 0x00, 0x4C, 0x04, 0xFD, 0x03, 0xF5, 0x0D};
    EXPECT_EQ(sim::BuildFrame(0x41, {0x5D, 0x00, 0x4C, 0x04, 0xFD}), scaled);
}

// ---- application mode -------------------------------------------------------

TEST(AppMode, ResumeRequestGetsOneAcceptingFrame) {
    DeviceModel m;
    const auto replies = Feed(m, kResume);
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_EQ(replies[0].bytes, kAcceptedEmpty);
    EXPECT_EQ(replies[0].delayMs, 0);
    EXPECT_EQ(m.FramesReceived(0x61), 1);
}

TEST(AppMode, WakeByteBeforeStopRequestIsSkipped) {
    DeviceModel m;
    EXPECT_EQ(Answer(m, Concat({0x5C}, sim::BuildFrame(0x60, {}))), kAcceptedEmpty);
    EXPECT_EQ(m.FramesReceived(0x60), 1);
    EXPECT_EQ(m.Received().size(), 8u);
}

TEST(AppMode, RequestsNobodyAwaitsAreAnsweredToo) {
    DeviceModel m;
    EXPECT_EQ(Answer(m, sim::BuildFrame(0x62, {})), kAcceptedEmpty);
    EXPECT_EQ(Answer(m, sim::BuildFrame(0x20, {0x00, 0x00, 0x00, 0x00, 0x00})), kAcceptedEmpty);
}

TEST(AppMode, ClockQueryReturnsTheClockLastSetWithWeekday) {
    DeviceModel m;
    Answer(m, sim::BuildFrame(0x20, {0xE9, 0x0E, 0x12, 0x34, 0x56}));  // 14 June 2010 12:34:56
    const Bytes monday = {0xE9, 0x0E, 0x12, 0x34, 0x56, 0x01};
    EXPECT_EQ(Answer(m, sim::BuildFrame(0x21, {})), sim::BuildFrame(0x30, monday));
}

TEST(AppMode, RequestArrivingInPiecesIsAnsweredWhenComplete) {
    DeviceModel m;
    EXPECT_TRUE(Feed(m, Bytes(kResume.begin(), kResume.begin() + 3)).empty());
    EXPECT_EQ(Answer(m, Bytes(kResume.begin() + 3, kResume.end())), kAcceptedEmpty);
}

TEST(AppMode, BadChecksumIsAnsweredAsBadFrameAndNotActedOn) {
    DeviceModel m;
    EXPECT_EQ(Answer(m, {0x02, 0x70, 0x00, 0x00, 0x03, 0x76, 0x0D}), sim::BuildFrame(sim::kStatusBadFrame, {}));
    EXPECT_FALSE(m.InBootMode());
    EXPECT_EQ(m.FramesReceived(0x70), 0);
    EXPECT_EQ(m.BadChecksumFrames(), 1);
}

TEST(AppMode, FlashWriteReadAndEraseActOnTheImage) {
    DeviceModel m;
    EXPECT_EQ(Answer(m, MemoryRequest(0x84, 0xE200, {0x11, 0x22, 0x33})), kAcceptedEmpty);
    EXPECT_EQ(Answer(m, MemoryRequest(0x04, 0xE1FF, {0x05, 0x00})),
              sim::BuildFrame(0x30, {0x00, 0x11, 0x22, 0x33, 0x00}));
    EXPECT_EQ(Answer(m, MemoryRequest(0x44, 0xE201, {0x01, 0x00})), kAcceptedEmpty);
    EXPECT_EQ(m.Flash()[0xE201], 0xFF);
    EXPECT_EQ(m.Flash()[0xE202], 0x33);
}

// One request after another on one device, each with the frame it must bring back.
using Exchange = std::pair<Bytes, Bytes>;

void ExpectExchanges(DeviceModel& m, const std::vector<Exchange>& steps, const char* name) {
    for (size_t i = 0; i < steps.size(); ++i) {
        EXPECT_EQ(Answer(m, steps[i].first), steps[i].second) << name << ", step " << i;
    }
}

TEST(AppFlash, ReadWriteAndEraseCoverThe24BitSpace) {
    DeviceModel m;
    ExpectExchanges(m,
                    {
                        {MemoryRequest(0x84, 0x123456, {0xAA, 0xBB, 0xCC}), kAcceptedEmpty},
                        {MemoryRequest(0x04, 0x123455, Count16(5)), Accepted({0x00, 0xAA, 0xBB, 0xCC, 0x00})},
                        {MemoryRequest(0x44, 0x123456, Count16(1)), kAcceptedEmpty},
                        {MemoryRequest(0x04, 0x123456, Count16(2)), Accepted({0xFF, 0xBB})},
                        {MemoryRequest(0x84, 0xFFFE, {1, 2, 3, 4}), kAcceptedEmpty},  // across the boot-mode end
                        {MemoryRequest(0x04, 0xFFFE, Count16(4)), Accepted({1, 2, 3, 4})},
                        {MemoryRequest(0x84, 0xFFFFFE, {7, 8}), kAcceptedEmpty},  // up to the last byte
                        {MemoryRequest(0x04, 0xFFFFFE, Count16(2)), Accepted({7, 8})},
                        {MemoryRequest(0x84, 0xFFFFFF, {7, 8}), kRefusedEmpty},
                        {MemoryRequest(0x04, 0xFFFFFF, Count16(2)), kRefusedEmpty},
                        {MemoryRequest(0x44, 0xFFF000, Count16(0x1001)), kRefusedEmpty},
                        {MemoryRequest(0x04, 0x000000, Count16(505)), Accepted(Bytes(505, 0x00))},
                        {MemoryRequest(0x04, 0x000000, Count16(506)), kRefusedEmpty},
                        {MemoryRequest(0x04, 0x200000, Count16(0)), Accepted({})},
                        {MemoryRequest(0x44, 0x200000, Count16(0)), kAcceptedEmpty},
                    },
                    "24-bit flash");
    EXPECT_EQ(m.Flash()[0xFFFF], 2);  // boot mode and application mode share the store
    EXPECT_EQ(m.FlashChanges(), 4u);  // a count of 0 changes nothing
}

TEST(AppFlash, ParameterAreaErasedThenWrittenReadsBack) {
    DeviceModel m;
    Bytes block(256);
    std::iota(block.begin(), block.end(), uint8_t(0x40));
    ExpectExchanges(m,
                    {
                        {MemoryRequest(0x44, 0xE200, Count16(256)), kAcceptedEmpty},
                        {MemoryRequest(0x04, 0xE200, Count16(256)), Accepted(Bytes(256, 0xFF))},
                        {MemoryRequest(0x84, 0xE200, block), kAcceptedEmpty},
                        {MemoryRequest(0x04, 0xE200, Count16(256)), Accepted(block)},
                    },
                    "parameter area");
}

TEST(AppFlash, DumpReachesTheHighestPageTouchedButNoLessThan64KiB) {
    DeviceModel m;
    m.FillFlash(0x5A);
    EXPECT_EQ(m.FlashDump().size(), 0x10000u);
    Answer(m, MemoryRequest(0x84, 0x12345, {0x11}));
    Answer(m, MemoryRequest(0x44, 0x11000, Count16(1)));
    const Bytes dump = m.FlashDump();
    ASSERT_EQ(dump.size(), 0x13000u);
    EXPECT_EQ(dump[0x12345], 0x11);
    EXPECT_EQ(dump[0x11000], 0xFF);
    EXPECT_EQ(dump[0x12346], 0x5A);  // untouched bytes read as the fill
    EXPECT_EQ(m.FlashRange(0xFFFFFE, 8), Bytes({0x5A, 0x5A}));
    m.FillFlash(0x00);
    EXPECT_EQ(m.FlashDump(), Bytes(0x10000, 0x00));
}

TEST(AppMode, CommandLibraryRequestsAreAnswered) {
    DeviceModel m;
    ExpectExchanges(m,
                    {
                        {sim::BuildFrame(0x22, {0x01}), kAcceptedEmpty},
                        {sim::BuildFrame(0x30, {0x01}), kAcceptedEmpty},
                        {sim::BuildFrame(0x31, {0x01, 0x02}), kAcceptedEmpty},
                        {sim::BuildFrame(0x32, {0x02}), kAcceptedEmpty},
                        {sim::BuildFrame(0x40, {0x00, 0xE2, 0x00, 0x10, 0x00, 0x01}), kAcceptedEmpty},
                        {sim::BuildFrame(0x41, {0x5D, 0x00, 0x4C, 0x04, 0xFD}), kAcceptedEmpty},
                        {MemoryRequest(0x81, 0x000003, {0x10, 0x20}), kAcceptedEmpty},
                        {MemoryRequest(0x02, 0x000000, Count16(4)), Accepted({0x00, 0x01, 0x02, 0x03})},
                        {MemoryRequest(0x02, 0x000000, Count16(506)), kRefusedEmpty},
                        {sim::BuildFrame(0x60, {}), kAcceptedEmpty},
                        {sim::BuildFrame(0x62, {}), kAcceptedEmpty},
                    },
                    "command library");
    EXPECT_EQ(m.FlashChanges(), 0u);
}

TEST(AppMode, PatternsAreRecordedWithTheRunnersTime) {
    DeviceModel m;
    Bytes table(53);
    std::iota(table.begin(), table.end(), uint8_t(1));
    m.SetNow(1200);
    EXPECT_EQ(Answer(m, MemoryRequest(0x83, 0, table)), kAcceptedEmpty);
    m.SetNow(1750);
    EXPECT_EQ(Answer(m, MemoryRequest(0x83, 0, {})), kAcceptedEmpty);
    m.SetFault(0x50, 0x83, Fault::Refuse);
    EXPECT_EQ(Answer(m, MemoryRequest(0x83, 0, table)), kRefusedEmpty);  // refused: not taken in
    ASSERT_EQ(m.Patterns().size(), 2u);
    EXPECT_EQ(m.Patterns()[0].ms, 1200);
    EXPECT_EQ(m.Patterns()[0].data, table);
    EXPECT_EQ(m.Patterns()[1].ms, 1750);
    EXPECT_TRUE(m.Patterns()[1].data.empty());
}

// ---- model request ----------------------------------------------------------

TEST(ModelRequest, AcceptedModelSwitchesToBootMode) {
    DeviceModel m;
    EXPECT_EQ(Answer(m, kModelP), kAcceptedEmpty);
    EXPECT_TRUE(m.InBootMode());
}

TEST(ModelRequest, OtherModelIsRefusedAndStaysInApplicationMode) {
    DeviceModel m;
    m.SetModel(0x71);
    EXPECT_EQ(Answer(m, kModelP), kRefusedEmpty);
    EXPECT_FALSE(m.InBootMode());
    EXPECT_EQ(Answer(m, sim::BuildFrame(0x71, {})), kAcceptedEmpty);
    EXPECT_TRUE(m.InBootMode());
}

TEST(ModelRequest, BytesBehindTheAcceptedRequestAreBootProtocol) {
    DeviceModel m;
    EXPECT_EQ(Answer(m, Concat(kModelP, {'W'})), Concat(kAcceptedEmpty, {0xAA}));
}

// ---- noise ------------------------------------------------------------------

// Deterministic noise that often contains STX and plausible length bytes.
Bytes Noise(uint32_t seed, size_t n) {
    Bytes out;
    for (size_t i = 0; i < n; ++i) {
        seed = seed * 1103515245u + 12345u;
        const uint8_t b = uint8_t(seed >> 16);
        out.push_back(b % 5 == 0 ? 0x02 : b % 7 == 0 ? 0x00 : b);
    }
    return out;
}

TEST(Noise, AfterAQuietLineEveryFollowingRequestIsAnswered) {
    for (uint32_t seed = 1; seed <= 300; ++seed) {
        DeviceModel m;
        Feed(m, Noise(seed, 1 + seed % 40));
        m.LineIdle();
        Feed(m, Concat(Concat(kResume, kResume), kResume));
        EXPECT_EQ(m.FramesReceived(0x61), 3) << "seed " << seed;
    }
}

TEST(Noise, RequestsRightBehindNoiseAreAnsweredBarOneOnceTheLineIsQuiet) {
    for (uint32_t seed = 1; seed <= 300; ++seed) {
        DeviceModel m;
        Feed(m, Noise(seed, 1 + seed % 40));
        for (int i = 0; i < 20; ++i) Feed(m, kResume);
        m.LineIdle();
        EXPECT_GE(m.FramesReceived(0x61), 19) << "seed " << seed;
    }
}

TEST(Noise, LongNoiseInBothModesNeverCrashes) {
    DeviceModel m;
    for (uint32_t seed = 1; seed <= 50; ++seed) {
        Feed(m, Noise(seed, 3000));
        if (seed % 2 == 0) m.LineIdle();
        if (seed % 5 == 0) Feed(m, kModelP);
    }
    SUCCEED();
}

// ---- application faults -----------------------------------------------------

TEST(AppFault, SilentSendsNothingButCountsTheRequest) {
    DeviceModel m;
    m.SetFault(0x60, Fault::Silent);
    EXPECT_TRUE(Feed(m, sim::BuildFrame(0x60, {})).empty());
    EXPECT_EQ(m.FramesReceived(0x60), 1);
    EXPECT_EQ(Answer(m, kResume), kAcceptedEmpty);  // other commands unaffected
}

TEST(AppFault, RefuseSendsStatusOneAndDoesNotAct) {
    DeviceModel m;
    m.SetFault(0x50, Fault::Refuse);
    EXPECT_EQ(Answer(m, MemoryRequest(0x84, 0x100, {0x5A})), kRefusedEmpty);
    EXPECT_EQ(m.Flash()[0x100], 0x00);
    m.SetFault(0x70, Fault::Refuse);
    EXPECT_EQ(Answer(m, kModelP), kRefusedEmpty);
    EXPECT_FALSE(m.InBootMode());
}

TEST(AppFault, SilentModelAnswerStillEntersBootMode) {
    DeviceModel m;
    m.SetFault(0x70, Fault::Silent);
    EXPECT_TRUE(Feed(m, kModelP).empty());
    EXPECT_TRUE(m.InBootMode());
}

TEST(AppFault, LateAnswersAfterTheGivenDelayOrTheDefault) {
    DeviceModel m;
    m.SetFault(0x60, Fault::Late, 700);
    auto replies = Feed(m, sim::BuildFrame(0x60, {}));
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_EQ(replies[0].bytes, kAcceptedEmpty);
    EXPECT_EQ(replies[0].delayMs, 700);
    m.SetFault(0x60, Fault::Late);
    replies = Feed(m, sim::BuildFrame(0x60, {}));
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_EQ(replies[0].delayMs, sim::kDefaultLateMs);
}

TEST(AppFault, BadChecksumCorruptsOnlyTheChecksumByte) {
    DeviceModel m;
    m.SetFault(0x61, Fault::BadChecksum);
    EXPECT_EQ(Answer(m, kResume), Bytes({0x02, 0x30, 0x00, 0x00, 0x03, 0x36, 0x0D}));
}

TEST(AppFault, GarbageFirstSendsOneToThreeJunkBytesThenPausesThenTheFrame) {
    DeviceModel m;
    m.SetFault(0x61, Fault::GarbageFirst);
    for (size_t expectedJunk = 1; expectedJunk <= 3; ++expectedJunk) {
        const auto replies = Feed(m, kResume);
        ASSERT_EQ(replies.size(), 2u);
        EXPECT_EQ(replies[0].bytes.size(), expectedJunk);
        EXPECT_NE(replies[0].bytes[0], sim::kStx);
        EXPECT_EQ(replies[1].bytes, kAcceptedEmpty);
        EXPECT_EQ(replies[1].delayMs, sim::kDefaultGarbageGapMs);
    }
}

TEST(AppFault, SplitSendsTheFrameInTwoBursts) {
    DeviceModel m;
    m.SetFault(0x61, Fault::Split, 40);
    const auto replies = Feed(m, kResume);
    ASSERT_EQ(replies.size(), 2u);
    EXPECT_GE(replies[0].bytes.size(), 5u);
    EXPECT_EQ(replies[1].delayMs, 40);
    EXPECT_EQ(Concat(replies[0].bytes, replies[1].bytes), kAcceptedEmpty);
}

TEST(AppFault, OversizeSendsAConsistent600BytePayloadFrame) {
    DeviceModel m;
    m.SetFault(0x61, Fault::Oversize);
    const Bytes frame = Answer(m, kResume);
    ASSERT_EQ(frame.size(), 607u);
    EXPECT_EQ(frame[0], 0x02);
    EXPECT_EQ(frame[1], 0x30);
    EXPECT_EQ(frame[2] | frame[3] << 8, 600);
    EXPECT_EQ(frame[604], 0x03);
    EXPECT_EQ(frame[605], sim::FrameChecksum(frame.data(), 600));
    EXPECT_EQ(frame[606], 0x0D);
}

TEST(AppFault, NoneRestoresNormalAnswers) {
    DeviceModel m;
    m.SetFault(0x61, Fault::Silent);
    m.SetFault(0x61, Fault::None);
    EXPECT_EQ(Answer(m, kResume), kAcceptedEmpty);
}

struct SubCodeFaultCase {
    const char* name;
    std::function<void(DeviceModel&)> set;
    std::vector<Exchange> steps;
};

TEST(AppFault, SubCodeAndFromOccurrenceSelectWhichRequestsMisbehave) {
    const Bytes write = MemoryRequest(0x84, 0x20000, {0x01});
    const Bytes read = MemoryRequest(0x04, 0x20000, Count16(1));
    const Bytes readAnswer = Accepted({0x01});
    const SubCodeFaultCase cases[] = {
        {"only writes silent",
         [](DeviceModel& m) { m.SetFault(0x50, 0x84, Fault::Silent); },
         {{write, {}}, {read, readAnswer}}},
        {"only reads refused",
         [](DeviceModel& m) { m.SetFault(0x50, 0x04, Fault::Refuse); },
         {{read, kRefusedEmpty}, {write, kAcceptedEmpty}, {read, kRefusedEmpty}}},
        {"sub-code before the command's fault",
         [](DeviceModel& m) {
             m.SetFault(0x50, Fault::Silent);
             m.SetFault(0x50, 0x04, Fault::None);
         },
         {{write, {}}, {read, readAnswer}}},
        {"writes silent from the 3rd",
         [](DeviceModel& m) { m.SetFault(0x50, 0x84, Fault::Silent, 0, 3); },
         {{write, kAcceptedEmpty}, {read, readAnswer}, {write, kAcceptedEmpty}, {write, {}}, {write, {}}}},
        {"command refused from the 2nd",
         [](DeviceModel& m) { m.SetFault(0x61, Fault::Refuse, 0, 2); },
         {{kResume, kAcceptedEmpty}, {kResume, kRefusedEmpty}, {kResume, kRefusedEmpty}}},
        {"cleared",
         [](DeviceModel& m) {
             m.SetFault(0x50, 0x84, Fault::Silent);
             m.SetFault(0x50, Fault::Refuse);
             m.ClearFaults();
         },
         {{write, kAcceptedEmpty}, {read, readAnswer}}},
    };
    for (const SubCodeFaultCase& c : cases) {
        DeviceModel m;
        c.set(m);
        ExpectExchanges(m, c.steps, c.name);
    }
}

TEST(AppFault, LateSubCodeFaultDelaysOnlyThatSubCode) {
    DeviceModel m;
    m.SetFault(0x50, 0x83, Fault::Late, 2000);
    const auto late = Feed(m, MemoryRequest(0x83, 0, {}));
    ASSERT_EQ(late.size(), 1u);
    EXPECT_EQ(late[0].delayMs, 2000);
    EXPECT_EQ(m.Patterns().size(), 1u);  // a late answer still takes the pattern in
    EXPECT_EQ(Feed(m, MemoryRequest(0x84, 0, {})).at(0).delayMs, 0);
}

// ---- boot mode --------------------------------------------------------------

TEST(BootMode, EraseClearsExactlyTheNamedBlock) {
    DeviceModel m = BootedModel();
    EXPECT_EQ(Answer(m, {'E', 0x03, 0x03}), Bytes{0x00});
    for (uint32_t a = 0xA000; a <= 0xBFFF; ++a) ASSERT_EQ(m.Flash()[a], 0xFF) << a;
    EXPECT_EQ(m.Flash()[0x9FFF], 0x00);
    EXPECT_EQ(m.Flash()[0xC000], 0x00);
}

TEST(BootMode, EraseOfUnknownOrMismatchedCodeFailsWithoutErasing) {
    DeviceModel m = BootedModel();
    EXPECT_EQ(Answer(m, {'E', 0x07, 0x07}), Bytes{0xA0});
    EXPECT_EQ(Answer(m, {'E', 0x0A, 0x0B}), Bytes{0xA0});
    EXPECT_EQ(m.FlashChanges(), 0u);
}

TEST(BootMode, FullPageSequenceProgramsAndReturnsToApplicationMode) {
    DeviceModel m;
    Feed(m, kModelP);
    const Bytes page = PageOf(0xF0);
    EXPECT_EQ(Answer(m, {'W'}), Bytes{0xAA});
    EXPECT_EQ(Answer(m, {0x80, 0x30}), Bytes{0xB0});
    EXPECT_EQ(Answer(m, page), Bytes{Sum(page)});
    EXPECT_EQ(Answer(m, {'U'}), Bytes{0x00});
    EXPECT_TRUE(Feed(m, {0xFF}).empty());
    EXPECT_FALSE(m.InBootMode());
    EXPECT_TRUE(std::equal(page.begin(), page.end(), m.Flash().begin() + 0x3080));
    EXPECT_EQ(m.Flash()[0x307F], 0x00);
    EXPECT_EQ(Answer(m, kResume), kAcceptedEmpty);
}

TEST(BootMode, EndByteAfterWrongEchoLeavesBootModeWithoutProgramming) {
    DeviceModel m = BootedModel();
    Feed(m, Concat({'W', 0x00, 0xA0}, PageOf(1)));
    EXPECT_TRUE(Feed(m, {0xFF}).empty());
    EXPECT_FALSE(m.InBootMode());
    EXPECT_EQ(m.Flash()[0xA000], 0x00);
}

TEST(BootMode, LoneEndByteWhereDataWereDueLeavesBootModeOnceTheLineIsQuiet) {
    DeviceModel m = BootedModel();
    Feed(m, {'W', 0x00, 0xA0, 0xFF});
    m.LineIdle();
    EXPECT_FALSE(m.InBootMode());
}

TEST(BootMode, HalfSentStepIsDroppedWhenTheLineGoesQuiet) {
    DeviceModel m = BootedModel();
    Feed(m, {'W', 0x00, 0xA0, 0x11, 0x22});
    m.LineIdle();
    EXPECT_EQ(Answer(m, {0x80, 0x30}), Bytes{0xB0});  // a fresh page address
}

// ---- boot faults ------------------------------------------------------------

struct BootFaultCase {
    const char* name;
    BootStep step;
    BootBehaviour behaviour;
    Bytes expectedReply;  // to the step below, which is the 1st occurrence of its step
};

// Runs W, one page (0x3000, data 00..7F, sum 0xC0) and U, after erasing block 0x0A.
Bytes RunOnePage(DeviceModel& m, BootStep step) {
    const Bytes page = PageOf(0);
    const Bytes erase = Answer(m, {'E', 0x0A, 0x0A});
    const Bytes write = Answer(m, {'W'});
    const Bytes address = Answer(m, {0x00, 0x30});
    const Bytes data = Answer(m, page);
    const Bytes program = Answer(m, {'U'});
    const Bytes replies[] = {erase, write, address, data, program};
    return replies[static_cast<int>(step)];
}

TEST(BootFaults, EachStepMisbehavesAsConfigured) {
    const BootFaultCase cases[] = {
        {"erase silent", BootStep::Erase, {BootFault::Silent, 0, 0}, {}},
        {"erase status", BootStep::Erase, {BootFault::Status, 0xA0, 0}, {0xA0}},
        {"write wrong", BootStep::Write, {BootFault::WrongReply, 0x55, 0}, {0x55}},
        {"write silent", BootStep::Write, {BootFault::Silent, 0, 0}, {}},
        {"address wrong", BootStep::Address, {BootFault::WrongReply, 0x31, 0}, {0x31}},
        {"address wrong but value correct", BootStep::Address, {BootFault::WrongReply, 0x30, 0}, {0x31}},
        {"data wrong", BootStep::Data, {BootFault::WrongReply, 0x00, 0}, {0x00}},
        {"data silent", BootStep::Data, {BootFault::Silent, 0, 0}, {}},
        {"program status", BootStep::Program, {BootFault::Status, 0x90, 0}, {0x90}},
        {"program silent", BootStep::Program, {BootFault::Silent, 0, 0}, {}},
    };
    for (const BootFaultCase& c : cases) {
        DeviceModel m = BootedModel();
        m.SetBootFault(c.step, c.behaviour);
        EXPECT_EQ(RunOnePage(m, c.step), c.expectedReply) << c.name;
    }
}

// A status that reports a failure (above 0x80 with the step's error bit) is
// true to it: the block stays unerased, the page unprogrammed. Any other
// status value is only a reply; the step is carried out.
TEST(BootFaults, StatusFaultsThatReportAFailureLeaveTheFlashAsItWas) {
    struct Case {
        const char* name;
        uint8_t eraseStatus, programStatus;
        uint8_t at3000, at3080;  // flash fill is 00; the page writes 00..7F
    } cases[] = {
        {"both report failures", 0xA0, 0x90, 0x00, 0x00},
        {"erase failed, page programmed", 0xA0, 0x00, 0x00, 0x00},
        {"erased, program failed", 0x00, 0x90, 0xFF, 0xFF},
        {"error bits without bit 7 are no failure", 0x20, 0x10, 0x00, 0xFF},
        {"other bits above 0x80 are no failure", 0xC0, 0xA0, 0x00, 0xFF},
    };
    for (const Case& c : cases) {
        DeviceModel m = BootedModel();
        m.SetFlash(0x3080, Bytes{0x00}.data(), 1);
        m.SetBootFault(BootStep::Erase, {BootFault::Status, c.eraseStatus, 0});
        m.SetBootFault(BootStep::Program, {BootFault::Status, c.programStatus, 0});
        RunOnePage(m, BootStep::Program);
        EXPECT_EQ(m.Flash()[0x3000], c.at3000) << c.name;
        EXPECT_EQ(m.Flash()[0x3080], c.at3080) << c.name;  // beyond the page: erased or not
    }
}

TEST(StuckBits, KeepTheirValueThroughWritesAndErasesInBothModes) {
    DeviceModel m;
    m.FillFlash(0xFF);
    m.StickBits(0x3010, 0x81);
    const Bytes zeros(32, 0x00);
    m.SetFlash(0x3000, zeros.data(), zeros.size());
    EXPECT_EQ(m.Flash()[0x3010], 0x81);  // the stuck ones stay 1
    EXPECT_EQ(m.Flash()[0x3011], 0x00);
    DeviceModel boot = BootedModel();
    boot.StickBits(0x3001, 0x0F);
    RunOnePage(boot, BootStep::Program);    // erases block 0x3000 then writes 00..7F
    EXPECT_EQ(boot.Flash()[0x3001], 0x00);  // stuck low through the erase, page byte 01 keeps its high bits 0
    EXPECT_EQ(boot.Flash()[0x3002], 0x02);
}

TEST(BootFaults, OccurrenceSelectsOnlyThatRepetition) {
    DeviceModel m = BootedModel();
    m.SetBootFault(BootStep::Data, {BootFault::WrongReply, 0x00, 3});
    Feed(m, {'W'});
    const Bytes page = PageOf(5);
    for (int n = 1; n <= 4; ++n) {
        Feed(m, {0x00, uint8_t(0x30 + n)});
        const Bytes echo = Answer(m, page);
        EXPECT_EQ(echo, Bytes{n == 3 ? uint8_t(0x00) : Sum(page)}) << "page " << n;
        Feed(m, {'U'});
    }
}

}  // namespace
