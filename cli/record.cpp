// record.cpp - the service record's fields and its one append.
#include "cli/record.h"

#include <cstdio>
#include <cstring>

#include "cli/output.h"
#include "firmware/image_loader.h"
#include "operations/result.h"
#include "platform/platform.h"
#include "platform/terminal.h"

namespace cli::record {

namespace {

bool Refuse(char* why, size_t cap, const char* format, const char* detail) {
    std::snprintf(why, cap, format, detail);
    return false;
}

bool FirmwareCommand(const Request& r) {
    return r.command == Command::Update || r.command == Command::Recover || r.firmwareVerify;
}

// The firmware file as given, and what names its bytes.
void AddFirmware(JsonLine& line, const Facts& f) {
    JsonString(line, "firmware", f.request->file != nullptr ? f.request->file : "");
    const firmware::LoadFacts& loaded = firmware::LastLoadFacts;
    if (loaded.sha256[0] != '\0') {
        JsonString(line, "firmware_sha256", loaded.sha256);
        JsonInt(line, "firmware_bytes", loaded.size);
    }
    // Model records 1, 2 and 3 are the requests 'p', 'q' and 'r'.
    if (f.modelCode != 0) JsonInt(line, "model", f.modelCode - 0x6F);
}

// The adapter the port is, as the system names it: a depot tells its units'
// cables apart by the USB serial number.
void AddAdapter(JsonLine& line, const platform::ports::PortInfo& p) {
    JsonString(line, "adapter", platform::ports::PortSummary(p).c_str());
    if (!p.usb) return;
    char id[8];
    std::snprintf(id, sizeof id, "%04x", p.vid);
    JsonString(line, "adapter_vid", id);
    std::snprintf(id, sizeof id, "%04x", p.pid);
    JsonString(line, "adapter_pid", id);
    if (!p.serial.empty()) JsonString(line, "adapter_serial", p.serial.c_str());
}

}  // namespace

// Appending nothing makes a missing file, as the record's own append would:
// units and stations that start at once all find it so, where a file made
// and removed again by one would trip the others.
bool TakeFile(const char* given, char* path, size_t pathCap, char* why, size_t whyCap) {
    if (!platform::terminal::Utf8ToPath(given, path, pathCap)) {
        return Refuse(why, whyCap, "%s", "is longer than the 255 characters the console takes");
    }
    const platform::FileKind kind = platform::FileKindAt(path, false);
    if (kind != platform::FileKind::Regular && kind != platform::FileKind::Missing) {
        return Refuse(why, whyCap, "%s", platform::NotAFileText(kind));
    }
    if (kind == platform::FileKind::Regular && platform::FileReadOnly(path)) {
        return Refuse(why, whyCap, "%s", "is read-only");
    }
    return platform::FileAppend(path, "", 0) ||
           Refuse(why, whyCap, "cannot be appended to (%s)", platform::FileFaultText(platform::LastFileFault()));
}

void Format(const Facts& f, JsonLine& line) {
    const Request& r = *f.request;
    char now[40];
    platform::terminal::IsoLocalTime(now, sizeof now);
    JsonBeginObject(line, "time", now);
    JsonString(line, "port", f.unit);
    if (f.adapter != nullptr) AddAdapter(line, *f.adapter);
    if (r.label != nullptr) JsonString(line, "label", r.label);
    JsonString(line, "command", CommandName(r.command));
    if (r.verifyAfter) JsonBool(line, "verify", true);
    if (r.ifDifferent) JsonBool(line, "if_different", true);
    JsonInt(line, "exit_code", f.exitCode);
    JsonString(line, "outcome", f.outcome);
    JsonString(line, "text", f.text);
    JsonNumber(line, "seconds", f.seconds, 1);
    JsonString(line, "version", VersionNumber());
    if (FirmwareCommand(r)) {
        AddFirmware(line, f);
    } else if (r.file != nullptr) {
        JsonString(line, "file", r.file);
    }
    out::AddResultFacts(line, ops::LastResult());
    JsonEnd(line);
}

bool Append(const char* path, const Facts& facts, char* why, size_t whyCap) {
    static JsonLine line;  // 8 KiB: off the stack
    Format(facts, line);
    if (platform::FileAppend(path, line.text, static_cast<int>(line.length))) return true;
    return Refuse(why, whyCap, "%s", platform::FileFaultText(platform::LastFileFault()));
}

}  // namespace cli::record
