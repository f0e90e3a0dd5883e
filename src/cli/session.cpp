#include "cli/session.h"

#include <nlohmann/json.hpp>

#include <iostream>

#include "app/system_services.h"
#include "cli/progress_line.h"
#include "platform/clock.h"
#include "platform/signals.h"
#include "platform/terminal.h"

namespace ravelin::cli {

namespace {
// The progress line is redrawn when its percentage moves, and at least this
// often for the clock, rate and time left.
constexpr uint32_t kRedrawMs = 250;
}

std::string Trimmed(const std::string& s) {
    size_t b = s.find_first_not_of(' ');
    return b == std::string::npos ? "" : s.substr(b);
}

std::string OneLine(std::string s) {
    for (size_t p; (p = s.find("\r\n")) != std::string::npos;) s.replace(p, 2, " / ");
    return s;
}

TerminalView::TerminalView(app::TMainForm& form, platform::PlainEventLoop& loop, std::ostream& out, bool redraw)
    : form_(form), loop_(loop), out_(out), redraw_(redraw) {}

void TerminalView::CloseWindow() {
    windowClosed = true;
    loop_.quit();
}

void TerminalView::ShowErrorBox(const std::string& text) {
    EndProgressLine();
    std::cerr << "Error: " << OneLine(text) << "\n";
}

void TerminalView::UpdateStarted() {
    startMs_ = platform::systemClock().tickCount();
    drawnPercent_ = -1;
    bar_ = -1;
}

void TerminalView::EndProgressLine() {
    if (!lineOpen_) return;
    out_ << "\n";
    out_.flush();
    lineOpen_ = false;
}

// A text line above the progress line, which is drawn again below it.
void TerminalView::ShowLine(const std::string& text) {
    if (lineOpen_) out_ << "\r\x1b[K";
    lineOpen_ = false;
    out_ << text << "\n";
}

void TerminalView::DrawProgress(bool force) {
    const auto& d = form_.Display();
    const uint32_t now = platform::systemClock().tickCount();
    const int percent = (d.DestMeter + 5) / 10;
    if (!force && lineOpen_ && percent == drawnPercent_ && now - drawnMs_ < kRedrawMs) return;
    drawnPercent_ = percent;
    drawnMs_ = now;
    ProgressSample s{d.DestMeter, form_.PacketCount(), now - startMs_};
    out_ << "\r" << FormatProgressLine(s, platform::TerminalColumns()) << "\x1b[K";
    lineOpen_ = true;
}

void TerminalView::Show() {
    if (!watching) return;
    const auto& d = form_.Display();
    bool wrote = false;
    if (d.Message != message_) {
        message_ = d.Message;
        ShowLine("message: " + OneLine(Trimmed(message_)));
        wrote = true;
    }
    if (d.Status != status_) {
        status_ = d.Status;
        if (!status_.empty()) {
            ShowLine("status:  " + OneLine(status_));
            wrote = true;
        }
    }
    if (redraw_) {
        if (d.MetersVisible) DrawProgress(wrote);
    } else {
        int tenth = d.MetersVisible ? d.DestMeter / 50 : -1;
        if (d.MetersVisible && tenth != bar_) {
            bar_ = tenth;
            std::string bar(static_cast<size_t>(tenth), '#');
            bar.resize(20, '.');
            out_ << "[" << bar << "] " << (d.DestMeter + 5) / 10 << "%  " << d.Progress << "\n";
        }
    }
    out_.flush();
    if (quitWhenIdle && !form_.UpdateBusy()) loop_.quit();
}

Session::Session(const std::string& folder, std::ostream& progress, bool redraw) {
    form = std::make_unique<app::TMainForm>(app::SystemServices(loop, folder), folder);
    view = std::make_unique<TerminalView>(*form, loop, progress, redraw);
    form->SetView(view.get());
    form->FormCreate();
    form->StartTimers();
    loop.addTimer(100, [this] { WatchSignals(); });
}

Session::~Session() = default;

void Session::WatchSignals() {
    if (!platform::TerminateRequested()) return;
    if (form->UpdateBusy()) {
        if (!warned) {
            view->EndProgressLine();
            std::cerr << "ravelin: an update is running and cannot be interrupted; it ends by itself\n";
        }
        warned = true;
        return;
    }
    interrupted = true;
    loop.quit();
}

void Session::WaitForDevices(double waitS) {
    loop.runFor(static_cast<int>(waitS * 1000));
    while (form->UpdateBusy() && !interrupted) loop.runFor(100);
}

void Session::Close() {
    if (!form->FormCloseQuery()) {
        // After new engine code the engine restarts first, and its
        // confirmation closes the window. When the restart ends without it,
        // the window would stay open for the user to close again; a terminal
        // run closes again by itself, so that it always ends.
        view->watching = true;
        view->quitWhenIdle = false;
        loop.runFor(100);
        for (int waited = 0; waited < 60000 && !view->windowClosed && !interrupted && form->Engine().Restarting();
             waited += 100)
            loop.runFor(100);
        if (!view->windowClosed) form->FormCloseQuery();
    }
    form->FormClose();
}

std::string InventoryJsonText(const app::TMainForm& form) {
    nlohmann::ordered_json rows = nlohmann::ordered_json::array();
    const auto& g = form.Grid();
    for (int r = 1; r < g.RowCount(); ++r) {
        nlohmann::ordered_json cells = nlohmann::ordered_json::array();
        for (int c = 0; c < app::ColCount; ++c) cells.push_back(g.Cell(c, r));
        rows.push_back({{"row", r}, {"cells", cells}, {"required", form.UpdateRequired(r)},
                        {"updatable", form.UpdateValid(r)}});
    }
    const auto& d = form.Display();
    nlohmann::ordered_json j = {{"rows", rows}, {"message", d.Message}, {"status", d.Status}, {"progress", d.Progress}};
    return j.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
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

} // namespace ravelin::cli
