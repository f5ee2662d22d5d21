// transfer_bench.cpp - the benchmark's flash transfer rows: a 128 KB write and read through the
// dialog's own workers, each chunk a request that its answer must follow.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "bench_model.h"
#include "link/link_state.h"
#include "firmware/firmware_verify.h"
#include "operations/flash_transfer.h"
#include "operations/verify.h"
#include "platform/posix/posix_hooks.h"
#include "pty_device.h"

namespace bench {
namespace {

constexpr uint32_t kStart = 0x10000;
constexpr uint32_t kLength = 0x20000;   // the whole transfer buffer
constexpr int kMemoryHeader = 4;        // 'P' sub-code and three address bytes
constexpr int kReadRequestPayload = 6;  // sub-code, address, count

// Each chunk is one request and one answer, with no pause between them: the
// goal is the line time of both.
Budget WriteBudget(uint32_t address, uint32_t length) {
    Budget b;
    for (uint32_t left = length; left != 0;) {
        const uint32_t n = ops::WriteChunkSize(address, left);
        Step(b, kFrameOverhead + kMemoryHeader + static_cast<int>(n), kFrameOverhead, 0);
        address += n;
        left -= n;
    }
    return b;
}

void AddReads(Budget& b, uint32_t length) {
    for (uint32_t left = length; left != 0;) {
        const uint32_t n = ops::ReadChunkSize(left);
        Step(b, kFrameOverhead + kReadRequestPayload, kFrameOverhead + static_cast<int>(n), 0);
        left -= n;
    }
}

Budget ReadBudget(uint32_t length) {
    Budget b;
    AddReads(b, length);
    return b;
}

int Chunks(uint32_t length) { return static_cast<int>((length + ops::kChunkSize - 1) / ops::kChunkSize); }

// Runs a worker on this thread (it returns when done) and takes the
// UM_WORKER_DONE it posts, as the dialog would; true when it posted that and
// showed no failure box.
bool RunWorker(uint32_t (*worker)(void*), ops::OperationParams& params) {
    const size_t boxesBefore = platform::posix::BoxesShown().size();
    worker(&params);
    platform::posix::Posted posted{};
    const bool done = platform::posix::TakePosted(posted, 0) && posted.message == wire::UM_WORKER_DONE;
    return done && platform::posix::BoxesShown().size() == boxesBefore;
}

std::vector<uint8_t> ReadWholeFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void Row(const char* operation, const char* suffix, bool ok, double measured, const Budget& budget) {
    char label[80];
    std::snprintf(label, sizeof label, "%s, %d chunks (%s)%s", operation, Chunks(kLength), ok ? "ok" : "bad", suffix);
    Report(label, measured, budget);
}

}  // namespace

bool RunTransferRows(sim::PtyDevice& device, const char* suffix) {
    // No byte may be 0xFF, or the write would skip an erased-looking chunk.
    std::vector<uint8_t> data(kLength);
    for (uint32_t i = 0; i < kLength; ++i) data[i] = static_cast<uint8_t>(i % 251);
    std::memcpy(ops::TransferBuffer.data(), data.data(), kLength);

    ops::OperationParams params{};
    params.StartAddress = kStart;
    params.Length = kLength;

    auto start = std::chrono::steady_clock::now();
    bool writeOk = RunWorker(ops::FlashWriteWorker, params);
    const double writeMs = Since(start);
    writeOk = writeOk && device.FlashRange(kStart, kLength) == data;
    Row("flash write", suffix, writeOk, writeMs, WriteBudget(kStart, kLength));

    char dir[] = "/tmp/tq_bench.XXXXXX";
    if (mkdtemp(dir) == nullptr) {
        std::fprintf(stderr, "bench: cannot make a directory for the read's file\n");
        return false;
    }
    const std::string file = std::string(dir) + "/flash.bin";
    std::snprintf(params.FileName, sizeof params.FileName, "%s", file.c_str());
    // Cleared first, so the file can only match if every byte came off the line.
    ops::TransferBuffer.fill(0);

    start = std::chrono::steady_clock::now();
    bool readOk = RunWorker(ops::FlashReadWorker, params);
    const double readMs = Since(start);
    readOk = readOk && ReadWholeFile(file) == data;
    Row("flash read", suffix, readOk, readMs, ReadBudget(kLength));

    std::remove(file.c_str());
    std::remove(dir);

    // A verify reads as the read does and compares with the file's bytes.
    std::memcpy(ops::TransferBuffer.data(), data.data(), kLength);
    start = std::chrono::steady_clock::now();
    const bool verifyOk = RunWorker(ops::FlashVerifyWorker, params) && ops::LastResult().verify.differing == 0 &&
                          ops::LastResult().verify.compared == kLength;
    Row("flash verify", suffix, verifyOk, Since(start), ReadBudget(kLength));
    return writeOk && readOk && verifyOk;
}

bool RunFirmwareVerifyRow(const firmware::Image& image, const char* suffix) {
    firmware::FirmwareImage = image;
    ops::VerifySegment segments[ops::kMaxVerifySegments];
    const int count = firmware::FirmwarePageSegments(image, segments);
    Budget budget;
    uint32_t bytes = 0;
    for (int i = 0; i < count; ++i) {
        AddReads(budget, segments[i].length);
        bytes += segments[i].length;
    }
    ops::OperationParams unused{};
    ops::ResetProgress();
    const auto start = std::chrono::steady_clock::now();
    const bool ok = RunWorker(firmware::FirmwareVerifyWorker, unused) && ops::LastResult().verify.differing == 0 &&
                    ops::LastResult().verify.compared == bytes;
    char label[80];
    std::snprintf(label, sizeof label, "firmware verify, %u pages (%s)%s", unsigned(bytes / 128), ok ? "ok" : "bad",
                  suffix);
    Report(label, Since(start), budget);
    return ok;
}

}  // namespace bench
