// port_info_posix.cpp - the serial ports as sysfs and /proc tell them, with
// no udev daemon: the tty's device and driver links, the USB device above it,
// and the processes that hold the tty open.
#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

#include "platform/port_info.h"
#include "platform/terminal.h"

namespace platform::terminal {

namespace {

bool Prefixed(const char* name, const char* prefix) { return std::strncmp(name, prefix, std::strlen(prefix)) == 0; }

// A ttyS device node exists for every possible 8250 port; only those whose
// UART the kernel found (type not 0) are ports.
bool UartPresent(const char* name) {
    char path[128];
    std::snprintf(path, sizeof path, "/sys/class/tty/%.64s/type", name);
    std::FILE* f = std::fopen(path, "r");
    if (f == nullptr) return true;  // no sysfs entry to ask: list it
    int type = 0;
    const bool read = std::fscanf(f, "%d", &type) == 1;
    std::fclose(f);
    return !read || type != 0;
}

// ttyS2 before ttyS10: the name's prefix, then its number.
bool Before(const char* a, const char* b) {
    const size_t pa = std::strcspn(a, "0123456789");
    const size_t pb = std::strcspn(b, "0123456789");
    const int byPrefix = std::strncmp(a, b, pa < pb ? pa : pb);
    if (pa != pb || byPrefix != 0) return byPrefix != 0 ? byPrefix < 0 : pa < pb;
    return std::atol(a + pa) < std::atol(b + pb);
}

}  // namespace

// Listed here, beside what the system knows of each port, so that the window
// and the command line find the same ports.
int ListPorts(char (*names)[kPortNameSize], int cap) {
    DIR* dev = opendir("/dev");
    if (dev == nullptr) return 0;
    int n = 0;
    while (const dirent* e = readdir(dev)) {
        const bool serial = Prefixed(e->d_name, "ttyUSB") || Prefixed(e->d_name, "ttyACM") ||
                            (Prefixed(e->d_name, "ttyS") && UartPresent(e->d_name));
        if (!serial || n >= cap) continue;
        std::snprintf(names[n++], kPortNameSize, "/dev/%.*s", kPortNameSize - 6, e->d_name);
    }
    closedir(dev);
    SortPortNames(names, n, Before);
    return n;
}

}  // namespace platform::terminal

namespace platform::ports {

namespace {

bool ReadSysfs(const std::string& path, std::string& text) {
    std::ifstream in(path);
    if (!in) return false;
    std::getline(in, text);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) text.pop_back();
    return true;
}

std::string Resolved(const std::string& path) {
    char real[PATH_MAX];
    return realpath(path.c_str(), real) != nullptr ? std::string(real) : std::string();
}

std::string BaseName(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// A process's own name, from /proc/PID/comm.
std::string ProcessName(const char* pid) {
    std::string name;
    ReadSysfs(std::string("/proc/") + pid + "/comm", name);
    return name;
}

// The first other process with the device open, as "name (pid N)". Only
// processes this user may look into are seen.
std::string Holder(const std::string& device) {
    const std::string me = std::to_string(getpid());
    DIR* proc = opendir("/proc");
    if (proc == nullptr) return "";
    std::string found;
    while (const dirent* e = readdir(proc)) {
        if (!std::isdigit(static_cast<unsigned char>(e->d_name[0])) || me == e->d_name) continue;
        const std::string fdDir = std::string("/proc/") + e->d_name + "/fd";
        DIR* fds = opendir(fdDir.c_str());
        if (fds == nullptr) continue;
        while (const dirent* f = readdir(fds)) {
            char target[PATH_MAX];
            const ssize_t n = readlink((fdDir + "/" + f->d_name).c_str(), target, sizeof target - 1);
            if (n <= 0) continue;
            target[n] = '\0';
            if (device == target) {
                found = ProcessName(e->d_name) + " (pid " + e->d_name + ")";
                break;
            }
        }
        closedir(fds);
        if (!found.empty()) break;
    }
    closedir(proc);
    return found;
}

// Another tq73 holds the port's lock (see ClaimPort); probed without taking it.
bool HeldByTq73(const std::string& device) {
    const int fd = open(device.c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return false;
    const bool held = flock(fd, LOCK_EX | LOCK_NB) != 0;
    close(fd);  // releases the lock if we took it
    return held;
}

}  // namespace

std::vector<PortInfo> GatherPorts() {
    static char names[64][terminal::kPortNameSize];
    const int n = terminal::ListPorts(names, 64);
    std::vector<PortInfo> ports;
    for (int i = 0; i < n; ++i) {
        const std::string dev = names[i];
        const std::string sys = "/sys/class/tty/" + BaseName(dev) + "/device";
        PortInfo p = DescribeSysfsTty(dev, Resolved(sys), BaseName(Resolved(sys + "/driver")), ReadSysfs);
        std::string timer;
        if (ReadSysfs("/sys/bus/usb-serial/devices/" + BaseName(dev) + "/latency_timer", timer)) {
            p.latencyTimerMs = std::atoi(timer.c_str());
        }
        const std::string device = Resolved(dev).empty() ? dev : Resolved(dev);
        p.holder = Holder(device);
        if (p.holder.empty() && HeldByTq73(device)) p.holder = "another tq73";
        p.inUse = p.holder.empty() ? InUse::No : InUse::Yes;
        ports.push_back(p);
    }
    return ports;
}

}  // namespace platform::ports
