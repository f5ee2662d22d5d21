// session_commands.cpp - the session's own commands: the port and the direct
// requests.
#include "shell/session_commands.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "link/frame.h"
#include "link/receiver.h"
#include "link/serial_session.h"
#include "operations/device_clock.h"
#include "platform/platform.h"
#include "platform/port_info.h"
#include "shell/command_ids.h"
#include "shell/number_text.h"
#include "shell/worker_slot.h"

namespace shell {

namespace {

constexpr const char* kOpenFailedText = "COMがオープンできません";

// The system's message is in the PC's own language, so the box is UTF-8; the
// first line is the console's own text for a failed open.
void ShowSetupFailure() {
    char box[600];
    std::snprintf(box, sizeof box,
                  u8"COMがオープンできません\n\n%s\n\nThe port is closed again. Check the adapter's driver "
                  "(Device Manager), or try another port.",
                  wire::SetupFailureText());
    platform::WarningBoxUtf8(box);
}

// The ports there are, for a number that names none: the box takes their
// names in UTF-8; the log line (code page 932) leaves out a friendly name
// that is not plain ASCII.
std::string PortsThere(bool forLog) {
    std::vector<platform::ports::PortInfo> ports = platform::ports::GatherPorts();
    for (platform::ports::PortInfo& p : ports) {
        const std::string summary = platform::ports::PortSummary(p);
        const bool ascii = std::all_of(summary.begin(), summary.end(), [](char c) { return (c & 0x80) == 0; });
        if (!forLog || ascii) continue;
        platform::ports::PortInfo bare;
        bare.name = p.name;
        p = bare;
    }
    return ports.empty() ? "no serial port" : platform::ports::PortsSummary(ports);
}

// The console's own text, and below it why the open failed where the
// system said (a port that does not exist, with the ports there are; one
// another program holds); the reason is logged too.
void ShowOpenFailure() {
    const char* why = wire::OpenFailureText();
    if (why[0] == '\0') {
        platform::WarningBox(kOpenFailedText);
        return;
    }
    // These are the console's own words; the system's (in the PC's
    // language) stay in the box, which takes UTF-8.
    const platform::OpenFault fault = platform::PortOpenFault();
    const bool missing = fault == platform::OpenFault::NoSuchPort;
    if (missing || fault == platform::OpenFault::InUse) {
        const std::string line = std::string(why) + (missing ? "; it has " + PortsThere(true) : "");
        platform::LogLine(line.c_str());
    }
    const std::string box =
        std::string(u8"COMがオープンできません\n\n") + why + (missing ? "; it has " + PortsThere(false) : "");
    platform::WarningBoxUtf8(box.c_str());
}

}  // namespace

void ClosePort() {
    wire::StopReceiver();
    platform::EnableControl(kIdPortEdit, true);
    platform::EnableControl(kIdPortList, true);
}

void OnPortRemoved(int number) {
    if (number == 0 || number != wire::PortNumber || !wire::SessionOpen()) return;
    char line[160];
    std::snprintf(line, sizeof line,
                  "COM%d was removed from the system (the adapter was unplugged): the session is closed; plug it in "
                  "again and press open",
                  number);
    platform::LogLine(line);
    ClosePort();
}

void OnPortLost() {
    if (wire::SessionOpen() && wire::PortLost()) ClosePort();
}

bool OpenPort() {
    char text[kTextLimit];
    platform::ReadControlText(kIdPortEdit, text, kTextLimit);
    return OpenPortNumber(PortNumberFromEdit(text));
}

int PortNumberFromEdit(const char* text) {
    while (*text == ' ' || *text == '\t') ++text;
    if ((text[0] | 0x20) == 'c' && (text[1] | 0x20) == 'o' && (text[2] | 0x20) == 'm') text += 3;
    return std::atoi(text);
}

bool OpenPortNumber(int number) {
    // A session whose port went away has ended by itself: its receiver is
    // reaped here, so that "open" works again without a restart.
    OnPortLost();
    if (wire::SessionOpen()) {
        // The running session keeps its port; the number typed now is not taken.
        Refuse("COM port already open: close it first");
        return false;
    }
    wire::PortNumber = number;
    const int opened = wire::StartReceiver();
    if (opened == wire::kSetupFailed) {
        ShowSetupFailure();
        return false;
    }
    if (opened != 0) {
        ShowOpenFailure();
        return false;
    }
    platform::EnableControl(kIdPortEdit, false);
    platform::EnableControl(kIdPortList, false);
    return true;
}

bool SendDirect(uint8_t command) {
    if (RefuseIfBusy()) return false;
    if (wire::SendEmptyRequest(command, true)) return true;
    RefuseBusy("busy: request not sent");
    return false;
}

bool SetClock() {
    if (RefuseIfBusy()) return false;
    if (ops::SetDeviceClock()) return true;
    RefuseBusy("busy: request not sent");
    return false;
}

}  // namespace shell
