// threads_posix.cpp - threads, sleeping, the clock, locks and signals for
// native builds.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <ctime>
#include <memory>
#include <mutex>
#include <thread>

#include "platform/platform.h"
#include "platform/posix/posix_hooks.h"

namespace platform {

namespace {
using Clock = std::chrono::steady_clock;

std::atomic<uint32_t> tickOffset{0};
// 0: sleeps last what they ask; otherwise they end on the next multiple of
// this many microseconds, as Windows' sleeps end on a timer tick.
std::atomic<uint32_t> timerPeriodUs{0};

struct Ending {
    std::mutex lock;
    std::condition_variable changed;
    bool ended = false;
};

struct Thread {
    std::thread thread;
    std::shared_ptr<Ending> ending = std::make_shared<Ending>();
};

struct Signal {
    std::mutex lock;
    std::condition_variable changed;
    bool raised = false;
};

int64_t NowUs() {
    return std::chrono::duration_cast<std::chrono::microseconds>(Clock::now().time_since_epoch()).count();
}

// The first timer tick at or after the time point: when an emulated coarse
// timer lets a sleep or a timed-out wait end.
int64_t OnTick(int64_t us) {
    const int64_t period = timerPeriodUs.load();
    if (period == 0) return us;
    return (us + period - 1) / period * period;
}

void SleepUntilUs(int64_t untilUs) {
    std::this_thread::sleep_until(Clock::time_point(std::chrono::microseconds(untilUs)));
}

bool Ended(Thread* t) {
    std::lock_guard<std::mutex> hold(t->ending->lock);
    return t->ending->ended;
}
}  // namespace

ThreadHandle StartThread(ThreadRoutine routine, void* param) {
    auto* t = new Thread;
    auto ending = t->ending;
    t->thread = std::thread([routine, param, ending] {
        routine(param);
        {
            std::lock_guard<std::mutex> hold(ending->lock);
            ending->ended = true;
        }
        ending->changed.notify_all();
    });
    return t;
}

bool ThreadRunning(ThreadHandle thread) { return !Ended(static_cast<Thread*>(thread)); }

void CloseThread(ThreadHandle thread) {
    auto* t = static_cast<Thread*>(thread);
    if (Ended(t)) {
        t->thread.join();
    } else {
        t->thread.detach();  // like closing the handle of a running Windows thread
    }
    delete t;
}

// Log requests do not need the UI thread here, so a plain wait serves.
bool UiAwaitThreadEnd(ThreadHandle thread, uint32_t timeoutMs) {
    Ending& e = *static_cast<Thread*>(thread)->ending;
    std::unique_lock<std::mutex> hold(e.lock);
    return e.changed.wait_for(hold, std::chrono::milliseconds(timeoutMs), [&e] { return e.ended; });
}

void SleepMs(uint32_t ms) { SleepUntilUs(OnTick(NowUs() + int64_t(ms) * 1000)); }

void PauseMs(uint32_t ms) {
    const int64_t until = NowUs() + int64_t(ms) * 1000;
    const int64_t period = timerPeriodUs.load();
    if (period == 0) {
        SleepUntilUs(until);
        return;
    }
    // Sleep while a coarse tick cannot overshoot the end, then yield.
    if (until - NowUs() > period) SleepUntilUs(OnTick(until - period));
    while (NowUs() < until) std::this_thread::yield();
}

void UiSleepMs(uint32_t ms) { SleepMs(ms); }

uint32_t TickMs() {
    using namespace std::chrono;
    const auto real = duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
    return static_cast<uint32_t>(real) + tickOffset.load();
}

uint64_t MonotonicUs() { return static_cast<uint64_t>(NowUs()); }

LockHandle NewLock() { return new std::mutex; }
void Lock(LockHandle lock) { static_cast<std::mutex*>(lock)->lock(); }
bool TryLock(LockHandle lock) { return static_cast<std::mutex*>(lock)->try_lock(); }
void Unlock(LockHandle lock) { static_cast<std::mutex*>(lock)->unlock(); }

SignalHandle NewSignal() { return new Signal; }

void RaiseSignal(SignalHandle signal) {
    Signal& s = *static_cast<Signal*>(signal);
    {
        std::lock_guard<std::mutex> hold(s.lock);
        s.raised = true;
    }
    s.changed.notify_all();
}

bool WaitSignal(SignalHandle signal, uint32_t timeoutMs) {
    Signal& s = *static_cast<Signal*>(signal);
    const int64_t start = NowUs();
    {
        std::unique_lock<std::mutex> hold(s.lock);
        if (s.changed.wait_for(hold, std::chrono::milliseconds(timeoutMs), [&s] { return s.raised; })) {
            s.raised = false;
            return true;
        }
    }
    // A wait that ran out ends on a tick, as its time-out does on Windows.
    SleepUntilUs(OnTick(start + int64_t(timeoutMs) * 1000));
    return false;
}

bool UiWaitSignal(SignalHandle signal, uint32_t timeoutMs) { return WaitSignal(signal, timeoutMs); }

namespace posix {
void AdvanceTick(uint32_t ms) { tickOffset.fetch_add(ms); }
void ResetTick() { tickOffset.store(0); }
void SetTimerPeriodUs(uint32_t us) { timerPeriodUs.store(us); }
}  // namespace posix

LocalTime NowLocal() {
    const std::time_t now = std::time(nullptr);
    std::tm tm{};
    localtime_r(&now, &tm);
    return LocalTime{static_cast<uint16_t>(tm.tm_year + 1900), static_cast<uint16_t>(tm.tm_mon + 1),
                     static_cast<uint16_t>(tm.tm_mday),        static_cast<uint16_t>(tm.tm_hour),
                     static_cast<uint16_t>(tm.tm_min),         static_cast<uint16_t>(tm.tm_sec)};
}

}  // namespace platform
