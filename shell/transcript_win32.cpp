// transcript_win32.cpp - "Save log as..." and "Record session...".
//
// Lines are written as UTF-8 after a BOM, so that the Japanese texts read
// correctly in any editor whatever its code page, and end in CR LF. The
// session's lines are written by the spool's thread (line_spool.h), never in
// the log request. A file that cannot be written ends the recording with a
// box; the operation that runs goes on, since log requests are served while
// the box shows.
#include "shell/transcript_win32.h"

#include <commdlg.h>

#include <cstdio>
#include <string>

#include "shell/command_ids.h"
#include "shell/line_spool.h"

namespace shell {

namespace {

constexpr wchar_t kCaption[] = L"TQ7300";
constexpr char kBom[] = "\xEF\xBB\xBF";

// One recording: its file, which the spool's writer owns from the start to
// its close, and what went wrong with it.
struct Recording {
    HWND dialog;
    HANDLE file;
    wchar_t path[MAX_PATH];
    DWORD error;
};

Recording* recording = nullptr;  // the one that takes lines now
// How long a closing window waits for the lines queued before it to be written.
constexpr uint32_t kFlushAtCloseMs = 2000;

std::string Utf8(const wchar_t* text) {
    const int n = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (n <= 1) return std::string();
    std::string out(static_cast<size_t>(n - 1), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, -1, &out[0], n, nullptr, nullptr);
    return out;
}

bool WriteAll(HANDLE file, const std::string& bytes) {
    DWORD written = 0;
    return WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
           written == bytes.size();
}

// The standard save dialog; false when the operator cancels it.
bool ChooseFile(HWND dialog, const wchar_t* title, DWORD flags, wchar_t* path) {
    OPENFILENAMEW ofn;
    ZeroMemory(&ofn, sizeof ofn);
    ofn.lStructSize = sizeof ofn;
    ofn.hwndOwner = dialog;
    ofn.lpstrFilter = L"Text files (*.txt)\0*.txt\0Log files (*.log)\0*.log\0All files\0*.*\0";
    ofn.lpstrFile = path;
    ofn.nMaxFile = MAX_PATH;
    ofn.lpstrTitle = title;
    ofn.lpstrDefExt = L"txt";
    ofn.Flags = OFN_PATHMUSTEXIST | OFN_NOCHANGEDIR | OFN_HIDEREADONLY | flags;
    return GetSaveFileNameW(&ofn) != FALSE;
}

void FileBox(HWND dialog, const wchar_t* what, const wchar_t* path, DWORD error) {
    wchar_t text[MAX_PATH + 256];
    _snwprintf(text, sizeof text / sizeof text[0] - 1,
               L"%ls\n%ls\n(Windows error %lu)\n\nChoose another folder or file name and try again.", what, path,
               static_cast<unsigned long>(error));
    text[sizeof text / sizeof text[0] - 1] = L'\0';
    MessageBoxW(dialog, text, kCaption, MB_OK | MB_ICONWARNING);
}

std::wstring ListLine(HWND list, int i) {
    const LRESULT n = SendMessageW(list, LB_GETTEXTLEN, static_cast<WPARAM>(i), 0);
    if (n == LB_ERR) return std::wstring();
    std::wstring line(static_cast<size_t>(n) + 1, L'\0');
    SendMessageW(list, LB_GETTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&line[0]));
    line.resize(static_cast<size_t>(n));
    return line;
}

void SaveLog(HWND dialog) {
    wchar_t path[MAX_PATH] = L"tq7300-log.txt";
    if (!ChooseFile(dialog, L"Save log as", OFN_OVERWRITEPROMPT, path)) return;
    // What the log holds when the file is chosen.
    HWND list = GetDlgItem(dialog, kIdLog);
    std::string bytes = kBom;
    const LRESULT count = SendMessageW(list, LB_GETCOUNT, 0, 0);
    for (int i = 0; i < count; ++i) bytes += Utf8(ListLine(list, i).c_str()) + "\r\n";
    HANDLE file = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    const bool ok = file != INVALID_HANDLE_VALUE && WriteAll(file, bytes);
    const DWORD error = ok ? 0 : GetLastError();
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
    if (!ok) FileBox(dialog, L"The log could not be saved to", path, error);
}

void SetRecordingCheck(HWND dialog, bool on) {
    CheckMenuItem(GetSystemMenu(dialog, FALSE), kSysCmdRecordSession, MF_BYCOMMAND | (on ? MF_CHECKED : MF_UNCHECKED));
}

void StartRecording(HWND dialog) {
    wchar_t path[MAX_PATH] = L"tq7300-session.txt";
    if (!ChooseFile(dialog, L"Record session", 0, path)) return;
    // Appends to a file that exists; an editor may read it meanwhile.
    HANDLE file =
        CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        FileBox(dialog, L"The session cannot be recorded to", path, GetLastError());
        return;
    }
    LARGE_INTEGER size = {};
    if (GetFileSizeEx(file, &size) && size.QuadPart == 0 && !WriteAll(file, kBom)) {
        const DWORD error = GetLastError();
        CloseHandle(file);
        FileBox(dialog, L"The session cannot be recorded to", path, error);
        return;
    }
    recording = new Recording{dialog, file, L"", 0};
    lstrcpynW(recording->path, path, MAX_PATH);
    SetRecordingCheck(dialog, true);
}

// The writer's side: these run on the spool's thread (failed also on the
// window's, for a queue that overflowed).
bool WriteLine(void* target, const std::string& bytes) {
    Recording* r = static_cast<Recording*>(target);
    if (WriteAll(r->file, bytes)) return true;
    r->error = GetLastError();
    return false;
}

void CloseRecording(void* target) {
    Recording* r = static_cast<Recording*>(target);
    CloseHandle(r->file);
    delete r;
}

// The box comes later, from the message loop: the recording is stopped there.
void RecordingFailed(void* target) {
    Recording* r = static_cast<Recording*>(target);
    if (r->error == 0) r->error = ERROR_NOT_ENOUGH_QUOTA;  // the queue overflowed: the file took nothing
    PostMessageW(r->dialog, kRecordingFailedMessage, 0, reinterpret_cast<LPARAM>(r));
}

constexpr SpoolSink kRecordingSink = {WriteLine, CloseRecording, RecordingFailed};

}  // namespace

void AddTranscriptMenuItems(HWND dialog) {
    HMENU menu = GetSystemMenu(dialog, FALSE);
    if (menu == nullptr) return;
    AppendMenuW(menu, MF_STRING, kSysCmdSaveLog, L"Save log as...");
    AppendMenuW(menu, MF_STRING | MF_UNCHECKED, kSysCmdRecordSession, L"Record session...");
}

bool OnTranscriptCommand(HWND dialog, WPARAM command) {
    if (command == kSysCmdSaveLog) {
        SaveLog(dialog);
        return true;
    }
    if (command == kSysCmdRecordSession) {
        if (recording != nullptr) {
            StopRecording(dialog);
        } else {
            StartRecording(dialog);
        }
        return true;
    }
    return false;
}

// Only queued: the log request that brought the line returns at once.
void RecordLogLine(const wchar_t* line) {
    if (recording == nullptr) return;
    SYSTEMTIME t;
    GetLocalTime(&t);
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "%04u-%02u-%02u %02u:%02u:%02u.%03u ", t.wYear, t.wMonth, t.wDay, t.wHour,
                  t.wMinute, t.wSecond, t.wMilliseconds);
    SpoolWrite(kRecordingSink, recording, stamp + Utf8(line) + "\r\n");
}

void ShowRecordingFailed(HWND dialog, LPARAM which) {
    Recording* failed = reinterpret_cast<Recording*>(which);
    if (failed != recording) return;  // stopped meanwhile; the operator chose to
    wchar_t path[MAX_PATH];
    lstrcpynW(path, failed->path, MAX_PATH);
    const DWORD error = failed->error;
    StopRecording(dialog);
    FileBox(dialog, L"Recording stopped: the session file could not be written:", path, error);
}

void StopRecording(HWND dialog) {
    if (recording == nullptr) return;
    SpoolClose(kRecordingSink, recording);
    recording = nullptr;
    SetRecordingCheck(dialog, false);
}

void EndRecording(HWND dialog) {
    StopRecording(dialog);
    SpoolDrain(kFlushAtCloseMs);
}

}  // namespace shell
