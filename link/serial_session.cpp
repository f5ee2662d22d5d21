// serial_session.cpp - opening, configuring and closing the port; the
// receiver's start and stop.
#include "link/serial_session.h"

#include <cstdio>

#include "link/frame.h"
#include "link/receiver.h"

namespace wire {

std::atomic<platform::PortHandle> CommHandle{nullptr};
int PortNumber = 0;
std::atomic<uint16_t> LinkFlags{0};

namespace {
platform::ThreadHandle receiverThread = nullptr;
char setupFailure[400] = "";
char openFailure[400] = "";

// Keeps why the open itself failed: a port that does not exist and one that
// another program holds are told apart, the rest in the system's words.
void NoteOpenFailure(int portNumber) {
    const platform::PortFaultText fault = platform::PortFault();
    switch (platform::PortOpenFault()) {
        case platform::OpenFault::NoSuchPort:
            std::snprintf(openFailure, sizeof openFailure, "COM%d does not exist on this PC", portNumber);
            break;
        case platform::OpenFault::InUse:
            std::snprintf(openFailure, sizeof openFailure, "COM%d is in use by another program", portNumber);
            break;
        case platform::OpenFault::Other:
            std::snprintf(openFailure, sizeof openFailure, "COM%d could not be opened: %s failed: %s", portNumber,
                          fault.call, fault.message);
            break;
        case platform::OpenFault::None:
        default: openFailure[0] = '\0'; break;
    }
}

// Keeps the words of the set-up step that failed, for the operator.
void NoteSetupFailure(int portNumber) {
    const platform::PortFaultText fault = platform::PortFault();
    std::snprintf(setupFailure, sizeof setupFailure, "COM%d could not be set up: %s failed: %s", portNumber, fault.call,
                  fault.message);
}

// The bound of the 1000 polls of 10 ms that a thread's end was once awaited with.
constexpr uint32_t kThreadEndBoundMs = 10000;
}  // namespace

platform::LineState SessionLine() {
    platform::LineState s;
    s.baud = kSessionBaud;
    s.dataBits = 8;
    s.parity = platform::Parity::None;
    s.stopBits = platform::StopBits::One;
    s.dtrOn = true;  // raised while open
    s.rtsOn = true;
    return s;
}

platform::PortTimeouts BuildPortTimeouts(uint32_t outQueue, uint32_t speed) {
    platform::PortTimeouts t;
    t.readInterval = 2;
    t.readTotalMultiplier = 1;
    t.readTotalConstant = 2;
    const int32_t q = static_cast<int32_t>(outQueue);
    const int32_t v = static_cast<int32_t>(speed);
    t.writeTotalMultiplier = static_cast<uint32_t>(v != 0 ? q * 9 / v + 1 : 1);
    t.writeTotalConstant = 1000;
    return t;
}

int OpenSerialPort(std::atomic<platform::PortHandle>& slot, int portNumber, const platform::LineState& line,
                   uint32_t inQueue, uint32_t outQueue) {
    // A number below 1 names no port; a session on it would have no handle
    // that a stop could act on.
    openFailure[0] = '\0';
    if (portNumber < 1) return kOpenFailed;
    platform::PortHandle h = platform::PortOpen(portNumber);
    if (h == nullptr) {
        NoteOpenFailure(portNumber);
        return kOpenFailed;
    }
    // A step the driver refuses would leave the port at another speed or
    // framing, where every command would end in "no answer": such a port is
    // not open.
    const bool ready = platform::PortSetupQueues(h, inQueue, outQueue) && platform::PortPurge(h, platform::kPurgeAll) &&
                       platform::PortApplyState(h, line) &&
                       platform::PortApplyTimeouts(h, BuildPortTimeouts(outQueue, line.baud));
    if (!ready) {
        NoteSetupFailure(portNumber);
        platform::PortClose(h);
        return kSetupFailed;
    }
    slot.store(h);
    return 0;
}

const char* SetupFailureText() { return setupFailure; }
const char* OpenFailureText() { return openFailure; }

int CloseSerialPort(platform::PortHandle port) {
    if (port != nullptr) {
        platform::PortPurge(port, platform::kPurgeAll);
        platform::PortClose(port);
    }
    return 1;
}

int ReadPort(platform::PortHandle port, void* buffer, int count) {
    if (port == nullptr || count <= 0) return 0;
    return platform::PortRead(port, buffer, count);
}

int WritePort(platform::PortHandle port, const void* buffer, int count) {
    if (port == nullptr || count <= 0) return 0;
    return platform::PortWrite(port, buffer, count);
}

int QueuedInputCount() {
    platform::PortHandle h = CommHandle.load();
    return h == nullptr ? 0 : platform::PortQueued(h);
}

bool SessionOpen() { return CommHandle.load() != nullptr || receiverThread != nullptr; }

// The port is opened here, on the calling thread, before the receiver starts:
// the outcome is known without a hand-shake, and a failed open leaves no
// thread behind.
int StartReceiver() {
    if (SessionOpen()) return kAlreadyOpen;
    setupFailure[0] = '\0';
    const int opened = OpenSerialPort(CommHandle, PortNumber, SessionLine(), kSessionQueueSize, kSessionQueueSize);
    if (opened != 0) return opened;
    if (!platform::PortSetMask(CommHandle.load(), platform::kEventRxChar)) {
        NoteSetupFailure(PortNumber);
        CloseSerialPort(CommHandle.exchange(nullptr));
        return kSetupFailed;
    }
    receiverThread = platform::StartThread(ReceiverLoop, nullptr);
    if (receiverThread == nullptr) {
        CloseSerialPort(CommHandle.exchange(nullptr));
        return kOpenFailed;
    }
    return 0;
}

// The mask is cleared under the transmitter, as the receiver closes a port
// that went away: the handle is never used while it is being closed.
void ReleaseReceiverWait() {
    TransmitterLock tx(true);
    const platform::PortHandle h = CommHandle.load();
    if (h != nullptr) platform::PortSetMask(h, 0);
}

int StopReceiver() {
    if (CommHandle.load() != nullptr || receiverThread != nullptr) {
        // The mask is cleared before the stop is asked for: once the flag is
        // set the receiver may close the port, and the handle must not be
        // used after that. A receiver woken before the flag is set only finds
        // its waits returning at once until it sees the flag.
        ReleaseReceiverWait();
        SetLinkFlag(kFlagStopReceiver);
        AwaitThreadEnd(receiverThread);
        receiverThread = nullptr;
    }
    ClearLinkFlag(kFlagStopReceiver);
    return 0;
}

int AwaitThreadEnd(platform::ThreadHandle thread) {
    if (thread == nullptr) return 0;
    const int result = platform::UiAwaitThreadEnd(thread, kThreadEndBoundMs) ? 0 : -1;
    platform::CloseThread(thread);
    return result;
}

}  // namespace wire
