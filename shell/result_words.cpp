// result_words.cpp - the words for an operation's result, the status
// strip's and the command line's.
#include "shell/result_words.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "firmware/programmer.h"
#include "platform/platform.h"
#include "shell/line_verdict.h"

namespace shell {

namespace {

using ops::Activity;
using ops::NotStartedWhy;
using ops::OperationResult;
using ops::Outcome;
using ops::Stage;

void Where(const OperationResult& s, char* out, size_t cap) {
    if (ops::CountsPages(s.activity)) {
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
               s.activity != Activity::AwaitApplication && s.activity != Activity::LineCheck) {
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

void VerifyEnded(const OperationResult& s, const char* name, double took, char* out, size_t cap) {
    char compared[16];
    ops::GroupedNumber(s.verify.compared, compared, sizeof compared);
    if (s.outcome == Outcome::Complete) {
        std::snprintf(out, cap, "%s: %s bytes equal in %.1f s", name, compared, took);
        return;
    }
    char differing[16];
    ops::GroupedNumber(s.verify.differing, differing, sizeof differing);
    std::snprintf(out, cap, "%s: %s of %s bytes differ in %u range%s, the first at 0x%06X", name, differing, compared,
                  unsigned(s.verify.ranges), s.verify.ranges == 1 ? "" : "s", unsigned(s.verify.first));
}

void Headline(const OperationResult& s, const char* name, char* out, size_t cap) {
    const uint32_t failStep = s.failStep;
    const double took = (s.endMs - s.startMs) / 1000.0;
    // A chain names the step that failed: "parameter block 2: erase refused at 0xE200".
    char subject[48];
    if (s.activity == Activity::ParamChain && s.outcome != Outcome::Complete && s.outcome != Outcome::NotStarted) {
        std::snprintf(subject, sizeof subject, "%s: %s", name, ops::ChainStepName(failStep));
    } else {
        std::snprintf(subject, sizeof subject, "%s", name);
    }
    char where[48];
    OperationResult at = s;
    at.step = failStep;
    Where(at, where, sizeof where);
    const bool verify = s.activity == Activity::FlashVerify || s.activity == Activity::FirmwareVerify;
    if (verify && (s.outcome == Outcome::Complete || s.outcome == Outcome::Different)) {
        VerifyEnded(s, name, took, out, cap);
        return;
    }
    if (s.activity == Activity::LineCheck && s.outcome == Outcome::Complete) {
        LineHeadline(s.lineCheck, out, cap);
        return;
    }
    if (s.outcome == Outcome::Failed && (s.deviceErrors.blocks != 0 || s.deviceErrors.pages != 0)) {
        char errors[96];
        ops::FormatDeviceErrors(s.deviceErrors, errors, sizeof errors);
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

// ---- the command line's sentences ------------------------------------------------

void Add(char* out, size_t cap, const char* format, ...) {
    const size_t n = std::strlen(out);
    if (n + 1 >= cap) return;
    va_list args;
    va_start(args, format);
    std::vsnprintf(out + n, cap - n, format, args);
    va_end(args);
}

// " (port X, file F)": where the operation ran.
void AddWhere(const ResultContext& c, char* out, size_t cap) {
    if (c.file != nullptr) {
        Add(out, cap, " (port %s, file %s)", c.port, c.file);
    } else if (c.port[0] != '\0') {
        Add(out, cap, " (port %s)", c.port);
    }
}

const char* File(const ResultContext& c) { return c.file != nullptr ? c.file : ""; }

void NoAnswer(const OperationResult& r, const ResultContext& c, char* out, size_t cap) {
    AddWhere(c, out, cap);
    if (r.activity == Activity::Update) {
        Add(out, cap,
            ": the device did not answer the model request; check the cable and that the unit runs "
            "its application, then try again");
    } else {
        Add(out, cap, ": check the cable, the port and that the unit is powered, then try again");
    }
}

void Refused(const OperationResult& r, const ResultContext& c, char* out, size_t cap) {
    AddWhere(c, out, cap);
    if (r.activity == Activity::Update) {
        Add(out, cap, ": the unit does not take this firmware's model; check that the file is meant for it");
    } else if (!ops::CountsBytes(r.activity)) {
        Add(out, cap, ": the unit refused the request; check that it runs its application, then try again");
    } else {
        Add(out, cap, ": the unit refused the request; check ADDR and LEN against its flash");
    }
}

void Failed(const OperationResult& r, const ResultContext& c, const char* ended, char* out, size_t cap) {
    // A status failure's text already names what failed and where.
    if (r.code == firmware::kDeviceReportedFailure) {
        std::snprintf(out, cap, "%s", ended);
    } else {
        std::snprintf(out, cap, "%s: %s", ended, firmware::ProgramResultMeaning(r.code));
    }
    AddWhere(c, out, cap);
    AppendBootModeAdvice(r, c, out, cap);
}

// A file that is read (a write's, a verify's) or written (a read's) that is
// not a file of the kind taken: what stands there, and what to do.
void UnusableFile(const OperationResult& r, const ResultContext& c, char* out, size_t cap) {
    const char* file = File(c);
    const bool target = r.activity == Activity::FlashRead;
    const platform::FileKind kind = platform::FileKindAt(c.path[0] != '\0' ? c.path : file, !target);
    if (target && (kind == platform::FileKind::Regular || kind == platform::FileKind::Missing)) {
        std::snprintf(out, cap,
                      "flash read: %s.partial, which the read writes first, is not a file: nothing "
                      "was sent; remove it or choose another name",
                      file);
    } else if (target || (kind != platform::FileKind::Regular && kind != platform::FileKind::Pipe)) {
        if (kind == platform::FileKind::Missing) {
            std::snprintf(out, cap, "%s: %s does not exist: nothing was sent; check the path", c.command, file);
        } else {
            std::snprintf(out, cap, "%s: %s %s: nothing was sent; give the path of a file", c.command, file,
                          platform::NotAFileText(kind));
        }
    } else {
        const platform::FileFault fault = platform::LastFileFault();
        std::snprintf(out, cap, "%s: %s cannot be read (%s): nothing was sent", c.command, file,
                      platform::FileFaultText(fault));
        Add(out, cap,
            fault == platform::FileFault::Idle ? "; check that something writes to it"
                                               : "; check that you may read it and that no other program holds it");
    }
    AddWhere(c, out, cap);
}

void NotStarted(const OperationResult& r, const ResultContext& c, const char* ended, char* out, size_t cap) {
    const char* file = File(c);
    switch (r.why) {
        case NotStartedWhy::NoModel:
            std::snprintf(out, cap,
                          "%s: %s carries no model record (a TQ1, TQ2 or TQ3 line): nothing was sent; use the "
                          "firmware file made for this unit",
                          ended, file);
            return;
        case NotStartedWhy::FirmwareFile:
            std::snprintf(out, cap, "%s: cannot read %s as a Motorola S-record file: nothing was sent", c.command,
                          file);
            return;
        case NotStartedWhy::FileOpen:
            if (r.activity == Activity::FlashRead) {
                std::snprintf(out, cap,
                              "flash read: %s could not be written: check that its folder exists and is writable "
                              "and that no other program has it open (nothing was sent)",
                              file);
                AddWhere(c, out, cap);
                return;
            }
            [[fallthrough]];
        case NotStartedWhy::FileRead:
        case NotStartedWhy::NotAFile: UnusableFile(r, c, out, cap); return;
        case NotStartedWhy::ReadOnly:
            std::snprintf(out, cap,
                          "flash read: %s is read-only: nothing was sent; make it writable or choose another name",
                          file);
            AddWhere(c, out, cap);
            return;
        case NotStartedWhy::NameTooLong:
            std::snprintf(out, cap,
                          "flash read: the name %s.partial, which the read writes first, is longer than the file "
                          "system takes: nothing was sent; choose a shorter name",
                          file);
            return;
        case NotStartedWhy::BeyondFile:
            std::snprintf(out, cap, "%s: LEN %s is more than %s holds: nothing was sent", c.command, c.length, file);
            return;
        case NotStartedWhy::NothingToCompare:
            std::snprintf(out, cap, "%s: %s is empty: there is nothing to compare; nothing was sent", c.command, file);
            return;
        case NotStartedWhy::TextsTooLong:
            std::snprintf(out, cap,
                          "param: TEXT1 and TEXT2 need %u bytes in the parameter block, which holds %s: nothing was "
                          "sent; shorten them",
                          c.textsNeeded, "256");
            return;
        default: break;
    }
    // A length the transfer buffer cannot take, or the worker not started.
    std::snprintf(out, cap, "%s", ended);
    AddWhere(c, out, cap);
}

void Ended(const OperationResult& r, const ResultContext& c, const char* ended, char* out, size_t cap) {
    std::snprintf(out, cap, "%s", ended);
    switch (r.outcome) {
        case Outcome::Complete:
        case Outcome::Stopped:
            if (r.activity == Activity::ApStop) Add(out, cap, ": the device answered");
            if (r.activity == Activity::FlashRead) Add(out, cap, ": %u bytes in %s", unsigned(r.total), File(c));
            if (r.activity == Activity::FlashWrite) Add(out, cap, ": %u bytes from %s", unsigned(r.total), File(c));
            return;
        case Outcome::Different:
            AddWhere(c, out, cap);
            Add(out, cap, ": the unit does not hold the file there");
            return;
        case Outcome::NoAnswer: NoAnswer(r, c, out, cap); return;
        case Outcome::Refused: Refused(r, c, out, cap); return;
        case Outcome::Failed: Failed(r, c, ended, out, cap); return;
        case Outcome::PortClosed:
            AddWhere(c, out, cap);
            Add(out, cap, ": the port went away under the operation; check the cable or adapter, then try again");
            return;
        case Outcome::DamagedAnswer:
            AddWhere(c, out, cap);
            Add(out, cap, ": the answer came cut or corrupted; check the cable and the connectors, then try again");
            return;
        case Outcome::FileError:
            AddWhere(c, out, cap);
            Add(out, cap, ": check that the folder exists and is writable and the file is not open elsewhere");
            return;
        case Outcome::NotStarted:
        default: NotStarted(r, c, ended, out, cap); return;
    }
}

void Interrupted(const OperationResult& r, const ResultContext& c, const char* ended, char* out, size_t cap) {
    const bool programming = ops::CountsPages(r.activity);
    if (programming && r.outcome == Outcome::Failed) {
        // The programmer's failure is the closed port's doing, not the device's;
        // in the erase pass it stopped at a block, in the write pass at a page.
        std::snprintf(out, cap, "interrupted: the %s stopped at %s 0x%04X",
                      r.activity == Activity::Update ? "update" : "recovery",
                      r.stage == Stage::Erasing ? "the erase of the block at" : "page", unsigned(r.where));
    } else {
        std::snprintf(out, cap, "interrupted: %s", ended);
    }
    AddWhere(c, out, cap);
    if (programming) AppendBootModeAdvice(r, c, out, cap);
    if (r.activity == Activity::FlashRead && r.outcome != Outcome::FileError) {
        // The read's bytes never take the target's place unless it was read whole.
        if (r.done != 0) {
            Add(out, cap, ": %s was not changed; %s.partial holds only the bytes read before the interruption", File(c),
                File(c));
        } else {
            Add(out, cap, ": %s was not changed (nothing was read)", File(c));
        }
    }
}

// A marginal line that was survived is said beside the outcome, whatever it is.
void AddAskedAgain(const OperationResult& r, char* out, size_t cap) {
    const uint32_t again = r.line.askedAgain;
    if (again != 0) Add(out, cap, ", %u answer%s asked again", unsigned(again), again == 1 ? "" : "s");
}

}  // namespace

void ResultHeadline(const OperationResult& r, char* out, size_t cap) {
    if (cap == 0) return;
    out[0] = '\0';
    if (r.activity == Activity::None) return;
    char name[40];
    ops::ActivityTitle(r.activity, r.address, r.block, name, sizeof name);
    Headline(r, name, out, cap);
    AddAskedAgain(r, out, cap);
}

void StatusText(const ops::ProgressSnapshot& s, uint32_t nowMs, char* out, size_t cap) {
    if (s.endMs == 0) {
        ops::FormatProgress(s, nowMs, out, cap);
        return;
    }
    const OperationResult r = ops::LastResult();
    if (r.serial == s.serial) {
        ResultHeadline(r, out, cap);
    } else if (cap != 0) {
        out[0] = '\0';  // a newer operation opened since: its text comes with the next look
    }
}

void AppendBootModeAdvice(const OperationResult& r, const ResultContext& c, char* out, size_t cap) {
    // An update programs only after the device accepted its model (step 1).
    const bool programmed = r.activity == Activity::Recovery || (r.activity == Activity::Update && r.step == 1);
    if (!programmed) return;
    const char* port = c.advicePort;
    const char* file = File(c);
    const bool failed = !c.interrupted && r.outcome == Outcome::Failed;
    const firmware::UnitLeft left = firmware::UnitLeftAfter(r.code, firmware::LastRunAnswered());
    constexpr const char* kRestart = "restart it into its boot loader (power it off and on in boot mode), then run";
    if (failed && r.activity == Activity::Recovery && left == firmware::UnitLeft::Unknown) {
        // Nothing answered in boot mode: the unit may well run its application.
        Add(out, cap,
            ": the unit did not answer in boot mode; if it runs its application, update it with tq73 --port "
            "%s update %s; if it waits in its boot loader, check the cable and run recover again",
            port, file);
    } else if (failed && r.code == firmware::kDeviceReportedFailure) {
        Add(out, cap,
            ": the unit does not hold this firmware; run tq73 --port %s update %s again, and if the same "
            "place fails again the unit's flash needs service",
            port, file);
    } else if (failed && left == firmware::UnitLeft::WriteModeOpen) {
        Add(out, cap, ": the unit may be left in its write mode, where no command reaches it; %s", kRestart);
        Add(out, cap, " tq73 --port %s recover %s", port, file);
    } else if (failed && left == firmware::UnitLeft::MidPage) {
        Add(out, cap, ": the unit is left in its boot loader in the middle of a page, where no command reaches it; %s",
            kRestart);
        Add(out, cap, " tq73 --port %s recover %s", port, file);
    } else if (failed && r.code != firmware::kWritePassEnded && left == firmware::UnitLeft::PartlyWritten) {
        Add(out, cap,
            ": the unit has left its boot loader with its flash only partly written; run tq73 --port %s update %s",
            port, file);
        Add(out, cap,
            " again; if the unit does not answer, start it in its boot loader and run tq73 --port %s recover %s", port,
            file);
    } else if (r.code == firmware::kWritePassEnded) {
        Add(out, cap,
            ": the write pass was ended before the page at 0x%04X, with its closing byte; the pages from there on "
            "are not written",
            unsigned(r.where));
        Add(out, cap, ": restart the unit into its boot loader, then run tq73 --port %s recover %s", port, file);
    } else if (c.interrupted && c.writePassCut) {
        Add(out, cap,
            ": the device is left in boot mode part-way through a write pass; restart the unit into its "
            "boot loader, then run tq73 --port %s recover %s",
            port, file);
    } else {
        Add(out, cap, ": the device is left in boot mode; run tq73 --port %s recover %s to bring it back", port, file);
    }
}

void ResultSentence(const OperationResult& r, const ResultContext& c, char* out, size_t cap) {
    if (cap == 0) return;
    out[0] = '\0';
    // A check that measured says what it found, answered or not.
    const bool measured = r.outcome == Outcome::Complete || r.outcome == Outcome::NoAnswer;
    if (r.activity == Activity::LineCheck && measured && !c.interrupted) {
        char words[600];
        JudgeLine(r.lineCheck, c.port, words, sizeof words);
        std::snprintf(out, cap, "check: %s", words);
        return;
    }
    char ended[256];
    ResultHeadline(r, ended, sizeof ended);
    if (c.interrupted) {
        Interrupted(r, c, ended, out, cap);
    } else {
        Ended(r, c, ended, out, cap);
    }
}

}  // namespace shell
