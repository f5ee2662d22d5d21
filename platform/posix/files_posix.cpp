// files_posix.cpp - file reads and writes for native builds.
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "platform/platform.h"

namespace platform {

namespace {

thread_local FileFault lastFault = FileFault::None;

FileHandle FromFd(int fd) { return reinterpret_cast<FileHandle>(static_cast<intptr_t>(fd) + 1); }
int ToFd(FileHandle file) { return static_cast<int>(reinterpret_cast<intptr_t>(file) - 1); }

FileFault FaultOf(int error) {
    switch (error) {
        case ENOENT:
        case ENOTDIR: return FileFault::Missing;
        case EACCES:
        case EPERM:
        case EROFS: return FileFault::Denied;
        case EISDIR:
        case ELOOP:
        case ENXIO: return FileFault::NotAFile;
        case ENAMETOOLONG: return FileFault::NameTooLong;
        case EWOULDBLOCK: return FileFault::Held;
        default: return FileFault::Other;
    }
}

bool Failed(FileFault fault) {
    lastFault = fault;
    return false;
}

bool FailedErrno() { return Failed(FaultOf(errno)); }

FileKind KindOf(mode_t mode) {
    if (S_ISREG(mode)) return FileKind::Regular;
    if (S_ISDIR(mode)) return FileKind::Folder;
    if (S_ISLNK(mode)) return FileKind::Link;
    if (S_ISFIFO(mode)) return FileKind::Pipe;
    if (S_ISCHR(mode) || S_ISBLK(mode)) return FileKind::Device;
    return FileKind::Other;
}

bool Readable(FileKind kind) { return kind == FileKind::Regular || kind == FileKind::Pipe; }

bool WriteAll(int fd, const uint8_t* data, int count) {
    while (count > 0) {
        const ssize_t n = write(fd, data, static_cast<size_t>(count));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return FailedErrno();
        data += n;
        count -= static_cast<int>(n);
    }
    return true;
}

// The folder's entry of a renamed file reaches the disk only with the folder.
void SyncFolderOf(const char* path) {
    char folder[kPathBytes + 16];
    std::snprintf(folder, sizeof folder, "%s", path);
    char* slash = std::strrchr(folder, '/');
    if (slash == nullptr) {
        std::snprintf(folder, sizeof folder, ".");
    } else {
        slash[slash == folder ? 1 : 0] = '\0';
    }
    const int fd = open(folder, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    fsync(fd);
    close(fd);
}

}  // namespace

FileKind FileKindAt(const char* path, bool followLink) {
    struct stat st {};
    if ((followLink ? stat(path, &st) : lstat(path, &st)) == 0) return KindOf(st.st_mode);
    FailedErrno();
    return errno == ENOENT || errno == ENOTDIR ? FileKind::Missing : FileKind::Other;
}

FileFault LastFileFault() { return lastFault; }

bool BesideProgram(const char* name, char* out, int cap) {
    if (cap > 0) out[0] = '\0';
    char self[kPathBytes];
    const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    if (n <= 0) return false;
    int folder = static_cast<int>(n);
    while (folder > 0 && self[folder - 1] != '/') --folder;
    self[folder] = '\0';
    const int written = std::snprintf(out, static_cast<size_t>(cap), "%s%s", self, name);
    if (written < 0 || written >= cap || CheckBytePath(out) != PathCarry::Ok) {
        if (cap > 0) out[0] = '\0';
        return false;
    }
    return true;
}

// What is not a file or a pipe is refused before it is opened. The open does
// not block: a FIFO with no writer would hold it for ever.
FileHandle FileOpenRead(const char* path) {
    struct stat st {};
    if (stat(path, &st) == 0 && !Readable(KindOf(st.st_mode))) {
        Failed(FileFault::NotAFile);
        return nullptr;
    }
    const int fd = open(path, O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
        FailedErrno();
        return nullptr;
    }
    if (fstat(fd, &st) != 0 || !Readable(KindOf(st.st_mode))) {
        close(fd);
        Failed(FileFault::NotAFile);
        return nullptr;
    }
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return FromFd(fd);  // never nullptr for a real descriptor
}

// "No sharing" is an advisory lock here: a file that another program of
// ours holds locked is refused, like a file held open on Windows.
FileHandle FileOpenExclusive(const char* path) {
    const int fd = open(path, O_RDWR | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
        FailedErrno();
        return nullptr;
    }
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        FailedErrno();
        close(fd);
        return nullptr;
    }
    return FromFd(fd);
}

int FileRead(FileHandle file, void* buffer, int count) {
    const int got = FileReadOnce(file, buffer, count);
    return got > 0 ? got : 0;
}

// A file is always ready; a pipe is waited for, within its bound. A signal
// (Ctrl+C in tq73) ends the wait as a failed read.
int FileReadOnce(FileHandle file, void* buffer, int count) {
    pollfd ready{ToFd(file), POLLIN, 0};
    const int polled = poll(&ready, 1, static_cast<int>(kPipeIdleMs));
    if (polled == 0) {
        Failed(FileFault::Idle);
        return -1;
    }
    const ssize_t r = polled < 0 ? -1 : read(ToFd(file), buffer, static_cast<size_t>(count));
    if (r < 0) FailedErrno();
    return r < 0 ? -1 : static_cast<int>(r);
}

void FileClose(FileHandle file) { close(ToFd(file)); }

bool FileReadOnly(const char* path) {
    struct stat st {};
    if (stat(path, &st) != 0) return false;
    return (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0 || access(path, W_OK) != 0;
}

bool FileWriteNew(const char* path, const void* data, int count) {
    if (unlink(path) != 0 && errno != ENOENT) return FailedErrno();
    const int fd = open(path, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd < 0) return FailedErrno();
    const bool wrote = WriteAll(fd, static_cast<const uint8_t*>(data), count) && (fsync(fd) == 0 || FailedErrno());
    const bool closed = close(fd) == 0 || FailedErrno();
    return wrote && closed;
}

// O_NONBLOCK: a FIFO given as the file is opened without waiting for a
// reader, and then refused.
bool FileAppend(const char* path, const void* data, int count) {
    const int fd = open(path, O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0644);
    if (fd < 0) return FailedErrno();
    struct stat st;
    bool ok = fstat(fd, &st) == 0 ? (S_ISREG(st.st_mode) || Failed(FileFault::NotAFile)) : FailedErrno();
    if (ok) {
        const ssize_t n = write(fd, data, static_cast<size_t>(count));
        ok = n == count ? (fsync(fd) == 0 || FailedErrno()) : (n < 0 ? FailedErrno() : Failed(FileFault::Other));
    }
    close(fd);
    return ok;
}

bool FileCanCreate(const char* path) {
    const int fd = open(path, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd < 0) return FailedErrno();
    close(fd);
    unlink(path);
    return true;
}

bool FileRemove(const char* path) { return unlink(path) == 0 || FailedErrno(); }

// rename(2) is one step and is not kept from a file held open elsewhere.
bool FileReplace(const char* from, const char* to) {
    if (rename(from, to) != 0) return FailedErrno();
    SyncFolderOf(to);
    return true;
}

}  // namespace platform
