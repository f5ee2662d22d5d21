// line_dcb.cpp - the DCB a port is set to.
#include "platform/line_dcb.h"

namespace platform {

namespace {

// The DCB's codes: NOPARITY, ODDPARITY, EVENPARITY; ONESTOPBIT, TWOSTOPBITS;
// DTR_CONTROL_DISABLE or _ENABLE (RTS_CONTROL_ the same).
constexpr uint8_t ParityCode(Parity p) { return p == Parity::Odd ? 1 : p == Parity::Even ? 2 : 0; }
constexpr uint8_t StopBitsCode(StopBits s) { return s == StopBits::Two ? 2 : 0; }
constexpr uint8_t ControlCode(bool on) { return on ? 1 : 0; }

}  // namespace

DcbFields LineDcb(const DcbFields& driver, const LineState& line) {
    DcbFields d = driver;
    d.baudRate = line.baud;
    d.byteSize = line.dataBits;
    d.parity = ParityCode(line.parity);
    d.stopBits = StopBitsCode(line.stopBits);
    d.fBinary = 1;  // Windows supports no other mode
    d.fParity = line.parity != Parity::None ? 1 : 0;
    d.fDtrControl = ControlCode(line.dtrOn);
    d.fRtsControl = ControlCode(line.rtsOn);
    // Left over from another program, any of these would stall or change the
    // line: CTS, DSR and XON/XOFF handshakes, dropped NULs, replaced bytes,
    // and every read and write failing after a line error until it is cleared.
    d.fOutxCtsFlow = 0;
    d.fOutxDsrFlow = 0;
    d.fDsrSensitivity = 0;
    d.fOutX = 0;
    d.fInX = 0;
    d.fTXContinueOnXoff = 0;
    d.fNull = 0;
    d.fErrorChar = 0;
    d.fAbortOnError = 0;
    // Unused with flow control off, yet Windows refuses a state whose two
    // characters are equal (a DCB built from zeros), and USB CDC drivers
    // refuse it with "The parameter is incorrect".
    d.xonChar = kXonChar;
    d.xoffChar = kXoffChar;
    return d;
}

}  // namespace platform
