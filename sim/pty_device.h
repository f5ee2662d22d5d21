// pty_device.h - runs a simulated TQ7300 (DeviceModel) behind a Linux pseudo-terminal on its own thread.
//
// The console opens the pty slave (or the stable symlink to it) like a serial port.
// PtyDevice keeps a descriptor of its own on the slave, so the master never sees a
// hang-up when the console closes and reopens the port. Received bytes go to the model;
// its replies are written back after their delays, each reply queued behind the ones
// before it, without holding up reception. With pacing on, both directions move at
// most one byte per 10/38400 s, as on a real 38400-baud line.
//
// The device's clock for pattern arrivals is milliseconds since the PtyDevice was made.
//
// Accessors are thread-safe. Callbacks run on the device thread and must be set before
// Start().
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "device_model.h"
#include "line_noise.h"

namespace sim {

struct PtyOptions {
    std::string linkPath;  // symlink to create (replacing an old link); empty: none
    bool pace = false;     // 38400-baud timing in both directions
    // A USB serial adapter between device and host: what the device sends waits
    // in the adapter until 62 bytes are there (a full USB packet) or this many
    // milliseconds have passed since the first of them. 0: a plain line.
    int latencyMs = 0;
    int idleResetMs = 250;  // quiet time after which the model drops half-received input; 0: never
    // Shortest time between two flash reports: changes that come quicker are reported
    // together once it has passed, and at the latest when the thread stops. A transfer
    // of many chunks then costs a few image copies, not one per chunk. 0: every change.
    int flashReportMs = 0;
    // A marginal line: the bit error rate of what the device receives (rx) and
    // of what it sends (tx), the rate of bytes lost either way, and the seed
    // that makes a run repeat. --record and --frame-check see the console's
    // bytes as it sent them.
    double noiseRx = 0;
    double noiseTx = 0;
    double drop = 0;
    uint64_t seed = 1;
};

class PtyDevice {
public:
    using ByteSink = std::function<void(const uint8_t* data, size_t n)>;
    using FlashSink = std::function<void(const std::vector<uint8_t>& image)>;  // as FlashDump()
    using PatternSink = std::function<void(const PatternRecord& pattern)>;
    using TraceSink = std::function<void(const std::string& line)>;

    explicit PtyDevice(PtyOptions options = {});
    ~PtyDevice();  // stops the thread and removes the link
    PtyDevice(const PtyDevice&) = delete;
    PtyDevice& operator=(const PtyDevice&) = delete;

    void OnReceived(ByteSink sink) { onReceived_ = std::move(sink); }    // bytes as they arrive
    void OnFlashChanged(FlashSink sink) { onFlash_ = std::move(sink); }  // after erase/program
    void OnPattern(PatternSink sink) { onPattern_ = std::move(sink); }   // each pattern as it arrives
    void OnTrace(TraceSink sink) { onTrace_ = std::move(sink); }         // diagnostics

    // Opens the pty, makes the link, starts the thread. False with a reason on failure.
    bool Start(std::string* error = nullptr);
    // Joins the thread (within about kPollCapMs), closes the pty, removes the link.
    void Stop();

    const std::string& SlavePath() const { return slavePath_; }
    const std::string& LinkPath() const { return options_.linkPath; }

    // Changes the model under the device lock, e.g. to set faults while running.
    void Configure(const std::function<void(DeviceModel&)>& change);
    // Puts bytes on the line unprompted (line noise, a burst), behind the replies
    // already queued; the device thread takes them within kPollCapMs.
    void Inject(std::vector<uint8_t> bytes);
    std::vector<uint8_t> Received() const;
    FlashImage Flash() const;  // the first 64 KiB
    std::vector<uint8_t> FlashRange(uint32_t address, size_t count) const;
    std::vector<uint8_t> FlashDump() const;
    std::vector<PatternRecord> Patterns() const;
    bool InBootMode() const;
    int FramesReceived(uint8_t command) const;
    // What the line did to the traffic so far, each way.
    NoiseCounts NoiseReceived() const;
    NoiseCounts NoiseSent() const;

    // Bounded waits on what the model has taken in; true when the condition holds.
    bool WaitForReceivedCount(size_t n, int timeoutMs) const;
    bool WaitForFramesReceived(uint8_t command, int n, int timeoutMs) const;
    bool WaitForBootMode(bool inBoot, int timeoutMs) const;
    bool WaitForPatterns(size_t n, int timeoutMs) const;
    // True once every reply to what the model has taken in has been written to the line
    // (wait for the request with the waits above first).
    bool WaitForRepliesSent(int timeoutMs) const;

    static constexpr int kPollCapMs = 20;  // how often the thread looks at the stop flag

private:
    using Clock = std::chrono::steady_clock;
    struct Outgoing {
        std::vector<uint8_t> bytes;
        size_t sent = 0;
        int delayMs = 0;
        Clock::time_point start;    // when its first byte goes onto the line
        Clock::time_point retryAt;  // not before this: the slave's input queue was full
    };

    bool OpenPty(std::string* error);
    bool MakeLink(std::string* error);
    void RemoveLink();
    void ClosePty();
    void Run();
    timespec PollTimeout(Clock::time_point now) const;
    void ReadAvailable();
    void FeedDue(Clock::time_point now);
    void QueueReplies(std::vector<Reply> replies, Clock::time_point now);
    size_t BytesDue(const Outgoing& out, Clock::time_point now) const;
    Clock::time_point NextWrite(const Outgoing& out) const;
    void WriteDue(Clock::time_point now);
    size_t PutOnLine(const uint8_t* data, size_t n, Clock::time_point now);
    void FlushAdapter(Clock::time_point now);
    Clock::time_point AdapterDue() const;
    void SignalIdle(Clock::time_point now);
    void ReportFlashChange(Clock::time_point now, bool flush);
    void ReportPatterns();
    void TakeInjected(Clock::time_point now);
    void Trace(const char* what, const uint8_t* data, size_t n) const;
    template <typename Pred>
    bool WaitFor(int timeoutMs, Pred pred) const;

    PtyOptions options_;
    const Clock::time_point epoch_ = Clock::now();
    std::string slavePath_;
    int master_ = -1;
    int slave_ = -1;
    bool linkMade_ = false;
    std::thread thread_;
    std::atomic<bool> stop_{false};

    mutable std::mutex mutex_;  // guards model_, outboxEmpty_ and injected_
    mutable std::condition_variable changed_;
    DeviceModel model_;
    bool outboxEmpty_ = true;
    std::vector<uint8_t> injected_;  // from Inject(), not yet queued for the line

    // Device-thread state.
    LineNoise rxNoise_;  // device thread; read under mutex_
    LineNoise txNoise_;
    std::deque<uint8_t> inbox_;  // read from the line, not yet handed to the model
    std::deque<Outgoing> outbox_;
    std::vector<uint8_t> adapter_;      // --latency: bytes the adapter holds back
    Clock::time_point adapterSince_;    // when the first of them came in
    Clock::time_point adapterRetryAt_;  // the slave's input queue was full
    Clock::time_point lineFree_;        // when the last reply byte has left (paced: line time)
    Clock::time_point nextFeed_;
    Clock::time_point lastFeed_;
    bool idleSignalled_ = true;
    uint32_t flashChangesSeen_ = 0;
    Clock::time_point lastFlashReport_ = Clock::time_point::min();
    bool flashReportPending_ = false;
    size_t patternsSeen_ = 0;

    ByteSink onReceived_;
    FlashSink onFlash_;
    PatternSink onPattern_;
    TraceSink onTrace_;
};

}  // namespace sim
