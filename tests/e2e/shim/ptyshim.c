/* ptyshim.c - LD_PRELOAD library that lets a Linux pty pass for a UART under Wine.
 *
 * Linux ptys refuse the modem-line ioctls (TIOCMGET, TIOCMSET, TIOCMBIS, TIOCMBIC)
 * and the interrupt counters (TIOCGICOUNT). Wine's WaitCommEvent asks for both on
 * every poll; when they fail it completes at once with an empty mask, so a receiver
 * built on it spins. With these five answered here, on pty slaves only, Wine blocks
 * in WaitCommEvent and wakes on received characters as it does on a real port.
 * The modem status reads CTS, DSR and CD on, plus DTR and RTS as last set.
 * Every other request, and every request on any other descriptor, goes to the real
 * ioctl unchanged.
 *
 * When TQPTYSHIM_LOG names a file, the first emulated call of each process appends
 * one line there, so a test can prove that the library took effect.
 */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <fcntl.h>
#include <linux/serial.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

typedef int (*ioctl_fn)(int, unsigned long, ...);

/* UNIX98 pty slaves (/dev/pts/N) use character majors 136 to 143. */
enum { PTS_MAJOR_FIRST = 136, PTS_MAJOR_LAST = 143 };

/* DTR and RTS as last set, per descriptor; descriptors past the table read as both on. */
enum { TRACKED_FDS = 4096 };
static int output_lines[TRACKED_FDS];
static int output_lines_known[TRACKED_FDS];

static int logged_once;

static ioctl_fn real_ioctl(void) {
    static ioctl_fn fn;
    ioctl_fn cur = __atomic_load_n(&fn, __ATOMIC_ACQUIRE);
    if (!cur) {
        cur = (ioctl_fn)dlsym(RTLD_NEXT, "ioctl");
        __atomic_store_n(&fn, cur, __ATOMIC_RELEASE);
    }
    return cur;
}

static int is_pty_slave(int fd) {
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode)) return 0;
    unsigned int m = major(st.st_rdev);
    return m >= PTS_MAJOR_FIRST && m <= PTS_MAJOR_LAST;
}

static void note_first_use(int fd, unsigned long request) {
    if (__atomic_exchange_n(&logged_once, 1, __ATOMIC_ACQ_REL)) return;
    const char* path = getenv("TQPTYSHIM_LOG");
    if (!path || !*path) return;
    char line[128];
    int n = snprintf(line, sizeof line, "ptyshim pid=%ld fd=%d request=0x%lx\n", (long)getpid(), fd, request);
    int out = open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (out < 0) return;
    if (n > 0 && write(out, line, (size_t)n) < 0) {
        /* Nothing to do: the note is a diagnostic only. */
    }
    close(out);
}

static int get_lines(int fd) {
    if (fd >= 0 && fd < TRACKED_FDS && __atomic_load_n(&output_lines_known[fd], __ATOMIC_ACQUIRE))
        return __atomic_load_n(&output_lines[fd], __ATOMIC_RELAXED);
    return TIOCM_DTR | TIOCM_RTS;
}

static void set_lines(int fd, int lines) {
    if (fd < 0 || fd >= TRACKED_FDS) return;
    __atomic_store_n(&output_lines[fd], lines & (TIOCM_DTR | TIOCM_RTS), __ATOMIC_RELAXED);
    __atomic_store_n(&output_lines_known[fd], 1, __ATOMIC_RELEASE);
}

/* Returns 1 when the request was answered here. */
static int emulate(int fd, unsigned long request, void* arg) {
    switch (request) {
        case TIOCMGET:
        case TIOCMSET:
        case TIOCMBIS:
        case TIOCMBIC:
        case TIOCGICOUNT: break;
        default: return 0;
    }
    if (!arg || !is_pty_slave(fd)) return 0;
    note_first_use(fd, request);
    switch (request) {
        case TIOCMGET: *(int*)arg = TIOCM_CTS | TIOCM_DSR | TIOCM_CD | get_lines(fd); break;
        case TIOCMSET: set_lines(fd, *(const int*)arg); break;
        case TIOCMBIS: set_lines(fd, get_lines(fd) | *(const int*)arg); break;
        case TIOCMBIC: set_lines(fd, get_lines(fd) & ~*(const int*)arg); break;
        case TIOCGICOUNT: memset(arg, 0, sizeof(struct serial_icounter_struct)); break;
    }
    return 1;
}

int ioctl(int fd, unsigned long request, ...) {
    va_list ap;
    va_start(ap, request);
    void* arg = va_arg(ap, void*);
    va_end(ap);

    if (emulate(fd, request, arg)) return 0;
    ioctl_fn fn = real_ioctl();
    if (!fn) return -1;
    return fn(fd, request, arg);
}
