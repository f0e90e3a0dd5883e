// The engine link over a real loopback socket against the virtual engine.
// Short runs with real threads; every wait is bounded.

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "engine/engine_download.h"
#include "engine/rack_download.h"
#include "engine_fixture.h"
#include "platform/client_thread.h"
#include "platform/plain_event_loop.h"
#include "virtual_engine.h"

namespace ravelin::engine::testing {
namespace {

class Loopback : public ::testing::Test {
protected:
    void Open(sim::VirtualEngineConfig config = {}) {
        engine = std::make_unique<sim::VirtualEngine>(config);
        ASSERT_TRUE(engine->bindLoopback());
        engine->start();
        unit = std::make_unique<EngineUnit>(loop, platform::systemClock(), control, window, racks,
                                            TcpConnections(loop));
        unit->OpenEngineLinks(engine->address());
        unit->InitialiseEngineComms();
    }
    void TearDown() override {
        if (unit) unit->CloseEngineLinks();
        unit.reset();
        if (engine) engine->stop();
    }
    // Runs the loop until `done` holds or 3 s have passed.
    bool RunUntil(const std::function<bool()>& done) {
        auto until = std::chrono::steady_clock::now() + std::chrono::seconds(3);
        while (!done() && std::chrono::steady_clock::now() < until) loop.runFor(5);
        return done();
    }
    std::string Write(const std::string& name, size_t size) {
        auto dir = std::filesystem::temp_directory_path() / ("engine_lb_" + std::to_string(::getpid()));
        std::filesystem::create_directories(dir);
        data.resize(size);
        for (size_t i = 0; i < size; ++i) data[i] = uint8_t(i * 13 + 1);
        std::ofstream(dir / name, std::ios::binary).write(reinterpret_cast<char*>(data.data()), long(size));
        return (dir / name).string();
    }

    platform::PlainEventLoop loop;
    FakeControl control;
    FakeWindow window;
    RackTable racks;
    std::unique_ptr<sim::VirtualEngine> engine;
    std::unique_ptr<EngineUnit> unit;
    std::vector<uint8_t> data;
};

TEST_F(Loopback, StartupExchangeFillsTheEngineInformation) {
    Open();
    unit->SendStartupRequests();
    ASSERT_TRUE(RunUntil([&] { return !window.serial.empty() && racks.VersionValid(5); }));
    EXPECT_EQ(window.serial, "00000000000000001234");
    EXPECT_EQ(unit->Info.EngineCodeDates[2], (std::array<uint8_t, 4>{0x30, 0x09, 0x21, 0x20}));
    EXPECT_EQ(racks.Port(5), 42);
    EXPECT_TRUE(control.logged("Engine Client connected to engine"));
}

TEST_F(Loopback, EngineDownloadOfAnOddFileArrivesByteForByte) {
    Open();
    EngineDownload d(unit->Dispatch(), control, Write("SP6v.bin", 3001), 2, "Host");
    d.Start();
    ASSERT_TRUE(RunUntil([&] { return control.finished + control.cancelled > 0; }));
    EXPECT_EQ(control.finished, 1);
    auto image = engine->engineImage(2);
    ASSERT_EQ(image.size(), 3002u);
    EXPECT_TRUE(std::equal(data.begin(), data.end(), image.begin()));
    EXPECT_EQ(image.back(), 0);
    EXPECT_EQ(engine->flashedCount(2), 1);
}

TEST_F(Loopback, RackDownloadOfAnOddFileKeepsItsLastByte) {
    Open();
    racks.Records[5][rbPort] = 42;
    window.rows[5] = 20;
    control.row = 20;
    RackDownload d(unit->Dispatch(), control, 5, Write("Rack.bin", 301));
    d.Start();
    ASSERT_TRUE(RunUntil([&] { return control.finished + control.cancelled > 0; }));
    EXPECT_EQ(control.finished, 1) << (control.messages.empty() ? "" : control.messages.back());
    auto image = engine->rackImage(42);
    ASSERT_EQ(image.size(), 304u);  // 151 words, made even
    EXPECT_TRUE(std::equal(data.begin(), data.end(), image.begin()));
    EXPECT_EQ(image[301], 0);
}

TEST_F(Loopback, RefusedConnectionIsRetriedWithItsLogLines) {
    sim::VirtualEngineConfig c;
    c.refuseMs = 300;
    Open(c);
    ASSERT_TRUE(RunUntil([&] { return unit->IsConnected(); }));
    EXPECT_TRUE(control.logged("Engine Client disconnected from engine"));
    EXPECT_TRUE(control.logged("Engine ** EngineMessenger Client socket error 10061"));
    EXPECT_TRUE(control.logged("Engine ** EngineMessenger Cannot connect to Engine at "));
    EXPECT_TRUE(control.logged("Engine Client connected to engine"));
}

TEST_F(Loopback, DroppedConnectionIsMadeAgain) {
    sim::VirtualEngineConfig c;
    c.dropAfterMessages = 3;
    Open(c);
    unit->SendStartupRequests();
    ASSERT_TRUE(RunUntil([&] { return engine->connections() >= 2 && unit->IsConnected(); }));
    EXPECT_TRUE(control.logged("Engine Client disconnected from engine"));
}

TEST_F(Loopback, AHandOverGivenUpWhenTheConnectionIsDestroyedNeverRunsLater) {
    // Nothing listens on port 1: the worker's connection fails and it hands
    // "disconnected" and the error to the loop, which is not running. The
    // destructor gives those hand-overs up; they stay queued on the loop and
    // must find the connection gone when the loop runs them.
    int calls = 0;
    {
        platform::tClientThread client(loop, "127.0.0.1", 1);
        client.OnDisconnected = [&] { ++calls; };
        client.OnSocketError = [&](platform::TErrorEvent, int&) { ++calls; };
        client.Start();
        // Time for the worker to queue its hand-over (without it the test
        // only proves less, it does not fail).
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    loop.runFor(20);
    EXPECT_EQ(calls, 0);
}

} // namespace
} // namespace ravelin::engine::testing
