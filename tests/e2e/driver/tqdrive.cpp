// tqdrive.cpp - drives a running tq73panel.exe from outside, for the Wine end-to-end tests.
//
// The arguments are a list of steps, each a verb with a fixed number of arguments
// (verbs.cpp), carried out in order; the first step that fails ends the program with
// exit code 1 and a message on stderr naming the step (usage errors give 2, a check that
// this system cannot make gives 3). Every step that waits takes its own bound in
// seconds. "tqdrive serve" runs step lists read from stdin instead (serve.cpp).
#include "steps.h"
#include "verbs.h"

#include <shellapi.h>

#include <cstdio>
#include <fcntl.h>
#include <io.h>

using namespace tqdrive;

int main() {
    _setmode(_fileno(stdout), _O_BINARY);
    int argc = 0;
    // The W command line keeps Japanese patterns intact whatever the ANSI code page is.
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (!argv || argc < 2) {
        Usage();
        return 2;
    }
    if (argc == 2 && std::wstring(argv[1]) == L"serve") return Serve();
    const Args args(argv + 1, argv + argc);
    const Outcome out = RunSteps(args);
    if (out.code == 2) {
        fprintf(stderr, "tqdrive: bad step at argument %d: %s\n", (int)out.at + 1, ToUtf8(args[out.at]).c_str());
        Usage();
        return 2;
    }
    if (out.code != 0) {
        fprintf(stderr, "tqdrive: %s\n", out.why.c_str());
        return out.code;
    }
    AwaitReleases();
    LocalFree(argv);
    return 0;
}
