// fake_platform.cpp - the platform functions for the fuzz targets (see
// fake_platform.h). Single-threaded by design: the receiver loop runs on the
// fuzzer's thread and the harness acts between its steps.
#include "fake_platform.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>

#include "link/link_state.h"

namespace fuzzfake {

namespace {

// Calls in a row without time passing or a byte moving before the receiver
// counts as spinning. A pass of the receive loop makes a handful of calls.
constexpr int kSpinLimit = 20000;

uint64_t now = 0;
uint32_t base = 0;

struct Line {
    Signal signal = Signal::Level;
    std::vector<Chunk> chunks;
    size_t nextChunk = 0;
    std::deque<uint8_t> queue;
    bool open = false;
    uint32_t mask = 0;
    platform::PortTimeouts timeouts;
    int stillCalls = 0;
    StepHook hook = nullptr;
    std::vector<std::vector<uint8_t>> cleanIdle;
};
Line line;
int lineToken;  // its address is the port handle

struct Ui {
    std::vector<std::string> log;
    int boxes = 0;
};
Ui ui;

struct File {
    std::string name;
    std::vector<uint8_t> bytes;
};
File file;
struct OpenFile {
    size_t at = 0;
};
OpenFile openFile;
bool fileOpen = false;

void Progress() { line.stillCalls = 0; }

void Still() {
    if (++line.stillCalls > kSpinLimit) Fail("the receiver spins: no time passes and no byte moves");
}

void AdvanceTo(uint64_t t) {
    if (t > now) {
        now = t;
        Progress();
    }
    while (line.nextChunk < line.chunks.size() && line.chunks[line.nextChunk].atMs <= now) {
        const auto& c = line.chunks[line.nextChunk++].bytes;
        line.queue.insert(line.queue.end(), c.begin(), c.end());
    }
}

bool HasNextArrival() { return line.nextChunk < line.chunks.size(); }
uint64_t NextArrival() { return line.chunks[line.nextChunk].atMs; }

bool IsOneCleanFrame(const std::vector<uint8_t>& f) {
    if (f.size() < 7 || f[0] != wire::kStx) return false;
    const size_t n = static_cast<size_t>(f[2] | f[3] << 8);
    if (f.size() != n + 7 || f[4 + n] != wire::kEtx || f[6 + n] != wire::kCr) return false;
    uint32_t sum = 0;
    for (size_t i = 0; i < 4 + n + 1; ++i) sum += f[i];
    return f[5 + n] == static_cast<uint8_t>(sum);
}

void RunHook() {
    if (line.hook != nullptr) line.hook();
}

}  // namespace

[[noreturn]] void Fail(const char* what) {
    std::fprintf(stderr, "==fuzz== %s (at %llu ms, %zu bytes queued)\n", what, static_cast<unsigned long long>(now),
                 line.queue.size());
    std::abort();
}

void ResetClock(uint32_t tickBase) {
    now = 0;
    base = tickBase;
}

uint64_t NowMs() { return now; }

void ResetLine(Signal signal, std::vector<Chunk> chunks) {
    line = Line{};
    line.signal = signal;
    line.chunks = std::move(chunks);
    AdvanceTo(now);
}

size_t QueuedBytes() { return line.queue.size(); }
bool AllArrived() { return !HasNextArrival(); }
uint64_t LastArrivalMs() { return line.chunks.empty() ? 0 : line.chunks.back().atMs; }
void SetStepHook(StepHook hook) { line.hook = hook; }
const std::vector<std::vector<uint8_t>>& CleanFramesArrivedIdle() { return line.cleanIdle; }

void ResetUi() { ui = Ui{}; }
const std::vector<std::string>& LogLines() { return ui.log; }
int BoxCount() { return ui.boxes; }

void SetFile(const char* name, const uint8_t* data, size_t size) {
    file.name = name;
    file.bytes.assign(data, data + size);
    fileOpen = false;
}

}  // namespace fuzzfake

namespace platform {

using fuzzfake::line;
using fuzzfake::now;

// ---- serial port: COM1 is the scripted line --------------------------------------

OpenFault lastOpenFault = OpenFault::None;

// Only COM1 exists; a second open finds it held.
PortHandle PortOpen(int number) {
    lastOpenFault = number != 1 ? OpenFault::NoSuchPort : line.open ? OpenFault::InUse : OpenFault::None;
    if (lastOpenFault != OpenFault::None) return nullptr;
    line.open = true;
    return &fuzzfake::lineToken;
}

OpenFault PortOpenFault() { return lastOpenFault; }

bool PortSetupQueues(PortHandle, uint32_t, uint32_t) { return true; }

bool PortPurge(PortHandle, uint32_t) {
    line.queue.clear();
    fuzzfake::Progress();
    return true;
}

bool PortApplyState(PortHandle, const LineState&) { return true; }
bool PortApplyTimeouts(PortHandle, const PortTimeouts& t) {
    line.timeouts = t;
    return true;
}
bool PortSetMask(PortHandle, uint32_t mask) {
    line.mask = mask;
    return true;
}
PortFaultText PortFault() { return PortFaultText{}; }

WaitOutcome PortWaitEvent(PortHandle, uint32_t timeoutMs) {
    fuzzfake::Still();
    fuzzfake::RunHook();
    if (line.mask == 0) return WaitOutcome::Released;
    if (!line.queue.empty()) {
        // Level: the queued bytes complete the wait at once (a receiver that
        // keeps doing this spins, which Still() notices). Edge: they would
        // sit unread until more arrive or the wait runs out.
        if (line.signal == fuzzfake::Signal::Level) return WaitOutcome::Event;
        fuzzfake::Fail("a comm-event wait began while bytes were queued (edge signalling)");
    }
    const uint64_t until = now + timeoutMs;
    if (fuzzfake::HasNextArrival() && fuzzfake::NextArrival() <= until) {
        const auto& next = line.chunks[line.nextChunk].bytes;
        if (fuzzfake::IsOneCleanFrame(next)) line.cleanIdle.push_back(next);
        fuzzfake::AdvanceTo(fuzzfake::NextArrival());
        return WaitOutcome::Event;
    }
    fuzzfake::AdvanceTo(until);
    return WaitOutcome::TimedOut;
}

int PortQueued(PortHandle) {
    fuzzfake::Still();
    return static_cast<int>(line.queue.size());
}

// The Windows driver's read: ends when count bytes are in, when the interval
// passes after a byte with no next one, or at the total time-out.
int PortRead(PortHandle, void* buffer, int count) {
    fuzzfake::Still();
    auto* out = static_cast<uint8_t*>(buffer);
    const PortTimeouts& t = line.timeouts;
    const uint64_t deadline = now + uint64_t(t.readTotalMultiplier) * uint64_t(count) + t.readTotalConstant;
    int got = 0;
    while (got < count) {
        const int take = std::min<int>(count - got, static_cast<int>(line.queue.size()));
        for (int i = 0; i < take; ++i) {
            out[got++] = line.queue.front();
            line.queue.pop_front();
        }
        if (take > 0) fuzzfake::Progress();
        if (got == count) break;
        uint64_t limit = deadline;
        if (got > 0) limit = std::min<uint64_t>(limit, now + t.readInterval);
        if (fuzzfake::HasNextArrival() && fuzzfake::NextArrival() <= limit) {
            fuzzfake::AdvanceTo(fuzzfake::NextArrival());
            continue;
        }
        fuzzfake::AdvanceTo(limit);
        break;
    }
    return got;
}

int PortWrite(PortHandle, const void*, int count) { return count; }

LowLatency PortLowLatency(PortHandle) { return LowLatency::NotApplicable; }

void PortClose(PortHandle) {
    line.open = false;
    line.mask = 0;
}

// ---- threads and time: one thread, virtual milliseconds ------------------------

ThreadHandle StartThread(ThreadRoutine, void*) { return nullptr; }
bool ThreadRunning(ThreadHandle) { return false; }
void CloseThread(ThreadHandle) {}

void SleepMs(uint32_t ms) {
    fuzzfake::Still();
    fuzzfake::AdvanceTo(now + ms);
    fuzzfake::RunHook();
}

void UiSleepMs(uint32_t ms) { SleepMs(ms); }
void PauseMs(uint32_t ms) { SleepMs(ms); }
bool UiAwaitThreadEnd(ThreadHandle, uint32_t) { return true; }

uint32_t TickMs() { return static_cast<uint32_t>(fuzzfake::base + now); }
uint64_t MonotonicUs() { return now * 1000; }

// One thread: a lock is always free, and a signal is only ever waited out.
LockHandle NewLock() { return &fuzzfake::lineToken; }
void Lock(LockHandle) {}
bool TryLock(LockHandle) { return true; }
void Unlock(LockHandle) {}
SignalHandle NewSignal() { return &fuzzfake::lineToken; }
void RaiseSignal(SignalHandle) {}
bool WaitSignal(SignalHandle, uint32_t timeoutMs) {
    SleepMs(timeoutMs);
    return false;
}
bool UiWaitSignal(SignalHandle signal, uint32_t timeoutMs) { return WaitSignal(signal, timeoutMs); }

LocalTime NowLocal() { return LocalTime{2024, 1, 1, 0, 0, 0}; }

// ---- the user interface: recorded --------------------------------------------------

void LogLine(const char* text) { fuzzfake::ui.log.emplace_back(text); }
void LogLineUtf8(const char* text) { LogLine(text); }
void LogFrame(char, int, const uint8_t*, int, const char* line) { LogLine(line); }
void ClearLog() {}
void PostToDialog(uint32_t, uintptr_t, intptr_t) {}
void WarningBox(const char*) { ++fuzzfake::ui.boxes; }
bool AskYesNo(const char*) { return false; }
void Beep(BeepSound) {}

void ReadControlText(int, char* buffer, int cap) {
    if (cap > 0) buffer[0] = '\0';
}

bool ReadControlTextExact(int id, char* buffer, int cap, TextRefusal& refusal) {
    refusal = TextRefusal{};
    ReadControlText(id, buffer, cap);
    return true;
}

PathCarry ReadControlPath(int, char* path, int cap) {
    if (cap > 0) path[0] = '\0';
    return PathCarry::Ok;
}

void WarningBoxUtf8(const char*) { ++fuzzfake::ui.boxes; }

void SetControlText(int, const char*) {}
void EnableControl(int, bool) {}
void StartTimer(int, uint32_t) {}
void StopTimer(int) {}

// ---- files: the one in-memory file, read as a disk file reads --------------------

FileHandle FileOpenRead(const char* path) {
    if (fuzzfake::fileOpen || fuzzfake::file.name != path) return nullptr;
    fuzzfake::fileOpen = true;
    fuzzfake::openFile = fuzzfake::OpenFile{};
    return &fuzzfake::openFile;
}

FileHandle FileOpenExclusive(const char*) { return nullptr; }

int FileRead(FileHandle file, void* buffer, int count) {
    const int got = FileReadOnce(file, buffer, count);
    return got > 0 ? got : 0;
}

// A disk file gives all that was asked for, short only at its end.
int FileReadOnce(FileHandle, void* buffer, int count) {
    auto& f = fuzzfake::file.bytes;
    size_t& at = fuzzfake::openFile.at;
    const size_t n = std::min(static_cast<size_t>(count < 0 ? 0 : count), f.size() - at);
    if (n > 0) std::memcpy(buffer, f.data() + at, n);
    at += n;
    return static_cast<int>(n);
}

void FileClose(FileHandle) { fuzzfake::fileOpen = false; }

bool FileWriteNew(const char*, const void*, int count) { return count >= 0; }
bool FileCanCreate(const char*) { return true; }
bool FileReadOnly(const char*) { return false; }
FileKind FileKindAt(const char* path, bool) {
    return fuzzfake::file.name == path ? FileKind::Regular : FileKind::Missing;
}
FileFault LastFileFault() { return FileFault::Missing; }
bool BesideProgram(const char*, char* out, int cap) {
    if (cap > 0) out[0] = '\0';
    return false;
}
bool FileRemove(const char*) { return true; }
bool FileReplace(const char*, const char*) { return true; }

}  // namespace platform
