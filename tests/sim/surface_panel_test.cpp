// Panels on real pseudo-terminals: the program's end is played by the test,
// which opens the slave path and writes bytes by hand.

#include "surface_panel.h"
#include "virtual_console.h"

#include <gtest/gtest.h>

#include "sim/hex_frame.h"

#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <map>
#include <poll.h>
#include <string>
#include <termios.h>
#include <unistd.h>
#include <vector>

namespace ravelin::sim {
namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<uint8_t>;

const Bytes kPoll{0x02, 0x04, 0x06};
const Bytes kAccept{0x03, 0x09, 0x00, 0x0C};

using test_bytes::hexLineFrame;

// The program's end of a panel's line.
class Port {
public:
    explicit Port(const std::string& path)
    {
        fd_ = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (fd_ >= 0) {
            termios t{};
            ::tcgetattr(fd_, &t);
            ::cfmakeraw(&t);
            ::tcsetattr(fd_, TCSANOW, &t);
        }
    }
    ~Port()
    {
        if (fd_ >= 0) ::close(fd_);
    }
    bool isOpen() const { return fd_ >= 0; }
    void write(const Bytes& b) { ASSERT_EQ(::write(fd_, b.data(), b.size()), ssize_t(b.size())); }
    // Reads until count bytes have come or the time is up.
    Bytes read(std::size_t count, std::chrono::milliseconds limit = 1000ms)
    {
        Bytes out;
        const auto end = std::chrono::steady_clock::now() + limit;
        while (out.size() < count) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                end - std::chrono::steady_clock::now());
            if (left.count() <= 0) break;
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, int(left.count())) <= 0) break;
            uint8_t buf[256];
            ssize_t n = ::read(fd_, buf, std::min(sizeof buf, count - out.size()));
            if (n > 0) out.insert(out.end(), buf, buf + n);
        }
        return out;
    }

private:
    int fd_ = -1;
};

PanelConfig gpioPanel()
{
    PanelConfig c;
    c.slot = 4;
    c.type = 134;
    c.version1 = 11;
    return c;
}

class PanelOnPty : public testing::Test {
protected:
    void startPanel(PanelConfig c)
    {
        panel_ = std::make_unique<SurfacePanel>(c);
        panel_->start();
        port_ = std::make_unique<Port>(panel_->devicePath());
        ASSERT_TRUE(port_->isOpen()) << panel_->devicePath();
    }
    std::unique_ptr<SurfacePanel> panel_;
    std::unique_ptr<Port> port_;
};

TEST_F(PanelOnPty, PollIsAnsweredWithIdentity)
{
    startPanel(gpioPanel());
    port_->write(kPoll);
    // 0x06 0x04, unused 0x00, type 134, version 11, 0, checksum
    EXPECT_EQ(port_->read(7), (Bytes{0x06, 0x04, 0x00, 0x86, 0x0B, 0x00, 0x9B}));
    EXPECT_EQ(panel_->pollCount(), 1);
}

TEST_F(PanelOnPty, HexLineIsAcknowledgedAndRecorded)
{
    startPanel(gpioPanel());
    port_->write(hexLineFrame(":020000040000FA"));
    EXPECT_EQ(port_->read(4), kAccept);
    EXPECT_EQ(panel_->hexLines(), std::vector<std::string>{":020000040000FA"});
}

TEST_F(PanelOnPty, RejectedLineIsTakenAfterItsRejections)
{
    PanelConfig c = gpioPanel();
    c.hex = {false, 1, 2, 7};
    startPanel(c);
    const Bytes line = hexLineFrame(":00000001FF");
    const Bytes reject7{0x03, 0x09, 0x07, 0x13};
    for (const Bytes& expect : {reject7, reject7, kAccept}) {
        port_->write(line);
        EXPECT_EQ(port_->read(4), expect);
    }
    const PanelRecord r = panel_->record();
    EXPECT_EQ(r.receivedHexLines.size(), 3u);
    EXPECT_EQ(r.hexLines, std::vector<std::string>{":00000001FF"});
}

TEST_F(PanelOnPty, SilentPanelRecordsButNeverAnswersHexLines)
{
    PanelConfig c = gpioPanel();
    c.hex.silent = true;
    startPanel(c);
    port_->write(hexLineFrame(":020000040000FA"));
    EXPECT_TRUE(panel_->waitFor([](const PanelRecord& r) { return r.receivedHexLines.size() == 1; }, 1000ms));
    EXPECT_TRUE(port_->read(1, 150ms).empty());
    // Polls are still answered.
    port_->write(kPoll);
    EXPECT_EQ(port_->read(7).size(), 7u);
}

TEST_F(PanelOnPty, AnswersAgainAfterThePortIsReopened)
{
    // The program closes and reopens its ports around a code update.
    startPanel(gpioPanel());
    const std::string path = panel_->devicePath();
    port_.reset();
    port_ = std::make_unique<Port>(path);
    ASSERT_TRUE(port_->isOpen());
    port_->write(kPoll);
    EXPECT_EQ(port_->read(7).size(), 7u);
}

TEST_F(PanelOnPty, StopRemovesTheDevice)
{
    startPanel(gpioPanel());
    const std::string path = panel_->devicePath();
    port_.reset();
    panel_->stop();
    EXPECT_TRUE(panel_->devicePath().empty());
    EXPECT_FALSE(std::filesystem::exists(path));
}

// ---- the whole console ----

std::map<std::string, std::string> iniSection(const std::filesystem::path& file, const std::string& section)
{
    std::ifstream in(file);
    std::map<std::string, std::string> keys;
    std::string line, current;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!line.empty() && line[0] == '[') {
            current = line;
            continue;
        }
        auto eq = line.find('=');
        if (current == "[" + section + "]" && eq != std::string::npos)
            keys[line.substr(0, eq)] = line.substr(eq + 1);
    }
    return keys;
}

struct TempDir {
    TempDir()
    {
        char tmpl[] = "/tmp/ravelin-sim-test-XXXXXX";
        path = ::mkdtemp(tmpl);
    }
    ~TempDir() { std::filesystem::remove_all(path); }
    std::filesystem::path path;
};

TEST(VirtualConsoleServing, EveryPanelAnswersOnTheDeviceSerialIniNames)
{
    TempDir dir;
    VirtualConsole console;
    ASSERT_TRUE(console.writeFolder(dir.path)) << console.lastError();
    console.start(); // rewrites Serial.ini with the device paths
    const auto ports = iniSection(dir.path / "Serial.ini", "SerialPorts");
    const auto paths = iniSection(dir.path / "Serial.ini", "DevicePaths");

    const std::map<int, uint8_t> typeOfSlot{{1, 64}, {2, 65}, {3, 150}, {4, 134}};
    for (const auto& [slot, type] : typeOfSlot) {
        SCOPED_TRACE(slot);
        const std::string com = ports.at("ComPort" + std::to_string(slot));
        EXPECT_EQ(com, std::to_string(10 + slot));
        const std::string path = paths.at("COM" + com);
        EXPECT_EQ(path, console.devicePath(slot));
        Port port(path);
        ASSERT_TRUE(port.isOpen());
        port.write(kPoll);
        const Bytes id = port.read(7);
        ASSERT_EQ(id.size(), 7u);
        EXPECT_EQ(id[3], type);
    }

    // The local I/O unit reports its FPGA date to "W".
    Port localIO(console.devicePath(3));
    localIO.write(Bytes{0x02, 0x57, 0x59});
    const Bytes date = localIO.read(11);
    ASSERT_EQ(date.size(), 11u);
    EXPECT_EQ(std::string(date.begin() + 2, date.begin() + 10), "14052019");

    console.stop();
    EXPECT_TRUE(console.devicePath(1).empty());
}

TEST(VirtualConsoleServing, SimLogNamesTheLinesAPanelReceived)
{
    TempDir dir;
    VirtualConsole console;
    ASSERT_TRUE(console.writeFolder(dir.path));
    console.start();
    Port gpio(console.devicePath(4));
    gpio.write(hexLineFrame(":020000040000FA"));
    EXPECT_EQ(gpio.read(4), kAccept);
    console.stop();
    std::ifstream in(dir.path / "Sim.log");
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_NE(text.find("COM14 slot 4: hex line 1: :020000040000FA\r\n"), std::string::npos) << text;
}

} // namespace
} // namespace ravelin::sim
