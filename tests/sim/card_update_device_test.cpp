// The virtual card's boot loader and FPGA file update, bytes in and out.
#include <gtest/gtest.h>

#include "card_protocol.h"

namespace ravelin::sim {
namespace {

std::vector<uint8_t> Packet(uint8_t command, std::vector<uint8_t> data = {})
{
    uint8_t sum = command;
    for (uint8_t b : data) sum = uint8_t(sum + b);
    std::vector<uint8_t> p = {uint8_t(3 + data.size()), sum, command};
    for (uint8_t b : data) p.push_back(b);
    return p;
}

std::vector<uint8_t> Feed(CardProtocol& card, const std::vector<uint8_t>& bytes, bool* dropped = nullptr)
{
    bool drop = false;
    auto out = card.receive(bytes.data(), bytes.size(), drop);
    if (dropped) *dropped = drop;
    return out;
}

TEST(VirtualCardUpdates, RestartBootLoaderExchangeAndTheNewVersionAfterTheReset)
{
    CardProtocol card(CardConfig{});
    EXPECT_EQ(Feed(card, {0x55, 0x55}), std::vector<uint8_t>{0xAA});
    Feed(card, {0x03, 0x04, 0x00, 0x07});
    EXPECT_TRUE(card.inBootLoader());
    EXPECT_EQ(Feed(card, {0x55, 0x55}), (std::vector<uint8_t>{0x00, 0xCC}));
    EXPECT_EQ(Feed(card, Packet(0x20)), std::vector<uint8_t>{0xCC});
    std::vector<uint8_t> image = {'v', 'e', 'r', 's', 'i', 'o', 'n', ' ', 9, 0x55, 0x55, 1};
    EXPECT_EQ(Feed(card, Packet(0x21, {0, 0, 0, 0, 0, 0, 0, uint8_t(image.size())})), std::vector<uint8_t>{0xCC});
    // A data packet split so that its 0x55 0x55 arrive first in a read.
    auto data = Packet(0x24, image);
    Feed(card, std::vector<uint8_t>(data.begin(), data.begin() + 12));
    EXPECT_EQ(Feed(card, std::vector<uint8_t>(data.begin() + 12, data.end())), std::vector<uint8_t>{0xCC});
    EXPECT_EQ(Feed(card, Packet(0x23)), (std::vector<uint8_t>{0xCC, 0x03, 0x40, 0x40}));
    Feed(card, {0xCC});
    Feed(card, Packet(0x25));
    EXPECT_FALSE(card.inBootLoader());
    EXPECT_EQ(card.bootLoaderRecord().image, image);
    EXPECT_EQ(card.config().version, 9);
    EXPECT_EQ(Feed(card, {0x55, 0x55}), std::vector<uint8_t>{0xAA});
}

TEST(VirtualCardUpdates, DropAfterDataPacketsClosesTheConnectionInTheBootLoader)
{
    CardConfig c;
    c.startInBootLoader = true;
    c.dropAfterDataPackets = 1;
    CardProtocol card(c);
    Feed(card, Packet(0x20));
    Feed(card, Packet(0x21, {0, 0, 0, 0, 0, 0, 0, 4}));
    bool dropped = false;
    Feed(card, Packet(0x24, {1, 2}), &dropped);
    EXPECT_TRUE(dropped);
    EXPECT_TRUE(card.inBootLoader()) << "it still waits in its boot loader";
}

TEST(VirtualCardUpdates, FPGAFileInFramesWithHeader39AndAChosenDeviceError)
{
    CardConfig c;
    c.fpga.eraseSteps = {};
    CardProtocol card(c);
    auto frame = [](std::vector<uint8_t> body) { return cardFrame(body); };
    EXPECT_EQ(Feed(card, frame({39, 0, 0, 1})), frame({39, 0, 0}));
    EXPECT_EQ(Feed(card, frame({39, 1, 0, 0, 7, 8})), frame({39, 1, 0, 0, 0}));
    EXPECT_EQ(Feed(card, frame({39, 2, 0, 15})), frame({39, 2, 0}));
    EXPECT_EQ(card.fpgaRecord().file, (std::vector<uint8_t>{7, 8}));

    c.fpga.errorPacket = 0;
    CardProtocol failing(c);
    Feed(failing, frame({39, 0, 0, 1}));
    EXPECT_EQ(Feed(failing, frame({39, 1, 0, 0, 7})), frame({39, 1, 4, 0, 0}));
}

} // namespace
} // namespace ravelin::sim
