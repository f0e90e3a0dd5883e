#include "cards/madi_control.h"
#include "cards/ostra_tunnel.h"

#include <gtest/gtest.h>

#include "fake_tcp.h"
#include "platform/virtual_event_loop.h"

using namespace ravelin;
using namespace ravelin::cards;
using namespace ravelin::cards::test;
using engine::MakeHeader;
using engine::tEngineMessage;

namespace {

// The rack control message of the examples: code 0x2104 (0x0B28, channel 3),
// n 4, the words 0x0010 and 0x0020, checksum 0x2138.
const std::string kMADI = Bytes({0x04, 0x21, 0x04, 0x00, 0x10, 0x00, 0x20, 0x00, 0x38, 0x21});
const uint8_t kData[] = {0x10, 0x00, 0x20, 0x00};

// Records 1 and 2 are the card-slot racks on ports 16 and 17, MADI mode 57.
struct SlotRacks : OstraRackAccess {
    std::array<std::array<uint8_t, 210>, 50> records{};
    SlotRacks()
    {
        for (int i : {1, 2}) {
            records[size_t(i)][1] = uint8_t(15 + i);
            records[size_t(i)][2] = 57;
        }
    }
    int RackOnPort(int port) override { return port == 16 || port == 17 ? port - 15 : -1; }
    uint8_t* RackRecord(int n) override { return records[size_t(n)].data(); }
    uint32_t EngineSampleRate(int) override { return 0; }
    int PartnerRack(int, int) override { return 0; }
};

// Both slots on connected fake links, their rack numbers known.
class MADITunnelTest : public ::testing::Test {
protected:
    MADITunnelTest()
    {
        for (int i : {0, 1}) {
            OstraSlotServices s;
            s.engineAddress = "10.0.0.5";
            s.link = FakeLink(sock[i], log, &loop);
            s.racks = &racks;
            slots[size_t(i)] = NewOstraSlot(i, s);
            sock[i]->connect();
            slots[size_t(i)]->Service();
            slots[size_t(i)]->CardType = 20; // a MADI card running its firmware
        }
    }
    // What the slot sends on its next service step.
    std::string Sent(int i)
    {
        sock[i]->sent.clear();
        slots[size_t(i)]->Service();
        return sock[i]->allSent();
    }

    platform::VirtualEventLoop loop;
    std::shared_ptr<FakeTcpState> sock[2] = {std::make_shared<FakeTcpState>(), std::make_shared<FakeTcpState>()};
    std::vector<std::string> log;
    SlotRacks racks;
    tOstraSlots slots;
};

TEST(MADIControl, EngineMessageBecomesTheMADIMessage)
{
    EXPECT_EQ(EngineToMADIMessage(MakeHeader(0x0B28, 16, 3), kData, 4), kMADI);
    // An odd last byte has no word to go in.
    EXPECT_EQ(EngineToMADIMessage(MakeHeader(0x0B28, 16, 3), kData, 3),
              Bytes({0x04, 0x21, 0x03, 0x00, 0x10, 0x00, 0x17, 0x21}));
}

TEST(MADIControl, MADIMessageBecomesTheEngineMessage)
{
    tEngineMessage e;
    ASSERT_TRUE(MADIToEngineMessage(kMADI, 0, e));
    EXPECT_EQ(e.Header(), MakeHeader(0x0B28, 16, 3));
    EXPECT_EQ(e.WordCount(), 9);
    EXPECT_EQ(e.Data32(), 0x00200010u);
    EXPECT_EQ(e.Word(5), 0x0010);
    EXPECT_EQ(e.Word(6), 0x0020);
    EXPECT_EQ(e.Word(7), 0x2138);
    EXPECT_EQ(e.Word(8), 0);
    EXPECT_EQ(e.Word(9), 0);

    ASSERT_TRUE(MADIToEngineMessage(kMADI, 1, e));
    EXPECT_EQ(e.Header().Band(), 17);
}

TEST(MADIControl, CodesBothWays)
{
    struct Case {
        uint32_t header; // IDlo with the channel in the top byte
        uint16_t code;
    };
    const Case cases[] = {
        {0x0B15, 0x2003},         {0x0B25, 0x2D5A},         {0x0BC0, 0x2020},
        {0x0BCA, 0x202A},         {0x0B8B, 0x4D00},         {0x00000B28, 0x2101},
        {0x37000B81, 0x4238},     {0x05000B9C, 0x6A06},     {0x3E000B28, 0x213F},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.code);
        EXPECT_EQ(EngineToMADICode(c.header), c.code);
        EXPECT_EQ(uint32_t(MADIToEngineID(c.code)), c.header);
    }
    // The channel number is read back one below the code, 0x2100 included.
    EXPECT_EQ(uint32_t(MADIToEngineID(0x2100)), 0xFF000B28u);
    // Outside the table, and past the 56 codes of a channel range.
    for (uint16_t code : {0x0000, 0x2002, 0x2140, 0x4200, 0x4239, 0x4D01})
        EXPECT_EQ(uint32_t(MADIToEngineID(code)), 0u) << code;
    for (uint32_t header : {0x0B00u, 0x0B16u, 0x0C28u})
        EXPECT_EQ(EngineToMADICode(header), 0) << header;
}

TEST(MADIControl, MessagesThatCannotBeConvertedAreDropped)
{
    std::vector<uint8_t> long241(241, 1);
    EXPECT_EQ(EngineToMADIMessage(MakeHeader(0x0B28, 16, 0), long241.data(), 241), "");
    EXPECT_EQ(EngineToMADIMessage(MakeHeader(0x0B28, 16, 0), long241.data(), 240).size(), 246u);
    EXPECT_EQ(EngineToMADIMessage(MakeHeader(0x0B16, 16, 0), kData, 4), "");

    tEngineMessage e;
    struct Case {
        const char* what;
        std::string madi;
    };
    const Case drops[] = {
        {"no counterpart", Bytes({0x02, 0x20, 0x02, 0x00, 0x04, 0x20})},
        {"shorter than its n", kMADI.substr(0, 8)},
        {"n below 2", Bytes({0x03, 0x20, 0x01, 0x00, 0x04, 0x20})},
        {"n past the word count", Bytes({0x03, 0x20, 0xFB, 0x00}) + std::string(600, '\0')},
        {"no room for n", Bytes({0x03, 0x20})},
    };
    for (const auto& c : drops) {
        EXPECT_FALSE(MADIToEngineMessage(c.madi, 0, e)) << c.what;
        EXPECT_EQ(e.WordCount(), 0) << c.what;
    }
}

TEST_F(MADITunnelTest, EngineMessageGoesToTheCardAsMessage31)
{
    EXPECT_TRUE(SendToOstraSlot(slots, MakeHeader(0x0B28, 16, 3), kData, 4));
    EXPECT_EQ(Sent(0), Bytes({0x0D, 0x1F, 0x00, 0x04, 0x21, 0x04, 0x00, 0x10, 0x00, 0x20, 0x00, 0x38, 0x21, 0xDE}));
    EXPECT_EQ(Sent(1), "");
}

TEST_F(MADITunnelTest, TransmitModeSendsTheCardsModeMessages)
{
    struct Case {
        tMADITransmitMode mode;
        uint8_t value, src, smux;
    };
    // 57 is the record's mode value; high speed halves it and sets the top bit.
    const Case cases[] = {{madi48k, 57, 1, 0}, {TarvolaControl, 57, 0, 0}, {madi96kSmux, 57, 1, 1},
                          {madi96kHispeed, 0x9C, 1, 0}};
    for (const auto& c : cases) {
        const uint8_t mode[] = {uint8_t(c.mode), 0, 0, 0};
        EXPECT_TRUE(SendToOstraSlot(slots, MakeHeader(0x0B1B, 17, 0), mode, 4));
        EXPECT_EQ(slots[1]->MADITransmitMode, c.mode);
        EXPECT_EQ(Sent(1), CardFrame({35, 0, 0, c.value}) + CardFrame({35, 1, 0, c.value}) +
                               CardFrame({45, 0, c.src}) + CardFrame({55, 0, c.smux}) + CardFrame({55, 1, c.smux}))
            << int(c.mode);
        EXPECT_EQ(Sent(0), "");
    }
}

TEST_F(MADITunnelTest, TransmitModeWithoutARackRecordSkipsTheModeMessages)
{
    slots[1]->nRack = -1;
    const uint8_t mode[] = {0, 0, 0, 0};
    SendToOstraSlot(slots, MakeHeader(0x0B1B, 17, 0), mode, 4);
    sock[1]->sent.clear();
    // The service step looks the rack up again; send before it does.
    slots[1]->Messenger->SendBufferedOutput();
    EXPECT_EQ(sock[1]->allSent(), CardFrame({45, 0, 1}) + CardFrame({55, 0, 0}) + CardFrame({55, 1, 0}));
}

TEST_F(MADITunnelTest, NothingGoesForWhatCannotBeSent)
{
    std::vector<uint8_t> long241(241, 1);
    EXPECT_TRUE(SendToOstraSlot(slots, MakeHeader(0x0B28, 16, 0), long241.data(), 241));
    EXPECT_TRUE(SendToOstraSlot(slots, MakeHeader(0x0B16, 16, 0), kData, 4));
    EXPECT_EQ(Sent(0), "");

    slots[0].reset();
    EXPECT_FALSE(SendToOstraSlot(slots, MakeHeader(0x0B28, 16, 3), kData, 4));
    EXPECT_FALSE(SendToOstraSlot(slots, MakeHeader(0x0B28, 18, 3), kData, 4));
    EXPECT_EQ(Sent(1), "");
}

TEST_F(MADITunnelTest, NothingGoesToACardNotKnownToRunItsFirmware)
{
    struct Case {
        const char* what;
        uint8_t cardType;
        bool inBootLoader;
        int restartTicks;
    };
    const Case cases[] = {{"no card reported yet", 0, false, 0},
                          {"waiting in its boot loader", 20, true, 0},
                          {"restarting for a firmware update", 20, false, 50}};
    const uint8_t mode[] = {0, 0, 0, 0};
    for (const auto& c : cases) {
        slots[0]->CardType = c.cardType;
        slots[0]->InBootLoader = c.inBootLoader;
        slots[0]->RestartTicks = c.restartTicks;
        EXPECT_TRUE(SendToOstraSlot(slots, MakeHeader(0x0B28, 16, 3), kData, 4)) << c.what;
        EXPECT_TRUE(SendToOstraSlot(slots, MakeHeader(0x0B1B, 16, 0), mode, 4)) << c.what;
        sock[0]->sent.clear();
        slots[0]->Messenger->SendBufferedOutput();
        EXPECT_EQ(sock[0]->allSent(), "") << c.what;
    }
}

TEST_F(MADITunnelTest, MessageFromTheCardReachesTheHandlerWithoutItsFirstDataByte)
{
    std::string got;
    int gotRack = 0, gotSlot = -1;
    slots[0]->OnMADIMessageReceived = [&](int nRack, int nSlot, const std::string& m) {
        gotRack = nRack;
        gotSlot = nSlot;
        got = m;
    };
    sock[0]->deliver(Bytes({0xAA}) + CardFrame({31, 0, 0x04, 0x21, 0x04, 0x00, 0x10, 0x00, 0x20, 0x00, 0x38, 0x21}));
    slots[0]->Service();
    EXPECT_EQ(got, kMADI);
    EXPECT_EQ(gotRack, 1);
    EXPECT_EQ(gotSlot, 0);
}

TEST(MADIControl, RackDeviceDataBecomesTheEngineDeviceDataMessage)
{
    tIODeviceData d;
    for (int i = 0; i < tIODeviceData::Size; ++i) d.Bytes[size_t(i)] = uint8_t(i + 1);
    const tEngineMessage e = RackDeviceDataMessage(17, d);
    EXPECT_EQ(e.WordCount(), 25);
    EXPECT_EQ(e.Header(), MakeHeader(0x0B15, 17, 0));
    EXPECT_EQ(e.Data32(), 0x04030201u);
    EXPECT_TRUE(std::equal(d.Bytes.begin(), d.Bytes.end(), e.Data()));
}

} // namespace
