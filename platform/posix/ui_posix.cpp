// ui_posix.cpp - a recording user interface for native runs: the log with its
// 100-line cap, posted messages in a queue that tests pump, boxes, controls,
// and dialog timers that repeat until stopped, as the dialog's do.
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <mutex>

#include "platform/dialog_timers.h"
#include "platform/platform.h"
#include "platform/posix/posix_hooks.h"

namespace platform {

namespace {

constexpr size_t kLogCapacity = 100;

struct Ui {
    std::mutex lock;
    std::condition_variable posted;
    std::vector<std::string> history;
    std::deque<std::string> shown;
    int selected = -1;
    std::deque<posix::Posted> queue;
    std::vector<std::string> boxes;
    std::vector<std::string> questions;
    bool answerYes = false;  // what the operator answers a question
    int beeps = 0;
    std::map<int, std::string> texts;
    std::map<int, bool> enabled;
    DialogTimers timers;
    std::function<void(const posix::Posted&)> watcher;
};

Ui& ui() {
    static Ui instance;
    return instance;
}

// The timers' clock: the steady clock's milliseconds, not TickMs, so that a
// test that moves the tick forward (AdvanceTick) does not make a timer due.
uint32_t TimerNowMs() {
    const auto since = std::chrono::steady_clock::now().time_since_epoch();
    return static_cast<uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(since).count());
}

}  // namespace

void LogLine(const char* text) {
    Ui& u = ui();
    std::lock_guard<std::mutex> g(u.lock);
    u.history.emplace_back(text);
    u.shown.emplace_back(text);
    if (u.shown.size() > kLogCapacity) u.shown.pop_front();
    u.selected = static_cast<int>(u.shown.size()) - 1;
}

// Native texts are bytes as given: a UTF-8 line is recorded as any other.
void LogLineUtf8(const char* text) { LogLine(text); }

void LogFrame(char, int, const uint8_t*, int, const char* line) { LogLine(line); }

void ClearLog() {
    Ui& u = ui();
    std::lock_guard<std::mutex> g(u.lock);
    u.shown.clear();
    u.selected = -1;
}

void PostToDialog(uint32_t message, uintptr_t wParam, intptr_t lParam) {
    Ui& u = ui();
    {
        std::lock_guard<std::mutex> g(u.lock);
        u.queue.push_back(posix::Posted{message, wParam, lParam});
        if (u.watcher) u.watcher(u.queue.back());
    }
    u.posted.notify_all();
}

void WarningBox(const char* text) {
    Ui& u = ui();
    std::lock_guard<std::mutex> g(u.lock);
    u.boxes.emplace_back(text);
}

bool AskYesNo(const char* text) {
    Ui& u = ui();
    std::lock_guard<std::mutex> g(u.lock);
    u.questions.emplace_back(text);
    return u.answerYes;
}
void WarningBoxUtf8(const char* text) { WarningBox(text); }

void Beep(BeepSound) {
    Ui& u = ui();
    std::lock_guard<std::mutex> g(u.lock);
    ++u.beeps;
}

void ReadControlText(int id, char* buffer, int cap) {
    Ui& u = ui();
    std::lock_guard<std::mutex> g(u.lock);
    const std::string& t = u.texts[id];
    const size_t n = t.size() < size_t(cap - 1) ? t.size() : size_t(cap - 1);
    t.copy(buffer, n);
    buffer[n] = '\0';
}

// The texts that native tests set are already the bytes meant for the unit.
bool ReadControlTextExact(int id, char* buffer, int cap, TextRefusal& refusal) {
    refusal = TextRefusal{};
    ReadControlText(id, buffer, cap);
    return true;
}

PathCarry ReadControlPath(int id, char* path, int cap) {
    if (cap > 0) path[0] = '\0';
    const std::string text = posix::ControlText(id);
    const PathCarry carry = CheckBytePath(text.c_str());
    if (carry != PathCarry::Ok) return carry;
    if (text.size() + 1 > static_cast<size_t>(cap)) return PathCarry::TooLong;
    text.copy(path, text.size());
    path[text.size()] = '\0';
    return PathCarry::Ok;
}

void SetControlText(int id, const char* text) {
    Ui& u = ui();
    std::lock_guard<std::mutex> g(u.lock);
    u.texts[id] = text;
}

void EnableControl(int id, bool on) {
    Ui& u = ui();
    std::lock_guard<std::mutex> g(u.lock);
    u.enabled[id] = on;
}

void StartTimer(int id, uint32_t ms) {
    const uint32_t now = TimerNowMs();
    Ui& u = ui();
    std::lock_guard<std::mutex> g(u.lock);
    u.timers.Start(id, ms, now);
}

void StopTimer(int id) {
    Ui& u = ui();
    std::lock_guard<std::mutex> g(u.lock);
    u.timers.Stop(id);
}

namespace posix {

void WatchPosts(std::function<void(const Posted&)> watcher) {
    std::lock_guard<std::mutex> g(ui().lock);
    ui().watcher = std::move(watcher);
}

bool TakePosted(Posted& out, int timeoutMs) {
    Ui& u = ui();
    std::unique_lock<std::mutex> g(u.lock);
    if (!u.posted.wait_for(g, std::chrono::milliseconds(timeoutMs), [&] { return !u.queue.empty(); })) {
        return false;
    }
    out = u.queue.front();
    u.queue.pop_front();
    return true;
}

std::vector<std::string> LogHistory() {
    std::lock_guard<std::mutex> g(ui().lock);
    return ui().history;
}

std::vector<std::string> LogShown() {
    std::lock_guard<std::mutex> g(ui().lock);
    return std::vector<std::string>(ui().shown.begin(), ui().shown.end());
}

int LogSelected() {
    std::lock_guard<std::mutex> g(ui().lock);
    return ui().selected;
}

std::vector<std::string> BoxesShown() {
    std::lock_guard<std::mutex> g(ui().lock);
    return ui().boxes;
}

std::vector<std::string> QuestionsAsked() {
    std::lock_guard<std::mutex> g(ui().lock);
    return ui().questions;
}

void AnswerQuestions(bool yes) {
    std::lock_guard<std::mutex> g(ui().lock);
    ui().answerYes = yes;
}

int BeepCount() {
    std::lock_guard<std::mutex> g(ui().lock);
    return ui().beeps;
}

bool ControlEnabled(int id) {
    std::lock_guard<std::mutex> g(ui().lock);
    auto it = ui().enabled.find(id);
    return it == ui().enabled.end() || it->second;
}

std::string ControlText(int id) {
    std::lock_guard<std::mutex> g(ui().lock);
    return ui().texts[id];
}

void SetControl(int id, const std::string& text) { SetControlText(id, text.c_str()); }

int TakeDueTimer() {
    const uint32_t now = TimerNowMs();
    std::lock_guard<std::mutex> g(ui().lock);
    return ui().timers.TakeDue(now);
}

bool TimerRunning(int id) {
    std::lock_guard<std::mutex> g(ui().lock);
    return ui().timers.Running(id);
}

void ResetUi() {
    Ui& u = ui();
    std::lock_guard<std::mutex> g(u.lock);
    u.history.clear();
    u.shown.clear();
    u.selected = -1;
    u.queue.clear();
    u.boxes.clear();
    u.questions.clear();
    u.answerYes = false;
    u.beeps = 0;
    u.texts.clear();
    u.enabled.clear();
    u.watcher = nullptr;
    u.timers.Clear();
}

}  // namespace posix
}  // namespace platform
