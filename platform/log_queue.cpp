// log_queue.cpp - the operator log's queue.
#include "platform/log_queue.h"

#include <utility>

namespace platform {

namespace {

class Hold {
public:
    explicit Hold(LockHandle lock) : lock_(lock) { Lock(lock_); }
    ~Hold() { Unlock(lock_); }
    Hold(const Hold&) = delete;
    Hold& operator=(const Hold&) = delete;

private:
    LockHandle lock_;
};

}  // namespace

LogQueue::LogQueue() : lock_(NewLock()) {}

LogQueue::Put LogQueue::Push(LogEntry entry) {
    Hold hold(lock_);
    if (entries_.size() >= kCapacity) return Put::Full;
    entries_.push_back(std::move(entry));
    if (wakePending_) return Put::Queued;
    wakePending_ = true;
    return Put::QueuedWake;
}

std::vector<LogEntry> LogQueue::TakeAll() {
    std::vector<LogEntry> taken;
    Hold hold(lock_);
    taken.swap(entries_);
    wakePending_ = false;
    return taken;
}

size_t LogQueue::Size() {
    Hold hold(lock_);
    return entries_.size();
}

}  // namespace platform
