// session_commands.h - the commands that act on the session itself: open and
// close the port, and the requests sent straight from the dialog.
#pragma once

#include <cstdint>

namespace shell {

// "open": the port edit's number, opened with the receiver; a refused set-up
// or an open that fails has its box. True when the session runs.
bool OpenPort();
// The same for a port number that a front end has itself.
bool OpenPortNumber(int number);
// The port edit's number: "5", and as Windows names it, "COM5" or "com5";
// 0 when the text holds none.
int PortNumberFromEdit(const char* text);
// "close": ends the session and frees the port edit.
void ClosePort();
// UM_PORT_LOST: a session whose port went away is closed as "close" would.
void OnPortLost();
// The system removed COM port `number` (WM_DEVICECHANGE): the session on it
// ends as "close" would, with its line; any other port changes nothing.
void OnPortRemoved(int number);

// A request with no payload, sent from the dialog's thread (resume, 0x62,
// the clock query); refused while a worker runs. True when it was sent.
bool SendDirect(uint8_t command);
// The PC's time to the device's clock; true when the request was sent.
bool SetClock();

}  // namespace shell
