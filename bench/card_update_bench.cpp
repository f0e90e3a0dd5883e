// Card updates over loopback against the virtual card: time per 240-byte
// boot-loader packet beside the protocol's floor (a 10 ms pause before each
// packet and one received byte handled per 10 ms service step, about 50 ms
// per data packet), and the FPGA file update's throughput (one 128-byte
// packet per answer, the answer handled on the next 10 ms step).

#include <benchmark/benchmark.h>

#include <chrono>

#include "cards/ostra_slot.h"
#include "card_server.h"
#include "platform/clock.h"
#include "platform/plain_event_loop.h"
#include "platform/tcp_client.h"

namespace {

using namespace ravelin;

constexpr int kPackets = 10;
constexpr double kFloorMs = 50.0;
const char* kAddress = "127.61.0.1";

struct Rig {
    platform::PlainEventLoop loop;
    std::unique_ptr<sim::VirtualCard> card;
    std::unique_ptr<cards::tOstraSlot> slot;

    explicit Rig(bool inBootLoader) {
        sim::CardConfig c;
        c.startInBootLoader = inBootLoader;
        c.fpga.eraseSteps = {};
        card = std::make_unique<sim::VirtualCard>(c, kAddress);
        card->start();
        cards::OstraSlotServices s;
        s.engineAddress = kAddress;
        s.link.newClient = [this](const std::string& h, int p, platform::TcpClient::Handlers hs) {
            return platform::NewTcpClient(loop, h, p, std::move(hs));
        };
        s.link.clock = &platform::systemClock();
        slot = cards::NewOstraSlot(0, s);
        loop.addTimer(10, [this] { slot->Service(); });
    }
    bool RunUntil(const std::function<bool()>& done, int ms) {
        for (int waited = 0; waited < ms && !done(); waited += 10) loop.runFor(10);
        return done();
    }
};

void BM_CardFirmwarePacket(benchmark::State& state) {
    Rig rig(true);
    if (!rig.RunUntil([&] { return rig.slot->InBootLoader; }, 3000)) {
        state.SkipWithError("no card in its boot loader");
        return;
    }
    const std::vector<uint8_t> image(kPackets * mcu::kTivaMaxData, 0x5A);
    double totalMs = 0;
    for (auto _ : state) {
        bool done = false, failed = false;
        const auto start = std::chrono::steady_clock::now();
        rig.slot->InBootLoader = true;
        rig.slot->UpdateCode(image, [&](float, uint8_t e) { failed = failed || e != 0; },
                             [&](float, uint8_t) { done = true; });
        rig.RunUntil([&] { return done || failed; }, 10000);
        totalMs += std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
        if (!done) state.SkipWithError("update failed");
        // Back into the boot loader for the next round.
        state.PauseTiming();
        rig.slot->Send(std::string{4, 0});
        rig.RunUntil([&] { return rig.card->inBootLoader(); }, 2000);
        state.ResumeTiming();
    }
    const double perPacket = totalMs / double(state.iterations()) / kPackets;
    state.counters["ms_per_packet"] = perPacket;
    state.counters["floor_ms"] = kFloorMs;
}
BENCHMARK(BM_CardFirmwarePacket)->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_CardFPGAThroughput(benchmark::State& state) {
    Rig rig(false);
    if (!rig.RunUntil([&] { return rig.slot->CardType != 0; }, 4000)) {
        state.SkipWithError("no card");
        return;
    }
    const std::vector<uint8_t> file(64 * 128, 0x3C);
    double totalS = 0;
    for (auto _ : state) {
        bool done = false;
        const auto start = std::chrono::steady_clock::now();
        rig.slot->UpdateFPGA(file, {}, [&](float, uint8_t) { done = true; });
        rig.RunUntil([&] { return done; }, 20000);
        totalS += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (!done) state.SkipWithError("update failed");
    }
    state.counters["bytes_per_s"] = double(file.size()) * double(state.iterations()) / totalS;
}
BENCHMARK(BM_CardFPGAThroughput)->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
