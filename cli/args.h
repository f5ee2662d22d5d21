// args.h - the command line of tq73: what to do, on which port, and how to
// show it; number texts checked the way the window's edits take them
// (shell/number_text.h).
#pragma once

#include <cstddef>
#include <cstdint>

namespace cli {

// Exit codes; the usage text and the README list them.
enum ExitCode : int {
    kExitOk = 0,
    kExitOther = 1,          // none of the below (a refusal by the console itself)
    kExitUsage = 2,          // bad arguments
    kExitPort = 3,           // the port cannot be opened (or closed under the operation)
    kExitNoAnswer = 4,       // the device did not answer, or its answer came damaged
    kExitRefused = 5,        // the device said no (a model it does not take included)
    kExitFile = 6,           // a file cannot be read or written
    kExitUpdateFailed = 7,   // the boot-mode programmer failed (its result code is shown)
    kExitDifferent = 8,      // a verify read the whole range: the flash differs from the file
    kExitInterrupted = 130,  // Ctrl+C
};

enum class Command {
    None,
    Help,
    Version,
    Ports,
    Monitor,
    Stop,
    Resume,
    Request62,
    Update,
    Recover,
    Read,
    Write,
    Erase,
    Param,
    ClockSet,
    ClockGet,
    Pattern,
    Verify,
    Check,
};

enum class Verbosity { Normal, Quiet, Verbose };

// The window's edits hold 255 characters and the dispatcher reads them whole;
// a longer text is refused rather than cut (a cut text is another number).
constexpr size_t kNumberTextSize = 256;

struct Request {
    Command command = Command::None;
    Verbosity verbosity = Verbosity::Normal;
    bool json = false;
    bool sim = false;
    bool force = false;                  // update, recover: program a firmware file with damaged records
    const char* port = nullptr;          // as given
    const char* file = nullptr;          // UTF-8, as given
    char address[kNumberTextSize] = "";  // as the start address edit takes it
    char length[kNumberTextSize] = "";   // empty: the file's size (write)
    uint32_t addressValue = 0;
    uint32_t lengthValue = 0;
    int block = 0;                // param
    const char* text1 = nullptr;  // param, UTF-8
    const char* text2 = nullptr;
    int seconds = -1;             // monitor, pattern: -1 until Ctrl+C
    bool firmwareVerify = false;  // verify FILE: the firmware's pages, not a range
    bool verifyAfter = false;     // write, update, recover --verify: the operation, then a verify
    bool allRanges = false;       // --all: list every differing range, not the first ten
    bool expectAnswer = false;    // --expect-answer: a request that needs no answer fails without one
    bool strict = false;          // --strict: refuse a firmware file with bytes no update writes
    char error[256] = "";         // why the arguments were refused
};

// false with request.error set when the arguments are not usable.
bool ParseArguments(int argc, const char* const* argv, Request& request);

const char* CommandName(Command command);
const char* UsageText();
// "tq73 VERSION (commit C)\n"; C is "unknown" for a build outside git.
const char* VersionText();
const char* VersionNumber();  // "1.4.0"
const char* VersionCommit();  // the commit, or "unknown"

}  // namespace cli
