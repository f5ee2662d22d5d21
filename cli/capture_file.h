// capture_file.h - tq73 --capture FILE.pcapng: every byte each way on the
// line, with its time, in the pcapng format that Wireshark and tshark read;
// and the same file read back by tq73 decode.
//
// Each block is one frame in application mode and one step in boot mode, as
// the link wrote it or the receiver took it. The link type is LINKTYPE_USER0
// (147); every packet begins with two bytes of ours: the direction (0 to the
// device, 1 from it) and the mode (0 application, 1 boot); the block's
// direction flag says the same for Wireshark's own columns. The dissector in
// packaging/wireshark/tq7300.lua reads them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace cli {

constexpr uint16_t kCaptureLinkType = 147;
constexpr uint8_t kCaptureToDevice = 0;
constexpr uint8_t kCaptureFromDevice = 1;
constexpr uint8_t kCaptureApplication = 0;
constexpr uint8_t kCaptureBoot = 1;

// Checks the target as a flash read's file is checked (no link, device,
// folder or read-only file; a folder that takes the file) and starts
// recording the line. false with why set when the target is refused.
bool BeginCapture(const char* path, char* why, size_t cap);
// Stops recording and writes the file (beside it first, then in its place).
// true when there was nothing to write or it was written.
bool EndCapture(char* why, size_t cap);
// Stops recording and writes nothing (the port never opened).
void DropCapture();

// One block appended to a capture being built (also for the tests).
void AppendPacket(std::string& file, uint64_t microseconds, uint8_t direction, uint8_t mode, const uint8_t* bytes,
                  int count);
// The file's head: the section header and the interface.
std::string CaptureHead();

// Whether the bytes are a pcapng file, and its packets decoded on stdout
// (tq73 decode). false with why set for a capture that is not tq73's.
bool IsCaptureFile(const std::string& file);
bool DecodeCapture(const std::string& file, bool json, char* why, size_t cap);

}  // namespace cli
