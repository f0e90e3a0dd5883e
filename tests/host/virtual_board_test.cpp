// The host link and the USB DFU update against the virtual host board: the
// program's serial port service on a real pseudo-terminal, the DFU library
// on the board's boot loader socket, real threads throughout.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "fake_update_control.h"
#include "host/corvane_host.h"
#include "host/host_dfu_update.h"
#include "host_board.h"
#include "platform/virtual_event_loop.h"
#include "surface/com_ports.h"
#include "update_files.h"

using namespace ravelin;
using namespace std::chrono_literals;

namespace {

struct VirtualBoard : ::testing::Test {
    sim::HostBoard board{[] {
        sim::HostBoardConfig c;
        c.comPort = 6;
        c.dfu.busyPolls = 1;
        return c;
    }()};
    std::unique_ptr<host::tCorvaneHost> host;
    uint8_t resetReply = 0;

    void SetUp() override {
        board.start();
        surface::ComPortServices services;
        services.devicePath = [this](int) { return board.devicePath(); };
        surface::SetComPortServices(services);
        open();
    }
    void TearDown() override {
        host.reset();
        surface::SetComPortServices({});
    }
    void open() {
        host = std::make_unique<host::tCorvaneHost>(6, false, "Corvane",
                                                    host::HostServices{surface::OpenComPort, {}, {}});
        host->OnEngineResetComplete = [this](uint8_t b) { resetReply = b; };
    }
    // The service step in real time, faster than every 10 ms so that the
    // once-a-second poll comes after about 100 ms.
    bool serviceUntil(const std::function<bool()>& done, std::chrono::milliseconds limit = 3000ms) {
        const auto end = std::chrono::steady_clock::now() + limit;
        while (std::chrono::steady_clock::now() < end) {
            if (host) host->Service();
            if (done()) return true;
            std::this_thread::sleep_for(1ms);
        }
        return false;
    }
};

TEST_F(VirtualBoard, PollStatusSampleRatesAndEngineReset) {
    ASSERT_TRUE(serviceUntil([&] { return host->FirmwareVersion != 0 && host->SampleRates[3] != 0; }));
    EXPECT_EQ(host->FirmwareVersion, 13);
    EXPECT_EQ(host->FPGAVersion, "01/09/2021");
    EXPECT_EQ(host->SampleRates[0], 48000u);
    EXPECT_EQ(host->SampleRates[3], 44100u);
    const auto record = board.record();
    ASSERT_GE(record.messages.size(), 2u);
    EXPECT_EQ(record.messages[0], std::vector<uint8_t>{0});
    EXPECT_EQ(record.messages[1], std::vector<uint8_t>{60});
    EXPECT_EQ(record.badFrames, 0);

    host::ResetEngineViaHost(host.get());
    ASSERT_TRUE(serviceUntil([&] { return resetReply != 0; }));
    EXPECT_EQ(board.record().engineResets, 1);
}

TEST_F(VirtualBoard, FirmwareUpdateOverTheBootLoaderSocket) {
    ASSERT_TRUE(serviceUntil([&] { return host->FirmwareVersion == 13; }));
    const auto folder = std::filesystem::temp_directory_path() / ("ravelin_host_dfu_" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder);
    sim::writeBinaryFile(folder / "CorvaneTiva.dfu",
                         sim::dfuFileImage(sim::markerImage(20 * 1024 + 3, {14}, "Host", 7), 0x2800, 0x1CBE, 0x00FF));

    platform::VirtualEventLoop loop;
    host::testing::FakeUpdateControl control;
    std::string why;
    auto library = platform::OpenDfuLibrary(board.dfuSocketPath(), loop, why);
    int reopened = 0;
    host::HostDfuUpdate update(control, loop, *library,
                               {[&] { host->Boot(); }, [&] { host.reset(); },
                                [&] {
                                    ++reopened;
                                    open();
                                }},
                               folder.string());
    control.attach(loop, update);
    update.Start();
    EXPECT_TRUE(board.waitFor([](const sim::HostBoardRecord& r) { return r.boots == 1; }, 2s));

    // Virtual seconds for the window, real time for the board and the worker.
    const auto end = std::chrono::steady_clock::now() + 5s;
    while (!control.ended() && std::chrono::steady_clock::now() < end) {
        loop.advance(update.view().progressVisible ? 10 : 1000);
        std::this_thread::sleep_for(update.view().progressVisible ? 1ms : 50ms);
    }
    ASSERT_TRUE(control.ended()) << update.view().message;
    EXPECT_EQ(control.finished, 1) << update.view().message;
    EXPECT_EQ(control.panel, " Device updated successfully");
    EXPECT_EQ(reopened, 1);
    EXPECT_FLOAT_EQ(control.fractions.back(), 1.0f);
    ASSERT_TRUE(serviceUntil([&] { return host && host->FirmwareVersion == 14; }));
    EXPECT_FALSE(board.inBootLoader());
    std::filesystem::remove_all(folder);
}

TEST_F(VirtualBoard, NoBootLoaderNoDevice) {
    platform::VirtualEventLoop loop;
    std::string why;
    auto library = platform::OpenDfuLibrary(board.dfuSocketPath(), loop, why);
    ASSERT_EQ(library->Init(), 0);
    platform::DfuDeviceInfo info;
    platform::DfuHandle handle = 0;
    EXPECT_EQ(library->DeviceOpen(0, info, handle), platform::DFU_ERR_NOT_FOUND);
}

} // namespace
