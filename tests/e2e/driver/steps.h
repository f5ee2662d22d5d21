// steps.h - the steps that the verbs of tqdrive.exe run, by the file that holds them; verbs.cpp names them.
#pragma once

#include "driver.h"

namespace tqdrive {

// controls.cpp
void StepWindow(DWORD bound);
void StepGone(DWORD bound);
void StepClose(DWORD bound);
void StepEndSession(const std::wstring& windowClass, DWORD bound);
void StepShowWindow(int how);
void StepSetText(int id, const std::wstring& text);
void StepGetText(int id);
void StepExpectText(int id, const std::wstring& expected, DWORD bound);
void StepPress(int id);
void StepClick(int id);
void StepSysCommand(int id);
void StepEnabled(int id, const std::wstring& want, DWORD bound);
void StepVisible(int id, const std::wstring& want, DWORD bound);
void StepClass(int id, const std::wstring& expected);
void StepChoose(int id, const std::wstring& pattern);
void StepForeground(DWORD bound);

// log.cpp
void StepLog();
void StepPickLine(const std::wstring& pattern);
void StepLogHex();
void StepWaitLog(const std::wstring& pattern, DWORD bound);
void StepWatch(const std::wstring& pattern, DWORD bound);
void StepRun(int id, const std::wstring& pattern, DWORD bound);

// boxes.cpp
void StepBox(const std::wstring& expected, DWORD bound);
void StepCaptionBox(const std::wstring& caption, const std::wstring& expected, DWORD bound);
void StepAsk(const std::wstring& expected, const std::wstring& answer, DWORD bound);
void StepNoBox();
void StepDismiss();
void StepSaveFile(const std::wstring& title, const std::wstring& path, DWORD bound);

// keys.cpp
void StepKey(const std::wstring& keyText);
void StepSetFocus(int id);
void StepType(const std::wstring& text);
void StepFocus();
void StepFocused(int id, DWORD bound);

// screen.cpp
void StepProgress(const std::wstring& pattern, DWORD bound);
void StepWinSize();
void StepRect(int id);
void StepFits();
void StepGlyphs(const std::wstring& face, const std::wstring& text);
void StepCodePage();

// probe.cpp
void StepMenuCheck(int id, const std::wstring& want, DWORD bound);
void StepFont(int id);
void StepDpiChange(int dpi);
void StepTextFits();
void StepDrop(int id, const std::wstring& path);

// timing.cpp
void StepSleep(DWORD spanMs);
void StepAlive(DWORD boundMs);
void StepResponsive(DWORD spanMs, DWORD boundMs);
void StepAnswers(DWORD bound);
void StepTimeIt(int id, const std::wstring& pattern, const std::wstring& times, DWORD bound);

// holds.cpp
void StepHold(const std::wstring& path, DWORD spanMs);
void StepHoldFor(const std::wstring& path, DWORD spanMs);
void AwaitReleases();

// state.cpp
void StepThreads();
void StepState();

}  // namespace tqdrive
