// verbs.cpp - the one table of tqdrive's verbs (name, arguments, usage, step) and the runner of a step list.
#include "verbs.h"

#include "steps.h"

#include <cstdio>
#include <cwchar>

namespace tqdrive {

namespace {

// Each verb turns its arguments into its step's; the runner has checked their count.
const Verb kVerbs[] = {
    {L"window", 1, "window SECS            wait for the TQ73PANEL window",
     [](const Args& a) { StepWindow(BoundMs(a[0])); }},
    {L"gone", 1, "gone SECS              wait until the window has gone",
     [](const Args& a) { StepGone(BoundMs(a[0])); }},
    {L"settext", 2, "settext ID TEXT        WM_SETTEXT on control ID",
     [](const Args& a) { StepSetText(ControlId(a[0]), a[1]); }},
    {L"gettext", 1, "gettext ID             print the text of control ID",
     [](const Args& a) { StepGetText(ControlId(a[0])); }},
    {L"text", 3, "text ID TEXT SECS      wait until control ID holds TEXT",
     [](const Args& a) { StepExpectText(ControlId(a[0]), a[1], BoundMs(a[2])); }},
    {L"press", 1, "press ID               post WM_COMMAND with command ID",
     [](const Args& a) { StepPress(ControlId(a[0])); }},
    {L"click", 1, "click ID               post BM_CLICK to button ID (it sends its WM_COMMAND itself)",
     [](const Args& a) { StepClick(ControlId(a[0])); }},
    {L"enabled", 3, "enabled ID 1|0 SECS    wait until control ID is enabled (1) or disabled (0)",
     [](const Args& a) { StepEnabled(ControlId(a[0]), a[1], BoundMs(a[2])); }},
    {L"log", 0, "log                    print every log line (UTF-8)", [](const Args&) { StepLog(); }},
    {L"pickline", 1, "pickline PAT           select the newest log line containing PAT as a click does",
     [](const Args& a) { StepPickLine(a[0]); }},
    {L"loghex", 0, "loghex                 print every log line as CP932 hex; fail on a line CP932 cannot hold",
     [](const Args&) { StepLogHex(); }},
    {L"waitlog", 2, "waitlog PAT SECS       wait for a log line containing PAT (a|b: either)",
     [](const Args& a) { StepWaitLog(a[0], BoundMs(a[1])); }},
    {L"watch", 2, "watch PAT SECS         print log lines as they appear until one contains PAT",
     [](const Args& a) { StepWatch(a[0], BoundMs(a[1])); }},
    {L"run", 3, "run ID PAT SECS        press ID, then print the new log lines until one contains PAT",
     [](const Args& a) { StepRun(ControlId(a[0]), a[1], BoundMs(a[2])); }},
    {L"box", 2, "box TEXT SECS          wait for the TQ7300 box, check its text contains TEXT, press OK",
     [](const Args& a) { StepBox(a[0], BoundMs(a[1])); }},
    {L"nobox", 0, "nobox                  fail if a TQ7300 box is open", [](const Args&) { StepNoBox(); }},
    {L"capbox", 3, "capbox CAPTION TEXT SECS  as box, for the box captioned CAPTION",
     [](const Args& a) { StepCaptionBox(a[0], a[1], BoundMs(a[2])); }},
    {L"ask", 3, "ask TEXT yes|no SECS   wait for the TQ7300 Yes/No box (No its default), check TEXT, answer",
     [](const Args& a) { StepAsk(a[0], a[1], BoundMs(a[2])); }},
    {L"close", 1, "close SECS             post WM_CLOSE and wait until the window has gone",
     [](const Args& a) { StepClose(BoundMs(a[0])); }},
    {L"endsession", 2, "endsession CLASS SECS  a log-off: WM_QUERYENDSESSION, then WM_ENDSESSION, to the window CLASS",
     [](const Args& a) { StepEndSession(a[0], BoundMs(a[1])); }},
    {L"sleep", 1, "sleep SECS             pause", [](const Args& a) { StepSleep(BoundMs(a[0])); }},
    {L"syscmd", 1, "syscmd ID              post WM_SYSCOMMAND with command ID (decimal, or 0x hex)",
     [](const Args& a) { StepSysCommand(CommandId(a[0])); }},
    {L"visible", 3, "visible ID 1|0 SECS    wait until control ID is visible (1) or hidden (0)",
     [](const Args& a) { StepVisible(ControlId(a[0]), a[1], BoundMs(a[2])); }},
    {L"class", 2, "class ID NAME          check the window class of control ID (Button, Edit, ...)",
     [](const Args& a) { StepClass(ControlId(a[0]), a[1]); }},
    {L"choose", 2, "choose ID PAT          drop list ID down, print its items, choose the first holding PAT",
     [](const Args& a) { StepChoose(ControlId(a[0]), a[1]); }},
    {L"winsize", 0, "winsize                print the window's outer width and height in pixels",
     [](const Args&) { StepWinSize(); }},
    {L"rect", 1, "rect ID                print left top width height of control ID in the client area",
     [](const Args& a) { StepRect(ControlId(a[0])); }},
    {L"menucheck", 3,
     "menucheck ID 1|0 SECS  wait until system menu item ID is checked (1) or not (0);\n"
     "                         exit code 3 where another process's menu cannot be read",
     [](const Args& a) { StepMenuCheck(CommandId(a[0]), a[1], BoundMs(a[2])); }},
    {L"key", 1,
     "key [SHIFT+]KEY        post a key (TAB RETURN ESCAPE SPACE LEFT ... or a VK number)\n"
     "                         to the console's focus window; TAB waits until the focus moves",
     [](const Args& a) { StepKey(a[0]); }},
    {L"setfocus", 1, "setfocus ID            give control ID the focus (WM_NEXTDLGCTL)",
     [](const Args& a) { StepSetFocus(ControlId(a[0])); }},
    {L"type", 1, "type TEXT              post TEXT as WM_CHAR messages to the console's focus window",
     [](const Args& a) { StepType(a[0]); }},
    {L"focus", 0, "focus                  print the id of the control that has the focus (0: none)",
     [](const Args&) { StepFocus(); }},
    {L"focused", 2, "focused ID SECS        wait until control ID has the focus",
     [](const Args& a) { StepFocused(ControlId(a[0]), BoundMs(a[1])); }},
    {L"progress", 2,
     "progress PAT SECS      print the progress bar's position and the status text as\n"
     "                         they change, until the text contains PAT",
     [](const Args& a) { StepProgress(a[0], BoundMs(a[1])); }},
    {L"minimize", 0, "minimize               minimize the console's window",
     [](const Args&) { StepShowWindow(SW_MINIMIZE); }},
    {L"restore", 0, "restore                restore the console's window",
     [](const Args&) { StepShowWindow(SW_RESTORE); }},
    {L"timeit", 4,
     "timeit ID PAT N SECS   press ID N times on an emptied log, timing each until the newest\n"
     "                         log line (or, for status:PAT, the status text) contains PAT",
     [](const Args& a) { StepTimeIt(ControlId(a[0]), a[1], a[2], BoundMs(a[3])); }},
    {L"savefile", 3, "savefile TITLE PATH SECS  answer the Open or Save dialog TITLE with PATH and OK",
     [](const Args& a) { StepSaveFile(a[0], a[1], BoundMs(a[2])); }},
    {L"alive", 1, "alive SECS             one message round trip through the window within SECS",
     [](const Args& a) { StepAlive(BoundMs(a[0])); }},
    {L"responsive", 2, "responsive SPAN SECS   a round trip every 100 ms for SPAN seconds, each within SECS",
     [](const Args& a) { StepResponsive(BoundMs(a[0]), BoundMs(a[1])); }},
    {L"hold", 2, "hold PATH SECS         open PATH (made if missing) without sharing, hold it for SECS",
     [](const Args& a) { StepHold(a[0], BoundMs(a[1])); }},
    {L"holdfor", 2, "holdfor PATH SECS      as hold, but the next steps run while it holds",
     [](const Args& a) { StepHoldFor(a[0], BoundMs(a[1])); }},
    // A whole number up to 65535, read as a control id is.
    {L"answers", 1, "answers MS             the console answers a message within MS milliseconds",
     [](const Args& a) { StepAnswers((DWORD)ControlId(a[0])); }},
    {L"threads", 0, "threads                print the number of the console's own threads besides its UI thread",
     [](const Args&) { StepThreads(); }},
    {L"font", 1,
     "font ID                print the face, lfHeight and cell height (tmHeight) of control ID's\n"
     "                         font, read in the console",
     [](const Args& a) { StepFont(ControlId(a[0])); }},
    // A whole number up to 65535, read as a control id is.
    {L"dpichange", 1,
     "dpichange DPI          the console handles WM_GETDPISCALEDSIZE and WM_DPICHANGED for DPI,\n"
     "                         sent in the console by tqprobe.dll as on reaching a monitor, and\n"
     "                         takes the client area its answer holds; prints it",
     [](const Args& a) { StepDpiChange(ControlId(a[0])); }},
    {L"drop", 2,
     "drop ID PATH           drop the file PATH on control ID (0: the log): WM_DROPFILES with a\n"
     "                         drop handle made in the console by tqprobe.dll",
     [](const Args& a) { StepDrop(ControlId(a[0]), a[1]); }},
    {L"foreground", 1, "foreground SECS        wait until the window is the foreground window, not minimized",
     [](const Args& a) { StepForeground(BoundMs(a[0])); }},
    {L"glyphs", 2, "glyphs FACE TEXT       check that the font FACE has a glyph for every character of TEXT",
     [](const Args& a) { StepGlyphs(a[0], a[1]); }},
    {L"fits", 0,
     "fits                   the window in its monitor's work area, every visible control in\n"
     "                         the client area; prints the rectangles",
     [](const Args&) { StepFits(); }},
    {L"textfits", 0,
     "textfits               every visible control's text fits it in the console's fonts (measured\n"
     "                         in the console by tqprobe.dll), and no two controls overlap",
     [](const Args&) { StepTextFits(); }},
    {L"dismiss", 0, "dismiss                press OK on every TQ7300 box open now, printing their texts",
     [](const Args&) { StepDismiss(); }},
    {L"codepage", 0, "codepage               print the system's ANSI and OEM code pages (GetACP, GetOEMCP)",
     [](const Args&) { StepCodePage(); }},
    {L"state", 0,
     "state                  threads, port edit enabled, panel shown, box open, log count,\n"
     "                         and the log lines added since the last state step",
     [](const Args&) { StepState(); }},
    {L"serve", 0,
     "serve                  read step lists from stdin, one a line, fields separated by\n"
     "                         tabs (\\t \\n \\\\ escapes); after each list print =ok, or\n"
     "                         =fail or =unsupported with the reason; ends at EOF or quit",
     nullptr},
};

const Verb* FindVerb(const std::wstring& name) {
    for (const auto& v : kVerbs)
        if (name == v.name) return &v;
    return nullptr;
}

std::string StepText(const std::wstring& verb, const Args& a) {
    std::string step = ToUtf8(verb);
    for (const auto& x : a) step += " " + ToUtf8(x);
    return step;
}

// The index of the first argument that is not a step (a verb without its arguments, or
// a mode such as serve); args.size() when every one is.
size_t FirstBadStep(const Args& args) {
    for (size_t i = 0; i < args.size();) {
        const Verb* v = FindVerb(args[i]);
        if (!v || !v->run || i + v->arity >= args.size()) return i;
        i += 1 + v->arity;
    }
    return args.size();
}

}  // namespace

void Usage() {
    fprintf(stderr, "usage: tqdrive STEP [STEP...]\nsteps:\n");
    for (const auto& v : kVerbs) fprintf(stderr, "  %s\n", v.usage);
}

Outcome RunSteps(const Args& args) {
    // Check the whole list first, so that a typo does not leave a half-driven console.
    const size_t bad = FirstBadStep(args);
    if (bad < args.size()) return Outcome{2, bad, "bad step: " + ToUtf8(args[bad])};
    for (size_t i = 0; i < args.size();) {
        const Verb* v = FindVerb(args[i]);
        const Args a(args.begin() + i + 1, args.begin() + i + 1 + v->arity);
        try {
            v->run(a);
        } catch (const StepError& e) {
            return Outcome{1, i, "step \"" + StepText(args[i], a) + "\" failed: " + e.what};
        } catch (const StepUnsupported& e) {
            return Outcome{3, i, "step \"" + StepText(args[i], a) + "\" cannot be checked here: " + e.what};
        }
        i += 1 + v->arity;
    }
    return Outcome{};
}

}  // namespace tqdrive
