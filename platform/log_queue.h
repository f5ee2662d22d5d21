// log_queue.h - the operator log's lines on their way from the workers and
// the receiver to the thread that shows them.
//
// A thread that logs a line queues it and goes on: the line is never held up
// by the window's painting, a slow transcript or a busy PC. The showing
// thread takes the lines in the order they were logged. The queue is bounded:
// when it is full, the caller makes the showing thread take what waits and
// queues its line after that; nothing is ever dropped.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace platform {

struct LogEntry {
    std::string text;    // CP932, or UTF-8 when utf8 says so
    bool clear = false;  // the log is emptied here instead
    bool utf8 = false;   // platform::LogLineUtf8's line
    // A frame's line also carries the frame (platform::LogFrame): its
    // direction letter, its length as the line gives it, the bytes held.
    char frameLetter = 0;
    int frameLength = 0;
    std::vector<uint8_t> frame = {};
    uint32_t loggedMs = 0;  // platform::TickMs when it was logged (the console stamps it so)
};

class LogQueue {
public:
    // Lines that may wait: far more than a burst of frames brings, a few
    // hundred kilobytes at the longest lines.
    static constexpr size_t kCapacity = 2048;

    enum class Put {
        Queued,      // behind others; a wake is on its way already
        QueuedWake,  // the first since the last Take: wake the showing thread
        Full,        // not queued: let the showing thread take what waits, then again
    };

    LogQueue();
    LogQueue(const LogQueue&) = delete;
    LogQueue& operator=(const LogQueue&) = delete;

    Put Push(LogEntry entry);
    // Every queued entry, oldest first; the next Push wakes again.
    std::vector<LogEntry> TakeAll();
    size_t Size();

private:
    LockHandle lock_;
    std::vector<LogEntry> entries_;
    bool wakePending_ = false;
};

}  // namespace platform
