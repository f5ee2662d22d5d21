// line_spool.cpp - the transcript's writer thread and its queue.
#include "shell/line_spool.h"

#include <deque>
#include <utility>

#include "platform/platform.h"

namespace shell {

namespace {

struct Item {
    void* target;
    std::string bytes;
    bool close;
};

// Made once and kept for the life of the process, as the writer is.
struct Spool {
    platform::LockHandle lock = platform::NewLock();
    platform::SignalHandle queued = platform::NewSignal();
    platform::SignalHandle handled = platform::NewSignal();
    SpoolSink sink{};
    std::deque<Item> items;
    size_t pendingBytes = 0;
    size_t inHand = 0;             // items taken by the writer and not yet handled
    void* failedTarget = nullptr;  // its bytes are dropped until its close
    bool started = false;
};

Spool& S() {
    static Spool* spool = new Spool;
    return *spool;
}

bool TakeNext(Item& item) {
    Spool& s = S();
    platform::Lock(s.lock);
    const bool any = !s.items.empty();
    if (any) {
        item = std::move(s.items.front());
        s.items.pop_front();
        s.pendingBytes -= item.bytes.size();
        ++s.inHand;
    }
    platform::Unlock(s.lock);
    return any;
}

void Handle(Item& item) {
    Spool& s = S();
    platform::Lock(s.lock);
    const bool dropped = s.failedTarget == item.target;
    if (item.close && dropped) s.failedTarget = nullptr;
    platform::Unlock(s.lock);
    if (item.close) {
        s.sink.close(item.target);
    } else if (!dropped && !s.sink.write(item.target, item.bytes)) {
        platform::Lock(s.lock);
        s.failedTarget = item.target;
        platform::Unlock(s.lock);
        s.sink.failed(item.target);
    }
}

uint32_t Writer(void*) {
    Spool& s = S();
    for (;;) {
        Item item;
        while (TakeNext(item)) {
            Handle(item);
            platform::Lock(s.lock);
            --s.inHand;
            platform::Unlock(s.lock);
            platform::RaiseSignal(s.handled);
        }
        platform::WaitSignal(s.queued, 1000);
    }
}

// Queues one item under the lock; false when the writer is not there.
bool Queue(const SpoolSink& sink, Item item) {
    Spool& s = S();
    if (!s.started) {
        s.sink = sink;
        platform::ThreadHandle writer = platform::StartThread(Writer, nullptr);
        if (writer == nullptr) return false;
        platform::CloseThread(writer);  // it runs for the life of the process
        s.started = true;
    }
    platform::Lock(s.lock);
    s.pendingBytes += item.bytes.size();
    s.items.push_back(std::move(item));
    platform::Unlock(s.lock);
    platform::RaiseSignal(s.queued);
    return true;
}

}  // namespace

bool SpoolWrite(const SpoolSink& sink, void* target, std::string bytes) {
    Spool& s = S();
    platform::Lock(s.lock);
    const bool failed = s.failedTarget == target;
    const bool overflow = !failed && s.pendingBytes + bytes.size() > kSpoolCapBytes;
    if (overflow) s.failedTarget = target;
    platform::Unlock(s.lock);
    if (overflow) sink.failed(target);
    if (failed || overflow) return false;
    return Queue(sink, Item{target, std::move(bytes), false});
}

void SpoolClose(const SpoolSink& sink, void* target) {
    if (!Queue(sink, Item{target, std::string(), true})) sink.close(target);
}

bool SpoolDrain(uint32_t boundMs) {
    Spool& s = S();
    const uint64_t until = platform::MonotonicUs() + uint64_t(boundMs) * 1000;
    for (;;) {
        platform::Lock(s.lock);
        const bool idle = s.items.empty() && s.inHand == 0;
        platform::Unlock(s.lock);
        const uint64_t now = platform::MonotonicUs();
        if (idle) return true;
        if (now >= until) return false;
        platform::WaitSignal(s.handled, static_cast<uint32_t>((until - now + 999) / 1000));
    }
}

}  // namespace shell
