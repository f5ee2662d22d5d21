// keys.cpp - the verbs of the keyboard: keys and typed characters posted to the console's focus, and the focus itself.
//
// Keys are posted to the console's focus window, as the keyboard would queue them, so
// that they pass through the console's own message loop and dialog manager. A posted
// key does not change the keyboard state that the dialog manager reads for Shift, so
// for SHIFT+ the driver shares the console thread's input state (AttachThreadInput)
// and sets Shift there while the key is handled.
#include "driver.h"
#include "steps.h"

#include <cwchar>

namespace tqdrive {

namespace {

struct KeyName {
    const wchar_t* name;
    UINT vk;
};

const KeyName kKeys[] = {
    {L"TAB", VK_TAB},    {L"RETURN", VK_RETURN}, {L"ENTER", VK_RETURN}, {L"ESCAPE", VK_ESCAPE},
    {L"ESC", VK_ESCAPE}, {L"SPACE", VK_SPACE},   {L"LEFT", VK_LEFT},    {L"RIGHT", VK_RIGHT},
    {L"UP", VK_UP},      {L"DOWN", VK_DOWN},     {L"HOME", VK_HOME},    {L"END", VK_END},
};

// TAB steps wait until the focus has moved (at most kKeySettleMs), so that the next
// step sees the move; with SHIFT every key waits so, and Shift is let go after it.
const DWORD kKeySettleMs = 2000;

HWND ConsoleFocus() {
    GUITHREADINFO info = {};
    info.cbSize = sizeof info;
    if (!GetGUIThreadInfo(ConsoleThread(), &info)) Fail("GetGUIThreadInfo failed");
    return info.hwndFocus;
}

// The id of the dialog's control that has the focus (or holds the window that has
// it); 0 when none has.
int FocusedControl() {
    HWND panel = RequirePanel();
    for (HWND w = ConsoleFocus(); w && w != panel; w = GetParent(w))
        if (GetParent(w) == panel) return GetDlgCtrlID(w);
    return 0;
}

UINT VirtualKey(const std::wstring& name) {
    for (const auto& k : kKeys)
        if (_wcsicmp(name.c_str(), k.name) == 0) return k.vk;
    wchar_t* end = nullptr;
    unsigned long vk = wcstoul(name.c_str(), &end, 0);
    if (end == name.c_str() || *end != L'\0' || vk == 0 || vk > 0xFE) Fail("unknown key: " + ToUtf8(name));
    return (UINT)vk;
}

void PostKey(HWND target, UINT vk) {
    LPARAM scan = (LPARAM)MapVirtualKeyW(vk, MAPVK_VK_TO_VSC) << 16;
    if (!PostMessageW(target, WM_KEYDOWN, vk, scan | 1) ||
        !PostMessageW(target, WM_KEYUP, vk, scan | 1 | (LPARAM)0xC0000000))
        Fail("PostMessage of the key failed");
}

// Sets or clears Shift in the keyboard state that this thread shares with the console.
void SetShift(bool down) {
    BYTE state[256];
    if (!GetKeyboardState(state)) Fail("GetKeyboardState failed");
    BYTE v = down ? 0x80 : 0;
    state[VK_SHIFT] = v;
    state[VK_LSHIFT] = v;
    if (!SetKeyboardState(state)) Fail("SetKeyboardState failed");
}

}  // namespace

void StepFocus() { Print(std::to_string(FocusedControl())); }

void StepFocused(int id, DWORD bound) {
    int last = 0;
    if (!PollUntil(bound, [&] { return (last = FocusedControl()) == id; }))
        Fail("the focus is on control " + std::to_string(last) + ", expected " + std::to_string(id));
}

void StepKey(const std::wstring& keyText) {
    const std::wstring shiftPrefix = L"SHIFT+";
    bool shift =
        keyText.size() > shiftPrefix.size() && _wcsnicmp(keyText.c_str(), shiftPrefix.c_str(), shiftPrefix.size()) == 0;
    UINT vk = VirtualKey(shift ? keyText.substr(shiftPrefix.size()) : keyText);
    DWORD tid = ConsoleThread();
    HWND before = ConsoleFocus();
    HWND target = before ? before : RequirePanel();
    if (shift) {
        if (!AttachThreadInput(GetCurrentThreadId(), tid, TRUE))
            Fail("AttachThreadInput to the console's thread failed");
        SetShift(true);
    }
    PostKey(target, vk);
    if (shift || vk == VK_TAB) PollUntil(kKeySettleMs, [&] { return ConsoleFocus() != before; });
    if (shift) {
        SetShift(false);
        AttachThreadInput(GetCurrentThreadId(), tid, FALSE);
    }
}

// The dialog manager moves the focus, in the console's own thread, as Tab would.
void StepSetFocus(int id) { Send(RequirePanel(), WM_NEXTDLGCTL, (WPARAM)RequireControl(id), TRUE); }

// Each UTF-16 unit of TEXT as a WM_CHAR, as the keyboard (or an input method) hands
// typed characters to the focus window; they pass through the console's message loop.
void StepType(const std::wstring& text) {
    HWND target = ConsoleFocus();
    if (!target) Fail("no window of the console has the focus");
    for (wchar_t c : text)
        if (!PostMessageW(target, WM_CHAR, (WPARAM)c, 1)) Fail("PostMessage WM_CHAR failed");
}

}  // namespace tqdrive
