// The surface protocol's bytes as they stand on a real line: the program's
// serial port service on one end of a pseudo-terminal, the test as the panel
// on the other.
#include <gtest/gtest.h>

#include <chrono>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include "platform/clock.h"
#include "platform/ini.h"
#include "surface/com_ports.h"
#include "surface/isa_serial.h"

namespace ravelin::surface {
namespace {

using Bytes = std::string;

class SurfaceWire : public ::testing::Test {
protected:
    void SetUp() override {
        char name[256];
        ASSERT_EQ(::openpty(&master, &slave, name, nullptr, nullptr), 0);
        path = name;
        termios t{};
        ::tcgetattr(master, &t);
        ::cfmakeraw(&t);
        ::tcsetattr(master, TCSANOW, &t);
        ComPortServices services;
        services.devicePath = [this](int) { return path; };
        services.displayMessage = [this](const std::string& s) { messages.push_back(s); };
        SetComPortServices(services);

        ini = std::filesystem::temp_directory_path() / ("ravelin-wire-" + std::to_string(::getpid()) + ".ini");
        std::ofstream(ini) << "[SerialPorts]\nComPort4=9\n";
        SurfaceLinkServices s;
        s.openPort = OpenComPort;
        s.clock = &platform::systemClock();
        s.displayMessage = [this](const std::string& m) { messages.push_back(m); };
        link = std::make_unique<SurfaceLink>(s);
        link->LoadConfig(platform::IniFile(ini.string()));
        link->SetPanelType(4, 64);  // a work-surface panel: it gets the 0x44 messages too
        link->Start_ISAS(true);
        ASSERT_TRUE(link->PortsOpen);
        ASSERT_EQ(ReadLine(3), Bytes("\x02\x0A\x0C", 3));  // polling starts
    }
    void TearDown() override {
        link.reset();
        SetComPortServices({});
        ::close(master);
        ::close(slave);
        std::filesystem::remove(ini);
    }

    void Write(const Bytes& b) { ASSERT_EQ(::write(master, b.data(), b.size()), static_cast<ssize_t>(b.size())); }

    // Reads exactly n bytes from the panel's end, or what came within a second.
    Bytes ReadLine(size_t n) {
        Bytes got;
        auto until = std::chrono::steady_clock::now() + std::chrono::seconds(1);
        while (got.size() < n && std::chrono::steady_clock::now() < until) {
            pollfd p{master, POLLIN, 0};
            if (::poll(&p, 1, 20) <= 0) continue;
            char buf[256];
            ssize_t r = ::read(master, buf, std::min(sizeof buf, n - got.size()));
            if (r > 0) got.append(buf, static_cast<size_t>(r));
        }
        return got;
    }

    // The next message of slot 4, waiting up to a second for its bytes.
    Bytes Receive() {
        auto until = std::chrono::steady_clock::now() + std::chrono::seconds(1);
        while (std::chrono::steady_clock::now() < until) {
            int slot;
            Bytes body;
            if (link->ReceiveAnySurfaceMessage(slot, body, 255)) return body;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return {};
    }

    int master = -1, slave = -1;
    std::string path;
    std::filesystem::path ini;
    std::vector<std::string> messages;
    std::unique_ptr<SurfaceLink> link;
};

TEST_F(SurfaceWire, PollGoesOutFramedWithTheWorkSurfaceFollowUp) {
    link->PollTick();
    EXPECT_EQ(ReadLine(7), Bytes("\x02\x04\x06\x03\x44\x3D\x84", 7));
}

TEST_F(SurfaceWire, AHexLineReplyIsDeliveredOnceEvenWhenItArrivesInPiecesAfterFiller) {
    Write(Bytes("\x00\x00\x03\x09", 4));
    // The bytes must be in the port's queue before the link is asked, or
    // the test would prove nothing about a frame that is still incomplete.
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(1);
    while (link->GetSurfaceComPort(4)->receivingCount() < 4 && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    ASSERT_EQ(link->GetSurfaceComPort(4)->receivingCount(), 4);
    int slot;
    Bytes body;
    EXPECT_FALSE(link->ReceiveAnySurfaceMessage(slot, body, 255));
    Write(Bytes("\x00\x0C", 2));
    EXPECT_EQ(Receive(), Bytes("\x09\x00", 2));
    EXPECT_FALSE(link->ReceiveAnySurfaceMessage(slot, body, 255));
}

struct BadFrame {
    const char* name;
    Bytes in;
    Bytes reply;
};

class SurfaceWireNak : public SurfaceWire, public ::testing::WithParamInterface<BadFrame> {};

TEST_P(SurfaceWireNak, ABadFrameDrawsANakAndTheWorkSurfaceRepeat) {
    Write(GetParam().in);
    // No message comes of it; the answer on the line shows it was read.
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(1);
    pollfd p{master, POLLIN, 0};
    while (::poll(&p, 1, 0) == 0 && std::chrono::steady_clock::now() < until) {
        int slot;
        Bytes body;
        EXPECT_FALSE(link->ReceiveAnySurfaceMessage(slot, body, 255));
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    EXPECT_EQ(ReadLine(GetParam().reply.size()), GetParam().reply);
}

INSTANTIATE_TEST_SUITE_P(
    Frames, SurfaceWireNak,
    ::testing::Values(BadFrame{"Checksum", Bytes("\x03\x09\x00\x0D", 4), Bytes("\x03\x01\x00\x04\x03\x44\x39\x80", 8)},
                      BadFrame{"LongLength", Bytes("\x90", 1), Bytes("\x03\x01\x01\x05\x03\x44\x39\x80", 8)}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(SurfaceWire, IdentitiesSetTypeAndVersionAsEachPanelFamilyCountsThem) {
    Write(Bytes("\x06\x04\x00\x50\x01\x02\x5D", 7));  // type 80: two version bytes
    EXPECT_EQ(Receive(), Bytes("\x04\x00\x50\x01\x02", 5));
    EXPECT_EQ(link->PanelType(4), 80);
    EXPECT_EQ(link->PanelVersion(4), 258);
    Write(Bytes("\x06\x04\x00\x40\x01\x02\x4D", 7));  // type 64: the first byte alone
    EXPECT_EQ(Receive(), Bytes("\x04\x00\x40\x01\x02", 5));
    EXPECT_EQ(link->PanelType(4), 64);
    EXPECT_EQ(link->PanelVersion(4), 1);
}

} // namespace
} // namespace ravelin::surface
