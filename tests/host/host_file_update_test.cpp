// The host FPGA and USB-audio updates over a fake host line, in virtual time:
// the transfer, the outcome from the updater's own codes, and the restart and
// reopening of the links after an FPGA update, which must wait until the
// host's own receive processing has returned.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include <unistd.h>

#include "fake_update_control.h"
#include "host/corvane_host.h"
#include "host/host_file_update.h"
#include "platform/virtual_event_loop.h"
#include "surface/fake_com.h"
#include "surface/frame.h"

using namespace ravelin;
using namespace ravelin::host;
using host::testing::FakeUpdateControl;

namespace {

struct HostFileUpdateTest : ::testing::Test {
    platform::VirtualEventLoop loop;
    FakeUpdateControl control;
    surface::testing::FakePorts ports;
    std::shared_ptr<surface::testing::FakeLine> line = ports.add(6);
    std::unique_ptr<tCorvaneHost> host;
    std::unique_ptr<HostFileUpdate> update;
    std::filesystem::path folder;
    std::string hostName = "Corvane";
    bool inService = false;
    int closes = 0, reopens = 0, closedInsideService = 0;
    // The board's side: the image it took, and a packet it refuses.
    std::vector<std::vector<uint8_t>> packets;
    std::vector<uint8_t> received;
    std::vector<uint8_t> headers;  // every header the board got, in order
    int refusePacket = -1;
    uint8_t refuseCode = 4;
    bool silent = false;
    bool watchdog = false;

    void SetUp() override {
        folder = std::filesystem::temp_directory_path() /
                 ("ravelin_hostfile_" + std::to_string(::getpid()) + "_" +
                  ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::create_directories(folder);
        openHost();
        loop.addTimer(10, [this] {
            answerBoard();
            inService = true;
            ServiceCorvaneHost(host.get());
            inService = false;
        });
    }
    void TearDown() override {
        update.reset();
        std::filesystem::remove_all(folder);
    }
    void openHost() { host = std::make_unique<tCorvaneHost>(6, false, hostName, HostServices{ports.opener(), {}, {}}); }
    std::vector<uint8_t> writeImage(const std::string& name, size_t size) {
        std::vector<uint8_t> image(size);
        for (size_t i = 0; i < size; ++i) image[i] = uint8_t(i * 7 + 3);
        std::ofstream(folder / name, std::ios::binary).write(reinterpret_cast<const char*>(image.data()), long(size));
        return image;
    }
    void start(HostImage image) {
        HostFileLinks links{[this] { return host.get(); },
                            [this] {
                                ++closes;
                                if (inService) ++closedInsideService;
                                host.reset();
                            },
                            [this] {
                                ++reopens;
                                openHost();
                            }};
        update = std::make_unique<HostFileUpdate>(control, loop, std::move(links), image, folder.string());
        // One watchdog for the whole test; its control may be replaced between cases.
        if (!watchdog) control.attach(loop, *update);
        watchdog = true;
        control.running = update.get();
        update->Start();
    }
    void reply(uint8_t header, std::initializer_list<uint8_t> data) {
        std::string body(1, char(header));
        for (uint8_t b : data) body.push_back(char(b));
        line->feed(surface::EncodeFrame(body));
    }
    // Every frame the program sent since the last call, answered as the
    // board's firmware answers the file-update exchange.
    void answerBoard() {
        std::string w = line->takeWritten();
        while (w.size() >= 2 && w.size() > size_t(uint8_t(w[0]))) {
            const size_t L = uint8_t(w[0]);
            std::string body;
            ASSERT_TRUE(surface::DecodeFrame(w.substr(0, L + 1), body));
            w.erase(0, L + 1);
            const uint8_t h = uint8_t(body[0]);
            headers.push_back(h);
            if ((h != kHostUpdateHostFPGA && h != kHostUpdateUSBAudio) || silent) continue;
            const uint8_t kind = uint8_t(body[1]);
            const int n = uint8_t(body[2]) << 8 | uint8_t(body[3]);
            if (kind == 0) {
                reply(h, {3, 0, 50});
                reply(h, {0, 0});
            } else if (kind == 1) {
                if (n == refusePacket) {
                    reply(h, {1, refuseCode, uint8_t(n >> 8), uint8_t(n)});
                    continue;
                }
                received.insert(received.end(), body.begin() + 4, body.end());
                reply(h, {1, 0, uint8_t(n >> 8), uint8_t(n)});
            } else if (kind == 2) {
                unsigned sum = 0;
                for (uint8_t b : received) sum += b;
                reply(h, {2, uint8_t((sum & 0xFFFF) == unsigned(n) ? 0 : 2)});
            }
        }
    }
    int count(uint8_t header) const { return int(std::count(headers.begin(), headers.end(), header)); }
};

TEST_F(HostFileUpdateTest, FpgaImageGoesWholeThenTheBoardRestartsAndEveryLinkReopensOutsideTheReceive) {
    const auto image = writeImage("Corvane_Interface_FPGA.bit", 300);
    start(HostImage::FPGA);
    EXPECT_EQ(control.total, 100);
    EXPECT_EQ(control.packets, 1) << "the first step comes before any reply";
    EXPECT_EQ(control.panel, " updating...");

    loop.advance(200);
    EXPECT_EQ(received, image);
    EXPECT_EQ(control.finished, 0) << "the outcome waits a second";
    EXPECT_TRUE(update->StepsLeft());
    loop.advance(1000);
    EXPECT_EQ(control.finished, 1);
    EXPECT_EQ(control.cancelled, 0);
    EXPECT_EQ(control.fractions.back(), 1.0f);

    loop.advance(50);
    EXPECT_EQ(count(kHostRestart), 1);
    EXPECT_EQ(closes, 1);
    EXPECT_EQ(closedInsideService, 0) << "the host was freed inside its own receive processing";
    EXPECT_EQ(reopens, 0);
    EXPECT_TRUE(update->StepsLeft());
    loop.advance(2000);
    EXPECT_EQ(reopens, 1);
    ASSERT_TRUE(host);
    EXPECT_TRUE(host->PortOpen());
    EXPECT_FALSE(update->StepsLeft());
}

TEST_F(HostFileUpdateTest, ABoardErrorOnAPacketAbortsAndOnlyTheFpgaRestarts) {
    struct Case {
        HostImage image;
        const char* file;
        int restarts;
    } cases[] = {{HostImage::FPGA, "corvane_interface_fpga.bit", 1}, {HostImage::USBAudio, "xmos.bin", 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        control = FakeUpdateControl{};
        headers.clear();
        received.clear();
        closes = reopens = 0;
        refusePacket = 1;
        writeImage(c.file, 300);
        start(c.image);
        loop.advance(4000);
        EXPECT_EQ(control.finished, 0);
        EXPECT_EQ(control.cancelled, 1);
        EXPECT_EQ(control.panel, " Tiva file updater Flash error on packet 2\r\nUpdate aborted");
        EXPECT_EQ(count(kHostRestart), c.restarts);
        EXPECT_EQ(closes, c.restarts);
        EXPECT_EQ(reopens, c.restarts);
        EXPECT_FALSE(update->StepsLeft());
        update.reset();
    }
}

TEST_F(HostFileUpdateTest, UsbAudioSucceedsAndLeavesTheHostLinkAlone) {
    const auto image = writeImage("XMOS.BIN", 1000);
    start(HostImage::USBAudio);
    loop.advance(2000);
    EXPECT_EQ(received, image) << "the file is found whatever its letter case";
    EXPECT_EQ(control.finished, 1);
    EXPECT_EQ(count(kHostUpdateUSBAudio), 1 + 8 + 1);
    EXPECT_EQ(count(kHostRestart), 0);
    EXPECT_EQ(closes, 0);
    EXPECT_FALSE(update->StepsLeft());

    // A reply after the end reaches nothing.
    reply(kHostUpdateUSBAudio, {2, 0});
    loop.advance(100);
    EXPECT_EQ(control.finished, 1);
}

TEST_F(HostFileUpdateTest, AMissingFileOrASilentBoardEndsByTheWatchdogWithoutARestart) {
    struct Case {
        bool fileThere;
        std::string message;
    } cases[] = {{false, " Cannot Update FPGA: file " + (folder / "corvane_interface_fpga.bit").string() + " not found"},
                 {true, " updating..."}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.fileThere);
        control = FakeUpdateControl{};
        headers.clear();
        silent = true;
        if (c.fileThere) writeImage("corvane_interface_fpga.bit", 300);
        start(HostImage::FPGA);
        loop.advance(29000);
        EXPECT_FALSE(control.ended());
        loop.advance(2000);
        EXPECT_EQ(control.cancelled, 1);
        EXPECT_EQ(control.cancelText, "no response");
        EXPECT_EQ(control.panel, c.message);
        EXPECT_EQ(count(kHostUpdateHostFPGA), c.fileThere ? 1 : 0);
        EXPECT_EQ(count(kHostRestart), 0);
        EXPECT_EQ(closes, 0);
        EXPECT_FALSE(update->StepsLeft());
        update.reset();
    }
}

TEST(HostFpgaFile, TheInterfaceFpgaForTheKr60AndNoModelOnlyByExactName) {
    struct Case {
        const char* hostName;
        const char* file;
    } cases[] = {{"Corvane", "corvane_interface_fpga.bit"},
                 {"KR60", "corvane_interface_fpga.bit"},
                 {"corvane", "ROD32FPGA.bit"},
                 {"KR40", "ROD32FPGA.bit"}};
    for (const auto& c : cases) EXPECT_EQ(GetFPGAFilename(c.hostName), c.file) << c.hostName;
}

} // namespace
