// The command line: the window, or the same start-up without one for a
// listing of the inventory or updates. It only observes the main window's
// state and calls its operations; all protocol work stays behind them.
#include <CLI/CLI.hpp>

#include <cstdlib>
#include <iostream>
#include <string>

#include "cli/demo.h"
#include "cli/session.h"
#include "cli/update_runs.h"
#include "platform/files.h"
#include "platform/instance_lock.h"
#include "platform/signals.h"

#ifdef RAVELIN_HAVE_UI
#include "app/ui/main_window.h"
#endif

using namespace ravelin;
using namespace ravelin::cli;

namespace {

int RunList(const std::string& folder, bool json, double waitS) {
    Session s(folder, std::cout, false);
    s.WaitForDevices(waitS);
    if (s.interrupted) {
        s.Close();
        return kExitInterrupted;
    }
    if (json) std::cout << InventoryJsonText(*s.form) << "\n";
    else PrintInventory(*s.form);
    std::cout.flush();
    s.Close();
    return kExitOk;
}

} // namespace

int main(int argc, char** argv) {
    CLI::App cli{"Ravelin: the firmware and FPGA images of the console's devices, listed and updated.",
                 "ravelin"};
    cli.set_version_flag("--version", "ravelin 5.4.0.64");
    std::string folder = platform::files::executableFolder();
    cli.add_option("--folder", folder,
                   "program folder: console program, settings, Serial.ini, update files, Log.txt "
                   "(default: the folder of this program)");
    double listWait = 6;
    bool json = false;
    int row = 0;
    RequiredOptions required;
    bool requiredFlag = false;
    DemoOptions demo;

    auto* list = cli.add_subcommand("list", "start without a window and print the device table");
    list->add_flag("--json", json, "print the table as one JSON object");
    list->add_option("--wait", listWait, "seconds to let the devices report before printing")
        ->check(CLI::NonNegativeNumber);

    auto* update = cli.add_subcommand("update", "start without a window and update one row, or every required one");
    auto* rowOption = update->add_option("ROW", row, "grid row to update (1 for the first device row)");
    auto* requiredOption =
        update->add_flag("--required", requiredFlag, "update every row whose \"required\" tick is set, in table order");
    rowOption->excludes(requiredOption);
    update->add_flag("--keep-going", required.keepGoing, "with --required: go on after a failed update")
        ->needs(requiredOption);
    update->add_flag("--json", required.json, "with --required: print the summary as one JSON object")
        ->needs(requiredOption);
    update->add_option("--wait", required.waitS, "seconds to let the devices report before starting")
        ->check(CLI::NonNegativeNumber);

    auto* demoCommand = cli.add_subcommand(
        "demo", "run on a virtual console served by this program from a temporary folder: the window, or "
                "without a display the device table and an update of the GPIO panel (row 12)");
    demoCommand->add_option("--wait", demo.waitS, "seconds to let the devices report before the table")
        ->check(CLI::NonNegativeNumber);
    demoCommand->add_option("--hex-lines", demo.hexLines, "lines of each panel code file of the virtual console")
        ->check(CLI::Range(2, 100000));

    cli.require_subcommand(0, 1);
    // "ravelin list --folder DIR" as well as "ravelin --folder DIR list".
    list->fallthrough();
    update->fallthrough();
    demoCommand->fallthrough();
    cli.footer("Exit status: 0 done (every update successful), 1 update aborted, 2 row not updatable or "
               "wrong arguments, 3 another instance runs.");
    try {
        cli.parse(argc, argv);
        if (*update && !requiredFlag && rowOption->count() == 0)
            throw CLI::RequiredError("ROW or --required");
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
    if (*update) return requiredFlag ? RunRequired(folder, required) : RunUpdate(folder, row, required.waitS);
    if (*demoCommand) return RunDemo(argc, argv, demo, *lock);

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
