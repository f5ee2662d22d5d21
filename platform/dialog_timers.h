// dialog_timers.h - the dialog timers of the user interface sinks that have no
// window (platform/console, platform/posix), kept as the Win32 sink's SetTimer
// keeps them: a timer repeats, due again a period after it last fell due, until
// StopTimer (KillTimer); starting a running id restarts it; a period below
// 10 ms is taken as 10 ms (USER_TIMER_MINIMUM).
//
// A fixed table with no lock of its own: each sink holds its own lock around
// every call and passes its own clock's milliseconds, which may wrap.
#pragma once

#include <cstdint>

namespace platform {

class DialogTimers {
public:
    // False when every slot is taken (the timer is then not started).
    bool Start(int id, uint32_t ms, uint32_t now) {
        Timer* slot = Find(id);
        for (Timer& t : timers_) {
            if (slot == nullptr && !t.active) slot = &t;
        }
        if (slot == nullptr) return false;
        const uint32_t period = ms < kMinimumMs ? kMinimumMs : ms;
        *slot = Timer{id, true, period, now + period};
        return true;
    }

    void Stop(int id) {
        Timer* t = Find(id);
        if (t != nullptr) t->active = false;
    }

    // The id of a timer whose time has come, armed again for its next period;
    // -1 when none is due.
    int TakeDue(uint32_t now) {
        for (Timer& t : timers_) {
            if (t.active && static_cast<int32_t>(now - t.dueMs) >= 0) {
                t.dueMs = now + t.periodMs;
                return t.id;
            }
        }
        return -1;
    }

    bool Running(int id) const {
        for (const Timer& t : timers_) {
            if (t.active && t.id == id) return true;
        }
        return false;
    }

    bool AnyRunning() const {
        for (const Timer& t : timers_) {
            if (t.active) return true;
        }
        return false;
    }

    void Clear() {
        for (Timer& t : timers_) t.active = false;
    }

private:
    static constexpr int kSlots = 8;
    static constexpr uint32_t kMinimumMs = 10;

    struct Timer {
        int id;
        bool active;
        uint32_t periodMs;
        uint32_t dueMs;
    };

    Timer* Find(int id) {
        for (Timer& t : timers_) {
            if (t.active && t.id == id) return &t;
        }
        return nullptr;
    }

    Timer timers_[kSlots] = {};
};

}  // namespace platform
