// main.cpp - tq7300-sim: a simulated TQ7300 on a pseudo-terminal,
// for tests and for running the console without a device.
#include <getopt.h>
#include <signal.h>

#include <cerrno>
#include <cstdio>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "frame_check.h"
#include "pty_device.h"
#include "tq_commit.h"
#include "tq_version.h"

namespace {

const char kUsage[] =
    "usage: tq7300-sim --link PATH [options]\n"
    "       tq7300-sim --help | --version\n"
    "  --link PATH                 symlink to the pty slave (required)\n"
    "  --record FILE               append every received byte to FILE\n"
    "  --flash-dump FILE           keep FILE holding the flash image from address 0 to the end of\n"
    "                              the highest 4 KiB page ever written or erased, at least 64 KiB;\n"
    "                              replaced whole (via FILE.tmp) at most every 80 ms while the\n"
    "                              flash keeps changing, once after the last change, and at exit\n"
    "  --flash-fill HEX            initial flash byte (default 00)\n"
    "  --flash-image FILE          initial flash from address 0: FILE's bytes (at most 16 MiB),\n"
    "                              over --flash-fill\n"
    "  --pattern-log FILE          append a line per 'P' 83 pattern as it arrives: \"MS N HEX\",\n"
    "                              MS milliseconds since the simulator started, N the number of\n"
    "                              pattern bytes, HEX those bytes (no HEX field when N is 0)\n"
    "  --model p|q|r               model request the device accepts (default p)\n"
    "  --boot                      start in boot mode (as after an interrupted update)\n"
    "  --pace                      38400-baud timing in both directions\n"
    "  --latency MS                hold what the device sends as a USB serial adapter's\n"
    "                              latency timer does: on to the host once 62 bytes wait,\n"
    "                              or MS milliseconds after the first of them (1 to 255)\n"
    "  --fault CMD[.SUB]:KIND[:MS[:N[:COUNT]]]\n"
    "                              CMD hex command byte; SUB hex first payload byte (the 'P'\n"
    "                              sub-code: 50.84 only flash writes), ahead of a plain CMD fault;\n"
    "                              KIND silent|refuse|late|badsum|garbage|split|oversize|cut|\n"
    "                              short|masked|none (cut: the answer's first 8 bytes only;\n"
    "                              short: a whole answer with half its payload; masked: payload\n"
    "                              bytes 0 and 1 moved by +8 and -8, the checksum still right);\n"
    "                              MS the delay of late, garbage, split (0: their default);\n"
    "                              N the first such request it applies to (default 1), e.g.\n"
    "                              50.84:silent:0:5 answers four writes and is silent from the 5th;\n"
    "                              COUNT: only that many requests from the N-th on (default: all)\n"
    "                              (the request itself takes effect with every KIND but refuse)\n"
    "  --boot-fault STEP:KIND[:VALUE[:N]]\n"
    "                              STEP erase|write|addr|data|program; KIND silent|wrong|status;\n"
    "                              VALUE hex reply byte; N only the N-th time (default every time);\n"
    "                              a program status with bit 10 above 80 (90) leaves the page\n"
    "                              unprogrammed, an erase status with bit 20 (A0) the block unerased\n"
    "  --stuck ADDR:MASK           hex: the bits of MASK at flash address ADDR stick; writes and\n"
    "                              erases are answered as usual (application and boot mode) but\n"
    "                              never change them (a worn cell a verify must find)\n"
    "  --frame-check FILE          check every byte received strictly (frames, the wake byte,\n"
    "                              boot steps; see frame_check.h) and keep FILE holding the\n"
    "                              counts and violations: rewritten each second and at exit;\n"
    "                              each violation is also printed on stderr; SIGHUP tells it\n"
    "                              that the host closed its port or ended: the first break in\n"
    "                              the traffic after that is counted apart, not as a violation\n"
    "  --noise RATE                a marginal line: each bit either way is flipped at this bit\n"
    "                              error rate (e.g. 1e-4); --record and --frame-check see the\n"
    "                              console's bytes as it sent them\n"
    "  --noise-rx RATE             the same for what the device receives only\n"
    "  --noise-tx RATE             the same for what the device sends only\n"
    "  --drop RATE                 each byte either way is lost at this rate\n"
    "  --seed N                    the noise's seed (default 1): the same traffic meets the same\n"
    "                              faults; at exit \"NOISE rx BYTES FLIPPED DROPPED tx ...\" is printed\n"
    "  --verbose                   trace line traffic to stderr\n"
    "  --inject FILE               on SIGUSR2, put FILE's bytes (read then) on the line unprompted;\n"
    "                              prints \"INJECTED N\" once they are queued\n"
    "  --help                      print this text\n"
    "  --version                   print the program, its version and the commit it was built from\n"
    "  SIGUSR1                     the device recovers: every --fault and --boot-fault is cleared;\n"
    "                              prints \"RECOVERED\"\n"
    "\n"
    "application requests (hex), answered status '0' with no payload unless said:\n"
    "  20 day16 hh mm ss           set the clock: day16 LE days since 1 Jan 2000, time packed BCD\n"
    "  21                          answers 6 bytes: day16 LE, hh, mm, ss (BCD as set), weekday\n"
    "                              (0 Sunday .. 6 Saturday); day 0 00:00:00 until set; never runs\n"
    "  50 04 addr24 count16        flash read: answers the count bytes; count above 505 refused\n"
    "  50 84 addr24 data...        flash write\n"
    "  50 44 addr24 count16        flash erase: the bytes become FF\n"
    "  50 83 000000 data...        pattern (data may be empty): kept, see --pattern-log\n"
    "  50 02 000000 count16        answers count bytes 00 01 02 .. (byte i = i mod 256); >505 refused\n"
    "                              a flash range past FFFFFF is refused ('1'); a count of 0 does\n"
    "                              nothing; other 50 sub-codes (81 ...) are accepted\n"
    "  70 / 71 / 72                model request: '0' and boot mode when it is --model, else '1'\n"
    "boot mode: the closing byte FF returns the device to its application at once (no delay):\n"
    "  the next application request is answered\n"
    "  anything else (22 30 31 32 40 41 60 61 62 ..) '0'; a request with a bad checksum '2'\n";

// Often enough that a watcher sees a transfer progress, rarely enough that 512 chunks
// do not mean 512 image files.
constexpr int kFlashDumpIntervalMs = 80;
constexpr size_t kFlashImageMax = 0x1000000;

struct FaultOption {
    uint8_t command;
    bool bySubCode;
    uint8_t subCode;
    sim::Fault fault;
    int delayMs;
    int fromOccurrence;
    int times;
};

struct BootFaultOption {
    sim::BootStep step;
    sim::BootBehaviour behaviour;
};

struct Options {
    std::string link;
    std::string record;
    std::string flashDump;
    std::string patternLog;
    std::string frameCheck;
    std::string flashImage;
    uint8_t flashFill = 0x00;  // not 0xFF, so that erased and written bytes stand out
    uint8_t model = sim::kModelP;
    bool boot = false;
    bool pace = false;
    long latencyMs = 0;
    double noiseRx = 0;
    double noiseTx = 0;
    double drop = 0;
    long seed = 1;
    bool verbose = false;
    std::string inject;  // fault drills: bytes for SIGUSR2
    std::vector<FaultOption> faults;
    std::vector<BootFaultOption> bootFaults;
    std::vector<std::pair<uint32_t, uint8_t>> stuck;  // address, mask
};

template <typename T>
struct Named {
    const char* name;
    T value;
};

constexpr Named<sim::Fault> kFaultNames[] = {
    {"silent", sim::Fault::Silent},
    {"refuse", sim::Fault::Refuse},
    {"late", sim::Fault::Late},
    {"badsum", sim::Fault::BadChecksum},
    {"garbage", sim::Fault::GarbageFirst},
    {"split", sim::Fault::Split},
    {"oversize", sim::Fault::Oversize},
    {"cut", sim::Fault::Cut},
    {"short", sim::Fault::Short},
    {"masked", sim::Fault::Masked},
    {"none", sim::Fault::None},
};

constexpr Named<sim::BootStep> kStepNames[] = {
    {"erase", sim::BootStep::Erase}, {"write", sim::BootStep::Write},     {"addr", sim::BootStep::Address},
    {"data", sim::BootStep::Data},   {"program", sim::BootStep::Program},
};

constexpr Named<sim::BootFault> kBootFaultNames[] = {
    {"silent", sim::BootFault::Silent},
    {"wrong", sim::BootFault::WrongReply},
    {"status", sim::BootFault::Status},
};

template <typename T, size_t N>
bool Lookup(const Named<T> (&table)[N], const std::string& name, T* out) {
    for (const Named<T>& entry : table) {
        if (name == entry.name) {
            *out = entry.value;
            return true;
        }
    }
    return false;
}

std::vector<std::string> Split(const std::string& text, char separator) {
    std::vector<std::string> parts(1);
    for (char c : text) {
        if (c == separator) {
            parts.emplace_back();
        } else {
            parts.back() += c;
        }
    }
    return parts;
}

bool ParseNumber(const std::string& text, int base, long max, long* out) {
    if (text.empty()) return false;
    char* end = nullptr;
    errno = 0;
    const long value = std::strtol(text.c_str(), &end, base);
    if (errno != 0 || *end != '\0' || value < 0 || value > max) return false;
    *out = value;
    return true;
}

bool ParseHexByte(std::string text, uint8_t* out) {
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) text.erase(0, 2);
    long value = 0;
    if (text.size() > 2 || !ParseNumber(text, 16, 0xFF, &value)) return false;
    *out = static_cast<uint8_t>(value);
    return true;
}

// CMD or CMD.SUB, both hex bytes.
bool ParseFaultTarget(const std::string& text, FaultOption* out) {
    const std::vector<std::string> parts = Split(text, '.');
    if (parts.size() > 2 || !ParseHexByte(parts[0], &out->command)) return false;
    out->bySubCode = parts.size() == 2;
    return !out->bySubCode || ParseHexByte(parts[1], &out->subCode);
}

bool ParseFault(const std::string& text, FaultOption* out) {
    const std::vector<std::string> parts = Split(text, ':');
    long ms = 0;
    long from = 0;
    long times = 0;
    if (parts.size() < 2 || parts.size() > 5) return false;
    if (!ParseFaultTarget(parts[0], out) || !Lookup(kFaultNames, parts[1], &out->fault)) return false;
    if (parts.size() >= 3 && !ParseNumber(parts[2], 10, 600000, &ms)) return false;
    if (parts.size() >= 4 && !ParseNumber(parts[3], 10, 1000000, &from)) return false;
    if (parts.size() == 5 && !ParseNumber(parts[4], 10, 1000000, &times)) return false;
    out->delayMs = static_cast<int>(ms);
    out->fromOccurrence = static_cast<int>(from);
    out->times = static_cast<int>(times);
    return true;
}

bool ParseBootFault(const std::string& text, BootFaultOption* out) {
    const std::vector<std::string> parts = Split(text, ':');
    long n = 0;
    if (parts.size() < 2 || parts.size() > 4) return false;
    if (!Lookup(kStepNames, parts[0], &out->step)) return false;
    if (!Lookup(kBootFaultNames, parts[1], &out->behaviour.fault)) return false;
    if (parts.size() >= 3 && !ParseHexByte(parts[2], &out->behaviour.value)) return false;
    if (parts.size() == 4 && !ParseNumber(parts[3], 10, 1000000, &n)) return false;
    out->behaviour.occurrence = static_cast<int>(n);
    return true;
}

// ADDR:MASK, both hex: ADDR below 1000000, MASK a byte.
bool ParseStuck(const std::string& text, std::pair<uint32_t, uint8_t>* out) {
    const size_t colon = text.find(':');
    long address = 0;
    if (colon == std::string::npos || !ParseNumber(text.substr(0, colon), 16, 0xFFFFFF, &address)) return false;
    out->first = static_cast<uint32_t>(address);
    return ParseHexByte(text.substr(colon + 1), &out->second) && out->second != 0;
}

// A rate from 0 up to (not including) 0.5: beyond that a line carries nothing.
bool ParseRate(const std::string& text, double* out) {
    char* end = nullptr;
    errno = 0;
    const double value = std::strtod(text.c_str(), &end);
    if (text.empty() || end == nullptr || *end != '\0' || errno != 0) return false;
    if (!(value >= 0 && value < 0.5)) return false;
    *out = value;
    return true;
}

bool ParseModel(const std::string& text, uint8_t* out) {
    if (text.size() != 1 || text[0] < 'p' || text[0] > 'r') return false;
    *out = static_cast<uint8_t>(text[0]);  // 'p', 'q', 'r' are the request bytes 0x70-0x72
    return true;
}

// The value of one option (its long name without the dashes); false when it is bad.
bool ParseValue(const std::string& name, const char* value, Options* o) {
    FaultOption fault{};
    BootFaultOption bootFault{};
    if (name == "link") o->link = value;
    else if (name == "record") o->record = value;
    else if (name == "flash-dump") o->flashDump = value;
    else if (name == "pattern-log") o->patternLog = value;
    else if (name == "inject") o->inject = value;
    else if (name == "frame-check") o->frameCheck = value;
    else if (name == "flash-image") o->flashImage = value;
    else if (name == "flash-fill") return ParseHexByte(value, &o->flashFill);
    else if (name == "latency") return ParseNumber(value, 10, 255, &o->latencyMs) && o->latencyMs >= 1;
    else if (name == "model") return ParseModel(value, &o->model);
    else if (name == "noise") return ParseRate(value, &o->noiseRx) && ParseRate(value, &o->noiseTx);
    else if (name == "noise-rx") return ParseRate(value, &o->noiseRx);
    else if (name == "noise-tx") return ParseRate(value, &o->noiseTx);
    else if (name == "drop") return ParseRate(value, &o->drop);
    else if (name == "seed") return ParseNumber(value, 10, 2147483647, &o->seed);
    else if (name == "fault") {
        if (!ParseFault(value, &fault)) return false;
        o->faults.push_back(fault);
    } else if (name == "boot-fault") {
        if (!ParseBootFault(value, &bootFault)) return false;
        o->bootFaults.push_back(bootFault);
    } else if (name == "stuck") {
        std::pair<uint32_t, uint8_t> stuck;
        if (!ParseStuck(value, &stuck)) return false;
        o->stuck.push_back(stuck);
    }
    return true;
}

// --help and --version are not among them: they stand alone (main), and
// given with others they are as bad as any unknown option.
const option kOptions[] = {
    {"link", required_argument, nullptr, 0},
    {"record", required_argument, nullptr, 0},
    {"flash-dump", required_argument, nullptr, 0},
    {"flash-fill", required_argument, nullptr, 0},
    {"flash-image", required_argument, nullptr, 0},
    {"pattern-log", required_argument, nullptr, 0},
    {"model", required_argument, nullptr, 0},
    {"boot", no_argument, nullptr, 0},
    {"pace", no_argument, nullptr, 0},
    {"latency", required_argument, nullptr, 0},
    {"fault", required_argument, nullptr, 0},
    {"boot-fault", required_argument, nullptr, 0},
    {"stuck", required_argument, nullptr, 0},
    {"frame-check", required_argument, nullptr, 0},
    {"noise", required_argument, nullptr, 0},
    {"noise-rx", required_argument, nullptr, 0},
    {"noise-tx", required_argument, nullptr, 0},
    {"drop", required_argument, nullptr, 0},
    {"seed", required_argument, nullptr, 0},
    {"verbose", no_argument, nullptr, 0},
    {"inject", required_argument, nullptr, 0},
    {nullptr, 0, nullptr, 0},
};

bool Refuse(const char* arg) {
    std::fprintf(stderr, "tq7300-sim: bad or incomplete option %s\n", arg);
    return false;
}

bool ParseArgs(int argc, char** argv, Options* o) {
    opterr = 0;  // the refusal below names the option as given
    for (;;) {
        const int at = optind;  // the option being read: "+" stops getopt from reordering
        int index = 0;
        const int got = getopt_long(argc, argv, "+", kOptions, &index);
        if (got == -1) {
            // getopt stops at a word that is no option, or just past a "--": both refused.
            if (at < argc) return Refuse(argv[at]);
            break;
        }
        if (got != 0) return Refuse(argv[at]);
        const std::string name = kOptions[index].name;
        // The full spelling only, with the value as the next word: getopt_long
        // would also take an abbreviation or --name=value, which were never options.
        if (argv[at] != "--" + name) return Refuse(argv[at]);
        if (name == "pace") o->pace = true;
        else if (name == "boot") o->boot = true;
        else if (name == "verbose") o->verbose = true;
        else if (!ParseValue(name, optarg, o)) return Refuse(argv[at]);
    }
    if (o->link.empty()) std::fprintf(stderr, "tq7300-sim: --link is required\n");
    return !o->link.empty();
}

// Via a temporary file and rename(), so that a reader never sees half an image.
void WriteFlashDump(const std::string& path, const std::vector<uint8_t>& flash) {
    const std::string temp = path + ".tmp";
    std::FILE* f = std::fopen(temp.c_str(), "wb");
    bool ok = f != nullptr && std::fwrite(flash.data(), 1, flash.size(), f) == flash.size();
    if (f != nullptr) ok = (std::fclose(f) == 0) && ok;
    if (ok && std::rename(temp.c_str(), path.c_str()) == 0) return;
    std::perror(("tq7300-sim: flash dump " + path).c_str());
}

// The whole file, or false with the reason on stderr.
bool ReadWhole(const std::string& path, std::vector<uint8_t>& bytes) {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) {
        std::perror(("tq7300-sim: " + path).c_str());
        return false;
    }
    uint8_t chunk[4096];
    for (size_t n; (n = std::fread(chunk, 1, sizeof chunk, f)) > 0 && bytes.size() <= kFlashImageMax;) {
        bytes.insert(bytes.end(), chunk, chunk + n);
    }
    std::fclose(f);
    if (bytes.size() <= kFlashImageMax) return true;
    std::fprintf(stderr, "tq7300-sim: %s is larger than the flash\n", path.c_str());
    return false;
}

void ConfigureModel(const Options& o, const std::vector<uint8_t>& image, sim::DeviceModel& model) {
    model.FillFlash(o.flashFill);
    if (!image.empty()) model.SetFlash(0, image.data(), image.size());
    model.SetModel(o.model);
    for (const FaultOption& f : o.faults) {
        if (f.bySubCode) {
            model.SetFault(f.command, f.subCode, f.fault, f.delayMs, f.fromOccurrence, f.times);
        } else {
            model.SetFault(f.command, f.fault, f.delayMs, f.fromOccurrence, f.times);
        }
    }
    for (const BootFaultOption& b : o.bootFaults) model.SetBootFault(b.step, b.behaviour);
    for (const auto& [address, mask] : o.stuck) model.StickBits(address, mask);
    if (o.boot) model.EnterBootMode();
}

using FilePtr = std::unique_ptr<std::FILE, int (*)(std::FILE*)>;

// Output files may live next to the link, in a directory nobody has made yet.
void MakeParentDirectory(const std::string& path) {
    std::error_code ec;
    const std::filesystem::path parent = std::filesystem::path(path).parent_path();
    if (!parent.empty()) std::filesystem::create_directories(parent, ec);
}

bool OpenAppending(const std::string& path, FilePtr& file) {
    MakeParentDirectory(path);
    file.reset(std::fopen(path.c_str(), "ab"));
    if (!file) std::perror(("tq7300-sim: " + path).c_str());
    return static_cast<bool>(file);
}

// One line per pattern, flushed at once so that a test can read it while we run.
void LogPattern(std::FILE* f, const sim::PatternRecord& pattern) {
    std::fprintf(f, "%lld %zu", static_cast<long long>(pattern.ms), pattern.data.size());
    if (!pattern.data.empty()) std::fputc(' ', f);
    for (uint8_t b : pattern.data) std::fprintf(f, "%02X", b);
    std::fputc('\n', f);
    std::fflush(f);
}

// ---- --frame-check ---------------------------------------------------------------
// Violations go to stderr as they happen, so that a soak's log shows them in order,
// stamped in milliseconds since the simulator started.
const std::chrono::steady_clock::time_point simStart = std::chrono::steady_clock::now();

void FeedFrameCheck(sim::FrameCheck& check, const uint8_t* data, size_t n) {
    using namespace std::chrono;
    const auto ms = duration_cast<milliseconds>(steady_clock::now() - simStart).count();
    const uint64_t before = check.Totals().violations;
    check.Feed(data, n, ms);
    if (check.Totals().violations == before) return;
    const std::vector<std::string> kept = check.Violations();
    std::fprintf(stderr, "tq7300-sim: frame check: %s\n",
                 kept.size() > before ? kept.back().c_str() : "violation (text not kept)");
}

// Via a temporary file and rename(), like the flash dump.
void WriteFrameCheck(const std::string& path, const sim::FrameCheck& check) {
    const std::string temp = path + ".tmp";
    const std::string text = check.Report();
    std::FILE* f = std::fopen(temp.c_str(), "w");
    bool ok = f != nullptr && std::fwrite(text.data(), 1, text.size(), f) == text.size();
    if (f != nullptr) ok = (std::fclose(f) == 0) && ok;
    if (ok && std::rename(temp.c_str(), path.c_str()) == 0) return;
    std::perror(("tq7300-sim: frame check " + path).c_str());
}
// ---- end of --frame-check ----------------------------------------------------------

bool AttachSinks(const Options& o, sim::PtyDevice& device, FilePtr& record, FilePtr& patterns, sim::FrameCheck* check) {
    std::FILE* recordFile = nullptr;
    if (!o.record.empty()) {
        if (!OpenAppending(o.record, record)) return false;
        recordFile = record.get();
    }
    if (recordFile != nullptr || check != nullptr) {
        device.OnReceived([recordFile, check](const uint8_t* data, size_t n) {
            if (recordFile != nullptr) {
                std::fwrite(data, 1, n, recordFile);
                std::fflush(recordFile);
            }
            if (check != nullptr) FeedFrameCheck(*check, data, n);
        });
    }
    if (!o.flashDump.empty()) {
        MakeParentDirectory(o.flashDump);
        device.OnFlashChanged([path = o.flashDump](const std::vector<uint8_t>& flash) { WriteFlashDump(path, flash); });
    }
    if (!o.patternLog.empty()) {
        if (!OpenAppending(o.patternLog, patterns)) return false;
        std::FILE* f = patterns.get();
        device.OnPattern([f](const sim::PatternRecord& pattern) { LogPattern(f, pattern); });
    }
    if (o.verbose)
        device.OnTrace([](const std::string& line) { std::fprintf(stderr, "tq7300-sim: %s\n", line.c_str()); });
    return true;
}

// ---- fault drills: signals that change a running device -------------------------
// A test makes the device recover, or makes noise on the line, at the moment it chooses.

void SayDone(const std::string& line) {
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
}

void Recover(sim::PtyDevice& device) {
    device.Configure([](sim::DeviceModel& model) {
        model.ClearFaults();
        for (const auto& step : kStepNames) model.SetBootFault(step.value, sim::BootBehaviour{});
    });
    SayDone("RECOVERED");
}

void InjectFile(const std::string& path, sim::PtyDevice& device) {
    std::vector<uint8_t> bytes;
    if (std::FILE* f = std::fopen(path.c_str(), "rb")) {
        uint8_t chunk[4096];
        for (size_t n; (n = std::fread(chunk, 1, sizeof chunk, f)) > 0;) bytes.insert(bytes.end(), chunk, chunk + n);
        std::fclose(f);
    } else {
        std::perror(("tq7300-sim: --inject " + path).c_str());
    }
    const size_t count = bytes.size();
    device.Inject(std::move(bytes));
    SayDone("INJECTED " + std::to_string(count));
}

void OnDrillSignal(int signal, const Options& o, sim::PtyDevice& device) {
    if (signal == SIGUSR1) Recover(device);
    if (signal == SIGUSR2 && !o.inject.empty()) InjectFile(o.inject, device);
}

// Waits in one-second steps so that the wait itself is bounded; returns on SIGINT/SIGTERM.
// onSignal gets SIGHUP, SIGUSR1 and SIGUSR2; everySecond runs after each step.
void AwaitTermination(const sigset_t& signals, const std::function<void(int)>& onSignal,
                      const std::function<void()>& everySecond) {
    const timespec step{1, 0};
    for (;;) {
        const int got = sigtimedwait(&signals, nullptr, &step);
        if (got == SIGINT || got == SIGTERM) return;
        if (got > 0 && onSignal) onSignal(got);
        if (everySecond) everySecond();
    }
}

// What the marginal line did, for a benchmark to count beside the console's words.
void SayNoise(const Options& o, const sim::PtyDevice& device) {
    if (o.noiseRx <= 0 && o.noiseTx <= 0 && o.drop <= 0) return;
    const sim::NoiseCounts rx = device.NoiseReceived();
    const sim::NoiseCounts tx = device.NoiseSent();
    std::printf("NOISE rx %llu %llu %llu tx %llu %llu %llu\n", (unsigned long long)rx.bytes,
                (unsigned long long)rx.flipped, (unsigned long long)rx.dropped, (unsigned long long)tx.bytes,
                (unsigned long long)tx.flipped, (unsigned long long)tx.dropped);
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 2 && std::string(argv[1]) == "--help") {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (argc == 2 && std::string(argv[1]) == "--version") {
        std::fputs("tq7300-sim " TQ_VERSION " (commit " TQ_COMMIT ")\n", stdout);
        return 0;
    }
    Options options;
    if (!ParseArgs(argc, argv, &options)) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    // Blocked before the device thread starts, so that only sigtimedwait() takes them.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGHUP);   // --frame-check: the host closed the line
    sigaddset(&signals, SIGUSR1);  // fault drills
    sigaddset(&signals, SIGUSR2);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    signal(SIGPIPE, SIG_IGN);

    sim::PtyOptions ptyOptions;
    ptyOptions.linkPath = options.link;
    ptyOptions.pace = options.pace;
    ptyOptions.latencyMs = static_cast<int>(options.latencyMs);
    ptyOptions.flashReportMs = kFlashDumpIntervalMs;
    ptyOptions.noiseRx = options.noiseRx;
    ptyOptions.noiseTx = options.noiseTx;
    ptyOptions.drop = options.drop;
    ptyOptions.seed = static_cast<uint64_t>(options.seed);
    sim::PtyDevice device(ptyOptions);
    std::vector<uint8_t> image;
    if (!options.flashImage.empty() && !ReadWhole(options.flashImage, image)) return 1;
    device.Configure([&](sim::DeviceModel& model) { ConfigureModel(options, image, model); });
    FilePtr record(nullptr, std::fclose);
    FilePtr patterns(nullptr, std::fclose);
    std::unique_ptr<sim::FrameCheck> frameCheck;
    if (!options.frameCheck.empty()) {
        MakeParentDirectory(options.frameCheck);
        frameCheck = std::make_unique<sim::FrameCheck>();
        WriteFrameCheck(options.frameCheck, *frameCheck);
    }
    if (!AttachSinks(options, device, record, patterns, frameCheck.get())) return 1;
    // Before the device thread runs, so that its own dumps never race this one.
    if (!options.flashDump.empty()) WriteFlashDump(options.flashDump, device.FlashDump());
    std::string error;
    if (!device.Start(&error)) {
        std::fprintf(stderr, "tq7300-sim: %s\n", error.c_str());
        return 1;
    }
    if (options.verbose)
        std::fprintf(stderr, "tq7300-sim: %s -> %s\n", options.link.c_str(), device.SlavePath().c_str());
    std::printf("READY %s\n", options.link.c_str());
    std::fflush(stdout);

    AwaitTermination(
        signals,
        [&](int signal) {
            if (signal == SIGHUP && frameCheck) frameCheck->HostClosed();
            OnDrillSignal(signal, options, device);
        },
        [&] {
            if (frameCheck) WriteFrameCheck(options.frameCheck, *frameCheck);
        });
    device.Stop();
    SayNoise(options, device);
    if (frameCheck) WriteFrameCheck(options.frameCheck, *frameCheck);
    if (!options.flashDump.empty()) WriteFlashDump(options.flashDump, device.FlashDump());
    return 0;
}
