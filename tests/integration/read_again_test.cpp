// read_again_test.cpp - a flash read or verify chunk whose answer the line
// spoilt is asked again, at most twice; a refusal, a write and an erase are
// never asked again; every spoilt answer and every request asked again is
// counted in the result and said beside its outcome.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>

#include "dialog_test.h"
#include "link/device_times.h"
#include "operations/read_again.h"
#include "shell/command_ids.h"

namespace {

using Bytes = std::vector<uint8_t>;
using ops::Outcome;
using platform::posix::SetControl;

Bytes ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The fault meets `times` requests of the sub-code from its second on (the
// chunk at 0x100); 0: every one from there.
struct Case {
    const char* name;
    int command;  // the button
    uint8_t sub;  // the 'P' sub-code the fault meets
    sim::Fault fault;
    int times;
    Outcome outcome;
    int requests;  // 'P' requests on the line
    ops::LineTrouble line;
    const char* status;  // the status strip's words after the address and before " in"
};

// 768 bytes of flash that no fault can pass for, the port open; one file per
// case, since ctest runs the cases side by side.
class Line : public tqtest::DialogTest {
protected:
    void Prepare(const std::string& name) {
        for (int i = 0; i < 768; ++i) flash.push_back(static_cast<uint8_t>(i * 13 + 5));
        const Bytes data = flash;
        Configure([data](sim::DeviceModel& m) { m.SetFlash(0, data.data(), data.size()); });
        path = ::testing::TempDir() + "tq_read_again_" + name + ".bin";
        std::remove(path.c_str());
        std::remove((path + ".partial").c_str());
        Press(shell::kIdOpen);
    }

    Bytes flash;
    std::string path;
};

class ReadAgain : public Line, public ::testing::WithParamInterface<Case> {
protected:
    void SetUp() override {
        Line::SetUp();
        Prepare(GetParam().name);
    }
};

constexpr ops::LineTrouble Trouble(uint32_t again, uint32_t damaged, uint32_t lost, uint32_t disagreed) {
    ops::LineTrouble t;
    t.askedAgain = again;
    t.damaged = damaged;
    t.lost = lost;
    t.disagreed = disagreed;
    return t;
}

TEST_P(ReadAgain, SpoiltAnswersAreAskedAgainAtMostTwiceAndCounted) {
    const Case& c = GetParam();
    if (c.command != shell::kIdFlashRead) {
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(flash.data()), static_cast<std::streamsize>(flash.size()));
    }
    if (c.command == shell::kIdFlashWrite) Configure([](sim::DeviceModel& m) { m.FillFlash(0x11); });
    Configure([&c](sim::DeviceModel& m) { m.SetFault(0x50, c.sub, c.fault, 0, 2, c.times); });
    SetControl(shell::kIdStartAddressEdit, "0");
    SetControl(shell::kIdLengthEdit, "768");
    SetControl(shell::kIdFileEdit, path);
    Press(c.command);
    ASSERT_TRUE(PumpUntilIdle(3 * wire::kOwnPollBoundMs + 5000));
    const ops::OperationResult r = ops::LastResult();
    EXPECT_EQ(r.outcome, c.outcome);
    EXPECT_EQ(device->FramesReceived(0x50), c.requests);
    EXPECT_EQ(r.line.askedAgain, c.line.askedAgain);
    EXPECT_EQ(r.line.damaged, c.line.damaged);
    EXPECT_EQ(r.line.lost, c.line.lost);
    EXPECT_EQ(r.line.disagreed, c.line.disagreed);
    // A write is never asked again, nor confirmed.
    const bool confirming = c.command != shell::kIdFlashWrite && (c.line.damaged != 0 || c.line.lost != 0);
    EXPECT_EQ(
        LogContains("flash read: the line spoils answers: from here on a chunk is taken when two answers agree") ||
            LogContains("flash verify: the line spoils answers: from here on a chunk is taken when two answers "
                        "agree"),
        confirming);
    EXPECT_NE(Status().find(c.status), std::string::npos) << Status();
    const bool damaged = c.fault != sim::Fault::Silent;
    const bool masked = c.fault == sim::Fault::Masked;
    for (uint32_t time = 1; time <= c.line.askedAgain; ++time) {
        const std::string line = std::string(c.command == shell::kIdFlashVerify ? "flash verify" : "flash read") +
                                 (damaged ? ": damaged answer" : ": no answer") + " at 0x000100: asked again (" +
                                 std::to_string(time) + " of 2)";
        EXPECT_TRUE(LogContains(line)) << line;
    }
    if (c.command == shell::kIdFlashRead) {
        if (c.outcome == Outcome::Complete) {
            EXPECT_EQ(ReadFile(path) == flash, !masked);
        } else {
            EXPECT_EQ(ReadFile(path + ".partial"), Bytes(flash.begin(), flash.begin() + 256));
        }
    }
    if (c.command == shell::kIdFlashWrite) {
        Bytes written(flash.begin(), flash.begin() + 512);
        written.resize(768, 0x11);
        EXPECT_EQ(device->FlashRange(0, 768), written);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ReadAgain,
    ::testing::Values(
        // Once an answer was spoilt, every chunk is confirmed by a second
        // request: 0x000 once, 0x100 spoilt then twice, 0x200 twice.
        Case{"damaged_once", shell::kIdFlashRead, 0x04, sim::Fault::BadChecksum, 1, Outcome::Complete, 6,
             Trouble(1, 1, 0, 0), "s, 1 answer asked again"},
        Case{"damaged_twice", shell::kIdFlashRead, 0x04, sim::Fault::BadChecksum, 2, Outcome::Complete, 7,
             Trouble(2, 2, 0, 0), "s, 2 answers asked again"},
        Case{"damaged_thrice", shell::kIdFlashRead, 0x04, sim::Fault::BadChecksum, 3, Outcome::DamagedAnswer, 4,
             Trouble(2, 3, 0, 0), "flash read 0x0: damaged answer at 0x100, 2 answers asked again"},
        Case{"cut_once", shell::kIdFlashRead, 0x04, sim::Fault::Cut, 1, Outcome::Complete, 6, Trouble(1, 1, 0, 0),
             "s, 1 answer asked again"},
        Case{"lost_once", shell::kIdFlashRead, 0x04, sim::Fault::Silent, 1, Outcome::Complete, 6, Trouble(1, 0, 1, 0),
             "s, 1 answer asked again"},
        // A wrong answer that passes the checksum on a plain line is taken:
        // nothing tells it (the read's file then differs; see the next case).
        Case{"masked_plain", shell::kIdFlashRead, 0x04, sim::Fault::Masked, 1, Outcome::Complete, 3,
             Trouble(0, 0, 0, 0), " complete in "},
        Case{"refused", shell::kIdFlashRead, 0x04, sim::Fault::Refuse, 0, Outcome::Refused, 2, Trouble(0, 0, 0, 0),
             "flash read 0x0 refused at 0x100"},
        Case{"verify_damaged_once", shell::kIdFlashVerify, 0x04, sim::Fault::BadChecksum, 1, Outcome::Complete, 6,
             Trouble(1, 1, 0, 0), "768 bytes equal in "},
        Case{"verify_lost_thrice", shell::kIdFlashVerify, 0x04, sim::Fault::Silent, 3, Outcome::NoAnswer, 4,
             Trouble(2, 0, 3, 0), "flash verify 0x0: no answer at 0x100, 2 answers asked again"},
        // The write's second chunk took effect; its lost answer ends the
        // write, and the chunk is never sent again.
        Case{"write_lost", shell::kIdFlashWrite, 0x84, sim::Fault::Silent, 1, Outcome::NoAnswer, 2, Trouble(0, 0, 1, 0),
             "flash write 0x0: no answer at 0x100"}),
    [](const ::testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });

// On a line that has spoilt an answer, a wrong answer with a right checksum
// is found by the answer beside it and never reaches the file; answers that
// keep disagreeing end the read as a damaged answer.
TEST_F(Line, AWrongAnswerOnASuspectLineIsNeverTaken) {
    Prepare("disagree");
    const struct {
        int masked;  // wrong answers with a right checksum after the spoilt one at 0x100
        Outcome outcome;
        int requests;
        uint32_t again, disagreed;
    } cases[] = {
        // 0x100: damaged, masked, good (disagree), good (agrees); 0x200: 2.
        {1, Outcome::Complete, 1 + 4 + 2, 2, 1},
        // 0x100: damaged, masked, masked (each unlike the other), masked: the
        // bound is reached with no two alike.
        {3, Outcome::DamagedAnswer, 1 + 4, 2, 2},
    };
    for (const auto& c : cases) {
        platform::posix::ResetUi();
        std::remove(path.c_str());
        std::remove((path + ".partial").c_str());
        const int before = device->FramesReceived(0x50);
        Configure([&c](sim::DeviceModel& m) {
            m.SetFault(0x50, 0x04, sim::Fault::BadChecksum, 0, 2, 1);
            m.SetFaultThen(0x50, 0x04, sim::Fault::Masked, c.masked);
        });
        SetControl(shell::kIdStartAddressEdit, "0");
        SetControl(shell::kIdLengthEdit, "768");
        SetControl(shell::kIdFileEdit, path);
        Press(shell::kIdFlashRead);
        ASSERT_TRUE(PumpUntilIdle());
        const ops::OperationResult r = ops::LastResult();
        EXPECT_EQ(r.outcome, c.outcome) << c.masked;
        EXPECT_EQ(device->FramesReceived(0x50) - before, c.requests) << c.masked;
        EXPECT_EQ(r.line.askedAgain, c.again) << c.masked;
        EXPECT_EQ(r.line.disagreed, c.disagreed) << c.masked;
        EXPECT_TRUE(LogContains("flash read: answers that disagree at 0x000100: asked again (2 of 2)")) << c.masked;
        if (c.outcome == Outcome::Complete) {
            EXPECT_EQ(ReadFile(path), flash);
        } else {
            EXPECT_EQ(ReadFile(path + ".partial"), Bytes(flash.begin(), flash.begin() + 256));
        }
    }
}

}  // namespace
