#pragma once
// The application's side of an update as the host tests need it: the
// message line, the progress steps and the end, with the main window's
// 30 s watchdog on a 500 ms refresh tick in virtual time.

#include <string>
#include <vector>

#include "platform/event_loop.h"
#include "platform/update_control.h"

namespace ravelin::host::testing {

struct FakeUpdateControl : platform::UpdateControl {
    static constexpr int kWatchdogTicks = 60;

    // How the message line behaves: the main window of today re-arms the
    // watchdog with every DisplayMessage during an update.
    bool displayMessageIsProgress = true;
    int32_t row = 5;
    int32_t packets = 0;
    int32_t progress = 0;
    int32_t total = 0;
    int watchdog = kWatchdogTicks;
    std::string panel;
    std::string status;
    std::vector<std::string> logLines;
    std::vector<float> fractions;
    int finished = 0;
    int cancelled = 0;
    std::string cancelText;
    platform::RunningUpdate* running = nullptr;

    // The refresh tick's watchdog step.
    void attach(platform::EventLoop& loop, platform::RunningUpdate& update) {
        running = &update;
        loop.addTimer(500, [this] {
            if (watchdog > 0 && --watchdog == 0 && row != 0 && running) running->NoAnswer(*this);
        });
    }
    bool ended() const { return finished + cancelled > 0; }

    int32_t UpdatingRow() const override { return row; }
    int32_t PacketCount() const override { return packets; }
    int32_t DownloadProgress() const override { return progress; }
    void SetDownloadFileSize(int32_t t) override { total = t; }
    void StepProgress(int32_t amount) override {
        ++packets;
        progress += amount;
        ProgressUpdate();
    }
    void StepFraction(float f) override {
        fractions.push_back(f);
        ++packets;
        progress = int32_t(f * 100 + 0.5f);
        ProgressUpdate();
    }
    void ProgressUpdate() override { watchdog = kWatchdogTicks; }
    void SetWatchdog(int32_t ticks) override { watchdog = ticks; }
    void FinishUpdate() override {
        ++finished;
        row = 0;
        watchdog = 0;
    }
    void CancelUpdate(const std::string& text) override {
        ++cancelled;
        cancelText = text;
        row = 0;
        watchdog = 0;
    }
    void DisplayMessage(const std::string& text) override {
        panel = " " + text;
        if (displayMessageIsProgress && row != 0) ProgressUpdate();
    }
    const std::string& MessagePanelText() const override { return panel; }
    void SetMessagePanel(const std::string& text) override { panel = text; }
    void DisplayStatus(const std::string& text) override { status = text; }
    void WriteLog(const std::string& text) override { logLines.push_back(text); }
};

} // namespace ravelin::host::testing
