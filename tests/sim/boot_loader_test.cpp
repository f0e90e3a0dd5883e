#include "boot_loader.h"
#include "file_update_device.h"
#include "panel_protocol.h"

#include <gtest/gtest.h>

namespace ravelin::sim {
namespace {

using Bytes = std::vector<uint8_t>;

// A boot-loader packet as the program sends it.
Bytes Packet(uint8_t command, const Bytes& data = {})
{
    Bytes p{uint8_t(3 + data.size()), command, command};
    for (uint8_t b : data) p[1] = uint8_t(p[1] + b);
    p.insert(p.end(), data.begin(), data.end());
    return p;
}

Bytes Feed(BootLoader& bl, const Bytes& in)
{
    Bytes out;
    bl.receive(in.data(), in.size(), out);
    return out;
}

// An image that names its version like the program folder's files do.
Bytes Image(uint8_t version)
{
    std::string text(300, 'x');
    text.replace(100, 8, "version ");
    Bytes image(text.begin(), text.end());
    image[108] = version;
    return image;
}

Bytes Download(size_t size)
{
    return Packet(0x21, {0, 0, 0, 0, uint8_t(size >> 24), uint8_t(size >> 16), uint8_t(size >> 8), uint8_t(size)});
}

TEST(SimBootLoader, WholeExchangeKeepsTheImageAndReportsItsVersion)
{
    PanelConfig config;
    config.bootLoader.capable = true;
    PanelProtocol panel(config);
    EXPECT_TRUE(panel.receive(Bytes{0x02, 0x03, 0x05}).empty());
    EXPECT_TRUE(panel.bootLoader().active());
    EXPECT_EQ(panel.receive(Bytes{0x55, 0x55}), Bytes{0xCC});
    EXPECT_EQ(panel.receive(Packet(0x20)), Bytes{0xCC});
    const Bytes image = Image(9);
    EXPECT_EQ(panel.receive(Download(image.size())), Bytes{0xCC});
    for (size_t at = 0; at < image.size(); at += 240) {
        EXPECT_EQ(panel.receive(Packet(0x23)), (Bytes{0xCC, 0x03, 0x40, 0x40}));
        EXPECT_TRUE(panel.receive(Bytes{0xCC}).empty());
        const size_t n = std::min<size_t>(240, image.size() - at);
        EXPECT_EQ(panel.receive(Packet(0x24, Bytes(image.begin() + long(at), image.begin() + long(at + n)))),
                  Bytes{0xCC});
    }
    EXPECT_EQ(panel.receive(Packet(0x25)), Bytes{0xCC});
    EXPECT_FALSE(panel.bootLoader().active());
    EXPECT_EQ(panel.bootLoader().record().image, image);
    EXPECT_EQ(panel.version1(), 9);
    // Back in its application: polls are answered again.
    EXPECT_FALSE(panel.receive(Bytes{0x02, 0x04, 0x06}).empty());
}

TEST(SimBootLoader, ChosenFaults)
{
    BootLoaderBehaviour b;
    b.capable = true;
    b.nakPacket = 1;
    b.nakTimes = 2;
    b.badStatusData = 1;
    b.silentAfterData = 2;
    BootLoader bl(b);
    bl.enter();
    EXPECT_EQ(Feed(bl, Packet(0x20)), Bytes{0x33});
    EXPECT_EQ(Feed(bl, Packet(0x20)), Bytes{0x33});
    EXPECT_EQ(Feed(bl, Packet(0x20)), Bytes{0xCC});
    EXPECT_EQ(Feed(bl, Bytes{0x03, 0x21, 0x20}), Bytes{0x33}) << "a damaged packet is NAKed";
    EXPECT_EQ(Feed(bl, Download(480)), Bytes{0xCC});
    EXPECT_EQ(Feed(bl, Packet(0x24, Bytes(240, 1))), Bytes{0xCC});
    EXPECT_EQ(Feed(bl, Packet(0x23)), (Bytes{0xCC, 0x03, 0x44, 0x44}));
    EXPECT_EQ(Feed(bl, Packet(0x24, Bytes(240, 1))), Bytes{0xCC});
    EXPECT_TRUE(Feed(bl, Packet(0x23)).empty()) << "silent after the second data packet";
}

TEST(SimFileUpdate, EraseAcksAndSumWithNumbersMostSignificantFirst)
{
    FileUpdateBehaviour b;
    b.enabled = true;
    FileUpdateDevice unit(b);
    const Bytes file(300, 7);
    auto out = unit.receive(Bytes{0x00, 0x00, 0x03}.data(), 3);
    ASSERT_EQ(out.size(), 4u);
    EXPECT_EQ(out[1], (Bytes{0x0B, 0x03, 0x00, 45, 0x00}));
    EXPECT_EQ(out[3], (Bytes{0x0B, 0x00, 0x00}));
    for (int n = 0; n < 3; ++n) {
        Bytes msg{0x01, 0x00, uint8_t(n)};
        msg.insert(msg.end(), file.begin() + n * 128, file.begin() + std::min(300, n * 128 + 128));
        out = unit.receive(msg.data(), msg.size());
        ASSERT_EQ(out.size(), 1u);
        EXPECT_EQ(out[0], (Bytes{0x0B, 0x01, 0x00, 0x00, uint8_t(n)}));
    }
    const unsigned sum = 300 * 7;
    out = unit.receive(Bytes{0x02, uint8_t(sum >> 8), uint8_t(sum)}.data(), 3);
    EXPECT_EQ(out[0], (Bytes{0x0B, 0x02, 0x00}));
    EXPECT_EQ(unit.record().file, file);
}

TEST(SimFileUpdate, DeviceErrorOnAChosenPacket)
{
    FileUpdateBehaviour b;
    b.enabled = true;
    b.errorPacket = 1;
    b.errorCode = 4;
    FileUpdateDevice unit(b);
    unit.receive(Bytes{0x00, 0x00, 0x03}.data(), 3);
    Bytes p0{0x01, 0x00, 0x00};
    p0.resize(3 + 128);
    unit.receive(p0.data(), p0.size());
    Bytes p1 = p0;
    p1[2] = 1;
    auto out = unit.receive(p1.data(), p1.size());
    EXPECT_EQ(out[0], (Bytes{0x0B, 0x01, 0x04, 0x00, 0x01}));
}

} // namespace
} // namespace ravelin::sim
