// ui_win32.cpp - the user interface sink on Windows: log requests, private
// messages, the warning box and the dialog's controls.
//
// The console's texts are CP932 bytes. They are shown through the W calls
// after conversion, so that they read correctly on a system whose code page
// is not 932.
#include "platform/win32/win32_ui.h"

#include <cstring>

#include "platform/log_queue.h"
#include "platform/platform.h"

namespace platform {

namespace {
HWND mainDialog = nullptr;
DWORD windowThread = 0;  // the thread that shows the log
LogQueue& Queue() {
    static LogQueue queue;
    return queue;
}
constexpr wchar_t kCaption[] = L"TQ7300";
// The longest control text the console reads or writes, in characters.
constexpr int kControlTextChars = 1024;
}  // namespace

void SetMainDialog(HWND dialog) {
    windowThread = GetCurrentThreadId();
    mainDialog = dialog;
}
HWND MainDialog() { return mainDialog; }

namespace {

bool OnWindowThread() { return GetCurrentThreadId() == windowThread; }

// Everything logged before now is in the log before what comes next: on the
// window's thread the queue is shown here; another thread has the window
// show it and waits for that (a box of a worker's comes after its lines).
void CatchUpLog() {
    if (mainDialog == nullptr) return;
    if (OnWindowThread()) {
        ShowQueuedLog();
    } else {
        SendMessageA(mainDialog, kLogWakeMessage, 0, 0);
    }
}

// A line (or the log's clearing) from another thread: queued behind the
// others. The window is woken once per batch; a full queue is emptied by the
// window first (the caller waits for that), so that nothing is lost.
void Enqueue(const char* text, bool clear, bool utf8 = false) {
    for (;;) {
        switch (Queue().Push(LogEntry{clear ? std::string() : std::string(text), clear, utf8})) {
            case LogQueue::Put::Queued: return;
            case LogQueue::Put::QueuedWake:
                // A thread's message queue can be full too: then the wake is sent.
                if (!PostMessageA(mainDialog, kLogWakeMessage, 0, 0)) SendMessageA(mainDialog, kLogWakeMessage, 0, 0);
                return;
            case LogQueue::Put::Full: SendMessageA(mainDialog, kLogWakeMessage, 0, 0); break;
        }
    }
}

}  // namespace

void ShowQueuedLog() {
    for (const LogEntry& entry : Queue().TakeAll()) {
        if (entry.clear) {
            SendMessageA(mainDialog, kClearLogMessage, 0, 0);
        } else {
            SendMessageA(mainDialog, kLogRequestMessage, entry.utf8 ? kLogTextUtf8 : 0,
                         reinterpret_cast<LPARAM>(entry.text.c_str()));
        }
    }
}

void ToWide(const char* text, wchar_t* wide, int cap) {
    const int n = MultiByteToWideChar(932, 0, text, -1, wide, cap);
    if (n <= 0) wide[0] = L'\0';
    wide[cap - 1] = L'\0';
}

void Utf8ToWide(const char* text, wchar_t* wide, int cap) {
    wide[0] = L'\0';
    int bytes = static_cast<int>(std::strlen(text));
    // Every byte makes at most one unit: a text of fewer bytes than cap fits.
    if (bytes > cap - 1) bytes = cap - 1;
    while (bytes > 0 && (static_cast<unsigned char>(text[bytes]) & 0xC0) == 0x80) --bytes;
    const int n = MultiByteToWideChar(CP_UTF8, 0, text, bytes, wide, cap - 1);
    wide[n > 0 ? n : 0] = L'\0';
}

void LogFrame(char, int, const uint8_t*, int, const char* line) { LogLine(line); }

void LogLine(const char* text) {
    if (mainDialog == nullptr) return;
    if (!OnWindowThread()) {
        Enqueue(text, false);
        return;
    }
    ShowQueuedLog();
    SendMessageA(mainDialog, kLogRequestMessage, 0, reinterpret_cast<LPARAM>(text));
}

void LogLineUtf8(const char* text) {
    if (mainDialog == nullptr) return;
    if (!OnWindowThread()) {
        Enqueue(text, false, true);
        return;
    }
    ShowQueuedLog();
    SendMessageA(mainDialog, kLogRequestMessage, kLogTextUtf8, reinterpret_cast<LPARAM>(text));
}

void ClearLog() {
    if (mainDialog == nullptr) return;
    if (!OnWindowThread()) {
        Enqueue("", true);
        return;
    }
    ShowQueuedLog();
    SendMessageA(mainDialog, kClearLogMessage, 0, 0);
}

void PostToDialog(uint32_t message, uintptr_t wParam, intptr_t lParam) {
    PostMessageA(mainDialog, message, wParam, lParam);
}

void WarningBox(const char* text) {
    CatchUpLog();
    wchar_t wide[512];
    ToWide(text, wide, 512);
    MessageBoxW(mainDialog, wide, kCaption, MB_OK | MB_ICONWARNING);
}

bool AskYesNo(const char* text) {
    CatchUpLog();
    wchar_t wide[512];
    ToWide(text, wide, 512);
    return MessageBoxW(mainDialog, wide, kCaption, MB_YESNO | MB_ICONWARNING | MB_DEFBUTTON2) == IDYES;
}

void WarningBoxUtf8(const char* text) {
    CatchUpLog();
    wchar_t wide[kControlTextChars + 512];
    Utf8ToWide(text, wide, kControlTextChars + 512);
    MessageBoxW(mainDialog, wide, kCaption, MB_OK | MB_ICONWARNING);
}

void Beep(BeepSound sound) { MessageBeep(sound == BeepSound::Default ? 0 : MB_ICONWARNING); }

// The W calls and an explicit code page 932 keep an operator's Japanese text
// the same CP932 bytes on every system: the A calls would go through the
// system code page, which on most PCs outside Japan cannot carry it.
void ReadControlText(int id, char* buffer, int cap) {
    if (cap <= 0) return;
    buffer[0] = '\0';
    // Every character takes at least one byte: cap - 1 characters give all the
    // cap - 1 bytes that fit.
    wchar_t wide[kControlTextChars];
    const int wideCap = cap < kControlTextChars ? cap : kControlTextChars;
    const UINT chars = GetDlgItemTextW(mainDialog, id, wide, wideCap);
    if (chars == 0) return;
    char bytes[2 * kControlTextChars];
    const int n = WideCharToMultiByte(932, 0, wide, static_cast<int>(chars), bytes, static_cast<int>(sizeof bytes),
                                      nullptr, nullptr);
    // Cut before a character that would not fit whole: half a double-byte
    // character would turn the byte after it into garbage on the device.
    int kept = 0;
    while (kept < n) {
        const int width = IsDBCSLeadByteEx(932, static_cast<BYTE>(bytes[kept])) ? 2 : 1;
        if (kept + width > cap - 1 || kept + width > n) break;
        kept += width;
    }
    std::memcpy(buffer, bytes, static_cast<size_t>(kept));
    buffer[kept] = '\0';
}

namespace {

void ToUtf8(const wchar_t* units, int count, char* out, int cap) {
    const int n = WideCharToMultiByte(CP_UTF8, 0, units, count, out, cap - 1, nullptr, nullptr);
    out[n > 0 ? n : 0] = '\0';
}

// Half a character (a lone surrogate) has no UTF-8 form: it is named by its
// unit, before the text is converted.
bool FindLoneSurrogate(const wchar_t* wide, int chars, TextRefusal& refusal) {
    for (int i = 0; i < chars; ++i) {
        const bool high = wide[i] >= 0xD800 && wide[i] <= 0xDBFF;
        const bool low = wide[i] >= 0xDC00 && wide[i] <= 0xDFFF;
        if (high && i + 1 < chars && wide[i + 1] >= 0xDC00 && wide[i + 1] <= 0xDFFF) {
            ++i;
        } else if (high || low) {
            std::memset(&refusal, 0, sizeof refusal);
            ToUtf8(wide, chars, refusal.text, static_cast<int>(sizeof refusal.text));
            ToUtf8(wide + i, 1, refusal.character, static_cast<int>(sizeof refusal.character));
            refusal.codePoint = wide[i];
            return true;
        }
    }
    return false;
}

}  // namespace

// The whole text is checked by the rule every front end uses, so that the
// refusal can name the first character that code page 932 lacks.
bool ReadControlTextExact(int id, char* buffer, int cap, TextRefusal& refusal) {
    if (cap > 0) buffer[0] = '\0';
    wchar_t wide[kControlTextChars];
    const int chars = static_cast<int>(GetDlgItemTextW(mainDialog, id, wide, kControlTextChars));
    if (FindLoneSurrogate(wide, chars, refusal)) return false;
    char utf8[4 * kControlTextChars];
    ToUtf8(wide, chars, utf8, static_cast<int>(sizeof utf8));
    if (FindCharacterCp932Lacks(utf8, refusal)) return false;
    ReadControlText(id, buffer, cap);
    return true;
}

// The length is asked first: a text longer than the fixed field is refused
// whole, where a read with the field's cap would quietly cut it to a name
// that may be another file's.
PathCarry ReadControlPath(int id, char* path, int cap) {
    if (cap > 0) path[0] = '\0';
    HWND control = GetDlgItem(mainDialog, id);
    if (control != nullptr && GetWindowTextLengthW(control) > kPathChars) return PathCarry::TooLong;
    wchar_t wide[kPathChars + 1];
    const int n = static_cast<int>(GetDlgItemTextW(mainDialog, id, wide, kPathChars + 1));
    return Utf16ToUtf8(wide, n, path, cap);
}

void SetControlText(int id, const char* text) {
    wchar_t wide[kControlTextChars];
    ToWide(text, wide, kControlTextChars);
    SetDlgItemTextW(mainDialog, id, wide);
}

void EnableControl(int id, bool enabled) {
    HWND control = GetDlgItem(mainDialog, id);
    if (control != nullptr) EnableWindow(control, enabled ? TRUE : FALSE);
}

void StartTimer(int id, uint32_t ms) { SetTimer(mainDialog, static_cast<UINT_PTR>(id), ms, nullptr); }

void StopTimer(int id) { KillTimer(mainDialog, static_cast<UINT_PTR>(id)); }

}  // namespace platform
