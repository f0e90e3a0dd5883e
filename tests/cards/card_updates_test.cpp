// Card firmware and FPGA updates in virtual time, against a card played by
// the test byte for byte: its boot loader, its running firmware's file update.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "cards/ostra_fpga_update.h"
#include "cards/ostra_tiva_update.h"
#include "fake_tcp.h"
#include "played_card.h"
#include "mcu/fake_control.h"
#include "platform/virtual_event_loop.h"

using namespace ravelin;
using namespace ravelin::cards;
using namespace ravelin::cards::test;
namespace fs = std::filesystem;

namespace {

class CardUpdateTest : public ::testing::Test {
protected:
    CardUpdateTest()
    {
        folder = fs::temp_directory_path() / ("ravelin-cards-" + std::to_string(::getpid()) + "-" +
                                              ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(folder / "Ostra");
        services.engineAddress = "10.0.0.5";
        services.link = FakeLink(sock, log, &loop);
        slot = NewOstraSlot(0, services);
        card.sock = sock;
        loop.addTimer(10, [this] {
            slot->Service();
            if (update) update->CommsTick();
            card.Answer();
        });
        control.row = 15;
    }
    ~CardUpdateTest() override
    {
        update.reset();
        fs::remove_all(folder);
    }
    void Write(const std::string& name, size_t size)
    {
        file.clear();
        for (size_t i = 0; i < size; ++i) file.push_back(uint8_t(i * 7 + 3));
        std::ofstream(folder / "Ostra" / name, std::ios::binary)
            .write(reinterpret_cast<const char*>(file.data()), std::streamsize(size));
    }
    // The card answers the synchronisation and the first poll.
    void BringUp()
    {
        sock->connect();
        loop.advance(2100);
        ASSERT_EQ(slot->CardType, card.bootLoader ? 0 : 20);
    }
    void StartTiva(const std::string& name = "tarvola_ostra_madi.bin")
    {
        auto u = std::make_unique<OstraTivaUpdate>(control, slot.get(), folder.string(), "Ostra\\" + name);
        tiva = u.get();
        update = std::move(u);
        update->Start();
    }
    void StartFPGA(const std::string& name = "tarvola_ostra_MADI_fpga.bit")
    {
        control.row = 16;
        update = std::make_unique<OstraFPGAUpdate>(control, slot.get(), folder.string(), "Ostra\\" + name);
        update->Start();
    }
    std::string SentSince(size_t from) const
    {
        std::string s;
        for (size_t i = from; i < sock->sent.size(); ++i) s += sock->sent[i];
        return s;
    }

    fs::path folder;
    platform::VirtualEventLoop loop;
    std::shared_ptr<FakeTcpState> sock = std::make_shared<FakeTcpState>();
    std::vector<std::string> log;
    OstraSlotServices services;
    std::unique_ptr<tOstraSlot> slot;
    PlayedCard card;
    mcu::testing::FakeControl control;
    std::unique_ptr<platform::RunningUpdate> update;
    OstraTivaUpdate* tiva = nullptr;
    std::vector<uint8_t> file;
};

TEST_F(CardUpdateTest, RunningCardRestartsIntoItsBootLoaderTakesTheImageAndCountsOnlyOnceBack)
{
    Write("tarvola_ostra_madi.bin", 1000);
    BringUp();
    const size_t from = sock->sent.size();
    StartTiva();
    EXPECT_EQ(SentSince(from), kRestart) << "the restart request goes out at once, alone";
    loop.advance(990);
    EXPECT_EQ(SentSince(from), kRestart) << "nothing during the card's second to restart";
    loop.advance(10);
    ASSERT_GT(sock->sent.size(), from + 1);
    EXPECT_EQ(sock->sent[from + 1], kPing);
    loop.advance(500);
    ASSERT_EQ(card.resets, 1);
    EXPECT_EQ(card.image, file);
    EXPECT_EQ(card.packets[1], Bytes({0x0B, 0x0C, 0x21, 0, 0, 0, 0, 0, 0, 0x03, 0xE8}));
    EXPECT_EQ(control.panel, " Please wait - restarting Ostra card...");
    EXPECT_EQ(control.progress, 100);
    EXPECT_EQ(slot->CodeUpdater, nullptr);

    // Not done before the restarted card has reported its type.
    tiva->BackOnline();
    EXPECT_EQ(control.ends(), 0);
    EXPECT_EQ(slot->CardType, 0);
    loop.advance(1500);
    EXPECT_EQ(slot->CardType, 20);
    tiva->BackOnline();
    EXPECT_EQ(control.finishes, 1);
    EXPECT_TRUE(control.cancels.empty());
}

TEST_F(CardUpdateTest, CardWaitingInItsBootLoaderIsPingedFirstAndFoundByTheRefreshCheck)
{
    Write("tarvola_ostra.bin", 300);
    card.bootLoader = true;
    BringUp();
    EXPECT_TRUE(slot->InBootLoader);
    tOstraSlots slots{std::move(slot), nullptr};
    std::string line;
    EXPECT_EQ(OstraTiva_CheckBootLoader(slots, line), 15);
    EXPECT_EQ(line, "BootLoader detected, row 0, cts 1, bl 1");
    slot = std::move(slots[0]);
    const size_t from = sock->sent.size();
    StartTiva("tarvola_ostra.bin");
    EXPECT_EQ(SentSince(from), kPing);
    loop.advance(300);
    EXPECT_EQ(card.image, file);
    loop.advance(1500);
    tiva->BackOnline();
    EXPECT_EQ(control.finishes, 1);
}

TEST_F(CardUpdateTest, FailedFirmwareUpdateGivesTheSlotBackAndASecondAttemptSucceeds)
{
    Write("tarvola_ostra_madi.bin", 1000);
    card.failDataPacket = 2;
    BringUp();
    StartTiva();
    loop.advance(1500);
    ASSERT_EQ(control.cancels.size(), 1u);
    EXPECT_EQ(control.panel, " Ostra updating 48% error: Flash Failure");
    EXPECT_EQ(slot->CodeUpdater, nullptr);
    EXPECT_EQ(slot->UpdateMessenger, nullptr);
    update.reset();

    // The slot synchronises again and finds the card in its boot loader.
    loop.advance(1000);
    EXPECT_TRUE(slot->InBootLoader);
    card.status = 0x40;
    card.image.clear();
    control = {};
    control.row = 15;
    StartTiva();
    loop.advance(2500);
    EXPECT_EQ(card.image, file);
    tiva->BackOnline();
    EXPECT_EQ(control.finishes, 1);
}

TEST_F(CardUpdateTest, SilentBootLoaderEndsOnTheWatchdogAndThePollsResume)
{
    Write("tarvola_ostra_madi.bin", 1000);
    BringUp();
    StartTiva();
    loop.advance(1040);
    card.silent = true;
    loop.advance(5000);
    EXPECT_EQ(control.ends(), 1) << "the updater's own time-out after image data";
    EXPECT_EQ(control.panel.rfind(" error: Timeout"), control.panel.size() - 15) << control.panel;
    update->NoAnswer(control);
    EXPECT_EQ(control.ends(), 1) << "ended once";
    update.reset();
    card.silent = false;
    card.bootLoader = false;
    const size_t from = sock->sent.size();
    loop.advance(2000);
    EXPECT_NE(SentSince(from).find(kSync), std::string::npos);
    EXPECT_EQ(slot->CardType, 20);
}

TEST_F(CardUpdateTest, WatchdogBeforeAnyDataReleasesTheSlot)
{
    Write("tarvola_ostra_madi.bin", 1000);
    card.silent = true;
    sock->connect();
    loop.advance(100);
    StartTiva();
    loop.advance(3000);
    EXPECT_EQ(control.ends(), 0) << "before image data silence only repeats the ping";
    update->NoAnswer(control);
    ASSERT_EQ(control.cancels, std::vector<std::string>{"no response"});
    EXPECT_FALSE(slot->CodeUpdating());
    update.reset();
    card.silent = false;
    card.bootLoader = false;
    loop.advance(2000);
    EXPECT_EQ(slot->CardType, 20);
}

TEST_F(CardUpdateTest, StartsThatCannotBeginEndAtOnceAndSendNothing)
{
    BringUp();
    const size_t from = sock->sent.size();
    StartTiva("missing.bin");
    ASSERT_EQ(control.cancels.size(), 1u);
    EXPECT_EQ(control.displayed.back(),
              "Cannot Update Code: file " + (folder / "Ostra\\missing.bin").string() + " not found");
    Write("empty.bin", 0);
    control = {};
    StartTiva("empty.bin");
    EXPECT_EQ(control.cancels.size(), 1u);
    EXPECT_EQ(SentSince(from), "");

    control = {};
    update = std::make_unique<OstraTivaUpdate>(control, nullptr, folder.string(), "Ostra\\x.bin");
    update->Start();
    EXPECT_EQ(control.cancels, std::vector<std::string>{"no response"});
}

TEST_F(CardUpdateTest, FPGAFileGoesInCardFramesAndEndsASecondAfterTheCardSaysSo)
{
    Write("tarvola_ostra_MADI_fpga.bit", 300);
    BringUp();
    const size_t from = sock->sent.size();
    StartFPGA();
    EXPECT_EQ(control.panel, " Ostra FPGA updating 0%");
    loop.advance(10);
    EXPECT_EQ(SentSince(from), Bytes({0x05, 0x27, 0x00, 0x00, 0x03, 0x2F}));
    // Erase progress, then the start acknowledged: packet 0 goes out.
    sock->deliver(CardFrame({39, 3, 0, 45, 0}) + CardFrame({39, 0, 0}));
    const int rearms = control.rearms;
    loop.advance(10);
    EXPECT_EQ(control.rearms, rearms) << "erase progress does not re-arm the watchdog";
    std::string data0 = Bytes({39, 1, 0, 0});
    data0.append(reinterpret_cast<const char*>(file.data()), 128);
    std::string f0(1, char(data0.size() + 1));
    f0 += data0;
    uint8_t sum = 0;
    for (char c : f0) sum = uint8_t(sum + uint8_t(c));
    f0.push_back(char(sum));
    EXPECT_EQ(SentSince(from).substr(6), f0);
    unsigned total = 0;
    for (uint8_t b : file) total += b;
    for (int n = 0; n < 3; ++n) {
        sock->deliver(CardFrame({39, 1, 0, 0, n}));
        loop.advance(10);
    }
    EXPECT_EQ(sock->sent.back(), CardFrame({39, 2, int(total >> 8 & 0xFF), int(total & 0xFF)}));
    EXPECT_EQ(control.panel, " Ostra FPGA updating 100%");
    sock->deliver(CardFrame({39, 2, 0}));
    loop.advance(990);
    EXPECT_EQ(control.ends(), 0) << "the card is given a second";
    loop.advance(20);
    EXPECT_EQ(control.finishes, 1);
    EXPECT_EQ(slot->FPGAUpdater, nullptr);
}

TEST_F(CardUpdateTest, FPGADeviceErrorAbortsAndTheSlotTakesTheNextUpdate)
{
    Write("tarvola_ostra_MADI_fpga.bit", 300);
    BringUp();
    StartFPGA();
    loop.advance(10);
    sock->deliver(CardFrame({39, 0, 0}));
    loop.advance(10);
    sock->deliver(CardFrame({39, 1, 4, 0, 0}));
    loop.advance(10);
    EXPECT_EQ(slot->FPGAUpdater, nullptr);
    EXPECT_EQ(control.displayed.back(), "Tiva file updater Flash error on packet 1\r\nUpdate aborted");
    loop.advance(1000);
    ASSERT_EQ(control.cancels.size(), 1u);
    update.reset();
    control = {};
    StartFPGA();
    EXPECT_TRUE(control.cancels.empty());
    EXPECT_NE(slot->FPGAUpdater, nullptr);
}

TEST_F(CardUpdateTest, EthernetMessengerSendsPastTheQueueAndNothingWithoutAConnection)
{
    tOstraMessenger link("10.0.0.5", 0, services.link);
    tTivaEthernetMessenger m(&link);
    const uint8_t ping[] = {0x03, 0x20, 0x20};
    EXPECT_EQ(m.Send(ping, 3), 0);
    sock->connect();
    link.SendEthernet(kPoll);
    const size_t from = sock->sent.size();
    EXPECT_EQ(m.Send(ping, 3), 3);
    EXPECT_EQ(SentSince(from), kPing);
    sock->deliver(Bytes({0x00, 0xCC}));
    uint8_t in[4];
    EXPECT_EQ(m.Receive(in, 4), 2);
    EXPECT_EQ(in[1], 0xCC);
    tTivaEthernetMessenger none(nullptr);
    EXPECT_EQ(none.Receive(in, 4), 0);
}

} // namespace
