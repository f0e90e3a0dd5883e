#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "dfu_device.h"
#include "platform/dfu_file.h"
#include "platform/dfu_protocol.h"
#include "surface/fake_clock.h"

using namespace ravelin;
using namespace ravelin::platform;
using namespace ravelin::platform::dfu;

namespace {

// The protocol's control transfers straight into the virtual boot loader.
struct DevicePipe : ControlPipe {
    sim::DfuDevice& device;
    explicit DevicePipe(sim::DfuDevice& d) : device(d) {}
    UsbResult control(uint8_t requestType, uint8_t request, uint16_t value, uint16_t index, uint8_t* data,
                      uint16_t length, unsigned) override {
        std::vector<uint8_t> out;
        if (!(requestType & 0x80)) out.assign(data, data + length);
        sim::DfuReply r = device.control(requestType, request, value, index, out, length);
        switch (r.outcome) {
        case sim::DfuOutcome::Stall: return {UsbOutcome::Stall, 0};
        case sim::DfuOutcome::Timeout:
        case sim::DfuOutcome::Silent: return {UsbOutcome::Timeout, 0};
        case sim::DfuOutcome::Gone: return {UsbOutcome::Gone, 0};
        case sim::DfuOutcome::Done: break;
        }
        if (!(requestType & 0x80)) return {UsbOutcome::Done, length};
        const size_t n = std::min<size_t>(r.data.size(), length);
        std::memcpy(data, r.data.data(), n);
        return {UsbOutcome::Done, int(n)};
    }
};

std::vector<uint8_t> payload(size_t n) {
    std::vector<uint8_t> p(n);
    for (size_t i = 0; i < n; ++i) p[i] = uint8_t(i * 7 + 3);
    return p;
}

struct DfuFixture : ::testing::Test {
    sim::DfuDevice device;
    DevicePipe pipe{device};
    surface::testing::FakeClock clock;
    UsbDfuEntry entry;
    std::unique_ptr<DfuProtocol> dfu;
    DfuDeviceInfo info;
    std::vector<std::pair<int, uint32_t>> reports;

    void open(sim::DfuDeviceConfig config = {}) {
        device = sim::DfuDevice(config);
        std::vector<UsbDfuEntry> list;
        ParseDfuInterfaces(device.deviceDescriptor(), device.configurationDescriptor(), list);
        ASSERT_EQ(list.size(), 1u);
        entry = list[0];
        dfu = std::make_unique<DfuProtocol>(pipe, entry, clock);
        ASSERT_EQ(dfu->Identify(info), DFU_OK);
    }
    int download(const std::vector<uint8_t>& file, bool ignoreIDs = false) {
        return dfu->Download(file, true, ignoreIDs, [&](int m, uint32_t w) { reports.push_back({m, w}); });
    }
    size_t countRequest(uint8_t request, size_t from = 0) const {
        size_t n = 0;
        for (size_t i = from; i < device.transfers().size(); ++i) n += device.transfers()[i].request == request;
        return n;
    }
};

TEST(DfuFile, CrcSuffixAndPrefix) {
    const std::string check = "123456789";
    EXPECT_EQ(Crc32(reinterpret_cast<const uint8_t*>(check.data()), check.size()), 0x340BC6D9u);
    auto file = MakeDfuFile(payload(100), 0x2800, 0x1CBE, 0x00FF);
    ASSERT_EQ(file.size(), 8u + 100 + 16);
    EXPECT_EQ(std::vector<uint8_t>(file.begin(), file.begin() + 8),
              (std::vector<uint8_t>{0x01, 0x00, 0x0A, 0x00, 100, 0, 0, 0}));
    Suffix s;
    ASSERT_TRUE(ReadSuffix(file, s));
    EXPECT_EQ(s.idVendor, 0x1CBE);
    EXPECT_EQ(s.idProduct, 0x00FF);
    Prefix p;
    EXPECT_TRUE(ReadPrefix(file.data(), file.size() - 16, p));
    EXPECT_EQ(p.address, 0x2800u);
    file[20] ^= 0x40;
    EXPECT_FALSE(ReadSuffix(file, s)) << "the CRC covers the payload";
}

TEST_F(DfuFixture, IdentifiesTheBootLoader) {
    open();
    EXPECT_EQ(entry.functional.wTransferSize, 1024);
    EXPECT_EQ(entry.interfaceProtocol, 2);
    EXPECT_TRUE(info.tivaExtensions);
    EXPECT_EQ(info.appStart, 0x2800u);
    EXPECT_EQ(info.flashTop, 0x40000u);
    EXPECT_EQ(info.flashBlockSize, 1024);
    const auto& t = device.transfers();
    ASSERT_GE(t.size(), 4u);
    EXPECT_EQ(t[0].requestType, 0xA1);
    EXPECT_EQ(t[0].request, DFU_GETSTATUS);
    EXPECT_EQ(t[0].length, 6);
    EXPECT_EQ(t[1].request, 0x42);
    EXPECT_EQ(t[1].value, 0x23);
    EXPECT_EQ(t[1].length, 4);
    EXPECT_EQ(t[2].dataOut, (std::vector<uint8_t>{0x05, 0, 0, 0, 0, 0, 0, 0}));
    std::string name;
    EXPECT_EQ(dfu->GetString(info.iProduct, name), DFU_OK);
    EXPECT_EQ(name, "Device Firmware Upgrade");
}

TEST_F(DfuFixture, DownloadsInBlocksAndVerifiesByReadBack) {
    open();
    const auto image = payload(3001);
    ASSERT_EQ(download(MakeDfuFile(image, 0x2800, 0x1CBE, 0x00FF)), DFU_OK);
    // 3001 bytes padded to 3004; the stream is the program command and them.
    auto programmed = image;
    programmed.insert(programmed.end(), 3, 0xFF);
    EXPECT_EQ(device.application(3004), programmed);
    EXPECT_EQ(device.programmedLength(), 3004u);

    std::vector<const sim::DfuTransfer*> dnloads;
    for (const auto& t : device.transfers())
        if (t.request == DFU_DNLOAD && t.requestType == 0x21) dnloads.push_back(&t);
    // INFO, three blocks, the empty block, BIN, READ.
    ASSERT_EQ(dnloads.size(), 7u);
    EXPECT_EQ(std::vector<uint8_t>(dnloads[1]->dataOut.begin(), dnloads[1]->dataOut.begin() + 8),
              (std::vector<uint8_t>{0x01, 0x00, 0x0A, 0x00, 0xBC, 0x0B, 0x00, 0x00}));
    for (int b = 0; b < 3; ++b) EXPECT_EQ(dnloads[size_t(1 + b)]->value, b);
    EXPECT_EQ(dnloads[2]->length, 1024);
    EXPECT_EQ(dnloads[3]->length, 3012 - 2048);
    EXPECT_EQ(dnloads[4]->length, 0);
    EXPECT_EQ(dnloads[4]->value, 3);
    EXPECT_EQ(dnloads[5]->dataOut, (std::vector<uint8_t>{0x06, 0x01, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(dnloads[6]->dataOut, (std::vector<uint8_t>{0x02, 0x00, 0x0A, 0x00, 0xBC, 0x0B, 0x00, 0x00}));
    size_t uploads = 0;
    for (const auto& t : device.transfers())
        if (t.request == DFU_UPLOAD && t.length == 1024) ++uploads;
    EXPECT_EQ(uploads, 3u) << "exactly the uploads the data needs";

    ASSERT_FALSE(reports.empty());
    EXPECT_EQ(reports.front(), (std::pair<int, uint32_t>{kDfuMsgDownload, 3012}));
    EXPECT_NE(std::find(reports.begin(), reports.end(), std::pair<int, uint32_t>{kDfuMsgVerify, 3004}), reports.end());
    EXPECT_EQ(reports.back(), (std::pair<int, uint32_t>{kDfuMsgProgress, 3004}));
    EXPECT_EQ(clock.sleptMs(), 5 * 2 * 6) << "the device's poll time after each of six writes";
    EXPECT_EQ(device.state(), dfuIDLE);
}

TEST_F(DfuFixture, AFileWithoutPrefixGoesToTheApplicationStart) {
    open();
    ASSERT_EQ(download(MakeDfuFile(payload(2048), 0, 0xFFFF, 0xFFFF)), DFU_OK);
    EXPECT_EQ(device.application(2048), payload(2048));
}

TEST_F(DfuFixture, FaultsEndTheDownloadWithTheirResult) {
    const auto good = MakeDfuFile(payload(4096), 0x2800, 0x1CBE, 0x00FF);
    struct Case {
        const char* name;
        std::function<void(sim::DfuDeviceConfig&, int at)> fault;  // at: transfers before the download
        std::vector<uint8_t> file;
        int result;
    } cases[] = {
        {"stall on the second block", [](auto& c, int at) { c.stallAt = at + 4 + 3; }, good, DFU_ERR_STALL},
        {"time-out", [](auto& c, int at) { c.timeoutAt = at + 3; }, good, DFU_ERR_TIMEOUT},
        {"disconnect", [](auto& c, int at) { c.goneAt = at + 10; }, good, DFU_ERR_DISCONNECTED},
        {"device never ready", [](auto& c, int) { c.busyPolls = 5000; }, good, DFU_ERR_TIMEOUT},
        {"flipped flash byte", [](auto& c, int) { c.flipOffset = 1500; }, good, DFU_ERR_VERIFY_FAIL},
        {"bad CRC", [](auto&, int) {}, [&] { auto f = good; f[100] ^= 1; return f; }(), DFU_ERR_INVALID_FORMAT},
        {"other IDs", [](auto&, int) {}, MakeDfuFile(payload(64), 0x2800, 0x1234, 0x00FF), DFU_ERR_UNSUPPORTED},
        {"below the application", [](auto&, int) {}, MakeDfuFile(payload(64), 0x0400, 0x1CBE, 0x00FF),
         DFU_ERR_INVALID_ADDR},
        {"past the flash top", [](auto&, int) {}, MakeDfuFile(payload(0x40000), 0x2800, 0x1CBE, 0x00FF),
         DFU_ERR_INVALID_SIZE},
        // The device wants the image exactly at its application start: it
        // enters dfuERROR with the status still OK.
        {"refused address", [](auto&, int) {}, MakeDfuFile(payload(64), 0x2C00, 0x1CBE, 0x00FF),
         DFU_ERR_DNLOAD_FAIL},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        open();
        c.fault(device.settings(), device.transferCount());
        EXPECT_EQ(download(c.file), c.result);
    }
    EXPECT_EQ(dfu->verifyFailOffset(), 0u);  // the refused address ran last
    open();
    device.settings().flipOffset = 1500;
    ASSERT_EQ(download(good), DFU_ERR_VERIFY_FAIL);
    EXPECT_EQ(dfu->verifyFailOffset(), 1500u);
    open();
    const auto before = device.transferCount();
    EXPECT_EQ(download(MakeDfuFile(payload(64), 0x2C00, 0x1CBE, 0x00FF)), DFU_ERR_DNLOAD_FAIL);
    EXPECT_EQ(countRequest(DFU_CLRSTATUS, size_t(before)), 1u) << "the error state is cleared";
    EXPECT_EQ(device.state(), dfuIDLE);
}

TEST_F(DfuFixture, DevicesWithoutTheExtensionsCannotVerify) {
    sim::DfuDeviceConfig plain;
    plain.extensions = false;
    open(plain);
    EXPECT_FALSE(info.tivaExtensions);
    EXPECT_EQ(download(MakeDfuFile(payload(512), 0, 0x1CBE, 0x00FF)), DFU_ERR_CANT_VERIFY);
    EXPECT_EQ(dfu->Reset(), DFU_OK);
    EXPECT_FALSE(device.wasReset()) << "only the maker's boot loader knows the reset command";
}

TEST_F(DfuFixture, ResetStartsTheApplicationAndTheDeviceGoes) {
    open();
    EXPECT_EQ(dfu->Reset(), DFU_OK);
    EXPECT_TRUE(device.wasReset());
    EXPECT_EQ(device.transfers().back().dataOut, (std::vector<uint8_t>{0x07, 0, 0, 0, 0, 0, 0, 0}));
    DfuStatus s;
    EXPECT_EQ(dfu->GetStatus(s), DFU_ERR_DISCONNECTED);
}

} // namespace
