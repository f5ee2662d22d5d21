// progress.cpp - the progress board, the result beside it, and the running
// texts. Both records are held under one lock, so a reader that sees the
// board ended finds the result finished.
#include "operations/progress.h"

#include <cstdio>

#include "operations/result.h"

#include "platform/platform.h"

namespace ops {

namespace {

struct Board {
    ProgressSnapshot s;
    OperationResult r;
    bool unitsStarted = false;
};

Board board;

platform::LockHandle BoardLockHandle() {
    static const platform::LockHandle lock = platform::NewLock();
    return lock;
}

// Held for a handful of stores; neither side ever waits on anything else
// while holding it, so a worker is never held up by a reader for long. A
// thread that finds it held sleeps in the lock instead of spinning.
class BoardLock {
public:
    BoardLock() { platform::Lock(BoardLockHandle()); }
    ~BoardLock() { platform::Unlock(BoardLockHandle()); }
    BoardLock(const BoardLock&) = delete;
    BoardLock& operator=(const BoardLock&) = delete;
};

constexpr const char* kStepNames[3] = {"stop", "erase", "write"};

}  // namespace

bool CountsBytes(Activity a) {
    return a == Activity::FlashWrite || a == Activity::FlashRead || a == Activity::FlashErase ||
           a == Activity::FlashVerify || a == Activity::FirmwareVerify;
}

bool CountsPages(Activity a) { return a == Activity::Update || a == Activity::Recovery; }

const char* UnitName(Activity a) {
    if (CountsPages(a)) return "pages";
    if (CountsBytes(a)) return "bytes";
    return a == Activity::ApStop ? "attempts" : "";
}

const char* ChainStepName(uint32_t step) { return kStepNames[step % 3]; }

const char* ActivityName(Activity activity) {
    switch (activity) {
        case Activity::Update: return "update";
        case Activity::Recovery: return "recovery";
        case Activity::FlashWrite: return "flash write";
        case Activity::FlashRead: return "flash read";
        case Activity::FlashErase: return "flash erase";
        case Activity::ParamChain: return "parameter block";
        case Activity::ApStop: return "ap-stop";
        case Activity::Sequence: return "pattern sequence";
        case Activity::FlashVerify: return "flash verify";
        case Activity::FirmwareVerify: return "firmware verify";
        case Activity::AwaitApplication: return "waiting for the unit";
        case Activity::LineCheck: return "line check";
        case Activity::None:
        default: return "";
    }
}

void GroupedNumber(uint32_t value, char* out, size_t cap) {
    char digits[16];
    const int n = std::snprintf(digits, sizeof digits, "%u", static_cast<unsigned>(value));
    size_t o = 0;
    for (int i = 0; i < n && o + 1 < cap; ++i) {
        if (i != 0 && (n - i) % 3 == 0 && o + 2 < cap) out[o++] = ',';
        out[o++] = digits[i];
    }
    out[o] = '\0';
}

namespace {

void Running(const ProgressSnapshot& s, const char* name, uint32_t nowMs, char* out, size_t cap) {
    const uint32_t elapsed = nowMs - s.startMs;
    char left[32] = "";
    const int secondsLeft = ProgressSecondsLeft(s, nowMs);
    if (secondsLeft >= 0) std::snprintf(left, sizeof left, ", %d:%02d left", secondsLeft / 60, secondsLeft % 60);
    if (s.activity == Activity::FlashErase) {
        std::snprintf(out, cap, "%s: waiting for the device", name);
    } else if (CountsBytes(s.activity) && s.total == 0) {
        std::snprintf(out, cap, "%s: starting", name);
    } else if (CountsBytes(s.activity) && s.stage == Stage::Comparing) {
        std::snprintf(out, cap, "%s: comparing", name);
    } else if (CountsBytes(s.activity)) {
        char done[16], total[16];
        GroupedNumber(s.done, done, sizeof done);
        GroupedNumber(s.total, total, sizeof total);
        const double rate = ProgressRate(s, nowMs);
        char speed[24] = "";
        if (rate > 0) std::snprintf(speed, sizeof speed, ", %.1f KB/s", rate / 1000.0);
        std::snprintf(out, cap, "%s: %s of %s bytes%s%s", name, done, total, speed, left);
    } else if (CountsPages(s.activity) && s.total != 0) {
        std::snprintf(out, cap, "%s: page %u of %u%s", name, unsigned(s.done), unsigned(s.total), left);
    } else if (s.activity == Activity::Update && (s.step == 0 || s.stage == Stage::Verdict)) {
        std::snprintf(out, cap, "%s: waiting for the device's answer to the model request", name);
    } else if (CountsPages(s.activity) && s.stage == Stage::WriteMode) {
        std::snprintf(out, cap, "%s: opening write mode", name);
    } else if (CountsPages(s.activity)) {
        std::snprintf(out, cap, "%s: erasing", name);
    } else if (s.activity == Activity::ParamChain) {
        std::snprintf(out, cap, "%s: step %u of 3, %s", name, unsigned(s.step + 1), ChainStepName(s.step));
    } else if (s.activity == Activity::ApStop) {
        std::snprintf(out, cap, "%s: attempt %u of %u", name, unsigned(s.done), unsigned(s.total));
    } else {
        std::snprintf(out, cap, "%s: running for %u:%02u", name, unsigned(elapsed / 60000),
                      unsigned(elapsed / 1000 % 60));
    }
}

}  // namespace

void OpenProgress(Activity activity, uint32_t address, uint32_t block) {
    const uint32_t now = platform::TickMs();
    BoardLock hold;
    const uint32_t serial = board.s.serial + 1;
    board.s = ProgressSnapshot{};
    board.s.activity = activity;
    board.s.address = address;
    board.s.block = block;
    board.s.startMs = now;
    board.s.serial = serial;
    board.r = OperationResult{};
    board.r.activity = activity;
    board.r.address = address;
    board.r.block = block;
    board.r.startMs = now;
    board.r.serial = serial;
    board.unitsStarted = false;
}

void SetStep(uint32_t step) {
    BoardLock hold;
    board.s.step = step;
    board.s.done = 0;
    board.s.total = 0;
    board.unitsStarted = false;
}

bool Succeeded(Outcome outcome) { return outcome == Outcome::Complete || outcome == Outcome::Stopped; }

void CloseProgress(Outcome outcome) {
    const uint32_t now = platform::TickMs();
    BoardLock hold;
    if (board.s.activity == Activity::None || board.s.endMs != 0) return;  // nothing open
    OperationResult& r = board.r;
    if (r.outcome == Outcome::Running) r.outcome = outcome;
    board.s.endMs = now == board.s.startMs ? now + 1 : now;  // endMs 0 means still open
    board.s.complete = r.outcome == Outcome::Complete;
    r.endMs = board.s.endMs;
    r.step = board.s.step;
    r.stage = board.s.stage;
    r.done = board.s.done;
    r.total = board.s.total;
}

void EndNotStarted(Activity activity, NotStartedWhy why, uint32_t address, uint32_t block) {
    OpenProgress(activity, address, block);
    {
        BoardLock hold;
        board.r.why = why;
    }
    CloseProgress(Outcome::NotStarted);
}

void NoteRefusal(NotStartedWhy why) {
    BoardLock hold;
    ++board.r.refusals;
    board.r.refusedWhy = why;
}

void ReportNotStarted(NotStartedWhy why, uint32_t where) {
    ReportFailure(Outcome::NotStarted, where);
    BoardLock hold;
    if (board.r.why == NotStartedWhy::None) board.r.why = why;
}

void SetStage(Stage stage) {
    BoardLock hold;
    board.s.stage = stage;
}

void ReportVerify(const VerifyFacts& facts) {
    BoardLock hold;
    board.r.verify = facts;
}

void ReportDeviceErrors(const DeviceErrors& errors) {
    BoardLock hold;
    board.r.deviceErrors = errors;
}

void ReportSkipped(uint32_t chunks) {
    BoardLock hold;
    board.r.skipped = chunks;
}

void ReportLineTrouble(const LineTrouble& add) {
    BoardLock hold;
    board.r.line.askedAgain += add.askedAgain;
    board.r.line.damaged += add.damaged;
    board.r.line.lost += add.lost;
    board.r.line.disagreed += add.disagreed;
}

void ReportLineFigures(const LineFigures& figures) {
    BoardLock hold;
    board.r.lineCheck = figures;
}

void ReportUnits(uint32_t done, uint32_t total) {
    const uint32_t now = platform::TickMs();
    BoardLock hold;
    if (!board.unitsStarted) {
        board.unitsStarted = true;
        board.s.unitsMs = now;
    }
    board.s.done = done;
    board.s.total = total;
}

void ReportFailure(Outcome outcome, uint32_t where, int code) {
    BoardLock hold;
    if (board.r.outcome != Outcome::Running) return;  // the first failure says it
    board.r.outcome = outcome;
    board.r.where = where;
    board.r.code = code;
    board.r.failStep = board.s.step;
}

ProgressSnapshot ReadProgress() {
    BoardLock hold;
    return board.s;
}

OperationResult LastResult() {
    BoardLock hold;
    OperationResult r = board.r;
    // Until it is closed the operation runs, whatever a worker recorded.
    if (board.s.endMs == 0 && board.s.activity != Activity::None) r.outcome = Outcome::Running;
    return r;
}

void ResetProgress() {
    BoardLock hold;
    board = Board{};
}

void FormatDeviceErrors(const DeviceErrors& e, char* out, size_t cap) {
    char blocks[48] = "", pages[48] = "";
    if (e.blocks != 0) {
        std::snprintf(blocks, sizeof blocks, "%u block%s not erased", unsigned(e.blocks), e.blocks == 1 ? "" : "s");
    }
    if (e.pages != 0) {
        std::snprintf(pages, sizeof pages, "%u page%s not programmed", unsigned(e.pages), e.pages == 1 ? "" : "s");
    }
    std::snprintf(out, cap, "%.40s%s%.40s", blocks, e.blocks != 0 && e.pages != 0 ? " and " : "", pages);
}

uint32_t ProgressPermille(const ProgressSnapshot& s) {
    if (s.activity == Activity::None) return 0;
    if (s.endMs != 0 && s.complete) return 1000;
    const uint32_t units =
        s.total == 0 ? 0 : static_cast<uint32_t>(uint64_t(s.done > s.total ? s.total : s.done) * 1000 / s.total);
    if (s.activity == Activity::ParamChain) return (s.step * 1000 + units) / 3;
    return units;
}

double ProgressRate(const ProgressSnapshot& s, uint32_t nowMs) {
    const uint32_t elapsed = nowMs - s.unitsMs;
    if (elapsed < 500 || s.done == 0) return 0;
    return s.done * 1000.0 / elapsed;
}

int ProgressSecondsLeft(const ProgressSnapshot& s, uint32_t nowMs) {
    if (s.total == 0 || s.done >= s.total) return -1;
    const double rate = ProgressRate(s, nowMs);
    if (rate <= 0) return -1;
    return static_cast<int>((s.total - s.done) / rate + 0.999);
}

void FormatProgress(const ProgressSnapshot& s, uint32_t nowMs, char* out, size_t cap) {
    if (cap == 0) return;
    out[0] = '\0';
    if (s.activity == Activity::None || s.endMs != 0) return;
    char name[40];
    ActivityTitle(s.activity, s.address, s.block, name, sizeof name);
    Running(s, name, nowMs, out, cap);
}

void ActivityTitle(Activity activity, uint32_t address, uint32_t block, char* out, size_t cap) {
    const char* name = ActivityName(activity);
    if (activity == Activity::ParamChain) {
        std::snprintf(out, cap, "%s %u", name, unsigned(block));
    } else if (CountsBytes(activity) && activity != Activity::FirmwareVerify) {
        std::snprintf(out, cap, "%s 0x%X", name, unsigned(address));
    } else {
        std::snprintf(out, cap, "%s", name);
    }
}

}  // namespace ops
