// pty_device.cpp - pseudo-terminal runner for the simulated TQ7300: line I/O, reply timing and pacing.
#include "pty_device.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

namespace sim {

namespace {

namespace fs = std::filesystem;
using std::chrono::milliseconds;

// One byte at 38400 baud with start and stop bits: 10 / 38400 s.
constexpr std::chrono::nanoseconds kByteTime(260417);
// Retry time when the slave's input queue is full (the console is not reading).
constexpr milliseconds kWriteRetry(5);
// Received bytes not yet given to the model; beyond this the pty itself buffers.
constexpr size_t kInboxLimit = 4096;
constexpr size_t kTraceBytes = 64;
// The payload of one full-speed USB bulk packet of the common adapters (64
// bytes, two of which carry the modem status): sent as soon as it is full.
constexpr size_t kAdapterPacket = 62;

bool Fail(std::string* error, const std::string& what) {
    if (error != nullptr) *error = what;
    return false;
}

std::string SysError(const char* call) { return std::string(call) + ": " + std::strerror(errno); }

}  // namespace

// The two directions draw from generators seeded apart, so that noise one
// way never shifts the faults of the other.
PtyDevice::PtyDevice(PtyOptions options)
    : options_(std::move(options)),
      rxNoise_(options_.noiseRx, options_.drop, options_.seed),
      txNoise_(options_.noiseTx, options_.drop, options_.seed ^ 0x9E3779B97F4A7C15ull) {}

PtyDevice::~PtyDevice() { Stop(); }

bool PtyDevice::Start(std::string* error) {
    if (thread_.joinable()) return Fail(error, "already running");
    if (!OpenPty(error)) {
        ClosePty();
        return false;
    }
    if (!options_.linkPath.empty() && !MakeLink(error)) {
        ClosePty();
        return false;
    }
    inbox_.clear();  // a restarted device begins with a quiet line
    outbox_.clear();
    adapter_.clear();
    idleSignalled_ = true;
    stop_.store(false, std::memory_order_release);
    thread_ = std::thread([this] { Run(); });
    return true;
}

void PtyDevice::Stop() {
    stop_.store(true, std::memory_order_release);
    if (thread_.joinable()) thread_.join();
    ClosePty();
    RemoveLink();
}

bool PtyDevice::OpenPty(std::string* error) {
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master_ < 0) return Fail(error, SysError("posix_openpt"));
    if (grantpt(master_) != 0) return Fail(error, SysError("grantpt"));
    if (unlockpt(master_) != 0) return Fail(error, SysError("unlockpt"));
    char name[128] = {};
    if (ptsname_r(master_, name, sizeof name) != 0) return Fail(error, SysError("ptsname_r"));
    slavePath_ = name;
    // Held open for the device's whole life: with no slave descriptor left the master
    // would report a hang-up each time the console closes the port.
    slave_ = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (slave_ < 0) return Fail(error, SysError("open slave"));
    termios tio{};
    if (tcgetattr(slave_, &tio) != 0) return Fail(error, SysError("tcgetattr"));
    cfmakeraw(&tio);  // no echo, no line editing, no CR/LF translation of frame bytes
    cfsetispeed(&tio, B38400);
    cfsetospeed(&tio, B38400);
    tio.c_cflag |= CLOCAL | CREAD;
    if (tcsetattr(slave_, TCSANOW, &tio) != 0) return Fail(error, SysError("tcsetattr"));
    // Non-blocking so that a console that stops reading cannot stall the device thread.
    const int flags = fcntl(master_, F_GETFL);
    if (flags < 0 || fcntl(master_, F_SETFL, flags | O_NONBLOCK) != 0) return Fail(error, SysError("fcntl"));
    return true;
}

void PtyDevice::ClosePty() {
    if (master_ >= 0) close(master_);
    if (slave_ >= 0) close(slave_);
    master_ = slave_ = -1;
}

// Links via a temporary name and rename(), so a reader never finds the path missing.
bool PtyDevice::MakeLink(std::string* error) {
    const fs::path link(options_.linkPath);
    std::error_code ec;
    if (link.has_parent_path()) fs::create_directories(link.parent_path(), ec);
    const fs::file_status status = fs::symlink_status(link, ec);
    if (fs::exists(status) && !fs::is_symlink(status)) {
        return Fail(error, options_.linkPath + " exists and is not a symbolic link");
    }
    fs::path temp = link;
    temp += ".tmp-" + std::to_string(getpid());
    fs::remove(temp, ec);
    fs::create_symlink(slavePath_, temp, ec);
    if (ec) return Fail(error, "symlink " + temp.string() + ": " + ec.message());
    fs::rename(temp, link, ec);
    if (ec) {
        fs::remove(temp, ec);
        return Fail(error, "rename to " + options_.linkPath + ": " + ec.message());
    }
    linkMade_ = true;
    return true;
}

// Only our own link goes: a newer simulator may have taken the path over.
void PtyDevice::RemoveLink() {
    if (!linkMade_) return;
    linkMade_ = false;
    std::error_code ec;
    if (fs::read_symlink(options_.linkPath, ec) == fs::path(slavePath_)) fs::remove(options_.linkPath, ec);
}

void PtyDevice::Run() {
    while (!stop_.load(std::memory_order_acquire)) {
        pollfd pfd{master_, static_cast<short>(inbox_.size() < kInboxLimit ? POLLIN : 0), 0};
        const timespec wait = PollTimeout(Clock::now());
        const int ready = ppoll(&pfd, 1, &wait, nullptr);
        if (ready > 0 && (pfd.revents & POLLIN)) {
            ReadAvailable();
        } else if (ready > 0 || (ready < 0 && errno != EINTR)) {
            std::this_thread::sleep_for(milliseconds(kPollCapMs));  // hang-up or error: don't spin
        }
        FeedDue(Clock::now());
        TakeInjected(Clock::now());
        SignalIdle(Clock::now());
        WriteDue(Clock::now());
        ReportFlashChange(Clock::now(), false);
    }
    ReportFlashChange(Clock::now(), true);  // whatever a coalescing interval still held back
}

// Sleeps until the next byte may be fed, the next reply is due, or the line counts as idle.
// To the microsecond: a wake-up rounded to whole milliseconds would put up to
// a millisecond behind every byte due and every reply, which a real line does
// not; a paced 128-byte page would then end late at every step.
timespec PtyDevice::PollTimeout(Clock::time_point now) const {
    Clock::time_point wake = now + milliseconds(kPollCapMs);
    if (!outbox_.empty()) wake = std::min(wake, NextWrite(outbox_.front()));
    if (!adapter_.empty()) wake = std::min(wake, AdapterDue());
    if (options_.pace && !inbox_.empty()) wake = std::min(wake, nextFeed_);
    if (!idleSignalled_ && options_.idleResetMs > 0) {
        wake = std::min(wake, lastFeed_ + milliseconds(options_.idleResetMs));
    }
    if (flashReportPending_) wake = std::min(wake, lastFlashReport_ + milliseconds(options_.flashReportMs));
    if (wake <= now) return timespec{0, 0};
    const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(wake - now).count();
    return timespec{static_cast<time_t>(ns / 1000000000), static_cast<long>(ns % 1000000000)};
}

void PtyDevice::ReadAvailable() {
    uint8_t buf[kInboxLimit];
    const size_t room = kInboxLimit - inbox_.size();
    const ssize_t got = read(master_, buf, room);
    if (got <= 0) return;  // EAGAIN or EIO: nothing to take
    const size_t n = static_cast<size_t>(got);
    if (onReceived_) onReceived_(buf, n);
    Trace("rx", buf, n);
    std::vector<uint8_t> bytes(buf, buf + n);
    {
        std::lock_guard<std::mutex> lock(mutex_);
        rxNoise_.Apply(bytes);
    }
    const Clock::time_point now = Clock::now();
    // A byte is on the line for one byte time before the device has it.
    if (inbox_.empty() && nextFeed_ < now) nextFeed_ = now + kByteTime;
    inbox_.insert(inbox_.end(), bytes.begin(), bytes.end());
}

void PtyDevice::FeedDue(Clock::time_point now) {
    size_t count = inbox_.size();
    if (options_.pace) {
        count = 0;
        while (count < inbox_.size() && nextFeed_ <= now) {
            ++count;
            nextFeed_ += kByteTime;
        }
    }
    if (count == 0) return;
    const std::vector<uint8_t> bytes(inbox_.begin(), inbox_.begin() + static_cast<std::ptrdiff_t>(count));
    inbox_.erase(inbox_.begin(), inbox_.begin() + static_cast<std::ptrdiff_t>(count));
    std::vector<Reply> replies;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        model_.SetNow(std::chrono::duration_cast<milliseconds>(now - epoch_).count());
        model_.Receive(bytes.data(), bytes.size());
        replies = model_.TakeReplies();
        // Under the same lock, so that a waiter woken by the bytes sees the replies pending.
        if (!replies.empty()) outboxEmpty_ = false;
    }
    changed_.notify_all();
    lastFeed_ = now;
    idleSignalled_ = false;
    QueueReplies(std::move(replies), now);
    ReportPatterns();
    ReportFlashChange(now, false);
}

void PtyDevice::QueueReplies(std::vector<Reply> replies, Clock::time_point now) {
    for (Reply& reply : replies) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            txNoise_.Apply(reply.bytes);
        }
        if (reply.bytes.empty()) continue;
        // A reply behind others is timed from when the one before it finishes (WriteDue).
        const Clock::time_point base = std::max(now, lineFree_);
        outbox_.push_back(
            {std::move(reply.bytes), 0, reply.delayMs, base + milliseconds(reply.delayMs), Clock::time_point()});
    }
}

// Paced, byte i of a reply may go out once it would have fully crossed the line,
// (i + 1) byte times after the reply's start; unpaced, all of it at the start.
size_t PtyDevice::BytesDue(const Outgoing& out, Clock::time_point now) const {
    if (now < out.start) return 0;
    if (!options_.pace) return out.bytes.size();
    const auto crossed = static_cast<size_t>((now - out.start) / kByteTime);
    return std::min(crossed, out.bytes.size());
}

PtyDevice::Clock::time_point PtyDevice::NextWrite(const Outgoing& out) const {
    const auto next = options_.pace ? out.start + kByteTime * static_cast<int64_t>(out.sent + 1) : out.start;
    return std::max(next, out.retryAt);
}

void PtyDevice::WriteDue(Clock::time_point now) {
    while (!outbox_.empty() && NextWrite(outbox_.front()) <= now) {
        Outgoing& out = outbox_.front();
        const size_t want = BytesDue(out, now) - out.sent;
        const ssize_t wrote = static_cast<ssize_t>(PutOnLine(out.bytes.data() + out.sent, want, now));
        if (wrote < 0 && errno != EAGAIN && errno != EINTR) {
            Trace("write failed, reply dropped", nullptr, 0);
            out.sent = out.bytes.size();
        } else if (wrote > 0) {
            Trace("tx", out.bytes.data() + out.sent, static_cast<size_t>(wrote));
            out.sent += static_cast<size_t>(wrote);
        }
        if (wrote < static_cast<ssize_t>(want)) out.retryAt = now + kWriteRetry;  // slave queue full
        if (out.sent < out.bytes.size()) continue;
        lineFree_ = options_.pace ? out.start + kByteTime * static_cast<int64_t>(out.sent) : now;
        outbox_.pop_front();
        if (!outbox_.empty()) outbox_.front().start = lineFree_ + milliseconds(outbox_.front().delayMs);
    }
    FlushAdapter(now);
    if (!outbox_.empty() || !adapter_.empty()) return;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (outboxEmpty_) return;
        outboxEmpty_ = true;
    }
    changed_.notify_all();
}

// Without an adapter the bytes go to the line (the count written, or -1 with
// errno); with one they wait in it, all of them taken.
size_t PtyDevice::PutOnLine(const uint8_t* data, size_t n, Clock::time_point now) {
    if (options_.latencyMs <= 0) return static_cast<size_t>(write(master_, data, n));
    if (n == 0) return 0;
    if (adapter_.empty()) adapterSince_ = now;
    adapter_.insert(adapter_.end(), data, data + n);
    return n;
}

PtyDevice::Clock::time_point PtyDevice::AdapterDue() const {
    if (adapter_.size() >= kAdapterPacket) return adapterRetryAt_;
    return std::max(adapterSince_ + milliseconds(options_.latencyMs), adapterRetryAt_);
}

// A full packet goes at once; a short one when the latency timer runs out.
// The timer starts again for what a full packet left behind.
void PtyDevice::FlushAdapter(Clock::time_point now) {
    while (!adapter_.empty() && AdapterDue() <= now) {
        const size_t n = std::min(adapter_.size(), kAdapterPacket);
        const ssize_t wrote = write(master_, adapter_.data(), n);
        if (wrote <= 0) {
            if (errno != EAGAIN && errno != EINTR) {
                Trace("write failed, adapter bytes dropped", nullptr, 0);
                adapter_.clear();
                return;
            }
            adapterRetryAt_ = now + kWriteRetry;
            return;
        }
        Trace("tx (adapter)", adapter_.data(), static_cast<size_t>(wrote));
        adapter_.erase(adapter_.begin(), adapter_.begin() + wrote);
        adapterSince_ = now;
    }
}

void PtyDevice::SignalIdle(Clock::time_point now) {
    if (idleSignalled_ || !inbox_.empty() || options_.idleResetMs <= 0) return;
    if (now - lastFeed_ < milliseconds(options_.idleResetMs)) return;
    idleSignalled_ = true;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        model_.LineIdle();
    }
    changed_.notify_all();
}

// The image is copied under the lock and handed over outside it, so that a slow sink
// (a file) never holds up the console's requests waiting on the lock.
void PtyDevice::ReportFlashChange(Clock::time_point now, bool flush) {
    if (!onFlash_) return;
    std::vector<uint8_t> image;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (model_.FlashChanges() == flashChangesSeen_) return;
        if (!flush && now < lastFlashReport_ + milliseconds(options_.flashReportMs)) {
            flashReportPending_ = true;
            return;
        }
        flashChangesSeen_ = model_.FlashChanges();
        image = model_.FlashDump();
    }
    flashReportPending_ = false;
    lastFlashReport_ = now;
    onFlash_(image);
}

void PtyDevice::Inject(std::vector<uint8_t> bytes) {
    std::lock_guard<std::mutex> lock(mutex_);
    injected_.insert(injected_.end(), bytes.begin(), bytes.end());
    if (!injected_.empty()) outboxEmpty_ = false;
}

void PtyDevice::TakeInjected(Clock::time_point now) {
    std::vector<Reply> burst(1);
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (injected_.empty()) return;
        burst[0].bytes.swap(injected_);
    }
    QueueReplies(std::move(burst), now);
}

void PtyDevice::ReportPatterns() {
    if (!onPattern_) return;
    std::vector<PatternRecord> fresh;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        const std::vector<PatternRecord>& all = model_.Patterns();
        fresh.assign(all.begin() + static_cast<std::ptrdiff_t>(patternsSeen_), all.end());
        patternsSeen_ = all.size();
    }
    for (const PatternRecord& pattern : fresh) onPattern_(pattern);
}

void PtyDevice::Trace(const char* what, const uint8_t* data, size_t n) const {
    if (!onTrace_) return;
    std::string line = what;
    if (data != nullptr) line += " " + std::to_string(n) + ":";
    char hex[4];
    for (size_t i = 0; i < n && i < kTraceBytes; ++i) {
        std::snprintf(hex, sizeof hex, " %02X", data[i]);
        line += hex;
    }
    if (n > kTraceBytes) line += " ...";
    onTrace_(line);
}

void PtyDevice::Configure(const std::function<void(DeviceModel&)>& change) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        change(model_);
    }
    changed_.notify_all();
}

std::vector<uint8_t> PtyDevice::Received() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return model_.Received();
}

FlashImage PtyDevice::Flash() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return model_.Flash();
}

std::vector<uint8_t> PtyDevice::FlashRange(uint32_t address, size_t count) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return model_.FlashRange(address, count);
}

std::vector<uint8_t> PtyDevice::FlashDump() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return model_.FlashDump();
}

std::vector<PatternRecord> PtyDevice::Patterns() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return model_.Patterns();
}

bool PtyDevice::InBootMode() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return model_.InBootMode();
}

NoiseCounts PtyDevice::NoiseReceived() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return rxNoise_.Counts();
}

NoiseCounts PtyDevice::NoiseSent() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return txNoise_.Counts();
}

int PtyDevice::FramesReceived(uint8_t command) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return model_.FramesReceived(command);
}

template <typename Pred>
bool PtyDevice::WaitFor(int timeoutMs, Pred pred) const {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, milliseconds(std::max(timeoutMs, 0)), pred);
}

bool PtyDevice::WaitForReceivedCount(size_t n, int timeoutMs) const {
    return WaitFor(timeoutMs, [&] { return model_.Received().size() >= n; });
}

bool PtyDevice::WaitForFramesReceived(uint8_t command, int n, int timeoutMs) const {
    return WaitFor(timeoutMs, [&] { return model_.FramesReceived(command) >= n; });
}

bool PtyDevice::WaitForBootMode(bool inBoot, int timeoutMs) const {
    return WaitFor(timeoutMs, [&] { return model_.InBootMode() == inBoot; });
}

bool PtyDevice::WaitForPatterns(size_t n, int timeoutMs) const {
    return WaitFor(timeoutMs, [&] { return model_.Patterns().size() >= n; });
}

bool PtyDevice::WaitForRepliesSent(int timeoutMs) const {
    return WaitFor(timeoutMs, [&] { return outboxEmpty_; });
}

}  // namespace sim
