// boxes.cpp - the verbs on the console's message boxes and its save dialog: read their texts and answer them.
#include "driver.h"
#include "steps.h"

#include <cwchar>

namespace tqdrive {

namespace {

const wchar_t kBoxClass[] = L"#32770";
const wchar_t kBoxCaption[] = L"TQ7300";
// The static control that carries a message box's text.
const int kBoxTextId = 0xFFFF;
// The file name box of the standard file dialog: the combo box of the Explorer style,
// or the edit of the old style.
const int kFileNameComboId = 0x47C;
const int kFileNameEditId = 0x480;

HWND FindCaptioned(const wchar_t* caption) { return FindWindowW(kBoxClass, caption); }

// Waits for the box and checks that its text holds expected; the box.
HWND AwaitBox(const std::wstring& expected, DWORD bound, const std::wstring& caption = kBoxCaption) {
    HWND box = nullptr;
    if (!PollUntil(bound, [&] { return (box = FindCaptioned(caption.c_str())) != nullptr; }))
        Fail("no message box captioned \"" + ToUtf8(caption) + "\" appeared");
    // The box is created before its text control is filled in; give it a moment. A box
    // shown by a worker thread that has just waited for seconds without reading messages
    // looks hung to SMTO_ABORTIFHUNG until its modal loop runs: such a read is retried.
    std::wstring text;
    PollUntil(3000, [&] {
        try {
            text = BoxText(box);
        } catch (const StepError&) {
            text.clear();
        }
        return !text.empty();
    });
    Print("box: " + ToUtf8(text));
    if (text.find(expected) == std::wstring::npos)
        Fail("the box says \"" + ToUtf8(text) + "\", expected \"" + ToUtf8(expected) + "\"");
    return box;
}

void PressBoxButton(HWND box, int id) {
    PostMessageW(box, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), (LPARAM)GetDlgItem(box, id));
    if (!PollUntil(5000, [&] { return !IsWindow(box); })) Fail("the message box did not close");
}

}  // namespace

HWND FindBox() { return FindCaptioned(kBoxCaption); }

std::wstring BoxText(HWND box) {
    HWND text = GetDlgItem(box, kBoxTextId);
    if (text) return WindowText(text);
    // Fall back to the first static control with a text.
    for (HWND c = GetWindow(box, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
        wchar_t cls[64] = {};
        GetClassNameW(c, cls, 64);
        if (_wcsicmp(cls, L"Static") == 0) {
            std::wstring t = WindowText(c);
            if (!t.empty()) return t;
        }
    }
    return std::wstring();
}

void StepBox(const std::wstring& expected, DWORD bound) { PressBoxButton(AwaitBox(expected, bound), IDOK); }

// A box of another caption (the About box): its text, then OK, and it must close.
void StepCaptionBox(const std::wstring& caption, const std::wstring& expected, DWORD bound) {
    PressBoxButton(AwaitBox(expected, bound, caption), IDOK);
}

// A Yes/No question: it has both buttons and No as its default, and is
// answered as told.
void StepAsk(const std::wstring& expected, const std::wstring& answer, DWORD bound) {
    HWND box = AwaitBox(expected, bound);
    if (!GetDlgItem(box, IDYES) || !GetDlgItem(box, IDNO)) Fail("the box has no Yes and No buttons");
    // The default button is the one drawn as the default push button (the dialog
    // manager's own default id stays IDOK under Wine, whatever the box asked for).
    const LONG noStyle = GetWindowLongW(GetDlgItem(box, IDNO), GWL_STYLE);
    const LONG yesStyle = GetWindowLongW(GetDlgItem(box, IDYES), GWL_STYLE);
    if ((noStyle & 0x0F) != BS_DEFPUSHBUTTON || (yesStyle & 0x0F) == BS_DEFPUSHBUTTON)
        Fail("the box's default button is not No");
    if (answer != L"yes" && answer != L"no") Fail("ask wants yes or no");
    PressBoxButton(box, answer == L"yes" ? IDYES : IDNO);
}

void StepNoBox() {
    HWND box = FindBox();
    if (box) Fail("a TQ7300 message box is open: \"" + ToUtf8(BoxText(box)) + "\"");
}

// Presses OK on every TQ7300 box open now, printing each one's text.
void StepDismiss() {
    for (int i = 0; i < 20; ++i) {
        HWND box = FindBox();
        if (!box) return;
        std::wstring text;
        PollUntil(1000, [&] { return !(text = BoxText(box)).empty(); });
        Print("box: " + ToUtf8(text));
        PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), (LPARAM)GetDlgItem(box, IDOK));
        if (!PollUntil(5000, [&] { return !IsWindow(box); })) Fail("a message box did not close");
    }
    Fail("message boxes keep coming");
}

// Answers the console's save dialog titled TITLE with PATH, as an operator would.
void StepSaveFile(const std::wstring& title, const std::wstring& path, DWORD bound) {
    HWND dialog = nullptr;
    if (!PollUntil(bound, [&] { return (dialog = FindCaptioned(title.c_str())) != nullptr; }))
        Fail("no \"" + ToUtf8(title) + "\" dialog appeared");
    HWND name = nullptr;
    PollUntil(2000, [&] {
        name = GetDlgItem(dialog, kFileNameComboId);
        if (!name) name = GetDlgItem(dialog, kFileNameEditId);
        return name != nullptr;
    });
    if (!name || !Send(name, WM_SETTEXT, 0, (LPARAM)path.c_str()))
        Fail("the file name box of \"" + ToUtf8(title) + "\" cannot be set");
    PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), (LPARAM)GetDlgItem(dialog, IDOK));
    if (!PollUntil(bound, [&] { return !IsWindow(dialog); }))
        Fail("the \"" + ToUtf8(title) + "\" dialog did not close");
}

}  // namespace tqdrive
