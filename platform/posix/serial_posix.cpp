// serial_posix.cpp - the serial port on a tty or pseudo-terminal, with the
// driver's read time-outs and comm-event wait emulated over poll().
#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <chrono>
#include <mutex>
#include <set>
#include <memory>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/posix/port_map.h"
#include "platform/posix/posix_hooks.h"

namespace platform {

namespace {

struct Port {
    std::atomic<int> fd{-1};
    int wake[2] = {-1, -1};  // written by PortSetMask to release a wait
    std::string path;
    std::atomic<uint32_t> mask{0};
    PortTimeouts timeouts;
    LowLatency lowLatency = LowLatency::NotSupported;
    bool lowLatencyAdded = false;  // the flag was ours to set, so it is cleared at the close
};

// The kernel orders what a sender did before its request over the device's
// answer that the receiver reads; the thread sanitizer cannot see that
// through the pty. A release before every write and an acquire once data are
// there, before they are read, tell it.
std::atomic<uint32_t> lineOrder{0};

std::mutex portLock;              // guards openPaths and failingStep
std::set<std::string> openPaths;  // Windows opens COM ports without sharing
std::atomic<posix::EventSignal> signalMode{posix::EventSignal::Level};
std::atomic<uint64_t> eventWaits{0};
// Closed ports are kept, not freed: a sender that loaded the handle just
// before the close must find a closed descriptor, not freed memory.
std::vector<std::unique_ptr<Port>> closedPorts;

Port* P(PortHandle h) { return static_cast<Port*>(h); }

int64_t NowMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

int Queued(int fd) {
    int n = 0;
    return ioctl(fd, FIONREAD, &n) == 0 ? n : 0;
}

thread_local PortFaultText lastFault{};
thread_local OpenFault lastOpenFault = OpenFault::None;
std::string failingStep;  // set by a test: the set-up step that is to fail

// A set-up step's outcome (0 or -1 with errno, as the calls return), described
// when it failed.
bool Step(const char* call, int result) {
    {
        std::lock_guard<std::mutex> g(portLock);
        if (failingStep == call) {
            failingStep.clear();
            result = -1;
            errno = EINVAL;
        }
    }
    if (result == 0) return true;
    const int error = errno;
    std::snprintf(lastFault.call, sizeof lastFault.call, "%s", call);
    std::snprintf(lastFault.message, sizeof lastFault.message, "%s (errno %d)", std::strerror(error), error);
    return false;
}

void DrainWake(Port* p) {
    char sink[16];
    while (read(p->wake[0], sink, sizeof sink) > 0) {}
}

// Polls the port and the wake pipe; 1 data, 2 released, 0 time-out.
// A hung-up line (the other end of a pty closed, a USB adapter unplugged)
// polls as readable for ever with nothing to read: it is told apart, so
// that the receiver ends the session instead of spinning on it.
// Bytes still queued are read first.
bool HungUp(int fd, short revents) { return (revents & (POLLHUP | POLLERR | POLLNVAL)) != 0 && Queued(fd) <= 0; }

// 0 timed out, 1 data, 2 released, 3 the line hung up.
int PollOnce(Port* p, int timeoutMs, bool watchData) {
    pollfd fds[2] = {{p->wake[0], POLLIN, 0}, {p->fd, POLLIN, 0}};
    if (poll(fds, 2, watchData ? timeoutMs : 0) < 0) return 0;
    if (fds[0].revents != 0) {
        DrainWake(p);
        return 2;
    }
    if (HungUp(p->fd, fds[1].revents)) return 3;
    if (!watchData) {
        if (poll(fds, 1, timeoutMs) <= 0) return 0;
        DrainWake(p);
        return 2;
    }
    return fds[1].revents != 0 ? 1 : 0;
}

// A USB serial adapter's driver collects received bytes for up to its latency
// timer (16 ms on the common chips) before it hands them over, which would hold
// every short answer back by that much; ASYNC_LOW_LATENCY asks it not to. A
// driver without the serial ioctls (a pty) refuses them, which is harmless.
void AskLowLatency(Port* p) {
    serial_struct ss{};
    if (ioctl(p->fd, TIOCGSERIAL, &ss) != 0) return;
    if ((ss.flags & ASYNC_LOW_LATENCY) != 0) {
        p->lowLatency = LowLatency::Set;
        return;
    }
    ss.flags |= ASYNC_LOW_LATENCY;
    if (ioctl(p->fd, TIOCSSERIAL, &ss) != 0) return;
    p->lowLatency = LowLatency::Set;
    p->lowLatencyAdded = true;
}

void DropLowLatency(Port* p) {
    serial_struct ss{};
    if (!p->lowLatencyAdded || ioctl(p->fd, TIOCGSERIAL, &ss) != 0) return;
    ss.flags &= ~ASYNC_LOW_LATENCY;
    (void)ioctl(p->fd, TIOCSSERIAL, &ss);
}

}  // namespace

namespace posix {
void SetEventSignal(EventSignal s) { signalMode = s; }
void FailPortSetupStep(const std::string& call) {
    std::lock_guard<std::mutex> g(portLock);
    failingStep = call;
}
uint64_t EventWaitCount() { return eventWaits.load(); }
}  // namespace posix

namespace {

// The system's reason for a failed open, told apart where the operator can act on it.
OpenFault OpenFaultOf(int error) {
    switch (error) {
        case ENOENT: return OpenFault::NoSuchPort;
        case EBUSY: return OpenFault::InUse;  // held with TIOCEXCL
        default: return OpenFault::Other;
    }
}

// A failed open's words, as a set-up step's are kept.
void DescribeOpen(int error) {
    std::snprintf(lastFault.call, sizeof lastFault.call, "open");
    std::snprintf(lastFault.message, sizeof lastFault.message, "%s (errno %d)", std::strerror(error), error);
}

}  // namespace

OpenFault PortOpenFault() { return lastOpenFault; }

PortHandle PortOpen(int number) {
    std::string path;
    lastOpenFault = OpenFault::NoSuchPort;
    if (!posix::MappedPort(number, path)) return nullptr;
    std::lock_guard<std::mutex> g(portLock);
    lastOpenFault = OpenFault::InUse;
    if (openPaths.count(path) != 0) return nullptr;
    const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
        const int error = errno;
        lastOpenFault = OpenFaultOf(error);
        DescribeOpen(error);
        return nullptr;
    }
    lastOpenFault = OpenFault::None;
    // Only a terminal takes the line settings; frames written to anything
    // else (a regular file mapped by mistake) would land where nobody pointed.
    termios t{};
    if (tcgetattr(fd, &t) != 0) {
        close(fd);
        return nullptr;
    }
    Port* p = new Port;
    p->fd = fd;
    p->path = path;
    if (pipe2(p->wake, O_NONBLOCK | O_CLOEXEC) != 0) {
        close(fd);
        delete p;
        return nullptr;
    }
    openPaths.insert(p->path);
    AskLowLatency(p);
    return p;
}

LowLatency PortLowLatency(PortHandle port) { return P(port)->lowLatency; }

bool PortSetupQueues(PortHandle, uint32_t, uint32_t) { return Step("set-up queues", 0); }

bool PortPurge(PortHandle port, uint32_t) { return Step("tcflush", tcflush(P(port)->fd, TCIOFLUSH)); }

bool PortApplyState(PortHandle port, const LineState& s) {
    termios t{};
    if (!Step("tcgetattr", tcgetattr(P(port)->fd, &t))) return false;
    cfmakeraw(&t);
    cfsetspeed(&t, s.baud == 38400 ? B38400 : B9600);
    t.c_cflag |= CLOCAL | CREAD;
    return Step("tcsetattr", tcsetattr(P(port)->fd, TCSANOW, &t));
}

bool PortApplyTimeouts(PortHandle port, const PortTimeouts& t) {
    P(port)->timeouts = t;
    return Step("set time-outs", 0);
}

bool PortSetMask(PortHandle port, uint32_t mask) {
    Port* p = P(port);
    p->mask = mask;
    const char one = 1;
    (void)!write(p->wake[1], &one, 1);
    return true;
}

PortFaultText PortFault() { return lastFault; }

WaitOutcome PortWaitEvent(PortHandle port, uint32_t timeoutMs) {
    Port* p = P(port);
    ++eventWaits;
    if (p->mask.load() == 0) return WaitOutcome::Released;
    if (signalMode.load() == posix::EventSignal::Level) {
        const int r = PollOnce(p, static_cast<int>(timeoutMs), true);
        if (r == 3) return WaitOutcome::Gone;
        return r == 1 ? WaitOutcome::Event : r == 2 ? WaitOutcome::Released : WaitOutcome::TimedOut;
    }
    // Edge: only bytes that arrive while we wait count.
    const int before = Queued(p->fd);
    const int64_t until = NowMs() + timeoutMs;
    while (NowMs() < until) {
        const int r = PollOnce(p, 1, false);
        if (r == 2) return WaitOutcome::Released;
        if (r == 3) return WaitOutcome::Gone;
        if (Queued(p->fd) > before) return WaitOutcome::Event;
    }
    return WaitOutcome::TimedOut;
}

int PortQueued(PortHandle port) { return P(port)->fd < 0 ? 0 : Queued(P(port)->fd); }

// Ends when count bytes are in, when the interval passes after a byte with
// no next one, or when the total time-out (multiplier x count + constant)
// runs out, as the Windows driver does.
int PortRead(PortHandle port, void* buffer, int count) {
    Port* p = P(port);
    const PortTimeouts& t = p->timeouts;
    const int64_t deadline = NowMs() + int64_t(t.readTotalMultiplier) * count + t.readTotalConstant;
    auto* out = static_cast<uint8_t*>(buffer);
    int got = 0;
    while (got < count) {
        int64_t wait = deadline - NowMs();
        if (got > 0 && wait > int64_t(t.readInterval)) wait = t.readInterval;
        pollfd f{p->fd, POLLIN, 0};
        if (wait < 0 || poll(&f, 1, static_cast<int>(wait)) <= 0) break;
        (void)lineOrder.load(std::memory_order_acquire);
        const ssize_t r = read(p->fd, out + got, static_cast<size_t>(count - got));
        if (r <= 0) break;
        got += static_cast<int>(r);
    }
    return got;
}

int PortWrite(PortHandle port, const void* buffer, int count) {
    Port* p = P(port);
    const int64_t deadline =
        NowMs() + int64_t(p->timeouts.writeTotalMultiplier) * count + p->timeouts.writeTotalConstant;
    const auto* in = static_cast<const uint8_t*>(buffer);
    lineOrder.fetch_add(1, std::memory_order_release);
    int put = 0;
    while (put < count) {
        const ssize_t r = write(p->fd, in + put, static_cast<size_t>(count - put));
        if (r > 0) {
            put += static_cast<int>(r);
            continue;
        }
        const int64_t wait = deadline - NowMs();
        pollfd f{p->fd, POLLOUT, 0};
        if (wait <= 0 || poll(&f, 1, static_cast<int>(wait)) <= 0) break;
    }
    return put;
}

void PortClose(PortHandle port) {
    Port* p = P(port);
    {
        std::lock_guard<std::mutex> g(portLock);
        openPaths.erase(p->path);
    }
    DropLowLatency(p);
    close(p->fd.exchange(-1));
    close(p->wake[0]);
    close(p->wake[1]);
    std::lock_guard<std::mutex> g(portLock);
    closedPorts.emplace_back(p);
}

}  // namespace platform
