#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "host/corvane_host.h"
#include "host/corvane_message_handler.h"
#include "platform/virtual_event_loop.h"
#include "surface/fake_com.h"
#include "surface/frame.h"

using namespace ravelin;
using namespace ravelin::host;
using surface::testing::FakePorts;

namespace {

std::string frameOf(std::initializer_list<int> body) {
    std::string b;
    for (int c : body) b.push_back(char(c));
    return surface::EncodeFrame(b);
}

std::string raw(std::initializer_list<int> bytes) {
    std::string s;
    for (int c : bytes) s.push_back(char(c));
    return s;
}

// A host on a fake line, its log and its message line.
struct HostFixture : ::testing::Test {
    FakePorts ports;
    std::shared_ptr<surface::testing::FakeLine> line = ports.add(3);
    std::vector<std::string> log, shown;
    std::unique_ptr<tCorvaneHost> host;

    HostServices services() {
        return {ports.opener(), [this](const std::string& s) { shown.push_back(s); },
                [this](const std::string& s) { log.push_back(s); }};
    }
    void SetUp() override { host = std::make_unique<tCorvaneHost>(3, false, "Corvane", services()); }
    void polls(int n) {
        for (int i = 0; i < n * tCorvaneHost::kPollServiceCalls; ++i) host->Service();
    }
    // A status reply carrying firmware 14 and the FPGA date 08/03/2022.
    static std::string status(uint8_t id = 7, uint8_t firmware = 14) {
        std::string body = raw({kHostStatus, id, firmware});
        body += "2022/03/08";
        return surface::EncodeFrame(body);
    }
};

TEST_F(HostFixture, PollsOnceASecondAndAsksForStatusOnceUntilItArrives) {
    EXPECT_EQ(ports.opens.size(), 1u);
    EXPECT_EQ(ports.opens[0].baudRate, 115200);
    EXPECT_TRUE(ports.opens[0].flowControl);
    for (int i = 0; i < 99; ++i) host->Service();
    EXPECT_EQ(line->takeWritten(), "");
    host->Service();
    EXPECT_EQ(line->takeWritten(), raw({0x02, 0x00, 0x02}));

    line->feed(frameOf({kHostAYT}));
    host->Service();
    EXPECT_EQ(line->takeWritten(), raw({0x02, 0x3C, 0x3E}));
    line->feed(frameOf({kHostAYT}));
    host->Service();
    EXPECT_EQ(line->takeWritten(), "") << "a second status request while one is outstanding";

    line->feed(status());
    host->Service();
    EXPECT_EQ(host->DeviceID, 7);
    EXPECT_EQ(host->FirmwareVersion, 14);
    EXPECT_EQ(host->FPGAVersion, "08/03/2022");
    line->feed(status(7, 15));
    host->Service();
    EXPECT_EQ(log, std::vector<std::string>{"Corvane Host version 14"}) << "only the first status is logged";
    line->feed(frameOf({kHostAYT}));
    host->Service();
    EXPECT_EQ(line->takeWritten(), "") << "no status request while the status is known";
}

TEST_F(HostFixture, TenUnansweredPollsClearOnceInVirtualTime) {
    platform::VirtualEventLoop loop;
    loop.addTimer(10, [&] { ServiceCorvaneHost(host.get()); });
    line->feed(frameOf({kHostAYT}) + status());
    loop.advance(10);
    host->SampleRates[2] = 48000;
    ASSERT_EQ(host->FirmwareVersion, 14);

    loop.advance(9 * 1000);
    EXPECT_EQ(host->FirmwareVersion, 14) << "nine unanswered polls keep the values";
    loop.advance(1000);
    EXPECT_EQ(host->FirmwareVersion, 0);
    EXPECT_EQ(host->FPGAVersion, std::string(10, '\0'));
    EXPECT_EQ(host->SampleRates[2], 0u);
    EXPECT_EQ(line->inputClears, 1);
    loop.advance(20 * 1000);
    EXPECT_EQ(line->inputClears, 1) << "polls after the tenth do not clear again";
    EXPECT_EQ(host->PollFailCount(), 30);

    line->takeWritten();
    line->feed(frameOf({kHostAYT}));
    loop.advance(10);
    EXPECT_EQ(host->PollFailCount(), 0);
    EXPECT_EQ(line->takeWritten(), raw({0x02, 0x3C, 0x3E}));
    loop.advance(9 * 1000);
    EXPECT_EQ(line->inputClears, 1) << "the reply restarted the count";
}

TEST_F(HostFixture, RejectedFramesEmptyTheQueueAndAnswerWithAnError) {
    struct Case {
        std::string in;
        std::string reply;
        std::string logLine;
    } cases[] = {
        {raw({0x01, 0x00, 0x05}), raw({0x03, 0x02, 0x01, 0x06}), "Corvane Host Rx error: Invalid Length received: 1"},
        {raw({0xFF, 0x00}), raw({0x03, 0x02, 0x01, 0x06}), "Corvane Host Rx error: Invalid Length received: 255"},
        {raw({0x03, 0x41, 0x07, 0x40, 0x02}), raw({0x03, 0x02, 0x02, 0x07}),
         "Corvane Host Rx error: Invalid CheckSum received: 3 65 7 64, correct checksum: 75"},
    };
    for (const auto& c : cases) {
        log.clear();
        line->takeWritten();
        line->feed(c.in);
        host->ServiceReceive();
        EXPECT_EQ(line->pending(), 0u);
        EXPECT_EQ(line->takeWritten(), c.reply);
        EXPECT_EQ(log, std::vector<std::string>{c.logLine});
        EXPECT_TRUE(shown.empty()) << "error display is off";
    }
}

TEST_F(HostFixture, PartialAndUnknownFramesAndBoardErrors) {
    const std::string rate = frameOf({kHostSampleRate, 3, 0x80, 0xBB, 0x00, 0x00});
    line->feed(rate.substr(0, 4));
    host->ServiceReceive();
    EXPECT_EQ(line->pending(), 4u) << "a partial frame stays queued";
    line->feed(rate.substr(4) + frameOf({99, 1, 2}) + frameOf({kHostSampleRate, 4, 1, 0, 0, 0}));
    host->ServiceReceive();
    EXPECT_EQ(line->pending(), 0u);
    EXPECT_EQ(host->SampleRates[vh_USBAudio], 48000u);
    EXPECT_EQ(line->takeWritten(), "") << "unknown headers and port 4 are ignored silently";

    line->feed(status() + frameOf({kHostError, 2}));
    host->ServiceReceive();
    EXPECT_EQ(host->FirmwareVersion, 0);
    EXPECT_EQ(log.back(), "Corvane Host Checksum error on message received by Host");
}

TEST_F(HostFixture, SendsTheBoardsCommands) {
    host->SetUDPorTCP(true);
    host->SetSyncSource(vh_WordClock);
    host->SetDateTime({2026, 12, 10, 3, 4, 5});
    host->ResetEngine();
    host->Boot();
    EXPECT_EQ(line->takeWritten(), frameOf({kHostUDPorTCP, 1}) + frameOf({kHostSyncSource, 2}) +
                                       frameOf({kHostSetDateTime, 20, 26, 12, 10, 3, 4, 5}) +
                                       raw({0x02, 62, 64}) + raw({0x02, 4, 6}));

    std::vector<uint8_t> big(254, 1);
    host->SendData(kHostEcho, big.data(), 254);
    EXPECT_EQ(line->takeWritten(), "");
    EXPECT_EQ(log.back(), "Corvane Host Tx error: max message length exceeded");

    line->acceptLimit = 1;
    host->ResetEngine();
    EXPECT_EQ(log.back(), "Corvane Host Tx error: 1 sent instead of 3");
}

TEST_F(HostFixture, TraceLinesNameTheMessage) {
    host->Logging = true;
    host->SendHeader(kHostAYT);
    line->feed(frameOf({kHostTemperature, 41}));
    host->ServiceReceive();
    EXPECT_EQ(shown, (std::vector<std::string>{"  to Corvane: AYT 0", "from Corvane: Temperature 65 41"}));
    EXPECT_EQ(host->Temperature, 41);
    line->feed(frameOf({kHostUpdateXMOS, 1}));
    host->ServiceReceive();
    EXPECT_EQ(host->XMOSUpdateState, 1);
    EXPECT_EQ(MessageName(3), "3?");
}

TEST(CorvaneHostOpen, NoPortNumberNoHostAndAMissingPortStaysSilent) {
    FakePorts ports;
    std::vector<std::string> log;
    HostServices services{ports.opener(), {}, [&](const std::string& s) { log.push_back(s); }};
    EXPECT_EQ(OpenCorvaneHost(0, "KR60", services), nullptr);
    auto host = OpenCorvaneHost(7, "", services);
    ASSERT_NE(host, nullptr);
    EXPECT_FALSE(host->PortOpen());
    EXPECT_EQ(log, std::vector<std::string>{"Corvane Host Cannot open Engine Host ComPort 7"});
    for (int i = 0; i < 2000; ++i) ServiceCorvaneHost(host.get());
    EXPECT_EQ(log.size(), 1u);
}

TEST(CorvaneMessageHandler, SampleRatesGoToTheEnginePorts) {
    FakePorts ports;
    auto line = ports.add(2);
    tCorvaneHost host(2, false, "KR60", {ports.opener(), {}, {}});
    std::vector<std::pair<int, float>> stored;
    tCorvaneMessageHandler handler(&host, [&](int port, float rate) { stored.push_back({port, rate}); });
    for (int p = 0; p < 4; ++p) line->feed(frameOf({kHostSampleRate, p, 0x44, 0xAC, 0, 0}));
    host.ServiceReceive();
    EXPECT_EQ(stored, (std::vector<std::pair<int, float>>{{16, 44100.f}, {17, 44100.f}, {1, 44100.f}, {20, 44100.f}}));
}

} // namespace
