// files_win32.cpp - file reads and writes on Windows.
#include <windows.h>

#include "platform/platform.h"

namespace platform {

namespace {
FileHandle OpenExisting(const char* path, DWORD access) {
    HANDLE h = CreateFileA(path, access, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    return h == INVALID_HANDLE_VALUE ? nullptr : h;
}
}  // namespace

FileHandle FileOpenRead(const char* path) { return OpenExisting(path, GENERIC_READ); }

FileHandle FileOpenExclusive(const char* path) {
    // Windows refuses write access to a read-only file by itself; Wine run by
    // root opens it all the same (the Unix open succeeds), so the attribute is
    // asked first and the promise holds on both.
    const DWORD attributes = GetFileAttributesA(path);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0) {
        return nullptr;
    }
    return OpenExisting(path, GENERIC_READ | GENERIC_WRITE);
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
    HANDLE h = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                           nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    DWORD wrote = 0;
    const BOOL ok = WriteFile(h, data, static_cast<DWORD>(count), &wrote, nullptr);
    CloseHandle(h);
    return ok && wrote == static_cast<DWORD>(count);
}

bool FileExists(const char* path) { return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES; }

bool FileRemove(const char* path) { return DeleteFileA(path) != 0; }

bool FileReplace(const char* from, const char* to) {
    return MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING) != 0;
}

}  // namespace platform
