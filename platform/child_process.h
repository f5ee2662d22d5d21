// child_process.h - this program started again as a child: what a station
// needs to serve several units at once, one process each, so that a unit
// that hangs or crashes never touches another. One implementation per
// system: posix/child_process_posix.cpp and win32/child_process_win32.cpp.
#pragma once

#include <cstddef>
#include <cstdint>

namespace platform::child {

struct Child;

// Starts this same program with args (UTF-8, without the program itself):
// its standard output a pipe to us, its input the null device, its errors
// ours. A Ctrl+C at the terminal reaches it only through Interrupt on
// Windows (it is a process group of its own there); on Linux it shares our
// group, and the two deliveries a millisecond apart count as one request.
// nullptr with the reason when it cannot be started.
Child* StartSelf(const char* const* args, int count, char* why, size_t whyCap);
// One read of its output: the count, 0 at its end (or a failed read).
int Read(Child* child, char* buffer, int cap);
// The operator's Ctrl+C, passed on.
void Interrupt(Child* child);
// Ends it at once.
void Kill(Child* child);
// Waits up to timeoutMs for it to end; true with its exit code (128 plus the
// signal for one ended by a signal on Linux; the exception code on Windows).
bool Wait(Child* child, uint32_t timeoutMs, int& exitCode);
// Frees what is left of it; it must have ended.
void Release(Child* child);

}  // namespace platform::child
