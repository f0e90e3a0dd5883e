// The card slots over real loopback sockets against the virtual console's
// cards: the program's link and the card's server written apart.

#include <gtest/gtest.h>
#include <unistd.h>

#include "card_server.h"
#include "cards/ostra_slot.h"
#include "platform/plain_event_loop.h"

using namespace ravelin;

namespace {

TEST(CardLoopback, SlotsFindARunningCardAndOneInItsBootLoader)
{
    // An address of this test's own: the card ports are fixed.
    const unsigned pid = unsigned(::getpid());
    const std::string address = "127.250." + std::to_string((pid >> 8) & 255) + "." + std::to_string(pid & 255);

    sim::CardConfig madi;
    madi.slot = 0;
    madi.type = 20;
    madi.version = 6;
    madi.fpgaText = "22/04/2021";
    sim::CardConfig waiting;
    waiting.slot = 1;
    waiting.startInBootLoader = true;
    sim::VirtualCard card0(madi, address), card1(waiting, address);
    card0.start();
    card1.start();

    platform::PlainEventLoop loop;
    std::vector<std::string> log;
    cards::OstraSlotServices services;
    services.engineAddress = address;
    services.link.newClient = [&loop](const std::string& host, int port, platform::TcpClient::Handlers h) {
        return platform::NewTcpClient(loop, host, port, std::move(h));
    };
    services.link.writeLog = [&log](const std::string& line) { log.push_back(line); };
    cards::tOstraSlots slots;
    cards::CreateOstraSlots(slots, services);

    loop.addTimer(10, [&] {
        cards::ServiceOstraSlots(slots);
        if (slots[0]->CardType != 0 && slots[1]->InBootLoader) loop.quit();
    });
    loop.runFor(3000);

    EXPECT_EQ(slots[0]->CardType, 20);
    EXPECT_EQ(slots[0]->CardVersion, 6);
    EXPECT_EQ(slots[0]->FPGAVersion, "22/04/2021");
    EXPECT_FALSE(slots[0]->InBootLoader);
    EXPECT_TRUE(slots[1]->InBootLoader);
    EXPECT_EQ(slots[1]->CardType, 0);
    EXPECT_EQ(card0.record().syncs, 1);
    EXPECT_GE(card0.record().polls, 1);
    EXPECT_EQ(card1.record().polls, 0);
    EXPECT_NE(std::find(log.begin(), log.end(), "Ostra 1 Connected to server"), log.end());

    // The card going away is seen as a disconnection.
    card0.stop();
    loop.addTimer(10, [&] {
        if (!slots[0]->Messenger->IsConnected()) loop.quit();
    });
    loop.runFor(1000);
    EXPECT_FALSE(slots[0]->Messenger->IsConnected());
    cards::FreeOstraSlots(slots);
    EXPECT_FALSE(slots[0]);
}

TEST(CardLoopback, RefusedConnectionIsReportedOnce)
{
    const unsigned pid = unsigned(::getpid());
    const std::string address = "127.251." + std::to_string((pid >> 8) & 255) + "." + std::to_string(pid & 255);
    platform::PlainEventLoop loop;
    std::vector<std::string> log;
    cards::OstraLinkServices link;
    link.newClient = [&loop](const std::string& host, int port, platform::TcpClient::Handlers h) {
        return platform::NewTcpClient(loop, host, port, std::move(h));
    };
    link.writeLog = [&](const std::string& line) {
        log.push_back(line);
        if (log.size() == 2) loop.quit();
    };
    cards::tOstraMessenger messenger(address, 0, link);
    loop.runFor(1000);
    EXPECT_EQ(log, (std::vector<std::string>{"** Ostra 1 Client socket error 10061",
                                             "** Ostra 1 Cannot connect to Ostra 1 at " + address}));
}

} // namespace
