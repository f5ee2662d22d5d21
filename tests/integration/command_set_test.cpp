// command_set_test.cpp - the service commands against the simulated device on a real pty: flash
// transfers with their files, refusals and time-outs, the parameter-block
// chain, the clock, the pattern sequence and the command library.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <string>
#include <sys/stat.h>

#include "dialog_test.h"
#include "link/command_library.h"
#include "link/serial_session.h"
#include "operations/device_clock.h"
#include "operations/flash_transfer.h"
#include "operations/pattern_sequence.h"
#include "shell/command_ids.h"
#include "shell/param_chain.h"

namespace {

using Bytes = std::vector<uint8_t>;
using platform::posix::SetControl;

Bytes Frame(uint8_t command, const Bytes& payload) {
    Bytes f = {0x02, command, static_cast<uint8_t>(payload.size()), static_cast<uint8_t>(payload.size() >> 8)};
    f.insert(f.end(), payload.begin(), payload.end());
    uint8_t sum = 0;
    for (uint8_t b : f) sum = static_cast<uint8_t>(sum + b);
    f.push_back(0x03);
    f.push_back(static_cast<uint8_t>(sum + 0x03));
    f.push_back(0x0D);
    return f;
}

Bytes ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFile(const std::string& path, const Bytes& data) {
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
}

// The line that SendFrame or the receiver logs for a frame (up to 64 bytes).
std::string FrameLine(char letter, const Bytes& frame) {
    char prefix[16];
    std::snprintf(prefix, sizeof prefix, "%c-%3zu ", letter, frame.size());
    std::string line = prefix;
    for (size_t i = 0; i < frame.size() && i < 64; ++i) {
        std::snprintf(prefix, sizeof prefix, "%02X", frame[i]);
        line += prefix;
    }
    return line;
}

bool Exists(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0;
}

class CommandSet : public tqtest::DialogTest {
protected:
    void SetUp() override {
        DialogTest::SetUp();
        shell::ResetParamChain();
        ops::SequenceTimer.store(0);
        platform::posix::ResetTick();
        Configure([](sim::DeviceModel& m) { m.FillFlash(0xFF); });
        Press(shell::kIdOpen);
        ASSERT_TRUE(wire::SessionOpen());
    }

    std::string Temp(const std::string& name) {
        const std::string path = ::testing::TempDir() + "tq_cmdset_" + name;
        std::remove(path.c_str());
        return path;
    }

    void Transfer(int id, const std::string& address, const std::string& length, const std::string& file) {
        SetControl(shell::kIdStartAddressEdit, address);
        SetControl(shell::kIdLengthEdit, length);
        SetControl(shell::kIdFileEdit, file);
        Press(id);
    }

    std::vector<std::string> Boxes() { return platform::posix::BoxesShown(); }
    // A log line that holds text (a path is part of most).
    static bool LogHolds(const std::string& text) {
        for (const std::string& line : platform::posix::LogHistory()) {
            if (line.find(text) != std::string::npos) return true;
        }
        return false;
    }
    int Requests(uint8_t command) { return device->FramesReceived(command); }
};

TEST_F(CommandSet, WholeBufferWrittenAboveSixtyFourKAndReadBackByteForByte) {
    Bytes image(0x20000);
    for (size_t i = 0; i < image.size(); ++i) image[i] = static_cast<uint8_t>(i * 7 + (i >> 8));
    std::fill(image.begin() + 0x1000, image.begin() + 0x1100, 0xFF);  // needs no request
    const std::string source = Temp("write.bin");
    const std::string copy = Temp("read.bin");
    WriteFile(source, image);

    Transfer(shell::kIdFlashWrite, "10000h", "", source);
    EXPECT_EQ(platform::posix::ControlText(shell::kIdLengthEdit), "131072");
    ASSERT_TRUE(PumpUntilIdle(60000));
    EXPECT_EQ(Requests(0x50), 511);
    EXPECT_EQ(device->FlashRange(0x10000, image.size()), image);
    EXPECT_TRUE(StatusStarts("flash write 0x10000 complete in ")) << Status();
    EXPECT_EQ(ops::ReadProgress().done, 0x20000u);

    Transfer(shell::kIdFlashRead, "65536", "131072", copy);
    ASSERT_TRUE(PumpUntilIdle(60000));
    EXPECT_EQ(Requests(0x50), 511 + 512);
    EXPECT_EQ(ReadFile(copy), image);
    EXPECT_TRUE(StatusStarts("flash read 0x10000 complete in ")) << Status();
    EXPECT_EQ(ops::ProgressPermille(ops::ReadProgress()), 1000u);
    EXPECT_TRUE(Boxes().empty());
    EXPECT_EQ(lastPosted.message, wire::UM_WORKER_DONE);
    EXPECT_EQ(lastPosted.wParam, 0u);
}

TEST_F(CommandSet, RefusedWriteChunkShowsTheBoxAndSendsNoMore) {
    Configure([](sim::DeviceModel& m) { m.SetFault(0x50, 0x84, sim::Fault::Refuse, 0, 3); });
    const std::string source = Temp("refused.bin");
    WriteFile(source, Bytes(0x500, 0x11));
    Transfer(shell::kIdFlashWrite, "0", "0x500h", source);  // "0x500h": hexadecimal 0x500
    ASSERT_TRUE(PumpUntilIdle());
    EXPECT_EQ(Requests(0x50), 3);
    EXPECT_EQ(Boxes(), std::vector<std::string>{"FLASH WRITE 異常"});
    EXPECT_EQ(device->FlashRange(0x100, 2), (Bytes{0x11, 0x11}));
    EXPECT_EQ(device->FlashRange(0x200, 2), (Bytes{0xFF, 0xFF}));
    EXPECT_EQ(Status(), "flash write 0x0 refused at 0x200");
    EXPECT_EQ(ops::ReadProgress().done, 0x200u);
}

TEST_F(CommandSet, SilentDeviceEndsTheReadWithinTheBoundAndOnlyTheBytesReadAreKept) {
    Configure([](sim::DeviceModel& m) { m.SetFault(0x50, 0x04, sim::Fault::Silent, 0, 2); });
    const std::string copy = Temp("silent.bin");
    Transfer(shell::kIdFlashRead, "0", "512", copy);
    // Asked twice again, each time with the full bound.
    ASSERT_TRUE(PumpUntilIdle(3 * wire::kOwnPollBoundMs + 5000));
    EXPECT_TRUE(LogContains("flash read: no answer at 0x000100 within 5 s: check the cable and the "
                            "device, then try again"));
    // UTF-8 throughout (E7 95 B0 E5 B8 B8 is 異常), as the path is.
    EXPECT_EQ(Boxes(), std::vector<std::string>{"FLASH READ \xE7\x95\xB0\xE5\xB8\xB8\nThe 256 bytes read before the "
                                                "failure are in " +
                                                copy + ".partial; the file was not changed."});
    EXPECT_FALSE(Exists(copy));
    EXPECT_EQ(ReadFile(copy + ".partial"), Bytes(256, 0xFF));
    EXPECT_EQ(Status(), "flash read 0x0: no answer at 0x100, 2 answers asked again");
    // The next operation works without a restart.
    Configure([](sim::DeviceModel& m) { m.ClearFaults(); });
    Transfer(shell::kIdFlashRead, "0", "16", copy);
    ASSERT_TRUE(PumpUntilIdle());
    EXPECT_EQ(ReadFile(copy), Bytes(16, 0xFF));
}

// An answer that is accepted but cannot carry its chunk (cut off, a wrong
// checksum, half its payload) ends the read there: the file holds the chunks
// read whole and, behind them, what the buffer held, never the cut answer's
// zeros or trailer passed off as flash contents.
struct DamagedCase {
    const char* name;
    sim::Fault fault;
};

class DamagedAnswer : public CommandSet, public ::testing::WithParamInterface<DamagedCase> {};

TEST_P(DamagedAnswer, EndsTheReadAtTheChunkAndKeepsItsDataOutOfTheFile) {
    const sim::Fault fault = GetParam().fault;
    Configure([&](sim::DeviceModel& m) { m.SetFault(0x50, 0x04, fault, 0, 2); });
    ops::TransferBuffer.fill(0xA5);
    // One file per case: ctest runs the cases side by side.
    const std::string copy = Temp(std::string("damaged_") + GetParam().name + ".bin");
    Transfer(shell::kIdFlashRead, "0", "768", copy);
    ASSERT_TRUE(PumpUntilIdle());
    EXPECT_TRUE(LogContains("flash read: damaged answer at 0x000100 (bytes missing or a wrong checksum): "
                            "check the cable and the connectors, then try again"));
    ASSERT_EQ(Boxes().size(), 1u);
    EXPECT_EQ(Boxes()[0].rfind("FLASH READ \xE7\x95\xB0\xE5\xB8\xB8\n", 0), 0u);
    EXPECT_EQ(Status(), "flash read 0x0: damaged answer at 0x100, 2 answers asked again");
    EXPECT_FALSE(Exists(copy));
    EXPECT_EQ(ReadFile(copy + ".partial"), Bytes(256, 0xFF));
    // The clock query takes the same care; the device's next answers are whole again.
    Configure([&](sim::DeviceModel& m) { m.SetFault(0x21, fault); });
    uint8_t reading[6] = {1, 2, 3, 4, 5, 6};
    EXPECT_EQ(wire::QueryDeviceClock(reading), wire::kDamagedAnswer);
    EXPECT_EQ(Bytes(reading, reading + 6), (Bytes{1, 2, 3, 4, 5, 6}));
    Configure([](sim::DeviceModel& m) { m.ClearFaults(); });
    Transfer(shell::kIdFlashRead, "0", "768", copy);
    ASSERT_TRUE(PumpUntilIdle());
    EXPECT_EQ(ReadFile(copy), Bytes(768, 0xFF));
}

// The log shows what arrived of an answer and its true count, never the
// declared length over bytes that never came.
TEST_F(CommandSet, ACutAnswerIsLoggedAsTheBytesThatArrived) {
    Configure([](sim::DeviceModel& m) { m.SetFault(0x21, sim::Fault::Cut); });
    uint8_t reading[6] = {};
    EXPECT_EQ(wire::QueryDeviceClock(reading), wire::kDamagedAnswer);
    EXPECT_TRUE(LogContains("R-  8 0230060000000000"));
    EXPECT_FALSE(LogContains("R- 13 02300600000000000000000000"));
}

INSTANTIATE_TEST_SUITE_P(Kinds, DamagedAnswer,
                         ::testing::Values(DamagedCase{"Cut", sim::Fault::Cut},
                                           DamagedCase{"BadChecksum", sim::Fault::BadChecksum},
                                           DamagedCase{"HalfPayload", sim::Fault::Short}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(CommandSet, ClosingThePortUnderATransferEndsItAtOnce) {
    Configure([](sim::DeviceModel& m) { m.SetFault(0x50, sim::Fault::Silent); });
    Transfer(shell::kIdFlashErase, "0", "", Temp("missing-is-fine-for-read.bin"));
    EXPECT_EQ(Boxes(), std::vector<std::string>{"OPEN ERROR"});  // erase loads its file too
    const std::string file = Temp("erase.bin");
    WriteFile(file, Bytes(300));
    Transfer(shell::kIdFlashErase, "2000h", "", file);
    ASSERT_TRUE(DeviceReceived(13));
    Press(shell::kIdClose);
    ASSERT_TRUE(PumpUntilIdle(2000));
    EXPECT_TRUE(LogContains("flash erase: the port is closed at 0x002000: open it and try again"));
    EXPECT_EQ(Status(), "flash erase 0x2000: the port closed at 0x2000");
    EXPECT_EQ(DeviceBytes(), Frame(0x50, {0x44, 0x00, 0x20, 0x00, 0x2C, 0x01}));
}

// A write or an erase running past 0xFFFFFF would go on at 0x000000.
struct TopCase {
    const char* name;
    int id;
    const char* address;
    const char* length;
    bool refused;
};

class TopOfAddressSpace : public CommandSet, public ::testing::WithParamInterface<TopCase> {};

TEST_P(TopOfAddressSpace, ARangeRunningPastItIsRefusedBeforeAnythingIsSent) {
    const TopCase& c = GetParam();
    const std::string file = Temp(std::string("top_") + c.name + ".bin");
    WriteFile(file, Bytes(0x400, 0x5A));
    Transfer(c.id, c.address, c.length, file);
    ASSERT_TRUE(PumpUntilIdle());
    if (c.refused) {
        ASSERT_EQ(Boxes().size(), 1u);
        EXPECT_NE(Boxes()[0].find("runs past the top of the address space (0xFFFFFF)"), std::string::npos);
        EXPECT_EQ(Requests(0x50), 0);
    } else {
        EXPECT_TRUE(Boxes().empty());
        EXPECT_GE(Requests(0x50), 1);
    }
    EXPECT_EQ(device->FlashRange(0, 4), Bytes(4, 0xFF));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TopOfAddressSpace,
    ::testing::Values(TopCase{"WriteOfTheFileSize", shell::kIdFlashWrite, "FFFF00h", "", true},
                      TopCase{"WriteOneBytePast", shell::kIdFlashWrite, "FFFF00h", "101h", true},
                      TopCase{"WriteUpToTheTop", shell::kIdFlashWrite, "FFFF00h", "100h", false},
                      TopCase{"WriteWithHighBitsAboveTheSpace", shell::kIdFlashWrite, "1FFFF00h", "200h", true},
                      TopCase{"ErasePast", shell::kIdFlashErase, "FFFF00h", "101h", true},
                      TopCase{"EraseUpToTheTop", shell::kIdFlashErase, "FFFF00h", "100h", false},
                      TopCase{"ReadKeepsTheArithmetic", shell::kIdFlashRead, "FFFF00h", "200h", false}),
    [](const auto& info) { return std::string(info.param.name); });

// A number text is used whole: 255 characters with leading zeros are still
// 0x3000; one more is refused, not cut to another number.
TEST_F(CommandSet, ANumberTextIsUsedWholeOrNotAtAll) {
    const std::string file = Temp("long.bin");
    WriteFile(file, Bytes(4));
    Transfer(shell::kIdFlashErase, std::string(250, '0') + "3000h", "100h", file);
    ASSERT_TRUE(PumpUntilIdle());
    EXPECT_TRUE(LogContains(FrameLine('T', Frame(0x50, {0x44, 0x00, 0x30, 0x00, 0x00, 0x01}))));
    Transfer(shell::kIdFlashErase, std::string(251, '0') + "3000h", "100h", file);
    ASSERT_TRUE(PumpUntilIdle());
    EXPECT_EQ(Boxes(), std::vector<std::string>{"start address: the text is longer than 255 characters: nothing was "
                                                "sent"});
    EXPECT_EQ(Requests(0x50), 1);
}

TEST_F(CommandSet, ANameLongerThanTheFieldIsRefusedWholeNeverCut) {
    // 300 characters: a cut to 255 would name another file. Nothing is opened,
    // created or sent; the log says why and the operation's box follows.
    const std::string name = Temp(std::string(300 - Temp("").size(), 'n'));
    const std::string cut = name.substr(0, 255);
    WriteFile(cut, Bytes(16));
    const struct {
        int id;
        const char* line;
        const char* box;
    } cases[] = {
        {shell::kIdFlashWrite,
         "flash write: the file name is longer than the 255 characters the console takes: "
         "nothing was opened",
         "OPEN ERROR"},
        {shell::kIdFlashRead,
         "flash read: the file name is longer than the 255 characters the console takes: "
         "nothing was opened or created",
         "WRITE ERROR"},
    };
    for (const auto& c : cases) {
        platform::posix::ResetUi();
        Transfer(c.id, "0", "16", name);
        ASSERT_TRUE(PumpUntilIdle());
        EXPECT_TRUE(LogContains(c.line)) << c.line;
        EXPECT_EQ(Boxes(), std::vector<std::string>{c.box});
    }
    EXPECT_FALSE(Exists(name));
    EXPECT_EQ(ReadFile(cut), Bytes(16));
    EXPECT_TRUE(DeviceBytes().empty());
}

TEST_F(CommandSet, RefusalsTouchNeitherTheLineNorTheParameters) {
    // A length beyond the transfer buffer: nothing is sent and no file is made.
    const std::string copy = Temp("toolong.bin");
    Transfer(shell::kIdFlashRead, "0", "20001h", copy);
    ASSERT_TRUE(PumpUntilIdle());
    ASSERT_EQ(Boxes().size(), 1u);
    EXPECT_NE(Boxes()[0].find("larger than the transfer buffer"), std::string::npos);
    EXPECT_FALSE(Exists(copy));
    EXPECT_EQ(Status(), "flash read 0x0 not started: the length is larger than a transfer takes");
    // A transfer asked for while a worker runs leaves OperationParams alone.
    Configure([](sim::DeviceModel& m) { m.SetFault(0x60, sim::Fault::Silent); });
    Press(shell::kIdApStop);
    const ops::OperationParams before = params;
    Transfer(shell::kIdFlashRead, "100h", "16", Temp("busy.bin"));
    Press(shell::kIdApResume);
    Press(shell::kIdSetClock);
    EXPECT_EQ(platform::posix::BeepCount(), 3);
    EXPECT_EQ(std::memcmp(&before, &params, sizeof params), 0);
    ASSERT_TRUE(PumpUntilIdle());
    EXPECT_EQ(Requests(0x50) + Requests(0x61) + Requests(0x20), 0);
    // An erase length of 0x10000 goes out as 0.
    const std::string file = Temp("erase0.bin");
    WriteFile(file, Bytes(4));
    Transfer(shell::kIdFlashErase, "12345h", "10000h", file);
    ASSERT_TRUE(PumpUntilIdle());
    EXPECT_TRUE(LogContains(FrameLine('T', Frame(0x50, {0x44, 0x45, 0x23, 0x01, 0x00, 0x00}))));
}

// Refusals that name why before anything is sent: an empty file edit, a
// verify of nothing, and a source that is no file.
TEST_F(CommandSet, AFileThatCannotBeTheTransfersIsRefusedBeforeAnythingIsSent) {
    const std::string file = Temp("four.bin");
    WriteFile(file, Bytes(4, 0x11));
    const std::string folder = Temp("folder");
    mkdir(folder.c_str(), 0755);
    const struct {
        int id;
        std::string file;
        const char* length;
        const char* line;  // empty: the box says it all
        const char* box;
    } cases[] = {
        {shell::kIdFlashRead, "", "16", "flash read: no file name was given: nothing was opened or created",
         "WRITE ERROR"},
        {shell::kIdFlashWrite, "", "16", "flash write: no file name was given: nothing was opened", "OPEN ERROR"},
        {shell::kIdFlashVerify, file, "0", "", "flash verify: a length of 0 compares nothing: nothing was sent"},
        {shell::kIdFlashWrite, folder, "", "is a folder, not a file: nothing was sent", "OPEN ERROR"},
        {shell::kIdFlashWrite, "/dev/null", "", "/dev/null is a device, not a file: nothing was sent", "OPEN ERROR"},
    };
    for (const auto& c : cases) {
        platform::posix::ResetUi();
        Transfer(c.id, "5000h", c.length, c.file);
        ASSERT_TRUE(PumpUntilIdle());
        if (c.line[0] != '\0') {
            EXPECT_TRUE(LogHolds(c.line)) << c.line;
        }
        EXPECT_EQ(Boxes(), std::vector<std::string>{c.box});
        // The refusal names the address asked for.
        EXPECT_EQ(ops::ReadProgress().address, 0x5000u) << c.line;
    }
    EXPECT_TRUE(DeviceBytes().empty());
    EXPECT_FALSE(Exists(".partial"));
}

TEST_F(CommandSet, ParameterBlockChainStopsErasesWritesAndEndsWithRequest62) {
    SetControl(shell::kIdParamFirstText0 + 1, "AB");
    SetControl(shell::kIdParamSecondText0 + 1, "C");
    Press(shell::kIdParamBlock0 + 1);
    ASSERT_TRUE(PumpUntilIdle());
    Bytes block(256, 0x00);
    const Bytes head = {0x00, 0x05, 0x41, 0x42, 0x00, 0x43};
    std::copy(head.begin(), head.end(), block.begin());
    Bytes write = {0x84, 0x00, 0xE2, 0x00};
    write.insert(write.end(), block.begin(), block.end());
    Bytes expected = {0x5C};
    for (const Bytes& f :
         {Frame(0x60, {}), Frame(0x50, {0x44, 0x00, 0xE2, 0x00, 0x00, 0x01}), Frame(0x50, write), Frame(0x62, {})}) {
        expected.insert(expected.end(), f.begin(), f.end());
    }
    ASSERT_TRUE(DeviceReceived(expected.size()));
    EXPECT_EQ(DeviceBytes(), expected);
    EXPECT_EQ(device->FlashRange(0xE200, 256), block);
    EXPECT_FALSE(shell::ParamChainRuns());
    EXPECT_TRUE(StatusStarts("parameter block 1 complete in ")) << Status();
    // The chain has ended: a later worker's end sends no second 0x62.
    Press(shell::kIdApStop);
    ASSERT_TRUE(PumpUntilIdle());
    EXPECT_EQ(Requests(0x62), 1);
    EXPECT_TRUE(Boxes().empty());
    EXPECT_TRUE(StatusStarts("ap-stop complete in ")) << Status();
}

TEST_F(CommandSet, ParameterBlockAgainstASilentDeviceBeepsOnceAndWritesNothing) {
    Configure([](sim::DeviceModel& m) { m.SetFault(0x60, sim::Fault::Silent); });
    // Texts that fill the block exactly: 4 + 200 + 52 bytes.
    SetControl(shell::kIdParamFirstText0, std::string(200, 'a'));
    SetControl(shell::kIdParamSecondText0, std::string(52, 'b'));
    Press(shell::kIdParamBlock0);
    ASSERT_TRUE(PumpUntilIdle());
    EXPECT_EQ(platform::posix::BeepCount(), 1);
    EXPECT_EQ(Requests(0x50), 0);
    EXPECT_EQ(Requests(0x60), 3);
    EXPECT_FALSE(shell::ParamChainRuns());
    EXPECT_EQ(Status(), "parameter block 0: stop: no answer");
}

// Texts the 256 bytes cannot hold would be cut into a block whose second
// text's offset is wrong: refused before the stop request, nothing sent.
TEST_F(CommandSet, ParameterTextsThatDoNotFitTheBlockAreRefusedBeforeTheStop) {
    SetControl(shell::kIdParamFirstText0 + 2, std::string(200, 'a'));
    SetControl(shell::kIdParamSecondText0 + 2, std::string(53, 'b'));
    Press(shell::kIdParamBlock0 + 2);
    ASSERT_TRUE(PumpUntilIdle());
    EXPECT_EQ(Boxes(), std::vector<std::string>{"parameter block 2: the texts need 257 bytes, the block holds 256: "
                                                "nothing was sent; shorten them"});
    EXPECT_TRUE(DeviceBytes().empty());
    EXPECT_FALSE(shell::ParamChainRuns());
    EXPECT_EQ(Status(), "parameter block 2 not started: the texts do not fit the block");
}

TEST_F(CommandSet, ParameterBlockAgainstASilentDeviceSaysSoInTheLog) {
    Configure([](sim::DeviceModel& m) { m.SetFault(0x60, sim::Fault::Silent); });
    Press(shell::kIdParamBlock0);
    ASSERT_TRUE(PumpUntilIdle());
    EXPECT_TRUE(LogContains("parameter block: no answer to the stop request: nothing was erased or written"));
}

// A refused step lets the chain go on; a step that got no answer ends it: the block
// is not written over an erase that was never confirmed, and 0x62 is not sent.
struct ChainSilence {
    uint8_t subCode;
    int writes;  // write requests sent
};

class ChainSilent : public CommandSet, public ::testing::WithParamInterface<ChainSilence> {};

TEST_P(ChainSilent, EndsTheChainAfterTheUnansweredStep) {
    const ChainSilence c = GetParam();
    Configure([&](sim::DeviceModel& m) { m.SetFault(0x50, c.subCode, sim::Fault::Silent); });
    Press(shell::kIdParamBlock0);
    ASSERT_TRUE(PumpUntilIdle(20000));
    ASSERT_EQ(Boxes().size(), 1u);
    EXPECT_TRUE(LogContains("parameter block: the device stopped answering: the chain ends, request 0x62 is not sent"));
    EXPECT_FALSE(shell::ParamChainRuns());
    platform::SleepMs(100);
    EXPECT_EQ(Requests(0x50), 1 + c.writes);
    EXPECT_EQ(Requests(0x62), 0);
    // The device answers again: the next chain runs to its end.
    Configure([](sim::DeviceModel& m) { m.ClearFaults(); });
    Press(shell::kIdParamBlock0);
    ASSERT_TRUE(PumpUntilIdle());
    ASSERT_TRUE(device->WaitForFramesReceived(0x62, 1, 3000));
    EXPECT_EQ(Boxes().size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(Steps, ChainSilent, ::testing::Values(ChainSilence{0x44, 0}, ChainSilence{0x84, 1}),
                         [](const auto& info) { return info.param.subCode == 0x44 ? "Erase" : "Write"; });

TEST_F(CommandSet, ParameterBlockChainGoesOnAfterARefusedErase) {
    Configure([](sim::DeviceModel& m) { m.SetFault(0x50, 0x44, sim::Fault::Refuse); });
    Press(shell::kIdParamBlock0);
    ASSERT_TRUE(PumpUntilIdle());
    ASSERT_TRUE(device->WaitForFramesReceived(0x62, 1, 3000));
    EXPECT_EQ(Requests(0x50), 2);
    ASSERT_EQ(Boxes().size(), 1u);
    EXPECT_NE(Boxes()[0].find("FLASH ERASE"), std::string::npos);
}

TEST_F(CommandSet, ClockIsSetFromTheLocalTimeAndReadBack) {
    uint8_t before[5];
    ops::BuildClockPayload(platform::NowLocal(), before);
    Press(shell::kIdSetClock);
    ASSERT_TRUE(device->WaitForFramesReceived(0x20, 1, 3000));
    const Bytes line = DeviceBytes();
    const Bytes sent(line.begin() + 4, line.begin() + 9);
    EXPECT_EQ(sent[0], before[0]);  // the day number, unless midnight passed just now
    EXPECT_EQ(sent[1], before[1]);
    Press(shell::kIdReadClock);
    ASSERT_TRUE(device->WaitForFramesReceived(0x21, 1, 3000));
    // The answer carries the day number and the BCD time as they were set.
    Bytes answer = sent;
    answer.push_back(0);  // the weekday, which the check leaves out
    const std::string want = FrameLine('R', Frame(0x30, answer)).substr(0, 6 + 8 + 10);
    EXPECT_TRUE(Eventually([&] {
        for (const std::string& line : platform::posix::LogHistory()) {
            if (line.rfind(want, 0) == 0) return true;
        }
        return false;
    }));
    // The library's waiting form takes exactly the six bytes.
    uint8_t reading[8] = {0, 0, 0, 0, 0, 0, 0xEE, 0xEE};
    EXPECT_EQ(wire::QueryDeviceClock(reading), wire::kAccepted);
    EXPECT_EQ(Bytes(reading, reading + 5), sent);
    EXPECT_EQ(reading[6], 0xEE);
}

TEST_F(CommandSet, LibraryRequestsAgainstTheDevice) {
    wire::RecordSource = {};
    EXPECT_EQ(wire::BuildRecordAndSend(), wire::kAccepted);
    ASSERT_TRUE(DeviceReceived(22));
    EXPECT_EQ(DeviceBytes(), (Bytes{0x02, 0x50, 0x06, 0x00, 0x81, 0x00, 0x00, 0x00, 0x03, 0x00, 0x03,
                                    0xDF, 0x0D, 0x02, 0x31, 0x02, 0x00, 0x02, 0x00, 0x03, 0x3A, 0x0D}));
    // The library does not await the 0x31 request's answer; the next request
    // must not go out while the receiver is still reading that answer into
    // the ResponseBuffer (a race on its status byte, and the answer could be
    // taken for the next request's own).
    ASSERT_TRUE(Eventually([] {
        size_t answers = 0;
        for (const std::string& line : platform::posix::LogHistory()) answers += line.rfind("R-", 0) == 0;
        return answers == 2;
    }));
    EXPECT_EQ(wire::SendCommand2(), wire::kAccepted);
    EXPECT_EQ(wire::ReadArea02(4), wire::kAccepted);
    Configure([](sim::DeviceModel& m) {
        m.SetFault(0x22, sim::Fault::Refuse);
        m.SetFault(0x50, 0x81, sim::Fault::Refuse);
    });
    EXPECT_EQ(wire::SendCommand22(1), wire::kRefusedPolled);
    EXPECT_EQ(wire::SendRecordCommand0(9), wire::kRefused);  // the 0x30 frame is not sent
    platform::SleepMs(100);
    EXPECT_EQ(Requests(0x30), 0);
    uint8_t data[4];
    Configure([](sim::DeviceModel& m) { m.SetFault(0x50, 0x04, sim::Fault::Silent); });
    const uint32_t t0 = platform::TickMs();
    EXPECT_EQ(wire::ReadFlashChunk(data, 0, 4), wire::kNoAnswer);
    EXPECT_GE(platform::TickMs() - t0, wire::kOwnPollBoundMs);
}

TEST_F(CommandSet, PatternSequenceRunsACycleAndStopsOnCommand) {
    Press(shell::kIdSequenceStart);
    ASSERT_TRUE(device->WaitForPatterns(1, 3000));
    EXPECT_EQ(platform::posix::LogHistory()[0], "開始!!");
    EXPECT_EQ(device->Patterns()[0].data, Bytes(ops::PatternTable.begin(), ops::PatternTable.end()));
    // The hold: no empty pattern until ten seconds have passed on the tick.
    platform::SleepMs(200);
    EXPECT_EQ(device->Patterns().size(), 1u);
    platform::posix::AdvanceTick(wire::kPatternHoldMs);
    ASSERT_TRUE(device->WaitForPatterns(2, 3000));
    EXPECT_TRUE(device->Patterns()[1].data.empty());
    // After the 300 ms pause the next cycle begins with the table.
    ASSERT_TRUE(device->WaitForPatterns(3, 3000));
    EXPECT_EQ(device->Patterns()[2].data.size(), 53u);
    Press(shell::kIdSequenceStop);
    ASSERT_TRUE(PumpUntilIdle());
    EXPECT_EQ(lastPosted.message, wire::UM_SEQUENCE_STOPPED);
    EXPECT_FALSE(wire::LinkFlagSet(wire::kFlagStopSequence));
    EXPECT_EQ(platform::posix::LogHistory().back(), "停止!!");
    // Stopped during the hold: the empty pattern takes the table off first,
    // and the next sequence waits out the rest of the hold.
    ASSERT_EQ(device->Patterns().size(), 4u);
    EXPECT_TRUE(device->Patterns()[3].data.empty());
    EXPECT_GT(ops::SequenceTimer.load(), 9000);
    Press(shell::kIdSequenceStart);
    platform::SleepMs(200);
    EXPECT_EQ(device->Patterns().size(), 4u);
    platform::posix::AdvanceTick(wire::kPatternHoldMs);
    ASSERT_TRUE(device->WaitForPatterns(5, 3000));
    EXPECT_EQ(device->Patterns()[4].data.size(), 53u);
    Press(shell::kIdSequenceStop);
    ASSERT_TRUE(PumpUntilIdle());
}

TEST_F(CommandSet, PatternSequenceTellsOnceThatTheDeviceDoesNotAnswer) {
    Configure([](sim::DeviceModel& m) { m.SetFault(0x50, 0x83, sim::Fault::Silent); });
    Press(shell::kIdSequenceStart);
    ASSERT_TRUE(
        PumpUntilLogged("pattern: no answer within 1 s: check the cable and the device (the sequence goes on)", 5000));
    platform::posix::AdvanceTick(wire::kPatternHoldMs);
    ASSERT_TRUE(device->WaitForPatterns(2, 5000));
    platform::SleepMs(1200);  // the empty pattern's wait is over too
    Press(shell::kIdSequenceStop);
    ASSERT_TRUE(PumpUntilIdle());
    size_t lines = 0;
    for (const std::string& line : platform::posix::LogHistory()) lines += line.rfind("pattern: no answer", 0) == 0;
    EXPECT_EQ(lines, 1u);
}

TEST_F(CommandSet, AHoldAcrossTheTickWrapLastsItsFullTime) {
    // Bring the tick's low 16 bits to just before the wrap, then start.
    const uint32_t low = platform::TickMs() & 0xFFFF;
    platform::posix::AdvanceTick(0x10000 - low - 30);
    Press(shell::kIdSequenceStart);
    ASSERT_TRUE(device->WaitForPatterns(1, 3000));
    platform::SleepMs(300);  // the wrap has passed
    EXPECT_EQ(device->Patterns().size(), 1u);
    EXPECT_GT(ops::SequenceTimer.load(), 9000);
    Press(shell::kIdSequenceStop);
    ASSERT_TRUE(PumpUntilIdle());
}

}  // namespace
