// run.cpp - one tq73 command: the dialog's inputs set, its command id given,
// its loop carried out, and the outcome read from the progress board, the
// boxes and the log.
#include "cli/run.h"

#include <cstdio>
#include <cstring>

#include "platform/terminal.h"
#include "cli/capture_file.h"
#include "cli/exit_codes.h"
#include "cli/simulator.h"
#include "cli/output.h"
#include "cli/record.h"
#include "cli/port_choice.h"
#include "firmware/firmware_verify.h"
#include "firmware/image_loader.h"
#include "firmware/programmer.h"
#include "link/receiver.h"
#include "link/serial_session.h"
#include "operations/device_clock.h"
#include "operations/flash_transfer.h"
#include "operations/operation_params.h"
#include "operations/param_block.h"
#include "operations/progress.h"
#include "operations/result.h"
#include "operations/verify.h"
#include "platform/console/console_ui.h"
#include "platform/platform.h"
#include "shell/command_ids.h"
#include "shell/dispatch.h"
#include "shell/param_chain.h"
#include "shell/result_words.h"
#include "shell/session_commands.h"
#include "shell/transfer_commands.h"
#include "shell/worker_slot.h"

namespace cli {

namespace {

constexpr uint32_t kPumpMs = 10;
// The requests nobody waits for (0x61, 0x62, the clock) are still given the
// time WaitForResponse would give an answer (101 polls of 10 ms), so that the
// answer is shown and its status told.
constexpr uint32_t kAnswerWaitMs = wire::kWaitForResponseBoundMs;
// An open operation with no worker, no timer and no message left to move it
// cannot end by itself; this long after that tq73 stops waiting for it.
constexpr uint32_t kStallMs = 10000;
constexpr int kTextSize = 1024;

// The dialog's OperationParams record: zeroed at start, as the window's.
ops::OperationParams params;

const Request* request = nullptr;
// The port --port names: as given, or the adapter "auto" or a serial number chose.
std::string chosenPort;
char portLabel[512] = "";             // the port as the messages name it
char path[firmware::kPathSize] = "";  // FILE as the platform's file calls take it
// The parameter texts as the unit gets them (CP932), checked before the port
// is opened: a text that code page 932 cannot hold is refused whole, naming
// the character, never sent with '?' or a look-alike in its place.
char paramFirst[ops::kParamTextSize];
char paramSecond[ops::kParamTextSize];
char recordPath[firmware::kPathSize] = "";  // --record FILE as the file calls take it
int firmwareModel = 0;                      // the held firmware file's model request byte
const uint32_t runStartMs = platform::TickMs();

// ---- small helpers ----------------------------------------------------------

struct Outcome {
    int code = kExitOk;
    const char* name = "complete";
    char text[kTextSize] = "";
};

Outcome Make(int code, const char* name, const char* format, const char* a = "", const char* b = "",
             const char* c = "") {
    Outcome o;
    o.code = code;
    o.name = name;
    std::snprintf(o.text, sizeof o.text, format, a, b, c);
    return o;
}

void Append(Outcome& o, const char* format, const char* a = "", const char* b = "") {
    const size_t n = std::strlen(o.text);
    std::snprintf(o.text + n, sizeof o.text - n, format, a, b);
}

// " (port X, file F)": where the operation ran.
void AppendWhere(Outcome& o) {
    if (request->file != nullptr) {
        Append(o, " (port %s, file %s)", portLabel, request->file);
    } else if (portLabel[0] != '\0') {
        Append(o, " (port %s)", portLabel);
    }
}

bool Interrupted() { return platform::terminal::Interrupts() > 0; }

// Monitor and pattern without --seconds run until Ctrl+C: that is their end.
bool InterruptIsTheEnd() {
    return (request->command == Command::Monitor || request->command == Command::Pattern) && request->seconds < 0;
}

int CommandId(Command c) {
    switch (c) {
        case Command::Stop: return shell::kIdApStop;
        case Command::Resume: return shell::kIdApResume;
        case Command::Request62: return shell::kIdRequest62;
        case Command::Update: return shell::kIdFarmUpdate;
        case Command::Recover: return shell::kIdRecovery;
        case Command::Read: return shell::kIdFlashRead;
        case Command::Write: return shell::kIdFlashWrite;
        case Command::Verify: return request->firmwareVerify ? shell::kIdFirmwareVerify : shell::kIdFlashVerify;
        case Command::Erase: return shell::kIdFlashErase;
        case Command::Param: return shell::kIdParamBlock0 + request->block;
        case Command::ClockSet: return shell::kIdSetClock;
        case Command::ClockGet: return shell::kIdReadClock;
        case Command::Pattern: return shell::kIdSequenceStart;
        default: return 0;
    }
}

// The command's operation started, or its request sent; false when the
// console refused it.
bool StartRequested() {
    if (request->command == Command::Param) {
        return shell::WriteParamBlock(&params, request->block, paramFirst, paramSecond);
    }
    const int id = CommandId(request->command);
    const bool transfer = request->command == Command::Read || request->command == Command::Write ||
                          request->command == Command::Erase ||
                          (request->command == Command::Verify && !request->firmwareVerify);
    if (!transfer) return shell::OnCommand(&params, id);
    const shell::TransferRequest transferRequest{id, request->addressValue, request->lengthValue,
                                                 request->length[0] != '\0', path};
    return shell::StartTransfer(&params, transferRequest);
}

// The command as the window names it.
const char* ShownName() {
    switch (request->command) {
        case Command::Stop: return ops::ActivityName(ops::Activity::ApStop);
        case Command::Resume: return "ap-resume";
        case Command::Request62: return "request 0x62";
        case Command::Read: return ops::ActivityName(ops::Activity::FlashRead);
        case Command::Write: return ops::ActivityName(ops::Activity::FlashWrite);
        case Command::Verify:
            return ops::ActivityName(request->firmwareVerify ? ops::Activity::FirmwareVerify
                                                             : ops::Activity::FlashVerify);
        case Command::Erase: return ops::ActivityName(ops::Activity::FlashErase);
        default: return CommandName(request->command);
    }
}

// ---- the dialog's loop -----------------------------------------------------

// What the dialog's message loop does between two looks: the lines logged
// since, posted messages to the dispatcher, due timers to OnTimer. True when
// it carried something out.
bool Pump() {
    platform::console::ShowQueued();
    bool moved = false;
    platform::console::Posted m{};
    while (platform::console::TakePosted(m)) {
        shell::OnPrivateMessage(&params, m.message, m.wParam, m.lParam);
        moved = true;
    }
    for (int timer = platform::console::TakeDueTimer(); timer >= 0; timer = platform::console::TakeDueTimer()) {
        shell::OnTimer(timer);
        moved = true;
    }
    out::Progress(ops::ReadProgress(), platform::TickMs());
    platform::SleepMs(kPumpMs);
    return moved;
}

bool writePassCut = false;  // a second Ctrl+C closed the port under a write pass

// The first Ctrl+C: the pattern sequence has its stop flag; ap-stop ends by
// itself within two seconds; a write pass is finished (a few seconds at
// most); everything else waits on the device with its own bound, and closing
// the port ends that wait at once.
void StopOperation(const ops::ProgressSnapshot& s) {
    if (s.activity == ops::Activity::Sequence) {
        shell::StopSequence();
    } else if (firmware::WritePassRuns()) {
        out::Notice("the write pass has begun: finishing it, so that the unit is not left in the middle of "
                    "it (Ctrl+C again cuts it short)");
    } else if (s.activity != ops::Activity::ApStop) {
        out::Note("closing the port to end the operation");
        shell::ClosePort();
    }
}

// The second Ctrl+C: whatever still runs is cut short.
void CutOperation() {
    writePassCut = firmware::WritePassRuns();
    if (wire::SessionOpen()) shell::ClosePort();
}

// Windows ends the process within seconds: a write pass is ended before its
// next page with the closing byte (a few milliseconds), which leaves the unit
// able to be recovered; anything else is cut short at once.
void EndForClosing() {
    if (shell::EndWritePass()) {
        out::Notice("Windows is closing tq73: the write pass ends before its next page, with its closing byte");
    } else {
        CutOperation();
    }
}

// Pumps until the operation opened after `serial` has ended.
bool AwaitOperation(uint32_t serial) {
    const uint32_t start = platform::TickMs();
    bool stopAsked = false;
    int interruptsSeen = 0;
    uint32_t stalledSince = 0;
    for (;;) {
        const ops::ProgressSnapshot s = ops::ReadProgress();
        if (s.serial != serial && s.endMs != 0 && !shell::WorkerRunning()) return true;
        const bool timeUp = request->seconds > 0 && platform::TickMs() - start >= uint32_t(request->seconds) * 1000;
        const int interrupts = platform::terminal::Interrupts();
        if (interrupts > interruptsSeen && platform::terminal::Closing()) {
            EndForClosing();
            interruptsSeen = interrupts;
        } else if (interrupts > interruptsSeen) {
            if (interruptsSeen == 0) StopOperation(s);
            if (interrupts >= 2) CutOperation();
            stopAsked = stopAsked || s.activity == ops::Activity::Sequence;
            interruptsSeen = interrupts;
        } else if ((timeUp || wire::PortLost()) && !stopAsked && request->command == Command::Pattern) {
            shell::StopSequence();
            stopAsked = true;
        }
        const bool driven = Pump() || shell::WorkerRunning() || platform::console::AnyTimerRunning();
        stalledSince = driven ? 0 : (stalledSince == 0 ? platform::TickMs() : stalledSince);
        if (stalledSince != 0 && platform::TickMs() - stalledSince >= kStallMs) return false;
    }
}

// Waits (bounded) for the answer to a request that nobody waits for.
bool AwaitAnswer(int receivedBefore) {
    const uint32_t start = platform::TickMs();
    while (platform::TickMs() - start < kAnswerWaitMs && !Interrupted()) {
        if (out::Seen().received > receivedBefore) return true;
        Pump();
    }
    return out::Seen().received > receivedBefore;
}

// ---- before the port opens ----------------------------------------------------

bool TakePath(Outcome& o) {
    if (!platform::terminal::Utf8ToPath(request->file, path, sizeof path) || std::strlen(path) >= firmware::kPathSize) {
        o = Make(kExitUsage, "usage", "%s: the file name %s is longer than the %s characters the console takes",
                 ShownName(), request->file, "255");
        return false;
    }
    return true;
}

// A damaged record would be programmed as read: refused unless --force (the
// window asks). An update of a file without a model record is refused by the
// console itself, which says so.
bool CheckFirmwareRecords(Outcome& o, int model) {
    const firmware::RecordDamage damage = firmware::FirstDamage;
    if (damage.line == 0 || request->force) return true;
    if (request->command == Command::Update && model == firmware::kModelNone) return true;
    char line[16];
    std::snprintf(line, sizeof line, "%d", damage.line);
    o = Make(kExitFile, "file_error", "%s: %s is damaged at line %s: ", ShownName(), request->file, line);
    Append(o, "%s: nothing was sent; check the file, or give --force to program it as it is",
           firmware::RecordFaultText(damage.fault));
    return false;
}

// A firmware file is read once before anything is sent: "recovery" would
// otherwise program whatever a broken file left in the image (all FF for a
// missing one), which in the window at least follows a box the operator sees.
// A firmware file with nothing for the unit's programmed blocks would "update"
// nothing and say it was complete: update and verify refuse it; a recovery
// still brings the unit out of boot mode with it, and says that it writes
// nothing.
bool CheckSomethingToProgram(Outcome& o) {
    static ops::VerifySegment segments[ops::kMaxVerifySegments];
    if (firmware::FirmwarePageSegments(firmware::FirmwareImage, segments) != 0) return true;
    if (request->command == Command::Recover) {
        out::Notice("the firmware file holds no data for the unit's programmed blocks (3000-3FFF, A000-EFFF): the "
                    "recovery writes nothing; it only brings the unit out of boot mode");
        return true;
    }
    o = Make(kExitFile, "file_error",
             "%s: %s holds no data for the unit's programmed blocks (3000-3FFF, A000-EFFF): nothing was sent; "
             "check that it is the unit's firmware",
             ShownName(), request->file);
    return false;
}

// Bytes of the file that no update writes: told as a warning (and in the
// result), or with --strict refused before anything is sent.
bool CheckOutside(Outcome& o) {
    const firmware::LoadFacts facts = firmware::LastLoadFacts;
    if (facts.outsideBytes == 0) return true;
    char count[48];
    std::snprintf(count, sizeof count, "%u bytes", unsigned(facts.outsideBytes));
    char first[16];
    std::snprintf(first, sizeof first, "0x%X", unsigned(facts.firstOutside));
    if (request->strict) {
        o = Make(kExitFile, "file_error",
                 "%s: %s holds %s outside the blocks an update programs (3000-3FFF, A000-EFFF)", ShownName(),
                 request->file, count);
        Append(o, ", the first at %s: nothing was sent (--strict)", first);
        return false;
    }
    char text[kTextSize];
    std::snprintf(text, sizeof text,
                  "warning: %s holds %s outside the blocks an update programs (3000-3FFF, A000-EFFF), the first at "
                  "%s: they are neither written nor verified (--strict refuses such a file)",
                  request->file, count, first);
    out::Notice(text);
    return true;
}

// Why a firmware file could not be read as one, with what to do.
void FirmwareUnreadable(Outcome& o) {
    const firmware::LoadFacts facts = firmware::LastLoadFacts;
    const char* name = ShownName();
    if (!facts.opened) {
        o = platform::FileKindAt(path, true) == platform::FileKind::Missing
                ? Make(kExitFile, "file_error",
                       "%s: cannot read %s: it does not exist; nothing was sent; check the path", name, request->file)
                : Make(kExitFile, "file_error", "%s: cannot read %s (%s): nothing was sent; check the file", name,
                       request->file, platform::FileFaultText(platform::LastFileFault()));
    } else if (facts.s3Records) {
        o = Make(kExitFile, "file_error",
                 "%s: %s has S3 records (32-bit addresses) and no S8 or S9 end record: the unit's firmware files "
                 "have S1 or S2 data records and an S9 or S8 end record; nothing was sent; convert it (srec_cat %s",
                 name, request->file, request->file);
        Append(o, " -o unit.mot -address-length=2)");
    } else {
        o = Make(kExitFile, "file_error",
                 "%s: %s is not a Motorola S-record file the console can read (no S8 or S9 end record before the "
                 "first line it cannot take): nothing was sent; check the file",
                 name, request->file);
    }
}

// The file is read once, here, and the console's firmware commands take
// that image: a pipe's bytes are read once too.
bool CheckFirmware(Outcome& o) {
    const platform::FileKind kind = platform::FileKindAt(path, true);
    if (kind != platform::FileKind::Regular && kind != platform::FileKind::Pipe &&
        kind != platform::FileKind::Missing) {
        o = Make(kExitFile, "file_error", "%s: %s %s: nothing was sent", ShownName(), request->file,
                 platform::NotAFileText(kind));
        return false;
    }
    firmware::SetFirmwarePath(path, platform::PathCarry::Ok);
    int model = firmware::kModelNone;
    if (firmware::HoldFirmwareImage(model) != 0) {
        firmwareModel = model;
        return CheckFirmwareRecords(o, model) && CheckSomethingToProgram(o) && CheckOutside(o);
    }
    FirmwareUnreadable(o);
    return false;
}

// The window's write takes whatever its length edit says from the transfer
// buffer; beyond the file that would be bytes the file does not hold.
bool CheckWriteSource(Outcome& o) {
    const platform::FileKind kind = platform::FileKindAt(path, true);
    if (kind != platform::FileKind::Regular && kind != platform::FileKind::Pipe &&
        kind != platform::FileKind::Missing) {
        o = Make(kExitFile, "file_error", "%s: %s %s: nothing was sent; give the path of a file", ShownName(),
                 request->file, platform::NotAFileText(kind));
        return false;
    }
    // A pipe's size is known only once it is read: the console reads it to
    // its end and refuses a LEN beyond it itself.
    const long long size = platform::terminal::FileSize(path);
    if (size < 0) return true;  // the console's own open says what is wrong
    char detail[96];
    const bool write = request->command == Command::Write;
    if (request->length[0] == '\0' && size == 0) {
        o = Make(kExitFile, "file_error", "%s: %s is empty: there is nothing to %s; nothing was sent", ShownName(),
                 request->file, write ? "write" : "compare");
        return false;
    }
    if (request->length[0] == '\0' && size > ops::kTransferBufferSize) {
        static_assert(ops::kTransferBufferSize == 131072, "the message names the size");
        std::snprintf(detail, sizeof detail, "%lld bytes, more than one transfer takes (131072)", size);
        o = Make(kExitUsage, "usage", "%s: %s holds %s: give LEN to take its first LEN bytes", ShownName(),
                 request->file, detail);
        return false;
    }
    // A verify only reads: like a read, it counts on past the top.
    if (write && request->length[0] == '\0' && ops::RunsPastTopOfAddressSpace(request->addressValue, uint64_t(size))) {
        std::snprintf(detail, sizeof detail, "%lld bytes", size);
        o = Make(kExitUsage, "usage",
                 "write: %s (%s) at %s runs past the top of the device's 24-bit address space (FFFFFFh): nothing "
                 "was sent",
                 request->file, detail, request->address);
        return false;
    }
    if (request->length[0] != '\0' && request->lengthValue > size) {
        std::snprintf(detail, sizeof detail, "%lld bytes", size);
        o = Make(kExitUsage, "usage", "%s: LEN %s is more than %s holds", ShownName(), request->length, request->file);
        Append(o, " (%s)", detail);
        return false;
    }
    return true;
}

bool ConvertParamText(const char* text, char* out, size_t cap, int which, Outcome& o) {
    char converted[kTextSize];
    platform::TextRefusal refusal;
    if (platform::FindCharacterCp932Lacks(text, refusal) ||
        !platform::terminal::Utf8ToCp932(text, converted, sizeof converted)) {
        char where[96];
        std::snprintf(where, sizeof where, "parameter block %d: TEXT%d", request->block, which);
        char character[48];
        if (refusal.notUtf8) {
            std::snprintf(character, sizeof character, "0x%02X", static_cast<unsigned>(refusal.codePoint));
            o = Make(kExitUsage, "usage",
                     "param: %s holds the byte %s, which is not UTF-8 text: nothing was sent; "
                     "give the text in UTF-8",
                     where, character);
            return false;
        }
        std::snprintf(character, sizeof character, "\"%s\" (U+%04X)", refusal.character,
                      static_cast<unsigned>(refusal.codePoint));
        o = Make(kExitUsage, "usage",
                 "param: %s \"%s\" holds %s, a character that code page 932 cannot represent, so the unit "
                 "cannot store it: nothing was sent",
                 where, text, character);
        return false;
    }
    if (std::strlen(converted) >= cap) {
        o = Make(kExitUsage, "usage", "param: TEXT%s \"%s\" is longer than the 255 bytes a parameter text holds",
                 which == 1 ? "1" : "2", text);
        return false;
    }
    std::snprintf(out, cap, "%s", converted);
    return true;
}

Outcome Refusal(ops::Activity activity, ops::NotStartedWhy why);

// The two texts as the block lays them out: what does not fit its 256 bytes
// is refused by the console before anything is sent; so here too, before the
// port is opened.
bool TextsFit(Outcome& o) {
    if (ops::ParameterBlockBytes(paramFirst, paramSecond) <= ops::kParamBlockSize) return true;
    o = Refusal(ops::Activity::ParamChain, ops::NotStartedWhy::TextsTooLong);
    return false;
}

// A record that could not be appended afterwards would leave a serviced unit
// without its record: the file is checked before anything is sent.
bool CheckRecordFile(Outcome& o) {
    if (request->record == nullptr) return true;
    char why[200];
    if (record::TakeFile(request->record, recordPath, sizeof recordPath, why, sizeof why)) return true;
    recordPath[0] = '\0';
    o = Make(kExitFile, "file_error", "--record %s %s: nothing was sent; give a file the record can be appended to",
             request->record, why);
    return false;
}

bool Preflight(Outcome& o) {
    if (!CheckRecordFile(o)) return false;
    switch (request->command) {
        case Command::Update:
        case Command::Recover: return TakePath(o) && CheckFirmware(o);
        case Command::Read: return TakePath(o);
        case Command::Write: return TakePath(o) && CheckWriteSource(o);
        case Command::Verify: return TakePath(o) && (request->firmwareVerify ? CheckFirmware(o) : CheckWriteSource(o));
        case Command::Param:
            return ConvertParamText(request->text1, paramFirst, sizeof paramFirst, 1, o) &&
                   ConvertParamText(request->text2, paramSecond, sizeof paramSecond, 2, o) && TextsFit(o);
        default: return true;
    }
}

// ---- the port ---------------------------------------------------------------

// Whether the driver hands received bytes over at once: a USB serial
// adapter's latency timer would otherwise hold every short answer back.
void NoteLowLatency(const char* portLabel) {
    const platform::PortHandle h = wire::CommHandle.load();
    if (h == nullptr) return;
    char note[600];
    switch (platform::PortLowLatency(h)) {
        case platform::LowLatency::Set:
            std::snprintf(note, sizeof note, "port %.300s: the driver hands received bytes over at once (low latency)",
                          portLabel);
            break;
        case platform::LowLatency::NotSupported:
            std::snprintf(note, sizeof note,
                          "port %.300s: the driver does not take the low-latency setting (ASYNC_LOW_LATENCY); "
                          "nothing changed",
                          portLabel);
            break;
        case platform::LowLatency::NotApplicable:
        default:
            std::snprintf(note, sizeof note,
                          "port %.300s: a USB serial adapter's latency timer is set in its driver's "
                          "settings (Device Manager)",
                          portLabel);
            break;
    }
    out::Note(note);
}

bool OpenPort(Outcome& o) {
    int number = 0;
    char why[512] = "";
    if (request->sim) {
        char where[256];
        // A recovery expects a device that waits in boot mode, as after an
        // interrupted update; so the simulated one starts there for it.
        const bool bootMode = request->command == Command::Recover;
        if (!simulator::StartSimulator(bootMode, where, sizeof where, why, sizeof why)) {
            o = Make(simulator::SimulatorAvailable() ? kExitPort : kExitUsage,
                     simulator::SimulatorAvailable() ? "port" : "usage", "%s", why);
            return false;
        }
        std::snprintf(portLabel, sizeof portLabel, "simulated TQ7300 on %s", where);
        number = 1;
    } else if (request->port == nullptr) {
        o = Make(kExitUsage, "usage",
                 "no port given: name it with --port (%s), or try every command against a simulated "
                 "TQ7300 with --sim",
                 "tq73 ports lists them");
        return false;
    } else {
        if (!ChoosePortArgument(request->port, chosenPort, why, sizeof why)) {
            o = Make(kExitPort, "port", "%s", why);
            return false;
        }
        std::snprintf(portLabel, sizeof portLabel, "%s", chosenPort.c_str());
        if (!platform::terminal::PreparePort(chosenPort.c_str(), number, why, sizeof why)) {
            o = Make(kExitUsage, "usage", "%s", why);
            return false;
        }
        if (!platform::terminal::CheckSerialPort(chosenPort.c_str(), why, sizeof why)) {
            o = Make(kExitPort, "not_serial", "%s", why);
            return false;
        }
        if (!platform::terminal::ClaimPort(chosenPort.c_str(), why, sizeof why)) {
            o = Make(kExitPort, "port", "cannot open the port: %s", why);
            return false;
        }
    }
    if (!shell::OpenPortNumber(number)) {
        if (wire::SetupFailureText()[0] != '\0') {
            o = Make(kExitPort, "port_setup", "%s", wire::SetupFailureText());
        } else if (request->sim) {
            o = Make(kExitPort, "port", "cannot open the %s", portLabel);
        } else {
            char described[512];
            platform::terminal::DescribePortFailure(chosenPort.c_str(), described, sizeof described);
            o = Make(kExitPort, "port", "cannot open the port: %s", described);
        }
        return false;
    }
    char note[600];
    std::snprintf(note, sizeof note, "port %s open", portLabel);
    out::Note(note);
    NoteLowLatency(portLabel);
    return true;
}

void ClosePort() {
    shell::ClosePort();
    simulator::StopSimulator();
}

// ---- outcomes --------------------------------------------------------------------

shell::ResultContext Context(bool interrupted) {
    shell::ResultContext c;
    c.command = ShownName();
    c.file = request->file;
    c.path = path;
    c.port = portLabel;
    c.advicePort = request->sim ? "PORT" : portLabel;
    c.length = request->length;
    c.textsNeeded = unsigned(ops::ParameterBlockBytes(paramFirst, paramSecond));
    c.interrupted = interrupted;
    c.writePassCut = writePassCut;
    return c;
}

// The differing ranges: the first ten, or every one under --all (and
// under --json, which gives one event per range).
void ListDifferences(const ops::OperationResult& r) {
    constexpr uint32_t kListed = 10;
    const uint32_t stored = r.verify.ranges < ops::kMaxVerifyRanges ? r.verify.ranges : ops::kMaxVerifyRanges;
    const uint32_t shown = request->allRanges || request->json || stored < kListed ? stored : kListed;
    for (uint32_t i = 0; i < shown; ++i) {
        const ops::Difference d = ops::VerifyDifference(i);
        out::Difference(d.address, d.length, d.expected, d.found);
    }
    if (shown < stored) {
        char more[96];
        std::snprintf(more, sizeof more, "... and %u more ranges (--all lists every one)", unsigned(stored - shown));
        out::Line("log", more);
    }
}

// The operation's result as tq73 ends with it: the exit code from the
// table, the words from the window's own module.
Outcome FromResult(const ops::OperationResult& r, bool interrupted) {
    if (r.outcome == ops::Outcome::Different && !interrupted) ListDifferences(r);
    const Exit exit = ExitFor(r, interrupted);
    Outcome o;
    o.code = exit.code;
    o.name = exit.name;
    shell::ResultSentence(r, Context(interrupted), o.text, sizeof o.text);
    return o;
}

// A refusal tq73 makes before the port opens, in the words and with the
// code the console's own refusal of it has.
Outcome Refusal(ops::Activity activity, ops::NotStartedWhy why) {
    ops::OperationResult r;
    r.activity = activity;
    r.block = uint32_t(request->block);
    r.outcome = ops::Outcome::NotStarted;
    r.why = why;
    return FromResult(r, false);
}

// The command opened no operation: the console refused it (the log says why).
Outcome NothingStarted() {
    return Make(kExitOther, "not_started", "%s: the console did not start it (see the log above)", ShownName());
}

// ---- the commands ---------------------------------------------------------------

// The operation that start() begins, awaited; start says whether it began.
// One that was refused before it began has its why on the board (or, for a
// refusal the board does not count, only in the log).
Outcome RunTracked(bool (*start)()) {
    const uint32_t serial = ops::ReadProgress().serial;
    if (!start() && ops::ReadProgress().serial == serial) return NothingStarted();
    if (!AwaitOperation(serial)) {
        return Make(kExitOther, "stalled", "%s: the operation did not end and nothing is left to end it", ShownName());
    }
    out::EndProgress();
    const ops::OperationResult r = ops::LastResult();
    return FromResult(r, Interrupted() && !InterruptIsTheEnd() && r.outcome != ops::Outcome::Complete);
}

// A request that got no answer: where, and what to check.
Outcome Unanswered(const char* format, const char* a = "") {
    Outcome o = Make(kExitNoAnswer, "no_answer", format, a);
    AppendWhere(o);
    Append(o, ": check the cable, the port and that the unit is powered, then try again");
    return o;
}

// The parameter-block chain ends with request 0x62, which nobody waits for:
// its answer is awaited here as for the request on its own, and a refusal
// fails the command; no answer is said in the result, and fails it only
// under --expect-answer.
Outcome RunParam() {
    Outcome o = RunTracked(StartRequested);
    if (o.code != kExitOk || out::Seen().requestHeld <= 1 || out::Seen().request[1] != 0x62) return o;
    const uint32_t start = platform::TickMs();
    while (out::Seen().answersSinceSent == 0 && platform::TickMs() - start < kAnswerWaitMs && !Interrupted()) Pump();
    const out::Frames f = out::Seen();
    if (f.answersSinceSent == 0) {
        if (request->expectAnswer) {
            o = Unanswered("%s; request 0x62 got no answer within 1 s (--expect-answer)", o.text);
        } else {
            Append(o, "; request 0x62 got no answer within 1 s (the device need not answer it)");
        }
    } else if (f.answerHeld > 1 && f.answer[1] != '0') {
        char status[8];
        std::snprintf(status, sizeof status, "%02X", f.answer[1]);
        char text[96];
        std::snprintf(text, sizeof text, "parameter block %d: request 0x62 refused: the device answered status %s",
                      request->block, status);
        o = Make(kExitRefused, "refused", "%s", text);
        AppendWhere(o);
    }
    return o;
}

// "...; flash verify 0x3000: 4,096 bytes equal in 1.2 s": what was written,
// then what the verify found, whose code stands.
Outcome Joined(const Outcome& first, Outcome then) {
    Outcome o = then;
    std::snprintf(o.text, sizeof o.text, "%.500s; %.500s", first.text, then.text);
    return o;
}

// --verify asked for a verify; the operation completed, but Ctrl+C came
// before the verify ran: that is not the success asked for.
Outcome NotVerified(const Outcome& done) {
    Outcome o = Make(kExitInterrupted, "interrupted", "interrupted: %.600s, but it was not verified", done.text);
    const char* port = request->sim ? "PORT" : portLabel;
    if (request->command == Command::Write) {
        Append(o, ": verify it with tq73 --port %s verify %s", port, request->address);
        Append(o, " %s%s", request->file, request->length[0] != '\0' ? " " : "");
        Append(o, "%s", request->length);
    } else {
        Append(o, ": once the unit runs its application, verify it with tq73 --port %s verify %s", port, request->file);
    }
    return o;
}

// write, update or recover, then (with --verify, after success) the verify.
// After an update the boot loader's closing byte sends the unit back to its
// application, which must answer before its flash can be read.
Outcome RunAndVerify() {
    const bool programs = request->command != Command::Write;
    if (programs) {
        char advice[kTextSize];
        std::snprintf(advice, sizeof advice,
                      "the unit may be left in its boot loader part-way through the update: restart it into its boot "
                      "loader, then run tq73 --port %.300s recover %.300s",
                      request->sim ? "PORT" : portLabel, request->file);
        out::SetInterruptAdvice(advice);
    }
    const Outcome done = RunTracked(StartRequested);
    if (programs) out::SetInterruptAdvice("");
    if (!request->verifyAfter || done.code != kExitOk) return done;
    if (Interrupted()) return NotVerified(done);
    if (request->command == Command::Write) {
        return Joined(done, RunTracked([] {
                          const shell::TransferRequest verify{shell::kIdFlashVerify, request->addressValue,
                                                              request->lengthValue, request->length[0] != '\0', path};
                          return shell::StartTransfer(&params, verify);
                      }));
    }
    const Outcome back = RunTracked(shell::AwaitApplication);
    if (back.code == kExitNoAnswer) {
        Outcome o = Make(kExitNoAnswer, "no_return",
                         "%.600s, but the unit did not answer in its application within 15 s, so it was not verified",
                         done.text);
        Append(o, ": check that it runs (power it off and on if not), then run tq73 --port %s verify %s",
               request->sim ? "PORT" : portLabel, request->file);
        return o;
    }
    if (back.code != kExitOk) return Joined(done, back);
    return Joined(done, RunTracked([] { return shell::OnCommand(&params, shell::kIdFirmwareVerify); }));
}

// update --if-different: the firmware verify first. A unit that holds every
// page the update would write is left as it is (exit 0, outcome
// "unchanged"); one that differs is updated as usual; one whose flash could
// not be read is not touched: its failure is the verify's.
Outcome RunIfDifferent() {
    const Outcome check = RunTracked([] { return shell::OnCommand(&params, shell::kIdFirmwareVerify); });
    if (check.code == kExitOk) {
        return Make(kExitOk, "unchanged",
                    "update: the unit already holds this firmware, so nothing was written (%.600s)", check.text);
    }
    if (check.code != kExitDifferent || Interrupted()) {
        Outcome o = check;
        Append(o, "; update --if-different: nothing was written");
        return o;
    }
    out::Notice("the unit's flash differs from the firmware file: updating it");
    return RunAndVerify();
}

// "2024-05-06 12:34:56" from a day number and three BCD bytes.
void FormatDeviceTime(const uint8_t* p, char* out, size_t cap) {
    const uint16_t day = static_cast<uint16_t>(p[0] | p[1] << 8);
    const ops::DeviceDate date = ops::DayNumberToDate(day);
    std::snprintf(out, cap, "%04u-%02u-%02u %02X:%02X:%02X (day %u)", 2000u + date.years, unsigned(date.month),
                  unsigned(date.day), p[2], p[3], p[4], unsigned(day));
}

// The last answer arrived whole, its trailer and checksum right.
bool SoundFrame(const out::Frames& f) {
    if (f.answerHeld < 7 || f.answerLength != f.answerHeld) return false;
    const int payload = f.answer[2] | f.answer[3] << 8;
    return 4 + payload + 3 == f.answerHeld && wire::CheckFrame(f.answer, f.answerHeld, payload) == wire::kFrameGood;
}

// A clock answer is decoded only when it came whole and sound, with the five
// or six bytes of a reading: the first bytes of a cut, corrupted or over-long
// answer are no time, whatever they look like. A refusal needs no reading,
// only a sound frame.
bool SoundClockAnswer(const out::Frames& f) {
    const int payload = f.answer[2] | f.answer[3] << 8;
    return SoundFrame(f) && ((payload >= 5 && payload <= 6) || f.answer[1] != '0');
}

Outcome AnsweredText(const out::Frames& f) {
    const char* name = ShownName();
    char what[160];
    if (request->command == Command::ClockGet) {
        // The answer's payload: day number (low byte first), BCD time, weekday.
        FormatDeviceTime(f.answer + 4, what, sizeof what);
        char text[256];
        std::snprintf(text, sizeof text, "device clock: %s", what);
        if (f.answerHeld >= 4 + 6 + 3) {
            const size_t n = std::strlen(text);
            std::snprintf(text + n, sizeof text - n, ", weekday %u", unsigned(f.answer[9]));
        }
        return Make(kExitOk, "complete", "%s", text);
    }
    if (request->command == Command::ClockSet && f.requestHeld >= 4 + 5) {
        FormatDeviceTime(f.request + 4, what, sizeof what);
        return Make(kExitOk, "complete", "clock set: the device took %s", what);
    }
    return Make(kExitOk, "complete", "%s: the device accepted it", name);
}

Outcome RunUnwaited() {
    const out::Frames before = out::Seen();
    if (!StartRequested())
        return Make(kExitOther, "not_sent", "%s: the request was not sent (see the log above)", ShownName());
    const bool answered = AwaitAnswer(before.received);
    const out::Frames f = out::Seen();
    if (Interrupted() && !answered) {
        Outcome o = Make(kExitInterrupted, "interrupted", "interrupted: %s sent, its answer not awaited", ShownName());
        AppendWhere(o);
        return o;
    }
    if (!answered) {
        // Requests 0x61, 0x62 and 0x20 need no answer; the query does.
        if (request->command == Command::ClockGet) return Unanswered("clock get: no answer to the query within 1 s");
        if (request->expectAnswer) return Unanswered("%s: sent; no answer within 1 s (--expect-answer)", ShownName());
        return Make(kExitOk, "sent", "%s: sent; no answer within 1 s (the device need not answer it)", ShownName());
    }
    if (request->command == Command::ClockGet && !SoundClockAnswer(f)) {
        char count[16];
        std::snprintf(count, sizeof count, "%d", f.answerLength);
        Outcome o = Make(kExitNoAnswer, "damaged_answer",
                         "clock get: the answer came cut, corrupted or longer than a clock reading (%s bytes): no "
                         "time is shown",
                         count);
        AppendWhere(o);
        Append(o, ": check the cable and the connectors, then try again");
        return o;
    }
    if (!SoundFrame(f)) {
        char count[16];
        std::snprintf(count, sizeof count, "%d", f.answerLength);
        Outcome o = Make(kExitNoAnswer, "damaged_answer",
                         "%s: the answer came cut or corrupted (%s bytes, a wrong checksum or trailer): it is not "
                         "taken as an answer",
                         ShownName(), count);
        AppendWhere(o);
        Append(o, ": check the cable and the connectors, then try again");
        return o;
    }
    if (f.answerHeld > 1 && f.answer[1] != '0') {
        char status[8];
        std::snprintf(status, sizeof status, "%02X", f.answer[1]);
        Outcome o = Make(kExitRefused, "refused", "%s refused: the device answered status %s", ShownName(), status);
        AppendWhere(o);
        return o;
    }
    return AnsweredText(f);
}

Outcome RunMonitor() {
    const uint32_t start = platform::TickMs();
    while (!Interrupted() && !wire::PortLost()) {
        if (request->seconds > 0 && platform::TickMs() - start >= uint32_t(request->seconds) * 1000) break;
        Pump();
    }
    char count[32];
    std::snprintf(count, sizeof count, "%d", out::Seen().received);
    if (Interrupted() && !InterruptIsTheEnd()) {
        Outcome o = Make(kExitInterrupted, "interrupted", "interrupted: monitor saw %s frame%s", count,
                         out::Seen().received == 1 ? "" : "s");
        AppendWhere(o);
        return o;
    }
    return Make(kExitOk, "complete", "monitor: %s frame%s received", count, out::Seen().received == 1 ? "" : "s");
}

Outcome RunPorts() {
    const int n = PrintPorts(platform::ports::GatherPorts());
    char count[32];
    std::snprintf(count, sizeof count, "%d", n);
    return Make(kExitOk, "complete",
                n == 0   ? "no serial ports found%s"
                : n == 1 ? "%s serial port"
                         : "%s serial ports",
                n == 0 ? "" : count);
}

// The port went away under the command (the receiver saw the line hang up):
// whatever the operation made of it, that is what the operator must know,
// and for a unit left in its boot loader, how to bring it back.
Outcome PortWentAway() {
    const ops::OperationResult s = ops::LastResult();
    Outcome o = Make(kExitPort, "port_lost", "%s: the port went away under the operation", ShownName());
    AppendWhere(o);
    const bool inBootMode = ops::CountsPages(s.activity) && (s.activity == ops::Activity::Recovery || s.step == 1) &&
                            s.outcome != ops::Outcome::Complete;
    if (inBootMode) {
        Append(o, ": the unit is left in its boot loader; once the port is back, run tq73 --port %s recover %s",
               request->sim ? "PORT" : portLabel, request->file);
    } else if (request->command == Command::Read && s.outcome != ops::Outcome::Complete) {
        Append(o, ": %s was not changed; check the cable or adapter, then read again", request->file);
    } else {
        Append(o, ": check the cable or adapter (plug it in again), then try again");
    }
    return o;
}

// --capture: the target is checked like a read's file before anything is sent.
bool CaptureTaken(Outcome& o) {
    char why[kTextSize / 2];
    if (request->capture == nullptr || BeginCapture(request->capture, why, sizeof why)) return true;
    o = Make(kExitFile, "file_error", "%s", why);
    return false;
}

// Written once the port has closed; a capture that could not be written
// fails a run that went well.
void CaptureWritten(Outcome& o) {
    char why[kTextSize / 2];
    if (EndCapture(why, sizeof why)) return;
    if (o.code == kExitOk) {
        o = Make(kExitFile, "file_error", "%s: %s", ShownName(), why);
    } else {
        Append(o, "; %s", why);
    }
}

Outcome RunCheck() {
    return RunTracked([] { return shell::CheckLine(chosenPort.c_str()); });
}

Outcome RunOnPort() {
    Outcome o;
    if (!Preflight(o) || !CaptureTaken(o) || !OpenPort(o)) {
        simulator::StopSimulator();
        DropCapture();  // nothing went on the line: the target stays as it was
        return o;
    }
    switch (request->command) {
        case Command::Monitor: o = RunMonitor(); break;
        case Command::Resume:
        case Command::Request62:
        case Command::ClockSet:
        case Command::ClockGet: o = RunUnwaited(); break;
        case Command::Update: o = request->ifDifferent ? RunIfDifferent() : RunAndVerify(); break;
        case Command::Write:
        case Command::Recover: o = RunAndVerify(); break;
        case Command::Param: o = RunParam(); break;
        case Command::Check: o = RunCheck(); break;
        default: o = RunTracked(StartRequested); break;
    }
    if (wire::PortLost() && o.code != kExitInterrupted) o = PortWentAway();
    ClosePort();
    CaptureWritten(o);
    return o;
}

// The record says what the result line says. One that cannot be appended
// fails the command: the unit was served, but the depot cannot tell it.
void AppendRecord(Outcome& o) {
    record::Facts facts;
    facts.request = request;
    facts.unit = request->port != nullptr ? request->port : "sim";
    facts.exitCode = o.code;
    facts.outcome = o.name;
    facts.text = o.text;
    facts.seconds = (platform::TickMs() - runStartMs) / 1000.0;
    facts.modelCode = firmwareModel;
    // The port the unit was reached on, as the system knows it then.
    const std::vector<platform::ports::PortInfo> ports =
        request->sim || chosenPort.empty() ? std::vector<platform::ports::PortInfo>{} : platform::ports::GatherPorts();
    for (const platform::ports::PortInfo& p : ports) {
        if (p.name == chosenPort) facts.adapter = &p;
    }
    char why[200];
    if (record::Append(recordPath, facts, why, sizeof why)) return;
    Append(o, "; but the service record could not be appended to %s (%s)", request->record, why);
    if (o.code == kExitOk) {
        o.code = kExitFile;
        o.name = "record_failed";
    }
}

}  // namespace

int Run(const Request& r) {
    request = &r;
    // The workers' and the receiver's lines wait for this thread's loop.
    platform::console::ShowLinesOnThisThread();
    std::memset(&params, 0, sizeof params);
    Outcome o = r.command == Command::Ports ? RunPorts() : RunOnPort();
    const bool firmwareFile = r.command == Command::Update || r.command == Command::Recover || r.firmwareVerify;
    if (o.code == kExitOk && firmwareFile && firmware::LastLoadFacts.outsideBytes != 0) {
        char count[32];
        std::snprintf(count, sizeof count, "%u", unsigned(firmware::LastLoadFacts.outsideBytes));
        Append(o, "; %s bytes of the file lie outside the programmed blocks and were not %s", count,
               r.firmwareVerify ? "compared" : "written");
    }
    // Failures name their port already; so does success when several units
    // are served at once from one shell.
    if (o.code == kExitOk && r.port != nullptr) Append(o, " (port %s)", r.port);
    if (recordPath[0] != '\0') AppendRecord(o);
    const int lost = platform::console::PostedLost();
    if (lost != 0) {
        char note[96];
        std::snprintf(note, sizeof note, "%d posted messages were lost: the queue was full", lost);
        out::Note(note);
    }
    out::Result(o.code, o.name, o.text);
    return o.code;
}

}  // namespace cli
