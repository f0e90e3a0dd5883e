// The virtual host board and its boot loader from the outside: raw bytes on
// its pseudo-terminal, raw control transfers into its boot loader.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include "virtual_console.h"
#include <poll.h>
#include <thread>
#include <unistd.h>

#include "dfu_device.h"
#include "host_board.h"
#include "update_files.h"

using namespace ravelin::sim;
using namespace std::chrono_literals;
using Bytes = std::vector<uint8_t>;

namespace {

struct BoardLine : ::testing::Test {
    HostBoard board{HostBoardConfig{}};
    int fd = -1;
    void SetUp() override {
        board.start();
        fd = ::open(board.devicePath().c_str(), O_RDWR | O_NOCTTY);
        ASSERT_GE(fd, 0);
    }
    void TearDown() override { ::close(fd); }
    void write(const Bytes& b) { ASSERT_EQ(::write(fd, b.data(), b.size()), ssize_t(b.size())); }
    Bytes read(size_t n, int ms = 1000) {
        Bytes got;
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        while (got.size() < n && std::chrono::steady_clock::now() < end) {
            pollfd p{fd, POLLIN, 0};
            if (::poll(&p, 1, 20) <= 0) continue;
            uint8_t buf[256];
            ssize_t r = ::read(fd, buf, std::min(sizeof buf, n - got.size()));
            if (r > 0) got.insert(got.end(), buf, buf + r);
        }
        return got;
    }
};

TEST_F(BoardLine, AnswersPollsStatusAndBadFrames) {
    write({0x02, 0x00, 0x02});
    EXPECT_EQ(read(3), (Bytes{0x02, 0x00, 0x02}));
    write({0x02, 0x3C, 0x3E});
    const Bytes status = read(15);
    ASSERT_EQ(status.size(), 15u);
    EXPECT_EQ(Bytes(status.begin(), status.begin() + 4), (Bytes{0x0E, 0x3C, 1, 13}));
    EXPECT_EQ(std::string(status.begin() + 4, status.begin() + 14), "2021/09/01");
    // Then one sample-rate report per port; the last one is USB audio at 44.1 kHz.
    const Bytes rates = read(4 * 8);
    ASSERT_EQ(rates.size(), 32u);
    EXPECT_EQ(Bytes(rates.end() - 8, rates.end()), (Bytes{0x07, 0x3D, 3, 0x44, 0xAC, 0, 0, 0x37}));
    write({0x03, 0x41, 0x07, 0x40});
    EXPECT_EQ(read(4), (Bytes{0x03, 0x02, 0x02, 0x07}));
    write({0x01});
    EXPECT_EQ(read(4), (Bytes{0x03, 0x02, 0x01, 0x06}));
}

TEST_F(BoardLine, BootOpensTheBootLoaderAndASilentLine) {
    write({0x02, 0x04, 0x06});
    ASSERT_TRUE(board.waitFor([](const HostBoardRecord& r) { return r.boots == 1; }, 1s));
    for (int i = 0; i < 100 && ::access(board.dfuSocketPath().c_str(), F_OK) != 0; ++i) std::this_thread::sleep_for(10ms);
    EXPECT_EQ(::access(board.dfuSocketPath().c_str(), F_OK), 0);
    EXPECT_TRUE(board.inBootLoader());
    write({0x02, 0x00, 0x02});
    EXPECT_TRUE(read(3, 200).empty()) << "the application is not running";
}

// One frame: the length of what follows, the header, the data, the sum.
Bytes hostFrame(uint8_t header, const Bytes& data)
{
    Bytes f{uint8_t(data.size() + 2), header};
    f.insert(f.end(), data.begin(), data.end());
    uint8_t sum = 0;
    for (uint8_t b : f) sum = uint8_t(sum + b);
    f.push_back(sum);
    return f;
}

// The FPGA image travels under type 39 and runs after Restart (the status then
// carries its date); the USB-audio image under type 40 refuses a packet when
// told to.
struct BoardFileUpdate : BoardLine {
    // Sends start, the packets and the finish of `image` under `type`; the
    // answers come back in order, one frame each.
    Bytes transfer(uint8_t type, const Bytes& image, int stopAfterError = 1)
    {
        const int count = int((image.size() + 127) / 128);
        Bytes answers;
        auto exchange = [&](const Bytes& data, size_t frames) {
            write(hostFrame(type, data));
            for (size_t i = 0; i < frames; ++i) {
                Bytes head = read(1);
                if (head.empty()) return false;
                Bytes rest = read(head[0]);
                answers.insert(answers.end(), rest.begin(), rest.end() - 1);
                if (rest.size() >= 3 && rest[2] != 0 && --stopAfterError == 0) return false;
            }
            return true;
        };
        // Start: three erase reports, then the start acknowledged.
        if (!exchange({0, uint8_t(count >> 8), uint8_t(count)}, 4)) return answers;
        unsigned sum = 0;
        for (int n = 0; n < count; ++n) {
            Bytes d{1, uint8_t(n >> 8), uint8_t(n)};
            for (size_t i = size_t(n) * 128; i < std::min(image.size(), size_t(n + 1) * 128); ++i) {
                d.push_back(image[i]);
                sum += image[i];
            }
            if (!exchange(d, 1)) return answers;
        }
        exchange({2, uint8_t(sum >> 8), uint8_t(sum)}, 1);
        return answers;
    }
};

TEST_F(BoardFileUpdate, FpgaImageIsKeptAndRunsAfterRestart)
{
    const Bytes image = bitFileImage("corvane_interface", Date{2022, 3, 8}, 700, 5);
    const Bytes answers = transfer(39, image);
    // The last answer: update finished, no error.
    ASSERT_GE(answers.size(), 3u);
    EXPECT_EQ(Bytes(answers.end() - 3, answers.end()), (Bytes{39, 2, 0}));
    auto r = board.record();
    EXPECT_EQ(r.fpgaUpdate.completed, 1);
    EXPECT_EQ(r.fpgaUpdate.file, image);
    EXPECT_EQ(r.fpgaDate, (Date{2021, 9, 1})) << "the new FPGA runs only after a restart";

    write(hostFrame(1, {}));
    ASSERT_TRUE(board.waitFor([](const HostBoardRecord& r) { return r.restarts == 1; }, 1s));
    EXPECT_EQ(board.record().fpgaDate, (Date{2022, 3, 8}));
}

TEST(HostBoardFileUpdate, ADeviceErrorOnAPacketIsReported)
{
    HostBoardConfig c;
    c.usbAudioUpdate.errorPacket = 2;
    c.usbAudioUpdate.errorCode = 4;
    c.restartMs = 0;
    HostBoard board(c);
    board.start();
    int fd = ::open(board.devicePath().c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(fd, 0);
    // Start and packets 0 to 2 of a 400-byte image; packet 2 is refused with error 4.
    auto send = [&](const Bytes& d) {
        const Bytes f = hostFrame(40, d);
        ASSERT_EQ(::write(fd, f.data(), f.size()), ssize_t(f.size()));
    };
    send({0, 0, 4});
    for (int n = 0; n < 3; ++n) {
        Bytes d{1, 0, uint8_t(n)};
        d.resize(3 + 128, uint8_t(n));
        send(d);
    }
    Bytes got;
    const auto end = std::chrono::steady_clock::now() + 1s;
    while (std::chrono::steady_clock::now() < end && got.size() < 47) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 20) <= 0) continue;
        uint8_t buf[256];
        ssize_t r = ::read(fd, buf, sizeof buf);
        if (r > 0) got.insert(got.end(), buf, buf + r);
    }
    ::close(fd);
    // Three erase reports, the start, two acknowledged packets and the refusal
    // of packet 2: 7 + 7 + 7 + 5 + 7 + 7 + 7 bytes.
    ASSERT_GE(got.size(), 7u);
    EXPECT_EQ(Bytes(got.end() - 7, got.end() - 1), (Bytes{6, 40, 1, 4, 0, 2}));
    EXPECT_EQ(board.record().usbAudioUpdate.packets, 2);
    EXPECT_EQ(board.record().usbAudioUpdate.completed, 0);
}

// The boot loader's quirks that the program's download must live with.
TEST(DfuDeviceQuirks, StallsNotDoneAndUploads) {
    DfuDevice d;
    const Bytes none;
    auto out = [&](uint8_t request, const Bytes& data) { return d.control(0x21, request, 0, 0, data, uint16_t(data.size())); };
    auto in = [&](uint8_t request, uint16_t length) { return d.control(0xA1, request, 0, 0, none, length); };
    auto status = [&] {
        DfuReply r;
        do r = in(3, 6);
        while (r.data[4] == 3);
        return r.data;
    };
    EXPECT_EQ(out(1, none).outcome, DfuOutcome::Stall) << "an empty download in dfuIDLE";
    EXPECT_EQ(out(0, none).outcome, DfuOutcome::Stall) << "detach";
    EXPECT_EQ(out(4, none).outcome, DfuOutcome::Stall) << "clear status outside dfuERROR";
    EXPECT_EQ(d.state(), 2);

    // Eight bytes announced, four sent, then the end: not done.
    EXPECT_EQ(out(1, {0x01, 0, 0x0A, 0, 8, 0, 0, 0, 1, 2, 3, 4}).outcome, DfuOutcome::Done);
    EXPECT_EQ(status()[4], 5);
    out(1, none);
    EXPECT_EQ(status(), (Bytes{9, 0, 0, 0, 10, 0}));
    out(4, none);

    // A read without the binary flag starts with the program header.
    out(1, {0x02, 0, 0x0A, 0, 4, 0, 0, 0});
    status();
    auto r = in(2, 1024);
    EXPECT_EQ(r.data, (Bytes{0x01, 0, 0x0A, 0, 4, 0, 0, 0, 1, 2, 3, 4}));
    // One upload too many reads the whole application area afresh.
    r = in(2, 1024);
    EXPECT_EQ(r.data.size(), 1024u);
    EXPECT_EQ(Bytes(r.data.begin(), r.data.begin() + 4), (Bytes{0x01, 0, 0x0A, 0}));

    // A read outside the application area.
    out(6, none);
    out(1, {0x02, 0, 0x00, 0, 4, 0, 0, 0});
    EXPECT_EQ(in(3, 6).data, (Bytes{8, 0, 0, 0, 10, 0}));
}

TEST(DfuDeviceQuirks, AnInTransferNeverCarriesMoreThanAskedFor) {
    struct Case {
        const char* what;
        uint8_t request;
        uint16_t length;
    };
    const Case cases[] = {{"status", 3, 2}, {"state", 5, 0}, {"upload with its header", 2, 3}, {"upload", 2, 0}};
    for (const auto& c : cases) {
        DfuDevice d;
        EXPECT_LE(d.control(0xA1, c.request, 0, 0, {}, c.length).data.size(), c.length) << c.what;
    }
}

} // namespace

namespace {

std::string slurp(const std::filesystem::path& p)
{
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// A console with a host board names its port in the settings file and its
// line and boot loader socket in Serial.ini; its firmware file is a DFU file.
TEST(HostBoardFolder, SettingsSerialIniAndTheDfuFile) {
    char tmpl[] = "/tmp/ravelin-sim-host-XXXXXX";
    const std::filesystem::path dir = ::mkdtemp(tmpl);
    ConsoleConfig config;
    config.panels.clear();
    config.hostBoard = HostBoardConfig{};
    config.hostBoard->comPort = 7;
    {
        VirtualConsole console(config);
        ASSERT_TRUE(console.writeFolder(dir));
        console.start();
        EXPECT_NE(slurp(dir / "KR60.INI").find("EngineComPort=7\r\n"), std::string::npos);
        const std::string serial = slurp(dir / "Serial.ini");
        EXPECT_NE(serial.find("COM7=" + console.hostBoard()->devicePath() + "\r\n"), std::string::npos);
        EXPECT_NE(serial.find("DFU=" + console.hostBoard()->dfuSocketPath() + "\r\n"), std::string::npos);
        const std::string dfu = slurp(dir / "CorvaneTiva.dfu");
        ASSERT_GT(dfu.size(), 24u);
        EXPECT_EQ(dfu.substr(0, 4), std::string("\x01\x00\x0A\x00", 4));
        EXPECT_EQ(dfu.substr(dfu.size() - 8, 4), "UFD\x10");
        EXPECT_NE(dfu.find(std::string("version \x0E", 9)), std::string::npos);
        console.stop();
    }
    std::filesystem::remove_all(dir);
}

} // namespace
