// frame_decoder.h - what each frame and each boot-mode step on the line is,
// in words: the command table read back ("flash read 0x003000, 256 bytes"),
// an answer's status, a damaged frame's fault, the time since the previous
// frame. The operator log's lines never change; front ends show this beside
// them (tq73 --decode and its JSON, tq73 decode, the window's status strip).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace shell {

// One fact of a decoding, for JSON: a text, a number or a yes/no.
struct DecodedField {
    enum class Kind : uint8_t { Text, Number, Flag };
    const char* key = "";
    Kind kind = Kind::Text;
    char text[72] = "";
    long long number = 0;
};

constexpr int kDecodedFieldCount = 12;
constexpr size_t kDecodedTextSize = 320;

struct Decoding {
    char text[kDecodedTextSize] = "";  // the whole decoding as one line of English
    int count = 0;
    DecodedField fields[kDecodedFieldCount];
};

// Decodes the frames of one session in order: an answer is named after the
// request it follows, and each frame carries the time since the one before.
class FrameDecoder {
public:
    // letter 'T' (sent) or 'R' (received); bytes: the frame from its STX, of
    // which shown are at hand (a log line shows at most 64); length: the
    // frame's length as its line gives it (for a received frame, the bytes
    // that came). atMs: when it was logged, or a negative value when unknown.
    Decoding Frame(char letter, const uint8_t* bytes, int shown, int length, long long atMs);
    // The wake byte 0x5C went out raw (seen only in captures of the line).
    Decoding WakeByte(long long atMs);

private:
    long long Gap(long long atMs);
    char lastRequest_[96] = "";
    int lastCommand_ = -1;
    int lastSubCode_ = -1;
    bool wakeBefore_ = false;
    long long lastMs_ = -1;
};

// Decodes the boot-mode byte protocol step by step: the host's bytes (one
// step or several at once) and each one-byte reply, checked against the step
// it answers.
class BootDecoder {
public:
    // The host's bytes; each step they complete is appended to out. Bytes of
    // a step not yet complete are kept for the next call.
    void Host(const uint8_t* bytes, int n, long long atMs, std::vector<Decoding>& out);
    Decoding Reply(uint8_t reply, long long atMs);
    // The closing 0xFF went out (or nothing has yet): the next byte is no
    // boot-mode step unless it opens one.
    bool Ended() const { return state_ == State::Command && !inWriteMode_; }
    // What is left of an unfinished step at the end of a capture.
    bool Unfinished(Decoding& out) const;

private:
    enum class State : uint8_t { Command, EraseCodes, Address, Data };
    enum class Awaits : uint8_t { Nothing, Erase, WriteMode, AddressEcho, DataSum, Program };
    void Step(std::vector<Decoding>& out, long long atMs);
    State state_ = State::Command;
    bool inWriteMode_ = false;
    Awaits awaits_ = Awaits::Nothing;
    uint8_t want_ = 0;
    uint8_t held_[130] = {};
    int heldCount_ = 0;
    uint16_t page_ = 0;
    long long lastMs_ = -1;
};

// A raw capture of what one side sent (the simulator's --record: every byte
// the device received), cut into frames, wake bytes and boot-mode steps.
struct StreamItem {
    size_t offset;  // of its first byte in the capture
    size_t length;
    Decoding decoding;
};
std::vector<StreamItem> DecodeHostStream(const uint8_t* bytes, size_t n);

// A frame line of the operator log ("T- 13 0250060004003000000103900D"): its
// letter, the frame's length as the line gives it and the bytes it shows.
// false for any other text.
bool ParseFrameLine(const char* line, char& letter, int& length, std::vector<uint8_t>& bytes);
// Upper-case hexadecimal pairs ("0250...") to bytes; false at anything else.
bool BytesOfHex(const char* hex, std::vector<uint8_t>& bytes);

// Adds a field to a decoding (the front ends' own facts too: a frame's line).
void AddText(Decoding& d, const char* key, const char* text);
void AddNumber(Decoding& d, const char* key, long long value);
void AddFlag(Decoding& d, const char* key, bool value);

}  // namespace shell
