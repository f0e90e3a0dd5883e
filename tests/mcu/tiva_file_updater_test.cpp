#include "mcu/tiva_file_updater.h"

#include <gtest/gtest.h>

#include <memory>

#include "mcu/tiva_test_support.h"

namespace ravelin::mcu {
namespace {

using testing::Event;
using testing::Hex;
using testing::Pattern;
using testing::Unhex;

class TivaFileUpdaterTest : public ::testing::Test {
protected:
    void Make(size_t size) {
        file = Pattern(size);
        updater = std::make_unique<tTivaFileUpdater>([this](const std::string& m) { sent.push_back(m); }, 11, file,
                                                     [this](const std::string& t) { messages.push_back(t); });
        updater->OnUpdatePacket = [this](float p, uint8_t a) { packets.push_back({p, a}); };
        updater->OnUpdateFinished = [this](float p, uint8_t a) { finished.push_back({p, a}); };
        updater->OnEraseProgress = [this](float p, uint8_t a) { erase.push_back({p, a}); };
        updater->Start();
    }
    void Receive(const std::string& hex) { updater->ReceiveMessage(Unhex(hex)); }

    std::vector<uint8_t> file;
    std::unique_ptr<tTivaFileUpdater> updater;
    std::vector<std::string> sent, messages;
    std::vector<Event> packets, finished, erase;
};

TEST_F(TivaFileUpdaterTest, WholeExchangeOfA300ByteFile) {
    Make(300);
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(Hex(sent[0]), "0B 00 00 03");
    Receive("0B 03 00 2D");
    ASSERT_EQ(erase.size(), 1u);
    EXPECT_FLOAT_EQ(erase[0].progress, 0.45f);
    Receive("0B 00 00");
    Receive("0B 01 00 00 00");
    Receive("0B 01 00 00 01");
    Receive("0B 01 00 00 02");
    ASSERT_EQ(sent.size(), 5u);
    std::string carried;
    const size_t sizes[] = {128, 128, 44};
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(Hex(sent[1 + i].substr(0, 4)), "0B 01 00 0" + std::to_string(i));
        EXPECT_EQ(sent[1 + i].size() - 4, sizes[i]);
        carried += sent[1 + i].substr(4);
    }
    EXPECT_EQ(carried, std::string(file.begin(), file.end()));
    unsigned sum = 0;
    for (uint8_t b : file) sum += b;
    EXPECT_EQ(sent[4], Unhex("0B 02") + char(sum >> 8 & 0xFF) + char(sum & 0xFF));
    ASSERT_EQ(packets.size(), 3u);
    EXPECT_FLOAT_EQ(packets[0].progress, 2.0f / 3.0f) << "reported after the next packet went out";
    EXPECT_TRUE(finished.empty());
    Receive("0B 02 00");
    ASSERT_EQ(finished.size(), 1u);
    EXPECT_EQ(finished[0].ack, tu_Ack);
    EXPECT_FLOAT_EQ(finished[0].progress, 1.0f);
}

TEST_F(TivaFileUpdaterTest, AcknowledgedNumberIsMostSignificantByteFirst) {
    Make(128 * 300);
    EXPECT_EQ(Hex(sent[0]), "0B 00 01 2C");
    Receive("0B 00 00");
    for (int n = 0; n < 257; ++n)
        updater->ReceiveMessage(Unhex("0B 01 00") + char(n >> 8) + char(n & 0xFF));
    EXPECT_TRUE(finished.empty());
    EXPECT_EQ(Hex(sent.back().substr(0, 4)), "0B 01 01 01");
}

struct AbortCase {
    const char* name;
    int acksBefore;      // packets acknowledged before the bad answer
    const char* answer;
    uint8_t error;
    const char* text;
};

class TivaFileAbortTest : public TivaFileUpdaterTest, public ::testing::WithParamInterface<AbortCase> {};

TEST_P(TivaFileAbortTest, AbortShowsItsReasonAndEndsOnce) {
    Make(128 * 10);
    Receive("0B 00 00");
    for (int n = 0; n < GetParam().acksBefore; ++n) Receive("0B 01 00 00 0" + std::to_string(n));
    Receive(GetParam().answer);
    ASSERT_EQ(finished.size(), 1u);
    EXPECT_EQ(finished[0].ack, GetParam().error);
    ASSERT_FALSE(messages.empty());
    EXPECT_EQ(messages.back(), std::string(GetParam().text) + "\r\nUpdate aborted");
    const size_t sentBefore = sent.size();
    Receive("0B 01 00 00 0" + std::to_string(GetParam().acksBefore));
    Receive("0B 02 00");
    EXPECT_EQ(finished.size(), 1u) << "nothing after the end";
    EXPECT_EQ(sent.size(), sentBefore);
}

INSTANTIATE_TEST_SUITE_P(
    Aborts, TivaFileAbortTest,
    ::testing::Values(
        AbortCase{"EraseFlash", 0, "0B 03 04", tu_FlashError, "Tiva file updater Flash error during erase"},
        AbortCase{"UnknownOnPacket", 6, "0B 01 09 00 06", 9, "Tiva file updater unknown (9) error on packet 7"},
        AbortCase{"Checksum", 0, "0B 01 02 00 00", 2, "Tiva file updater Checksu error on packet 1"},
        AbortCase{"OutOfSequence", 1, "0B 01 00 00 00", tu_SequenceError,
                  "Tiva file updater packet number error: 0acknowledged instead of 1"},
        AbortCase{"FinishedEarly", 2, "0B 02 00", tu_SequenceError, "Tiva file updater finished early on packet 3"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(TivaFileUpdaterTest, OutOfSequenceAckStillReportsThePacket) {
    Make(128 * 3);
    Receive("0B 00 00");
    Receive("0B 01 00 00 00");
    Receive("0B 01 00 00 00");
    EXPECT_EQ(finished.size(), 1u);
    EXPECT_EQ(packets.size(), 2u);
}

TEST_F(TivaFileUpdaterTest, OtherMessagesOnTheLineChangeNothing) {
    Make(300);
    Receive("04 00 96 78 00");
    Receive("0B");
    Receive("0B 01 00");
    EXPECT_EQ(sent.size(), 1u);
    EXPECT_TRUE(packets.empty() && finished.empty() && erase.empty());
}

TEST_F(TivaFileUpdaterTest, EmptyFileIsRefused) {
    Make(0);
    EXPECT_TRUE(sent.empty());
    ASSERT_EQ(finished.size(), 1u);
    EXPECT_EQ(finished[0].ack, tu_SizeError);
    EXPECT_EQ(messages.back(), "Tiva file updater: the file is empty\r\nUpdate aborted");
}

} // namespace
} // namespace ravelin::mcu
