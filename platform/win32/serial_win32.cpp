// serial_win32.cpp - the serial port on Windows: overlapped I/O on a COM device.
//
// Each read, write and event wait has its own OVERLAPPED with its own event:
// the receiver reads while another thread writes on the same handle, and
// waiting on the file handle itself would let one completion wake the other.
//
// A device that goes away (a USB adapter unplugged, its driver stopped) does
// not close the handle: every call on it fails from then on, with an error
// that depends on the driver, or never completes. The first such failure
// marks the port gone, and the receiver's wait reports it at once.
#include <windows.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <cwchar>

#include "platform/line_dcb.h"
#include "platform/platform.h"

namespace platform {

namespace {

constexpr DWORD kNoEventPauseMs = 10;
// How long a close waits for the port's pending event wait to end before
// leaving its block behind.
constexpr DWORD kCloseEndsWaitMs = 1000;
// How much longer than the port's own time-outs a read or write may take
// before the adapter is taken as gone, and how long its cancel may take.
constexpr DWORD kCallGraceMs = 2000;
constexpr DWORD kCancelEndsMs = 1000;
// Aborted calls whose ClearCommError failed this many times in a row: the
// driver has no port left to clear.
constexpr int kClearFailuresGone = 3;
// ERROR_NO_SUCH_DEVICE, which mingw-w64's headers lack.
constexpr DWORD kErrorNoSuchDevice = 433;

struct Port {
    HANDLE h = INVALID_HANDLE_VALUE;
    HANDLE goneEvent = nullptr;  // manual-reset: set once the device is gone
    std::atomic<bool> gone{false};
    PortTimeouts timeouts;
    std::atomic<int> clearFailures{0};  // ClearCommError calls failed in a row after aborted calls
};

Port* P(PortHandle port) { return static_cast<Port*>(port); }
HANDLE H(PortHandle port) { return P(port)->h; }

thread_local PortFaultText lastFault{};
thread_local OpenFault lastOpenFault = OpenFault::None;

// What the drivers report once the device behind a port has gone: usbser and
// most vendor drivers use the first five, others a handle or a device that no
// longer exists; Wine reports a pseudo-terminal whose other end closed as "not
// ready" and "broken pipe". An aborted call is not among them: a driver that
// aborts its calls on a line error (fAbortOnError, or its own rule) answers so
// until ClearCommError, with the device still there (see Aborted).
bool MeansGone(DWORD error) {
    switch (error) {
        case ERROR_ACCESS_DENIED:
        case ERROR_BAD_COMMAND:
        case ERROR_DEVICE_REMOVED:
        case ERROR_GEN_FAILURE:
        case ERROR_DEVICE_NOT_CONNECTED:
        case ERROR_INVALID_HANDLE:
        case ERROR_FILE_NOT_FOUND:
        case ERROR_DEV_NOT_EXIST:
        case kErrorNoSuchDevice:
        case ERROR_NOT_READY:
        case ERROR_BROKEN_PIPE: return true;
        default: return false;
    }
}

void MarkGone(Port* p) {
    if (!p->gone.exchange(true)) SetEvent(p->goneEvent);
}

// An aborted call: the line error that made the driver abort it is cleared
// and the session goes on; a port whose ClearCommError keeps failing
// kClearFailuresGone times in a row is gone.
bool Aborted(Port* p) {
    DWORD errors = 0;
    COMSTAT stat;
    ZeroMemory(&stat, sizeof stat);
    if (ClearCommError(p->h, &errors, &stat)) {
        p->clearFailures = 0;
        return false;
    }
    if (MeansGone(GetLastError()) || ++p->clearFailures >= kClearFailuresGone) {
        MarkGone(p);
        return true;
    }
    return false;
}

// Looks at the error of a call that failed; true when it meant the device is gone.
bool FailedGone(Port* p, DWORD error) {
    if (error == ERROR_OPERATION_ABORTED) return Aborted(p);
    if (!MeansGone(error)) return false;
    MarkGone(p);
    return true;
}

// The system's words for an error, as UTF-8, with its number.
void Describe(const char* call, DWORD error) {
    std::snprintf(lastFault.call, sizeof lastFault.call, "%s", call);
    wchar_t wide[200] = L"";
    const DWORD n = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0, wide,
                                   sizeof wide / sizeof wide[0], nullptr);
    DWORD end = n;
    while (end > 0 && (wide[end - 1] == L'\r' || wide[end - 1] == L'\n' || wide[end - 1] == L' ')) --end;
    wide[end] = L'\0';
    char text[200] = "";
    WideCharToMultiByte(CP_UTF8, 0, wide, -1, text, sizeof text, nullptr, nullptr);
    text[sizeof text - 1] = '\0';
    std::snprintf(lastFault.message, sizeof lastFault.message, "%s%s(error %lu)", text, text[0] != '\0' ? " " : "",
                  static_cast<unsigned long>(error));
}

// A set-up step's outcome, described when it failed.
bool Step(const char* call, BOOL ok) {
    if (!ok) Describe(call, GetLastError());
    return ok != FALSE;
}

// The DCB's members and their DcbFields, in pairs (bit fields cannot be
// handed around by reference, so the copies are spelled out by the list).
#define TQ_DCB_FIELDS(X)                    \
    X(BaudRate, baudRate)                   \
    X(fBinary, fBinary)                     \
    X(fParity, fParity)                     \
    X(fOutxCtsFlow, fOutxCtsFlow)           \
    X(fOutxDsrFlow, fOutxDsrFlow)           \
    X(fDtrControl, fDtrControl)             \
    X(fDsrSensitivity, fDsrSensitivity)     \
    X(fTXContinueOnXoff, fTXContinueOnXoff) \
    X(fOutX, fOutX)                         \
    X(fInX, fInX)                           \
    X(fErrorChar, fErrorChar)               \
    X(fNull, fNull)                         \
    X(fRtsControl, fRtsControl)             \
    X(fAbortOnError, fAbortOnError)         \
    X(XonLim, xonLim)                       \
    X(XoffLim, xoffLim)                     \
    X(ByteSize, byteSize)                   \
    X(Parity, parity)                       \
    X(StopBits, stopBits)                   \
    X(XonChar, xonChar)                     \
    X(XoffChar, xoffChar)                   \
    X(ErrorChar, errorChar)                 \
    X(EofChar, eofChar)                     \
    X(EvtChar, evtChar)

struct Overlapped {
    OVERLAPPED ov{};
    Overlapped() { ov.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr); }
    ~Overlapped() {
        if (ov.hEvent != nullptr) CloseHandle(ov.hEvent);
    }
};

// The bound of one read or write: the total time-out the driver was given
// for that many bytes, and the grace above it.
DWORD CallBoundMs(uint32_t multiplier, uint32_t constant, int count) {
    return static_cast<DWORD>(uint64_t(multiplier) * static_cast<uint32_t>(count) + constant + kCallGraceMs);
}

// One read or write in flight, with bytes of its own: a call that is
// abandoned may still be carried out by the system later, and must then find
// its block and buffer, never the caller's.
struct Call {
    explicit Call(int count) : bytes(new uint8_t[count]) {}
    ~Call() { delete[] bytes; }
    Overlapped io;
    uint8_t* bytes;
};

// Carries out a read or write: the count it moved, 0 on failure. Wine may
// report a read that timed out with no data as ERROR_TIMEOUT where Windows
// reports success with 0 bytes; both come out as 0. A call that outlives its
// bound is cancelled and the port taken as gone; a call whose cancel never
// completes is left to the system rather than freed under it.
DWORD Transfer(Port* p, bool write, void* buffer, int count, DWORD boundMs) {
    Call* c = new Call(count);
    if (write) std::memcpy(c->bytes, buffer, static_cast<size_t>(count));
    DWORD moved = 0;
    BOOL done = write ? WriteFile(p->h, c->bytes, static_cast<DWORD>(count), &moved, &c->io.ov)
                      : ReadFile(p->h, c->bytes, static_cast<DWORD>(count), &moved, &c->io.ov);
    DWORD error = done ? 0 : GetLastError();
    if (!done && error == ERROR_IO_PENDING) {
        if (WaitForSingleObject(c->io.ov.hEvent, boundMs) != WAIT_OBJECT_0) {
            CancelIoEx(p->h, &c->io.ov);
            MarkGone(p);
            if (WaitForSingleObject(c->io.ov.hEvent, kCancelEndsMs) == WAIT_OBJECT_0) delete c;
            return 0;
        }
        done = GetOverlappedResult(p->h, &c->io.ov, &moved, FALSE);
        error = done ? 0 : GetLastError();
    }
    if (done && !write) std::memcpy(buffer, c->bytes, moved);
    delete c;
    if (!done) FailedGone(p, error);
    return done ? moved : 0;
}

// A comm-event wait, with the mask it fills in when it ends.
struct EventWait {
    explicit EventWait(HANDLE h) : port(h) {}
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
WaitOutcome EndWait(Port* p, EventWait*& w, bool completed) {
    const bool received = completed && (w->events & EV_RXCHAR) != 0;
    const DWORD error = completed ? 0 : GetLastError();
    delete w;
    w = nullptr;
    if (received) return WaitOutcome::Event;
    // Some drivers end a wait that a mask change released (a stop) as
    // aborted: only the other errors say that the device is gone.
    if (!completed && error != ERROR_OPERATION_ABORTED && FailedGone(p, error)) return WaitOutcome::Gone;
    Sleep(kNoEventPauseMs);
    return WaitOutcome::Released;
}

// A COM device opened for exclusive, overlapped use.
HANDLE OpenDevice(const char* name) {
    return CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                       FILE_FLAG_OVERLAPPED | FILE_ATTRIBUTE_NORMAL, nullptr);
}

// Closed ports are kept, not freed: a thread that loaded the handle just
// before the close (a discard of queued input) must find a closed handle,
// not freed memory. A session opens few ports in a process's life.
void Retire(Port* p) {
    p->h = INVALID_HANDLE_VALUE;
    MarkGone(p);
}

// The system's reason for a failed open, told apart where the operator can act on it.
OpenFault OpenFaultOf(DWORD error) {
    switch (error) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND: return OpenFault::NoSuchPort;
        case ERROR_ACCESS_DENIED:
        case ERROR_SHARING_VIOLATION: return OpenFault::InUse;
        default: return OpenFault::Other;
    }
}

}  // namespace

OpenFault PortOpenFault() { return lastOpenFault; }

// Always under the device namespace, \\.\COMn: the plain name "COM10" and up
// is no device name, and would open a file of that name in the working
// folder when one exists, where frames would then be written.
PortHandle PortOpen(int number) {
    char name[32];
    std::snprintf(name, sizeof name, "\\\\.\\COM%d", number);
    HANDLE h = OpenDevice(name);
    if (h == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        lastOpenFault = OpenFaultOf(error);
        Describe("CreateFile", error);
        return nullptr;
    }
    lastOpenFault = OpenFault::None;
    Port* p = new Port;
    p->h = h;
    p->goneEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    return p;
}

bool PortSetupQueues(PortHandle port, uint32_t inQueue, uint32_t outQueue) {
    return Step("SetupComm", SetupComm(H(port), inQueue, outQueue));
}

bool PortPurge(PortHandle port, uint32_t flags) { return Step("PurgeComm", PurgeComm(H(port), flags)); }

bool PortApplyState(PortHandle port, const LineState& s) {
    DCB dcb;
    ZeroMemory(&dcb, sizeof dcb);
    dcb.DCBlength = sizeof dcb;
    if (!Step("GetCommState", GetCommState(H(port), &dcb))) return false;
    DcbFields f;
#define TQ_FROM_DCB(member, field) f.field = dcb.member;
    TQ_DCB_FIELDS(TQ_FROM_DCB)
#undef TQ_FROM_DCB
    f = LineDcb(f, s);
#define TQ_TO_DCB(member, field) dcb.member = f.field;
    TQ_DCB_FIELDS(TQ_TO_DCB)
#undef TQ_TO_DCB
    return Step("SetCommState", SetCommState(H(port), &dcb));
}

bool PortApplyTimeouts(PortHandle port, const PortTimeouts& t) {
    COMMTIMEOUTS ct;
    ct.ReadIntervalTimeout = t.readInterval;
    ct.ReadTotalTimeoutMultiplier = t.readTotalMultiplier;
    ct.ReadTotalTimeoutConstant = t.readTotalConstant;
    ct.WriteTotalTimeoutMultiplier = t.writeTotalMultiplier;
    ct.WriteTotalTimeoutConstant = t.writeTotalConstant;
    if (!Step("SetCommTimeouts", SetCommTimeouts(H(port), &ct))) return false;
    P(port)->timeouts = t;
    return true;
}

bool PortSetMask(PortHandle port, uint32_t mask) { return Step("SetCommMask", SetCommMask(H(port), mask)); }

PortFaultText PortFault() { return lastFault; }

// A wait that times out is left pending, not cancelled, and the next call
// goes on waiting on it: under Wine a cancel that meets the wait while the
// driver is re-checking it can be lost, and the canceller then waits for ever.
// A pending wait ends when a character arrives, when the mask is changed (a
// stop) or when the port is closed; a port found gone by any call ends it too.
WaitOutcome PortWaitEvent(PortHandle port, uint32_t timeoutMs) {
    Port* p = P(port);
    if (p->gone.load()) return WaitOutcome::Gone;
    EventWait*& w = pendingWait;
    if (w == nullptr) {
        w = new EventWait(p->h);
        if (WaitCommEvent(w->port, &w->events, &w->io.ov)) return EndWait(p, w, true);
        if (GetLastError() != ERROR_IO_PENDING) return EndWait(p, w, false);
    }
    HANDLE ends[2] = {w->io.ov.hEvent, p->goneEvent};
    const DWORD r = WaitForMultipleObjects(2, ends, FALSE, timeoutMs);
    if (r == WAIT_OBJECT_0 + 1) return WaitOutcome::Gone;
    if (r != WAIT_OBJECT_0) return WaitOutcome::TimedOut;
    DWORD ignored = 0;
    return EndWait(p, w, GetOverlappedResult(w->port, &w->io.ov, &ignored, FALSE) != FALSE);
}

int PortQueued(PortHandle port) {
    DWORD errors = 0;
    COMSTAT stat;
    ZeroMemory(&stat, sizeof stat);
    if (!ClearCommError(H(port), &errors, &stat)) {
        FailedGone(P(port), GetLastError());
        return 0;
    }
    return static_cast<int>(stat.cbInQue);
}

int PortRead(PortHandle port, void* buffer, int count) {
    const PortTimeouts& t = P(port)->timeouts;
    return static_cast<int>(
        Transfer(P(port), false, buffer, count, CallBoundMs(t.readTotalMultiplier, t.readTotalConstant, count)));
}

int PortWrite(PortHandle port, const void* buffer, int count) {
    const PortTimeouts& t = P(port)->timeouts;
    return static_cast<int>(Transfer(P(port), true, const_cast<void*>(buffer), count,
                                     CallBoundMs(t.writeTotalMultiplier, t.writeTotalConstant, count)));
}

// The latency timer of a USB serial adapter is a setting of its driver
// (Device Manager), not something a program asks for at the open.
LowLatency PortLowLatency(PortHandle) { return LowLatency::NotApplicable; }

void PortClose(PortHandle port) {
    Port* p = P(port);
    const HANDLE h = p->h;
    CloseHandle(h);
    Retire(p);
    EventWait* w = pendingWait;
    if (w == nullptr || w->port != h) return;
    pendingWait = nullptr;
    // The close ends the wait; until it has, the system may still write into
    // the block, so one that does not end in time is left, not freed.
    if (WaitForSingleObject(w->io.ov.hEvent, kCloseEndsWaitMs) == WAIT_OBJECT_0) delete w;
}

}  // namespace platform
