// Panel code (hex lines), a panel's boot loader and the local I/O FPGA, on
// the surface link over in-memory serial lines with its poll timer running,
// against panels that can be told to fail. A pulled cable is a line that
// takes no more bytes and answers nothing. During the local I/O FPGA update
// the surface poll goes on: the panel on the other slot keeps being polled.

#include <filesystem>
#include <fstream>

#include "app/main_form_fixture.h"
#include "faults/matrix.h"
#include "mcu/local_io_fpga_update.h"
#include "mcu/surface_tiva_update.h"
#include "mcu/tiva_file_updater.h"
#include "mcu/tiva_updater.h"
#include "surface/hex_update.h"

namespace ravelin::faults {
namespace {

using app::testing::PanelModel;

constexpr int kPanelSlot = 1;
constexpr int kLocalIOSlot = 3;
constexpr int kOtherSlot = 0;
constexpr int kImageBytes = 700;  // three boot-loader packets, six FPGA packets

class SurfacePaths : public ::testing::TestWithParam<Fault> {
protected:
    void SetUp() override {
        folder = std::filesystem::temp_directory_path() / ("faults_surface_" + std::to_string(::getpid()));
        std::filesystem::create_directories(folder);
        for (size_t i = 0; i < image.size(); ++i) image[i] = uint8_t(i * 7 + 1);
        for (auto name : {"panel.bin", "fpga.bit"})
            std::ofstream(folder / name, std::ios::binary)
                .write(reinterpret_cast<const char*>(image.data()), std::streamsize(image.size()));
        hex = ":10080000000000000C000000000000000000000000DC\r\n";
        for (int i = 0; i < 8; ++i) hex += ":04" + std::to_string(1000 + i) + "0000112233XX\r\n";
        hex += ":00000001FF\r\n";
        std::ofstream(folder / "panel.hex", std::ios::binary) << hex;

        for (int s = 0; s < 4; ++s) lines[s] = ports.add(11 + s);
        other.line = lines[kOtherSlot];
        panel.line = lines[kPanelSlot];
        surface::SurfaceLinkServices sv;
        sv.openPort = ports.opener();
        sv.clock = &loop;
        sv.newTimer = [this] { return loop.newTimerThread(); };
        link = std::make_unique<surface::SurfaceLink>(std::move(sv));
        for (int s = 0; s < 4; ++s) link->Slots[s].ComPortNumber = int16_t(11 + s);
        link->LocalIOPort = kLocalIOSlot;
        link->OpenSurfaceLink(true);
    }
    void TearDown() override {
        link.reset();
        std::filesystem::remove_all(folder);
    }
    std::string Path(const char* name) { return (folder / name).string(); }

    // The line of `slot` is pulled: nothing more goes out or comes back.
    void Pull(int slot) {
        lines[slot]->acceptLimit = 0;
        pulled = true;
    }

    // What the main window's tick does with the surface link between updates
    // of the line: frames go to the update unless it reads the line itself.
    void ReadSurface(surface::SurfaceUpdate& update) {
        other.Serve();
        if (update.ReadsLineItself()) return;
        int slot = 0;
        std::string body;
        while (link->ReceiveAnySurfaceMessage(slot, body, 255)) update.SurfaceMessage(slot, body);
    }

    // A panel's ROM boot loader on its line: a packet is acknowledged, a
    // status request answered.
    void BootLoader(Fault fault) {
        std::string w = lines[kPanelSlot]->takeWritten();
        if (pulled) return;
        size_t i = 0;
        while (i < w.size()) {
            const uint8_t size = uint8_t(w[i]);
            if (size == mcu::COMMAND_ACK || size == 0) { ++i; continue; }
            if (size < 3 || i + size > w.size()) break;
            const uint8_t cmd = uint8_t(w[i + 2]);
            const std::string data = w.substr(i + 3, size - 3);
            i += size;
            if (fault == Fault::SilentFromStart) continue;
            if (cmd == mcu::COMMAND_SEND_DATA) {
                ++dataPackets;
                if (dataPackets == 2 && fault == Fault::SilentMidTransfer) silent = true;
                if (dataPackets == 2 && fault == Fault::LinkDropped) return Pull(kPanelSlot);
                if (dataPackets == 2 && fault == Fault::Corrupted && !nakked) {
                    nakked = true;
                    lines[kPanelSlot]->feed(std::string(1, char(mcu::COMMAND_NAK)));
                    continue;
                }
                if (!silent) taken += data;
            }
            if (silent) continue;
            std::string reply(1, char(mcu::COMMAND_ACK));
            if (cmd == mcu::COMMAND_GET_STATUS) {
                const bool last = taken.size() >= image.size();
                const uint8_t status =
                    last && fault == Fault::ErrorAtLastStep ? mcu::COMMAND_RET_FLASH_FAIL : mcu::COMMAND_RET_SUCCESS;
                if (last) confirmed = status == mcu::COMMAND_RET_SUCCESS &&
                                      taken == std::string(image.begin(), image.end());
                reply += std::string{char(3), char(status), char(status)};
            }
            lines[kPanelSlot]->feed(reply);
        }
    }

    // The local I/O unit's running firmware: the file-update messages of
    // type 0x0B in surface frames.
    void LocalIO(Fault fault) {
        std::string w = lines[kLocalIOSlot]->takeWritten();
        if (pulled) return;
        while (!w.empty()) {
            if (w[0] == 0 || w[0] == 0x55) { w.erase(0, 1); continue; }
            const size_t len = uint8_t(w[0]);
            if (w.size() < len + 1) break;
            const std::string body = w.substr(1, len - 1);
            w.erase(0, len + 1);
            if (body.size() < 2 || uint8_t(body[0]) != mcu::kLocalIOFPGAUpdateHeader) continue;
            if (fault == Fault::SilentFromStart || silent) continue;
            const uint8_t kind = uint8_t(body[1]);
            std::string reply{char(mcu::kLocalIOFPGAUpdateHeader), char(kind), 0};
            if (kind == mcu::kFileUpdateData) {
                const int n = uint8_t(body[2]) << 8 | uint8_t(body[3]);
                if (n == 2 && fault == Fault::SilentMidTransfer) { silent = true; continue; }
                if (n == 2 && fault == Fault::LinkDropped) return Pull(kLocalIOSlot);
                if (n == 2 && fault == Fault::Corrupted) reply[2] = 2;  // the packet's checksum was wrong
                else if (size_t(n) * mcu::kFileUpdatePacketSize == taken.size()) taken += body.substr(4);
                reply += body.substr(2, 2);
            } else if (kind == mcu::kFileUpdateFinish) {
                confirmed = fault != Fault::ErrorAtLastStep && taken == std::string(image.begin(), image.end());
                if (!confirmed) reply[2] = 4;
            }
            lines[kLocalIOSlot]->feed(PanelModel::Frame(reply));
        }
    }

    platform::VirtualEventLoop loop;
    surface::testing::FakePorts ports;
    std::shared_ptr<surface::testing::FakeLine> lines[4];
    std::unique_ptr<surface::SurfaceLink> link;
    PanelModel other, panel;
    std::filesystem::path folder;
    std::vector<uint8_t> image = std::vector<uint8_t>(kImageBytes);
    std::string hex, taken;
    MatrixControl matrix;
    int dataPackets = 0;
    bool pulled = false, silent = false, nakked = false, confirmed = false;
};

TEST_P(SurfacePaths, PanelHex) {
    const Fault fault = GetParam();
    const int lastLine = 10;
    panel.hexResult = [&](int line, int attempt) {
        if (fault == Fault::SilentFromStart || (fault == Fault::SilentMidTransfer && line >= 3)) return -1;
        if (fault == Fault::Corrupted && line == 3 && attempt == 0) return 7;
        if (fault == Fault::ErrorAtLastStep && line == lastLine) return 7;
        if (line == lastLine) confirmed = true;
        return 0;
    };
    surface::HexFileUpdate update(matrix, *link, Path("panel.hex"), kPanelSlot);
    const Ending e = RunUpdate(loop, matrix, update, [&] {
        if (fault == Fault::LinkDropped && panel.lineNumber >= 3) Pull(kPanelSlot);
        if (panel.line->open && !pulled) panel.Serve();
        ReadSurface(update);
    }, 6 * 31000);
    // An unanswered line waits for the watchdog, five times over.
    ExpectCell("panel hex", fault, e, confirmed, 6 * 31000);
}

TEST_P(SurfacePaths, PanelBootLoader) {
    const Fault fault = GetParam();
    mcu::SurfaceTivaUpdate update(matrix, *link, loop, "KR60 Right", Path("panel.bin"), kPanelSlot);
    const Ending e = RunUpdate(loop, matrix, update, [&] {
        BootLoader(fault);
        ReadSurface(update);
    }, 60000);
    ExpectCell("panel boot loader", fault, e, confirmed, 32000);
    EXPECT_FALSE(link->PollHalt) << "the poll resumes whatever the ending";
}

TEST_P(SurfacePaths, LocalIOFPGA) {
    const Fault fault = GetParam();
    mcu::LocalIOFPGAUpdate update(matrix, *link, Path("fpga.bit"));
    matrix.row = 13;
    const int pollsBefore = other.polls;
    const Ending e = RunUpdate(loop, matrix, update, [&] {
        LocalIO(fault);
        ReadSurface(update);
    }, 60000);
    ExpectCell("local I/O FPGA", fault, e, confirmed, 31000 + 8100);
    EXPECT_GE(other.polls - pollsBefore, e.ms / 1000 - 1) << "the other panel was polled every second";
}

INSTANTIATE_TEST_SUITE_P(Faults, SurfacePaths, ::testing::ValuesIn(AllFaults()), FaultParamName);

} // namespace
} // namespace ravelin::faults
