// image_loader.cpp - S-record parsing in a fixed 128-byte read window.
//
// The parser looks at the first characters of each line to decide what it
// stores. What it does guard: every stored byte lies inside the image, every
// character read lies inside the line being decoded. Beside that it checks
// each S-record it reaches (digits, length, checksum) and keeps the first
// damaged one, so that nothing is programmed from it unasked.
#include "firmware/image_loader.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "firmware/boot_blocks.h"
#include "firmware/programmer.h"
#include "firmware/sha256.h"
#include "platform/platform.h"

namespace firmware {

Image FirmwareImage{};
char FirmwarePath[kPathSize] = {};
RecordDamage FirstDamage;
LoadFacts LastLoadFacts;
platform::PathCarry FirmwarePathCarry = platform::PathCarry::Ok;

// A name that could not be carried is not kept at all, so that no part of it
// is ever opened.
namespace {

// The image HoldFirmwareImage read, with what its parse met.
struct Held {
    bool held = false;
    int endRecord = 0;
    int modelCode = 0;
    RecordDamage damage;
    LoadFacts facts;
    char path[kPathSize] = "";  // the file it was read from
};
Held held;

}  // namespace

void SetFirmwarePath(const char* path, platform::PathCarry carry) {
    held = Held{};
    FirmwarePathCarry = carry;
    const bool keep = carry == platform::PathCarry::Ok && std::strlen(path) < sizeof FirmwarePath;
    std::snprintf(FirmwarePath, sizeof FirmwarePath, "%s", keep ? path : "");
}

namespace {

constexpr const char* kDefaultFirmwareFile = "enc73.mot";
constexpr const char* kCannotReadText = "Cannot read S-Format file.";

struct ReadWindow {
    char bytes[kReadWindowSize];
    int fill = 0;
    bool endOfFile = false;
    Sha256 digest;
};

// The bytes after the end record are the file's too: the digest names the
// whole file, as sha256sum of it does.
void DigestRest(platform::FileHandle file, ReadWindow& w) {
    char rest[4096];
    while (!w.endOfFile) {
        const int got = platform::FileRead(file, rest, sizeof rest);
        if (got <= 0) break;
        Sha256Add(w.digest, rest, static_cast<size_t>(got));
    }
    LastLoadFacts.size = static_cast<uint32_t>(w.digest.bytes);
    Sha256Hex(w.digest, LastLoadFacts.sha256);
}

// Tops the window up from the file and turns every line end into a NUL.
// Reads until the window is full or a read brings nothing: a short read
// alone does not tell the end of the file, and a last line without a line
// end is whole only once that end is known.
void Refill(platform::FileHandle file, ReadWindow& w) {
    while (!w.endOfFile && w.fill < kReadWindowSize) {
        const int got = platform::FileRead(file, w.bytes + w.fill, kReadWindowSize - w.fill);
        if (got <= 0) {
            w.endOfFile = true;
            return;
        }
        Sha256Add(w.digest, w.bytes + w.fill, static_cast<size_t>(got));
        for (int i = w.fill; i < w.fill + got; ++i) {
            if (w.bytes[i] == '\r' || w.bytes[i] == '\n') w.bytes[i] = '\0';
        }
        w.fill += got;
    }
}

// Length of the line at the window's start, or -1 when no whole line is
// there: a line too long for the window. The end of the file ends the last
// line even without a line end; such a line is seen only once the file has
// ended inside the window, so it holds at most 127 characters, as a line
// with a line end does.
int LineLength(const ReadWindow& w) {
    const void* nul = std::memchr(w.bytes, '\0', static_cast<size_t>(w.fill));
    if (nul != nullptr) return static_cast<int>(static_cast<const char*>(nul) - w.bytes);
    if (w.endOfFile) return w.fill;
    return -1;
}

// Drops the line and its line end (one or two NULs) from the window.
void Consume(ReadWindow& w, int lineLength) {
    int used = lineLength < w.fill ? lineLength + 1 : lineLength;
    if (used < w.fill && w.bytes[used] == '\0') ++used;
    w.fill -= used;
    std::memmove(w.bytes, w.bytes + used, static_cast<size_t>(w.fill));
}

// A data byte that no update writes: below 0x3000 (its whole record is
// skipped), beyond the image, or between and above the programmed blocks.
void NoteOutside(uint32_t address) {
    LoadFacts& f = LastLoadFacts;
    if (f.outsideBytes++ == 0 || address < f.firstOutside) f.firstOutside = address;
}

// Stores the data of an S1 or S2 record; bytes that would fall outside the
// image are not stored.
void StoreDataRecord(const char* line, int length, Image& image) {
    const bool s2 = line[1] == '2';
    const int addressPairs = s2 ? 3 : 2;
    const int dataStart = 4 + 2 * addressPairs;
    if (length < dataStart) return;
    uint32_t address = 0;
    for (int i = 0; i < addressPairs; ++i) address = address << 8 | HexPairValue(line + 4 + 2 * i);
    const int declared = HexPairValue(line + 2) - addressPairs - 1;
    // The line's last pair is its checksum; a byte count that claims more
    // than the line holds is cut to what is there.
    const int present = (length - dataStart) / 2 - 1;
    const int count = declared < present ? declared : present;
    const bool stored = address >= kLowestStoredAddress;
    for (int k = 0; k < count; ++k) {
        const uint32_t at = address + static_cast<uint32_t>(k);
        if (!stored || at >= kImageSize || !InProgrammedBlock(at)) NoteOutside(at);
        if (stored && at < kImageSize) image[at] = HexPairValue(line + dataStart + 2 * k);
    }
}

enum class LineKind { Stop, Skip, Record };

LineKind Classify(const char* line, int length, int& modelCode) {
    if (length >= 2 && line[0] == 'T' && line[1] == 'Q') {
        modelCode = ModelCodeFor(std::strtol(line + 2, nullptr, 10));
        return modelCode == kModelNone ? LineKind::Stop : LineKind::Skip;
    }
    if (length >= 1 && line[0] == 'S') return LineKind::Record;
    // Intel-hex style lines are passed over: they do not end the parse, and
    // they are not decoded as S-records, which would store garbage.
    if (length >= 8 && line[0] == ':' && line[7] == '0') return LineKind::Skip;
    return LineKind::Stop;
}

bool IsHexDigit(char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f'); }

bool IsSRecord(const char* line, int length) {
    return length >= 2 && line[0] == 'S' && line[1] >= '0' && line[1] <= '9';
}

}  // namespace

const char* RecordFaultText(RecordFault fault) {
    switch (fault) {
        case RecordFault::NotHex: return "a character that is not a hexadecimal digit";
        case RecordFault::Cut: return "the record is shorter than its byte count";
        case RecordFault::Checksum: return "the checksum does not match the record";
        default: return "no fault";
    }
}

// The byte count covers the address, the data and the checksum; the
// checksum is the ones' complement of the sum of every byte before it from
// the count on, so all of them together sum to 0xFF. Characters behind the
// checksum are not the record's and are not looked at, as the parse does not.
RecordFault CheckRecord(const char* line, int length) {
    if (length < 4) return RecordFault::Cut;
    if (!IsHexDigit(line[2]) || !IsHexDigit(line[3])) return RecordFault::NotHex;
    const int count = HexPairValue(line + 2);
    const int end = 4 + 2 * count;
    for (int i = 4; i < end && i < length; ++i) {
        if (!IsHexDigit(line[i])) return RecordFault::NotHex;
    }
    if (length < end) return RecordFault::Cut;
    uint32_t sum = 0;
    for (int i = 2; i < end; i += 2) sum += HexPairValue(line + i);
    return (sum & 0xFF) == 0xFF ? RecordFault::None : RecordFault::Checksum;
}

uint8_t HexDigitValue(uint8_t c) {
    if (c >= 'a') return static_cast<uint8_t>(c - 0x57);
    if (c >= 'A') return static_cast<uint8_t>(c - 0x37);
    return static_cast<uint8_t>(c - 0x30);
}

uint8_t HexPairValue(const char* pair) {
    return static_cast<uint8_t>(16 * HexDigitValue(static_cast<uint8_t>(pair[0])) +
                                HexDigitValue(static_cast<uint8_t>(pair[1])));
}

int ModelCodeFor(long number) {
    switch (number) {
        case 1: return 0x70;
        case 2: return 0x71;
        case 3: return 0x72;
        default: return kModelNone;
    }
}

int ParseFirmwareFile(const char* path, Image& image, int& modelCode) {
    FirstDamage = RecordDamage{};
    LastLoadFacts = LoadFacts{};
    platform::FileHandle file = platform::FileOpenRead(path);
    if (file == nullptr) return 0;
    LastLoadFacts.opened = true;
    ReadWindow w;
    Sha256Begin(w.digest);
    int endRecord = 0;
    for (int lineNumber = 1;; ++lineNumber) {
        Refill(file, w);
        const int length = LineLength(w);
        if (length < 0) break;
        // The line is NUL-terminated inside the window, except a last line
        // without a line end; decode a terminated copy so every read stays in
        // bounds.
        char line[kReadWindowSize + 1];
        std::memcpy(line, w.bytes, static_cast<size_t>(length));
        line[length] = '\0';
        const LineKind kind = Classify(line, length, modelCode);
        if (kind == LineKind::Stop) break;
        if (kind == LineKind::Record && FirstDamage.line == 0 && IsSRecord(line, length)) {
            const RecordFault fault = CheckRecord(line, length);
            if (fault != RecordFault::None) FirstDamage = RecordDamage{lineNumber, fault};
        }
        if (kind == LineKind::Record && length >= 2) {
            if (line[1] == '8' || line[1] == '9') endRecord = 1;
            if (line[1] == '3') LastLoadFacts.s3Records = true;
            if ((line[1] == '1' || line[1] == '2') && length >= 4) StoreDataRecord(line, length, image);
        }
        Consume(w, length);
        if (w.fill == 0 && w.endOfFile) break;
    }
    DigestRest(file, w);
    platform::FileClose(file);
    return endRecord;
}

namespace {
bool lastLoadRead = false;

// The file an empty firmware path stands for: "enc73.mot" in the working
// folder, else the one beside the program. Started from its icon elevated
// the working folder is System32, and an exe run from inside a zip is
// extracted alone to a temporary folder: beside the program is then where
// the engineer put the file. When neither is there the working folder's name
// is the one the messages give.
const char* FileToLoad(char (&beside)[kPathSize]) {
    if (FirmwarePath[0] != '\0') return FirmwarePath;
    if (platform::FileKindAt(kDefaultFirmwareFile, true) != platform::FileKind::Missing) return kDefaultFirmwareFile;
    const bool found = platform::BesideProgram(kDefaultFirmwareFile, beside, kPathSize) &&
                       platform::FileKindAt(beside, true) != platform::FileKind::Missing;
    return found ? beside : kDefaultFirmwareFile;
}

// Once per load that read the file whole: which file, its model record, the
// pages an update writes and the digest of its bytes, so that the window's
// transcript says what was programmed or verified. A held image's loads do
// not repeat it: tq73 names its file and digest in its own output and record.
void LogLoaded(const char* path, int modelCode) {
    char model[16] = "none";
    if (modelCode != kModelNone) std::snprintf(model, sizeof model, "TQ%d", modelCode - ModelCodeFor(1) + 1);
    char line[kPathSize + 200];
    std::snprintf(line, sizeof line, "firmware file %s: model record %s, %u pages, SHA-256 %s", path, model,
                  unsigned(CountPagesToProgram(FirmwareImage)), LastLoadFacts.sha256);
    platform::LogLineUtf8(line);
}

// Why the file could not be read, before the box: the box's words are the
// system's own and say nothing of the cause.
void LogUnreadable(const char* path) {
    char line[kPathSize + 240];
    // The path is UTF-8 (as the engineer gave it) and the rest ASCII: the
    // line goes to the log as UTF-8.
    if (!LastLoadFacts.opened) {
        std::snprintf(line, sizeof line, "firmware file %s cannot be read: %s", path,
                      platform::FileFaultText(platform::LastFileFault()));
    } else if (LastLoadFacts.s3Records) {
        std::snprintf(line, sizeof line,
                      "firmware file %s: no S8 or S9 end record; it holds S3 records (32-bit addresses), but the "
                      "unit's files have S1 or S2 records and an S9 or S8 end record",
                      path);
    } else {
        std::snprintf(line, sizeof line,
                      "firmware file %s: no S8 or S9 end record before the first line that is not a record", path);
    }
    platform::LogLineUtf8(line);
}

// Bytes of the file that no update writes are told once per load, before
// anything is sent: the unit will not hold them, whatever the verify says.
void LogOutside() {
    const LoadFacts& f = LastLoadFacts;
    if (f.outsideBytes == 0) return;
    char line[200];
    std::snprintf(line, sizeof line,
                  "firmware file: %u bytes lie outside the blocks an update programs (3000-3FFF, A000-EFFF), the "
                  "first at 0x%X: they are neither written nor verified",
                  unsigned(f.outsideBytes), unsigned(f.firstOutside));
    platform::LogLine(line);
}
}  // namespace

int LoadFirmwareImage() {
    int modelCode = kModelNone;
    if (FirmwarePathCarry != platform::PathCarry::Ok) {
        FirmwareImage.fill(0xFF);
        char line[200];
        std::snprintf(line, sizeof line, "firmware file: %s (the firmware path given): nothing was opened",
                      platform::PathCarryText(FirmwarePathCarry));
        platform::LogLine(line);
        platform::WarningBox(kCannotReadText);
        lastLoadRead = false;
        return kModelNone;
    }
    char beside[kPathSize];
    const char* path = held.held ? held.path : FileToLoad(beside);
    if (held.held) {
        modelCode = held.modelCode;
        FirstDamage = held.damage;
        LastLoadFacts = held.facts;
        lastLoadRead = held.endRecord != 0;
        // FirmwareImage still holds the file: nothing else writes it.
    } else {
        FirmwareImage.fill(0xFF);
        lastLoadRead = ParseFirmwareFile(path, FirmwareImage, modelCode) != 0;
    }
    if (!lastLoadRead) {
        LogUnreadable(path);
        platform::WarningBox(kCannotReadText);
        return kModelNone;
    }
    if (!held.held) LogLoaded(path, modelCode);
    LogOutside();
    return modelCode;
}

bool FirmwareImageRead() { return lastLoadRead; }

int HoldFirmwareImage(int& modelCode) {
    held = Held{};
    FirmwareImage.fill(0xFF);
    modelCode = kModelNone;
    if (FirmwarePathCarry != platform::PathCarry::Ok) return 0;
    char beside[kPathSize];
    std::snprintf(held.path, sizeof held.path, "%s", FileToLoad(beside));
    held.endRecord = ParseFirmwareFile(held.path, FirmwareImage, modelCode);
    held.modelCode = modelCode;
    held.damage = FirstDamage;
    held.facts = LastLoadFacts;
    held.held = true;
    return held.endRecord;
}

}  // namespace firmware
