// fuzz_image_loader.cpp - LoadFirmwareImage on a firmware file of any bytes,
// read through the platform's file functions from memory, against a plain
// whole-buffer reading of the loader's rules: the same end-record verdict,
// the same model code, the same image byte for byte, one box exactly when
// no end record was read.
//
// The reference keeps the loader's documented choices: a line (with its
// line end) must lie within the 128-byte read window; the end of the file
// ends a last line that has no line end (127 characters at most); data records store what the line
// holds (less the checksum pair), only from 0x3000 up and only inside the
// image.
#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "fake_platform.h"
#include "firmware/image_loader.h"

namespace {

constexpr size_t kWindow = 128;

struct Outcome {
    int endRecord = 0;
    int model = 0;
    firmware::Image image;
};

bool LineEnd(uint8_t c) { return c == '\r' || c == '\n' || c == '\0'; }

int Digit(uint8_t c) {
    if (c >= 'a') return c - 0x57;
    if (c >= 'A') return c - 0x37;
    return c - 0x30;
}

int Pair(const std::string& s, size_t at) { return (16 * Digit(uint8_t(s[at])) + Digit(uint8_t(s[at + 1]))) & 0xFF; }

int Model(long number) { return number == 1 ? 0x70 : number == 2 ? 0x71 : number == 3 ? 0x72 : 0; }

void Store(const std::string& line, firmware::Image& image) {
    const size_t pairs = line[1] == '2' ? 3 : 2;
    const size_t dataStart = 4 + 2 * pairs;
    if (line.size() < dataStart) return;
    uint32_t address = 0;
    for (size_t i = 0; i < pairs; ++i) address = address << 8 | uint32_t(Pair(line, 4 + 2 * i));
    if (address < 0x3000) return;
    const long declared = long(Pair(line, 2)) - long(pairs) - 1;
    const long present = long((line.size() - dataStart) / 2) - 1;
    const long count = declared < present ? declared : present;
    for (long k = 0; k < count && address + k < firmware::kImageSize; ++k) {
        image[address + k] = uint8_t(Pair(line, dataStart + 2 * size_t(k)));
    }
}

void Reference(const uint8_t* data, size_t size, Outcome& out) {
    out.image.fill(0xFF);
    size_t pos = 0;
    while (pos < size) {
        const size_t windowEnd = pos + kWindow < size ? pos + kWindow : size;
        size_t end = pos;
        while (end < windowEnd && !LineEnd(data[end])) ++end;
        const bool terminated = end < windowEnd;
        // Too long for the window; without a line end the last line may
        // take 127 characters, as a line with one may.
        if (!terminated && (windowEnd < size || end - pos >= kWindow)) return;
        const std::string line(reinterpret_cast<const char*>(data + pos), end - pos);
        if (line.size() >= 2 && line[0] == 'T' && line[1] == 'Q') {
            out.model = Model(std::strtol(line.c_str() + 2, nullptr, 10));
            if (out.model == 0) return;
        } else if (!line.empty() && line[0] == 'S') {
            if (line.size() >= 2 && (line[1] == '8' || line[1] == '9')) out.endRecord = 1;
            if (line.size() >= 4 && (line[1] == '1' || line[1] == '2')) Store(line, out.image);
        } else if (!(line.size() >= 8 && line[0] == ':' && line[7] == '0')) {
            return;
        }
        if (!terminated) return;  // the end of the file ended the last line
        size_t next = end + 1;
        if (next < windowEnd && LineEnd(data[next])) ++next;
        pos = next;
    }
}

Outcome expected;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const char kName[] = "fuzz.mot";
    fuzzfake::ResetUi();
    fuzzfake::SetFile(kName, data, size);
    std::strcpy(firmware::FirmwarePath, kName);
    firmware::FirmwareImage.fill(0x5A);  // the loader must set every byte itself
    const int model = firmware::LoadFirmwareImage();

    expected = Outcome{};
    Reference(data, size, expected);
    const int boxes = fuzzfake::BoxCount();
    const int expectedModel = expected.endRecord ? expected.model : 0;
    if (model != expectedModel || boxes != (expected.endRecord ? 0 : 1)) {
        std::fprintf(stderr, "==fuzz== model %#x (expected %#x), boxes %d, end record expected %d\n", model,
                     expectedModel, boxes, expected.endRecord);
        std::abort();
    }
    if (std::memcmp(firmware::FirmwareImage.data(), expected.image.data(), firmware::kImageSize) != 0) {
        size_t a = 0;
        while (firmware::FirmwareImage[a] == expected.image[a]) ++a;
        std::fprintf(stderr, "==fuzz== image differs first at %#zx: %02x, expected %02x\n", a,
                     firmware::FirmwareImage[a], expected.image[a]);
        std::abort();
    }
    return 0;
}
