#include "cli/update_runs.h"

#include <nlohmann/json.hpp>

#include <cstdio>
#include <iostream>
#include <vector>

#include "cli/progress_line.h"
#include "platform/clock.h"
#include "platform/terminal.h"

namespace ravelin::cli {

namespace {
// Between two updates of a run the refresh tick comes round once, as it
// would before an engineer's next click, so the row just updated is shown
// with its new state before the next one starts.
constexpr int kPauseBetweenMs = 600;

std::string DeviceOf(const app::TMainForm& form, int row) {
    std::string d = Trimmed(form.Grid().Cell(app::ColDescription, row));
    return d.empty() ? Trimmed(form.Grid().Cell(app::ColDevice, row)) : d;
}

bool Updatable(const app::TMainForm& form, int row) {
    return row >= 1 && row < form.Grid().RowCount() && form.Grid().Cell(app::ColUpdate, row) == app::UpdateCellText;
}

void PrintSummary(const std::vector<UpdateRecord>& records) {
    std::printf("\n%-4s %-20s %-32s %-14s %s\n", "row", "device", "file", "outcome", "time");
    for (const auto& r : records)
        std::printf("%-4d %-20s %-32s %-14s %s\n", r.row, r.device.c_str(), r.file.c_str(), OutcomeText(r.outcome),
                    r.outcome == Outcome::Successful || r.outcome == Outcome::Aborted ? FormatDuration(r.ms).c_str()
                                                                                      : "");
    std::fflush(stdout);
}

void PrintSummaryJson(const std::vector<UpdateRecord>& records, bool allSucceeded) {
    nlohmann::ordered_json rows = nlohmann::ordered_json::array();
    for (const auto& r : records)
        rows.push_back({{"row", r.row}, {"device", r.device}, {"file", r.file}, {"outcome", OutcomeText(r.outcome)},
                        {"seconds", r.ms / 1000.0}});
    nlohmann::ordered_json j = {{"updates", rows}, {"succeeded", allSucceeded}};
    std::cout << j.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace) << "\n";
    std::cout.flush();
}

} // namespace

const char* OutcomeText(Outcome o) {
    switch (o) {
    case Outcome::Successful: return "successful";
    case Outcome::Aborted: return "aborted";
    case Outcome::NotUpdatable: return "not updatable";
    case Outcome::NotRun: return "not run";
    }
    return "";
}

UpdateRecord RunOneUpdate(Session& s, int row) {
    UpdateRecord rec;
    rec.row = row;
    if (row >= 1 && row < s.form->Grid().RowCount()) {
        rec.device = DeviceOf(*s.form, row);
        rec.file = Trimmed(s.form->Grid().Cell(app::ColFile, row));
    }
    if (!Updatable(*s.form, row)) {
        rec.outcome = Outcome::NotUpdatable;
        return rec;
    }
    const uint32_t start = platform::systemClock().tickCount();
    s.view->watching = true;
    s.view->quitWhenIdle = true;
    s.view->UpdateStarted();
    s.form->GridMouseDown(app::ColUpdate, row);
    while (s.form->UpdateBusy()) s.loop.runFor(100);
    s.view->EndProgressLine();
    s.view->watching = false;
    rec.ms = platform::systemClock().tickCount() - start;
    // The outcome the update itself reported, not the texts it left.
    const auto result = s.form->LastResult();
    rec.outcome = result.row == row && result.succeeded ? Outcome::Successful : Outcome::Aborted;
    return rec;
}

int RunUpdate(const std::string& folder, int row, double waitS) {
    Session s(folder, std::cout, platform::StdoutIsTerminal());
    s.WaitForDevices(waitS);
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
    if (!Updatable(*s.form, row)) {
        std::cerr << "ravelin: row " << row << " cannot be updated now\n";
        s.Close();
        return kExitUsage;
    }
    std::cout << "updating " << s.form->Grid().Cell(app::ColFile, row) << " (row " << row << ")\n";
    const UpdateRecord rec = RunOneUpdate(s, row);
    const bool ok = rec.outcome == Outcome::Successful;
    std::cout << (ok ? "update successful" : "update aborted: " + Trimmed(s.form->Display().Progress)) << "\n";
    std::cout.flush();
    s.Close();
    return ok ? kExitOk : kExitAborted;
}

int RunRequired(const std::string& folder, const RequiredOptions& options) {
    // With --json the summary alone goes to standard output.
    std::ostream& progress = options.json ? std::cerr : std::cout;
    const bool redraw = options.json ? false : platform::StdoutIsTerminal();
    Session s(folder, progress, redraw);
    s.WaitForDevices(options.waitS);
    if (s.interrupted) {
        s.Close();
        return kExitInterrupted;
    }
    // The rows ticked when the run begins; later refreshes may tick others,
    // which a next run takes up.
    std::vector<UpdateRecord> records;
    for (int r = 1; r < s.form->Grid().RowCount(); ++r) {
        if (!s.form->UpdateRequired(r)) continue;
        UpdateRecord rec;
        rec.row = r;
        rec.device = DeviceOf(*s.form, r);
        rec.file = Trimmed(s.form->Grid().Cell(app::ColFile, r));
        records.push_back(rec);
    }
    if (records.empty() && !options.json) progress << "nothing to update\n";

    bool allSucceeded = true;
    bool first = true;
    for (auto& rec : records) {
        if (!allSucceeded && !options.keepGoing) break;
        if (s.interrupted) break;
        if (!first) s.loop.runFor(kPauseBetweenMs);
        first = false;
        if (s.interrupted) break;
        if (Updatable(*s.form, rec.row))
            progress << "updating " << s.form->Grid().Cell(app::ColFile, rec.row) << " (row " << rec.row << ")\n";
        rec = RunOneUpdate(s, rec.row);
        if (rec.outcome == Outcome::Successful) {
            progress << "update successful\n";
        } else {
            allSucceeded = false;
            if (rec.outcome == Outcome::Aborted)
                progress << "update aborted: " << Trimmed(s.form->Display().Progress) << "\n";
            else
                progress << "row " << rec.row << " cannot be updated now\n";
        }
        progress.flush();
    }
    for (const auto& rec : records)
        if (rec.outcome != Outcome::Successful) allSucceeded = false;

    if (options.json) PrintSummaryJson(records, allSucceeded);
    else if (!records.empty()) PrintSummary(records);
    s.Close();
    if (s.interrupted) return kExitInterrupted;
    return allSucceeded ? kExitOk : kExitAborted;
}

} // namespace ravelin::cli
