// line_dcb_test.cpp - the DCB a port is set to, from whatever state the driver reports.
#include <gtest/gtest.h>

#include "link/serial_session.h"
#include "platform/line_dcb.h"

namespace {

using platform::DcbFields;

// A driver's state after another program: XON/XOFF and DSR handshakes, abort
// on error, 9600 7E2, and NULs dropped.
DcbFields Leftover() {
    DcbFields d;
    d.baudRate = 9600;
    d.fParity = d.fOutxCtsFlow = d.fOutxDsrFlow = d.fDsrSensitivity = d.fOutX = d.fInX = 1;
    d.fErrorChar = d.fNull = d.fAbortOnError = 1;
    d.fDtrControl = d.fRtsControl = 2;
    d.byteSize = 7, d.parity = 2, d.stopBits = 2;
    d.xonLim = 2048, d.xoffLim = 512;
    d.xonChar = 0x11, d.xoffChar = 0x13, d.errorChar = '?', d.eofChar = 0x1A, d.evtChar = 0x0D;
    return d;
}

TEST(LineDcb, SessionLineIs38400EightNoneOneWithNoHandshakeFromAnyDriverState) {
    const platform::LineState line = wire::SessionLine();
    for (const DcbFields& driver : {DcbFields{}, Leftover()}) {
        const DcbFields d = platform::LineDcb(driver, line);
        EXPECT_EQ(d.baudRate, 38400u);
        EXPECT_EQ(d.byteSize, 8);
        EXPECT_EQ(d.parity, 0);
        EXPECT_EQ(d.stopBits, 0);
        EXPECT_EQ(d.fBinary, 1);
        EXPECT_EQ(d.fParity, 0);
        EXPECT_EQ(d.fDtrControl, 1);  // raised while open
        EXPECT_EQ(d.fRtsControl, 1);
        for (uint8_t off : {d.fOutxCtsFlow, d.fOutxDsrFlow, d.fDsrSensitivity, d.fOutX, d.fInX, d.fErrorChar, d.fNull,
                            d.fAbortOnError}) {
            EXPECT_EQ(off, 0);
        }
        // Windows refuses a state whose XON and XOFF characters are equal.
        EXPECT_EQ(d.xonChar, 0x11);
        EXPECT_EQ(d.xoffChar, 0x13);
        // What the console does not set keeps the driver's accepted values.
        EXPECT_EQ(d.xonLim, driver.xonLim);
        EXPECT_EQ(d.xoffLim, driver.xoffLim);
        EXPECT_EQ(d.eofChar, driver.eofChar);
        EXPECT_EQ(d.evtChar, driver.evtChar);
        EXPECT_EQ(d.errorChar, driver.errorChar);
    }
}

}  // namespace
