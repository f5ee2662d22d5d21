// verbs.h - the verbs of tqdrive.exe and the runner that both the command line and the serve mode use.
#pragma once

#include "driver.h"

namespace tqdrive {

struct Verb {
    const wchar_t* name;
    int arity;
    const char* usage;
    // The step; none for a mode of the program (serve), which no step list may hold.
    void (*run)(const Args& args);
};

// The outcome of a step list: code 0 when every step passed, else the exit code of the
// step that did not (1 wrong, 2 bad list, 3 cannot be checked here), the index of its
// verb in the list, and why.
struct Outcome {
    int code = 0;
    size_t at = 0;
    std::string why;
};

// Checks the whole list, then runs its steps in order up to the first that fails.
Outcome RunSteps(const Args& args);

// The usage text on stderr, from the verbs' table.
void Usage();

// Reads step lists from stdin, runs each, answers each on stdout (serve.cpp).
int Serve();

}  // namespace tqdrive
