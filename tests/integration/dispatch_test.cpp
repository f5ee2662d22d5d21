// dispatch_test.cpp - the dialog's commands against a device: open and close, ap-stop, and the
// firmware update with its verdict, pumped the way the dialog would be.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>

#include "dialog_test.h"
#include "firmware/image_loader.h"
#include "link/link_state.h"
#include "link/serial_session.h"
#include "shell/command_ids.h"
#include "shell/dispatch.h"

namespace {

using Bytes = std::vector<uint8_t>;

class Dialog : public tqtest::DialogTest {
protected:
    void WriteFirmware(const std::string& text) {
        firmwarePath = ::testing::TempDir() + "tq_dialog_fw.mot";
        std::ofstream(firmwarePath, std::ios::binary) << text;
        std::strcpy(firmware::FirmwarePath, firmwarePath.c_str());
    }

    std::string firmwarePath;
};

// Model 1, one page at 0x3000 and one at 0xA000.
const char kFirmware[] = "S00600004844521B\r\nTQ1\r\n"
                         "S1133000000102030405060708090A0B0C0D0E0F44\r\n"
                         "S107A000CAFEBABE18\r\n"
                         "S9030000FC\r\n";

TEST_F(Dialog, DefaultsAndOpenCloseDriveTheSessionAndThePortEdit) {
    EXPECT_EQ(platform::posix::ControlText(shell::kIdPortEdit), "1");
    EXPECT_EQ(platform::posix::ControlText(shell::kIdFileEdit), "C:\\hew2\\work\\tq7300\\tmp.dat");
    EXPECT_EQ(platform::posix::ControlText(shell::kIdLengthEdit), "0");
    EXPECT_EQ(platform::posix::ControlText(shell::kIdStartAddressEdit), "0");
    Press(shell::kIdOpen);
    EXPECT_TRUE(wire::SessionOpen());
    EXPECT_FALSE(platform::posix::ControlEnabled(shell::kIdPortEdit));
    Press(shell::kIdApResume);
    EXPECT_TRUE(DeviceReceived(7));
    Press(shell::kIdClose);
    EXPECT_FALSE(wire::SessionOpen());
    EXPECT_TRUE(platform::posix::ControlEnabled(shell::kIdPortEdit));
}

// The device's end of the line closes: the session ends by itself, as
// "close" would, and says so.
TEST_F(Dialog, PortThatGoesAwayEndsTheSessionAndFreesThePortEdit) {
    Press(shell::kIdOpen);
    ASSERT_TRUE(wire::SessionOpen());
    device->Stop();
    EXPECT_TRUE(Pump([] { return platform::posix::ControlEnabled(shell::kIdPortEdit); }, 3000));
    EXPECT_FALSE(wire::SessionOpen());
    const auto log = platform::posix::LogHistory();
    EXPECT_EQ(std::count_if(log.begin(), log.end(),
                            [](const std::string& l) { return l.rfind("the port went away", 0) == 0; }),
              1);
}

// A driver that refuses a set-up step: the port is not open, the box names
// the step and the system's words, and the port is free for the next open.
TEST_F(Dialog, RefusedSetUpStepLeavesThePortClosedAndFree) {
    for (const char* step : {"set-up queues", "tcflush", "tcgetattr", "tcsetattr", "set time-outs"}) {
        SCOPED_TRACE(step);
        const size_t boxes = platform::posix::BoxesShown().size();
        platform::posix::FailPortSetupStep(step);
        Press(shell::kIdOpen);
        EXPECT_FALSE(wire::SessionOpen());
        EXPECT_TRUE(platform::posix::ControlEnabled(shell::kIdPortEdit));
        ASSERT_EQ(platform::posix::BoxesShown().size(), boxes + 1);
        const std::string box = platform::posix::BoxesShown().back();
        EXPECT_NE(box.find(std::string("COM1 could not be set up: ") + step + " failed: Invalid argument"),
                  std::string::npos)
            << box;
        Press(shell::kIdOpen);
        EXPECT_TRUE(wire::SessionOpen());
        Press(shell::kIdClose);
    }
}

TEST_F(Dialog, FailedOpenShowsTheBoxAndKeepsTheEditEnabled) {
    platform::posix::SetControl(shell::kIdPortEdit, "abc");
    Press(shell::kIdOpen);
    ASSERT_EQ(platform::posix::BoxesShown().size(), 1u);
    EXPECT_EQ(platform::posix::BoxesShown()[0], "COMがオープンできません");
    EXPECT_TRUE(platform::posix::ControlEnabled(shell::kIdPortEdit));
    EXPECT_FALSE(wire::SessionOpen());
}

TEST_F(Dialog, OpenDuringASessionIsRefusedAndTheSessionGoesOn) {
    Press(shell::kIdOpen);
    platform::posix::SetControl(shell::kIdPortEdit, "7");
    Press(shell::kIdOpen);
    EXPECT_EQ(platform::posix::BeepCount(), 1);
    EXPECT_TRUE(platform::posix::BoxesShown().empty());
    EXPECT_EQ(wire::PortNumber, 1);
    Press(shell::kIdApResume);
    EXPECT_TRUE(DeviceReceived(7));
}

// Ids that no control carries (211 once waited for the unit after an
// update; notifications and the like arrive with others) do nothing at all.
TEST_F(Dialog, CommandsThatNoControlCarriesSendNothing) {
    Press(shell::kIdOpen);
    const uint32_t serial = ops::ReadProgress().serial;
    const size_t logged = platform::posix::LogHistory().size();
    for (const int id : {211, 0, 1, 2, 104, 107, 212, 299, 304, 999, 0xFFFF}) {
        EXPECT_FALSE(shell::OnCommand(&params, id)) << id;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_TRUE(DeviceBytes().empty());
    EXPECT_EQ(ops::ReadProgress().serial, serial);
    EXPECT_EQ(platform::posix::LogHistory().size(), logged);
    EXPECT_EQ(platform::posix::BeepCount(), 0);
    EXPECT_FALSE(shell::WorkerRunning());
}

TEST_F(Dialog, ApStopAgainstAnAnsweringDevice) {
    Press(shell::kIdOpen);
    Press(shell::kIdApStop);
    ASSERT_TRUE(Pump([] { return !shell::WorkerRunning(); }, 5000));
    ASSERT_TRUE(Pump([&] { return lastPosted.message == wire::UM_WORKER_DONE; }, 2000));
    EXPECT_EQ(lastPosted.wParam, 1u);
    EXPECT_EQ(DeviceBytes(), (Bytes{0x5C, 0x02, 0x60, 0x00, 0x00, 0x03, 0x65, 0x0D}));
}

TEST_F(Dialog, ApStopAgainstASilentDeviceMakesExactlyThreeAttempts) {
    Configure([](sim::DeviceModel& m) { m.SetFault(0x60, sim::Fault::Silent); });
    Press(shell::kIdOpen);
    Press(shell::kIdApStop);
    ASSERT_TRUE(Pump([&] { return lastPosted.message == wire::UM_WORKER_DONE; }, 5000));
    EXPECT_EQ(lastPosted.wParam, 0u);
    const Bytes got = DeviceBytes();
    EXPECT_EQ(std::count(got.begin(), got.end(), 0x5C), 3);
    EXPECT_EQ(Status(), "ap-stop: no answer");
    EXPECT_EQ(device->FramesReceived(0x60), 3);
    EXPECT_EQ(got.size(), 3u * 8u);
}

TEST_F(Dialog, SecondWorkerIsRefusedWhileOneRuns) {
    Configure([](sim::DeviceModel& m) { m.SetFault(0x60, sim::Fault::Silent); });
    Press(shell::kIdOpen);
    Press(shell::kIdApStop);
    Press(shell::kIdApStop);
    EXPECT_EQ(platform::posix::BeepCount(), 1);
    ASSERT_TRUE(Pump([&] { return lastPosted.message == wire::UM_WORKER_DONE; }, 5000));
    EXPECT_EQ(device->FramesReceived(0x60), 3);
}

TEST_F(Dialog, FarmUpdateProgramsTheDeviceWhenItAcceptsTheModel) {
    WriteFirmware(kFirmware);
    Configure([](sim::DeviceModel& m) { m.FillFlash(0x00); });
    Press(shell::kIdOpen);
    Press(shell::kIdFarmUpdate);
    ASSERT_TRUE(PumpUntilLogged("更新完了"));
    const auto log = platform::posix::LogHistory();
    EXPECT_EQ(log[0].rfind("firmware file /tmp/tq_dialog_fw.mot: model record TQ1, 2 pages, SHA-256 ", 0), 0u)
        << log[0];
    EXPECT_EQ(log[1], "T-  7 0270000003750D");
    EXPECT_EQ(log[2], "R-  7 0230000003350D");
    const sim::FlashImage flash = device->Flash();
    for (uint32_t a = 0x3000; a < 0x3010; ++a) EXPECT_EQ(flash[a], a - 0x3000);
    EXPECT_EQ(flash[0xA000], 0xCA);
    EXPECT_EQ(flash[0xA003], 0xBE);
    EXPECT_TRUE(Pump([] { return !shell::WorkerRunning(); }, 2000));
    ASSERT_TRUE(Pump([] { return ops::ReadProgress().endMs != 0; }, 2000));
    EXPECT_TRUE(StatusStarts("update complete in ")) << Status();
    const ops::ProgressSnapshot s = ops::ReadProgress();
    EXPECT_EQ(s.done, s.total);
    EXPECT_GT(s.total, 0u);
}

TEST_F(Dialog, RefusedModelLogsTheMismatchAndSendsNothingMore) {
    WriteFirmware(kFirmware);
    Configure([](sim::DeviceModel& m) { m.SetModel(sim::kModelQ); });
    Press(shell::kIdOpen);
    Press(shell::kIdFarmUpdate);
    ASSERT_TRUE(PumpUntilLogged("機種が適合しません", 3000));
    platform::SleepMs(100);
    EXPECT_EQ(DeviceBytes(), (Bytes{0x02, 0x70, 0x00, 0x00, 0x03, 0x75, 0x0D}));
    EXPECT_FALSE(shell::WorkerRunning());
    EXPECT_EQ(Status(), "update refused");
}

TEST_F(Dialog, FirmwareWithoutModelSendsNothing) {
    WriteFirmware("S9030000FC\r\n");
    Press(shell::kIdOpen);
    Press(shell::kIdFarmUpdate);
    EXPECT_TRUE(LogContains("ﾌｧｰﾑﾌｧｲﾙに、機種情報がありません"));
    platform::SleepMs(100);
    EXPECT_TRUE(DeviceBytes().empty());
    EXPECT_EQ(Status(), "update not started: the firmware file has no model record");
}

// A firmware file with a damaged record: the question names its line, and
// nothing is sent unless the engineer answers Yes.
struct DamagedFirmwareCase {
    const char* name;
    int id;
    bool yes;
    size_t bytesSent;  // 0: nothing; else at least this many
};

class DamagedFirmware : public Dialog, public ::testing::WithParamInterface<DamagedFirmwareCase> {};

TEST_P(DamagedFirmware, TheEngineerDecidesBeforeAnythingIsSent) {
    const DamagedFirmwareCase& c = GetParam();
    WriteFirmware("TQ1\r\nS1133000000102030405060708090A0B0C0D0E0F44\r\nS107A000CAFEBABE19\r\nS9030000FC\r\n");
    if (c.id == shell::kIdRecovery) Configure([](sim::DeviceModel& m) { m.EnterBootMode(); });
    platform::posix::AnswerQuestions(c.yes);
    Press(shell::kIdOpen);
    Press(c.id);
    EXPECT_EQ(platform::posix::QuestionsAsked(),
              std::vector<std::string>{"The firmware file is damaged at line 3: the checksum does not match the "
                                       "record.\n\nProgram it anyway?"});
    if (c.bytesSent == 0) {
        platform::SleepMs(100);
        EXPECT_TRUE(DeviceBytes().empty());
        EXPECT_TRUE(StatusStarts(c.id == shell::kIdRecovery ? "recovery not started" : "update not started"))
            << Status();
    } else {
        ASSERT_TRUE(DeviceReceived(c.bytesSent));
    }
    PumpUntilIdle();
}

INSTANTIATE_TEST_SUITE_P(Cases, DamagedFirmware,
                         ::testing::Values(DamagedFirmwareCase{"UpdateNo", shell::kIdFarmUpdate, false, 0},
                                           DamagedFirmwareCase{"UpdateYes", shell::kIdFarmUpdate, true, 7},
                                           DamagedFirmwareCase{"RecoveryNo", shell::kIdRecovery, false, 0},
                                           DamagedFirmwareCase{"RecoveryYes", shell::kIdRecovery, true, 3}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(Dialog, UnansweredModelRequestTimesOutAndALateAnswerIsNoVerdict) {
    WriteFirmware(kFirmware);
    Configure([](sim::DeviceModel& m) { m.SetFault(0x70, sim::Fault::Late, 4500); });
    Press(shell::kIdOpen);
    Press(shell::kIdFarmUpdate);
    Press(shell::kIdApResume);  // refused while the verdict is awaited
    EXPECT_EQ(platform::posix::BeepCount(), 1);
    ASSERT_TRUE(PumpUntilLogged("no answer to the model request: update not started", 6000));
    EXPECT_EQ(Status(), "update: no answer");
    // The accepting answer that comes after the time-out starts nothing.
    ASSERT_TRUE(Pump([] { return wire::ResponseArrived(); }, 3000));
    platform::posix::Posted msg{};
    EXPECT_FALSE(platform::posix::TakePosted(msg, 200));
    EXPECT_FALSE(shell::WorkerRunning());
}

TEST_F(Dialog, RecoveryProgramsADeviceInBootModeAndASecondStartIsRefused) {
    WriteFirmware(kFirmware);
    Configure([](sim::DeviceModel& m) {
        m.FillFlash(0x00);
        m.EnterBootMode();
    });
    Press(shell::kIdOpen);
    Press(shell::kIdRecovery);
    WriteFirmware("S9030000FC\r\n");  // a reload now would empty the image
    Press(shell::kIdRecovery);
    Press(shell::kIdFarmUpdate);
    EXPECT_EQ(platform::posix::BeepCount(), 2);
    ASSERT_TRUE(PumpUntilLogged("更新完了"));
    EXPECT_EQ(firmware::FirmwareImage[0x3001], 0x01);
    EXPECT_EQ(device->Flash()[0x3001], 0x01);
    EXPECT_EQ(device->FramesReceived(0x70), 0);
}

TEST_F(Dialog, VerdictMessageWithAnotherValueDoesNothing) {
    EXPECT_TRUE(shell::OnPrivateMessage(&params, wire::UM_RESPONSE_ARRIVED, 2, 0));
    EXPECT_TRUE(shell::OnPrivateMessage(&params, wire::UM_RESPONSE_ARRIVED, 0, 0));
    EXPECT_FALSE(shell::WorkerRunning());
    EXPECT_TRUE(platform::posix::LogHistory().empty());
    // A second done message for an empty slot is harmless.
    EXPECT_TRUE(shell::OnPrivateMessage(&params, wire::UM_WORKER_DONE, 0, 0));
    EXPECT_FALSE(shell::OnPrivateMessage(&params, wire::UM_PORT_LOST + 1, 0, 0));
}

TEST_F(Dialog, SequenceStoppedClearsOnlyItsFlag) {
    wire::SetLinkFlag(wire::kFlagStopSequence | wire::kFlagRawCapture);
    shell::OnPrivateMessage(&params, wire::UM_SEQUENCE_STOPPED, 0, 0);
    EXPECT_FALSE(wire::LinkFlagSet(wire::kFlagStopSequence));
    EXPECT_TRUE(wire::LinkFlagSet(wire::kFlagRawCapture));
    wire::ClearLinkFlag(wire::kFlagRawCapture);
}

}  // namespace

// A worker that has ended but whose message is still queued holds the slot: its
// message, handled after a new command, must not be taken for the new worker's. Here
// the pattern sequence is pressed in that moment; the stale ap-stop message must
// neither wait for the sequence nor empty the slot under it, which would let a second
// sequence loop start beside the first.
TEST_F(Dialog, AnEndedWorkersQueuedMessageDoesNotReapTheNextWorker) {
    Press(shell::kIdOpen);
    Press(shell::kIdApStop);
    // The stop is answered at once; wait for its thread to end without handling its message.
    for (int i = 0; i < 500 && shell::WorkerRunning(); ++i) platform::SleepMs(10);
    ASSERT_FALSE(shell::WorkerRunning());
    Press(shell::kIdSequenceStart);
    ASSERT_TRUE(Pump([&] { return lastPosted.message == wire::UM_WORKER_DONE; }, 15000));
    // The refused press leaves the stop's own end on the status strip.
    EXPECT_TRUE(StatusStarts("ap-stop complete in ")) << Status();
    // Whether the first press was refused or started the sequence, the operator's next
    // one must leave exactly one sequence running, held by the slot.
    Press(shell::kIdSequenceStart);
    ASSERT_TRUE(PumpUntilLogged("開始!!"));
    EXPECT_TRUE(shell::WorkerRunning());
    const int beeps = platform::posix::BeepCount();
    Press(shell::kIdApStop);
    EXPECT_EQ(platform::posix::BeepCount(), beeps + 1) << "ap-stop beside the sequence was not refused";
    Press(shell::kIdSequenceStop);
    ASSERT_TRUE(PumpUntilIdle());
    const auto log = platform::posix::LogHistory();
    EXPECT_EQ(std::count(log.begin(), log.end(), std::string("開始!!")), 1);
    EXPECT_EQ(std::count(log.begin(), log.end(), std::string("停止!!")), 1);
}
