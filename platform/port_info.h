// port_info.h - what the system knows of each serial port: its friendly name,
// the USB adapter behind it (vendor and product id, serial number,
// manufacturer), its driver and whether another program holds it.
//
// The systems' answers are read by a gatherer of each OS (sysfs on Linux,
// SetupAPI on Windows) and made into PortInfo here, by portable functions,
// so that the parsing is tested over recorded answers. Texts are UTF-8.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace platform::ports {

enum class InUse : uint8_t { Unknown, No, Yes };

struct PortInfo {
    std::string name;      // what --port takes: /dev/ttyUSB0, COM7
    std::string friendly;  // "USB Serial Port", "Communications Port"
    bool usb = false;      // an adapter on USB: vid and pid are known
    uint16_t vid = 0;
    uint16_t pid = 0;
    std::string serial;        // the adapter's USB serial number, if it has one
    std::string manufacturer;  // "FTDI"
    std::string driver;        // ftdi_sio, cdc_acm; FTDIBUS, usbser
    InUse inUse = InUse::Unknown;
    std::string holder;  // who holds it, where that can be told ("minicom (pid 4242)")
    // The adapter driver's latency timer in ms, where it keeps one (FTDI's
    // LatencyTimer value; Linux: the tty's latency_timer in sysfs); -1: not known.
    int latencyTimerMs = -1;
};

// ---- Linux: sysfs ---------------------------------------------------------------
// Reads one sysfs attribute (its text without the trailing newline); false
// when there is none.
using ReadAttribute = std::function<bool(const std::string& path, std::string& text)>;
// A tty whose device is at devicePath (the resolved /sys/class/tty/T/device),
// bound to driver (the name of its driver link, or empty): the USB device is
// the nearest folder above it that has an idVendor.
PortInfo DescribeSysfsTty(const std::string& devName, const std::string& devicePath, const std::string& driver,
                          const ReadAttribute& read);

// ---- Windows: SetupAPI ------------------------------------------------------------
// What SetupAPI and the device's registry key answer for one device of the
// Ports class, as UTF-8.
struct SetupApiAnswers {
    std::string friendlyName;  // SPDRP_FRIENDLYNAME: "USB Serial Port (COM7)"
    std::string hardwareId;    // SPDRP_HARDWAREID, its first string: "FTDIBUS\COMPORT&VID_0403&PID_6001"
    std::string instanceId;    // the device instance id: "FTDIBUS\VID_0403+PID_6001+A12B3CA\0000"
    std::string parentId;      // the parent's instance id: "USB\VID_0403&PID_6001\A12B3C" (or empty)
    std::string portName;      // the PortName value: "COM7"; empty for a port that is not COM
    std::string manufacturer;  // SPDRP_MFG
    std::string service;       // SPDRP_SERVICE: the driver
};
// False for a device with no COM port name (a printer port of the class).
bool DescribeSetupApiPort(const SetupApiAnswers& answers, PortInfo& out);

// The number of "COM3", "com3", "\\.\COM12" or "3" (1 to 255); 0 when it is none.
int ComPortNumber(const char* text);

// ---- choosing by what the system knows ----------------------------------------------
enum class Choice : uint8_t { AsGiven, Chosen, NoneFound, Several };
// "auto": the one USB serial adapter present; a USB serial number: the port
// of that adapter (one only); anything else is taken as given.
Choice ChoosePort(const std::string& arg, const std::vector<PortInfo>& ports, std::string& chosen);

// "COM7 (USB Serial Port, FTDI 0403:6001, serial A12B3C)".
std::string PortSummary(const PortInfo& port);
// The summaries joined with ", "; "none" when there are none.
std::string PortsSummary(const std::vector<PortInfo>& ports);

// The serial ports of this system, sorted as ListPorts sorts them (the OS's gatherer).
std::vector<PortInfo> GatherPorts();

}  // namespace platform::ports
