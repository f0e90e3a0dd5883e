#include "mcu/tiva_updater.h"

#include <gtest/gtest.h>

#include <memory>

#include "mcu/tiva_test_support.h"
#include "surface/fake_clock.h"
#include "surface/fake_com.h"

namespace ravelin::mcu {
namespace {

using testing::Event;
using testing::Hex;
using testing::Pattern;
using testing::Unhex;

// The updater on a serial messenger over an in-memory line, with the boot
// loader's answers fed in by the test.
class TivaUpdaterTest : public ::testing::Test {
protected:
    void Make(std::vector<uint8_t> image, bool autoBaud = false) {
        updater = std::make_unique<tTivaUpdater>(messenger, std::move(image), autoBaud, clock,
                                                 [this](const std::string& t) { messages.push_back(t); });
        updater->OnProgress = [this](float p, uint8_t a) { progress.push_back({p, a}); };
        updater->OnFinished = [this](float p, uint8_t a) { finished.push_back({p, a}); };
        updater->Start();
    }
    // Feeds the device's bytes and polls until the updater has taken them all.
    std::string Answer(const std::string& hex) {
        line->feed(Unhex(hex));
        for (int i = 0; i < 20 && line->pending() > 0; ++i) updater->PollTimerEvent();
        return Hex(line->takeWritten());
    }
    void Poll(int n) {
        for (int i = 0; i < n; ++i) updater->PollTimerEvent();
    }

    std::shared_ptr<surface::testing::FakeLine> line = std::make_shared<surface::testing::FakeLine>();
    surface::testing::FakeComStream port{11, line};
    tTivaSerialMessenger messenger{&port};
    surface::testing::FakeClock clock;
    std::unique_ptr<tTivaUpdater> updater;
    std::vector<Event> progress, finished;
    std::vector<std::string> messages;
};

TEST_F(TivaUpdaterTest, WholeExchangeOfA1000ByteImage) {
    const auto image = Pattern(1000);
    Make(image);
    EXPECT_EQ(Hex(line->takeWritten()), "03 20 20");
    EXPECT_EQ(clock.sleptMs(), 10); // the pause before every packet
    // Filler zeros before the ACK are skipped.
    EXPECT_EQ(Answer("00 00 CC"), "0B 0C 21 00 00 00 00 00 00 03 E8");
    EXPECT_EQ(Answer("CC"), "03 23 23");

    std::string received;
    for (int packet = 0; packet < 5; ++packet) {
        EXPECT_EQ(Answer("CC"), ""); // get status acknowledged: the status packet follows
        const std::string wire = Unhex(Answer("03 40 40"));
        ASSERT_GE(wire.size(), 4u);
        EXPECT_EQ(uint8_t(wire[0]), 0xCC) << "every status packet is acknowledged";
        const std::string packetBytes = wire.substr(1);
        const size_t size = uint8_t(packetBytes[0]);
        ASSERT_EQ(size, packetBytes.size());
        EXPECT_EQ(uint8_t(packetBytes[2]), COMMAND_SEND_DATA);
        EXPECT_EQ(size - 3, packet < 4 ? 240u : 40u);
        uint8_t sum = 0;
        for (size_t i = 2; i < size; ++i) sum = uint8_t(sum + uint8_t(packetBytes[i]));
        EXPECT_EQ(uint8_t(packetBytes[1]), sum);
        received += packetBytes.substr(3);
        EXPECT_EQ(Answer("CC"), "03 23 23");
    }
    EXPECT_EQ(received, std::string(image.begin(), image.end()));
    EXPECT_EQ(Answer("CC"), "");
    EXPECT_EQ(Answer("03 40 40"), "CC 03 25 25");
    EXPECT_TRUE(finished.empty());
    EXPECT_EQ(Answer("CC"), "");

    ASSERT_EQ(progress.size(), 6u);
    const float expected[] = {0.24f, 0.48f, 0.72f, 0.96f, 1.0f, 1.0f};
    for (size_t i = 0; i < 6; ++i) {
        EXPECT_FLOAT_EQ(progress[i].progress, expected[i]);
        EXPECT_EQ(progress[i].ack, tu_Ack);
    }
    ASSERT_EQ(finished.size(), 1u);
    EXPECT_FLOAT_EQ(finished[0].progress, 1.0f);
    EXPECT_EQ(finished[0].ack, tu_Ack);
}

struct NakCase {
    int naks;
    bool goesOn;
};

class TivaNakTest : public TivaUpdaterTest, public ::testing::WithParamInterface<NakCase> {};

TEST_P(TivaNakTest, SixNaksAreResentTheSeventhEnds) {
    Make(Pattern(300));
    line->takeWritten();
    Answer("CC");
    const std::string download = "0B 4E 21 00 00 00 00 00 00 01 2C";
    for (int i = 1; i <= GetParam().naks; ++i) {
        const std::string out = Answer("33");
        if (i <= 6) EXPECT_EQ(out, download) << "NAK " << i;
        else EXPECT_EQ(out, "") << "NAK " << i;
    }
    EXPECT_EQ(messages.size(), size_t(std::min(GetParam().naks, 6)));
    EXPECT_EQ(messages.front(), "TivaUpdater.ReceiveNak 1 retries");
    if (GetParam().goesOn) {
        EXPECT_TRUE(progress.empty());
        EXPECT_EQ(Answer("CC"), "03 23 23");
    } else {
        ASSERT_EQ(progress.size(), 1u);
        EXPECT_EQ(progress[0].ack, 189);
        EXPECT_EQ(updater->StatusDescription(), "Retries exceeded");
        EXPECT_EQ(Answer("CC"), "") << "nothing goes on after the update has failed";
    }
    EXPECT_TRUE(finished.empty());
}

INSTANTIATE_TEST_SUITE_P(Naks, TivaNakTest, ::testing::Values(NakCase{6, true}, NakCase{7, false}));

struct FailureCase {
    const char* name;
    const char* reply; // the answer to the first get status (after its ACK)
    uint8_t ack;
    const char* text;
};

class TivaStatusTest : public TivaUpdaterTest, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(TivaStatusTest, FailingStatusEndsTheUpdate) {
    Make(Pattern(500));
    line->takeWritten();
    Answer("CC");
    Answer("CC");
    Answer("CC");
    Answer(GetParam().reply);
    ASSERT_EQ(progress.size(), 1u);
    EXPECT_EQ(progress[0].ack, GetParam().ack);
    EXPECT_FLOAT_EQ(progress[0].progress, 0.0f);
    EXPECT_EQ(updater->StatusDescription(), GetParam().text);
    EXPECT_TRUE(updater->Ended());
    EXPECT_TRUE(finished.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Statuses, TivaStatusTest,
    ::testing::Values(FailureCase{"FlashFailure", "03 44 44", tu_FlashError, "Flash Failure"},
                      FailureCase{"BadAddress", "03 43 43", 3, "Bad Address"},
                      FailureCase{"BadChecksum", "03 41 40", 191, "Bad Data Received"},
                      FailureCase{"BadSize", "05 00 00 00 00", 191, "Bad Data Received"},
                      FailureCase{"ApplicationRunning", "AA", 106, "Not BootLoader"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(TivaUpdaterTest, StatusPacketSplitAcrossPollsIsPutTogether) {
    Make(Pattern(10));
    line->takeWritten();
    Answer("CC");
    Answer("CC");
    Answer("CC");
    line->feed(Unhex("04"));
    Poll(1);
    EXPECT_TRUE(progress.empty());
    EXPECT_EQ(Answer("40 40 00").substr(0, 8), "CC 0D 69") << "the zero belongs to the packet";
    ASSERT_EQ(progress.size(), 1u);
    EXPECT_EQ(progress[0].ack, tu_Ack);
}

TEST_F(TivaUpdaterTest, ApplicationRunningAnswerToThePing) {
    Make(Pattern(10));
    line->takeWritten();
    Answer("AA");
    ASSERT_EQ(progress.size(), 1u);
    EXPECT_EQ(progress[0].ack, 106);
    EXPECT_EQ(updater->StatusDescription(), "Not BootLoader");
}

TEST_F(TivaUpdaterTest, SilenceBeforeTheDownloadRepeatsThePing) {
    Make(Pattern(10));
    EXPECT_EQ(Hex(line->takeWritten()), "03 20 20");
    for (int round = 0; round < 3; ++round) {
        Poll(100);
        EXPECT_EQ(Hex(line->takeWritten()), "");
        Poll(1);
        EXPECT_EQ(Hex(line->takeWritten()), "03 20 20");
    }
    EXPECT_TRUE(progress.empty());
}

TEST_F(TivaUpdaterTest, SilenceAfterImageDataFailsOnce) {
    Make(Pattern(500));
    line->takeWritten();
    Answer("CC");
    Answer("CC");
    Answer("CC");
    Answer("03 40 40"); // first data packet out; that poll counts as the first
    Poll(99);
    EXPECT_EQ(progress.size(), 1u);
    Poll(1);
    ASSERT_EQ(progress.size(), 2u);
    EXPECT_EQ(progress[1].ack, 190);
    EXPECT_FLOAT_EQ(progress[1].progress, 0.48f);
    EXPECT_EQ(updater->StatusDescription(), "Timeout");
    Poll(300);
    EXPECT_EQ(progress.size(), 2u) << "the failure is reported once";
}

TEST_F(TivaUpdaterTest, EmptyImageIsRefusedWithoutTouchingTheDevice) {
    Make({});
    EXPECT_EQ(Hex(line->takeWritten()), "");
    ASSERT_EQ(progress.size(), 1u);
    EXPECT_NE(progress[0].ack, tu_Ack);
    EXPECT_FLOAT_EQ(progress[0].progress, 0.0f);
    EXPECT_EQ(updater->StatusDescription(), "Empty File");
    Poll(500);
    EXPECT_EQ(Hex(line->takeWritten()), "");
    EXPECT_TRUE(finished.empty());
}

TEST(TivaStatusText, UnknownValuesShowTheirNumber) {
    EXPECT_EQ(tTivaUpdater::StatusText(0x25), "Reset");
    EXPECT_EQ(tTivaUpdater::StatusText(0xCC), "Command Ack");
    EXPECT_EQ(tTivaUpdater::StatusText(7), "7");
}

} // namespace
} // namespace ravelin::mcu
