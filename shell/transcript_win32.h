// transcript_win32.h - the log kept beyond its 100 lines: "Save log as..."
// writes what the log holds now, "Record session..." appends every line from
// then on. Both only when the operator asks, to a file chosen in the standard
// save dialog; UTF-8 with a BOM, one line per log line.
#pragma once

#include <windows.h>

namespace shell {

// Posted to the dialog when a recording had to stop: the box is shown from
// the message loop, never from inside a log request.
constexpr UINT kRecordingFailedMessage = WM_APP + 3;

void AddTranscriptMenuItems(HWND dialog);
// The two system-menu commands; true when wParam was one of them.
bool OnTranscriptCommand(HWND dialog, WPARAM command);
// Every line the log takes, as the log shows it; queued for the file while
// recording.
void RecordLogLine(const wchar_t* line);
// The failure message's lParam names the recording that failed.
void ShowRecordingFailed(HWND dialog, LPARAM which);
void StopRecording(HWND dialog);
// The window closes: the recording ends with it, and the lines queued so far
// are given a moment to reach the file.
void EndRecording(HWND dialog);

}  // namespace shell
