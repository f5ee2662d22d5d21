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
    kExitStation = 9,        // a station's units failed, not all with the same code
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
    Decode,
    Check,
};

enum class Verbosity { Normal, Quiet, Verbose };

// The units one command serves at once (a station): one process each.
constexpr int kMaxUnits = 64;

// The window's edits hold 255 characters and the dispatcher reads them whole;
// a longer text is refused rather than cut (a cut text is another number).
constexpr size_t kNumberTextSize = 256;

struct Request {
    Command command = Command::None;
    Verbosity verbosity = Verbosity::Normal;
    bool json = false;
    bool sim = false;
    bool force = false;                 // update, recover: program a firmware file with damaged records
    const char* port = nullptr;         // as given: the first --port
    const char* ports[kMaxUnits] = {};  // every --port, in order
    int portCount = 0;
    const char* portsFrom = nullptr;     // --ports-from FILE: one port a line
    int simUnits = 0;                    // --sim [N]: N simulated units (sim is set)
    const char* record = nullptr;        // --record FILE: the service record appended to
    const char* label = nullptr;         // --label NAME: the unit's name in the record
    bool ifDifferent = false;            // update --if-different: only a unit that does not hold the file
    const char* file = nullptr;          // UTF-8, as given
    char address[kNumberTextSize] = "";  // as the start address edit takes it
    char length[kNumberTextSize] = "";   // empty: the file's size (write)
    uint32_t addressValue = 0;
    uint32_t lengthValue = 0;
    int block = 0;                // param
    const char* text1 = nullptr;  // param, UTF-8
    const char* text2 = nullptr;
    int seconds = -1;               // monitor, pattern: -1 until Ctrl+C
    bool firmwareVerify = false;    // verify FILE: the firmware's pages, not a range
    bool verifyAfter = false;       // write, update, recover --verify: the operation, then a verify
    bool allRanges = false;         // --all: list every differing range, not the first ten
    bool expectAnswer = false;      // --expect-answer: a request that needs no answer fails without one
    bool strict = false;            // --strict: refuse a firmware file with bytes no update writes
    bool decode = false;            // --decode: each frame's decoding under its line
    const char* capture = nullptr;  // --capture FILE: the line's bytes in pcapng, UTF-8 as given
    char error[256] = "";           // why the arguments were refused
};

// false with request.error set when the arguments are not usable.
bool ParseArguments(int argc, const char* const* argv, Request& request);
// Whether the command runs on several units at once (cli/station.h).
bool ServesStation(const Request& request);
// Whether an argument is one of the options that choose the units (--port,
// --ports-from, --sim and their values, --record's own file being the
// unit's too): how many of argv[i..] it takes, 0 when it is none.
int UnitChoiceArguments(int argc, const char* const* argv, int i);

const char* CommandName(Command command);
const char* UsageText();
// "tq73 VERSION (commit C)\n"; C is "unknown" for a build outside git.
const char* VersionText();
const char* VersionNumber();  // "1.4.0"
const char* VersionCommit();  // the commit, or "unknown"

}  // namespace cli
