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

thread_local FileFault lastFault = FileFault::None;

FileFault FaultOf(DWORD error) {
    switch (error) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_INVALID_DRIVE: return FileFault::Missing;
        case ERROR_ACCESS_DENIED:
        case ERROR_WRITE_PROTECT: return FileFault::Denied;
        case ERROR_SHARING_VIOLATION:
        case ERROR_LOCK_VIOLATION: return FileFault::Held;
        case ERROR_FILENAME_EXCED_RANGE: return FileFault::NameTooLong;
        case ERROR_DIRECTORY: return FileFault::NotAFile;
        default: return FileFault::Other;
    }
}

bool Failed(FileFault fault) {
    lastFault = fault;
    return false;
}

bool FailedLastError() { return Failed(FaultOf(GetLastError())); }

// The UTF-16 form of a path; false (nothing to open) when it is not valid
// UTF-8, longer than a path the console carries, or a device's name: CON,
// COM1 or \\.\PhysicalDrive0 would open a console, a port or a disk.
bool WidePath(const char* path, wchar_t (&wide)[kFileCallChars + 1]) {
    if (NamesWindowsDevice(path)) return Failed(FileFault::NotAFile);
    const bool ok = Utf8ToUtf16(path, wide, kFileCallChars + 1, kFileCallChars) == PathCarry::Ok && wide[0] != L'\0';
    return ok || Failed(FileFault::Other);
}

// How long a file that another program holds without sharing is asked for
// again before the call counts as failed, and how often. An open runs on the
// window's thread, which answers only sent messages meanwhile: the bound keeps
// the window answering within its second.
constexpr uint64_t kSharingRetryUs = 500000;
constexpr uint32_t kSharingRetryPauseMs = 50;

bool HeldElsewhere() {
    const DWORD error = GetLastError();
    return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION;
}

FileHandle OpenExisting(const wchar_t* wide, DWORD access, DWORD share) {
    HANDLE h = CreateFileW(wide, access, share, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        FailedLastError();
        return nullptr;
    }
    return h;
}

// Only a file on a disk is read: a pipe or a character device that a name
// reached after all would hold the reader or give no file's bytes.
FileHandle OnlyDiskFile(FileHandle file) {
    if (file == nullptr || GetFileType(static_cast<HANDLE>(file)) == FILE_TYPE_DISK) return file;
    CloseHandle(static_cast<HANDLE>(file));
    Failed(FileFault::NotAFile);
    return nullptr;
}

bool IsFolder(const wchar_t* wide) {
    const DWORD attributes = GetFileAttributesW(wide);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}
}  // namespace

FileKind FileKindAt(const char* path, bool followLink) {
    if (NamesWindowsDevice(path)) return FileKind::Device;
    wchar_t wide[kFileCallChars + 1];
    if (!WidePath(path, wide)) return FileKind::Other;
    const DWORD attributes = GetFileAttributesW(wide);
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        FailedLastError();
        return lastFault == FileFault::Missing ? FileKind::Missing : FileKind::Other;
    }
    if (!followLink && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) return FileKind::Link;
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? FileKind::Folder : FileKind::Regular;
}

FileFault LastFileFault() { return lastFault; }

// The module's own name is asked for with room to spare, so that a cut name
// (GetModuleFileNameW gives no error for one on every Windows) is told apart.
bool BesideProgram(const char* name, char* out, int cap) {
    if (cap > 0) out[0] = '\0';
    wchar_t wide[2 * kFileCallChars];
    const DWORD n = GetModuleFileNameW(nullptr, wide, 2 * kFileCallChars);
    if (n == 0 || n >= 2 * kFileCallChars - 1) return false;
    int folder = static_cast<int>(n);
    while (folder > 0 && wide[folder - 1] != L'\\' && wide[folder - 1] != L'/') --folder;
    wchar_t wideName[kFileCallChars + 1];
    if (Utf8ToUtf16(name, wideName, kFileCallChars + 1) != PathCarry::Ok) return false;
    int length = folder;
    for (int i = 0; wideName[i] != L'\0'; ++i) {
        if (length == 2 * kFileCallChars) return false;
        wide[length++] = wideName[i];
    }
    return Utf16ToUtf8(wide, length, out, cap) == PathCarry::Ok;
}

// A virus scanner or an indexer looks at a freshly copied file for a moment,
// without sharing: the open is tried again for up to 0.5 s. The pauses serve
// the window's sent messages, so that other threads' log requests go on.
FileHandle FileOpenRead(const char* path) {
    wchar_t wide[kFileCallChars + 1];
    if (!WidePath(path, wide)) return nullptr;
    if (IsFolder(wide)) {
        Failed(FileFault::NotAFile);
        return nullptr;
    }
    const uint64_t until = MonotonicUs() + kSharingRetryUs;
    for (;;) {
        FileHandle file = OpenExisting(wide, GENERIC_READ, FILE_SHARE_READ);
        if (file != nullptr || !HeldElsewhere() || MonotonicUs() >= until) return OnlyDiskFile(file);
        UiSleepMs(kSharingRetryPauseMs);
    }
}

FileHandle FileOpenExclusive(const char* path) {
    wchar_t wide[kFileCallChars + 1];
    if (!WidePath(path, wide)) return nullptr;
    if (FileReadOnly(path)) {
        Failed(FileFault::Denied);
        return nullptr;
    }
    return OnlyDiskFile(OpenExisting(wide, GENERIC_READ | GENERIC_WRITE, 0));
}

int FileRead(FileHandle file, void* buffer, int count) {
    const int got = FileReadOnce(file, buffer, count);
    return got > 0 ? got : 0;
}

int FileReadOnce(FileHandle file, void* buffer, int count) {
    DWORD got = 0;
    if (!ReadFile(static_cast<HANDLE>(file), buffer, static_cast<DWORD>(count), &got, nullptr)) {
        FailedLastError();
        return -1;
    }
    return static_cast<int>(got);
}

void FileClose(FileHandle file) { CloseHandle(static_cast<HANDLE>(file)); }

// Windows refuses write access to a read-only file by itself; Wine run by
// root opens it all the same (the Unix open succeeds), so the attribute is
// asked, and the promise holds on both.
bool FileReadOnly(const char* path) {
    wchar_t wide[kFileCallChars + 1];
    if (!WidePath(path, wide)) return false;
    const DWORD attributes = GetFileAttributesW(wide);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0;
}

bool FileWriteNew(const char* path, const void* data, int count) {
    wchar_t wide[kFileCallChars + 1];
    if (!WidePath(path, wide)) return false;
    if (!DeleteFileW(wide) && FaultOf(GetLastError()) != FileFault::Missing) return FailedLastError();
    HANDLE h = CreateFileW(wide, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return FailedLastError();
    DWORD wrote = 0;
    const bool ok = WriteFile(h, data, static_cast<DWORD>(count), &wrote, nullptr) &&
                    wrote == static_cast<DWORD>(count) && FlushFileBuffers(h);
    if (!ok) FailedLastError();
    CloseHandle(h);
    return ok;
}

// FILE_APPEND_DATA alone: every write goes to the end as one, whoever else
// appends. A link is opened as itself (and refused), not followed.
bool FileAppend(const char* path, const void* data, int count) {
    wchar_t wide[kFileCallChars + 1];
    if (!WidePath(path, wide)) return false;
    HANDLE h = CreateFileW(wide, FILE_APPEND_DATA | SYNCHRONIZE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (h == INVALID_HANDLE_VALUE) return FailedLastError();
    BY_HANDLE_FILE_INFORMATION info;
    bool ok = GetFileType(h) == FILE_TYPE_DISK && GetFileInformationByHandle(h, &info) &&
              (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) == 0;
    if (!ok) {
        Failed(FileFault::NotAFile);
    } else {
        DWORD wrote = 0;
        ok = WriteFile(h, data, static_cast<DWORD>(count), &wrote, nullptr) && wrote == static_cast<DWORD>(count) &&
             FlushFileBuffers(h);
        if (!ok) FailedLastError();
    }
    CloseHandle(h);
    return ok;
}

bool FileCanCreate(const char* path) {
    wchar_t wide[kFileCallChars + 1];
    if (!WidePath(path, wide)) return false;
    HANDLE h = CreateFileW(wide, GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                           FILE_ATTRIBUTE_NORMAL | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (h == INVALID_HANDLE_VALUE) return FailedLastError();
    CloseHandle(h);
    return true;
}

bool FileRemove(const char* path) {
    wchar_t wide[kFileCallChars + 1];
    return WidePath(path, wide) && (DeleteFileW(wide) != 0 || FailedLastError());
}

// Runs on the worker that read the flash: waiting for a file held a moment
// elsewhere holds up no window.
bool FileReplace(const char* from, const char* to) {
    wchar_t wideFrom[kFileCallChars + 1];
    wchar_t wideTo[kFileCallChars + 1];
    if (!WidePath(from, wideFrom) || !WidePath(to, wideTo)) return false;
    const uint64_t until = MonotonicUs() + kSharingRetryUs;
    for (;;) {
        if (MoveFileExW(wideFrom, wideTo, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) return true;
        const DWORD error = GetLastError();
        const bool held =
            error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION || error == ERROR_ACCESS_DENIED;
        if (!held || MonotonicUs() >= until) return Failed(FaultOf(error));
        SleepMs(kSharingRetryPauseMs);
    }
}

}  // namespace platform
