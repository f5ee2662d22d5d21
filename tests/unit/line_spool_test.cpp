// line_spool_test.cpp - the transcript's spool: a stalled file never holds up the one who hands
// lines over, lines reach the file in order, and a failed file is told once.
#include <gtest/gtest.h>

#include <atomic>
#include <string>

#include "platform/platform.h"
#include "shell/line_spool.h"

namespace {

struct FakeFile {
    std::string written;
    bool fail = false;
    std::atomic<bool> closed{false};
    std::atomic<int> failures{0};
};

platform::SignalHandle release = platform::NewSignal();
std::atomic<bool> stalled{false};

bool Write(void* target, const std::string& bytes) {
    // A file on a share that stops answering: the write returns only when let go.
    while (stalled.load()) platform::WaitSignal(release, 50);
    auto* f = static_cast<FakeFile*>(target);
    if (f->fail) return false;
    f->written += bytes;
    return true;
}
void Close(void* target) { static_cast<FakeFile*>(target)->closed = true; }
void Failed(void* target) { ++static_cast<FakeFile*>(target)->failures; }

constexpr shell::SpoolSink kSink = {Write, Close, Failed};

TEST(LineSpool, StalledFileNeverHoldsUpTheCallerAndGetsEveryLineInOrderOnceItMoves) {
    FakeFile file;
    stalled = true;
    const uint64_t start = platform::MonotonicUs();
    std::string expected;
    for (int i = 0; i < 2000; ++i) {
        const std::string line = "line " + std::to_string(i) + "\r\n";
        expected += line;
        EXPECT_TRUE(shell::SpoolWrite(kSink, &file, line));
    }
    shell::SpoolClose(kSink, &file);
    // Two thousand lines are queued in far less than one stalled write would take.
    EXPECT_LT(platform::MonotonicUs() - start, 500000u);
    EXPECT_FALSE(shell::SpoolDrain(100));
    EXPECT_FALSE(file.closed);
    stalled = false;
    platform::RaiseSignal(release);
    ASSERT_TRUE(shell::SpoolDrain(5000));
    EXPECT_EQ(file.written, expected);
    EXPECT_TRUE(file.closed);
}

TEST(LineSpool, FailedWriteIsToldOnceAndLaterLinesAreRefusedUntilTheClose) {
    FakeFile broken;
    broken.fail = true;
    EXPECT_TRUE(shell::SpoolWrite(kSink, &broken, "first\r\n"));
    ASSERT_TRUE(shell::SpoolDrain(5000));
    EXPECT_EQ(broken.failures, 1);
    EXPECT_FALSE(shell::SpoolWrite(kSink, &broken, "second\r\n"));
    shell::SpoolClose(kSink, &broken);
    ASSERT_TRUE(shell::SpoolDrain(5000));
    EXPECT_TRUE(broken.closed);
    EXPECT_EQ(broken.failures, 1);
    // Another file afterwards is written as usual.
    FakeFile next;
    EXPECT_TRUE(shell::SpoolWrite(kSink, &next, "ok\r\n"));
    ASSERT_TRUE(shell::SpoolDrain(5000));
    EXPECT_EQ(next.written, "ok\r\n");
}

TEST(LineSpool, QueueThatOutgrowsItsCapFailsTheFileInsteadOfGrowing) {
    FakeFile file;
    stalled = true;
    const std::string chunk(1 << 20, 'x');
    int taken = 0;
    while (taken < 20 && shell::SpoolWrite(kSink, &file, chunk)) ++taken;
    // The cap counts what waits; the writer may hold one more in its stalled write.
    EXPECT_GE(static_cast<size_t>(taken), shell::kSpoolCapBytes / chunk.size());
    EXPECT_LE(static_cast<size_t>(taken), shell::kSpoolCapBytes / chunk.size() + 1);
    EXPECT_EQ(file.failures, 1);
    shell::SpoolClose(kSink, &file);
    stalled = false;
    platform::RaiseSignal(release);
    ASSERT_TRUE(shell::SpoolDrain(5000));
    EXPECT_TRUE(file.closed);
}

}  // namespace
