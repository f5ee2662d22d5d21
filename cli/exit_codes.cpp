// exit_codes.cpp - the one table from an operation's result to tq73's exit
// code (args.h lists the codes; the README, --help and the man page too).
#include "cli/exit_codes.h"

#include "cli/args.h"

namespace cli {

namespace {

using ops::NotStartedWhy;
using ops::Outcome;

struct OutcomeRow {
    Outcome outcome;
    Exit exit;
};

constexpr OutcomeRow kOutcomes[] = {
    {Outcome::Complete, {kExitOk, "complete"}},
    {Outcome::Stopped, {kExitOk, "stopped"}},
    {Outcome::Different, {kExitDifferent, "different"}},
    {Outcome::NoAnswer, {kExitNoAnswer, "no_answer"}},
    {Outcome::DamagedAnswer, {kExitNoAnswer, "damaged_answer"}},
    {Outcome::Refused, {kExitRefused, "refused"}},
    {Outcome::Failed, {kExitUpdateFailed, "failed"}},
    {Outcome::PortClosed, {kExitPort, "port_closed"}},
    {Outcome::FileError, {kExitFile, "file_error"}},
};

// A command that started nothing: a file that cannot be used is a file
// error, a length or texts that do not fit are bad arguments, the console's
// own refusals (busy, a worker not started) are the rest.
struct WhyRow {
    NotStartedWhy why;
    Exit exit;
};

constexpr WhyRow kNotStarted[] = {
    {NotStartedWhy::NoModel, {kExitFile, "file_error"}},      {NotStartedWhy::FirmwareFile, {kExitFile, "file_error"}},
    {NotStartedWhy::FileOpen, {kExitFile, "file_error"}},     {NotStartedWhy::FileRead, {kExitFile, "file_error"}},
    {NotStartedWhy::NotAFile, {kExitFile, "file_error"}},     {NotStartedWhy::ReadOnly, {kExitFile, "file_error"}},
    {NotStartedWhy::NameTooLong, {kExitFile, "file_error"}},  {NotStartedWhy::BeyondFile, {kExitUsage, "usage"}},
    {NotStartedWhy::NothingToCompare, {kExitUsage, "usage"}}, {NotStartedWhy::TextsTooLong, {kExitUsage, "usage"}},
    {NotStartedWhy::Length, {kExitUsage, "not_started"}},
};

constexpr Exit kInterrupted = {kExitInterrupted, "interrupted"};
constexpr Exit kNotStartedOther = {kExitOther, "not_started"};

}  // namespace

Exit ExitFor(const ops::OperationResult& result, bool interrupted) {
    if (interrupted) return kInterrupted;
    for (const OutcomeRow& row : kOutcomes) {
        if (row.outcome == result.outcome) return row.exit;
    }
    for (const WhyRow& row : kNotStarted) {
        if (row.why == result.why) return row.exit;
    }
    return kNotStartedOther;
}

}  // namespace cli
