// about_win32.cpp - the About box. It shows what the exe's own VERSIONINFO
// says (the file's properties in Explorer show the same), plus the commit the
// build came from, and changes nothing: it is a message box owned by the
// dialog, whose log requests are served while it shows.
#include "shell/about_win32.h"

#include <cstring>
#include <cwchar>

#include "shell/command_ids.h"
#include "tq_commit.h"

namespace shell {

namespace {

constexpr wchar_t kCaption[] = L"About TQ7300 service console";
constexpr wchar_t kMenuText[] = L"About TQ7300 service console...";
constexpr int kVersionResource = 1;
// The English block of the VERSIONINFO (tq73panel.rc): the same texts as the
// Japanese one, in UTF-16 already.
constexpr wchar_t kStringBlock[] = L"\\StringFileInfo\\040904b0\\";
// VerQueryValue may write into the block it reads: it gets a copy, not the
// mapped resource. The VERSIONINFO is well under 2 KB.
constexpr DWORD kVersionInfoRoom = 4096;

alignas(4) unsigned char versionInfo[kVersionInfoRoom];

bool LoadVersionInfo() {
    HRSRC found = FindResourceW(nullptr, MAKEINTRESOURCEW(kVersionResource), MAKEINTRESOURCEW(16) /* RT_VERSION */);
    HGLOBAL loaded = found ? LoadResource(nullptr, found) : nullptr;
    const void* data = loaded ? LockResource(loaded) : nullptr;
    const DWORD size = found ? SizeofResource(nullptr, found) : 0;
    if (data == nullptr || size == 0 || size > kVersionInfoRoom) return false;
    std::memcpy(versionInfo, data, size);
    return true;
}

// One value of the string block, or "?" when the VERSIONINFO lacks it.
const wchar_t* VersionValue(const wchar_t* name) {
    wchar_t path[64];
    _snwprintf(path, sizeof path / sizeof path[0], L"%ls%ls", kStringBlock, name);
    path[sizeof path / sizeof path[0] - 1] = L'\0';
    void* value = nullptr;
    UINT length = 0;
    if (!VerQueryValueW(versionInfo, path, &value, &length) || value == nullptr || length == 0) return L"?";
    return static_cast<const wchar_t*>(value);
}

void ShowAbout(HWND dialog) {
    wchar_t text[512];
    if (LoadVersionInfo()) {
        _snwprintf(text, sizeof text / sizeof text[0], L"%ls\nVersion %ls (commit %hs)\n\n%ls",
                   VersionValue(L"ProductName"), VersionValue(L"ProductVersion"), TQ_COMMIT,
                   VersionValue(L"LegalCopyright"));
    } else {
        _snwprintf(text, sizeof text / sizeof text[0], L"The program's version resource cannot be read (commit %hs).",
                   TQ_COMMIT);
    }
    text[sizeof text / sizeof text[0] - 1] = L'\0';
    MessageBoxW(dialog, text, kCaption, MB_OK | MB_ICONINFORMATION);
}

}  // namespace

void AddAboutMenuItem(HWND dialog) {
    HMENU menu = GetSystemMenu(dialog, FALSE);
    if (menu == nullptr) return;
    AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
    AppendMenuW(menu, MF_STRING, kSysCmdAbout, kMenuText);
}

bool OnAboutCommand(HWND dialog, WPARAM command) {
    if (command != kSysCmdAbout) return false;
    ShowAbout(dialog);
    return true;
}

}  // namespace shell
