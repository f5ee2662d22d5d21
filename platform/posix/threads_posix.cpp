// threads_posix.cpp - threads, sleeping and the clock for native builds.
#include <atomic>
#include <chrono>
#include <ctime>
#include <memory>
#include <thread>

#include "platform/platform.h"
#include "platform/posix/posix_hooks.h"

namespace platform {

namespace {
std::atomic<uint32_t> tickOffset{0};

struct Thread {
    std::thread thread;
    std::shared_ptr<std::atomic<bool>> ended = std::make_shared<std::atomic<bool>>(false);
};
}  // namespace

ThreadHandle StartThread(ThreadRoutine routine, void* param) {
    auto* t = new Thread;
    auto ended = t->ended;
    t->thread = std::thread([routine, param, ended] {
        routine(param);
        ended->store(true);
    });
    return t;
}

bool ThreadRunning(ThreadHandle thread) { return !static_cast<Thread*>(thread)->ended->load(); }

void CloseThread(ThreadHandle thread) {
    auto* t = static_cast<Thread*>(thread);
    if (t->ended->load()) {
        t->thread.join();
    } else {
        t->thread.detach();  // like closing the handle of a running Windows thread
    }
    delete t;
}

void SleepMs(uint32_t ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

// Log requests do not need the UI thread here, so a plain sleep serves.
void UiSleepMs(uint32_t ms) { SleepMs(ms); }

uint32_t TickMs() {
    using namespace std::chrono;
    const auto real = duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
    return static_cast<uint32_t>(real) + tickOffset.load();
}

namespace posix {
void AdvanceTick(uint32_t ms) { tickOffset.fetch_add(ms); }
void ResetTick() { tickOffset.store(0); }
}  // namespace posix

LocalTime NowLocal() {
    const std::time_t now = std::time(nullptr);
    std::tm tm{};
    localtime_r(&now, &tm);
    return LocalTime{static_cast<uint16_t>(tm.tm_year + 1900), static_cast<uint16_t>(tm.tm_mon + 1),
                     static_cast<uint16_t>(tm.tm_mday), static_cast<uint16_t>(tm.tm_hour),
                     static_cast<uint16_t>(tm.tm_min), static_cast<uint16_t>(tm.tm_sec)};
}

}  // namespace platform
