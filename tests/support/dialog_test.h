// dialog_test.h - the dialog's commands against a simulated device, with the
// posted messages and due timers carried out the way the dialog would.
#pragma once

#include <chrono>
#include <cstring>
#include <functional>
#include <string>

#include "device_link.h"
#include "operations/operation_params.h"
#include "operations/progress.h"
#include "shell/result_words.h"
#include "shell/dispatch.h"
#include "shell/worker_slot.h"

namespace tqtest {

class DialogTest : public DeviceLinkTest {
protected:
    void SetUp() override {
        DeviceLinkTest::SetUp();
        std::memset(&params, 0, sizeof params);
        ops::ResetProgress();
        shell::OnInitDialog(&params);
    }
    void TearDown() override {
        // A worker still running is left to end; the slot is reaped here.
        Pump([] { return !shell::WorkerRunning(); }, 10000);
        shell::OnPrivateMessage(&params, wire::UM_WORKER_DONE, 0, 0);
        DeviceLinkTest::TearDown();
    }

    void Press(int id) { shell::OnCommand(&params, id); }

    // Carries out posted messages and due timers until done() or timeoutMs.
    bool Pump(const std::function<bool()>& done, int timeoutMs) {
        const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (!done()) {
            if (std::chrono::steady_clock::now() >= until) return false;
            platform::posix::Posted msg{};
            if (platform::posix::TakePosted(msg, 10)) {
                lastPosted = msg;
                shell::OnPrivateMessage(&params, msg.message, msg.wParam, msg.lParam);
            }
            const int timer = platform::posix::TakeDueTimer();
            if (timer >= 0) shell::OnTimer(timer);
        }
        return true;
    }

    bool PumpUntilLogged(const std::string& line, int timeoutMs = 15000) {
        return Pump([&] { return LogContains(line); }, timeoutMs);
    }

    // Pumps until no worker runs and no message is left for 100 ms, so that a
    // chain of workers has run to its end.
    bool PumpUntilIdle(int timeoutMs = 15000) {
        const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        for (;;) {
            platform::posix::Posted msg{};
            if (platform::posix::TakePosted(msg, 100)) {
                lastPosted = msg;
                shell::OnPrivateMessage(&params, msg.message, msg.wParam, msg.lParam);
            } else if (!shell::WorkerRunning()) {
                return true;
            }
            if (std::chrono::steady_clock::now() >= until) return false;
        }
    }

    // The status line the window shows now.
    static std::string Status() {
        char text[160];
        shell::StatusText(ops::ReadProgress(), platform::TickMs(), text, sizeof text);
        return text;
    }
    static bool StatusStarts(const std::string& prefix) { return Status().rfind(prefix, 0) == 0; }

    ops::OperationParams params;
    platform::posix::Posted lastPosted{};
};

}  // namespace tqtest
