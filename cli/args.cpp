// args.cpp - parsing tq73's command line.
#include "cli/args.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "operations/flash_transfer.h"
#include "shell/number_text.h"

namespace cli {

namespace {

constexpr uint32_t kMaxAddress = ops::kAddressMask;  // 24 bits on the wire
constexpr uint32_t kMaxErase = 0xFFFF;               // the erase request's 16-bit count
constexpr int kMaxSeconds = 1000000;
constexpr int kMaxPositional = 8;

struct Named {
    const char* name;
    Command command;
    int positionalMin;
    int positionalMax;
};

// Commands with their positional argument counts.
constexpr Named kCommands[] = {
    {"help", Command::Help, 0, 0},      {"ports", Command::Ports, 0, 0},     {"monitor", Command::Monitor, 0, 0},
    {"stop", Command::Stop, 0, 0},      {"resume", Command::Resume, 0, 0},   {"request62", Command::Request62, 0, 0},
    {"update", Command::Update, 1, 1},  {"recover", Command::Recover, 1, 1}, {"read", Command::Read, 3, 3},
    {"write", Command::Write, 2, 3},    {"erase", Command::Erase, 2, 2},     {"param", Command::Param, 3, 3},
    {"clock", Command::ClockSet, 1, 1}, {"pattern", Command::Pattern, 0, 0}, {"verify", Command::Verify, 1, 3},
    {"decode", Command::Decode, 1, 1},  {"check", Command::Check, 0, 0},
};

bool Fail(Request& r, const char* format, const char* detail = "") {
    std::snprintf(r.error, sizeof r.error, format, detail);
    return false;
}

bool NumberField(Request& r, const char* what, const char* text, uint32_t max, char* field, uint32_t& value) {
    char why[160];
    if (std::strlen(text) >= kNumberTextSize) {
        std::snprintf(r.error, sizeof r.error, "%s is longer than the %u characters the window's edit holds", what,
                      static_cast<unsigned>(kNumberTextSize - 1));
        return false;
    }
    if (!shell::ParseExactNumberText(text, max, value, why, sizeof why)) {
        std::snprintf(r.error, sizeof r.error, "%s %s", what, why);
        return false;
    }
    std::snprintf(field, kNumberTextSize, "%s", text);
    return true;
}

bool ParseSeconds(Request& r, const char* text) {
    uint32_t value = 0;
    char why[160];
    static_assert(kMaxSeconds == 1000000, "the message names the limit");
    if (text == nullptr || !shell::AllDigits(text) ||
        !shell::ParseExactNumberText(text, kMaxSeconds, value, why, sizeof why) || value == 0) {
        return Fail(r, "--seconds takes a whole number of seconds from 1 to 1000000, not \"%s\"", text ? text : "");
    }
    r.seconds = static_cast<int>(value);
    return true;
}

// A write or an erase past the top of the address space, in tq73's words.
bool WithinAddressSpace(Request& r, const char* command) {
    if (!ops::RunsPastTopOfAddressSpace(r.addressValue, r.lengthValue)) return true;
    std::snprintf(r.error, sizeof r.error,
                  "%s: %Xh + %Xh runs past the top of the device's 24-bit address space (FFFFFFh): nothing "
                  "was sent",
                  command, static_cast<unsigned>(r.addressValue), static_cast<unsigned>(r.lengthValue));
    return false;
}

// The command's positional arguments into the request.
bool TakePositional(Request& r, const char* const* p, int n) {
    switch (r.command) {
        case Command::Update:
        case Command::Recover:
        case Command::Decode: r.file = p[0]; return true;
        case Command::Read:
            r.file = p[2];
            return NumberField(r, "ADDR", p[0], kMaxAddress, r.address, r.addressValue) &&
                   NumberField(r, "LEN", p[1], ops::kTransferBufferSize, r.length, r.lengthValue);
        case Command::Write:
            r.file = p[1];
            return NumberField(r, "ADDR", p[0], kMaxAddress, r.address, r.addressValue) &&
                   (n < 3 || (NumberField(r, "LEN", p[2], ops::kTransferBufferSize, r.length, r.lengthValue) &&
                              WithinAddressSpace(r, "write")));
        case Command::Verify:
            if (n == 1) {  // a firmware file: the pages the programmer would write
                r.firmwareVerify = true;
                r.file = p[0];
                return true;
            }
            r.file = p[1];
            return NumberField(r, "ADDR", p[0], kMaxAddress, r.address, r.addressValue) &&
                   (n < 3 || NumberField(r, "LEN", p[2], ops::kTransferBufferSize, r.length, r.lengthValue));
        case Command::Erase:
            return NumberField(r, "ADDR", p[0], kMaxAddress, r.address, r.addressValue) &&
                   NumberField(r, "LEN", p[1], kMaxErase, r.length, r.lengthValue) && WithinAddressSpace(r, "erase");
        case Command::Param:
            if (std::strlen(p[0]) != 1 || p[0][0] < '0' || p[0][0] > '3') {
                return Fail(r, "param takes a block number from 0 to 3, not \"%s\"", p[0]);
            }
            r.block = p[0][0] - '0';
            r.text1 = p[1];
            r.text2 = p[2];
            return true;
        case Command::ClockSet:
            if (std::strcmp(p[0], "get") == 0) {
                r.command = Command::ClockGet;
            } else if (std::strcmp(p[0], "set") != 0) {
                return Fail(r, "clock takes set or get, not \"%s\"", p[0]);
            }
            return true;
        default: return true;
    }
}

bool AddPort(Request& r, const char* port) {
    if (r.portCount == kMaxUnits) return Fail(r, "at most 64 ports at once");
    r.ports[r.portCount++] = port;
    if (r.port == nullptr) r.port = port;
    return true;
}

// "--sim" alone is one simulated unit; "--sim N" (N from 1 to 64) a station of
// N. No command is all digits, so the count cannot be mistaken for one.
bool TakeSimUnits(Request& r, const char* next, int& i) {
    r.sim = true;
    r.simUnits = 1;
    if (next == nullptr || !shell::AllDigits(next)) return true;
    ++i;
    const long n = std::strtol(next, nullptr, 10);
    if (std::strlen(next) > 2 || n < 1 || n > kMaxUnits) return Fail(r, "--sim takes 1 to 64 units, not %s", next);
    r.simUnits = static_cast<int>(n);
    return true;
}

// One option; i moves past its value. false with the reason.
bool TakeOption(Request& r, int argc, const char* const* argv, int& i) {
    const char* a = argv[i];
    const char* value = nullptr;
    if (std::strncmp(a, "--port=", 7) == 0) {
        value = a + 7;
        a = "--port";
    }
    if (std::strcmp(a, "--port") == 0) {
        if (value == nullptr) value = i + 1 < argc ? argv[++i] : nullptr;
        if (value == nullptr || value[0] == '\0') return Fail(r, "--port needs a port");
        return AddPort(r, value);
    } else if (std::strcmp(a, "--sim") == 0) {
        return TakeSimUnits(r, i + 1 < argc ? argv[i + 1] : nullptr, i);
    } else if (std::strcmp(a, "--ports-from") == 0 || std::strcmp(a, "--record") == 0 ||
               std::strcmp(a, "--label") == 0) {
        value = i + 1 < argc ? argv[++i] : nullptr;
        if (value == nullptr || value[0] == '\0') return Fail(r, "%s needs a value", a);
        (a[2] == 'p' ? r.portsFrom : a[2] == 'r' ? r.record : r.label) = value;
    } else if (std::strcmp(a, "--if-different") == 0) {
        r.ifDifferent = true;
    } else if (std::strcmp(a, "--quiet") == 0 || std::strcmp(a, "-q") == 0) {
        if (r.verbosity == Verbosity::Verbose) return Fail(r, "--quiet and --verbose exclude each other");
        r.verbosity = Verbosity::Quiet;
    } else if (std::strcmp(a, "--verbose") == 0 || std::strcmp(a, "-v") == 0) {
        if (r.verbosity == Verbosity::Quiet) return Fail(r, "--quiet and --verbose exclude each other");
        r.verbosity = Verbosity::Verbose;
    } else if (std::strcmp(a, "--force") == 0) {
        r.force = true;
    } else if (std::strcmp(a, "--json") == 0) {
        r.json = true;
    } else if (std::strcmp(a, "--verify") == 0) {
        r.verifyAfter = true;
    } else if (std::strcmp(a, "--all") == 0) {
        r.allRanges = true;
    } else if (std::strcmp(a, "--expect-answer") == 0) {
        r.expectAnswer = true;
    } else if (std::strcmp(a, "--strict") == 0) {
        r.strict = true;
    } else if (std::strcmp(a, "--decode") == 0) {
        r.decode = true;
    } else if (std::strcmp(a, "--capture") == 0) {
        r.capture = i + 1 < argc ? argv[++i] : nullptr;
        if (r.capture == nullptr || r.capture[0] == '\0') return Fail(r, "--capture needs a file name");
    } else if (std::strcmp(a, "--help") == 0 || std::strcmp(a, "-h") == 0) {
        r.command = Command::Help;
    } else if (std::strcmp(a, "--version") == 0 || std::strcmp(a, "-V") == 0) {
        if (r.command != Command::Help) r.command = Command::Version;
    } else if (std::strcmp(a, "--seconds") == 0 || std::strncmp(a, "--seconds=", 10) == 0) {
        if (r.command != Command::Monitor && r.command != Command::Pattern) {
            return Fail(r, "--seconds belongs to monitor and pattern, after the command");
        }
        return ParseSeconds(r, a[9] == '=' ? a + 10 : (i + 1 < argc ? argv[++i] : nullptr));
    } else {
        return Fail(r, "unknown option %s (tq73 --help lists them)", a);
    }
    return true;
}

// --help and --version answer without a command, whatever else is given.
bool AsksAboutTq73(Command command) { return command == Command::Help || command == Command::Version; }

const Named* FindCommand(const char* name) {
    for (const Named& c : kCommands) {
        if (std::strcmp(c.name, name) == 0) return &c;
    }
    return nullptr;
}

}  // namespace

bool ParseArguments(int argc, const char* const* argv, Request& r) {
    const char* positional[kMaxPositional];
    int count = 0;
    bool optionsEnded = false;
    const Named* command = nullptr;
    for (int i = 1; i < argc; ++i) {
        const char* a = argv[i];
        if (!optionsEnded && std::strcmp(a, "--") == 0) {
            optionsEnded = true;
        } else if (!optionsEnded && a[0] == '-' && a[1] != '\0' && !(a[1] >= '0' && a[1] <= '9')) {
            // "-5" is an argument (a number the command checks), not an option.
            // A text that starts with '-' (a parameter text) follows "--".
            if (!TakeOption(r, argc, argv, i)) return false;
        } else if (command == nullptr) {
            command = FindCommand(a);
            if (command == nullptr) return Fail(r, "unknown command \"%s\" (tq73 --help lists them)", a);
            if (!AsksAboutTq73(r.command)) r.command = command->command;
        } else if (count < kMaxPositional) {
            positional[count++] = a;
        } else {
            return Fail(r, "too many arguments");
        }
    }
    if (AsksAboutTq73(r.command)) return true;
    if (command == nullptr) return Fail(r, "no command given (tq73 --help lists them)");
    if (count < command->positionalMin || count > command->positionalMax) {
        return Fail(r,
                    count < command->positionalMin ? "%s: arguments missing (tq73 --help)"
                                                   : "%s: too many arguments (tq73 --help)",
                    command->name);
    }
    if (r.sim && (r.port != nullptr || r.portsFrom != nullptr)) {
        return Fail(r, "give either --port or --sim, not both (--ports-from is ports too)");
    }
    if (r.command == Command::Ports && (r.portCount > 1 || r.portsFrom != nullptr || r.simUnits > 1 || r.record)) {
        return Fail(r, "ports lists the ports of this computer: it takes no units and makes no record");
    }
    if (r.label != nullptr && ServesStation(r)) return Fail(r, "--label names one unit; a station names its by port");
    if (r.ifDifferent && r.command != Command::Update) return Fail(r, "--if-different belongs to update");
    const bool verifies = r.command == Command::Write || r.command == Command::Update || r.command == Command::Recover;
    if (r.verifyAfter && !verifies) return Fail(r, "--verify belongs to write, update and recover");
    if (r.allRanges && !r.verifyAfter && r.command != Command::Verify) {
        return Fail(r, "--all belongs to verify and to --verify");
    }
    const bool firmware = r.command == Command::Update || r.command == Command::Recover || r.command == Command::Verify;
    if (r.force && !firmware) return Fail(r, "--force belongs to update, recover and verify");
    if (r.strict && !firmware) return Fail(r, "--strict belongs to update, recover and verify");
    const bool unwaited = r.command == Command::Resume || r.command == Command::Request62 ||
                          r.command == Command::ClockSet || r.command == Command::Param;
    if (r.expectAnswer && !unwaited) {
        return Fail(r, "--expect-answer belongs to resume, request62, clock set and param");
    }
    if (r.capture != nullptr && (r.command == Command::Decode || r.command == Command::Ports)) {
        return Fail(r, "--capture belongs to the commands that use the port");
    }
    if (!TakePositional(r, positional, count)) return false;
    if (r.file != nullptr && r.file[0] == '\0') {
        return Fail(r, "%s: FILE is empty: give the name of a file", CommandName(r.command));
    }
    // A verify of nothing would say "equal" and prove nothing.
    if (r.command == Command::Verify && !r.firmwareVerify && r.length[0] != '\0' && r.lengthValue == 0) {
        return Fail(r,
                    "verify: LEN 0 compares nothing; give the number of bytes, or leave LEN out for the file's size");
    }
    return true;
}

bool ServesStation(const Request& r) {
    if (r.command == Command::Help || r.command == Command::Version || r.command == Command::Ports ||
        r.command == Command::Decode) {
        return false;
    }
    return r.portCount > 1 || r.portsFrom != nullptr || r.simUnits > 1;
}

int UnitChoiceArguments(int argc, const char* const* argv, int i) {
    const char* a = argv[i];
    if (std::strcmp(a, "--port") == 0 || std::strcmp(a, "--ports-from") == 0) return i + 1 < argc ? 2 : 1;
    if (std::strncmp(a, "--port=", 7) == 0) return 1;
    if (std::strcmp(a, "--sim") == 0) return i + 1 < argc && shell::AllDigits(argv[i + 1]) ? 2 : 1;
    return 0;
}

const char* CommandName(Command command) {
    if (command == Command::ClockGet) return "clock get";
    if (command == Command::ClockSet) return "clock set";
    for (const Named& c : kCommands) {
        if (c.command == command) return c.name;
    }
    return "";
}

const char* UsageText() {
    return "usage: tq73 [--port PORT]... [--ports-from FILE] [--sim [N]] [--record FILE] [--label NAME]\n"
           "            [--quiet | --verbose] [--json] [--force] [--strict] [--verify] [--all]\n"
           "            [--expect-answer] [--if-different] [--decode] [--capture FILE]\n"
           "            COMMAND [ARGS] [--seconds N]\n"
           "       tq73 --help | --version\n"
           "\n"
           "The TQ7300 service console's commands from a shell: the same core as tq73panel.exe,\n"
           "so every operation puts the very bytes on the line that the window's button does.\n"
           "\n"
           "commands:\n"
           "  ports                     list the serial ports with what the system knows of them\n"
           "  check                     time a few one-byte flash reads: the round trip against what the\n"
           "                            line needs, what that costs a full update, the likely cause\n"
           "  monitor [--seconds N]     print every frame the device sends until Ctrl+C or N seconds\n"
           "  stop                      ap-stop: exit 0 only when the device answered\n"
           "  resume                    ap-resume (request 0x61)\n"
           "  request62                 request 0x62\n"
           "  update FILE               \"farm udt\": the model request, then the boot-mode update\n"
           "  recover FILE              \"recovery\": the boot-mode update without the model request\n"
           "  read ADDR LEN FILE        read LEN bytes of flash from ADDR into FILE\n"
           "  write ADDR FILE [LEN]     write FILE (or its first LEN bytes) into flash at ADDR\n"
           "  erase ADDR LEN            erase LEN bytes of flash from ADDR (at most FFFFh)\n"
           "  param K TEXT1 TEXT2       write parameter block K (0 to 3) made of the two texts\n"
           "  clock set | clock get     set the device clock from this computer's local time;\n"
           "                            send the query and print the answer\n"
           "  pattern [--seconds N]     run the pattern sequence for N seconds (default: until\n"
           "                            Ctrl+C), then stop it\n"
           "  verify ADDR FILE [LEN]    read FILE's size (or LEN bytes) of flash from ADDR and compare\n"
           "                            it with FILE; nothing is written\n"
           "  verify FILE               compare the pages an update of firmware FILE writes with the\n"
           "                            unit's flash (read in its application mode)\n"
           "  decode FILE | -           decode a session transcript, tq73 output (--json too), a raw\n"
           "                            capture of the line or a --capture file, frame by frame\n"
           "  help                      print this text (as --help)\n"
           "\n"
           "write --verify, update --verify and recover --verify verify what they wrote. After an\n"
           "update the unit returns to its application; tq73 waits up to 15 s for it to answer a\n"
           "one-byte flash read before it verifies. A verify lists the first 10 differing ranges\n"
           "(--all: every one) with the file's and the flash's bytes.\n"
           "\n"
           "resume, request62, clock set and the 0x62 that ends param need no answer from the\n"
           "device: sent and not answered within 1 s is exit 0, and the result says so; with\n"
           "--expect-answer it is exit 4. A refusal is exit 5 either way.\n"
           "\n"
           "ADDR and LEN as the window's edits take them: decimal (4096) or hexadecimal with a\n"
           "trailing lower-case h (1000h), at most 255 characters. A transfer moves at most 20000h\n"
           "bytes; a write or an erase must end at or below FFFFFFh. FILE may be a pipe for write\n"
           "and verify (read to its end), never for update, recover or firmware verify. A read\n"
           "changes FILE only when it read the whole range; the bytes of a failed one go to\n"
           "FILE.partial. A read never writes through a link, onto a device or into a read-only\n"
           "file. A parameter text that starts with '-' follows \"--\".\n"
           "\n"
           "A station: --port given more than once (or --ports-from, or --sim N) runs the command on\n"
           "every unit at once, one tq73 process per unit; on a terminal one row per unit, then a\n"
           "summary; else each unit's lines behind its port. Exit 0 only when every unit succeeded,\n"
           "else the code all failed units share, else 9. A read's FILE needs {port} in its name\n"
           "(dump-{port}.bin): each unit writes its own file.\n"
           "\n"
           "Ctrl+C ends the operation cleanly and closes the port; an update's write pass that\n"
           "has begun is finished first. A second Ctrl+C (0.5 s or more after the first) cuts it\n"
           "short, a third leaves at once.\n"
           "\n"
           "options:\n"
           "  --port PORT      the serial port: a device path on Linux (/dev/ttyUSB0), COM3 or 3 on\n"
           "                   Windows; a USB adapter's serial number; auto: the one USB adapter;\n"
           "                   once per unit for a station\n"
           "  --ports-from F   a station's ports from file F, one a line ('#' starts a comment)\n"
           "  --sim [N]        use a simulated TQ7300 (Linux only), or a station of N of them\n"
           "  --record FILE    append the service record (one JSON object per unit) to FILE\n"
           "  --label NAME     the unit's name in the record\n"
           "  --if-different   update: verify first, and update only a unit that does not hold FILE\n"
           "  --quiet, -q      print only failures and the result\n"
           "  --verbose, -v    put the local time in front of every log line\n"
           "  --json           one JSON object per line per event (sent, received, log, progress, box,\n"
           "                   question, beep, notice, difference, error, result) on stdout\n"
           "  --verify         after write, update or recover: verify what was written\n"
           "  --all            with verify or --verify: list every differing range\n"
           "  --force          update, recover, verify: take a firmware file although records in it are\n"
           "                   damaged (a wrong checksum, a character that is not a hexadecimal digit,\n"
           "                   a record shorter than its byte count); without it such a file is refused\n"
           "  --strict         update, recover, verify: refuse a firmware file with bytes outside the\n"
           "                   blocks an update programs (without it they are a warning)\n"
           "  --expect-answer  resume, request62, clock set, param: exit 4 when the device does not\n"
           "                   answer\n"
           "  --seconds N      monitor, pattern: end after N seconds (1 to 1000000)\n"
           "  --decode         print what each frame is under its line (\"    = flash read ...\") and\n"
           "                   the English of the console's Japanese texts\n"
           "  --capture FILE   write every byte of the line each way, with its time, to FILE in pcapng\n"
           "                   (Wireshark; the dissector is tq7300.lua)\n"
           "  --help, -h       print this text\n"
           "  --version, -V    print the program, its version and the commit it was built from\n"
           "\n"
           "exit codes:\n"
           "  0    success; for a request that needs no answer, also sent and not answered\n"
           "  1    the console refused the command itself (see the message)\n"
           "  2    bad arguments (a write or an erase past FFFFFFh, parameter texts that do not\n"
           "       fit the block, an empty FILE included)\n"
           "  3    the port cannot be opened, is not a serial port, is used by another tq73, or was\n"
           "       closed under the operation\n"
           "  4    no answer from the device, or an answer that came damaged\n"
           "  5    refused by the device (a firmware model it does not take included)\n"
           "  6    a file cannot be read or written (a folder, a device, a link or a read-only file\n"
           "       as a read's FILE included), or a firmware file is damaged (see --force)\n"
           "  7    the firmware update failed (the programmer's result code is in the message),\n"
           "       the device's status bytes included (err 09: pages not programmed)\n"
           "  8    verify: the flash differs from the file\n"
           "  9    a station's units failed, not all with the same code\n"
           "  130  interrupted (Ctrl+C), a --verify that did not run included; monitor and pattern\n"
           "       without --seconds end with 0\n";
}

}  // namespace cli
