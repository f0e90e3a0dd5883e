// The program's serial messenger and updater against the virtual panel's boot
// loader on a real pseudo-terminal.

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "mcu/tiva_test_support.h"
#include "mcu/tiva_updater.h"
#include "surface/com_ports.h"
#include "surface_panel.h"

namespace ravelin::mcu {
namespace {

TEST(PtyBootLoader, PanelTakesTheImageByteForByte) {
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
    ASSERT_NE(port, nullptr);

    const uint8_t enter[] = {0x02, 0x03, 0x05};
    port->send(enter, 3);
    ASSERT_TRUE(panel.waitForDevice([](const sim::PanelProtocol& p) { return p.bootLoader().active(); },
                                    std::chrono::seconds(2)));

    std::vector<uint8_t> image = testing::Pattern(1000);
    const char marker[] = "version ";
    std::copy(marker, marker + 8, image.begin() + 100);
    image[108] = 42;
    tTivaSerialMessenger messenger(port.get());
    tTivaUpdater updater(messenger, image, false, platform::systemClock());
    std::vector<testing::Event> progress, finished;
    updater.OnProgress = [&](float p, uint8_t a) { progress.push_back({p, a}); };
    updater.OnFinished = [&](float p, uint8_t a) { finished.push_back({p, a}); };
    updater.Start();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(3);
    while (finished.empty() && !updater.Ended() && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        updater.PollTimerEvent();
    }
    ASSERT_EQ(finished.size(), 1u);
    EXPECT_EQ(finished[0].ack, tu_Ack);
    EXPECT_EQ(panel.bootLoaderRecord().image, image);
    EXPECT_TRUE(panel.waitForDevice([](const sim::PanelProtocol& p) { return !p.bootLoader().active(); },
                                    std::chrono::seconds(1)));
    EXPECT_EQ(panel.version1(), 42);
    port.reset();
    surface::SetComPortServices({});
}

} // namespace
} // namespace ravelin::mcu
