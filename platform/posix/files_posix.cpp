// files_posix.cpp - file reads and writes for native builds.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>

#include "platform/platform.h"

namespace platform {

namespace {
FileHandle FromFd(int fd) { return reinterpret_cast<FileHandle>(static_cast<intptr_t>(fd) + 1); }
int ToFd(FileHandle file) { return static_cast<int>(reinterpret_cast<intptr_t>(file) - 1); }
}  // namespace

FileHandle FileOpenRead(const char* path) {
    const int fd = open(path, O_RDONLY | O_CLOEXEC);
    return fd < 0 ? nullptr : FromFd(fd);  // never nullptr for a real descriptor
}

// "No sharing" is an advisory lock here: a file that another program of
// ours holds locked is refused, like a file held open on Windows.
FileHandle FileOpenExclusive(const char* path) {
    const int fd = open(path, O_RDWR | O_CLOEXEC);
    if (fd < 0) return nullptr;
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        close(fd);
        return nullptr;
    }
    return FromFd(fd);
}

int FileRead(FileHandle file, void* buffer, int count) {
    const int got = FileReadOnce(file, buffer, count);
    return got > 0 ? got : 0;
}

int FileReadOnce(FileHandle file, void* buffer, int count) {
    const ssize_t r = read(ToFd(file), buffer, static_cast<size_t>(count));
    return r < 0 ? -1 : static_cast<int>(r);
}

void FileClose(FileHandle file) { close(ToFd(file)); }

bool FileWriteNew(const char* path, const void* data, int count) {
    const int fd = open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    const ssize_t wrote = count > 0 ? write(fd, data, static_cast<size_t>(count)) : 0;
    const bool closed = close(fd) == 0;
    return closed && wrote == count;
}

bool FileExists(const char* path) {
    struct stat st {};
    return lstat(path, &st) == 0;
}

bool FileRemove(const char* path) { return unlink(path) == 0; }

bool FileReplace(const char* from, const char* to) { return rename(from, to) == 0; }

}  // namespace platform
