// The engine host board through the program as an engineer runs it: the FPGA
// and USB-audio images over the board's serial link, its own firmware over
// its USB boot loader, against the virtual console's board and engine.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <nlohmann/json.hpp>
#include <thread>

#include "dfu_server.h"
#include "integration/console_fixture.h"
#include "integration/process.h"

namespace ravelin::testing {
namespace {

using namespace std::chrono_literals;

class HostRun : public ConsoleFixture {
protected:
    void SetUp() override {
        ConsoleFixture::SetUp();
        config.engine = true;
        config.cards.clear();
        sim::HostBoardConfig board;
        board.comPort = 6;
        board.restartMs = 100;
        board.dfu.busyPolls = 1;
        config.hostBoard = board;
    }
    // Small images, so that the transfers stay short.
    void SmallImages() {
        fpga = sim::bitFileImage("corvane_interface", sim::Date{2023, 1, 2}, 3000, 11);
        usbAudio = sim::markerImage(2000, {}, "USB audio", 12);
        sim::writeBinaryFile(folder / "Corvane_Interface_FPGA.bit", fpga);
        sim::writeBinaryFile(folder / "xmos.bin", usbAudio);
    }
    ProcessResult Update(const char* row) { return RunProgram(Ravelin({"update", row, "--wait", "2.5"}), 30000); }
    sim::HostBoard& Board() { return *console->hostBoard(); }

    std::vector<uint8_t> fpga, usbAudio;
};

TEST_F(HostRun, ImagesArriveWholeAndAfterTheFpgaTheBoardRestartsAndEveryLinkReopens) {
    Serve();
    SmallImages();
    auto r = Update("7");
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(Board().record().usbAudioUpdate.file, usbAudio);
    EXPECT_EQ(Board().record().restarts, 0) << "USB audio leaves the board running";

    const int connectionsBefore = console->engine()->connections();
    r = Update("6");
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("update successful"), std::string::npos) << r.out;
    const auto record = Board().record();
    EXPECT_EQ(record.fpgaUpdate.file, fpga);
    EXPECT_EQ(record.restarts, 1);
    EXPECT_EQ(record.fpgaDate, (sim::Date{2023, 1, 2}));
    // Restart follows the finish of the transfer.
    const auto finish = std::find_if(record.messages.begin(), record.messages.end(),
                                     [](const auto& m) { return m.size() >= 2 && m[0] == 39 && m[1] == 2; });
    EXPECT_NE(std::find(finish, record.messages.end(), std::vector<uint8_t>{1}), record.messages.end());
    // The run connected once at start and once more when the links reopened,
    // before it closed; the engine may take the second one from its backlog
    // a moment later.
    for (int i = 0; i < 100 && console->engine()->connections() < connectionsBefore + 2; ++i)
        std::this_thread::sleep_for(20ms);
    EXPECT_EQ(console->engine()->connections(), connectionsBefore + 2) << "the engine link was opened again";
}

TEST_F(HostRun, ABoardErrorOnAPacketAbortsTheUpdate) {
    config.hostBoard->usbAudioUpdate.errorPacket = 3;
    Serve();
    SmallImages();
    auto r = Update("7");
    EXPECT_EQ(r.status, 1) << r.out << r.err;
    EXPECT_NE(r.out.find("update aborted"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Tiva file updater Flash error on packet 4"), std::string::npos) << r.out;
    EXPECT_EQ(Board().record().usbAudioUpdate.completed, 0);
}

TEST_F(HostRun, HostFirmwareGoesOverTheBootLoaderAndRowFiveShowsTheNewVersion) {
    Serve();
    const auto image = sim::markerImage(6 * 1024 + 5, {14}, "Corvane host interface", 13);
    sim::writeBinaryFile(folder / "CorvaneTiva.dfu",
                         sim::dfuFileImage(image, sim::DfuDeviceConfig{}.appStart, 0x1CBE, 0x00FF));
    auto r = Update("5");
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("Device updated successfully"), std::string::npos) << r.out;
    const auto record = Board().record();
    EXPECT_EQ(record.boots, 1);
    ASSERT_GE(record.bootLoaderImage.size(), image.size());
    EXPECT_EQ(std::vector<uint8_t>(record.bootLoaderImage.begin(), record.bootLoaderImage.begin() + long(image.size())),
              image);
    EXPECT_EQ(Board().firmware(), 14);

    r = RunProgram(Ravelin({"list", "--json", "--wait", "2.5"}), 20000);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(nlohmann::json::parse(r.out)["rows"][4]["cells"][3], "14");
}

} // namespace
} // namespace ravelin::testing
