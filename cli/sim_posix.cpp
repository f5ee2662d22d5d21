// sim_posix.cpp - --sim on Linux: the simulated TQ7300 runs inside tq73 on a
// pseudo-terminal of its own, and port 1 of the posix platform is its slave.
//
// In the process rather than as a tq7300-sim child: nothing to find on disk,
// nothing left running when tq73 is killed, and one simulator per tq73, so
// several of them run side by side without sharing a link.
#include <cstdio>
#include <memory>
#include <string>

#include "cli/simulator.h"
#include "platform/posix/port_map.h"
#include "pty_device.h"

namespace cli::simulator {

namespace {
std::unique_ptr<sim::PtyDevice> device;
// As tq7300-sim starts: flash 00 (so that erased and written bytes stand
// out), the model that the sample firmware names.
constexpr uint8_t kFlashFill = 0x00;
}  // namespace

bool SimulatorAvailable() { return true; }

bool StartSimulator(bool bootMode, char* where, size_t whereCap, char* why, size_t whyCap) {
    device = std::make_unique<sim::PtyDevice>();
    device->Configure([bootMode](sim::DeviceModel& m) {
        m.FillFlash(kFlashFill);
        m.SetModel(sim::kModelP);
        if (bootMode) m.EnterBootMode();
    });
    std::string error;
    if (!device->Start(&error)) {
        std::snprintf(why, whyCap, "the simulated TQ7300 did not start: %s", error.c_str());
        device.reset();
        return false;
    }
    platform::posix::MapPort(1, device->SlavePath());
    std::snprintf(where, whereCap, "%s", device->SlavePath().c_str());
    return true;
}

void StopSimulator() {
    if (device) device->Stop();
    device.reset();
}

}  // namespace cli::simulator
