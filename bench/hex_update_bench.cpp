// Time per Intel-HEX line of a panel code update against the virtual panel,
// beside the floor the protocol sets: the 20 ms the program leaves after each
// message it receives, plus the line's and the reply's time on the wire.
#include <benchmark/benchmark.h>

#include <chrono>
#include <filesystem>
#include <fstream>

#include "app/globals.h"
#include "app/main_unit.h"
#include "app/system_services.h"
#include "platform/clock.h"
#include "platform/plain_event_loop.h"
#include "platform/timer_thread.h"
#include "surface/com_ports.h"
#include "virtual_console.h"

using namespace ravelin;
namespace fs = std::filesystem;

static void BM_HexLineAgainstVirtualPanel(benchmark::State& state) {
    const int lines = static_cast<int>(state.range(0));
    const int baud = 115200;
    fs::path folder = fs::temp_directory_path() / ("ravelin-bench-" + std::to_string(::getpid()));
    double perLineMs = 0, floorMs = 0;
    for (auto _ : state) {
        fs::remove_all(folder);
        sim::ConsoleConfig config;
        config.hexLines = lines;
        config.writeSimLog = false;
        sim::VirtualConsole console(config);
        console.start();
        console.writeFolder(folder);

        platform::PlainEventLoop loop;
        app::TMainForm form(app::SystemServices(loop, folder.string()), folder.string());
        form.FormCreate();
        form.StartTimers();
        loop.runFor(1500);
        if (form.Grid().Cell(app::ColUpdate, 12) != app::UpdateCellText) {
            state.SkipWithError("row 12 is not updatable");
            break;
        }
        auto start = std::chrono::steady_clock::now();
        form.GridMouseDown(app::ColUpdate, 12);
        while (form.UpdateBusy()) loop.runFor(50);
        double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        state.SetIterationTime(seconds);
        if (form.Display().Progress != "update successful") state.SkipWithError("update did not succeed");
        form.FormClose();

        // The floor: per line the frame (length, type, text, checksum) out and the
        // 4-byte reply back at 10 bits a byte, plus the 20 ms pause.
        std::ifstream f(folder / "KR60GPIO.hex");
        std::string line;
        double wireMs = 0;
        int count = 0;
        while (std::getline(f, line)) {
            if (!line.empty() && line.back() == '\r') line.pop_back();
            wireMs += (line.size() + 3 + 4) * 10.0 * 1000.0 / baud;
            ++count;
        }
        perLineMs = seconds * 1000.0 / count;
        floorMs = 20.0 + wireMs / count;
        fs::remove_all(folder);
    }
    state.counters["ms_per_line"] = perLineMs;
    state.counters["floor_ms_per_line"] = floorMs;
    // A pseudo-terminal moves bytes at no line rate: there the pause alone is the floor.
    state.counters["pty_floor_ms_per_line"] = 20.0;
}
BENCHMARK(BM_HexLineAgainstVirtualPanel)->Arg(2000)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

BENCHMARK_MAIN();
