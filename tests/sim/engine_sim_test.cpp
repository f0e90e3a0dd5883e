// The virtual console's engine, seen from a plain socket.

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <filesystem>
#include <fstream>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "virtual_console.h"

namespace ravelin::sim {
namespace {

int Connect(const std::string& address) {
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(kEngineTcpPort);
    ::inet_pton(AF_INET, address.c_str(), &a.sin_addr);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// A standard message: word count 7, the status (3: request), sequence 1, the header, no data.
std::vector<uint8_t> Request(uint16_t idLo, uint8_t band, uint8_t status = 3) {
    std::vector<uint16_t> w = {uint16_t(7 | status << 8), 1, 0, idLo, band, 0, 0, 0};
    for (int i = 0; i < 7; ++i) w[7] = uint16_t(w[7] + w[size_t(i)]);
    std::vector<uint8_t> b;
    for (auto x : w) {
        b.push_back(uint8_t(x));
        b.push_back(uint8_t(x >> 8));
    }
    return b;
}

std::vector<uint8_t> ReadSome(int fd, size_t want) {
    std::vector<uint8_t> out;
    while (out.size() < want) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 2000) <= 0) break;
        uint8_t buf[512];
        ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        if (n <= 0) break;
        out.insert(out.end(), buf, buf + n);
    }
    return out;
}

TEST(EngineSim, EachConsoleHasItsOwnAddressWrittenIntoTheSettings) {
    const auto dir = std::filesystem::temp_directory_path() / ("engine_sim_" + std::to_string(::getpid()));
    ConsoleConfig c;
    c.engine = true;
    c.panels.clear();
    VirtualConsole a(c), b(c);
    ASSERT_TRUE(a.writeFolder(dir));
    a.start();
    b.start();
    EXPECT_NE(a.engineAddress(), b.engineAddress());
    EXPECT_EQ(a.engineAddress().rfind("127.", 0), 0u);
    std::ifstream ini(dir / "KR60.INI");
    std::string text((std::istreambuf_iterator<char>(ini)), {});
    EXPECT_NE(text.find("EngineIPAddress=" + a.engineAddress() + "\r\n"), std::string::npos);

    int fd = Connect(a.engineAddress());
    ASSERT_GE(fd, 0);
    auto req = Request(0x0026, 0);
    auto serial = Request(0x0027, 0);
    req.insert(req.end(), serial.begin(), serial.end());
    ::send(fd, req.data(), req.size(), 0);
    auto r = ReadSome(fd, 16 + 20);
    ASSERT_GE(r.size(), 36u);
    EXPECT_EQ(r[0], 7);        // word count
    EXPECT_EQ(r[1], 4);        // request acknowledged
    EXPECT_EQ(r[6], 0x26);     // the header asked for
    EXPECT_EQ(r[10], 1);       // file set 1
    EXPECT_EQ(r[16], 9);       // the serial number: eight data bytes
    EXPECT_EQ(r[16 + 10] | r[16 + 11] << 8, 1234);
    ::close(fd);
    a.stop();
    b.stop();
    std::filesystem::remove_all(dir);
}

TEST(EngineSim, AnEngineCodePacketWithABadSequenceIsRefused) {
    VirtualEngine e;
    ASSERT_TRUE(e.bindLoopback());
    e.start();
    int fd = Connect(e.address());
    ASSERT_GE(fd, 0);
    auto start = Request(0x0003, 2, 1);
    ::send(fd, start.data(), start.size(), 0);
    auto r = ReadSome(fd, 16);
    ASSERT_EQ(r.size(), 16u);
    EXPECT_EQ(r[1], 2);
    // Packet 1 before packet 0: "Flash File Packet Sequence Error".
    std::vector<uint16_t> w = {0x0107, 0, 0, 0x0004, 1, 0xAAAA, 0xBBBB, 0};
    for (int i = 0; i < 7; ++i) w[7] = uint16_t(w[7] + w[size_t(i)]);
    std::vector<uint8_t> b;
    for (auto x : w) {
        b.push_back(uint8_t(x));
        b.push_back(uint8_t(x >> 8));
    }
    ::send(fd, b.data(), b.size(), 0);
    r = ReadSome(fd, 16);
    ASSERT_EQ(r.size(), 16u);
    EXPECT_EQ(r[1], 8);
    ::close(fd);
    e.stop();
}

} // namespace
} // namespace ravelin::sim
