// Engine link speed against the virtual engine on loopback: engine code and
// rack code downloads (with and without a delay on every answer), and the
// processor time the link takes while connected and idle.

#include <memory>
#include <benchmark/benchmark.h>

#include <chrono>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <unistd.h>

#include "engine/engine_download.h"
#include "engine/engine_unit.h"
#include "engine/rack_download.h"
#include "platform/plain_event_loop.h"
#include "virtual_engine.h"

using namespace ravelin;

namespace {

class Control : public platform::UpdateControl {
public:
    int32_t UpdatingRow() const override { return 20; }
    int32_t PacketCount() const override { return 0; }
    int32_t DownloadProgress() const override { return 0; }
    void SetDownloadFileSize(int32_t) override {}
    void StepProgress(int32_t) override {}
    void StepFraction(float) override {}
    void ProgressUpdate() override {}
    void SetWatchdog(int32_t) override {}
    void FinishUpdate() override { done = ok = true; }
    void CancelUpdate(const std::string&) override { done = true; }
    void DisplayMessage(const std::string&) override {}
    const std::string& MessagePanelText() const override { return panel; }
    void SetMessagePanel(const std::string& t) override { panel = t; }
    void DisplayStatus(const std::string&) override {}
    void WriteLog(const std::string&) override {}
    bool done = false, ok = false;
    std::string panel;
};

class Window : public engine::EngineWindow {
public:
    int RackRow(int rack) const override { return rack == 5 ? 20 : 0; }
};

struct Bench {
    explicit Bench(int delayMs) {
        sim::VirtualEngineConfig c;
        c.replyDelayMs = delayMs;
        engine = std::make_unique<sim::VirtualEngine>(c);
        if (!engine->bindLoopback()) throw std::runtime_error("no loopback address");
        engine->start();
        racks.Records[5][engine::rbPort] = 42;
        unit = std::make_unique<engine::EngineUnit>(loop, platform::systemClock(), control, window, racks,
                                                    engine::TcpConnections(loop));
        unit->OpenEngineLinks(engine->address());
        unit->InitialiseEngineComms();
        tick = loop.addTimer(10, [this] { unit->Service(); });
        auto until = std::chrono::steady_clock::now() + std::chrono::seconds(3);
        while (!unit->IsConnected() && std::chrono::steady_clock::now() < until) loop.runFor(5);
    }
    ~Bench() {
        loop.removeTimer(tick);
        unit->CloseEngineLinks();
        unit.reset();
        engine->stop();
    }
    void RunToEnd() {
        while (!control.done) loop.runFor(50);
    }
    platform::PlainEventLoop loop;
    Control control;
    Window window;
    engine::RackTable racks;
    std::unique_ptr<sim::VirtualEngine> engine;
    std::unique_ptr<engine::EngineUnit> unit;
    int tick = 0;
};

std::string WriteFile(const std::string& name, size_t size) {
    auto dir = std::filesystem::temp_directory_path() / ("engine_bench_" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    std::vector<char> data(size);
    for (size_t i = 0; i < size; ++i) data[i] = char(i * 31 + 7);
    std::ofstream(dir / name, std::ios::binary).write(data.data(), long(size));
    return (dir / name).string();
}

// One download per iteration against a fresh virtual engine, timed from its
// start to its end; `make` builds the download on the bench's link.
template <typename MakeDownload>
void TimedDownload(benchmark::State& state, int delay, size_t size, MakeDownload make) {
    for (auto _ : state) {
        Bench b(delay);
        auto d = make(b);
        auto t0 = std::chrono::steady_clock::now();
        d->Start();
        b.RunToEnd();
        auto s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        state.SetIterationTime(s);
        if (!b.control.ok) state.SkipWithError("download failed");
        state.counters["kB/s"] = double(size) / s / 1000.0;
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(size));
}

void EngineCodeDownload(benchmark::State& state) {
    const int delay = int(state.range(0));
    const size_t size = size_t(state.range(1));
    const std::string file = WriteFile("SP6v.bin", size);
    TimedDownload(state, delay, size, [&](Bench& b) {
        return std::make_unique<engine::EngineDownload>(b.unit->Dispatch(), b.control, file, 2, "Host");
    });
}
BENCHMARK(EngineCodeDownload)
    ->Args({0, 2 << 20})
    ->Args({2, 256 << 10})
    ->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);

void RackCodeDownload(benchmark::State& state) {
    const int delay = int(state.range(0));
    const size_t size = size_t(state.range(1));
    const std::string file = WriteFile("Rack.bin", size);
    TimedDownload(state, delay, size, [&](Bench& b) {
        return std::make_unique<engine::RackDownload>(b.unit->Dispatch(), b.control, 5, file);
    });
}
BENCHMARK(RackCodeDownload)->Args({2, 64 << 10})->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);

double ProcessCpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

// Connected and idle: the 10 ms communications tick runs, nothing arrives.
void IdleConnected(benchmark::State& state) {
    for (auto _ : state) {
        Bench b(0);
        const double cpu0 = ProcessCpuSeconds();
        auto t0 = std::chrono::steady_clock::now();
        b.loop.runFor(2000);
        const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        const double cpu = ProcessCpuSeconds() - cpu0;
        state.SetIterationTime(wall);
        state.counters["cpu%"] = 100.0 * cpu / wall;
    }
}
BENCHMARK(IdleConnected)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
