// files_win32.cpp - file reads on Windows.
#include <windows.h>

#include "platform/platform.h"

namespace platform {

FileHandle FileOpenRead(const char* path) {
    HANDLE h = CreateFileA(path, GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                           nullptr);
    return h == INVALID_HANDLE_VALUE ? nullptr : h;
}

int FileRead(FileHandle file, void* buffer, int count) {
    DWORD got = 0;
    if (!ReadFile(static_cast<HANDLE>(file), buffer, static_cast<DWORD>(count), &got, nullptr)) {
        return 0;
    }
    return static_cast<int>(got);
}

void FileClose(FileHandle file) { CloseHandle(static_cast<HANDLE>(file)); }

}  // namespace platform
