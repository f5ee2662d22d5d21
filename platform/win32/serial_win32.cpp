// serial_win32.cpp - the serial port on Windows: overlapped I/O on a COM device.
//
// Each read, write and event wait has its own OVERLAPPED with its own event:
// the receiver reads while another thread writes on the same handle, and
// waiting on the file handle itself would let one completion wake the other.
#include <windows.h>

#include "platform/platform.h"

namespace platform {

namespace {

constexpr DWORD kNoEventPauseMs = 10;
// How long a close waits for the port's pending event wait to end before
// leaving its block behind.
constexpr DWORD kCloseEndsWaitMs = 1000;

HANDLE H(PortHandle port) { return static_cast<HANDLE>(port); }

// Completes an overlapped call: the count it moved, 0 on failure. Wine may
// report a read that timed out with no data as ERROR_TIMEOUT where Windows
// reports success with 0 bytes; both come out as 0.
DWORD Finish(HANDLE h, BOOL started, OVERLAPPED& ov, DWORD immediate) {
    if (started) return immediate;
    if (GetLastError() != ERROR_IO_PENDING) return 0;
    DWORD moved = 0;
    if (!GetOverlappedResult(h, &ov, &moved, TRUE)) return 0;
    return moved;
}

struct Overlapped {
    OVERLAPPED ov{};
    Overlapped() { ov.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr); }
    ~Overlapped() {
        if (ov.hEvent != nullptr) CloseHandle(ov.hEvent);
    }
};

// A comm-event wait, with the mask it fills in when it ends.
struct EventWait {
    explicit EventWait(HANDLE p) : port(p) {}
    HANDLE port;
    Overlapped io;
    DWORD events = 0;
};

// The calling thread's wait that outlived its PortWaitEvent call. Only the
// receiver waits, and it also closes the port.
thread_local EventWait* pendingWait = nullptr;

// Frees a wait that has ended. Without a received character it was a mask
// change (a stop), or Wine on a pseudo-terminal without modem lines, where
// the wait returns at once every time: the pause keeps the receiver from
// spinning there, and 10 ms is well within its own poll of the device.
WaitOutcome EndWait(EventWait*& w, bool completed) {
    const bool received = completed && (w->events & EV_RXCHAR) != 0;
    delete w;
    w = nullptr;
    if (received) return WaitOutcome::Event;
    Sleep(kNoEventPauseMs);
    return WaitOutcome::Released;
}

}  // namespace

PortHandle PortOpen(const char* name) {
    HANDLE h = CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                           FILE_FLAG_OVERLAPPED | FILE_ATTRIBUTE_NORMAL, nullptr);
    return h == INVALID_HANDLE_VALUE ? nullptr : h;
}

void PortSetupQueues(PortHandle port, uint32_t inQueue, uint32_t outQueue) {
    SetupComm(H(port), inQueue, outQueue);
}

void PortPurge(PortHandle port, uint32_t flags) { PurgeComm(H(port), flags); }

void PortApplyState(PortHandle port, const LineState& s) {
    DCB dcb;
    ZeroMemory(&dcb, sizeof dcb);
    dcb.DCBlength = sizeof dcb;
    dcb.BaudRate = s.baudRate;
    dcb.fBinary = s.fBinary;
    dcb.fParity = s.fParity;
    dcb.fOutxCtsFlow = s.fOutxCtsFlow;
    dcb.fDtrControl = s.fDtrControl;
    dcb.fRtsControl = s.fRtsControl;
    dcb.fOutX = s.fOutX;
    dcb.fTXContinueOnXoff = s.fTXContinueOnXoff;
    dcb.XonLim = s.xonLim;
    dcb.XoffLim = s.xoffLim;
    dcb.ByteSize = s.byteSize;
    dcb.Parity = s.parity;
    dcb.StopBits = s.stopBits;
    dcb.XonChar = static_cast<char>(s.xonChar);
    dcb.XoffChar = static_cast<char>(s.xoffChar);
    SetCommState(H(port), &dcb);
}

void PortApplyTimeouts(PortHandle port, const PortTimeouts& t) {
    COMMTIMEOUTS ct;
    ct.ReadIntervalTimeout = t.readInterval;
    ct.ReadTotalTimeoutMultiplier = t.readTotalMultiplier;
    ct.ReadTotalTimeoutConstant = t.readTotalConstant;
    ct.WriteTotalTimeoutMultiplier = t.writeTotalMultiplier;
    ct.WriteTotalTimeoutConstant = t.writeTotalConstant;
    SetCommTimeouts(H(port), &ct);
}

void PortSetMask(PortHandle port, uint32_t mask) { SetCommMask(H(port), mask); }

// A wait that times out is left pending, not cancelled, and the next call
// goes on waiting on it: under Wine a cancel that meets the wait while the
// driver is re-checking it can be lost, and the canceller then waits for ever.
// A pending wait ends when a character arrives, when the mask is changed (a
// stop) or when the port is closed.
WaitOutcome PortWaitEvent(PortHandle port, uint32_t timeoutMs) {
    EventWait*& w = pendingWait;
    if (w == nullptr) {
        w = new EventWait(H(port));
        if (WaitCommEvent(w->port, &w->events, &w->io.ov)) return EndWait(w, true);
        if (GetLastError() != ERROR_IO_PENDING) return EndWait(w, false);
    }
    if (WaitForSingleObject(w->io.ov.hEvent, timeoutMs) != WAIT_OBJECT_0) return WaitOutcome::TimedOut;
    DWORD ignored = 0;
    return EndWait(w, GetOverlappedResult(w->port, &w->io.ov, &ignored, FALSE) != FALSE);
}

int PortQueued(PortHandle port) {
    DWORD errors = 0;
    COMSTAT stat;
    ZeroMemory(&stat, sizeof stat);
    if (!ClearCommError(H(port), &errors, &stat)) return 0;
    return static_cast<int>(stat.cbInQue);
}

int PortRead(PortHandle port, void* buffer, int count) {
    Overlapped o;
    DWORD got = 0;
    BOOL done = ReadFile(H(port), buffer, static_cast<DWORD>(count), &got, &o.ov);
    return static_cast<int>(Finish(H(port), done, o.ov, got));
}

int PortWrite(PortHandle port, const void* buffer, int count) {
    Overlapped o;
    DWORD put = 0;
    BOOL done = WriteFile(H(port), buffer, static_cast<DWORD>(count), &put, &o.ov);
    return static_cast<int>(Finish(H(port), done, o.ov, put));
}

// The latency timer of a USB serial adapter is a setting of its driver
// (Device Manager), not something a program asks for at the open.
LowLatency PortLowLatency(PortHandle) { return LowLatency::NotApplicable; }

void PortClose(PortHandle port) {
    CloseHandle(H(port));
    EventWait* w = pendingWait;
    if (w == nullptr || w->port != H(port)) return;
    pendingWait = nullptr;
    // The close ends the wait; until it has, the system may still write into
    // the block, so one that does not end in time is left, not freed.
    if (WaitForSingleObject(w->io.ov.hEvent, kCloseEndsWaitMs) == WAIT_OBJECT_0) delete w;
}

}  // namespace platform
