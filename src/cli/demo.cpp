#include "cli/demo.h"

#include <cstdlib>
#include <exception>
#include <filesystem>
#include <iostream>

#include "cli/session.h"
#include "cli/update_runs.h"
#include "platform/terminal.h"
#include "virtual_console.h"

#ifdef RAVELIN_HAVE_UI
#include "app/ui/main_window.h"
#endif

namespace ravelin::cli {

namespace {
// The GPIO panel: its file is one version ahead of the panel in the
// virtual console's default set-up, so its update is always there to run.
constexpr int kDemoRow = 12;

int RunInTerminal(const std::string& folder, const DemoOptions& options) {
    Session s(folder, std::cout, platform::StdoutIsTerminal());
    s.WaitForDevices(options.waitS);
    if (s.interrupted) {
        s.Close();
        return kExitInterrupted;
    }
    PrintInventory(*s.form);
    std::cout << "\nupdating " << s.form->Grid().Cell(app::ColFile, kDemoRow) << " (row " << kDemoRow << ")\n";
    std::cout.flush();
    const UpdateRecord rec = RunOneUpdate(s, kDemoRow);
    int status = kExitOk;
    switch (rec.outcome) {
    case Outcome::Successful: std::cout << "update successful\n"; break;
    case Outcome::Aborted:
        std::cout << "update aborted: " << Trimmed(s.form->Display().Progress) << "\n";
        status = kExitAborted;
        break;
    default:
        std::cout << "row " << kDemoRow << " cannot be updated now\n";
        status = kExitAborted;
        break;
    }
    std::cout.flush();
    s.Close();
    return status;
}
} // namespace

bool HaveDisplay() {
    const char* x = std::getenv("DISPLAY");
    const char* w = std::getenv("WAYLAND_DISPLAY");
    return (x && *x) || (w && *w);
}

int RunDemo(int argc, char** argv, const DemoOptions& options, platform::InstanceLock& lock) {
    auto folder = platform::MakeTemporaryFolder("ravelin-demo-");
    if (!folder) {
        std::cerr << "ravelin: no temporary folder for the virtual console\n";
        return kExitAborted;
    }
    sim::ConsoleConfig config;
    config.engine = true;
    if (options.hexLines > 0) config.hexLines = options.hexLines;
    int status = kExitAborted;
    {
        sim::VirtualConsole console(config);
        try {
            console.start();
        } catch (const std::exception& e) {
            std::cerr << "ravelin: the virtual console cannot start: " << e.what() << "\n";
            std::filesystem::remove_all(*folder);
            return kExitAborted;
        }
        if (!console.writeFolder(*folder)) {
            std::cerr << "ravelin: the virtual console cannot write its folder: " << console.lastError() << "\n";
        } else {
            std::cout << "virtual console ready in " << *folder << "\n";
            std::cout.flush();
#ifdef RAVELIN_HAVE_UI
            if (HaveDisplay()) status = ui::RunMainWindow(argc, argv, *folder, lock);
            else status = RunInTerminal(*folder, options);
#else
            status = RunInTerminal(*folder, options);
#endif
        }
        console.stop();
    }
    std::error_code ec;
    std::filesystem::remove_all(*folder, ec);
    return status;
}

} // namespace ravelin::cli
