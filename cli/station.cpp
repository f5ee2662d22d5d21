// station.cpp - starting the units, reading their events, Ctrl+C passed on,
// the summary and the records of units that could not write their own.
#include "cli/station.h"

#include <cstdio>
#include <cstring>
#include <deque>
#include <string>
#include <vector>

#include "cli/json.h"
#include "cli/json_read.h"
#include "cli/output.h"
#include "cli/record.h"
#include "cli/station_view.h"
#include "firmware/image_loader.h"
#include "platform/child_process.h"
#include "platform/platform.h"
#include "platform/terminal.h"

namespace cli::station {

namespace {

using platform::terminal::Stream;

constexpr uint32_t kLoopMs = 20;
constexpr uint32_t kRedrawMs = 200;
constexpr int kPortsFileBytes = kMaxUnits * 300;
constexpr const char kPortMark[] = "{port}";

enum class Mode { Rows, Plain, Json };

struct Unit {
    UnitView view;
    char fileName[64] = "";  // what {port} in an argument stands for
    platform::child::Child* child = nullptr;
    platform::ThreadHandle reader = nullptr;
    bool outputEnded = false;  // under the lock: the reader saw the end of its output
};

struct QueuedLine {
    int unit;
    std::string text;
};

const Request* request = nullptr;
Mode mode = Mode::Plain;
Unit units[kMaxUnits];
int unitCount = 0;
platform::LockHandle lock = nullptr;
std::deque<QueuedLine> queue;  // under the lock
int rowsDrawn = 0;
std::vector<std::string> portsRead;         // --ports-from's lines, kept while the station runs
int refusalCode = kExitUsage;               // what a refusal before any unit starts exits with
char recordPath[firmware::kPathSize] = "";  // --record's file, once it is known to take records

void Write(Stream s, const std::string& text) { platform::terminal::Write(s, text.data(), text.size()); }

// ---- the units ------------------------------------------------------------

void Push(int unit, std::string text) {
    platform::Lock(lock);
    queue.push_back(QueuedLine{unit, std::move(text)});
    platform::Unlock(lock);
}

// A unit's output, line by line, onto the queue; one thread per unit, so that
// a unit that writes nothing holds up no other.
uint32_t ReadUnit(void* param) {
    const int index = static_cast<int>(reinterpret_cast<intptr_t>(param));
    std::string partial;
    char chunk[4096];
    for (;;) {
        const int n = platform::child::Read(units[index].child, chunk, sizeof chunk);
        if (n <= 0) break;
        partial.append(chunk, static_cast<size_t>(n));
        size_t end;
        while ((end = partial.find('\n')) != std::string::npos) {
            Push(index, partial.substr(0, end));
            partial.erase(0, end + 1);
        }
    }
    if (!partial.empty()) Push(index, partial);
    platform::Lock(lock);
    units[index].outputEnded = true;
    platform::Unlock(lock);
    return 0;
}

// --ports-from FILE: one port a line; blank lines and lines from '#' on are
// not ports.
bool ReadPortsFile(char* why, size_t cap) {
    char path[firmware::kPathSize];
    platform::FileHandle file =
        platform::terminal::Utf8ToPath(request->portsFrom, path, sizeof path) ? platform::FileOpenRead(path) : nullptr;
    if (file == nullptr) {
        refusalCode = kExitFile;
        std::snprintf(why, cap, "--ports-from %s cannot be read (%s)", request->portsFrom,
                      platform::FileFaultText(platform::LastFileFault()));
        return false;
    }
    static char text[kPortsFileBytes + 1];
    const int n = platform::FileRead(file, text, kPortsFileBytes);
    platform::FileClose(file);
    text[n > 0 ? n : 0] = '\0';
    for (char* line = std::strtok(text, "\r\n"); line != nullptr; line = std::strtok(nullptr, "\r\n")) {
        if (char* hash = std::strchr(line, '#')) *hash = '\0';
        while (*line == ' ' || *line == '\t') ++line;
        size_t length = std::strlen(line);
        while (length > 0 && (line[length - 1] == ' ' || line[length - 1] == '\t')) line[--length] = '\0';
        if (length != 0) portsRead.emplace_back(line);
    }
    return true;
}

// The port as a part of a file name: its last path part, every character
// but letters, digits, '.', '-' and '_' a '_' ("/dev/ttyUSB0" is "ttyUSB0").
void FileNameOfPort(const char* port, char* out, size_t cap) {
    const char* p = port;
    for (const char* c = port; *c != '\0'; ++c) {
        if ((*c == '/' || *c == '\\') && c[1] != '\0') p = c + 1;
    }
    size_t n = 0;
    for (; *p != '\0' && n + 1 < cap; ++p) {
        const char c = *p;
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
                           c == '-' || c == '_';
        out[n++] = plain ? c : '_';
    }
    out[n] = '\0';
}

bool AddUnit(const char* name, char* why, size_t cap) {
    for (int i = 0; i < unitCount; ++i) {
        if (std::strcmp(units[i].view.name, name) == 0) {
            std::snprintf(why, cap, "the port %s is named twice: one unit, one process", name);
            return false;
        }
    }
    if (unitCount == kMaxUnits) {
        std::snprintf(why, cap, "at most %d units at once", kMaxUnits);
        return false;
    }
    Unit& u = units[unitCount++];
    std::snprintf(u.view.name, sizeof u.view.name, "%s", name);
    FileNameOfPort(name, u.fileName, sizeof u.fileName);
    return true;
}

bool CollectUnits(char* why, size_t cap) {
    for (int i = 1; i <= request->simUnits && request->sim; ++i) {
        char name[16];
        std::snprintf(name, sizeof name, "sim%d", i);
        AddUnit(name, why, cap);
    }
    for (int i = 0; i < request->portCount; ++i) {
        if (!AddUnit(request->ports[i], why, cap)) return false;
    }
    if (request->portsFrom != nullptr) {
        if (!ReadPortsFile(why, cap)) return false;
        for (const std::string& port : portsRead) {
            if (!AddUnit(port.c_str(), why, cap)) return false;
        }
    }
    if (unitCount == 0) std::snprintf(why, cap, "--ports-from %s names no port", request->portsFrom);
    return unitCount != 0;
}

// A file the command writes (a read's FILE, --capture's) names each unit's
// own through {port}: one file for all would keep only the last unit's.
bool OwnFile(const char* what, const char* file, char* why, size_t cap) {
    if (file == nullptr) return true;
    if (std::strstr(file, kPortMark) == nullptr) {
        std::snprintf(why, cap,
                      "%s: every unit of a station would write %s; put {port} in the name for each unit's own "
                      "file (dump-{port}.bin)",
                      what, file);
        return false;
    }
    for (int i = 0; i < unitCount; ++i) {
        for (int j = 0; j < i; ++j) {
            if (std::strcmp(units[i].fileName, units[j].fileName) != 0) continue;
            std::snprintf(why, cap, "%s: %s and %s would both write the file for {port} = %s", what, units[j].view.name,
                          units[i].view.name, units[i].fileName);
            return false;
        }
    }
    return true;
}

bool CheckOwnFiles(char* why, size_t cap) {
    return OwnFile("--capture", request->capture, why, cap) &&
           (request->command != Command::Read || OwnFile("read", request->file, why, cap));
}

// Every unit reads FILE itself: a pipe would give its bytes to one of them.
bool CheckShared(char* why, size_t cap) {
    if (!CheckOwnFiles(why, cap)) return false;
    char path[firmware::kPathSize];
    if (request->file != nullptr && request->command != Command::Read &&
        platform::terminal::Utf8ToPath(request->file, path, sizeof path) &&
        platform::FileKindAt(path, true) == platform::FileKind::Pipe) {
        refusalCode = kExitFile;
        std::snprintf(why, cap, "%s is a pipe: each unit of a station reads the file itself; give a file",
                      request->file);
        return false;
    }
    char detail[200];
    if (request->record != nullptr &&
        !record::TakeFile(request->record, recordPath, sizeof recordPath, detail, sizeof detail)) {
        refusalCode = kExitFile;
        std::snprintf(why, cap, "--record %s %s: nothing was sent", request->record, detail);
        return false;
    }
    return true;
}

// An argument with each {port} replaced by the unit's part of a file name.
const char* ForUnit(const Unit& u, const char* arg, std::deque<std::string>& kept) {
    if (std::strstr(arg, kPortMark) == nullptr) return arg;
    std::string text = arg;
    for (size_t at; (at = text.find(kPortMark)) != std::string::npos;) text.replace(at, 6, u.fileName);
    kept.push_back(text);
    return kept.back().c_str();
}

// The unit's own command line: its port (or a simulated unit of its own),
// --json, and every argument given but the ones that chose the units.
std::vector<const char*> UnitArguments(const Unit& u, int count, const char* const* args,
                                       std::deque<std::string>& kept) {
    std::vector<const char*> out = {"--json"};
    if (request->sim) {
        out.insert(out.end(), {"--sim", "--label", u.view.name});
    } else {
        out.insert(out.end(), {"--port", u.view.name});
    }
    bool optionsEnded = false;
    for (int i = 1; i < count; ++i) {
        if (!optionsEnded && std::strcmp(args[i], "--") == 0) optionsEnded = true;
        const int skip = optionsEnded ? 0 : UnitChoiceArguments(count, args, i);
        if (skip != 0) {
            i += skip - 1;
        } else {
            out.push_back(ForUnit(u, args[i], kept));
        }
    }
    return out;
}

void StartUnits(int count, const char* const* args) {
    for (int i = 0; i < unitCount; ++i) {
        Unit& u = units[i];
        u.view.startMs = platform::TickMs();
        std::deque<std::string> kept;
        const std::vector<const char*> unitArgs = UnitArguments(u, count, args, kept);
        char why[300];
        u.child = platform::child::StartSelf(unitArgs.data(), static_cast<int>(unitArgs.size()), why, sizeof why);
        if (u.child != nullptr) u.reader = platform::StartThread(ReadUnit, reinterpret_cast<void*>(intptr_t(i)));
        if (u.child == nullptr || u.reader == nullptr) {
            if (u.child != nullptr) platform::child::Kill(u.child);
            u.view.ended = true;
            u.view.exitCode = kExitOther;
            u.view.endMs = u.view.startMs;
            std::snprintf(u.view.outcome, sizeof u.view.outcome, "not_started");
            std::snprintf(u.view.text, sizeof u.view.text, "%.250s: %.300s", u.view.name,
                          u.child == nullptr ? why : "no thread to read it");
        }
    }
}

// ---- what the units say ----------------------------------------------------------

std::string WithPort(const Unit& u, const std::string& line) {
    JsonLine head;
    JsonBeginObject(head, "port", u.view.name);
    const bool object = !line.empty() && line[0] == '{';
    if (!object) JsonString(head, "event", "output"), JsonString(head, "text", line.c_str());
    std::string out(head.text, head.length);
    out += object ? "," + line.substr(1) : std::string("}");
    return out + "\n";
}

void Noted(UnitView& v, const char* line, const char* event) {
    char text[1024] = "";
    JsonReadString(line, "text", text, sizeof text);
    double number = 0;
    if (std::strcmp(event, "progress") == 0) {
        v.started = true;
        std::snprintf(v.stage, sizeof v.stage, "%s", text);
        JsonReadString(line, "unit", v.unit, sizeof v.unit);
        if (JsonReadNumber(line, "permille", number)) v.permille = static_cast<int>(number);
        if (JsonReadNumber(line, "rate", number)) v.rate = number;
    } else if (std::strcmp(event, "result") == 0) {
        v.resultSeen = true;
        std::snprintf(v.text, sizeof v.text, "%s", text);
        JsonReadString(line, "outcome", v.outcome, sizeof v.outcome);
    } else if ((std::strcmp(event, "box") == 0 || std::strcmp(event, "error") == 0) && v.failure[0] == '\0') {
        std::snprintf(v.failure, sizeof v.failure, "%s", text);
    }
}

// A unit's event as tq73 alone prints it, behind its port.
void PrintPlain(const Unit& u, const char* line, const char* event) {
    const bool quiet = request->verbosity == Verbosity::Quiet;
    char text[2048] = "";
    JsonReadString(line, std::strcmp(event, "sent") == 0 || std::strcmp(event, "received") == 0 ? "line" : "text", text,
                   sizeof text);
    Stream stream = Stream::Out;
    std::string prefix;
    static const char* const kSilent[] = {"progress", "beep", "clear_log", "error"};
    for (const char* silent : kSilent) {
        if (std::strcmp(event, silent) == 0) return;
    }
    if (std::strcmp(event, "result") == 0) {
        double code = 0;
        JsonReadNumber(line, "exit_code", code);
        if (code != 0) stream = Stream::Err, prefix = "tq73: ";
    } else if (std::strcmp(event, "notice") == 0) {
        stream = Stream::Err, prefix = "tq73: ";
    } else if (quiet) {
        return;
    } else if (std::strcmp(event, "box") == 0) {
        stream = Stream::Err, prefix = "error: ";
    } else if (std::strcmp(event, "question") == 0) {
        char answer[8] = "";
        JsonReadString(line, "answer", answer, sizeof answer);
        Write(Stream::Err, std::string(u.view.name) + ": question: " + text + "\n");
        stream = Stream::Err;
        prefix = "answer: ";
        std::snprintf(text, sizeof text, "%s",
                      std::strcmp(answer, "yes") == 0 ? "yes (--force)" : "no (give --force to answer yes)");
    } else if (event[0] == '\0') {
        std::snprintf(text, sizeof text, "%s", line);  // not an event: as it came
    }
    char stamp[32] = "";
    if (request->verbosity == Verbosity::Verbose) {
        platform::terminal::ClockStamp(stamp, sizeof stamp - 2);
        std::strcat(stamp, "  ");
    }
    Write(stream, std::string(stamp) + u.view.name + ": " + prefix + text + "\n");
}

void Handle(const QueuedLine& q) {
    Unit& u = units[q.unit];
    char event[32] = "";
    JsonReadString(q.text.c_str(), "event", event, sizeof event);
    Noted(u.view, q.text.c_str(), event);
    if (mode == Mode::Json) {
        Write(Stream::Out, WithPort(u, q.text));
    } else if (mode == Mode::Plain) {
        PrintPlain(u, q.text.c_str(), event);
    }
}

// ---- the rows ------------------------------------------------------------------

int NameWidth() {
    int width = 4;
    for (int i = 0; i < unitCount; ++i) {
        const int n = static_cast<int>(std::strlen(units[i].view.name));
        if (n > width) width = n;
    }
    return width;
}

void DrawRows() {
    std::string out;
    if (rowsDrawn != 0) out += "\x1b[" + std::to_string(rowsDrawn) + "A";
    const int columns = platform::terminal::TerminalColumns() - 1;
    for (int i = 0; i < unitCount; ++i) {
        char row[1500];
        FormatRow(units[i].view, NameWidth(), columns, true, row, sizeof row);
        out += std::string("\r") + row + "\x1b[K\n";
    }
    rowsDrawn = unitCount;
    Write(Stream::Err, out);
}

// ---- the loop --------------------------------------------------------------------

bool TakeLines() {
    std::deque<QueuedLine> taken;
    platform::Lock(lock);
    taken.swap(queue);
    platform::Unlock(lock);
    for (const QueuedLine& q : taken) Handle(q);
    return !taken.empty();
}

// A unit has ended once its output has ended and its process with it.
bool Reap(Unit& u) {
    if (u.view.ended) return true;
    platform::Lock(lock);
    const bool outputEnded = u.outputEnded;
    platform::Unlock(lock);
    int code = 0;
    if (!outputEnded || !platform::child::Wait(u.child, 0, code)) return false;
    u.view.ended = true;
    u.view.exitCode = code;
    u.view.endMs = platform::TickMs();
    if (!u.view.resultSeen) {
        std::snprintf(u.view.outcome, sizeof u.view.outcome, "crashed");
        std::snprintf(u.view.text, sizeof u.view.text,
                      "%.250s: tq73 for this unit ended without a result (exit %d)%s%.500s", u.view.name, code,
                      u.view.failure[0] != '\0' ? ": " : "", u.view.failure);
    }
    return true;
}

void AwaitUnits() {
    int passedOn = 0;
    uint32_t lastDraw = 0;
    for (;;) {
        TakeLines();
        for (; passedOn < platform::terminal::Interrupts(); ++passedOn) {
            for (int i = 0; i < unitCount; ++i) {
                if (!units[i].view.ended) platform::child::Interrupt(units[i].child);
            }
        }
        bool all = true;
        for (int i = 0; i < unitCount; ++i) all = Reap(units[i]) && all;
        const uint32_t now = platform::TickMs();
        if (mode == Mode::Rows && (all || now - lastDraw >= kRedrawMs)) {
            DrawRows();
            lastDraw = now;
        }
        if (all) break;
        platform::SleepMs(kLoopMs);
    }
    TakeLines();
}

// A unit whose tq73 ended without its result wrote no record either: the
// station writes it, so that every unit served has one.
void RecordUnitsWithout() {
    if (recordPath[0] == '\0') return;
    for (int i = 0; i < unitCount; ++i) {
        const UnitView& v = units[i].view;
        if (v.resultSeen) continue;
        record::Facts facts;
        facts.request = request;
        facts.unit = v.name;
        facts.exitCode = v.exitCode;
        facts.outcome = v.outcome;
        facts.text = v.text;
        facts.seconds = (v.endMs - v.startMs) / 1000.0;
        char why[200];
        if (!record::Append(recordPath, facts, why, sizeof why)) {
            Write(Stream::Err, std::string("tq73: the record of ") + v.name + " could not be appended (" + why + ")\n");
        }
    }
}

int Finish() {
    for (int i = 0; i < unitCount; ++i) {
        if (units[i].reader != nullptr) platform::CloseThread(units[i].reader);
        if (units[i].child != nullptr) platform::child::Release(units[i].child);
    }
    RecordUnitsWithout();
    UnitView views[kMaxUnits];
    for (int i = 0; i < unitCount; ++i) views[i] = units[i].view;
    const int code = StationExit(views, unitCount);
    if (mode == Mode::Json) {
        char counts[200];
        FormatCounts(views, unitCount, counts, sizeof counts);
        JsonLine line;
        JsonBegin(line, "station");
        JsonInt(line, "units", unitCount);
        int ok = 0;
        for (int i = 0; i < unitCount; ++i) ok += views[i].exitCode == kExitOk ? 1 : 0;
        JsonInt(line, "succeeded", ok);
        JsonInt(line, "failed", unitCount - ok);
        JsonInt(line, "exit_code", code);
        JsonString(line, "text", counts);
        JsonEnd(line);
        platform::terminal::Write(Stream::Out, line.text, line.length);
        return code;
    }
    static char summary[kMaxUnits * 1100 + 400];
    FormatSummary(views, unitCount, summary, sizeof summary);
    Write(Stream::Out, std::string(mode == Mode::Plain ? "" : "\n") + summary);
    return code;
}

}  // namespace

int Run(const Request& r, int count, const char* const* args) {
    request = &r;
    lock = platform::NewLock();
    char why[400];
    if (!CollectUnits(why, sizeof why) || !CheckShared(why, sizeof why)) {
        out::Result(refusalCode, refusalCode == kExitUsage ? "usage" : "file_error", why);
        return refusalCode;
    }
    mode = r.json ? Mode::Json : platform::terminal::CanRedrawRows(Stream::Err) ? Mode::Rows : Mode::Plain;
    StartUnits(count, args);
    AwaitUnits();
    return Finish();
}

}  // namespace cli::station
