// files_posix.cpp - file reads for native builds.
#include <fcntl.h>
#include <unistd.h>

#include <cstdint>

#include "platform/platform.h"

namespace platform {

FileHandle FileOpenRead(const char* path) {
    const int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return nullptr;
    return reinterpret_cast<FileHandle>(static_cast<intptr_t>(fd) + 1);  // never nullptr
}

int FileRead(FileHandle file, void* buffer, int count) {
    const int fd = static_cast<int>(reinterpret_cast<intptr_t>(file) - 1);
    const ssize_t r = read(fd, buffer, static_cast<size_t>(count));
    return r > 0 ? static_cast<int>(r) : 0;
}

void FileClose(FileHandle file) { close(static_cast<int>(reinterpret_cast<intptr_t>(file) - 1)); }

}  // namespace platform
