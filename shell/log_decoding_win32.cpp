// log_decoding_win32.cpp - the selected log line decoded into the status strip.
#include "shell/log_decoding_win32.h"

#include <string>
#include <vector>

#include "platform/win32/win32_ui.h"
#include "shell/command_ids.h"
#include "shell/frame_decoder.h"
#include "shell/log_gloss.h"
#include "shell/status_strip_win32.h"

namespace shell {

namespace {

// The list holds UTF-16; the decoder and the glosses read the console's CP932.
std::string LineAt(HWND list, LRESULT i) {
    const LRESULT n = SendMessageW(list, LB_GETTEXTLEN, static_cast<WPARAM>(i), 0);
    if (n == LB_ERR) return std::string();
    std::wstring wide(static_cast<size_t>(n) + 1, L'\0');
    SendMessageW(list, LB_GETTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&wide[0]));
    const int bytes = WideCharToMultiByte(932, 0, wide.c_str(), -1, nullptr, 0, nullptr, nullptr);
    if (bytes <= 1) return std::string();
    std::string out(static_cast<size_t>(bytes), '\0');
    WideCharToMultiByte(932, 0, wide.c_str(), -1, &out[0], bytes, nullptr, nullptr);
    out.resize(static_cast<size_t>(bytes - 1));
    return out;
}

struct FrameLine {
    char letter = 0;
    int length = 0;
    std::vector<uint8_t> bytes;
};

bool Parse(const std::string& text, FrameLine& f) { return ParseFrameLine(text.c_str(), f.letter, f.length, f.bytes); }

// An answer is named after the request above it.
Decoding DecodeFrameAt(HWND list, LRESULT selected, const FrameLine& f) {
    FrameDecoder decoder;
    for (LRESULT i = selected - 1; f.letter == 'R' && i >= 0; --i) {
        FrameLine request;
        if (Parse(LineAt(list, i), request) && request.letter == 'T') {
            decoder.Frame('T', request.bytes.data(), static_cast<int>(request.bytes.size()), request.length, -1);
            break;
        }
    }
    return decoder.Frame(f.letter, f.bytes.data(), static_cast<int>(f.bytes.size()), f.length, -1);
}

}  // namespace

void ShowSelectedLineDecoding(HWND dialog) {
    HWND list = GetDlgItem(dialog, kIdLog);
    const LRESULT selected = SendMessageW(list, LB_GETCURSEL, 0, 0);
    if (selected == LB_ERR) return;
    const std::string line = LineAt(list, selected);
    FrameLine f;
    Decoding d;
    if (Parse(line, f)) {
        d = DecodeFrameAt(list, selected, f);
    } else if (!GlossOf(line.c_str(), d.text, sizeof d.text)) {
        return;  // a line of our own, in English already
    }
    wchar_t wide[kDecodedTextSize];
    platform::ToWide(d.text, wide, kDecodedTextSize);
    ShowStripText(dialog, wide);
}

}  // namespace shell
