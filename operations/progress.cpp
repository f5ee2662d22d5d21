// progress.cpp - the progress board and its status texts.
#include "operations/progress.h"

#include <cstdio>

#include "platform/platform.h"

namespace ops {

namespace {

struct Board {
    ProgressSnapshot s;
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

bool CountsBytes(Activity a) {
    return a == Activity::FlashWrite || a == Activity::FlashRead || a == Activity::FlashErase ||
           a == Activity::FlashVerify || a == Activity::FirmwareVerify;
}

bool CountsPages(Activity a) { return a == Activity::Update || a == Activity::Recovery; }

// "12,288": the digits grouped in threes.
void Grouped(uint32_t value, char* out, size_t cap) {
    char digits[16];
    const int n = std::snprintf(digits, sizeof digits, "%u", static_cast<unsigned>(value));
    size_t o = 0;
    for (int i = 0; i < n && o + 1 < cap; ++i) {
        if (i != 0 && (n - i) % 3 == 0 && o + 2 < cap) out[o++] = ',';
        out[o++] = digits[i];
    }
    out[o] = '\0';
}

void Name(const ProgressSnapshot& s, char* out, size_t cap) {
    switch (s.activity) {
        case Activity::Update: std::snprintf(out, cap, "update"); break;
        case Activity::Recovery: std::snprintf(out, cap, "recovery"); break;
        case Activity::FlashWrite: std::snprintf(out, cap, "flash write 0x%X", unsigned(s.address)); break;
        case Activity::FlashRead: std::snprintf(out, cap, "flash read 0x%X", unsigned(s.address)); break;
        case Activity::FlashErase: std::snprintf(out, cap, "flash erase 0x%X", unsigned(s.address)); break;
        case Activity::ParamChain: std::snprintf(out, cap, "parameter block %u", unsigned(s.block)); break;
        case Activity::ApStop: std::snprintf(out, cap, "ap-stop"); break;
        case Activity::Sequence: std::snprintf(out, cap, "pattern sequence"); break;
        case Activity::FlashVerify: std::snprintf(out, cap, "flash verify 0x%X", unsigned(s.address)); break;
        case Activity::FirmwareVerify: std::snprintf(out, cap, "firmware verify"); break;
        case Activity::AwaitApplication: std::snprintf(out, cap, "waiting for the unit"); break;
        case Activity::None:
        default: out[0] = '\0'; break;
    }
}

double Seconds(uint32_t ms) { return ms / 1000.0; }

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
        Grouped(s.done, done, sizeof done);
        Grouped(s.total, total, sizeof total);
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
        std::snprintf(out, cap, "%s: step %u of 3, %s", name, unsigned(s.step + 1), kStepNames[s.step % 3]);
    } else if (s.activity == Activity::ApStop) {
        std::snprintf(out, cap, "%s: attempt %u of %u", name, unsigned(s.done), unsigned(s.total));
    } else {
        std::snprintf(out, cap, "%s: running for %u:%02u", name, unsigned(elapsed / 60000),
                      unsigned(elapsed / 1000 % 60));
    }
}

void Where(const ProgressSnapshot& s, char* out, size_t cap) {
    if (CountsPages(s.activity)) {
        // Only the programmer's own failures have a page; a refused model has none.
        if (s.outcome == Outcome::Failed && s.stage == Stage::Erasing) {
            std::snprintf(out, cap, " at the block 0x%04X", unsigned(s.where));
        } else if (s.outcome == Outcome::Failed && s.stage == Stage::WriteMode) {
            std::snprintf(out, cap, " at the write-mode request W");
        } else if (s.outcome == Outcome::Failed) {
            std::snprintf(out, cap, " at page 0x%04X", unsigned(s.where));
        } else {
            out[0] = '\0';
        }
    } else if (s.activity == Activity::ParamChain && s.step == 0) {
        out[0] = '\0';
    } else if (s.activity != Activity::Update && s.activity != Activity::ApStop && s.activity != Activity::Sequence &&
               s.activity != Activity::AwaitApplication) {
        std::snprintf(out, cap, " at 0x%X", unsigned(s.where));
    } else {
        out[0] = '\0';
    }
}

const char* WhyText(NotStartedWhy why) {
    switch (why) {
        case NotStartedWhy::FileOpen: return ": the file cannot be opened";
        case NotStartedWhy::FileRead: return ": the file cannot be read";
        case NotStartedWhy::Length: return ": the length is larger than a transfer takes";
        case NotStartedWhy::NoModel: return ": the firmware file has no model record";
        case NotStartedWhy::FirmwareFile: return ": the firmware file cannot be loaded";
        case NotStartedWhy::Busy: return ": another operation runs";
        case NotStartedWhy::NumberText: return ": a number text is too long";
        case NotStartedWhy::Range: return ": the range runs past 0xFFFFFF";
        case NotStartedWhy::Text: return ": a text holds a character the unit cannot store";
        case NotStartedWhy::NoFileName: return ": no file name was given";
        case NotStartedWhy::NotAFile: return ": the file is a folder, a link or a device";
        case NotStartedWhy::ReadOnly: return ": the file is read-only";
        case NotStartedWhy::NameTooLong: return ": the file system does not take the name";
        case NotStartedWhy::BeyondFile: return ": the length is more than the file holds";
        case NotStartedWhy::NothingToCompare: return ": a length of 0 compares nothing";
        case NotStartedWhy::TextsTooLong: return ": the texts do not fit the block";
        case NotStartedWhy::None:
        default: return "";
    }
}

void VerifyEnded(const ProgressSnapshot& s, const char* name, double took, char* out, size_t cap) {
    char compared[16];
    Grouped(s.verify.compared, compared, sizeof compared);
    if (s.outcome == Outcome::Complete) {
        std::snprintf(out, cap, "%s: %s bytes equal in %.1f s", name, compared, took);
        return;
    }
    char differing[16];
    Grouped(s.verify.differing, differing, sizeof differing);
    std::snprintf(out, cap, "%s: %s of %s bytes differ in %u range%s, the first at 0x%06X", name, differing, compared,
                  unsigned(s.verify.ranges), s.verify.ranges == 1 ? "" : "s", unsigned(s.verify.first));
}

void Ended(const ProgressSnapshot& s, const char* name, char* out, size_t cap) {
    const uint32_t failStep = s.failStep;
    const double took = Seconds(s.endMs - s.startMs);
    // A chain names the step that failed: "parameter block 2: erase refused at 0xE200".
    char subject[48];
    if (s.activity == Activity::ParamChain && s.outcome != Outcome::Complete && s.outcome != Outcome::NotStarted) {
        std::snprintf(subject, sizeof subject, "%s: %s", name, kStepNames[failStep % 3]);
    } else {
        std::snprintf(subject, sizeof subject, "%s", name);
    }
    char where[48];
    ProgressSnapshot at = s;
    at.step = failStep;
    Where(at, where, sizeof where);
    const bool verify = s.activity == Activity::FlashVerify || s.activity == Activity::FirmwareVerify;
    if (verify && (s.outcome == Outcome::Complete || s.outcome == Outcome::Different)) {
        VerifyEnded(s, name, took, out, cap);
        return;
    }
    if (s.outcome == Outcome::Failed && (s.deviceErrors.blocks != 0 || s.deviceErrors.pages != 0)) {
        char errors[96];
        FormatDeviceErrors(s.deviceErrors, errors, sizeof errors);
        std::snprintf(out, cap, "%s failed, err %02x: the device reported %s, the first at 0x%04X", subject,
                      unsigned(s.code), errors, unsigned(s.deviceErrors.first));
        return;
    }
    switch (s.outcome) {
        case Outcome::Complete:
            if (s.skipped != 0) {
                // Skipping FF chunks counts on erased flash: the result must not promise more.
                std::snprintf(out, cap,
                              "%s complete in %.1f s; %u chunk%s of all FF not sent: they count on erased flash "
                              "(erase first, or verify)",
                              name, took, unsigned(s.skipped), s.skipped == 1 ? "" : "s");
            } else {
                std::snprintf(out, cap, "%s complete in %.1f s", name, took);
            }
            break;
        case Outcome::Stopped: std::snprintf(out, cap, "%s stopped after %.1f s", name, took); break;
        case Outcome::Refused: std::snprintf(out, cap, "%s refused%s", subject, where); break;
        case Outcome::NoAnswer: std::snprintf(out, cap, "%s: no answer%s", subject, where); break;
        case Outcome::PortClosed: std::snprintf(out, cap, "%s: the port closed%s", subject, where); break;
        case Outcome::DamagedAnswer: std::snprintf(out, cap, "%s: damaged answer%s", subject, where); break;
        case Outcome::NotStarted: std::snprintf(out, cap, "%s not started%s", subject, WhyText(s.why)); break;
        case Outcome::FileError: std::snprintf(out, cap, "%s: the file could not be written", subject); break;
        case Outcome::Failed:
        default:
            std::snprintf(out, cap, "%s failed%s, err %02x, after %.1f s", subject, where, unsigned(s.code), took);
            break;
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
    board.unitsStarted = false;
}

void SetStep(uint32_t step) {
    BoardLock hold;
    board.s.step = step;
    board.s.done = 0;
    board.s.total = 0;
    board.unitsStarted = false;
}

void CloseProgress(Outcome outcome) {
    const uint32_t now = platform::TickMs();
    BoardLock hold;
    if (board.s.activity == Activity::None || board.s.endMs != 0) return;  // nothing open
    if (board.s.outcome == Outcome::Running) board.s.outcome = outcome;
    board.s.endMs = now == board.s.startMs ? now + 1 : now;  // endMs 0 means still open
}

void EndNotStarted(Activity activity, NotStartedWhy why, uint32_t address, uint32_t block) {
    OpenProgress(activity, address, block);
    {
        BoardLock hold;
        board.s.why = why;
    }
    CloseProgress(Outcome::NotStarted);
}

void NoteRefusal(NotStartedWhy why) {
    BoardLock hold;
    ++board.s.refusals;
    board.s.refusedWhy = why;
}

void ReportNotStarted(NotStartedWhy why, uint32_t where) {
    ReportFailure(Outcome::NotStarted, where);
    BoardLock hold;
    if (board.s.why == NotStartedWhy::None) board.s.why = why;
}

void SetStage(Stage stage) {
    BoardLock hold;
    board.s.stage = stage;
}

void ReportVerify(const VerifyFacts& facts) {
    BoardLock hold;
    board.s.verify = facts;
}

void ReportDeviceErrors(const DeviceErrors& errors) {
    BoardLock hold;
    board.s.deviceErrors = errors;
}

void ReportSkipped(uint32_t chunks) {
    BoardLock hold;
    board.s.skipped = chunks;
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
    if (board.s.outcome != Outcome::Running) return;  // the first failure says it
    board.s.outcome = outcome;
    board.s.where = where;
    board.s.code = code;
    board.s.failStep = board.s.step;
}

ProgressSnapshot ReadProgress() {
    BoardLock hold;
    ProgressSnapshot s = board.s;
    // Until it is closed the operation runs, whatever a worker recorded.
    if (s.endMs == 0 && s.activity != Activity::None) {
        s.outcome = Outcome::Running;
    }
    return s;
}

void ResetProgress() {
    BoardLock hold;
    board.s = ProgressSnapshot{};
    board.unitsStarted = false;
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
    if (s.endMs != 0 && s.outcome == Outcome::Complete) return 1000;
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
    if (s.activity == Activity::None) return;
    char name[40];
    Name(s, name, sizeof name);
    if (s.endMs == 0) {
        Running(s, name, nowMs, out, cap);
        return;
    }
    Ended(s, name, out, cap);
}

}  // namespace ops
