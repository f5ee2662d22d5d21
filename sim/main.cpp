// tq7300-sim: a simulated TQ7300 on a pseudo-terminal, for tests and for running the console without a device.
#include <signal.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "pty_device.h"

namespace {

const char kUsage[] =
    "usage: tq7300-sim --link PATH [options]\n"
    "  --link PATH                 symlink to the pty slave (required)\n"
    "  --record FILE               append every received byte to FILE\n"
    "  --flash-dump FILE           keep FILE holding the 64 KiB flash image\n"
    "  --flash-fill HEX            initial flash byte (default 00)\n"
    "  --model p|q|r               model request the device accepts (default p)\n"
    "  --boot                      start in boot mode (as after an interrupted update)\n"
    "  --pace                      38400-baud timing in both directions\n"
    "  --fault CMD:KIND[:MS]       CMD hex byte; KIND silent|refuse|late|badsum|garbage|split|oversize\n"
    "  --boot-fault STEP:KIND[:VALUE[:N]]\n"
    "                              STEP erase|write|addr|data|program; KIND silent|wrong|status;\n"
    "                              VALUE hex reply byte; N only the N-th time (default every time)\n"
    "  --verbose                   trace line traffic to stderr\n";

struct FaultOption {
    uint8_t command;
    sim::Fault fault;
    int delayMs;
};

struct BootFaultOption {
    sim::BootStep step;
    sim::BootBehaviour behaviour;
};

struct Options {
    std::string link;
    std::string record;
    std::string flashDump;
    uint8_t flashFill = 0x00;  // not 0xFF, so that erased and written bytes stand out
    uint8_t model = sim::kModelP;
    bool boot = false;
    bool pace = false;
    bool verbose = false;
    std::vector<FaultOption> faults;
    std::vector<BootFaultOption> bootFaults;
};

template <typename T>
struct Named {
    const char* name;
    T value;
};

constexpr Named<sim::Fault> kFaultNames[] = {
    {"silent", sim::Fault::Silent},   {"refuse", sim::Fault::Refuse},        {"late", sim::Fault::Late},
    {"badsum", sim::Fault::BadChecksum}, {"garbage", sim::Fault::GarbageFirst}, {"split", sim::Fault::Split},
    {"oversize", sim::Fault::Oversize}, {"none", sim::Fault::None},
};

constexpr Named<sim::BootStep> kStepNames[] = {
    {"erase", sim::BootStep::Erase}, {"write", sim::BootStep::Write},     {"addr", sim::BootStep::Address},
    {"data", sim::BootStep::Data},   {"program", sim::BootStep::Program},
};

constexpr Named<sim::BootFault> kBootFaultNames[] = {
    {"silent", sim::BootFault::Silent}, {"wrong", sim::BootFault::WrongReply}, {"status", sim::BootFault::Status},
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

std::vector<std::string> SplitColons(const std::string& text) {
    std::vector<std::string> parts(1);
    for (char c : text) {
        if (c == ':') {
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

bool ParseFault(const std::string& text, FaultOption* out) {
    const std::vector<std::string> parts = SplitColons(text);
    long ms = 0;
    if (parts.size() < 2 || parts.size() > 3) return false;
    if (!ParseHexByte(parts[0], &out->command) || !Lookup(kFaultNames, parts[1], &out->fault)) return false;
    if (parts.size() == 3 && !ParseNumber(parts[2], 10, 600000, &ms)) return false;
    out->delayMs = static_cast<int>(ms);
    return true;
}

bool ParseBootFault(const std::string& text, BootFaultOption* out) {
    const std::vector<std::string> parts = SplitColons(text);
    long n = 0;
    if (parts.size() < 2 || parts.size() > 4) return false;
    if (!Lookup(kStepNames, parts[0], &out->step)) return false;
    if (!Lookup(kBootFaultNames, parts[1], &out->behaviour.fault)) return false;
    if (parts.size() >= 3 && !ParseHexByte(parts[2], &out->behaviour.value)) return false;
    if (parts.size() == 4 && !ParseNumber(parts[3], 10, 1000000, &n)) return false;
    out->behaviour.occurrence = static_cast<int>(n);
    return true;
}

bool ParseModel(const std::string& text, uint8_t* out) {
    if (text.size() != 1 || text[0] < 'p' || text[0] > 'r') return false;
    *out = static_cast<uint8_t>(text[0]);  // 'p', 'q', 'r' are the request bytes 0x70-0x72
    return true;
}

// One option with its value; false (and a message) when the value is missing or bad.
bool ParseOption(const std::string& name, const char* value, Options* o) {
    if (value == nullptr) return false;
    FaultOption fault{};
    BootFaultOption bootFault{};
    if (name == "--link") o->link = value;
    else if (name == "--record") o->record = value;
    else if (name == "--flash-dump") o->flashDump = value;
    else if (name == "--flash-fill") return ParseHexByte(value, &o->flashFill);
    else if (name == "--model") return ParseModel(value, &o->model);
    else if (name == "--fault") {
        if (!ParseFault(value, &fault)) return false;
        o->faults.push_back(fault);
    } else if (name == "--boot-fault") {
        if (!ParseBootFault(value, &bootFault)) return false;
        o->bootFaults.push_back(bootFault);
    } else {
        return false;
    }
    return true;
}

bool ParseArgs(int argc, char** argv, Options* o) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--pace") o->pace = true;
        else if (arg == "--boot") o->boot = true;
        else if (arg == "--verbose") o->verbose = true;
        else if (!ParseOption(arg, i + 1 < argc ? argv[++i] : nullptr, o)) {
            std::fprintf(stderr, "tq7300-sim: bad or incomplete option %s\n", arg.c_str());
            return false;
        }
    }
    if (o->link.empty()) std::fprintf(stderr, "tq7300-sim: --link is required\n");
    return !o->link.empty();
}

// Via a temporary file and rename(), so that a reader never sees half an image.
void WriteFlashDump(const std::string& path, const sim::FlashImage& flash) {
    const std::string temp = path + ".tmp";
    std::FILE* f = std::fopen(temp.c_str(), "wb");
    bool ok = f != nullptr && std::fwrite(flash.data(), 1, flash.size(), f) == flash.size();
    if (f != nullptr) ok = (std::fclose(f) == 0) && ok;
    if (ok && std::rename(temp.c_str(), path.c_str()) == 0) return;
    std::perror(("tq7300-sim: flash dump " + path).c_str());
}

void ConfigureModel(const Options& o, sim::DeviceModel& model) {
    model.FillFlash(o.flashFill);
    model.SetModel(o.model);
    for (const FaultOption& f : o.faults) model.SetFault(f.command, f.fault, f.delayMs);
    for (const BootFaultOption& b : o.bootFaults) model.SetBootFault(b.step, b.behaviour);
    if (o.boot) model.EnterBootMode();
}

using FilePtr = std::unique_ptr<std::FILE, int (*)(std::FILE*)>;

// Output files may live next to the link, in a directory nobody has made yet.
void MakeParentDirectory(const std::string& path) {
    std::error_code ec;
    const std::filesystem::path parent = std::filesystem::path(path).parent_path();
    if (!parent.empty()) std::filesystem::create_directories(parent, ec);
}

bool AttachSinks(const Options& o, sim::PtyDevice& device, FilePtr& record) {
    if (!o.record.empty()) {
        MakeParentDirectory(o.record);
        record.reset(std::fopen(o.record.c_str(), "ab"));
        if (!record) {
            std::perror(("tq7300-sim: " + o.record).c_str());
            return false;
        }
        std::FILE* f = record.get();
        device.OnReceived([f](const uint8_t* data, size_t n) {
            std::fwrite(data, 1, n, f);
            std::fflush(f);
        });
    }
    if (!o.flashDump.empty()) {
        MakeParentDirectory(o.flashDump);
        device.OnFlashChanged([path = o.flashDump](const sim::FlashImage& flash) { WriteFlashDump(path, flash); });
    }
    if (o.verbose) device.OnTrace([](const std::string& line) { std::fprintf(stderr, "tq7300-sim: %s\n", line.c_str()); });
    return true;
}

// Waits in one-second steps so that the wait itself is bounded; returns on SIGINT/SIGTERM.
void AwaitTermination(const sigset_t& signals) {
    const timespec step{1, 0};
    for (;;) {
        const int got = sigtimedwait(&signals, nullptr, &step);
        if (got == SIGINT || got == SIGTERM) return;
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 2 && std::string(argv[1]) == "--help") {
        std::fputs(kUsage, stdout);
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
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    signal(SIGPIPE, SIG_IGN);

    sim::PtyDevice device(sim::PtyOptions{options.link, options.pace});
    device.Configure([&](sim::DeviceModel& model) { ConfigureModel(options, model); });
    FilePtr record(nullptr, std::fclose);
    if (!AttachSinks(options, device, record)) return 1;
    std::string error;
    if (!device.Start(&error)) {
        std::fprintf(stderr, "tq7300-sim: %s\n", error.c_str());
        return 1;
    }
    if (!options.flashDump.empty()) WriteFlashDump(options.flashDump, device.Flash());
    if (options.verbose) std::fprintf(stderr, "tq7300-sim: %s -> %s\n", options.link.c_str(), device.SlavePath().c_str());
    std::printf("READY %s\n", options.link.c_str());
    std::fflush(stdout);

    AwaitTermination(signals);
    device.Stop();
    if (!options.flashDump.empty()) WriteFlashDump(options.flashDump, device.Flash());
    return 0;
}
