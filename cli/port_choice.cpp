// port_choice.cpp - the ports with their names, and choosing one by them.
#include "cli/port_choice.h"

#include <cctype>
#include <cstdio>
#include <cstring>

#include "cli/output.h"

namespace cli {

namespace {

using platform::ports::InUse;
using platform::ports::PortInfo;

const char* InUseWord(InUse u) {
    switch (u) {
        case InUse::Yes: return "yes";
        case InUse::No: return "no";
        case InUse::Unknown:
        default: return "unknown";
    }
}

std::string Hex4(uint16_t v) {
    char text[8];
    std::snprintf(text, sizeof text, "%04x", v);
    return text;
}

// One port: its summary as the line, every fact apart in the JSON event.
void PrintPort(const PortInfo& p) {
    std::string text = platform::ports::PortSummary(p);
    if (!p.driver.empty()) text += ", driver " + p.driver;
    const std::string vid = p.usb ? Hex4(p.vid) : "";
    const std::string pid = p.usb ? Hex4(p.pid) : "";
    const char* const fields[][2] = {
        {"name", p.name.c_str()},     {"friendly_name", p.friendly.c_str()}, {"vid", vid.c_str()},
        {"pid", pid.c_str()},         {"serial", p.serial.c_str()},          {"manufacturer", p.manufacturer.c_str()},
        {"driver", p.driver.c_str()}, {"in_use", InUseWord(p.inUse)},        {"held_by", p.holder.c_str()},
    };
    out::LineWithFields("port", text.c_str(), fields, static_cast<int>(sizeof fields / sizeof fields[0]));
}

bool StartsWithCom(const char* arg) {
    return std::strlen(arg) > 3 && std::toupper(static_cast<unsigned char>(arg[0])) == 'C' &&
           std::toupper(static_cast<unsigned char>(arg[1])) == 'O' &&
           std::toupper(static_cast<unsigned char>(arg[2])) == 'M' && std::isdigit(static_cast<unsigned char>(arg[3]));
}

}  // namespace

int PrintPorts(const std::vector<PortInfo>& ports) {
    for (const PortInfo& p : ports) PrintPort(p);
    return static_cast<int>(ports.size());
}

bool ChoosePortArgument(const char* arg, std::string& port, char* why, size_t whyCap) {
    const bool needsList = std::strcmp(arg, "auto") == 0 || (std::strchr(arg, '/') == nullptr &&
                                                             std::strchr(arg, '\\') == nullptr && !StartsWithCom(arg));
    return ResolvePort(arg, needsList ? platform::ports::GatherPorts() : std::vector<PortInfo>{}, port, why, whyCap);
}

bool ResolvePort(const char* arg, const std::vector<PortInfo>& ports, std::string& port, char* why, size_t whyCap) {
    using platform::ports::Choice;
    std::string chosen;
    const Choice choice = platform::ports::ChoosePort(arg, ports, chosen);
    const std::string list = platform::ports::PortsSummary(ports);
    switch (choice) {
        case Choice::AsGiven: port = arg; return true;
        case Choice::Chosen: port = chosen; return true;
        case Choice::NoneFound:
            std::snprintf(why, whyCap, "--port auto: no USB serial adapter is present; the ports are: %s",
                          list.c_str());
            return false;
        case Choice::Several:
        default:
            std::snprintf(why, whyCap, "--port %s: %s; name one with --port: %s", arg,
                          std::strcmp(arg, "auto") == 0 ? "more than one USB serial adapter is present"
                                                        : "more than one adapter has this serial number",
                          list.c_str());
            return false;
    }
}

}  // namespace cli
