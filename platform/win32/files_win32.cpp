// files_win32.cpp - file reads and writes on Windows.
//
// Paths arrive as UTF-8 and are opened through the W calls: the A calls would
// read the name in the system's ANSI code page, which on most PCs cannot hold
// every name (é on a Japanese Windows, データ on a Western one) and turns the
// rest into look-alikes, so that another file than the one named is opened or
// created.
#include <windows.h>

#include "platform/platform.h"

namespace platform {

namespace {
// A path the console takes has at most kPathChars characters; the files it
// names beside it (a flash read's "FILE.partial") may have a few more.
constexpr int kFileCallChars = kPathChars + 16;

// The UTF-16 form of a path; false (nothing to open) when it is not valid UTF-8
// or longer than a path the console carries.
bool WidePath(const char* path, wchar_t (&wide)[kFileCallChars + 1]) {
    return Utf8ToUtf16(path, wide, kFileCallChars + 1, kFileCallChars) == PathCarry::Ok && wide[0] != L'\0';
}

// How long a file that another program holds without sharing is asked for
// again before the open counts as failed, and how often. The open runs on the
// window's thread, which answers only sent messages meanwhile: the bound keeps
// the window answering within its second.
constexpr uint64_t kSharingRetryUs = 500000;
constexpr uint32_t kSharingRetryPauseMs = 50;

FileHandle OpenExisting(const char* path, DWORD access, DWORD share) {
    wchar_t wide[kFileCallChars + 1];
    if (!WidePath(path, wide)) return nullptr;
    HANDLE h = CreateFileW(wide, access, share, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    return h == INVALID_HANDLE_VALUE ? nullptr : h;
}

bool HeldElsewhere() {
    const DWORD error = GetLastError();
    return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION;
}
}  // namespace

// A virus scanner or an indexer looks at a freshly copied file for a moment,
// without sharing: the open is tried again for up to 0.5 s. The pauses serve
// the window's sent messages, so that other threads' log requests go on.
FileHandle FileOpenRead(const char* path) {
    const uint64_t until = MonotonicUs() + kSharingRetryUs;
    for (;;) {
        FileHandle file = OpenExisting(path, GENERIC_READ, FILE_SHARE_READ);
        if (file != nullptr || !HeldElsewhere() || MonotonicUs() >= until) return file;
        UiSleepMs(kSharingRetryPauseMs);
    }
}

FileHandle FileOpenExclusive(const char* path) {
    // Windows refuses write access to a read-only file by itself; Wine run by
    // root opens it all the same (the Unix open succeeds), so the attribute is
    // asked first and the promise holds on both.
    wchar_t wide[kFileCallChars + 1];
    if (!WidePath(path, wide)) return nullptr;
    const DWORD attributes = GetFileAttributesW(wide);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0) {
        return nullptr;
    }
    return OpenExisting(path, GENERIC_READ | GENERIC_WRITE, 0);
}

int FileRead(FileHandle file, void* buffer, int count) {
    const int got = FileReadOnce(file, buffer, count);
    return got > 0 ? got : 0;
}

int FileReadOnce(FileHandle file, void* buffer, int count) {
    DWORD got = 0;
    if (!ReadFile(static_cast<HANDLE>(file), buffer, static_cast<DWORD>(count), &got, nullptr)) {
        return -1;
    }
    return static_cast<int>(got);
}

void FileClose(FileHandle file) { CloseHandle(static_cast<HANDLE>(file)); }

bool FileWriteNew(const char* path, const void* data, int count) {
    wchar_t wide[kFileCallChars + 1];
    if (!WidePath(path, wide)) return false;
    HANDLE h = CreateFileW(wide, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    DWORD wrote = 0;
    const BOOL ok = WriteFile(h, data, static_cast<DWORD>(count), &wrote, nullptr);
    CloseHandle(h);
    return ok && wrote == static_cast<DWORD>(count);
}

bool FileExists(const char* path) {
    wchar_t wide[kFileCallChars + 1];
    return WidePath(path, wide) && GetFileAttributesW(wide) != INVALID_FILE_ATTRIBUTES;
}

bool FileRemove(const char* path) {
    wchar_t wide[kFileCallChars + 1];
    return WidePath(path, wide) && DeleteFileW(wide) != 0;
}

bool FileReplace(const char* from, const char* to) {
    wchar_t wideFrom[kFileCallChars + 1];
    wchar_t wideTo[kFileCallChars + 1];
    return WidePath(from, wideFrom) && WidePath(to, wideTo) &&
           MoveFileExW(wideFrom, wideTo, MOVEFILE_REPLACE_EXISTING) != 0;
}

}  // namespace platform
