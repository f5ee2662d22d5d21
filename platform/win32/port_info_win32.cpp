// port_info_win32.cpp - the serial ports as SetupAPI tells them: every
// present device of the Ports class, its friendly name, hardware id,
// instance id (and its USB parent's), manufacturer, driver service and the
// PortName value of its device key. A port the registry lists but SetupAPI
// does not know (a mapped or virtual one) keeps its bare name.
#include <windows.h>
// After windows.h:
#include <cfgmgr32.h>
#include <devguid.h>
#include <setupapi.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/port_info.h"
#include "platform/terminal.h"

namespace platform::terminal {

namespace {

// The number of "COM3", "com3", "\\.\COM12" or "3"; 0 when it is none.
int PortNumberOf(const char* arg) { return ports::ComPortNumber(arg); }

void AddPort(char (*names)[kPortNameSize], int cap, int& n, int number) {
    for (int i = 0; i < n; ++i) {
        if (PortNumberOf(names[i]) == number) return;
    }
    if (n < cap) std::snprintf(names[n++], kPortNameSize, "COM%d", number);
}

// Every DOS device name COMn.
void PortsFromDosDevices(char (*names)[kPortNameSize], int cap, int& n) {
    static char devices[1 << 18];
    const DWORD got = QueryDosDeviceA(nullptr, devices, sizeof devices);
    if (got == 0) return;
    for (const char* p = devices; p < devices + got && *p != '\0'; p += std::strlen(p) + 1) {
        const int number = std::strncmp(p, "COM", 3) == 0 ? PortNumberOf(p) : 0;
        if (number != 0) AddPort(names, cap, n, number);
    }
}

// The ports that serial drivers register.
void PortsFromSerialComm(char (*names)[kPortNameSize], int cap, int& n) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ, &key) != ERROR_SUCCESS)
        return;
    for (DWORD i = 0;; ++i) {
        char name[256];
        char value[64];
        DWORD nameSize = sizeof name;
        DWORD valueSize = sizeof value - 1;
        DWORD type = 0;
        if (RegEnumValueA(key, i, name, &nameSize, nullptr, &type, reinterpret_cast<BYTE*>(value), &valueSize) !=
            ERROR_SUCCESS) {
            break;
        }
        value[valueSize] = '\0';
        const int number = type == REG_SZ ? PortNumberOf(value) : 0;
        if (number != 0) AddPort(names, cap, n, number);
    }
    RegCloseKey(key);
}

}  // namespace

// Listed here, beside what the system knows of each port, so that the window
// and the command line find the same ports.
int ListPorts(char (*names)[kPortNameSize], int cap) {
    int n = 0;
    PortsFromDosDevices(names, cap, n);
    PortsFromSerialComm(names, cap, n);
    SortPortNames(names, n, [](const char* a, const char* b) { return PortNumberOf(a) < PortNumberOf(b); });
    return n;
}

}  // namespace platform::terminal

namespace platform::ports {

namespace {

std::string Utf8(const wchar_t* wide) {
    const int n = WideCharToMultiByte(CP_UTF8, 0, wide, -1, nullptr, 0, nullptr, nullptr);
    if (n <= 1) return "";
    std::string out(static_cast<size_t>(n - 1), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide, -1, &out[0], n, nullptr, nullptr);
    return out;
}

// A string property (the first string of a multi-string one).
std::string Property(HDEVINFO set, SP_DEVINFO_DATA& device, DWORD property) {
    wchar_t buffer[512] = L"";
    if (!SetupDiGetDeviceRegistryPropertyW(set, &device, property, nullptr, reinterpret_cast<BYTE*>(buffer),
                                           sizeof buffer - sizeof(wchar_t), nullptr)) {
        return "";
    }
    buffer[511] = L'\0';
    return Utf8(buffer);
}

// FTDI's driver keeps the adapter's latency timer (ms) beside PortName.
int LatencyTimerValue(HDEVINFO set, SP_DEVINFO_DATA& device) {
    HKEY key = SetupDiOpenDevRegKey(set, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
    if (key == INVALID_HANDLE_VALUE) return -1;
    DWORD value = 0;
    DWORD size = sizeof value;
    DWORD type = 0;
    const bool read = RegQueryValueExW(key, L"LatencyTimer", nullptr, &type, reinterpret_cast<BYTE*>(&value), &size) ==
                          ERROR_SUCCESS &&
                      type == REG_DWORD;
    RegCloseKey(key);
    return read ? static_cast<int>(value) : -1;
}

std::string PortNameValue(HDEVINFO set, SP_DEVINFO_DATA& device) {
    HKEY key = SetupDiOpenDevRegKey(set, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
    if (key == INVALID_HANDLE_VALUE) return "";
    wchar_t name[64] = L"";
    DWORD size = sizeof name - sizeof(wchar_t);
    DWORD type = 0;
    const bool read =
        RegQueryValueExW(key, L"PortName", nullptr, &type, reinterpret_cast<BYTE*>(name), &size) == ERROR_SUCCESS &&
        type == REG_SZ;
    RegCloseKey(key);
    name[63] = L'\0';
    return read ? Utf8(name) : "";
}

std::string InstanceId(DEVINST instance) {
    wchar_t id[MAX_DEVICE_ID_LEN + 1] = L"";
    if (CM_Get_Device_IDW(instance, id, MAX_DEVICE_ID_LEN, 0) != CR_SUCCESS) return "";
    return Utf8(id);
}

std::string ParentId(DEVINST instance) {
    DEVINST parent = 0;
    return CM_Get_Parent(&parent, instance, 0) == CR_SUCCESS ? InstanceId(parent) : "";
}

std::vector<PortInfo> FromSetupApi() {
    std::vector<PortInfo> ports;
    HDEVINFO set = SetupDiGetClassDevsW(&GUID_DEVCLASS_PORTS, nullptr, nullptr, DIGCF_PRESENT);
    if (set == INVALID_HANDLE_VALUE) return ports;
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof device;
    for (DWORD i = 0; SetupDiEnumDeviceInfo(set, i, &device); ++i) {
        SetupApiAnswers a;
        a.friendlyName = Property(set, device, SPDRP_FRIENDLYNAME);
        a.hardwareId = Property(set, device, SPDRP_HARDWAREID);
        a.manufacturer = Property(set, device, SPDRP_MFG);
        a.service = Property(set, device, SPDRP_SERVICE);
        a.instanceId = InstanceId(device.DevInst);
        a.parentId = ParentId(device.DevInst);
        a.portName = PortNameValue(set, device);
        PortInfo p;
        if (!DescribeSetupApiPort(a, p)) continue;
        p.latencyTimerMs = LatencyTimerValue(set, device);
        ports.push_back(p);
    }
    SetupDiDestroyDeviceInfoList(set);
    return ports;
}

}  // namespace

std::vector<PortInfo> GatherPorts() {
    static char names[64][terminal::kPortNameSize];
    const int n = terminal::ListPorts(names, 64);
    const std::vector<PortInfo> known = FromSetupApi();
    std::vector<PortInfo> ports;
    for (int i = 0; i < n; ++i) {
        PortInfo p;
        p.name = names[i];
        for (const PortInfo& k : known) {
            if (CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, k.name.c_str(), -1, names[i], -1) == CSTR_EQUAL) {
                p = k;
                p.name = names[i];
            }
        }
        // Whether another program holds it is not asked: only an open could
        // tell, and opening a port raises its DTR and RTS, which resets many
        // a unit on a port nobody named. The open of the port named says it.
        ports.push_back(p);
    }
    return ports;
}

}  // namespace platform::ports
