// terminal_posix.cpp - the front end's system services on Linux: write(2) on the
// two streams, SIGINT, SIGTERM and SIGHUP, iconv(3) for code page 932, /dev for ports.
#include <dirent.h>
#include <fcntl.h>
#include <iconv.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/terminal.h"
#include "platform/path_text.h"
#include "platform/posix/port_map.h"

namespace platform::terminal {

namespace {

std::atomic<int> interrupts{0};
std::atomic<long long> lastInterruptMs{0};
static_assert(std::atomic<int>::is_always_lock_free, "the signal handler needs a lock-free counter");
static_assert(std::atomic<long long>::is_always_lock_free, "the signal handler needs a lock-free time");

constexpr int kExitInterrupted = 130;

// The last words: filled by SetLastWords, read by the handler. Each length
// is stored after its text, and set to 0 while the text changes.
char lastLine[512] = "";
char lastHead[512] = "";
char lastTail[1024] = "";
std::atomic<size_t> lastLineLength{0};
std::atomic<size_t> lastHeadLength{0};
std::atomic<size_t> lastTailLength{0};
long long startMs = 0;

long long NowMs() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);  // async-signal-safe
    return static_cast<long long>(t.tv_sec) * 1000 + t.tv_nsec / 1000000;
}

void WriteRaw(int fd, const char* text, size_t n) { (void)!write(fd, text, n); }

// The decimal digits of value, for the handler (no printf there).
void WriteNumber(int fd, long long value) {
    char digits[24];
    int n = 0;
    do {
        digits[sizeof digits - 1 - n++] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value > 0 && n < static_cast<int>(sizeof digits));
    WriteRaw(fd, digits + sizeof digits - n, static_cast<size_t>(n));
}

// The first Ctrl+C ends the operation cleanly, the second cuts it short; a
// third means the operator does not want to wait at all.
void LeaveAtOnce() {
    WriteRaw(STDERR_FILENO, "\ntq73: ", 7);
    WriteRaw(STDERR_FILENO, lastLine, lastLineLength.load());
    WriteRaw(STDERR_FILENO, "\n", 1);
    const size_t head = lastHeadLength.load();
    if (head != 0) {
        WriteRaw(STDOUT_FILENO, lastHead, head);
        WriteRaw(STDOUT_FILENO, ",\"ms\":", 6);
        WriteNumber(STDOUT_FILENO, NowMs() - startMs);
        WriteRaw(STDOUT_FILENO, lastTail, lastTailLength.load());
    }
    _exit(kExitInterrupted);
}

void OnSignal(int) {
    const long long now = NowMs();
    if (interrupts.load() != 0 && now - lastInterruptMs.load() < kInterruptSpacingMs) return;
    lastInterruptMs.store(now);
    if (interrupts.fetch_add(1) >= 2) LeaveAtOnce();
}

// Copies text into a last-words buffer, its length published after it.
void Keep(char* buffer, size_t cap, std::atomic<size_t>& length, const char* text) {
    length.store(0);
    const int n = std::snprintf(buffer, cap, "%s", text);
    length.store(n > 0 && static_cast<size_t>(n) < cap ? static_cast<size_t>(n) : 0);
}

// A descriptor of 0, 1 or 2 that is closed would be taken by the next open,
// the serial port's, and everything printed would go to the unit.
void FillClosedStandardDescriptors() {
    for (int fd = 0; fd <= 2; ++fd) {
        if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
        const int null = open("/dev/null", O_RDWR);
        if (null >= 0 && null != fd) {
            dup2(null, fd);
            close(null);
        }
    }
}

int Fd(Stream s) { return s == Stream::Out ? STDOUT_FILENO : STDERR_FILENO; }

// Converts with iconv; a byte sequence the source encoding does not know is
// written as '?' and skipped, so that one bad byte does not lose a line.
bool Convert(const char* to, const char* from, const char* in, char* out, size_t cap) {
    if (cap == 0) return false;
    out[0] = '\0';
    iconv_t cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1)) return false;
    char* src = const_cast<char*>(in);
    size_t left = std::strlen(in);
    char* dst = out;
    size_t room = cap - 1;
    bool clean = true;
    while (left > 0) {
        if (iconv(cd, &src, &left, &dst, &room) != static_cast<size_t>(-1)) break;
        clean = false;
        if (errno == E2BIG || room == 0) break;
        *dst++ = '?';
        --room;
        ++src;
        --left;
    }
    *dst = '\0';
    iconv_close(cd);
    return clean;
}

}  // namespace

void Init() {
    FillClosedStandardDescriptors();
    startMs = NowMs();
    struct sigaction sa {};
    sa.sa_handler = OnSignal;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    // A dropped SSH session hangs up: like SIGTERM, so that a write pass that
    // has begun is finished and the unit is not left in the middle of it.
    sigaction(SIGHUP, &sa, nullptr);
    // A reader that went away (tq73 ... | head) must not end an operation.
    signal(SIGPIPE, SIG_IGN);
}

void Write(Stream stream, const char* utf8, size_t count) {
    while (count > 0) {
        const ssize_t n = write(Fd(stream), utf8, count);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        utf8 += n;
        count -= static_cast<size_t>(n);
    }
}

bool IsTerminal(Stream stream) { return isatty(Fd(stream)) == 1; }

int TerminalColumns() {
    winsize ws{};
    if (ioctl(STDERR_FILENO, TIOCGWINSZ, &ws) == 0 && ws.ws_col > 0) return ws.ws_col;
    return 80;
}

int Interrupts() { return interrupts.load(); }

bool Closing() { return false; }

void SetLastWords(const char* line, const char* jsonHead, const char* jsonTail) {
    lastHeadLength.store(0);
    Keep(lastLine, sizeof lastLine, lastLineLength, line);
    Keep(lastTail, sizeof lastTail, lastTailLength, jsonTail);
    Keep(lastHead, sizeof lastHead, lastHeadLength, jsonHead);
}

void ExitNow(int code) { _exit(code); }

bool Cp932ToUtf8(const char* in, char* out, size_t cap) { return Convert("UTF-8", "CP932", in, out, cap); }

bool Utf8ToCp932(const char* in, char* out, size_t cap) { return Convert("CP932", "UTF-8", in, out, cap); }

const char* ArgumentsRefused() { return nullptr; }  // bytes, taken as given

// The bytes as given: Linux names are bytes, in no code page.
bool Utf8ToPath(const char* in, char* out, size_t cap) {
    const size_t n = std::strlen(in);
    if (platform::CheckBytePath(in) != platform::PathCarry::Ok || n + 1 > cap) return false;
    std::memcpy(out, in, n + 1);
    return true;
}

int Arguments(int argc, char** argv, const char* const*& out) {
    out = argv;
    return argc;
}

void ClockStamp(char* out, size_t cap, uint32_t agoMs) {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    const int64_t ns = int64_t(now.tv_nsec) - int64_t(agoMs % 1000) * 1000000;
    now.tv_sec -= agoMs / 1000 + (ns < 0 ? 1 : 0);
    now.tv_nsec = static_cast<long>(ns < 0 ? ns + 1000000000 : ns);
    tm local{};
    localtime_r(&now.tv_sec, &local);
    std::snprintf(out, cap, "%02d:%02d:%02d.%03ld", local.tm_hour, local.tm_min, local.tm_sec,
                  static_cast<long>(now.tv_nsec / 1000000));
}

bool CanRedrawRows(Stream stream) {
    const char* term = std::getenv("TERM");
    return IsTerminal(stream) && term != nullptr && term[0] != '\0' && std::strcmp(term, "dumb") != 0;
}

void IsoLocalTime(char* out, size_t cap) {
    const time_t now = time(nullptr);
    tm local{};
    localtime_r(&now, &local);
    const long offset = local.tm_gmtoff / 60;  // minutes east of UTC
    const long size = offset < 0 ? -offset : offset;
    std::snprintf(out, cap, "%04d-%02d-%02dT%02d:%02d:%02d%c%02ld:%02ld", local.tm_year + 1900, local.tm_mon + 1,
                  local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec, offset < 0 ? '-' : '+', size / 60,
                  size % 60);
}

// The session opens a port by number; the port map gives port 1 of this
// process the path given, and number is 1.
bool PreparePort(const char* arg, int& number, char* why, size_t whyCap) {
    if (arg[0] == '\0') {
        std::snprintf(why, whyCap, "--port needs a device path such as /dev/ttyUSB0");
        return false;
    }
    platform::posix::MapPort(1, arg);
    number = 1;
    return true;
}

// An advisory lock on the device itself (through a link too), held by a
// descriptor of our own until the process ends.
bool ClaimPort(const char* arg, char* why, size_t whyCap) {
    const int fd = open(arg, O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return true;  // the session's own open fails and says why
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        close(fd);
        std::snprintf(why, whyCap, "%s is in use by another tq73: one tq73 at a time per port", arg);
        return false;
    }
    return true;  // fd stays open: the lock lasts as long as the process
}

// Only a terminal device that takes line settings is a serial port: frames
// written to a regular file, a pipe or /dev/null would land where nobody
// pointed (a firmware file given as --port by mistake). Asked before the
// session opens the port, so nothing has been written yet.
bool CheckSerialPort(const char* arg, char* why, size_t whyCap) {
    struct stat st {};
    if (stat(arg, &st) != 0) return true;  // the session's own open fails and says why
    const char* what = S_ISREG(st.st_mode)   ? "a regular file"
                       : S_ISDIR(st.st_mode) ? "a folder"
                       : S_ISCHR(st.st_mode) ? "a character device that is not a terminal"
                                             : "not a character device";
    if (S_ISCHR(st.st_mode)) {
        const int fd = open(arg, O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) return true;  // as above: the open's own failure is told
        termios t{};
        const bool terminal = isatty(fd) == 1 && tcgetattr(fd, &t) == 0;
        close(fd);
        if (terminal) return true;
    }
    std::snprintf(why, whyCap,
                  "%s is not a serial port (%s): nothing was written to it; give a tty such as /dev/ttyUSB0 "
                  "(tq73 ports lists them)",
                  arg, what);
    return false;
}

void DescribePortFailure(const char* arg, char* out, size_t cap) {
    const int fd = open(arg, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    const int err = errno;
    if (fd >= 0) {
        const bool tty = isatty(fd) == 1;
        close(fd);
        std::snprintf(out, cap, "%s: %s", arg,
                      tty ? "the session could not open it: check that no other program uses it"
                          : "not a serial port: give a tty such as /dev/ttyUSB0 (tq73 ports lists them)");
        return;
    }
    switch (err) {
        case ENOENT:
            std::snprintf(out, cap, "%s does not exist: check the name (tq73 ports lists the ports), or try --sim",
                          arg);
            break;
        case EACCES:
        case EPERM:
            std::snprintf(out, cap, "no permission to open %s: add your user to the group that owns it (often dialout)",
                          arg);
            break;
        case EBUSY: std::snprintf(out, cap, "%s is busy: another program holds it", arg); break;
        default: std::snprintf(out, cap, "%s: %s", arg, std::strerror(err)); break;
    }
}

long long FileSize(const char* path) {
    struct stat st {};
    if (stat(path, &st) != 0 || !S_ISREG(st.st_mode)) return -1;
    return static_cast<long long>(st.st_size);
}

}  // namespace platform::terminal
