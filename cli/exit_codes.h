// exit_codes.h - tq73's exit code and outcome word for an operation's result.
#pragma once

#include "operations/result.h"

namespace cli {

struct Exit {
    int code;
    const char* name;  // the JSON result's "outcome"
};

// From what the operation came to; Ctrl+C that ended it is exit 130
// ("interrupted") whatever it came to.
Exit ExitFor(const ops::OperationResult& result, bool interrupted);

}  // namespace cli
