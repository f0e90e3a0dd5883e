// The host board's FPGA and USB-audio images over its serial line, and its
// microcontroller through the USB DFU library, against a board that can be
// told to fail. The board's serial firmware answers the file-update exchange;
// the DFU library's notifications are played in the order a download sends
// them. A dropped USB link is the library's error notice; a dropped serial
// line takes no more bytes and answers nothing.

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "faults/matrix.h"
#include "host/corvane_host.h"
#include "host/fake_dfu_library.h"
#include "host/host_dfu_update.h"
#include "host/host_file_update.h"
#include "host/host_messages.h"
#include "mcu/tiva_file_updater.h"
#include "surface/fake_com.h"
#include "surface/frame.h"

namespace ravelin::faults {
namespace {

constexpr int kImageBytes = 700;

class HostPaths : public ::testing::TestWithParam<Fault> {
protected:
    void SetUp() override {
        folder = std::filesystem::temp_directory_path() / ("faults_host_" + std::to_string(::getpid()));
        std::filesystem::create_directories(folder);
        for (size_t i = 0; i < image.size(); ++i) image[i] = uint8_t(i * 7 + 3);
        for (auto name : {"Corvane_Interface_FPGA.bit", "xmos.bin", "CorvaneTiva.dfu"})
            std::ofstream(folder / name, std::ios::binary)
                .write(reinterpret_cast<const char*>(image.data()), std::streamsize(image.size()));
        Open();
    }
    void TearDown() override {
        host.reset();
        std::filesystem::remove_all(folder);
    }
    void Open() {
        host = std::make_unique<host::tCorvaneHost>(6, false, "Corvane", host::HostServices{ports.opener(), {}, {}});
    }
    void Reply(uint8_t header, std::initializer_list<uint8_t> data) {
        std::string body(1, char(header));
        for (uint8_t b : data) body.push_back(char(b));
        line->feed(surface::EncodeFrame(body));
    }

    // The board's firmware: the file-update exchange of either image.
    void Board(Fault fault) {
        std::string w = line->takeWritten();
        if (pulled) return;
        while (w.size() >= 2 && w.size() > size_t(uint8_t(w[0]))) {
            const size_t L = uint8_t(w[0]);
            std::string body;
            if (!surface::DecodeFrame(w.substr(0, L + 1), body)) break;
            w.erase(0, L + 1);
            const uint8_t h = uint8_t(body[0]);
            if (h != host::kHostUpdateHostFPGA && h != host::kHostUpdateUSBAudio) continue;
            if (fault == Fault::SilentFromStart || silent) continue;
            const uint8_t kind = uint8_t(body[1]);
            const int n = uint8_t(body[2]) << 8 | uint8_t(body[3]);
            if (kind == mcu::kFileUpdateStart) {
                Reply(h, {0, 0});
            } else if (kind == mcu::kFileUpdateData) {
                if (n == 2 && fault == Fault::SilentMidTransfer) { silent = true; continue; }
                if (n == 2 && fault == Fault::LinkDropped) {
                    line->acceptLimit = 0;
                    pulled = true;
                    return;
                }
                if (n == 2 && fault == Fault::Corrupted) {
                    Reply(h, {1, 2, uint8_t(n >> 8), uint8_t(n)});  // the packet's checksum was wrong
                    continue;
                }
                if (size_t(n) * mcu::kFileUpdatePacketSize == received.size())
                    received.insert(received.end(), body.begin() + 4, body.end());
                Reply(h, {1, 0, uint8_t(n >> 8), uint8_t(n)});
            } else if (kind == mcu::kFileUpdateFinish) {
                confirmed = fault != Fault::ErrorAtLastStep && received == image;
                Reply(h, {2, uint8_t(confirmed ? 0 : 4)});
            }
        }
    }

    // The DFU library's notifications of one download, a step a tick.
    void DfuDevice(Fault fault) {
        using namespace platform;
        if (!library.notify || step < 0) return;
        const std::vector<std::pair<int, uint32_t>> script{
            {kDfuMsgDownload, 1000}, {kDfuMsgProgress, 500}, {kDfuMsgProgress, 1000},
            {kDfuMsgVerify, 1000},   {kDfuMsgProgress, 500}, {kDfuMsgProgress, 1000}, {kDfuMsgComplete, 0}};
        if (step == 2 && fault == Fault::SilentMidTransfer) return;
        if ((step == 2 && fault == Fault::LinkDropped) || (step == 4 && fault == Fault::Corrupted) ||
            (step == 6 && fault == Fault::ErrorAtLastStep)) {
            step = -1;
            library.notify(kDfuMsgError, 0);
            return;
        }
        if (step == 6) confirmed = library.image == image;
        library.notify(script[size_t(step)].first, script[size_t(step)].second);
        step = step == 6 ? -1 : step + 1;
    }

    void FileUpdate(host::HostImage which, const char* path) {
        const Fault fault = GetParam();
        int reopens = 0;
        host::HostFileLinks links{[this] { return host.get(); }, [this] { host.reset(); },
                                  [this, &reopens] {
                                      ++reopens;
                                      Open();
                                  }};
        host::HostFileUpdate update(matrix, loop, std::move(links), which, folder.string());
        const Ending e = RunUpdate(loop, matrix, update, [&] {
            Board(fault);
            host::ServiceCorvaneHost(host.get());
        }, 60000);
        ExpectCell(path, fault, e, confirmed, 31000);
        if (which == host::HostImage::FPGA && e.finishes + e.cancels == 1 && e.ms < 30000) {
            EXPECT_EQ(reopens, 1) << "the board restarted and its links were opened again";
        }
        ASSERT_TRUE(host);
        EXPECT_TRUE(host->PortOpen());
    }

    platform::VirtualEventLoop loop;
    surface::testing::FakePorts ports;
    std::shared_ptr<surface::testing::FakeLine> line = ports.add(6);
    std::unique_ptr<host::tCorvaneHost> host;
    host::testing::FakeDfuLibrary library;
    std::filesystem::path folder;
    std::vector<uint8_t> image = std::vector<uint8_t>(kImageBytes);
    std::vector<uint8_t> received;
    MatrixControl matrix;
    int step = 0;
    bool pulled = false, silent = false, confirmed = false;
};

TEST_P(HostPaths, HostFPGA) { FileUpdate(host::HostImage::FPGA, "host FPGA"); }

TEST_P(HostPaths, USBAudio) { FileUpdate(host::HostImage::USBAudio, "USB audio"); }

TEST_P(HostPaths, HostDFU) {
    const Fault fault = GetParam();
    // A board that never shows up in its boot loader is silent from the start.
    if (fault != Fault::SilentFromStart) library.devices.push_back({});
    int closes = 0, reopens = 0;
    host::HostDfuUpdate update(matrix, loop, library,
                               host::HostDfuLinks{[] {}, [&] { ++closes; }, [&] { ++reopens; }}, folder.string());
    const Ending e = RunUpdate(loop, matrix, update, [&] { DfuDevice(fault); }, 60000);
    // The board is looked for a second at a time for two seconds before the
    // download begins; the watchdog counts from the last sign of progress.
    ExpectCell("host DFU", fault, e, confirmed, 2000 + 31000);
    EXPECT_EQ(reopens, closes) << "the links closed for the download are open again";
}

INSTANTIATE_TEST_SUITE_P(Faults, HostPaths, ::testing::ValuesIn(AllFaults()), FaultParamName);

} // namespace
} // namespace ravelin::faults
