#pragma once
// The fault matrix in virtual time: every update path against a device that
// goes silent, drops its link, answers garbage or fails at the last step.
// The main window's side of an update is played by `MatrixControl`: it counts
// every ending the path asks for (the real window swallows a second one, which
// would hide the fault), runs the 10 ms communications tick into the path and
// the 500 ms watchdog that calls its NoAnswer. Each cell's ending goes into
// one table, printed when the program ends.

#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "platform/update_control.h"
#include "platform/virtual_event_loop.h"

namespace ravelin::faults {

enum class Fault { None, SilentFromStart, SilentMidTransfer, LinkDropped, Corrupted, ErrorAtLastStep };

inline const std::vector<Fault>& AllFaults() {
    static const std::vector<Fault> all{Fault::None,        Fault::SilentFromStart, Fault::SilentMidTransfer,
                                        Fault::LinkDropped, Fault::Corrupted,       Fault::ErrorAtLastStep};
    return all;
}

inline const char* FaultName(Fault f) {
    switch (f) {
    case Fault::None: return "none";
    case Fault::SilentFromStart: return "silent from start";
    case Fault::SilentMidTransfer: return "silent mid-transfer";
    case Fault::LinkDropped: return "link dropped";
    case Fault::Corrupted: return "corrupted bytes";
    case Fault::ErrorAtLastStep: return "error at last step";
    }
    return "?";
}

// A fault as a test name.
inline std::string FaultParamName(const ::testing::TestParamInfo<Fault>& info) {
    std::string n = FaultName(info.param);
    for (char& c : n)
        if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
    return n;
}

class MatrixControl : public platform::UpdateControl {
public:
    static constexpr int kWatchdogTicks = 60;

    int32_t UpdatingRow() const override { return row; }
    int32_t PacketCount() const override { return packets; }
    int32_t DownloadProgress() const override { return progress; }
    void SetDownloadFileSize(int32_t) override {}
    void StepProgress(int32_t amount) override {
        ++packets;
        progress += amount;
        ProgressUpdate();
    }
    void StepFraction(float f) override {
        ++packets;
        progress = int32_t(f * 100 + 0.5f);
        ProgressUpdate();
    }
    void ProgressUpdate() override {
        if (row != 0) watchdog = kWatchdogTicks;
    }
    void SetWatchdog(int32_t ticks) override { watchdog = ticks; }
    void FinishUpdate() override { End(true, ""); }
    void CancelUpdate(const std::string& text) override { End(false, text); }
    void DisplayMessage(const std::string& text) override {
        panel = " " + text;
        ProgressUpdate();  // a message during an update counts as progress
    }
    const std::string& MessagePanelText() const override { return panel; }
    void SetMessagePanel(const std::string& text) override { panel = text; }
    void DisplayStatus(const std::string&) override {}
    void WriteLog(const std::string&) override {}

    int Endings() const { return finishes + cancels; }

    int32_t row = 9;  // any row: the paths that look at it are given theirs
    int32_t packets = 0, progress = 0;
    int watchdog = kWatchdogTicks;
    int finishes = 0, cancels = 0;
    int64_t endedAt = -1;
    std::string panel = " starting update", cancelText;
    platform::VirtualEventLoop* loop = nullptr;

private:
    void End(bool success, const std::string& text) {
        if (success) ++finishes;
        else {
            ++cancels;
            cancelText = text;
        }
        if (endedAt < 0 && loop) endedAt = loop->now();
        row = 0;
        watchdog = 0;
    }
};

// How one cell ended.
struct Ending {
    int finishes = 0, cancels = 0;
    int64_t ms = -1;  // virtual time of the first ending after the start
    std::string text() const {
        if (finishes + cancels == 0) return "HUNG";
        std::string t = finishes + cancels > 1 ? std::to_string(finishes + cancels) + " endings"
                        : finishes          ? "successful"
                                            : "aborted";
        char s[32];
        std::snprintf(s, sizeof s, " %.1fs", double(ms) / 1000.0);
        return t + s;
    }
};

// The whole table, printed once at the end of the program.
class MatrixTable : public ::testing::Environment {
public:
    static MatrixTable& Get() {
        static MatrixTable* table = [] {
            auto* t = new MatrixTable;
            ::testing::AddGlobalTestEnvironment(t);
            return t;
        }();
        return *table;
    }
    void Put(const std::string& path, Fault f, const std::string& text) {
        if (cells_.find(path) == cells_.end()) order_.push_back(path);
        cells_[path][f] = text;
    }
    void TearDown() override {
        if (order_.empty()) return;
        std::printf("\n%-26s", "path");
        for (Fault f : AllFaults()) std::printf("| %-20s", FaultName(f));
        std::printf("\n");
        for (auto& p : order_) {
            std::printf("%-26s", p.c_str());
            for (Fault f : AllFaults()) {
                auto it = cells_[p].find(f);
                std::printf("| %-20s", it == cells_[p].end() ? "-" : it->second.c_str());
            }
            std::printf("\n");
        }
    }

private:
    std::vector<std::string> order_;
    std::map<std::string, std::map<Fault, std::string>> cells_;
};

// Runs an update to its end in virtual time: the communications tick every
// 10 ms (the device answers first, as its bytes arrive between ticks), the
// watchdog every 500 ms, followed by `onRefresh` while the update runs (the
// window's refresh tick does more for some paths). `limitMs` bounds the wait
// for the ending; after it, the loop runs on for `afterMs` so that a second
// ending would show.
inline Ending RunUpdate(platform::VirtualEventLoop& loop, MatrixControl& control, platform::RunningUpdate& update,
                        const std::function<void()>& device, int64_t limitMs, int64_t afterMs = 35000,
                        const std::function<void()>& onRefresh = {}) {
    control.loop = &loop;
    const int64_t start = loop.now();
    bool alive = true;
    const int comms = loop.addTimer(10, [&] {
        if (!alive) return;
        if (device) device();
        update.CommsTick();
    });
    const int refresh = loop.addTimer(500, [&] {
        if (!alive) return;
        if (control.watchdog > 0 && --control.watchdog == 0 && control.row != 0) update.NoAnswer(control);
        if (onRefresh && control.row != 0) onRefresh();
    });
    update.Start();
    while (loop.now() - start < limitMs && (control.Endings() == 0 || update.StepsLeft())) loop.advance(10);
    loop.advance(afterMs);
    alive = false;
    loop.removeTimer(comms);
    loop.removeTimer(refresh);
    Ending e;
    e.finishes = control.finishes;
    e.cancels = control.cancels;
    e.ms = control.endedAt < 0 ? -1 : control.endedAt - start;
    return e;
}

// What every cell must show: one ending, success only when the device took
// the whole image (or there was no fault), and within the bound.
inline void ExpectCell(const std::string& path, Fault fault, const Ending& e, bool deviceConfirmed,
                       int64_t boundMs) {
    MatrixTable::Get().Put(path, fault, e.text());
    SCOPED_TRACE(path + " / " + FaultName(fault) + ": " + e.text());
    EXPECT_EQ(e.finishes + e.cancels, 1);
    if (e.finishes) { EXPECT_TRUE(deviceConfirmed) << "a success the device did not confirm"; }
    if (fault == Fault::None) { EXPECT_EQ(e.finishes, 1); }
    EXPECT_GE(e.ms, 0);
    EXPECT_LE(e.ms, boundMs);
}

} // namespace ravelin::faults
