// platform.h - the thin seam between the console and the operating system.
//
// Everything above platform/ reaches the OS only through these functions. One
// implementation per function group lives in platform/win32/ (the real program)
// and one in platform/posix/ (native builds for tests); the build picks one set
// at link time.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/path_text.h"
#include "platform/unit_text.h"

namespace platform {

// ---- serial port ---------------------------------------------------------

using PortHandle = void*;  // nullptr: no port

// The line the console talks over: its speed and framing, and whether DTR and
// RTS are raised while the port is open. The line runs without flow control of
// any kind, so there is none to set. line_dcb.h says how Windows is given it.
enum class Parity : uint8_t { None, Odd, Even };
enum class StopBits : uint8_t { One, Two };
struct LineState {
    uint32_t baud = 0;
    uint8_t dataBits = 0;
    Parity parity = Parity::None;
    StopBits stopBits = StopBits::One;
    bool dtrOn = false;
    bool rtsOn = false;
};

// The time-outs handed to SetCommTimeouts, in milliseconds.
struct PortTimeouts {
    uint32_t readInterval = 0;
    uint32_t readTotalMultiplier = 0;
    uint32_t readTotalConstant = 0;
    uint32_t writeTotalMultiplier = 0;
    uint32_t writeTotalConstant = 0;
};

constexpr uint32_t kPurgeAll = 15;    // TXABORT | RXABORT | TXCLEAR | RXCLEAR
constexpr uint32_t kEventRxChar = 1;  // EV_RXCHAR

// Gone: the device behind the port has gone away (the line hung up, the
// adapter was unplugged): no wait on it will see data again.
enum class WaitOutcome { Event, Released, TimedOut, Gone };

// Opens port number n (1 and up) for exclusive, overlapped use: COMn on
// Windows, on Linux the device that posix/port_map.h maps n to. nullptr when
// it cannot be opened.
PortHandle PortOpen(int number);
// Why the last PortOpen of this thread failed; PortFault then holds the
// system's words for it.
enum class OpenFault : uint8_t { None, NoSuchPort, InUse, Other };
OpenFault PortOpenFault();
// The set-up calls return false when the driver refused the step; PortFault
// then says which call it was and why, in the system's words.
bool PortSetupQueues(PortHandle port, uint32_t inQueue, uint32_t outQueue);
bool PortPurge(PortHandle port, uint32_t flags);
// Starts from the driver's own line state and applies the console's (see
// line_dcb.h), so that fields the console does not set keep values the
// driver accepts.
bool PortApplyState(PortHandle port, const LineState& state);
bool PortApplyTimeouts(PortHandle port, const PortTimeouts& timeouts);
// Sets the comm event mask; any call releases a pending PortWaitEvent.
bool PortSetMask(PortHandle port, uint32_t mask);
// The last set-up call of this thread that failed: the call's name
// ("SetCommState") and the system's message with its number, as UTF-8.
struct PortFaultText {
    char call[32];
    char message[256];
};
PortFaultText PortFault();
// Blocks until a received character is signalled, the mask is changed, or
// timeoutMs passes. A wait that timed out may go on in the next call. Gone
// once any call on the port has found the device gone.
WaitOutcome PortWaitEvent(PortHandle port, uint32_t timeoutMs);
int PortQueued(PortHandle port);
// Read or write with the port's time-outs; each returns the count moved (0 on
// failure). Neither waits much longer than its time-outs, whatever the driver
// does: an adapter that never completes a call is taken as gone.
int PortRead(PortHandle port, void* buffer, int count);
int PortWrite(PortHandle port, const void* buffer, int count);
void PortClose(PortHandle port);

// Whether the driver was asked to hand over received bytes at once instead of
// collecting them for a while (Linux: ASYNC_LOW_LATENCY on a USB serial
// adapter). Windows sets an adapter's latency timer in its driver's settings,
// not per open.
enum class LowLatency { Set, NotSupported, NotApplicable };
LowLatency PortLowLatency(PortHandle port);

// ---- threads and time ----------------------------------------------------

using ThreadHandle = void*;
using ThreadRoutine = uint32_t (*)(void* param);

ThreadHandle StartThread(ThreadRoutine routine, void* param);  // nullptr on failure
// True while the thread runs; false once it has ended or cannot be queried.
bool ThreadRunning(ThreadHandle thread);
void CloseThread(ThreadHandle thread);

// Waits until the thread has ended or timeoutMs has passed; true when it
// ended. Called on the UI thread: it carries out the log requests of other
// threads meanwhile, so that a thread blocked in LogLine can finish.
bool UiAwaitThreadEnd(ThreadHandle thread, uint32_t timeoutMs);

// A sleep that may last up to one system timer period longer than asked
// (15.6 ms on a default Windows timer): for loops that only pace themselves.
void SleepMs(uint32_t ms);
// A pause that the device needs, ended on time whatever the timer period: it
// sleeps while a whole timer period is left and yields for the rest.
void PauseMs(uint32_t ms);
// Sleeps on the UI thread while still carrying out the log requests of other
// threads, so that a thread blocked in LogLine can finish while we wait for it.
void UiSleepMs(uint32_t ms);
uint32_t TickMs();
// Microseconds from an arbitrary start, from a clock that does not step with
// the timer period: what every bounded wait counts its bound with.
uint64_t MonotonicUs();

// ---- locks and signals ----------------------------------------------------

// A lock held for a handful of stores (an SRWLOCK on Windows, a mutex on
// Linux). Made once and kept for the life of the process.
using LockHandle = void*;
LockHandle NewLock();
void Lock(LockHandle lock);
bool TryLock(LockHandle lock);  // true when it was free and is now held
void Unlock(LockHandle lock);

// A signal that one thread raises and another waits for: it stays raised
// until a wait takes it (an auto-reset event object on Windows, a condition
// variable on Linux). A wait may also end on a raise meant for an earlier
// wait, so a waiter always checks what it waits for again.
using SignalHandle = void*;
SignalHandle NewSignal();
void RaiseSignal(SignalHandle signal);
// True when the signal was raised, false when timeoutMs passed first.
bool WaitSignal(SignalHandle signal, uint32_t timeoutMs);
// The same on the UI thread, carrying out the log requests of other threads.
bool UiWaitSignal(SignalHandle signal, uint32_t timeoutMs);

struct LocalTime {
    uint16_t year, month, day, hour, minute, second;
};
LocalTime NowLocal();

// ---- the user interface sink ----------------------------------------------

// Adds a CP932 line to the operator log; from any thread, carried out on the
// UI thread as one request.
void LogLine(const char* text);
// The same for a UTF-8 line: one that names a path the engineer gave, which
// code page 932 may not hold ("Jérôme"), shown as it was typed.
void LogLineUtf8(const char* text);
// Adds a frame's line (built by FormatFrameLine) to the operator log as
// LogLine does, and hands the frame to front ends that show frames as data,
// so that none of them has to read bytes back from text: 'T' sent or 'R'
// received, its length as the line gives it, and the held bytes from its STX
// that the console kept (a huge frame's rest is not kept).
void LogFrame(char letter, int length, const uint8_t* frame, int held, const char* line);
void ClearLog();
void PostToDialog(uint32_t message, uintptr_t wParam, intptr_t lParam);
// The warning box: caption "TQ7300", warning icon, OK; owned by the dialog.
void WarningBox(const char* text);
// A question with the warning box's caption and icon and the buttons Yes and
// No, No the default; true only when the operator chose Yes.
bool AskYesNo(const char* text);
// The warning sound marks a refused command; the default sound (MessageBeep
// with 0) is the parameter-block chain's "the device did not answer".
enum class BeepSound { Warning, Default };
void Beep(BeepSound sound = BeepSound::Warning);
// Dialog controls of the main window. ReadControlText reads at most cap - 1
// characters and always terminates the buffer.
void ReadControlText(int id, char* buffer, int cap);
// Why a text for the unit was refused: the whole text and the first character
// that code page 932 cannot represent, both as UTF-8, and its code point.
// A text that goes to the unit as CP932 bytes: read as ReadControlText reads
// it, but every character exactly. False, with the buffer empty and refusal
// filled in, when the text holds a character that code page 932 cannot
// represent: it is never replaced by a look-alike or '?'.
bool ReadControlTextExact(int id, char* buffer, int cap, TextRefusal& refusal);
// A control's text as a path (path_text.h: UTF-8 of the UTF-16 text on
// Windows, the bytes on Linux) into path (cap bytes, kPathBytes will do),
// whole or not at all: the buffer is empty unless the result is Ok.
PathCarry ReadControlPath(int id, char* path, int cap);
// The warning box with a UTF-8 text: for a message that names a character
// that code page 932 cannot show.
void WarningBoxUtf8(const char* text);
void SetControlText(int id, const char* text);
void EnableControl(int id, bool enabled);
// A dialog timer: it fires every ms until StopTimer, as SetTimer's does, and
// each expiry reaches the dispatcher as OnTimer(id) on the UI thread.
void StartTimer(int id, uint32_t ms);
void StopTimer(int id);

// ---- files ---------------------------------------------------------------

// Paths are carried as path_text.h says: UTF-8 on Windows, opened through the
// W calls, and the bytes as given on Linux. A path that is not valid there, or
// that names a Windows device (NamesWindowsDevice), is refused like a file
// that cannot be opened. Every call that fails says why in LastFileFault.
using FileHandle = void*;
// What stands at path. followLink takes a symbolic link as what it points at
// (a file that is only read), else as itself (a target: the console never
// writes through a link). Other when it cannot be told (LastFileFault says why).
FileKind FileKindAt(const char* path, bool followLink);
// Why the last file call of this thread that failed did so.
FileFault LastFileFault();
// name in the folder that holds the running program, as a path into out
// (cap bytes); false, with out empty, when that path cannot be carried.
bool BesideProgram(const char* name, char* out, int cap);
// An existing file opened for reading, shared with other readers: a file or,
// on Linux, a pipe; a folder or a device is not opened at all (a tty would
// raise its modem lines). A file that another program holds without sharing
// is asked for again for up to 0.5 s (Windows). nullptr on failure.
FileHandle FileOpenRead(const char* path);
// An existing file opened for reading and writing with no sharing: a
// read-only file, or one that another program holds open, is refused.
FileHandle FileOpenExclusive(const char* path);
int FileRead(FileHandle file, void* buffer, int count);  // 0 on failure or end
// One read of up to count bytes: the count read (0 at the end), or -1 when
// the read failed or a pipe brought nothing for kPipeIdleMs.
int FileReadOnce(FileHandle file, void* buffer, int count);
void FileClose(FileHandle file);
// Whether an existing file must not be written: read-only by its attributes,
// whoever runs the program (root on Linux may write a file of mode 0444; the
// console does not).
bool FileReadOnly(const char* path);
// Writes count bytes to a new file named path and flushes them to the disk.
// A file of that name is removed first and the new one made in its place, so
// that a link or a second name of another file left there is never written
// through. False when it cannot be made or the write falls short.
bool FileWriteNew(const char* path, const void* data, int count);
// Adds count bytes to the end of the file named path, made when missing, in
// one write, flushed to the disk: two programs that append to one file (two
// stations on a share) never mix their bytes, and a crash leaves the file as
// it was or with the whole addition. Only a file: a link, a pipe, a device or
// a folder is refused without a byte written. False when it cannot be done.
bool FileAppend(const char* path, const void* data, int count);
// Whether the folder takes a new file named path: made and removed at once.
bool FileCanCreate(const char* path);
// Removes a file; false when it cannot be removed.
bool FileRemove(const char* path);
// Puts the file from in the place of to, replacing a file there in one step
// of the file system, written through to the disk before it returns; a file
// that another program holds for a moment (a scanner, a sync client) is asked
// for again for up to 0.5 s, so it runs on a worker. False when it cannot (to
// is then unchanged).
bool FileReplace(const char* from, const char* to);

}  // namespace platform
