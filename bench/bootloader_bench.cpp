// Time per 240-byte boot-loader packet over a pseudo-terminal against the
// virtual panel. The protocol itself sets the floor: a 10 ms pause before
// every packet (send data and get status) and one received byte handled per
// 10 ms poll (two ACKs and a status packet), about 50 ms per data packet.

#include <benchmark/benchmark.h>

#include <chrono>
#include <thread>

#include "mcu/tiva_updater.h"
#include "surface/com_ports.h"
#include "surface_panel.h"

namespace {

using namespace ravelin;

constexpr int kPackets = 10;
constexpr double kFloorMs = 50.0;

void BM_BootLoaderPacket(benchmark::State& state) {
    sim::PanelConfig config;
    config.slot = 1;
    config.bootLoader.capable = true;
    sim::SurfacePanel panel(config);
    panel.start();
    surface::ComPortServices services;
    const std::string path = panel.devicePath();
    services.devicePath = [path](int) { return path; };
    surface::SetComPortServices(services);
    auto port = surface::OpenComPort(11, 115200, false);
    if (!port) {
        state.SkipWithError("no port");
        return;
    }
    mcu::tTivaSerialMessenger messenger(port.get());
    const std::vector<uint8_t> image(kPackets * mcu::kTivaMaxData, 0x5A);
    double totalMs = 0;
    for (auto _ : state) {
        // Back into the boot loader for the next round (the reset left it).
        const uint8_t enter[] = {0x02, 0x03, 0x05};
        port->send(enter, 3);
        panel.waitForDevice([](const sim::PanelProtocol& p) { return p.bootLoader().active(); },
                            std::chrono::seconds(2));
        mcu::tTivaUpdater updater(messenger, image, false, platform::systemClock());
        bool done = false;
        updater.OnFinished = [&](float, uint8_t) { done = true; };
        const auto start = std::chrono::steady_clock::now();
        auto next = start;
        updater.Start();
        // The owner's 10 ms timer.
        while (!done && !updater.Ended()) {
            next += std::chrono::milliseconds(10);
            std::this_thread::sleep_until(next);
            updater.PollTimerEvent();
        }
        const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
        if (!done) state.SkipWithError("update failed");
        totalMs += ms;
        state.SetIterationTime(ms / 1000.0);
    }
    const double perPacket = totalMs / double(state.iterations()) / kPackets;
    state.counters["ms_per_packet"] = perPacket;
    state.counters["floor_ms"] = kFloorMs;
    state.counters["ratio_to_floor"] = perPacket / kFloorMs;
    port.reset();
    surface::SetComPortServices({});
}

BENCHMARK(BM_BootLoaderPacket)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
