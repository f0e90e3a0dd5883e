#pragma once
// The application's side of an update, as the update paths see it, recording
// what they asked for.

#include <string>
#include <vector>

#include "platform/update_control.h"

namespace ravelin::mcu::testing {

class FakeControl : public platform::UpdateControl {
public:
    int32_t UpdatingRow() const override { return row; }
    int32_t PacketCount() const override { return packets; }
    int32_t DownloadProgress() const override { return progress; }
    void SetDownloadFileSize(int32_t total) override { fileSize = total; }
    void StepProgress(int32_t amount) override {
        ++packets;
        progress += amount;
        ++rearms;
    }
    void StepFraction(float fraction) override {
        ++packets;
        progress = static_cast<int32_t>(fraction * 100.0f + 0.5f);
        ++rearms;
    }
    void ProgressUpdate() override { ++rearms; }
    void SetWatchdog(int32_t) override {}
    void FinishUpdate() override {
        ++finishes;
        row = 0;
    }
    void CancelUpdate(const std::string& text) override {
        cancels.push_back(text);
        row = 0;
    }
    void DisplayMessage(const std::string& text) override {
        panel = " " + text;
        displayed.push_back(text);
    }
    const std::string& MessagePanelText() const override { return panel; }
    void SetMessagePanel(const std::string& text) override { panel = text; }
    void DisplayStatus(const std::string&) override {}
    void WriteLog(const std::string&) override {}

    int ends() const { return finishes + static_cast<int>(cancels.size()); }

    int32_t row = 9;
    int32_t packets = 0;
    int32_t progress = 0;
    int32_t fileSize = 0;
    int rearms = 0;
    int finishes = 0;
    std::vector<std::string> cancels;
    std::vector<std::string> displayed;
    std::string panel = " starting update";
};

} // namespace ravelin::mcu::testing
