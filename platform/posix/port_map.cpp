// port_map.cpp - the port numbers' device paths, set by whoever starts a session.
#include "platform/posix/port_map.h"

#include <map>
#include <mutex>

namespace platform::posix {

namespace {
std::mutex mapLock;
std::map<int, std::string> portMap;
}  // namespace

void MapPort(int number, const std::string& path) {
    std::lock_guard<std::mutex> g(mapLock);
    portMap[number] = path;
}

void ClearPortMap() {
    std::lock_guard<std::mutex> g(mapLock);
    portMap.clear();
}

bool MappedPort(int number, std::string& path) {
    std::lock_guard<std::mutex> g(mapLock);
    const auto it = portMap.find(number);
    if (it == portMap.end()) return false;
    path = it->second;
    return true;
}

}  // namespace platform::posix
