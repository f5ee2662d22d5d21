// capture_file.cpp - the pcapng writer of --capture, and its reader for
// tq73 decode.
//
// The capture is kept in memory and written once the port has closed, the
// way a flash read writes its file: beside the target first, then in its
// place, so that a failed run never leaves half a file where one was named.
// A whole update is a few hundred kilobytes.
#include "cli/capture_file.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <vector>

#include "cli/decode_view.h"
#include "link/line_tap.h"
#include "operations/flash_transfer.h"
#include "platform/platform.h"
#include "platform/terminal.h"
#include "shell/frame_decoder.h"

namespace cli {

namespace {

constexpr uint32_t kSectionHeader = 0x0A0D0D0A;
constexpr uint32_t kInterfaceDescription = 1;
constexpr uint32_t kEnhancedPacket = 6;
constexpr uint32_t kByteOrderMagic = 0x1A2B3C4D;
constexpr uint16_t kOptionEnd = 0;
constexpr uint16_t kOptionName = 2;     // if_name
constexpr uint16_t kOptionFlags = 2;    // epb_flags
constexpr uint16_t kOptionUserApp = 4;  // shb_userappl
constexpr uint32_t kFlagInbound = 1;    // epb_flags bits 0-1: the direction
constexpr uint32_t kFlagOutbound = 2;
constexpr uint8_t kWakeByte = 0x5C;
constexpr size_t kCaptureCap = size_t(256) << 20;  // far beyond any run; the rest is not kept

void Put16(std::string& s, uint16_t v) { s.append(reinterpret_cast<const char*>(&v), 2); }
void Put32(std::string& s, uint32_t v) { s.append(reinterpret_cast<const char*>(&v), 4); }
void Pad4(std::string& s) {
    while (s.size() % 4 != 0) s.push_back('\0');
}

void Option(std::string& body, uint16_t code, const void* value, uint16_t length) {
    Put16(body, code);
    Put16(body, length);
    body.append(static_cast<const char*>(value), length);
    Pad4(body);
}

// type, total length, body, total length again.
void Block(std::string& file, uint32_t type, std::string body) {
    Pad4(body);
    const uint32_t total = static_cast<uint32_t>(body.size() + 12);
    Put32(file, type);
    Put32(file, total);
    file += body;
    Put32(file, total);
}

uint32_t Get32(const std::string& s, size_t at) {
    uint32_t v;
    std::memcpy(&v, s.data() + at, 4);
    return v;
}

// The capture being recorded, guarded by its own lock (the worker writes,
// the receiver reads, each on its thread).
struct Recording {
    std::string file;
    char path[platform::kPathBytes] = "";
    bool on = false;
    bool full = false;
};
Recording recording;

platform::LockHandle CaptureLock() {
    static const platform::LockHandle lock = platform::NewLock();
    return lock;
}

uint64_t NowMicroseconds() {
    using namespace std::chrono;
    return static_cast<uint64_t>(duration_cast<microseconds>(system_clock::now().time_since_epoch()).count());
}

void Tap(wire::TapDirection direction, bool bootMode, const uint8_t* bytes, int count) {
    const uint64_t now = NowMicroseconds();
    platform::Lock(CaptureLock());
    if (recording.on && recording.file.size() + size_t(count) + 64 <= kCaptureCap) {
        AppendPacket(recording.file, now,
                     direction == wire::TapDirection::ToDevice ? kCaptureToDevice : kCaptureFromDevice,
                     bootMode ? kCaptureBoot : kCaptureApplication, bytes, count);
    } else if (recording.on) {
        recording.full = true;
    }
    platform::Unlock(CaptureLock());
}

const char* TargetFaultText(ops::TargetFault fault, const char* path) {
    switch (fault) {
        case ops::TargetFault::NotAFile:
            return platform::NamesWindowsDevice(path) ? "is a device's name, not a file"
                                                      : platform::NotAFileText(platform::FileKindAt(path, false));
        case ops::TargetFault::ReadOnly: return "is read-only";
        case ops::TargetFault::Held: return "cannot be opened for writing";
        case ops::TargetFault::PartialNotAFile: return "cannot be written: the name with .partial is not a file";
        case ops::TargetFault::PartialName: return "is a name longer than the file system takes (with .partial)";
        default: return "is in a folder that takes no new file";
    }
}

}  // namespace

std::string CaptureHead() {
    std::string file, shb, idb;
    Put32(shb, kByteOrderMagic);
    Put16(shb, 1);  // version 1.0
    Put16(shb, 0);
    Put32(shb, 0xFFFFFFFF);  // section length: not given
    Put32(shb, 0xFFFFFFFF);
    const char app[] = "tq73";
    Option(shb, kOptionUserApp, app, sizeof app - 1);
    Option(shb, kOptionEnd, "", 0);
    Block(file, kSectionHeader, shb);
    Put16(idb, kCaptureLinkType);
    Put16(idb, 0);
    Put32(idb, 0);  // no snapshot length limit
    const char name[] = "TQ7300 serial line";
    Option(idb, kOptionName, name, sizeof name - 1);
    Option(idb, kOptionEnd, "", 0);
    Block(file, kInterfaceDescription, idb);
    return file;
}

void AppendPacket(std::string& file, uint64_t us, uint8_t direction, uint8_t mode, const uint8_t* bytes, int count) {
    std::string epb;
    const uint32_t length = static_cast<uint32_t>(count) + 2;
    Put32(epb, 0);  // interface 0
    Put32(epb, static_cast<uint32_t>(us >> 32));
    Put32(epb, static_cast<uint32_t>(us));
    Put32(epb, length);
    Put32(epb, length);
    epb.push_back(static_cast<char>(direction));
    epb.push_back(static_cast<char>(mode));
    epb.append(reinterpret_cast<const char*>(bytes), static_cast<size_t>(count));
    Pad4(epb);
    const uint32_t flags = direction == kCaptureToDevice ? kFlagOutbound : kFlagInbound;
    Option(epb, kOptionFlags, &flags, 4);
    Option(epb, kOptionEnd, "", 0);
    Block(file, kEnhancedPacket, epb);
}

bool BeginCapture(const char* name, char* why, size_t cap) {
    char path[platform::kPathBytes];
    if (!platform::terminal::Utf8ToPath(name, path, sizeof path)) {
        std::snprintf(why, cap, "--capture: the file name %s cannot be carried", name);
        return false;
    }
    const ops::TargetFault fault = ops::CheckReadTarget(path);
    if (fault != ops::TargetFault::None) {
        std::snprintf(why, cap, "--capture: %s %s: nothing was sent; choose another name", name,
                      TargetFaultText(fault, path));
        return false;
    }
    platform::Lock(CaptureLock());
    recording.file = CaptureHead();
    std::snprintf(recording.path, sizeof recording.path, "%s", path);
    recording.on = true;
    recording.full = false;
    platform::Unlock(CaptureLock());
    wire::SetLineTap(Tap);
    return true;
}

bool EndCapture(char* why, size_t cap) {
    wire::SetLineTap(nullptr);
    platform::Lock(CaptureLock());
    const bool was = recording.on;
    recording.on = false;
    const std::string file = std::move(recording.file);
    const bool full = recording.full;
    platform::Unlock(CaptureLock());
    if (!was) return true;
    char partial[platform::kPathBytes + 16];
    std::snprintf(partial, sizeof partial, "%s.partial", recording.path);
    if (!platform::FileWriteNew(partial, file.data(), static_cast<int>(file.size()))) {
        platform::FileRemove(partial);
        std::snprintf(why, cap, "the capture could not be written to %s (%s)", partial,
                      platform::FileFaultText(platform::LastFileFault()));
        return false;
    }
    if (!platform::FileReplace(partial, recording.path)) {
        std::snprintf(why, cap, "the capture could not take the place of %s; it is in %s", recording.path, partial);
        return false;
    }
    if (full) {
        std::snprintf(why, cap, "the capture grew beyond 256 MiB: %s holds only its start", recording.path);
        return false;
    }
    return true;
}

void DropCapture() {
    wire::SetLineTap(nullptr);
    platform::Lock(CaptureLock());
    recording.on = false;
    recording.file.clear();
    platform::Unlock(CaptureLock());
}

// ---- reading one back -------------------------------------------------------

bool IsCaptureFile(const std::string& file) { return file.size() >= 12 && Get32(file, 0) == kSectionHeader; }

bool DecodeCapture(const std::string& file, bool json, char* why, size_t cap) {
    if (Get32(file, 8) != kByteOrderMagic) {
        std::snprintf(why, cap, "a pcapng file in the other byte order, not one of tq73's");
        return false;
    }
    shell::FrameDecoder frames;
    shell::BootDecoder boot;
    long long firstMs = -1;
    for (size_t at = 0; at + 12 <= file.size();) {
        const uint32_t type = Get32(file, at), total = Get32(file, at + 4);
        if (total < 12 || total % 4 != 0 || at + total > file.size()) {
            std::snprintf(why, cap, "a block at offset %zu is cut or damaged", at);
            return false;
        }
        if (type == kInterfaceDescription && (Get32(file, at + 8) & 0xFFFF) != kCaptureLinkType) {
            std::snprintf(why, cap, "its link type is %u, not tq73's %u", unsigned(Get32(file, at + 8) & 0xFFFF),
                          unsigned(kCaptureLinkType));
            return false;
        }
        const uint32_t length = type == kEnhancedPacket && total >= 32 ? Get32(file, at + 20) : 0;
        if (length >= 2 && 28 + length <= total) {
            const auto* p = reinterpret_cast<const uint8_t*>(file.data() + at + 28);
            const uint64_t us = uint64_t(Get32(file, at + 12)) << 32 | Get32(file, at + 16);
            const long long ms = static_cast<long long>(us / 1000);
            if (firstMs < 0) firstMs = ms;
            const bool toDevice = p[0] == kCaptureToDevice;
            const int n = static_cast<int>(length - 2);
            char line[160];
            std::snprintf(line, sizeof line, "%9.3f %s %s%d bytes", (ms - firstMs) / 1000.0, toDevice ? "->" : "<-",
                          p[1] == kCaptureBoot ? "boot " : "", n);
            if (p[1] != kCaptureBoot && toDevice && n == 1 && p[2] == kWakeByte) {
                PrintDecoded(line, frames.WakeByte(ms), json, "packet");
            } else if (p[1] != kCaptureBoot) {
                PrintDecoded(line, frames.Frame(toDevice ? 'T' : 'R', p + 2, n, n, ms), json, "packet");
            } else if (!toDevice) {
                PrintDecoded(line, boot.Reply(p[2], ms), json, "packet");
            } else {
                std::vector<shell::Decoding> steps;
                boot.Host(p + 2, n, ms, steps);
                for (const shell::Decoding& d : steps) PrintDecoded(line, d, json, "packet");
            }
        }
        at += total;
    }
    return true;
}

}  // namespace cli
