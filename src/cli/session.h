#pragma once
// A run of the main window without a window: the same start-up, timers and
// closing, with the terminal following what the window would show.
#include <iosfwd>
#include <memory>
#include <string>

#include "app/main_unit.h"
#include "platform/plain_event_loop.h"

namespace ravelin::cli {

inline constexpr int kExitOk = 0, kExitAborted = 1, kExitUsage = 2, kExitRunning = 3, kExitInterrupted = 130;

std::string Trimmed(const std::string& s);
std::string OneLine(std::string s);

// Follows the window's state in the terminal during an update. On a
// terminal the meters become one progress line redrawn in place; elsewhere
// every step is a line of its own.
class TerminalView final : public app::MainFormView {
public:
    TerminalView(app::TMainForm& form, platform::PlainEventLoop& loop, std::ostream& out, bool redraw);
    bool watching = false;
    bool quitWhenIdle = true;
    bool windowClosed = false;

    // An update starts: the progress line's clock starts with it.
    void UpdateStarted();
    // Ends the progress line so that the next text starts on a line of its own.
    void EndProgressLine();

    void DisplayChanged() override { Show(); }
    void RepaintNow() override { Show(); }
    void CloseWindow() override;
    void ShowErrorBox(const std::string& text) override;

private:
    void Show();
    void ShowLine(const std::string& text);
    void DrawProgress(bool force);

    app::TMainForm& form_;
    platform::PlainEventLoop& loop_;
    std::ostream& out_;
    const bool redraw_;
    std::string message_, status_;
    int bar_ = -1;
    bool lineOpen_ = false;
    uint32_t startMs_ = 0;
    uint32_t drawnMs_ = 0;
    int drawnPercent_ = -1;
};

struct Session {
    // `progress` gets the texts an update shows; `redraw` when it is a terminal.
    Session(const std::string& folder, std::ostream& progress, bool redraw);
    ~Session();

    // An update cannot be interrupted (the device would be left half-programmed);
    // otherwise a signal ends the run the way closing the window does.
    void WatchSignals();
    // Lets the devices report for waitS seconds, then waits for an update a
    // device started by itself meanwhile (a panel or card found waiting in
    // its boot loader gets its code without being asked) to end.
    void WaitForDevices(double waitS);
    // Closes as the window closes: after an engine update the engine is
    // restarted first, and its confirmation closes the window.
    void Close();

    platform::PlainEventLoop loop;
    std::unique_ptr<app::TMainForm> form;
    std::unique_ptr<TerminalView> view;
    bool interrupted = false;
    bool warned = false;
};

void PrintInventory(const app::TMainForm& form);
std::string InventoryJsonText(const app::TMainForm& form);

} // namespace ravelin::cli
