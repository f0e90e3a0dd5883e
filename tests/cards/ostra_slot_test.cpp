#include "cards/ostra_slot.h"

#include <gtest/gtest.h>

#include "fake_tcp.h"
#include "platform/virtual_event_loop.h"

using namespace ravelin;
using namespace ravelin::cards;
using namespace ravelin::cards::test;

namespace {

// A status: type, version, temperature, FPGA text "22/04/2021", 48 kHz.
std::string Status(int type, int version = 6)
{
    return CardFrame({30, 0, type, version, 41,
                      '2', '0', '2', '1',   // characters 7-10
                      '/', '0', '4', '/',   // characters 3-6
                      '2', '2',             // characters 1-2
                      0x80, 0xBB, 0, 0});
}

struct FakeRacks : OstraRackAccess {
    std::array<std::array<uint8_t, 210>, 50> records{};
    int onPort16 = -1;
    uint32_t sampleRate = 0;
    int partner = 0;
    int RackOnPort(int port) override { return port == 16 ? onPort16 : -1; }
    uint8_t* RackRecord(int n) override { return records[size_t(n)].data(); }
    uint32_t EngineSampleRate(int) override { return sampleRate; }
    int PartnerRack(int, int) override { return partner; }
};

class OstraSlotTest : public ::testing::Test {
protected:
    OstraSlotTest()
    {
        services.engineAddress = "10.0.0.5";
        services.localAddress = "192.168.1.20";
        services.link = FakeLink(sock, log, &loop);
        services.racks = &racks;
        slot = NewOstraSlot(0, services);
        loop.addTimer(10, [this] { slot->Service(); });
    }
    // Runs the service tick for ms and returns what went out meanwhile.
    std::string Run(int ms)
    {
        sock->sent.clear();
        loop.advance(ms);
        return sock->allSent();
    }
    // Answers the synchronisation as a running card and takes its status.
    void BringUp(int type)
    {
        sock->connect();
        Run(1000);
        sock->deliver(Bytes({0xAA}));
        Run(1000);
        sock->deliver(Status(type));
        Run(10);
    }

    platform::VirtualEventLoop loop;
    std::shared_ptr<FakeTcpState> sock = std::make_shared<FakeTcpState>();
    std::vector<std::string> log;
    FakeRacks racks;
    OstraSlotServices services;
    std::unique_ptr<tOstraSlot> slot;
};

const std::string kSync = Bytes({0x55, 0x55});
const std::string kPoll = Bytes({0x03, 0x1E, 0x00, 0x21});
const std::string kStatusRequest = Bytes({0x03, 0x26, 0x00, 0x29});

TEST(OstraSlot, NoEngineAddressNoLink)
{
    OstraSlotServices none;
    auto slot = NewOstraSlot(1, none);
    EXPECT_EQ(slot->SlotNumber, 1);
    EXPECT_FALSE(slot->Messenger);
    EXPECT_EQ(slot->FPGAVersion, "          ");
    slot->Service();
}

TEST_F(OstraSlotTest, SynchronisesFirstThenPollsAndKeepsTheStatus)
{
    sock->connect();
    EXPECT_EQ(Run(990), "");
    EXPECT_EQ(Run(10), kSync);
    sock->deliver(Bytes({0xAA}));
    EXPECT_EQ(Run(1000), kPoll);

    sock->deliver(Status(20));
    EXPECT_EQ(Run(10), kStatusRequest); // a new type asks for the card's details
    EXPECT_EQ(slot->CardType, 20);
    EXPECT_EQ(slot->CardVersion, 6);
    EXPECT_EQ(slot->Temperature, 41);
    EXPECT_EQ(slot->FPGAVersion, "22/04/2021");
    EXPECT_EQ(slot->CardSampleRate, 48000u);

    sock->deliver(Status(20));
    EXPECT_EQ(Run(990), kPoll); // the same type again asks for nothing
}

TEST_F(OstraSlotTest, UnservedTypesCountAsNoCard)
{
    BringUp(32);
    EXPECT_EQ(slot->CardType, 0);
}

TEST_F(OstraSlotTest, SixSilentSecondsClearTheCard)
{
    BringUp(20);
    // The status came at 2.0 s; polls at 3, 4, 5, 6 and 7 s go unanswered.
    EXPECT_EQ(Run(5980), kPoll + kPoll + kPoll + kPoll + kPoll);
    EXPECT_EQ(slot->CardType, 20);
    EXPECT_EQ(Run(1000), kSync);
    EXPECT_EQ(slot->CardType, 0);
    EXPECT_EQ(slot->FPGAVersion, "          ");
    EXPECT_EQ(Run(1000), kSync);
}

TEST_F(OstraSlotTest, ACardInItsBootLoaderGetsNoPollsOnlySynchronisation)
{
    sock->connect();
    Run(1000);
    sock->deliver(Bytes({0x00, 0xCC}));
    Run(10);
    EXPECT_TRUE(slot->InBootLoader);
    EXPECT_EQ(Run(3000), kSync + kSync + kSync);
    EXPECT_EQ(slot->CardType, 0);
    // Frames are not read while the boot loader talks.
    sock->deliver(Status(20));
    Run(10);
    EXPECT_EQ(slot->CardType, 0);
}

TEST_F(OstraSlotTest, FramesAreTakenWholeAndGarbageGoesWithTheNextGoodOne)
{
    BringUp(20);
    const std::string sync = CardFrame({33, 0, 7, 0}); // "Sync Source" 7; length byte 5
    struct Case {
        const char* what;
        std::vector<std::string> pieces; // delivered one service step apart
        uint8_t syncSource;
        size_t left;                     // bytes still buffered at the end
    };
    const Case cases[] = {
        {"whole", {sync}, 7, 0},
        {"length byte 5: waits for all six bytes", {sync.substr(0, 5)}, 0, 5},
        {"then the last byte completes it", {sync.substr(0, 5), sync.substr(5)}, 7, 0},
        {"garbage before", {Bytes({0x03, 0x01}) + sync}, 7, 0},
        {"bad checksum skipped, good frame behind it", {Bytes({0x03, 0x02, 0x01, 0x00}) + sync}, 7, 0},
        // A stray byte that reads as a long length holds everything behind
        // it until that many bytes are there.
        {"stray length byte", {Bytes({0x21}) + sync}, 0, 7},
    };
    for (const auto& c : cases) {
        slot->SyncSource = 0;
        slot->ReceiveBuffer.clear();
        for (const auto& p : c.pieces) {
            sock->deliver(p);
            Run(10);
        }
        EXPECT_EQ(slot->SyncSource, c.syncSource) << c.what;
        EXPECT_EQ(slot->ReceiveBuffer.size(), c.left) << c.what;
    }
}

TEST_F(OstraSlotTest, ABigQueueWaitsForClearToSend)
{
    BringUp(21);
    // One-byte items, so that every batch is exactly 255 bytes.
    const std::string filler(600, '\x01');
    auto fillers = [](const std::string& out) { return std::count(out.begin(), out.end(), '\x01'); };
    slot->Messenger->SendEthernet(filler);
    EXPECT_EQ(fillers(Run(10)), 255);
    EXPECT_FALSE(slot->ClearToSend);
    EXPECT_EQ(Run(500), "");
    sock->deliver(CardFrame({50, 0}));
    EXPECT_EQ(fillers(Run(10)), 255);
    EXPECT_EQ(fillers(Run(10)), 90); // below 512 left: no wait
    EXPECT_TRUE(slot->ClearToSend);

    // Without the grant the slot goes on by itself after 1000 steps.
    slot->Messenger->SendEthernet(filler);
    Run(10);
    ASSERT_FALSE(slot->ClearToSend);
    std::string out;
    for (int s = 0; s < 10; ++s) {
        sock->deliver(Bytes({0xAA})); // the card stays alive, but grants nothing
        out += Run(1000);
    }
    EXPECT_EQ(fillers(out), 0);
    EXPECT_EQ(fillers(Run(20)), 255);
}

TEST_F(OstraSlotTest, MessageErrorResetsTheLinkAndSendsZeros)
{
    BringUp(21);
    slot->Messenger->SendEthernet(CardFrame({45, 0, 1}));
    sock->deliver(CardFrame({2, 0}));
    const std::string out = Run(20);
    EXPECT_EQ(out.substr(0, 250), std::string(250, '\0'));
    EXPECT_EQ(out.size(), 250u); // the queued frame was dropped with the queue
    EXPECT_EQ(log.back(), "** Ostra 1 reports message error");
}

TEST_F(OstraSlotTest, RackDataBehindTheCardReachesTheMainWindow)
{
    racks.onPort16 = 3;
    racks.records[3][0] = 41;
    racks.records[3][1] = 16;
    std::vector<int> online;
    std::vector<tIODeviceData> data;
    slot->OnOstracardOnLine = [&](int n) { online.push_back(n); };
    slot->OnRackDeviceDataReceived = [&](int n, const tIODeviceData& d) {
        EXPECT_EQ(n, 3);
        data.push_back(d);
    };
    BringUp(20);
    EXPECT_EQ(racks.records[3][4] & 3, 3);
    EXPECT_EQ(online, std::vector<int>{3});

    data.clear();
    sock->deliver(CardFrame({36, 0, 1}) + CardFrame({40, 0, 9}) + CardFrame({41, 0, 2, 0x12}) +
                  CardFrame({41, 0, 14, 0x34}) + CardFrame({42, 0, 15, 8, 0x07, 0xE2}));
    const std::string out = Run(10);
    EXPECT_EQ(out, CardFrame({33, 0, 0}) + CardFrame({33, 0, 255}));
    ASSERT_EQ(data.size(), 1u);
    EXPECT_EQ(data[0].RackType(), 9);
    EXPECT_EQ(data[0].SlotData(2), 0x1200);
    EXPECT_EQ(data[0].AssemblyDay(), 15);
    EXPECT_EQ(data[0].AssemblyMonth(), 8);
    EXPECT_EQ(data[0].AssemblyYear(), 2018);
    for (int s = 0; s < 14; ++s) {
        if (s != 2) { EXPECT_EQ(data[0].SlotData(s), 0) << s; }
    }

    // The card going silent takes it off line.
    Run(7000);
    EXPECT_EQ(racks.records[3][4] & 2, 0);
}

TEST_F(OstraSlotTest, DuzodAddressRequestIsAnsweredWithThisComputersAddress)
{
    BringUp(36);
    sock->deliver(CardFrame({96, 0, 0}));
    const std::string out = Run(10);
    EXPECT_EQ(out, CardFrame({96, 0, 2, 0, 192, 168, 1, 20, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
    ASSERT_TRUE(slot->DuzodData);

    sock->deliver(CardFrame({101, 0, 3, 0x1F, 0x90, 0x00, 0x50}));
    Run(10);
    EXPECT_EQ(slot->DuzodData->ExternalDeviceCode, 3);
    EXPECT_EQ(slot->DuzodData->ExternalControlPorts[0], 8080);
    EXPECT_EQ(slot->DuzodData->ExternalControlPorts[1], 80);
}

} // namespace
