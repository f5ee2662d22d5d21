// line_spool.h - bytes for files, written by a thread of their own.
//
// The operator log hands every line to the session transcript from inside a
// log request, which the receiver waits for: a file on a slow share, a disk
// that stalls or a virus scanner holding the write would otherwise hold up
// the next frame. Here the line is only queued, and one writer thread does
// the writing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace shell {

// What the writer does with a target's bytes: Write returns false when the
// write failed; Close releases the target once everything queued before it
// was written (or dropped after a failure); Failed is told once, on the
// writer thread when a write failed, on the caller's when the queue overflowed.
struct SpoolSink {
    bool (*write)(void* target, const std::string& bytes);
    void (*close)(void* target);
    void (*failed)(void* target);
};

// How much may wait unwritten before the spool gives up on a target: a file
// that takes nothing for that long is not going to catch up.
constexpr size_t kSpoolCapBytes = 8u << 20;

// Queues bytes for target; false when they were not taken (the target has
// failed, the queue is full, or the writer could not be started). The first
// call starts the writer; the sink is the same for every target. Calls come
// from one thread (the window's).
bool SpoolWrite(const SpoolSink& sink, void* target, std::string bytes);
// Queues the target's close behind its bytes.
void SpoolClose(const SpoolSink& sink, void* target);
// Waits up to boundMs until everything queued so far has been handled; true
// when it was.
bool SpoolDrain(uint32_t boundMs);

}  // namespace shell
