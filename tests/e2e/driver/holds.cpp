// holds.cpp - the verbs that play another program holding a file open without sharing, as an editor or a scanner may.
#include "driver.h"
#include "steps.h"

namespace tqdrive {

namespace {

// Holds that end while the steps after them run: the holder thread closes the file.
std::vector<HANDLE> releasers;

struct Release {
    HANDLE file;
    DWORD afterMs;
};

DWORD WINAPI ReleaseLater(LPVOID p) {
    const Release r = *(Release*)p;
    delete (Release*)p;
    Sleep(r.afterMs);
    CloseHandle(r.file);
    return 0;
}

// The file at path, made if missing, opened with no sharing at all.
HANDLE OpenUnshared(const std::wstring& path) {
    HANDLE h = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                           nullptr);
    if (h == INVALID_HANDLE_VALUE)
        Fail("could not open " + ToUtf8(path) + " (error " + std::to_string(GetLastError()) + ")");
    return h;
}

}  // namespace

// Another program holding a file open without sharing, as an editor or a virus scanner
// may: "holding" is printed once it is open, and it is let go after the span.
void StepHold(const std::wstring& path, DWORD spanMs) {
    HANDLE h = OpenUnshared(path);
    Print("holding");
    Sleep(spanMs);
    CloseHandle(h);
}

void StepHoldFor(const std::wstring& path, DWORD spanMs) {
    HANDLE h = OpenUnshared(path);
    HANDLE t = CreateThread(nullptr, 0, ReleaseLater, new Release{h, spanMs}, 0, nullptr);
    if (t == nullptr) Fail("could not start the releasing thread");
    releasers.push_back(t);
}

// The driver ends only after its holds have been let go.
void AwaitReleases() {
    for (HANDLE t : releasers) WaitForSingleObject(t, INFINITE);
}

}  // namespace tqdrive
