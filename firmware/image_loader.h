// image_loader.h - reads a Motorola S-record firmware file into the 64 KB image.
#pragma once

#include <array>
#include <cstdint>

#include "platform/path_text.h"

namespace firmware {

constexpr uint32_t kImageSize = 0x10000;
constexpr uint32_t kLowestStoredAddress = 0x3000;
constexpr int kReadWindowSize = 128;
// The command-line path: at most 255 characters, carried as path_text.h says.
constexpr int kPathSize = platform::kPathBytes;

using Image = std::array<uint8_t, kImageSize>;

extern Image FirmwareImage;
// The command-line tail kept at start-up; empty selects "enc73.mot".
extern char FirmwarePath[kPathSize];
// Ok unless the command line named a file that could not be carried as given
// (FirmwarePath is then empty, and no file is opened: not even "enc73.mot").
extern platform::PathCarry FirmwarePathCarry;
// What a front end asks the firmware commands to load: path (empty selects
// "enc73.mot"), and how it could carry the name it was given.
void SetFirmwarePath(const char* path, platform::PathCarry carry);

constexpr int kModelNone = 0;

// What is wrong with an S-record: a character that is not a hexadecimal
// digit, fewer characters than its byte count says, or a checksum that does
// not match its bytes. The loader still takes such a record as it always
// did; the front ends ask before anything is programmed from it.
enum class RecordFault : uint8_t { None, NotHex, Cut, Checksum };
struct RecordDamage {
    int line = 0;  // 1-based; 0 when no record the last parse reached was damaged
    RecordFault fault = RecordFault::None;
};
// The first damaged record of the last ParseFirmwareFile.
extern RecordDamage FirstDamage;
const char* RecordFaultText(RecordFault fault);
// The fault of one S-record line (S0 to S9) of the given length.
RecordFault CheckRecord(const char* line, int length);

// What the last ParseFirmwareFile met beside the image it stored.
struct LoadFacts {
    bool opened = false;        // the file could be opened at all
    bool s3Records = false;     // S3 records (32-bit addresses), which the unit's files do not use
    uint32_t outsideBytes = 0;  // data bytes that no programmed block takes (never written)
    uint32_t firstOutside = 0;  // the lowest address of them
    // SHA-256 of every byte the file gave, as 64 hexadecimal digits; empty
    // when it could not be opened. What a service record names the file by.
    char sha256[65] = "";
    uint32_t size = 0;  // bytes the file gave
};
extern LoadFacts LastLoadFacts;

uint8_t HexDigitValue(uint8_t c);
uint8_t HexPairValue(const char* pair);
// Model record number to model request byte: 1 'p', 2 'q', 3 'r', else 0.
int ModelCodeFor(long number);

// 1 when an S8 or S9 record was seen, else 0 (also when the file cannot be
// opened). Stores data records at 0x3000 and above into image; sets modelCode
// only when it meets a model record.
int ParseFirmwareFile(const char* path, Image& image, int& modelCode);

// Fills the image with 0xFF and parses the firmware path; the warning box
// "Cannot read S-Format file." when no end record was read, after a line that
// says why. A file read whole whose data an update would not all write gets a
// line that says how much and where. Returns the model code, 0 when there is
// none or the file could not be read.
int LoadFirmwareImage();
// Whether the last LoadFirmwareImage read the file to an end record.
bool FirmwareImageRead();

// Reads the firmware path into FirmwareImage once, quietly (no line, no
// box), and holds it: every LoadFirmwareImage after it takes the held image,
// facts and damage instead of reading the file again, and says what a load
// says. tq73 reads its file so before the port opens, to refuse one it
// cannot use; a pipe gives its bytes once, and the verify after an update
// compares the very bytes programmed. The window reads the file at each
// command. SetFirmwarePath lets go of a held image. Returns what
// ParseFirmwareFile returns, with the model code in modelCode.
int HoldFirmwareImage(int& modelCode);

}  // namespace firmware
