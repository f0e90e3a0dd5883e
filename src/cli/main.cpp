// The command line: the window, or the same start-up without one for a
// listing of the inventory or one update. It only observes the main window's
// state and calls its operations; all protocol work stays behind them.
#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>
#include <unistd.h>

#include "app/globals.h"
#include "app/main_unit.h"
#include "app/system_services.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/instance_lock.h"
#include "platform/plain_event_loop.h"
#include "platform/signals.h"
#include "platform/timer_thread.h"
#include "surface/com_ports.h"

#ifdef RAVELIN_HAVE_UI
#include "app/ui/main_window.h"
#endif

using namespace ravelin;

namespace {

constexpr int kExitOk = 0, kExitAborted = 1, kExitUsage = 2, kExitRunning = 3, kExitInterrupted = 130;

std::string Trimmed(const std::string& s) {
    size_t b = s.find_first_not_of(' ');
    return b == std::string::npos ? "" : s.substr(b);
}

std::string OneLine(std::string s) {
    for (size_t p; (p = s.find("\r\n")) != std::string::npos;) s.replace(p, 2, " / ");
    return s;
}

// Follows the window's state in the terminal during an update.
class TerminalView final : public app::MainFormView {
public:
    TerminalView(app::TMainForm& form, platform::PlainEventLoop& loop) : form_(form), loop_(loop) {}
    bool watching = false;
    bool quitWhenIdle = true;
    bool windowClosed = false;

    void DisplayChanged() override { Show(); }
    void RepaintNow() override { Show(); }
    void CloseWindow() override {
        windowClosed = true;
        loop_.quit();
    }
    void ShowErrorBox(const std::string& text) override { std::cerr << "Error: " << OneLine(text) << "\n"; }

private:
    void Show() {
        if (!watching) return;
        const auto& d = form_.Display();
        if (d.Message != message_) {
            message_ = d.Message;
            std::cout << "message: " << OneLine(Trimmed(message_)) << "\n";
        }
        if (d.Status != status_) {
            status_ = d.Status;
            if (!status_.empty()) std::cout << "status:  " << OneLine(status_) << "\n";
        }
        int tenth = d.MetersVisible ? d.DestMeter / 50 : -1;
        if (d.MetersVisible && tenth != bar_) {
            bar_ = tenth;
            std::string bar(static_cast<size_t>(tenth), '#');
            bar.resize(20, '.');
            std::cout << "[" << bar << "] " << (d.DestMeter + 5) / 10 << "%  " << d.Progress << "\n";
        }
        std::cout.flush();
        if (quitWhenIdle && !form_.UpdateBusy()) loop_.quit();
    }
    app::TMainForm& form_;
    platform::PlainEventLoop& loop_;
    std::string message_, status_;
    int bar_ = -1;
};

struct Session {
    platform::PlainEventLoop loop;
    std::unique_ptr<app::TMainForm> form;
    std::unique_ptr<TerminalView> view;

    explicit Session(const std::string& folder) {
        form = std::make_unique<app::TMainForm>(app::SystemServices(loop, folder), folder);
        view = std::make_unique<TerminalView>(*form, loop);
        form->SetView(view.get());
        form->FormCreate();
        form->StartTimers();
        loop.addTimer(100, [this] { WatchSignals(); });
    }

    // An update cannot be interrupted (the device would be left half-programmed);
    // otherwise a signal ends the run the way closing the window does.
    void WatchSignals() {
        if (!platform::TerminateRequested()) return;
        if (form->UpdateBusy()) {
            if (!warned) std::cerr << "ravelin: an update is running and cannot be interrupted; it ends by itself\n";
            warned = true;
            return;
        }
        interrupted = true;
        loop.quit();
    }
    bool interrupted = false;
    bool warned = false;

    // Closes as the window closes: after an engine update the engine is
    // restarted first, and its confirmation closes the window.
    void Close() {
        if (!form->FormCloseQuery()) {
            // After new engine code the engine restarts first, and its
            // confirmation closes the window; a minute is long enough to wait.
            view->watching = true;
            view->quitWhenIdle = false;
            for (int waited = 0; waited < 60000 && !view->windowClosed && !interrupted; waited += 100)
                loop.runFor(100);
        }
        form->FormClose();
    }
};

nlohmann::ordered_json InventoryJson(const app::TMainForm& form) {
    nlohmann::ordered_json rows = nlohmann::ordered_json::array();
    const auto& g = form.Grid();
    for (int r = 1; r < g.RowCount(); ++r) {
        nlohmann::ordered_json cells = nlohmann::ordered_json::array();
        for (int c = 0; c < app::ColCount; ++c) cells.push_back(g.Cell(c, r));
        rows.push_back({{"row", r}, {"cells", cells}, {"required", form.UpdateRequired(r)},
                        {"updatable", form.UpdateValid(r)}});
    }
    const auto& d = form.Display();
    return {{"rows", rows}, {"message", d.Message}, {"status", d.Status}, {"progress", d.Progress}};
}

void PrintInventory(const app::TMainForm& form) {
    const auto& g = form.Grid();
    const int widths[app::ColCount] = {10, 18, 32, 12, 12, 8, 8};
    auto line = [&](int r, bool header) {
        std::string out = header ? "row " : (r < 10 ? "  " : " ") + std::to_string(r) + " ";
        for (int c = 0; c < app::ColCount; ++c) {
            std::string t = Trimmed(g.Cell(c, r));
            if (!header && c == app::ColRequired) t = form.UpdateRequired(r) ? "yes" : "";
            if (static_cast<int>(t.size()) < widths[c]) t.resize(static_cast<size_t>(widths[c]), ' ');
            out += t + " ";
        }
        while (!out.empty() && out.back() == ' ') out.pop_back();
        std::cout << out << "\n";
    };
    line(0, true);
    for (int r = 1; r < g.RowCount(); ++r) {
        bool empty = true;
        for (int c = 0; c < app::ColCount; ++c) empty = empty && g.Cell(c, r).empty();
        // Rows that hold nothing yet (room for racks) say nothing in a listing.
        if (!empty) line(r, false);
    }
    const auto& d = form.Display();
    std::cout << "\nmessage: " << OneLine(Trimmed(d.Message)) << "\n";
    if (!d.Status.empty()) std::cout << "status:  " << OneLine(d.Status) << "\n";
    if (!d.Progress.empty()) std::cout << "result:  " << d.Progress << "\n";
}

// Lets the devices report for waitS seconds, then waits for an update a
// device started by itself meanwhile (a panel found waiting in its boot
// loader gets its code without being asked) to end.
void WaitForDevices(Session& s, double waitS) {
    s.loop.runFor(static_cast<int>(waitS * 1000));
    while (s.form->UpdateBusy() && !s.interrupted) s.loop.runFor(100);
}

int RunList(const std::string& folder, bool json, double waitS) {
    Session s(folder);
    WaitForDevices(s, waitS);
    if (s.interrupted) {
        s.Close();
        return kExitInterrupted;
    }
    if (json) std::cout << InventoryJson(*s.form).dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace) << "\n";
    else PrintInventory(*s.form);
    std::cout.flush();
    s.Close();
    return kExitOk;
}

int RunUpdate(const std::string& folder, int row, double waitS) {
    Session s(folder);
    WaitForDevices(s, waitS);
    if (s.interrupted) {
        s.Close();
        return kExitInterrupted;
    }
    // The row asked for has already been updated by the device's own start:
    // its outcome is the answer.
    if (const auto result = s.form->LastResult(); result.row == row) {
        std::cout << (result.succeeded ? "update successful" : "update aborted: " + Trimmed(s.form->Display().Progress))
                  << "\n";
        std::cout.flush();
        s.Close();
        return result.succeeded ? kExitOk : kExitAborted;
    }
    if (row < 1 || row >= s.form->Grid().RowCount() ||
        s.form->Grid().Cell(app::ColUpdate, row) != app::UpdateCellText) {
        std::cerr << "ravelin: row " << row << " cannot be updated now\n";
        s.Close();
        return kExitUsage;
    }
    std::cout << "updating " << s.form->Grid().Cell(app::ColFile, row) << " (row " << row << ")\n";
    s.view->watching = true;
    s.form->GridMouseDown(app::ColUpdate, row);
    while (s.form->UpdateBusy()) s.loop.runFor(100);
    const auto& d = s.form->Display();
    // The outcome the update itself reported, not the texts it left.
    const auto result = s.form->LastResult();
    bool ok = result.row == row && result.succeeded;
    std::cout << (ok ? "update successful" : "update aborted: " + Trimmed(d.Progress)) << "\n";
    std::cout.flush();
    s.view->watching = false;
    s.Close();
    return ok ? kExitOk : kExitAborted;
}

#ifdef RAVELIN_HAVE_UI
bool HaveDisplay() {
    const char* x = std::getenv("DISPLAY");
    const char* w = std::getenv("WAYLAND_DISPLAY");
    return (x && *x) || (w && *w);
}
#endif

} // namespace

int main(int argc, char** argv) {
    CLI::App cli{"Ravelin: the firmware and FPGA images of the console's devices, listed and updated.",
                 "ravelin"};
    cli.set_version_flag("--version", "ravelin 5.4.0.64");
    std::string folder = platform::files::executableFolder();
    cli.add_option("--folder", folder,
                   "program folder: console program, settings, Serial.ini, update files, Log.txt "
                   "(default: the folder of this program)");
    double listWait = 6, updateWait = 6;
    bool json = false;
    int row = 0;
    auto* list = cli.add_subcommand("list", "start without a window and print the device table");
    list->add_flag("--json", json, "print the table as one JSON object");
    list->add_option("--wait", listWait, "seconds to let the devices report before printing")
        ->check(CLI::NonNegativeNumber);
    auto* update = cli.add_subcommand("update", "start without a window and update one row");
    update->add_option("ROW", row, "grid row to update (1 for the first device row)")->required();
    update->add_option("--wait", updateWait, "seconds to let the devices report before starting")
        ->check(CLI::NonNegativeNumber);
    cli.require_subcommand(0, 1);
    // "ravelin list --folder DIR" as well as "ravelin --folder DIR list".
    list->fallthrough();
    update->fallthrough();
    cli.footer("Exit status: 0 done (update successful), 1 update aborted, 2 row not updatable or "
               "wrong arguments, 3 another instance runs.");
    try {
        cli.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        int rc = cli.exit(e);
        return rc == 0 ? 0 : kExitUsage;
    }

    // The name users get is fixed; a test run sets its own so that it never
    // meets a window an engineer has open on the same machine.
    const char* instanceName = std::getenv("RAVELIN_INSTANCE_NAME");
    auto lock = platform::InstanceLock::acquire(instanceName && *instanceName ? instanceName : "TarvolaConsole");
    if (!lock) {
        std::cerr << "ravelin: another instance is running; it has been brought forward\n";
        return kExitRunning;
    }

    platform::WatchTerminateSignals();
    if (*list) return RunList(folder, json, listWait);
    if (*update) return RunUpdate(folder, row, updateWait);

#ifdef RAVELIN_HAVE_UI
    if (HaveDisplay()) return ui::RunMainWindow(argc, argv, folder, *lock);
    std::cerr << "ravelin: no display to open the window on; ";
#else
    std::cerr << "ravelin: this build has no window; ";
#endif
    std::cerr << "use 'ravelin list' for the inventory in the terminal or 'ravelin update ROW' "
                 "to update a row.\n";
    return kExitUsage;
}
