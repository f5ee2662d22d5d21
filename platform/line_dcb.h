// line_dcb.h - the line state a port is given, as the fields of the Windows
// DCB, built from what the driver reports.
//
// Kept free of <windows.h> so that native tests can check it: the Win32 port
// copies a DCB into DcbFields, builds, and copies back.
#pragma once

#include <cstdint>

#include "platform/platform.h"

namespace platform {

// The DCB's fields, named as there (flags as 0/1, the DTR and RTS controls as
// their codes).
struct DcbFields {
    uint32_t baudRate = 0;
    uint8_t fBinary = 0, fParity = 0, fOutxCtsFlow = 0, fOutxDsrFlow = 0, fDtrControl = 0, fDsrSensitivity = 0,
            fTXContinueOnXoff = 0, fOutX = 0, fInX = 0, fErrorChar = 0, fNull = 0, fRtsControl = 0, fAbortOnError = 0;
    uint16_t xonLim = 0, xoffLim = 0;
    uint8_t byteSize = 0, parity = 0, stopBits = 0;
    uint8_t xonChar = 0, xoffChar = 0, errorChar = 0, eofChar = 0, evtChar = 0;
};

constexpr uint8_t kXonChar = 0x11;
constexpr uint8_t kXoffChar = 0x13;

// The driver's state with the console's line applied: speed, framing, DTR and
// RTS as the line state says; every kind of flow control and handshake, error
// abort and byte replacement off; the rest kept.
DcbFields LineDcb(const DcbFields& driver, const LineState& line);

}  // namespace platform
