// frame_decoder.cpp - the command table read back from the bytes.
#include "shell/frame_decoder.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "firmware/boot_blocks.h"
#include "firmware/programmer.h"
#include "link/command_library.h"
#include "link/frame.h"
#include "operations/device_clock.h"

namespace shell {

namespace {

constexpr uint8_t kWakeByte = 0x5C;
constexpr int kHeader = 4;
constexpr int kTrailer = 3;

// Appends to a bounded text; what does not fit is cut.
void Append(char* text, size_t cap, const char* format, ...) {
    const size_t used = std::strlen(text);
    if (used + 1 >= cap) return;
    va_list args;
    va_start(args, format);
    std::vsnprintf(text + used, cap - used, format, args);
    va_end(args);
}

// A bounded copy, cut where it does not fit.
void Copy(char* to, size_t cap, const char* from) {
    const size_t n = std::min(std::strlen(from), cap - 1);
    std::memmove(to, from, n);
    to[n] = '\0';
}

DecodedField* NewField(Decoding& d, const char* key, DecodedField::Kind kind) {
    if (d.count == kDecodedFieldCount) return nullptr;
    DecodedField& f = d.fields[d.count++];
    f.key = key;
    f.kind = kind;
    return &f;
}

uint32_t Address24(const uint8_t* p) { return p[0] | p[1] << 8 | uint32_t(p[2]) << 16; }
uint16_t Le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
bool IsBcd(uint8_t b) { return (b >> 4) <= 9 && (b & 15) <= 9; }

// The payload of a request, as far as its bytes are at hand.
struct Payload {
    const uint8_t* p;
    int n;      // as the length field declares
    int avail;  // bytes of it at hand
};

// Names a request whose payload takes a fixed count; false (and says so)
// when the bytes are not there.
bool Needs(const Payload& pl, int count, char* name, size_t cap) {
    if (pl.avail >= count) return true;
    // A payload too short is said once, by the length check.
    if (pl.n >= count) Append(name, cap, " (its payload is not at hand)");
    return false;
}

void DescribeClockSet(const Payload& pl, Decoding& d, char* name, size_t cap) {
    std::snprintf(name, cap, "clock set");
    if (!Needs(pl, ops::kClockPayloadSize, name, cap)) return;
    const uint16_t day = Le16(pl.p);
    const ops::DeviceDate date = ops::DayNumberToDate(day);
    char when[32], time[16];
    std::snprintf(when, sizeof when, "%04u-%02u-%02u", 2000u + date.years, unsigned(date.month), unsigned(date.day));
    std::snprintf(time, sizeof time, "%02X:%02X:%02X", pl.p[2], pl.p[3], pl.p[4]);
    Append(name, cap, " %s %s", when, time);
    if (!IsBcd(pl.p[2]) || !IsBcd(pl.p[3]) || !IsBcd(pl.p[4])) Append(name, cap, " (not packed BCD)");
    AddText(d, "date", when);
    AddText(d, "time", time);
    AddNumber(d, "day_number", day);
}

// 'P' by its sub-code.
void DescribeMemory(const Payload& pl, Decoding& d, char* name, size_t cap, int& subCode) {
    if (pl.avail < 1) {
        std::snprintf(name, cap, "memory access (no sub-code)");
        return;
    }
    subCode = pl.p[0];
    AddNumber(d, "sub_code", subCode);
    const int data = pl.n - 4;
    switch (subCode) {
        case wire::kSubRead:
        case wire::kSubErase:
        case wire::kSubReadArea: {
            const char* what = subCode == wire::kSubRead    ? "flash read"
                               : subCode == wire::kSubErase ? "flash erase"
                                                            : "area read";
            std::snprintf(name, cap, "%s", what);
            if (!Needs(pl, 6, name, cap)) return;
            const uint32_t address = Address24(pl.p + 1);
            const uint16_t count = Le16(pl.p + 4);
            if (subCode == wire::kSubReadArea) {
                Append(name, cap, ", %u bytes", unsigned(count));
            } else {
                Append(name, cap, " 0x%06X, %u bytes", unsigned(address), unsigned(count));
                AddNumber(d, "address", address);
            }
            AddNumber(d, "count", count);
            return;
        }
        case wire::kSubWrite:
            std::snprintf(name, cap, "flash write");
            if (!Needs(pl, 4, name, cap)) return;
            Append(name, cap, " 0x%06X, %d bytes", unsigned(Address24(pl.p + 1)), data);
            AddNumber(d, "address", Address24(pl.p + 1));
            AddNumber(d, "count", data);
            return;
        case wire::kSubPattern:
            std::snprintf(name, cap, data > 0 ? "pattern write, %d bytes" : "pattern write, empty", data);
            AddNumber(d, "count", data < 0 ? 0 : data);
            return;
        case wire::kSubRecord:
            std::snprintf(name, cap, "record write");
            if (!Needs(pl, 4, name, cap)) return;
            Append(name, cap, ", selector %u, %d bytes", unsigned(pl.p[1]), data);
            AddNumber(d, "selector", pl.p[1]);
            AddNumber(d, "count", data);
            return;
        default: std::snprintf(name, cap, "memory access, unknown sub-code 0x%02X", unsigned(subCode));
    }
}

// Requests that carry one or two bytes the console never sends itself.
void DescribeLibrary(int command, const Payload& pl, Decoding& d, char* name, size_t cap) {
    switch (command) {
        case 0x22:
        case 0x30:
        case 0x32:
            std::snprintf(name, cap, command == 0x30 ? "record command 0" : "request 0x%02X", unsigned(command));
            if (Needs(pl, 1, name, cap)) {
                Append(name, cap, ", value 0x%02X", unsigned(pl.p[0]));
                AddNumber(d, "value", pl.p[0]);
            }
            return;
        case 0x31:
            std::snprintf(name, cap, "record command 1");
            if (Needs(pl, 2, name, cap)) {
                Append(name, cap, ", length byte 0x%02X, value 0x%02X", unsigned(pl.p[0]), unsigned(pl.p[1]));
                AddNumber(d, "value", pl.p[1]);
            }
            return;
        case 0x40:
            std::snprintf(name, cap, "address command");
            if (Needs(pl, 6, name, cap)) {
                Append(name, cap, " 0x%06X, count %u, value 0x%02X", unsigned(Address24(pl.p)),
                       unsigned(Le16(pl.p + 3)), unsigned(pl.p[5]));
                AddNumber(d, "address", Address24(pl.p));
                AddNumber(d, "count", Le16(pl.p + 3));
            }
            return;
        default:  // 0x41
            std::snprintf(name, cap, "scaled command");
            if (Needs(pl, 5, name, cap)) {
                Append(name, cap, ", level 0x%04X, span 0x%04X, code 0x%02X", unsigned(Le16(pl.p)),
                       unsigned(Le16(pl.p + 2)), unsigned(pl.p[4]));
            }
    }
}

// The payload length each command takes; -1: any (a 'P' carries data).
int ExpectedPayload(int command, const Payload& pl) {
    switch (command) {
        case wire::kSetClockRequest: return ops::kClockPayloadSize;
        case 0x22:
        case 0x30:
        case 0x32: return 1;
        case 0x31: return 2;
        case 0x40: return 6;
        case 0x41: return 5;
        case wire::kMemoryRequest: {
            if (pl.avail < 1) return -1;
            const int sub = pl.p[0];
            return sub == wire::kSubRead || sub == wire::kSubErase || sub == wire::kSubReadArea ? 6 : -1;
        }
        default: return 0;
    }
}

bool KnownCommand(int c) {
    return c == 0x20 || c == 0x21 || c == 0x22 || (c >= 0x30 && c <= 0x32) || c == 0x40 || c == 0x41 || c == 0x50 ||
           (c >= 0x60 && c <= 0x62) || (c >= 0x70 && c <= 0x72);
}

void DescribeRequest(int command, const Payload& pl, bool afterWake, Decoding& d, char* name, size_t cap,
                     int& subCode) {
    if (command == wire::kSetClockRequest) {
        DescribeClockSet(pl, d, name, cap);
    } else if (command == wire::kClockQueryRequest) {
        std::snprintf(name, cap, "clock query");
    } else if (command == wire::kMemoryRequest) {
        DescribeMemory(pl, d, name, cap, subCode);
    } else if (command == 0x60) {
        std::snprintf(name, cap, afterWake ? "stop request, after the wake byte 5C" : "stop request");
    } else if (command == 0x61) {
        std::snprintf(name, cap, "resume request");
    } else if (command == 0x62) {
        std::snprintf(name, cap, "request 0x62");
    } else if (command >= 0x70 && command <= 0x72) {
        std::snprintf(name, cap, "model request %c (0x%02X)", command, unsigned(command));
    } else if (KnownCommand(command)) {
        DescribeLibrary(command, pl, d, name, cap);
    } else {
        std::snprintf(name, cap, "unknown command 0x%02X", unsigned(command));
        return;
    }
    const int expected = ExpectedPayload(command, pl);
    if (expected >= 0 && pl.n != expected) {
        Append(name, cap, " (payload %d bytes, the command takes %d)", pl.n, expected);
    } else if (command == wire::kMemoryRequest && pl.n < 4) {
        Append(name, cap, " (payload %d bytes, a memory access takes at least 4)", pl.n);
    }
}

// What an answer carries, named after the request it follows.
void DescribeAnswer(const uint8_t* f, const Payload& pl, int lastCommand, const char* lastRequest, Decoding& d,
                    char* name, size_t cap) {
    const uint8_t status = f[1];
    const bool accepted = status == wire::kStatusAccepted;
    if (lastRequest[0] != '\0') {
        const char* comma = std::strchr(lastRequest, ',');
        const int shown =
            comma != nullptr ? static_cast<int>(comma - lastRequest) : static_cast<int>(std::strlen(lastRequest));
        std::snprintf(name, cap, "answer to %.*s: ", shown, lastRequest);
        AddText(d, "answers", lastRequest);
    } else {
        std::snprintf(name, cap, "answer: ");
    }
    char statusText[48];
    if (accepted) {
        std::snprintf(statusText, sizeof statusText, "accepted");
    } else {
        std::snprintf(statusText, sizeof statusText, "refused, status 0x%02X", unsigned(status));
    }
    Append(name, cap, "%s", statusText);
    AddNumber(d, "status", status);
    AddFlag(d, "accepted", accepted);
    AddText(d, "status_text", statusText);
    if (pl.n > 0) Append(name, cap, ", %d data byte%s", pl.n, pl.n == 1 ? "" : "s");
    AddNumber(d, "data_bytes", pl.n);
    // The clock reading as the console takes it: day number, BCD time, weekday.
    if (lastCommand == wire::kClockQueryRequest && accepted && pl.avail >= 5 && (pl.n == 5 || pl.n == 6)) {
        const ops::DeviceDate date = ops::DayNumberToDate(Le16(pl.p));
        Append(name, cap, ": clock %04u-%02u-%02u %02X:%02X:%02X", 2000u + date.years, unsigned(date.month),
               unsigned(date.day), pl.p[2], pl.p[3], pl.p[4]);
        if (pl.avail >= 6 && pl.n == 6) Append(name, cap, ", weekday %u", unsigned(pl.p[5]));
    }
}

// The frame's completeness, trailer and checksum; faults to text.
void CheckWhole(const uint8_t* f, int shown, int length, int n, Decoding& d) {
    const int want = n + kHeader + kTrailer;
    char fault[96] = "";
    if (length < want) {
        std::snprintf(fault, sizeof fault, "cut: %d of %d bytes", length, want);
    } else if (shown < want) {
        Append(d.text, sizeof d.text, " [the line shows %d of %d bytes: the checksum is not checked]", shown, want);
        AddFlag(d, "bytes_cut", true);
        return;
    } else if (f[4 + n] != wire::kEtx) {
        std::snprintf(fault, sizeof fault, "no ETX: 0x%02X where 03 belongs", unsigned(f[4 + n]));
    } else if (f[5 + n] != wire::FrameChecksum(f, n)) {
        std::snprintf(fault, sizeof fault, "bad checksum: 0x%02X, want 0x%02X", unsigned(f[5 + n]),
                      unsigned(wire::FrameChecksum(f, n)));
    } else if (f[6 + n] != wire::kCr) {
        std::snprintf(fault, sizeof fault, "no CR: 0x%02X where 0D belongs", unsigned(f[6 + n]));
    } else if (length > want) {
        std::snprintf(fault, sizeof fault, "%d bytes beyond the frame's %d", length - want, want);
    }
    AddFlag(d, "sound", fault[0] == '\0');
    if (fault[0] == '\0') return;
    Append(d.text, sizeof d.text, "; %s", fault);
    AddText(d, "fault", fault);
}

}  // namespace

void AddText(Decoding& d, const char* key, const char* text) {
    if (DecodedField* f = NewField(d, key, DecodedField::Kind::Text)) Copy(f->text, sizeof f->text, text);
}

void AddNumber(Decoding& d, const char* key, long long value) {
    if (DecodedField* f = NewField(d, key, DecodedField::Kind::Number)) f->number = value;
}

void AddFlag(Decoding& d, const char* key, bool value) {
    if (DecodedField* f = NewField(d, key, DecodedField::Kind::Flag)) f->number = value ? 1 : 0;
}

long long FrameDecoder::Gap(long long atMs) {
    const long long gap = atMs >= 0 && lastMs_ >= 0 && atMs >= lastMs_ ? atMs - lastMs_ : -1;
    if (atMs >= 0) lastMs_ = atMs;
    return gap;
}

Decoding FrameDecoder::WakeByte(long long atMs) {
    Decoding d;
    std::snprintf(d.text, sizeof d.text, "wake byte 5C");
    AddText(d, "kind", "wake");
    const long long gap = Gap(atMs);
    if (gap >= 0) AddNumber(d, "gap_ms", gap);
    wakeBefore_ = true;
    return d;
}

Decoding FrameDecoder::Frame(char letter, const uint8_t* f, int shown, int length, long long atMs) {
    Decoding d;
    const bool sent = letter == 'T';
    AddText(d, "kind", sent ? "request" : "answer");
    const long long gap = Gap(atMs);
    const bool afterWake = wakeBefore_;
    wakeBefore_ = false;
    if (shown < 1 || f[0] != wire::kStx) {
        if (shown < 1) {
            std::snprintf(d.text, sizeof d.text, "no bytes");
        } else {
            std::snprintf(d.text, sizeof d.text, "not a frame: it begins with 0x%02X, not STX", unsigned(f[0]));
        }
        AddText(d, "fault", d.text);
    } else if (shown < kHeader || length < kHeader) {
        std::snprintf(d.text, sizeof d.text, "cut: %d bytes, too few for a frame's header", length);
        AddText(d, "fault", d.text);
    } else {
        const int n = Le16(f + 2);
        const int avail = shown - kHeader < n ? shown - kHeader : n;
        const Payload pl{f + kHeader, n, avail < 0 ? 0 : avail};
        if (sent) {
            int subCode = -1;
            DescribeRequest(f[1], pl, afterWake, d, d.text, sizeof d.text, subCode);
            AddNumber(d, "command", f[1]);
            Copy(lastRequest_, sizeof lastRequest_, d.text);
            lastCommand_ = f[1];
            lastSubCode_ = subCode;
        } else {
            DescribeAnswer(f, pl, lastCommand_, lastRequest_, d, d.text, sizeof d.text);
        }
        CheckWhole(f, shown, length, n, d);
    }
    if (gap >= 0) {
        Append(d.text, sizeof d.text, " (+%lld ms)", gap);
        AddNumber(d, "gap_ms", gap);
    }
    return d;
}

// ---- the log's frame lines ---------------------------------------------------

namespace {
int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}
}  // namespace

bool BytesOfHex(const char* p, std::vector<uint8_t>& bytes) {
    bytes.clear();
    for (; p[0] != '\0' && p[1] != '\0'; p += 2) {
        const int hi = HexDigit(p[0]), lo = HexDigit(p[1]);
        if (hi < 0 || lo < 0) return false;
        bytes.push_back(static_cast<uint8_t>(hi << 4 | lo));
    }
    return p[0] == '\0';
}

// "T- 13 0250..." (the log's frame line): letter, length and the bytes shown.
bool ParseFrameLine(const char* s, char& letter, int& length, std::vector<uint8_t>& bytes) {
    if ((s[0] != 'T' && s[0] != 'R') || s[1] != '-') return false;
    letter = s[0];
    const char* p = s + 2;
    while (*p == ' ') ++p;
    char* end = nullptr;
    const long n = std::strtol(p, &end, 10);
    if (end == p || *end != ' ' || n < 0 || n > 65542) return false;
    length = static_cast<int>(n);
    return BytesOfHex(end + 1, bytes);
}

// ---- boot mode ------------------------------------------------------------

namespace {

const firmware::BootBlock* BlockOfCode(uint8_t code) {
    for (const firmware::BootBlock& b : firmware::BootBlockTable) {
        if (b.code == code) return &b;
    }
    return nullptr;
}

uint8_t Sum(const uint8_t* p, int n) {
    uint32_t s = 0;
    for (int i = 0; i < n; ++i) s += p[i];
    return static_cast<uint8_t>(s);
}

Decoding Boot(const char* kind) {
    Decoding d;
    AddText(d, "kind", kind);
    return d;
}

void StatusReply(Decoding& d, const char* what, uint8_t reply, uint8_t errorBit, const char* failed) {
    const bool error = firmware::StatusReportsError(reply, errorBit);
    std::snprintf(d.text, sizeof d.text, "%s status 0x%02X: %s", what, unsigned(reply), error ? "error" : "no error");
    if (error) Append(d.text, sizeof d.text, ", bit 0x%02X set (%s)", unsigned(errorBit), failed);
    AddFlag(d, "error", error);
}

void EchoReply(Decoding& d, const char* what, uint8_t reply, uint8_t want) {
    if (reply == want) {
        std::snprintf(d.text, sizeof d.text, "%s 0x%02X: right", what, unsigned(reply));
    } else {
        std::snprintf(d.text, sizeof d.text, "%s 0x%02X, want 0x%02X: wrong", what, unsigned(reply), unsigned(want));
        AddText(d, "fault", "wrong echo");
    }
    AddFlag(d, "right", reply == want);
    AddNumber(d, "want", want);
}

}  // namespace

void BootDecoder::Step(std::vector<Decoding>& out, long long atMs) {
    Decoding d;
    const uint8_t* h = held_;
    if (state_ == State::EraseCodes) {
        d = Boot("boot_erase");
        const firmware::BootBlock* b = BlockOfCode(h[1]);
        std::snprintf(d.text, sizeof d.text, "block erase code 0x%02X", unsigned(h[1]));
        if (b != nullptr) {
            Append(d.text, sizeof d.text, " (0x%04X-0x%04X)", unsigned(b->start), unsigned(b->start + b->size - 1));
        } else {
            Append(d.text, sizeof d.text, " (no such block)");
        }
        if (h[2] != h[1]) Append(d.text, sizeof d.text, "; the code's repeat is 0x%02X", unsigned(h[2]));
        AddNumber(d, "block_code", h[1]);
        awaits_ = Awaits::Erase;
        state_ = State::Command;
    } else if (state_ == State::Address) {
        d = Boot("boot_address");
        page_ = static_cast<uint16_t>(h[0] | h[1] << 8);
        want_ = static_cast<uint8_t>(h[0] + h[1]);
        std::snprintf(d.text, sizeof d.text, "page address 0x%04X", unsigned(page_));
        AddNumber(d, "address", page_);
        awaits_ = Awaits::AddressEcho;
        state_ = State::Data;
    } else {  // State::Data
        d = Boot("boot_data");
        want_ = Sum(h, static_cast<int>(firmware::kPageSize));
        std::snprintf(d.text, sizeof d.text, "page data 0x%04X, %u bytes, sum 0x%02X", unsigned(page_),
                      unsigned(firmware::kPageSize), unsigned(want_));
        AddNumber(d, "address", page_);
        AddNumber(d, "sum", want_);
        awaits_ = Awaits::DataSum;
        state_ = State::Command;
    }
    heldCount_ = 0;
    if (atMs >= 0 && lastMs_ >= 0) AddNumber(d, "gap_ms", atMs - lastMs_);
    out.push_back(d);
}

void BootDecoder::Host(const uint8_t* bytes, int n, long long atMs, std::vector<Decoding>& out) {
    for (int i = 0; i < n; ++i) {
        const uint8_t b = bytes[i];
        if (state_ != State::Command) {
            held_[heldCount_++] = b;
            const int need = state_ == State::EraseCodes ? 3 : state_ == State::Address ? 2 : int(firmware::kPageSize);
            if (heldCount_ == need) Step(out, atMs);
            continue;
        }
        Decoding d;
        if (b == firmware::kBootErase && !inWriteMode_) {
            state_ = State::EraseCodes;
            held_[0] = b;
            heldCount_ = 1;
            continue;
        }
        if (b == firmware::kBootWriteMode && !inWriteMode_) {
            d = Boot("boot_write_mode");
            std::snprintf(d.text, sizeof d.text, "enter write mode W");
            inWriteMode_ = true;
            awaits_ = Awaits::WriteMode;
        } else if (b == firmware::kBootEnd) {
            d = Boot("boot_end");
            std::snprintf(d.text, sizeof d.text, "end 0xFF: back to the application (no reply)");
            inWriteMode_ = false;
            awaits_ = Awaits::Nothing;
        } else if (b == firmware::kBootProgramPage && inWriteMode_) {
            d = Boot("boot_program");
            std::snprintf(d.text, sizeof d.text, "program page 0x%04X U", unsigned(page_));
            AddNumber(d, "address", page_);
            awaits_ = Awaits::Program;
        } else if (inWriteMode_) {
            // A page address begins: its low byte is 00 or 80.
            state_ = State::Address;
            held_[0] = b;
            heldCount_ = 1;
            continue;
        } else {
            d = Boot("boot_unknown");
            std::snprintf(d.text, sizeof d.text, "byte 0x%02X: no boot-mode step", unsigned(b));
            AddText(d, "fault", "no boot-mode step");
        }
        if (atMs >= 0 && lastMs_ >= 0) AddNumber(d, "gap_ms", atMs - lastMs_);
        out.push_back(d);
    }
    if (atMs >= 0) lastMs_ = atMs;
}

Decoding BootDecoder::Reply(uint8_t reply, long long atMs) {
    Decoding d = Boot("boot_reply");
    AddNumber(d, "reply", reply);
    switch (awaits_) {
        case Awaits::Erase: StatusReply(d, "erase", reply, firmware::kEraseErrorBit, "the block is not erased"); break;
        case Awaits::Program:
            StatusReply(d, "program", reply, firmware::kProgramErrorBit, "the page is not programmed");
            break;
        case Awaits::WriteMode: EchoReply(d, "write mode reply", reply, firmware::kBootWriteModeReady); break;
        case Awaits::AddressEcho: EchoReply(d, "address echo", reply, want_); break;
        case Awaits::DataSum: EchoReply(d, "data sum echo", reply, want_); break;
        case Awaits::Nothing:
            std::snprintf(d.text, sizeof d.text, "reply 0x%02X to no step", unsigned(reply));
            AddText(d, "fault", "reply to no step");
    }
    awaits_ = Awaits::Nothing;
    if (atMs >= 0 && lastMs_ >= 0) AddNumber(d, "gap_ms", atMs - lastMs_);
    if (atMs >= 0) lastMs_ = atMs;
    return d;
}

bool BootDecoder::Unfinished(Decoding& out) const {
    if (state_ == State::Command) return false;
    out = Boot("boot_cut");
    const char* what = state_ == State::EraseCodes ? "block erase"
                       : state_ == State::Address  ? "page address"
                                                   : "page data";
    std::snprintf(out.text, sizeof out.text, "%s cut: %d bytes of it", what, heldCount_);
    AddText(out, "fault", "cut");
    return true;
}

// ---- a one-sided raw capture ------------------------------------------------

std::vector<StreamItem> DecodeHostStream(const uint8_t* bytes, size_t n) {
    std::vector<StreamItem> items;
    FrameDecoder frames;
    BootDecoder boot;
    bool inBoot = false;
    size_t i = 0;
    while (i < n) {
        if (inBoot) {
            std::vector<Decoding> steps;
            const size_t start = i;
            while (i < n && steps.empty()) boot.Host(bytes + i++, 1, -1, steps);
            for (const Decoding& d : steps) items.push_back(StreamItem{start, i - start, d});
            if (boot.Ended()) inBoot = false;
            continue;
        }
        const uint8_t b = bytes[i];
        if (b == wire::kStx) {
            const size_t left = n - i;
            const size_t declared = left >= 4 ? size_t(Le16(bytes + i + 2)) + kHeader + kTrailer : 0;
            const size_t take = left < 4 ? left : (declared < left ? declared : left);
            const int shown = static_cast<int>(take);
            items.push_back(StreamItem{i, take, frames.Frame('T', bytes + i, shown, shown, -1)});
            i += take;
        } else if (b == kWakeByte) {
            items.push_back(StreamItem{i, 1, frames.WakeByte(-1)});
            ++i;
        } else if (b == firmware::kBootErase || b == firmware::kBootWriteMode) {
            inBoot = true;
        } else {
            Decoding d;
            std::snprintf(d.text, sizeof d.text, "byte 0x%02X outside a frame", unsigned(b));
            AddText(d, "fault", "outside a frame");
            items.push_back(StreamItem{i, 1, d});
            ++i;
        }
    }
    Decoding cut;
    if (inBoot && boot.Unfinished(cut)) items.push_back(StreamItem{n, 0, cut});
    return items;
}

}  // namespace shell
