// line_dcb.cpp - the DCB a port is set to.
#include "platform/line_dcb.h"

namespace platform {

DcbFields LineDcb(const DcbFields& driver, const LineState& line) {
    DcbFields d = driver;
    d.baudRate = line.baudRate;
    d.byteSize = line.byteSize;
    d.parity = line.parity;
    d.stopBits = line.stopBits;
    d.fBinary = 1;  // Windows supports no other mode
    d.fParity = line.fParity;
    d.fDtrControl = line.fDtrControl;
    d.fRtsControl = line.fRtsControl;
    d.fOutxCtsFlow = line.fOutxCtsFlow;
    d.fOutX = line.fOutX;
    d.fTXContinueOnXoff = line.fTXContinueOnXoff;
    // Left over from another program, any of these would stall or change the
    // line: DSR handshake, input flow control, dropped NULs, replaced bytes,
    // and every read and write failing after a line error until it is cleared.
    d.fOutxDsrFlow = 0;
    d.fDsrSensitivity = 0;
    d.fInX = 0;
    d.fNull = 0;
    d.fErrorChar = 0;
    d.fAbortOnError = 0;
    if (line.fOutX != 0) {
        d.xonLim = line.xonLim;
        d.xoffLim = line.xoffLim;
        d.xonChar = line.xonChar;
        d.xoffChar = line.xoffChar;
    } else {
        // Unused with flow control off, yet Windows refuses a state whose two
        // characters are equal (a DCB built from zeros), and USB CDC drivers
        // refuse it with "The parameter is incorrect".
        d.xonChar = kXonChar;
        d.xoffChar = kXoffChar;
    }
    return d;
}

}  // namespace platform
