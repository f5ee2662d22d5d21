// line_tools_win32.cpp - the port list and the line check's verdict.
#include "shell/line_tools_win32.h"

#include <cstdio>
#include <string>
#include <vector>

#include "link/link_state.h"
#include "operations/result.h"
#include "platform/platform.h"
#include "platform/port_info.h"
#include "platform/win32/win32_ui.h"
#include "shell/command_ids.h"
#include "shell/line_verdict.h"

namespace shell {

namespace {

// A summary with a long friendly name and serial number fits.
constexpr int kItemUnits = 512;

int EditPortNumber(HWND dialog) {
    wchar_t text[32] = L"";
    GetDlgItemTextW(dialog, kIdPortEdit, text, 32);
    char narrow[32];
    std::snprintf(narrow, sizeof narrow, "%ls", text);
    return platform::ports::ComPortNumber(narrow);
}

}  // namespace

void FillPortList(HWND dialog) {
    HWND list = GetDlgItem(dialog, kIdPortList);
    if (list == nullptr) return;
    SendMessageW(list, CB_RESETCONTENT, 0, 0);
    const int wanted = EditPortNumber(dialog);
    for (const platform::ports::PortInfo& p : platform::ports::GatherPorts()) {
        const int number = platform::ports::ComPortNumber(p.name.c_str());
        if (number == 0) continue;  // the port edit takes COM numbers only
        wchar_t item[kItemUnits];
        platform::Utf8ToWide(platform::ports::PortSummary(p).c_str(), item, kItemUnits);
        const LRESULT at = SendMessageW(list, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(item));
        if (at < 0) continue;
        SendMessageW(list, CB_SETITEMDATA, static_cast<WPARAM>(at), number);
        if (number == wanted) SendMessageW(list, CB_SETCURSEL, static_cast<WPARAM>(at), 0);
    }
}

bool OnPortListCommand(HWND dialog, WORD id, WORD code) {
    if (id != kIdPortList) return false;
    if (code == CBN_DROPDOWN) FillPortList(dialog);
    if (code != CBN_SELCHANGE) return true;
    HWND list = GetDlgItem(dialog, kIdPortList);
    const LRESULT at = SendMessageW(list, CB_GETCURSEL, 0, 0);
    const LRESULT number = at < 0 ? 0 : SendMessageW(list, CB_GETITEMDATA, static_cast<WPARAM>(at), 0);
    // While a session runs the edit is disabled and keeps the session's port.
    if (number > 0 && IsWindowEnabled(GetDlgItem(dialog, kIdPortEdit))) {
        SetDlgItemInt(dialog, kIdPortEdit, static_cast<UINT>(number), FALSE);
    }
    return true;
}

void LogLineCheckVerdict(uint32_t serial) {
    const ops::OperationResult r = ops::LastResult();
    if (r.serial != serial || r.activity != ops::Activity::LineCheck || r.outcome == ops::Outcome::Running) return;
    if (r.lineCheck.asked == 0) return;  // refused before it measured
    char port[16];
    std::snprintf(port, sizeof port, "COM%d", wire::PortNumber);
    char words[600];
    JudgeLine(r.lineCheck, port, words, sizeof words);
    char line[640];
    std::snprintf(line, sizeof line, "line check: %s", words);
    platform::LogLine(line);
}

}  // namespace shell
