// port_info.cpp - the systems' answers about serial ports made into PortInfo.
#include "platform/port_info.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace platform::ports {

namespace {

bool ParseHex16(const std::string& text, uint16_t& out) {
    if (text.empty() || text.size() > 4) return false;
    for (char c : text) {
        if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
    }
    out = static_cast<uint16_t>(std::strtoul(text.c_str(), nullptr, 16));
    return true;
}

std::string Upper(std::string s) {
    for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

// The four hex digits after "VID_" (or "PID_") anywhere in a hardware or
// instance id, whatever separates the fields (& for USB, + for FTDIBUS).
bool IdField(const std::string& id, const char* key, uint16_t& out) {
    const size_t at = Upper(id).find(key);
    return at != std::string::npos && ParseHex16(id.substr(at + 4, 4), out);
}

// The parent of a sysfs path, or empty at the top of /sys/devices.
std::string Parent(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    if (slash == std::string::npos || slash == 0) return "";
    const std::string parent = path.substr(0, slash);
    return parent == "/sys/devices" || parent == "/sys" ? "" : parent;
}

// The last part of "USB\VID_0403&PID_6001\A12B3C": a USB device's serial
// number. Windows makes up one with '&' in it for a device without one.
std::string SerialOfUsbInstance(const std::string& id) {
    if (Upper(id).rfind("USB\\VID_", 0) != 0) return "";
    const size_t slash = id.find_last_of('\\');
    if (slash == std::string::npos || slash < 8) return "";
    const std::string tail = id.substr(slash + 1);
    return tail.find('&') == std::string::npos ? tail : "";
}

// "FTDIBUS\VID_0403+PID_6001+A12B3CA\0000": the third field, whose last
// letter names the chip's channel (A, B, ...) after the USB serial number.
std::string SerialOfFtdiInstance(const std::string& id) {
    if (Upper(id).rfind("FTDIBUS\\", 0) != 0) return "";
    const size_t first = id.find('+');
    const size_t second = first == std::string::npos ? first : id.find('+', first + 1);
    if (second == std::string::npos) return "";
    const size_t end = id.find('\\', second);
    const std::string field = id.substr(second + 1, end == std::string::npos ? end : end - second - 1);
    return field.size() > 1 ? field.substr(0, field.size() - 1) : "";
}

// "USB Serial Port (COM7)" less its " (COM7)": the name says the port itself.
std::string WithoutPortName(const std::string& friendly, const std::string& port) {
    const std::string suffix = " (" + port + ")";
    if (friendly.size() > suffix.size() &&
        friendly.compare(friendly.size() - suffix.size(), suffix.size(), suffix) == 0) {
        return friendly.substr(0, friendly.size() - suffix.size());
    }
    return friendly;
}

bool Digits(const char* p) {
    if (*p == '\0') return false;
    for (; *p != '\0'; ++p) {
        if (*p < '0' || *p > '9') return false;
    }
    return true;
}

}  // namespace

int ComPortNumber(const char* arg) {
    if (std::strncmp(arg, "\\\\.\\", 4) == 0) arg += 4;
    if ((arg[0] | 0x20) == 'c' && (arg[1] | 0x20) == 'o' && (arg[2] | 0x20) == 'm') arg += 3;
    if (!Digits(arg) || std::strlen(arg) > 3) return 0;
    const int n = std::atoi(arg);
    return n >= 1 && n <= 255 ? n : 0;
}

PortInfo DescribeSysfsTty(const std::string& devName, const std::string& devicePath, const std::string& driver,
                          const ReadAttribute& read) {
    PortInfo port;
    port.name = devName;
    port.driver = driver;
    for (std::string dir = devicePath; !dir.empty(); dir = Parent(dir)) {
        std::string vid, pid;
        if (!read(dir + "/idVendor", vid) || !read(dir + "/idProduct", pid)) continue;
        port.usb = ParseHex16(vid, port.vid) && ParseHex16(pid, port.pid);
        if (!port.usb) break;
        read(dir + "/serial", port.serial);
        read(dir + "/manufacturer", port.manufacturer);
        read(dir + "/product", port.friendly);
        break;
    }
    if (port.friendly.empty() && !port.usb && devName.find("ttyS") != std::string::npos) {
        port.friendly = "Communications Port";
    }
    return port;
}

bool DescribeSetupApiPort(const SetupApiAnswers& a, PortInfo& out) {
    if (Upper(a.portName).rfind("COM", 0) != 0) return false;
    out = PortInfo{};
    out.name = a.portName;
    out.friendly = WithoutPortName(a.friendlyName, a.portName);
    out.manufacturer = a.manufacturer;
    out.driver = a.service;
    const std::string& ids = !a.hardwareId.empty() ? a.hardwareId : a.instanceId;
    out.usb = IdField(ids, "VID_", out.vid) && IdField(ids, "PID_", out.pid);
    if (!out.usb) out.usb = IdField(a.instanceId, "VID_", out.vid) && IdField(a.instanceId, "PID_", out.pid);
    if (!out.usb) out.vid = out.pid = 0;
    out.serial = SerialOfUsbInstance(a.instanceId);
    if (out.serial.empty()) out.serial = SerialOfUsbInstance(a.parentId);
    if (out.serial.empty()) out.serial = SerialOfFtdiInstance(a.instanceId);
    return true;
}

Choice ChoosePort(const std::string& arg, const std::vector<PortInfo>& ports, std::string& chosen) {
    const bool automatic = arg == "auto";
    int found = 0;
    for (const PortInfo& p : ports) {
        if (p.name == arg) return Choice::AsGiven;  // a port's own name wins
        const bool fits = automatic ? p.usb : (!p.serial.empty() && p.serial == arg);
        if (!fits) continue;
        if (++found == 1) chosen = p.name;
    }
    if (found == 1) return Choice::Chosen;
    if (found > 1) return Choice::Several;
    return automatic ? Choice::NoneFound : Choice::AsGiven;
}

std::string PortSummary(const PortInfo& p) {
    std::string facts = p.friendly;
    auto add = [&facts](const std::string& fact) {
        if (fact.empty()) return;
        if (!facts.empty()) facts += ", ";
        facts += fact;
    };
    if (p.usb) {
        char ids[16];
        std::snprintf(ids, sizeof ids, "%04x:%04x", p.vid, p.pid);
        add(p.manufacturer.empty() ? std::string(ids) : p.manufacturer + " " + ids);
    }
    if (!p.serial.empty()) add("serial " + p.serial);
    if (p.inUse == InUse::Yes) add(p.holder.empty() ? "in use" : "in use by " + p.holder);
    return facts.empty() ? p.name : p.name + " (" + facts + ")";
}

std::string PortsSummary(const std::vector<PortInfo>& ports) {
    if (ports.empty()) return "none";
    std::string all;
    for (const PortInfo& p : ports) all += (all.empty() ? "" : ", ") + PortSummary(p);
    return all;
}

}  // namespace platform::ports
