// child_process_posix.cpp - this program again as a child on Linux:
// /proc/self/exe, posix_spawn with its output on a pipe.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "platform/child_process.h"

extern char** environ;

namespace platform::child {

struct Child {
    pid_t pid;
    int out;  // read end of its standard output
    bool ended;
    int code;
};

namespace {

int CodeOf(int status) {
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return 1;
}

void SleepMs(long ms) {
    timespec t{ms / 1000, (ms % 1000) * 1000000L};
    nanosleep(&t, nullptr);
}

}  // namespace

Child* StartSelf(const char* const* args, int count, char* why, size_t whyCap) {
    char self[4096];
    const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    if (n <= 0) {
        std::snprintf(why, whyCap, "cannot tell where this program is (%s)", std::strerror(errno));
        return nullptr;
    }
    self[n] = '\0';
    int pipeEnds[2];
    if (pipe2(pipeEnds, O_CLOEXEC) != 0) {
        std::snprintf(why, whyCap, "no pipe (%s)", std::strerror(errno));
        return nullptr;
    }
    std::vector<char*> argv;
    argv.push_back(self);
    for (int i = 0; i < count; ++i) argv.push_back(const_cast<char*>(args[i]));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], STDOUT_FILENO);
    pid_t pid = 0;
    const int failed = posix_spawn(&pid, self, &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(pipeEnds[1]);
    if (failed != 0) {
        close(pipeEnds[0]);
        std::snprintf(why, whyCap, "cannot start %s (%s)", self, std::strerror(failed));
        return nullptr;
    }
    return new Child{pid, pipeEnds[0], false, 0};
}

int Read(Child* child, char* buffer, int cap) {
    for (;;) {
        const ssize_t n = read(child->out, buffer, static_cast<size_t>(cap));
        if (n >= 0) return static_cast<int>(n);
        if (errno != EINTR) return 0;
    }
}

void Interrupt(Child* child) {
    if (!child->ended) kill(child->pid, SIGINT);
}

void Kill(Child* child) {
    if (!child->ended) kill(child->pid, SIGKILL);
}

bool Wait(Child* child, uint32_t timeoutMs, int& exitCode) {
    for (uint32_t waited = 0; !child->ended; waited += 10) {
        int status = 0;
        const pid_t got = waitpid(child->pid, &status, WNOHANG);
        if (got == child->pid) {
            child->ended = true;
            child->code = CodeOf(status);
            break;
        }
        if (got < 0 && errno != EINTR) {
            child->ended = true;
            child->code = 1;
            break;
        }
        if (waited >= timeoutMs) return false;
        SleepMs(10);
    }
    exitCode = child->code;
    return true;
}

void Release(Child* child) {
    close(child->out);
    delete child;
}

}  // namespace platform::child
