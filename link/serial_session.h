// serial_session.h - the one serial port session: open and configure the port,
// raw reads and writes, and the start and stop of the receiver.
#pragma once

#include <cstdint>

#include "link/link_state.h"

namespace wire {

constexpr int kOpenFailed = 17;
constexpr int kAlreadyOpen = 18;
// The port opened, but the driver refused a step of its set-up; it is closed
// again and SetupFailureText says which step and why.
constexpr int kSetupFailed = 19;
constexpr uint32_t kSessionBaud = 38400;
constexpr uint32_t kSessionQueueSize = 256;

// The session's line: kSessionBaud, 8 data bits, no parity, one stop bit, DTR
// and RTS raised while open.
platform::LineState SessionLine();
// The fixed read time-outs and the write time-out for the queue size and speed.
platform::PortTimeouts BuildPortTimeouts(uint32_t outQueue, uint32_t speed);

// Opens port portNumber and applies the line, with the write time-out for its
// speed. 0, kOpenFailed (also for port numbers below 1, which name no port),
// or kSetupFailed.
int OpenSerialPort(std::atomic<platform::PortHandle>& slot, int portNumber, const platform::LineState& line,
                   uint32_t inQueue, uint32_t outQueue);
int CloseSerialPort(platform::PortHandle port);
// The set-up failure of the last StartReceiver, as UTF-8 (empty when there was none): "COM3 could not be set up: SetCommState
// failed: The parameter is incorrect. (error 87)".
const char* SetupFailureText();
// Why the last open of the port itself failed ("COM3 does not exist on this
// PC", "COM7 is in use by another program", or the system's words); empty
// when it did not, or when the number named no port.
const char* OpenFailureText();
int ReadPort(platform::PortHandle port, void* buffer, int count);
int WritePort(platform::PortHandle port, const void* buffer, int count);
int QueuedInputCount();

// 0 when the port is open and the receiver runs; kOpenFailed when the port
// cannot be opened; kSetupFailed when it cannot be set up; kAlreadyOpen when
// a session is open already (which then keeps running untouched).
int StartReceiver();
int StopReceiver();
bool SessionOpen();

// Waits up to 10 s for the thread to end (ending the moment it does), then
// closes its handle.
// 0 when it ended, -1 when it still ran. Called on the UI thread only.
int AwaitThreadEnd(platform::ThreadHandle thread);

}  // namespace wire
