// The virtual card's side of the card link, without sockets.

#include "card_protocol.h"

#include <gtest/gtest.h>

using namespace ravelin::sim;

namespace {

std::vector<uint8_t> Feed(CardProtocol& card, const std::vector<uint8_t>& bytes, bool* dropped = nullptr)
{
    bool drop = false;
    auto out = card.receive(bytes.data(), bytes.size(), drop);
    if (dropped) *dropped = drop;
    return out;
}

const std::vector<uint8_t> kSync = {0x55, 0x55};
const std::vector<uint8_t> kPoll = {0x03, 0x1E, 0x00, 0x21};

TEST(CardProtocol, AnswersSynchronisationAsFirmwareOrBootLoader)
{
    CardProtocol running(CardConfig{});
    EXPECT_EQ(Feed(running, kSync), std::vector<uint8_t>{0xAA});

    CardConfig boot;
    boot.startInBootLoader = true;
    CardProtocol waiting(boot);
    EXPECT_EQ(Feed(waiting, kSync), (std::vector<uint8_t>{0x00, 0xCC}));
    // No frames in the boot loader: a poll is a damaged packet to it.
    EXPECT_EQ(Feed(waiting, kPoll), std::vector<uint8_t>{0x33});
}

TEST(CardProtocol, StatusCarriesTypeVersionAndFpgaTextInItsGroups)
{
    CardConfig c;
    c.type = 20;
    c.version = 6;
    c.temperature = 41;
    c.fpgaText = "22/04/2021";
    c.sampleRate = 48000;
    CardProtocol card(c);
    const std::vector<uint8_t> expected = {20, 30, 0, 20, 6, 41, '2', '0', '2', '1', '/', '0', '4', '/', '2', '2',
                                           0x80, 0xBB, 0, 0, 0};
    auto out = Feed(card, kPoll);
    ASSERT_EQ(out.size(), 21u);
    uint8_t sum = 0;
    for (size_t i = 0; i + 1 < out.size(); ++i) sum = uint8_t(sum + out[i]);
    EXPECT_EQ(out.back(), sum);
    EXPECT_EQ(std::vector<uint8_t>(out.begin(), out.end() - 1), std::vector<uint8_t>(expected.begin(), expected.end() - 1));
    EXPECT_EQ(card.record().polls, 1);
}

TEST(CardProtocol, FramesSplitAcrossReadsAreJoined)
{
    CardProtocol card(CardConfig{});
    EXPECT_TRUE(Feed(card, {0x03, 0x1E}).empty());
    EXPECT_EQ(Feed(card, {0x00, 0x21}).size(), 21u);
}

TEST(CardProtocol, RestartGoesToTheBootLoader)
{
    CardProtocol card(CardConfig{});
    EXPECT_TRUE(Feed(card, {0x03, 0x04, 0x00, 0x07}).empty());
    EXPECT_TRUE(card.inBootLoader());
    EXPECT_EQ(Feed(card, kSync), (std::vector<uint8_t>{0x00, 0xCC}));
}

TEST(CardProtocol, BadChecksumReportsMessageErrorAndZerosAreSkipped)
{
    CardProtocol card(CardConfig{});
    EXPECT_EQ(Feed(card, {0x03, 0x1E, 0x00, 0x22}), (std::vector<uint8_t>{0x03, 0x02, 0x00, 0x05}));
    EXPECT_EQ(Feed(card, std::vector<uint8_t>(250, 0)).size(), 0u);
    EXPECT_EQ(Feed(card, kPoll).size(), 21u);
    EXPECT_EQ(card.record().zeros, 250);
}

TEST(CardProtocol, GrantsClearToSendAfterALargeRead)
{
    std::vector<uint8_t> big;
    for (int i = 0; i < 64; ++i) big.insert(big.end(), {0x03, 0x26, 0x00, 0x29});
    CardProtocol card(CardConfig{});
    EXPECT_EQ(Feed(card, big), (std::vector<uint8_t>{0x03, 0x32, 0x00, 0x35}));
    EXPECT_EQ(card.record().statusRequests, 64);

    CardConfig noCts;
    noCts.grantClearToSend = false;
    CardProtocol stubborn(noCts);
    EXPECT_TRUE(Feed(stubborn, big).empty());
}

TEST(CardProtocol, Faults)
{
    CardConfig silent;
    silent.silent = true;
    CardProtocol quiet(silent);
    EXPECT_TRUE(Feed(quiet, kSync).empty());
    EXPECT_TRUE(Feed(quiet, kPoll).empty());

    CardConfig drop;
    drop.dropAfterPolls = 2;
    CardProtocol dropping(drop);
    bool dropped = true;
    Feed(dropping, kPoll, &dropped);
    EXPECT_FALSE(dropped);
    Feed(dropping, kPoll, &dropped);
    EXPECT_TRUE(dropped);
}

} // namespace
