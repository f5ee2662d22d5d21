// pty_device_test.cpp - the simulated TQ7300 behind a real pseudo-terminal, seen from the console's side of the line.
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <numeric>
#include <string>
#include <vector>

#include "frame.h"
#include "pty_device.h"

namespace {

using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;

const Bytes kResume = {0x02, 0x61, 0x00, 0x00, 0x03, 0x66, 0x0D};
const Bytes kAcceptedEmpty = {0x02, 0x30, 0x00, 0x00, 0x03, 0x35, 0x0D};
constexpr int kWaitMs = 3000;  // generous: a loaded machine must not fail these

// The console's end of the line: the slave opened raw, as a serial port would be.
class Line {
public:
    explicit Line(const std::string& path) : fd_(open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC)) {
        termios tio{};
        if (fd_ >= 0 && tcgetattr(fd_, &tio) == 0) {
            cfmakeraw(&tio);
            tcsetattr(fd_, TCSANOW, &tio);
        }
    }
    ~Line() {
        if (fd_ >= 0) close(fd_);
    }
    bool ok() const { return fd_ >= 0; }
    bool Send(const Bytes& b) const { return write(fd_, b.data(), b.size()) == static_cast<ssize_t>(b.size()); }

    // Up to n bytes, waiting at most timeoutMs in all.
    Bytes Read(size_t n, int timeoutMs) const {
        Bytes got;
        const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        while (got.size() < n && Clock::now() < deadline) {
            pollfd pfd{fd_, POLLIN, 0};
            if (poll(&pfd, 1, 10) <= 0) continue;
            uint8_t buf[256];
            const ssize_t r = read(fd_, buf, std::min(sizeof buf, n - got.size()));
            if (r > 0) got.insert(got.end(), buf, buf + r);
        }
        return got;
    }

private:
    int fd_;
};

class PtyDeviceTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = std::filesystem::temp_directory_path() / ("tq7300-sim-test-" + std::to_string(getpid()));
        std::filesystem::create_directories(dir_);
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }
    std::filesystem::path dir_;
};

TEST_F(PtyDeviceTest, AnswersARequestOnTheSlave) {
    sim::PtyDevice device;
    ASSERT_TRUE(device.Start());
    Line line(device.SlavePath());
    ASSERT_TRUE(line.ok());
    ASSERT_TRUE(line.Send(kResume));
    EXPECT_EQ(line.Read(7, kWaitMs), kAcceptedEmpty);
    EXPECT_EQ(device.FramesReceived(0x61), 1);
}

TEST_F(PtyDeviceTest, StableLinkPointsAtTheSlaveAndGoesAwayOnStop) {
    const std::filesystem::path link = dir_ / "ttyTQ";
    std::filesystem::create_symlink("/nonexistent-old-device", link);  // a stale link is replaced
    sim::PtyDevice device(sim::PtyOptions{link.string(), false, 250});
    std::string error;
    ASSERT_TRUE(device.Start(&error)) << error;
    EXPECT_EQ(std::filesystem::read_symlink(link), device.SlavePath());
    device.Stop();
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(link)));
}

TEST_F(PtyDeviceTest, RefusesToReplaceAFileThatIsNotALink) {
    const std::filesystem::path path = dir_ / "plain";
    {
        std::FILE* f = std::fopen(path.c_str(), "w");
        ASSERT_NE(f, nullptr);
        std::fclose(f);
    }
    sim::PtyDevice device(sim::PtyOptions{path.string(), false, 250});
    EXPECT_FALSE(device.Start());
    EXPECT_TRUE(std::filesystem::is_regular_file(path));
}

TEST_F(PtyDeviceTest, KeepsAnsweringAfterTheConsoleReopensThePort) {
    sim::PtyDevice device;
    ASSERT_TRUE(device.Start());
    for (int round = 0; round < 3; ++round) {
        Line line(device.SlavePath());
        ASSERT_TRUE(line.ok());
        ASSERT_TRUE(line.Send(kResume));
        EXPECT_EQ(line.Read(7, kWaitMs), kAcceptedEmpty) << "round " << round;
    }
}

TEST_F(PtyDeviceTest, LateAnswerKeepsItsPlaceAheadOfLaterAnswers) {
    sim::PtyDevice device;
    device.Configure([](sim::DeviceModel& m) { m.SetFault(0x60, sim::Fault::Late, 200); });
    ASSERT_TRUE(device.Start());
    Line line(device.SlavePath());
    ASSERT_TRUE(line.Send(sim::BuildFrame(0x60, {})));
    ASSERT_TRUE(device.WaitForFramesReceived(0x60, 1, kWaitMs));
    ASSERT_TRUE(line.Send(sim::BuildFrame(0x21, {})));
    const Bytes got = line.Read(7 + 13, kWaitMs);
    ASSERT_EQ(got.size(), 20u);
    EXPECT_EQ(Bytes(got.begin(), got.begin() + 7), kAcceptedEmpty);
    EXPECT_EQ(got[9], 6);  // the clock answer, with its 6-byte payload, comes second
}

TEST_F(PtyDeviceTest, PacedDeviceStillCarriesAWholeBootRun) {
    sim::PtyDevice device(sim::PtyOptions{"", true, 250});
    ASSERT_TRUE(device.Start());
    Line line(device.SlavePath());
    ASSERT_TRUE(line.Send(sim::BuildFrame(0x70, {})));
    EXPECT_EQ(line.Read(7, kWaitMs), kAcceptedEmpty);
    ASSERT_TRUE(device.WaitForBootMode(true, kWaitMs));
    ASSERT_TRUE(line.Send({'E', 0x0A, 0x0A}));
    EXPECT_EQ(line.Read(1, kWaitMs), Bytes{0x00});
    ASSERT_TRUE(line.Send({'W'}));
    EXPECT_EQ(line.Read(1, kWaitMs), Bytes{0xAA});
    ASSERT_TRUE(line.Send({0x80, 0x33}));
    EXPECT_EQ(line.Read(1, kWaitMs), Bytes{0xB3});
    ASSERT_TRUE(line.Send(Bytes(128, 0x01)));
    EXPECT_EQ(line.Read(1, kWaitMs), Bytes{0x80});
    ASSERT_TRUE(line.Send({'U', 0xFF}));
    EXPECT_EQ(line.Read(1, kWaitMs), Bytes{0x00});
    ASSERT_TRUE(device.WaitForBootMode(false, kWaitMs));
    EXPECT_EQ(device.Flash()[0x3380], 0x01);
    EXPECT_EQ(device.Flash()[0x3000], 0xFF);
}

TEST_F(PtyDeviceTest, ReportsReceivedBytesAndFlashChanges) {
    sim::PtyDevice device;
    Bytes recorded;
    int flashReports = 0;
    device.OnReceived([&](const uint8_t* d, size_t n) { recorded.insert(recorded.end(), d, d + n); });
    device.OnFlashChanged([&](const Bytes& f) { flashReports += f.size() == 0x10000 && f[0xF000] == 0xFF; });
    device.Configure([](sim::DeviceModel& m) { m.EnterBootMode(); });
    ASSERT_TRUE(device.Start());
    Line line(device.SlavePath());
    ASSERT_TRUE(line.Send({'E', 0x00, 0x00}));
    EXPECT_EQ(line.Read(1, kWaitMs), Bytes{0x00});
    ASSERT_TRUE(device.WaitForRepliesSent(kWaitMs));
    device.Stop();  // joins the device thread: the sinks are done
    EXPECT_EQ(recorded, Bytes({'E', 0x00, 0x00}));
    EXPECT_EQ(flashReports, 1);
}

Bytes MemoryRequest(uint8_t sub, uint32_t address, const Bytes& data) {
    Bytes payload(4 + data.size());
    payload[0] = sub;
    payload[1] = uint8_t(address), payload[2] = uint8_t(address >> 8), payload[3] = uint8_t(address >> 16);
    std::copy(data.begin(), data.end(), payload.begin() + 4);
    return sim::BuildFrame(0x50, payload);
}

// 128 KiB above the boot-mode range in 512 chunks, as a console's transfer sends it.
TEST_F(PtyDeviceTest, DumpOfALargeTransferCoversItsHighestPageInFewReports) {
    sim::PtyOptions options;
    options.flashReportMs = 3600 * 1000;  // nothing but the first change and the stop report
    sim::PtyDevice device(options);
    Bytes dump;
    int reports = 0;
    device.OnFlashChanged([&](const Bytes& f) { dump = f, ++reports; });
    ASSERT_TRUE(device.Start());
    Line line(device.SlavePath());
    Bytes chunk(256);
    for (uint32_t n = 0; n < 512; ++n) {
        std::iota(chunk.begin(), chunk.end(), uint8_t(n));
        ASSERT_TRUE(line.Send(MemoryRequest(0x84, 0x10000 + n * 256, chunk)));
        ASSERT_EQ(line.Read(7, kWaitMs), kAcceptedEmpty) << "chunk " << n;
    }
    EXPECT_EQ(device.FlashRange(0x2FFFF, 2), Bytes({0xFE, 0x00}));  // last chunk's end, then fill
    device.Stop();
    EXPECT_EQ(reports, 2);
    ASSERT_EQ(dump.size(), 0x30000u);
    EXPECT_EQ(dump, device.FlashDump());
    EXPECT_EQ(dump[0x10000 + 300 * 256 + 5], uint8_t(300 + 5));
}

TEST_F(PtyDeviceTest, PatternsArriveWithTheirTimeInOrder) {
    sim::PtyDevice device;
    std::vector<sim::PatternRecord> reported;
    device.OnPattern([&](const sim::PatternRecord& p) { reported.push_back(p); });
    ASSERT_TRUE(device.Start());
    Line line(device.SlavePath());
    const Bytes table(53, 0x5A);
    for (const Bytes& data : {table, Bytes{}}) {
        ASSERT_TRUE(line.Send(MemoryRequest(0x83, 0, data)));
        EXPECT_EQ(line.Read(7, kWaitMs), kAcceptedEmpty);
    }
    ASSERT_TRUE(device.WaitForPatterns(2, kWaitMs));
    device.Stop();
    const std::vector<sim::PatternRecord> patterns = device.Patterns();
    ASSERT_EQ(patterns.size(), 2u);
    EXPECT_EQ(patterns[0].data, table);
    EXPECT_TRUE(patterns[1].data.empty());
    EXPECT_LE(patterns[0].ms, patterns[1].ms);
    ASSERT_EQ(reported.size(), 2u);
    EXPECT_EQ(reported[1].ms, patterns[1].ms);
}

}  // namespace

namespace {

// Bytes injected unprompted reach the line whole, and a request behind them is still
// answered: a test can put noise on the line without disturbing the device itself.
TEST_F(PtyDeviceTest, InjectedBytesGoOutUnpromptedAndTheDeviceStillAnswers) {
    sim::PtyDevice device;
    ASSERT_TRUE(device.Start());
    Line line(device.SlavePath());
    ASSERT_TRUE(line.ok());
    Bytes noise(5000);
    for (size_t i = 0; i < noise.size(); ++i) noise[i] = static_cast<uint8_t>(i * 7 + 1);
    device.Inject(noise);
    EXPECT_EQ(line.Read(noise.size(), kWaitMs), noise);
    EXPECT_TRUE(device.WaitForRepliesSent(kWaitMs));
    ASSERT_TRUE(line.Send(kResume));
    EXPECT_EQ(line.Read(7, kWaitMs), kAcceptedEmpty);
    EXPECT_EQ(device.Received(), kResume);  // what was injected is not taken as received
}

}  // namespace

namespace {

// --latency: a short answer waits in the adapter for the latency timer; a long
// one goes on in packets of 62 bytes as soon as each is full.
TEST_F(PtyDeviceTest, AdapterLatencyHoldsShortAnswersAndPassesFullPackets) {
    sim::PtyOptions options;
    options.latencyMs = 150;
    sim::PtyDevice device(options);
    ASSERT_TRUE(device.Start());
    Line line(device.SlavePath());
    ASSERT_TRUE(line.ok());
    const auto start = Clock::now();
    ASSERT_TRUE(line.Send(kResume));
    EXPECT_TRUE(line.Read(1, 100).empty());  // held: fewer than 62 bytes, timer running
    EXPECT_EQ(line.Read(7, kWaitMs), kAcceptedEmpty);
    EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(150));

    // A flash read of 200 bytes: a 207-byte answer, three full packets at once.
    const Bytes read200 = {0x02, 0x50, 0x06, 0x00, 0x04, 0x00, 0x00, 0x00, 0xC8, 0x00, 0x03, 0x27, 0x0D};
    ASSERT_TRUE(line.Send(read200));
    EXPECT_EQ(line.Read(186, 100).size(), 186u);
    EXPECT_EQ(line.Read(21, kWaitMs).size(), 21u);  // the rest, after the timer
}

}  // namespace
