// log_decoding_win32.h - what the operator's selected log line is, in the
// status strip: a frame line decoded, a Japanese text in English. The line
// itself never changes.
#pragma once

#include <windows.h>

namespace shell {

// On the log's LBN_SELCHANGE (the operator picked a line; the log's own
// selection of its newest line sends none).
void ShowSelectedLineDecoding(HWND dialog);

}  // namespace shell
