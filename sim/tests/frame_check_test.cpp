// frame_check_test.cpp - the strict check of a host's traffic: what it accepts, what it reports, how it resumes.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "frame.h"
#include "frame_check.h"

namespace {

using Bytes = std::vector<uint8_t>;
using sim::FrameCheck;

Bytes Cat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
    return all;
}

const Bytes kStop = sim::BuildFrame(0x60, {});
const Bytes kRead = sim::BuildFrame(0x50, {0x04, 0x00, 0x30, 0x00, 0x00, 0x01});
const Bytes kWrite = sim::BuildFrame(0x50, Bytes(4 + 256, 0x5A));

Bytes Page(uint8_t low, uint8_t high, uint8_t first) {
    Bytes page = {low, high};
    for (int i = 0; i < 128; ++i) page.push_back(static_cast<uint8_t>(first + i));
    return page;
}

// One batch of bytes at a time; each batch 1 ms after the one before unless a pause says more.
struct Batch {
    Bytes bytes;
    int pauseBeforeMs = 1;
};

struct Case {
    const char* name;
    std::vector<Batch> batches;
    uint64_t frames;
    uint64_t violations;
    uint64_t bootPages;
    uint64_t bootEnds;
};

void FeedBatches(const Case& c, FrameCheck& check) {
    int64_t now = 1000;
    for (const Batch& b : c.batches) {
        now += b.pauseBeforeMs;
        check.Feed(b.bytes.data(), b.bytes.size(), now);
    }
}

TEST(FrameCheck, AcceptsWellFormedTrafficAndReportsEveryMalformation) {
    const Bytes stopCut(kStop.begin(), kStop.begin() + 3);
    const Bytes stopRest(kStop.begin() + 3, kStop.end());
    Bytes badSum = kStop;
    badSum[5] ^= 1;
    Bytes noEtx = kStop;
    noEtx[4] = 0x04;
    const Bytes page = Page(0x00, 0x30, 1);
    const Bytes pageFf = Page(0x80, 0x30, 0xFF);  // data that start with FF, in one batch
    const Case cases[] = {
        {"one frame", {{kStop}}, 1, 0, 0, 0},
        {"wake byte, then frames back to back", {{Cat({{0x5C}, kStop, kRead, kWrite})}}, 3, 0, 0, 0},
        {"frame in three batches close together",
         {{stopCut}, {Bytes(stopRest.begin(), stopRest.end() - 1)}, {{0x0D}}},
         1,
         0,
         0,
         0},
        {"frame written into another: the inner frame counted, both ends of the outer one reported",
         {{Cat({stopCut, kRead, stopRest})}},
         1,
         2,
         0,
         0},
        {"wrong checksum", {{badSum}, {kStop}}, 1, 1, 0, 0},
        {"no ETX", {{noEtx}, {kStop}}, 1, 1, 0, 0},
        {"length above 505", {{{0x02, 0x50, 0xFA, 0x01, 0x00}}, {kStop, 300}}, 1, 1, 0, 0},
        {"frame cut by a pause", {{stopCut}, {stopRest, 300}, {kStop, 300}}, 1, 1, 0, 0},
        {"stray bytes between frames: one violation", {{Cat({kStop, {0x41, 0x42, 0x43}, kStop})}}, 2, 1, 0, 0},
        {"a whole update",
         {{{'E', 0x0A, 0x0A}},
          {{'E', 0x01, 0x01}},
          {{'W'}},
          {page},
          {{'U'}},
          {pageFf},
          {{'U'}},
          {{0xFF}},
          {kStop, 500}},
         1,
         0,
         2,
         1},
        {"erase codes that differ", {{{'E', 0x0A, 0x0B}}, {kStop}}, 1, 1, 0, 0},
        {"page not followed by U", {{{'W'}}, {page}, {{'X'}}, {{0xFF}}}, 0, 1, 0, 1},
        {"page given up after its data", {{{'W'}}, {page}, {{0xFF}}, {kStop}}, 1, 0, 0, 1},
        {"lone end byte after a page address, then a frame",
         {{{'W'}}, {{0x00, 0x30}}, {{0xFF}}, {kStop, 50}},
         1,
         0,
         0,
         1},
        {"the end byte a second after an unanswered page address",
         {{{'W'}}, {{0x00, 0x30}}, {{0xFF}, 1000}, {kStop, 30}},
         1,
         0,
         0,
         1},
        {"page data a second after their address (a slow echo)",
         {{{'W'}}, {{0x00, 0x30}}, {Bytes(page.begin() + 2, page.end()), 1000}, {{'U'}}, {{0xFF}}},
         0,
         0,
         1,
         1},
        {"page address cut by a pause", {{{'W'}}, {{0x00}}, {{0x30}, 300}, {{0xFF}}}, 0, 1, 0, 1},
        {"page cut short by a pause", {{{'W'}}, {Bytes(page.begin(), page.begin() + 60)}, {{0xFF}, 400}}, 0, 1, 0, 1},
        {"no page address in write mode", {{{'W'}}, {{0x31}}, {{0xFF}}}, 0, 1, 0, 1},
        {"frames after a W that got no good reply: write mode given up, no end byte",
         {{{'W'}}, {Cat({{0x5C}, kStop})}, {kRead}},
         2,
         0,
         0,
         0},
        {"frame inside write mode once a page went out", {{{'W'}}, {page}, {{'U'}}, {kStop}, {{0xFF}}}, 0, 1, 1, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FrameCheck check;
        FeedBatches(c, check);
        const FrameCheck::Counts n = check.Totals();
        EXPECT_EQ(n.frames, c.frames);
        EXPECT_EQ(n.violations, c.violations);
        EXPECT_EQ(n.bootPages, c.bootPages);
        EXPECT_EQ(n.bootEnds, c.bootEnds);
        EXPECT_EQ(check.Violations().size(), c.violations);
    }
}

TEST(FrameCheck, ReportCountsFramesPerCommandAndNamesEachViolation) {
    FrameCheck check;
    const Bytes traffic = Cat({{0x5C}, kStop, kRead, kRead, {0x41}});
    check.Feed(traffic.data(), traffic.size(), 7);
    const std::string report = check.Report();
    EXPECT_NE(report.find("frames 3\n"), std::string::npos) << report;
    EXPECT_NE(report.find("frames.60 1\n"), std::string::npos) << report;
    EXPECT_NE(report.find("frames.50 2\n"), std::string::npos) << report;
    EXPECT_NE(report.find("wake_bytes 1\n"), std::string::npos) << report;
    EXPECT_NE(report.find("violations 1\n"), std::string::npos) << report;
    EXPECT_NE(report.find("violation 7 byte 41 where a frame or a boot step must start: 41\n"), std::string::npos)
        << report;

    FrameCheck givenUp;
    const Bytes unconfirmed = Cat({{'W'}, kStop});
    givenUp.Feed(unconfirmed.data(), unconfirmed.size(), 9);
    EXPECT_NE(givenUp.Report().find("boot_write_modes_given_up 1\n"), std::string::npos) << givenUp.Report();
}

// A host that closes its port in the middle of an update: its next session may start
// afresh while the device is still in write mode, or the programmer, still running,
// may go on with its pages once the port is open again. Neither is a violation; the
// first malformation after a close is counted apart, and only that one.
TEST(FrameCheck, AfterTheHostClosesTheLineTheFirstBreakIsCountedApart) {
    const Bytes partial = Cat({{'W'}, Page(0x00, 0x30, 1)});
    const Bytes rest = Cat({{'U'}, Page(0x80, 0x30, 1), {'U', 0xFF}});
    struct CloseCase {
        const char* name;
        std::vector<Bytes> before, after;
        uint64_t frames, pages, violations, breaks;
    };
    const CloseCase cases[] = {
        {"a new session's frame while the device awaits U", {partial}, {kStop}, 1, 0, 0, 1},
        {"the programmer goes on after the port is open again", {partial}, {rest}, 0, 2, 0, 0},
        {"a frame cut by the close, then a new one", {{kStop.begin(), kStop.begin() + 4}}, {kRead}, 1, 0, 0, 1},
        {"a second malformation after the break is a violation", {partial}, {kStop, {0x41}}, 1, 0, 1, 1},
        {"a whole step after the close ends the allowance", {{}}, {kStop, {0x41}, kStop}, 2, 0, 1, 0},
    };
    for (const CloseCase& c : cases) {
        SCOPED_TRACE(c.name);
        FrameCheck check;
        int64_t now = 10;
        for (const Bytes& b : c.before) check.Feed(b.data(), b.size(), ++now);
        check.HostClosed();
        for (const Bytes& b : c.after) check.Feed(b.data(), b.size(), ++now);
        const FrameCheck::Counts n = check.Totals();
        EXPECT_EQ(n.frames, c.frames);
        EXPECT_EQ(n.bootPages, c.pages);
        EXPECT_EQ(n.violations, c.violations);
        EXPECT_EQ(n.breaksAtClose, c.breaks);
        EXPECT_EQ(n.hostCloses, 1u);
    }
    // Without the close the same bytes are a frame inside write mode.
    FrameCheck unclosed;
    unclosed.Feed(partial.data(), partial.size(), 10);
    unclosed.Feed(kStop.data(), kStop.size(), 20);
    EXPECT_EQ(unclosed.Totals().violations, 1u);
    EXPECT_EQ(unclosed.Totals().frames, 0u);
}

TEST(FrameCheck, KeepsAtMostItsCapOfViolationTextsButCountsThemAll) {
    FrameCheck check;
    const Bytes bad = {0x41};
    for (int i = 0; i < 80; ++i) {
        check.Feed(bad.data(), bad.size(), i * 10);
        check.Feed(kStop.data(), kStop.size(), i * 10 + 1);  // ends the resynchronisation
    }
    EXPECT_EQ(check.Totals().violations, 80u);
    EXPECT_EQ(check.Violations().size(), FrameCheck::kMaxViolationsKept);
}

}  // namespace
