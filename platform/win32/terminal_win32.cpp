// terminal_win32.cpp - the front end's system services on Windows: the console's
// W calls (a pipe or file gets UTF-8), Ctrl+C through SetConsoleCtrlHandler,
// code page 932 through MultiByteToWideChar, and the COM ports that exist.
#include <windows.h>
#include <mmsystem.h>
#include <shellapi.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/terminal.h"
#include "platform/path_text.h"
#include "platform/platform.h"
#include "platform/port_info.h"

namespace platform::terminal {

namespace {

std::atomic<int> interrupts{0};
std::atomic<unsigned long long> lastInterruptMs{0};
constexpr UINT kExitInterrupted = 130;
constexpr int kWideChunk = 4096;
constexpr UINT kCodePage932 = 932;

HANDLE Handle(Stream s) { return GetStdHandle(s == Stream::Out ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE); }

bool IsConsole(HANDLE h) {
    DWORD mode = 0;
    return h != nullptr && h != INVALID_HANDLE_VALUE && GetConsoleMode(h, &mode) != 0;
}

// The last words of a third Ctrl+C; each length is stored after its text.
char lastLine[512] = "";
char lastHead[512] = "";
char lastTail[1024] = "";
std::atomic<DWORD> lastLineLength{0};
std::atomic<DWORD> lastHeadLength{0};
std::atomic<DWORD> lastTailLength{0};
ULONGLONG startMs = 0;

void WriteRaw(HANDLE h, const char* text, DWORD n) {
    DWORD written = 0;
    if (n != 0) WriteFile(h, text, n, &written, nullptr);
}

void LeaveAtOnce() {
    WriteRaw(Handle(Stream::Err), "\r\ntq73: ", 8);
    WriteRaw(Handle(Stream::Err), lastLine, lastLineLength.load());
    WriteRaw(Handle(Stream::Err), "\r\n", 2);
    if (lastHeadLength.load() != 0) {
        char ms[32];
        const int n =
            std::snprintf(ms, sizeof ms, ",\"ms\":%llu", static_cast<unsigned long long>(GetTickCount64() - startMs));
        WriteRaw(Handle(Stream::Out), lastHead, lastHeadLength.load());
        WriteRaw(Handle(Stream::Out), ms, static_cast<DWORD>(n));
        WriteRaw(Handle(Stream::Out), lastTail, lastTailLength.load());
    }
    ExitProcess(kExitInterrupted);
}

void Keep(char* buffer, size_t cap, std::atomic<DWORD>& length, const char* text) {
    length.store(0);
    const int n = std::snprintf(buffer, cap, "%s", text);
    length.store(n > 0 && static_cast<size_t>(n) < cap ? static_cast<DWORD>(n) : 0);
}

std::atomic<bool> closing{false};
// Windows ends the process about 5 s after a close, log-off or shut-down
// event, and at once when the handler returns: the handler holds on for most
// of that, while the main thread ends the operation and says how it ended.
constexpr DWORD kClosingGraceMs = 4500;
// The hidden window's class, by which a test finds it.
constexpr wchar_t kSessionWindowClass[] = L"tq73-session-end";
// How long the start waits for that window.
constexpr DWORD kSessionWindowWaitMs = 2000;

// Windows is ending the process: the main thread ends the operation (a
// write pass before its next page) once it sees the request.
void BeginClosing() {
    if (!closing.exchange(true)) interrupts.fetch_add(1);
}

// Runs on a thread of its own: counts, and a third Ctrl+C ends the process
// (the first ends the operation cleanly, the second cuts it short).
BOOL WINAPI OnControl(DWORD event) {
    if (event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT) {
        BeginClosing();
        Sleep(kClosingGraceMs);
        return TRUE;
    }
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) return FALSE;
    const unsigned long long now = GetTickCount64();
    if (interrupts.load() != 0 && now - lastInterruptMs.load() < static_cast<unsigned>(kInterruptSpacingMs)) {
        return TRUE;
    }
    lastInterruptMs.store(now);
    if (interrupts.fetch_add(1) >= 2) LeaveAtOnce();
    return TRUE;
}

// A console program that loads user32 (tq73.exe does, for its wide command
// line) gets no CTRL_LOGOFF_EVENT or CTRL_SHUTDOWN_EVENT: a log-off or a
// shut-down reaches it only as WM_QUERYENDSESSION and WM_ENDSESSION, sent to
// its top-level windows. This hidden one takes them on a thread of its own
// and holds WM_ENDSESSION as the control handler holds its event: the
// process may end as soon as the answer is given.
LRESULT CALLBACK OnSessionMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_QUERYENDSESSION) {
        BeginClosing();
        return TRUE;
    }
    if (message == WM_ENDSESSION) {
        if (wParam != 0) {
            BeginClosing();
            Sleep(kClosingGraceMs);
        }
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

bool MakeSessionWindow() {
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = OnSessionMessage;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = kSessionWindowClass;
    if (RegisterClassW(&windowClass) == 0) return false;
    // Not a message-only window: those are not sent the session's broadcast.
    return CreateWindowExW(0, kSessionWindowClass, L"tq73", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                           windowClass.hInstance, nullptr) != nullptr;
}

// Set once the hidden window exists or could not be made.
HANDLE sessionWindowReady = nullptr;

DWORD WINAPI SessionWindowThread(void*) {
    const bool made = MakeSessionWindow();
    SetEvent(sessionWindowReady);
    if (!made) return 1;
    MSG m;
    while (GetMessageW(&m, nullptr, 0, 0) > 0) DispatchMessageW(&m);
    return 0;
}

// A standard handle that is missing gets the null device, so that nothing
// printed goes where nobody pointed.
void FillMissingStandardHandles() {
    const DWORD kinds[] = {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE};
    for (DWORD kind : kinds) {
        const HANDLE h = GetStdHandle(kind);
        if (h != nullptr && h != INVALID_HANDLE_VALUE) continue;
        const HANDLE null = CreateFileW(L"NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                        nullptr, OPEN_EXISTING, 0, nullptr);
        if (null != INVALID_HANDLE_VALUE) SetStdHandle(kind, null);
    }
}

// Through UTF-16; a character the target lacks becomes '?', and false.
bool Convert(UINT from, UINT to, const char* in, char* out, size_t cap) {
    if (cap == 0) return false;
    out[0] = '\0';
    static wchar_t wide[kWideChunk];
    bool clean = true;
    int n = MultiByteToWideChar(from, MB_ERR_INVALID_CHARS, in, -1, wide, kWideChunk);
    if (n <= 0) {
        clean = false;
        n = MultiByteToWideChar(from, 0, in, -1, wide, kWideChunk);
        if (n <= 0) return false;
    }
    wide[kWideChunk - 1] = L'\0';
    BOOL usedDefault = FALSE;
    const bool asks = to != CP_UTF8;  // the UTF-8 conversion takes no default character
    const int m = WideCharToMultiByte(to, asks ? WC_NO_BEST_FIT_CHARS : 0, wide, -1, out, static_cast<int>(cap),
                                      asks ? "?" : nullptr, asks ? &usedDefault : nullptr);
    if (m <= 0) {
        out[0] = '\0';
        return false;
    }
    out[cap - 1] = '\0';
    return clean && !usedDefault;
}

// The number of "COM3", "com3", "\\.\COM12" or "3"; 0 when it is none.
int PortNumberOf(const char* arg) { return ports::ComPortNumber(arg); }

}  // namespace

void Init() {
    FillMissingStandardHandles();
    startMs = GetTickCount64();
    SetConsoleCtrlHandler(OnControl, TRUE);
    // A process that ends while the thread is still making its window is
    // killed outright under Wine instead of exiting with its code: the start
    // waits (boundedly) until the window is there.
    sessionWindowReady = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HANDLE sessionThread = CreateThread(nullptr, 0, SessionWindowThread, nullptr, 0, nullptr);
    if (sessionThread != nullptr) {
        WaitForSingleObject(sessionWindowReady, kSessionWindowWaitMs);
        CloseHandle(sessionThread);
    }
    // Only lets the device's pauses sleep their last milliseconds instead of
    // yielding them: no wait for the device depends on the timer period.
    timeBeginPeriod(1);
}

void Write(Stream stream, const char* utf8, size_t count) {
    HANDLE h = Handle(stream);
    if (!IsConsole(h)) {
        DWORD written = 0;
        while (count > 0 && WriteFile(h, utf8, static_cast<DWORD>(count), &written, nullptr) && written > 0) {
            utf8 += written;
            count -= written;
        }
        return;
    }
    static wchar_t wide[kWideChunk];
    while (count > 0) {
        // Whole UTF-8 characters only: never cut a sequence between two chunks.
        size_t take = count < kWideChunk ? count : kWideChunk;
        while (take < count && take > 0 && (static_cast<unsigned char>(utf8[take]) & 0xC0) == 0x80) --take;
        const int n = MultiByteToWideChar(CP_UTF8, 0, utf8, static_cast<int>(take), wide, kWideChunk);
        DWORD written = 0;
        if (n > 0) WriteConsoleW(h, wide, static_cast<DWORD>(n), &written, nullptr);
        utf8 += take;
        count -= take;
    }
}

bool IsTerminal(Stream stream) { return IsConsole(Handle(stream)); }

int TerminalColumns() {
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (GetConsoleScreenBufferInfo(Handle(Stream::Err), &info)) return info.srWindow.Right - info.srWindow.Left + 1;
    return 80;
}

int Interrupts() { return interrupts.load(); }

bool Closing() { return closing.load(); }

void SetLastWords(const char* line, const char* jsonHead, const char* jsonTail) {
    lastHeadLength.store(0);
    Keep(lastLine, sizeof lastLine, lastLineLength, line);
    Keep(lastTail, sizeof lastTail, lastTailLength, jsonTail);
    Keep(lastHead, sizeof lastHead, lastHeadLength, jsonHead);
}

void ExitNow(int code) { ExitProcess(static_cast<UINT>(code)); }

bool Cp932ToUtf8(const char* in, char* out, size_t cap) { return Convert(kCodePage932, CP_UTF8, in, out, cap); }

bool Utf8ToCp932(const char* in, char* out, size_t cap) { return Convert(CP_UTF8, kCodePage932, in, out, cap); }

// The console's file calls take UTF-8 and open through the W calls: the path
// is the argument itself, once it is known to be carried whole.
bool Utf8ToPath(const char* in, char* out, size_t cap) {
    wchar_t wide[platform::kPathChars + 1];
    const size_t n = std::strlen(in);
    if (platform::Utf8ToUtf16(in, wide, platform::kPathChars + 1) != platform::PathCarry::Ok || n + 1 > cap) {
        if (cap > 0) out[0] = '\0';
        return false;
    }
    std::memcpy(out, in, n + 1);
    return true;
}

namespace {
char argumentsRefused[160] = "";

// The UTF-16 form of a UTF-8 path, for the few file calls made here.
bool Wide(const char* path, wchar_t (&wide)[platform::kPathChars + 1]) {
    return platform::Utf8ToUtf16(path, wide, platform::kPathChars + 1) == platform::PathCarry::Ok;
}
}  // namespace

const char* ArgumentsRefused() { return argumentsRefused[0] != '\0' ? argumentsRefused : nullptr; }

// Each argument exactly: one with half a character (a lone surrogate) would
// come out of a lenient conversion as U+FFFD, a name that is not the one given.
int Arguments(int, char**, const char* const*& result) {
    // A command line holds at most 32767 UTF-16 units: at most 16384
    // arguments, and at most three UTF-8 bytes a unit.
    static const char* out[16384];
    static char arena[3 * 32768 + 16384];
    result = out;
    constexpr int cap = static_cast<int>(sizeof out / sizeof out[0]);
    int wideCount = 0;
    LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &wideCount);
    if (wide == nullptr) return 0;
    size_t used = 0;
    int n = 0;
    for (int i = 0; i < wideCount && n < cap; ++i) {
        const int room = static_cast<int>(sizeof arena - used);
        const int m =
            WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, wide[i], -1, arena + used, room, nullptr, nullptr);
        if (m <= 0) {
            std::snprintf(argumentsRefused, sizeof argumentsRefused,
                          "argument %d holds half of a character (a lone UTF-16 surrogate), which tq73 cannot carry",
                          i);
            break;
        }
        out[n++] = arena + used;
        used += static_cast<size_t>(m);
    }
    LocalFree(wide);
    return n;
}

void ClockStamp(char* out, size_t cap, uint32_t agoMs) {
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    ULARGE_INTEGER at;
    at.LowPart = now.dwLowDateTime;
    at.HighPart = now.dwHighDateTime;
    at.QuadPart -= uint64_t(agoMs) * 10000;  // 100 ns units
    const FILETIME then = {at.LowPart, at.HighPart};
    FILETIME local;
    SYSTEMTIME t;
    if (!FileTimeToLocalFileTime(&then, &local) || !FileTimeToSystemTime(&local, &t)) GetLocalTime(&t);
    std::snprintf(out, cap, "%02u:%02u:%02u.%03u", t.wHour, t.wMinute, t.wSecond, t.wMilliseconds);
}

bool CanRedrawRows(Stream stream) {
    HANDLE h = GetStdHandle(stream == Stream::Out ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE);
    DWORD mode = 0;
    if (!IsTerminal(stream) || !GetConsoleMode(h, &mode)) return false;
    constexpr DWORD kVirtualTerminal = 0x0004;  // ENABLE_VIRTUAL_TERMINAL_PROCESSING
    return (mode & kVirtualTerminal) != 0 || SetConsoleMode(h, mode | kVirtualTerminal) != 0;
}

// The offset is the zone's bias now, daylight saving time included.
void IsoLocalTime(char* out, size_t cap) {
    SYSTEMTIME t;
    GetLocalTime(&t);
    TIME_ZONE_INFORMATION zone;
    const DWORD which = GetTimeZoneInformation(&zone);
    long bias = zone.Bias;  // minutes west of UTC
    if (which == TIME_ZONE_ID_DAYLIGHT) bias += zone.DaylightBias;
    if (which == TIME_ZONE_ID_STANDARD) bias += zone.StandardBias;
    if (which == TIME_ZONE_ID_INVALID) bias = 0;
    const long size = bias < 0 ? -bias : bias;
    std::snprintf(out, cap, "%04u-%02u-%02uT%02u:%02u:%02u%c%02ld:%02ld", t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute,
                  t.wSecond, bias > 0 ? '-' : '+', size / 60, size % 60);
}

bool PreparePort(const char* arg, int& number, char* why, size_t whyCap) {
    number = PortNumberOf(arg);
    if (number == 0) {
        std::snprintf(why, whyCap, "--port takes a COM port, COM3 or 3, not \"%s\" (tq73 ports lists them)", arg);
        return false;
    }
    return true;
}

bool ClaimPort(const char*, char*, size_t) { return true; }

// PreparePort takes only COM names (COM3, \\.\COM12, 3): Windows takes
// COMn as a device name, never as a file of the working folder.
bool CheckSerialPort(const char*, char*, size_t) { return true; }

// The open's own reason, kept by the serial layer on this thread.
void DescribePortFailure(const char* arg, char* out, size_t cap) {
    const int n = PortNumberOf(arg);
    switch (platform::PortOpenFault()) {
        case platform::OpenFault::NoSuchPort:
            std::snprintf(out, cap, "COM%d does not exist on this PC: check the number (tq73 ports lists the ports)",
                          n);
            break;
        case platform::OpenFault::InUse:
            std::snprintf(out, cap, "COM%d is in use by another program: close it, then try again", n);
            break;
        default:
            std::snprintf(out, cap, "COM%d could not be opened: %s failed: %s", n, platform::PortFault().call,
                          platform::PortFault().message);
            break;
    }
}

long long FileSize(const char* path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    wchar_t wide[platform::kPathChars + 1];
    if (!Wide(path, wide) || !GetFileAttributesExW(wide, GetFileExInfoStandard, &data)) return -1;
    if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return -1;
    return static_cast<long long>(data.nFileSizeHigh) << 32 | data.nFileSizeLow;
}

}  // namespace platform::terminal
