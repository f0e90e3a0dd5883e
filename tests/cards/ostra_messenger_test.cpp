#include "cards/ostra_messenger.h"

#include <gtest/gtest.h>

#include "fake_tcp.h"
#include "platform/virtual_event_loop.h"

using namespace ravelin;
using namespace ravelin::cards;
using namespace ravelin::cards::test;

namespace {

// A frame-shaped item of n bytes: its first byte counts the rest.
std::string Item(int n, int fill = 0x40)
{
    std::string s(static_cast<size_t>(n), static_cast<char>(fill));
    s[0] = char(n - 1);
    return s;
}

class OstraMessengerTest : public ::testing::Test {
protected:
    platform::VirtualEventLoop loop;
    std::shared_ptr<FakeTcpState> sock = std::make_shared<FakeTcpState>();
    std::vector<std::string> log;
    tOstraMessenger link{"10.0.0.5", 1, FakeLink(sock, log, &loop)};
};

TEST_F(OstraMessengerTest, ConnectsToTheCardPortOfItsSlotAtOnce)
{
    EXPECT_EQ(sock->host, "10.0.0.5");
    EXPECT_EQ(sock->port, 52002);
    EXPECT_EQ(sock->opens, 1);
    EXPECT_EQ(link.Ostraname, "Ostra 2");
    sock->connect();
    EXPECT_TRUE(link.IsConnected());
    EXPECT_EQ(log, std::vector<std::string>{"Ostra 2 Connected to server"});
}

TEST_F(OstraMessengerTest, QueuedMessagesWaitForTheConnectionAndLeaveInOneSend)
{
    ASSERT_TRUE(link.SendEthernet(Item(5)));
    ASSERT_TRUE(link.SendEthernet(Item(7)));
    EXPECT_FALSE(link.SendBufferedOutput());
    EXPECT_EQ(link.OutgoingCount(), 12);
    sock->connect(); // the write-ready notice that follows the connection sends the batch
    ASSERT_EQ(sock->sent.size(), 1u);
    EXPECT_EQ(sock->sent[0], Item(5) + Item(7));
    EXPECT_EQ(link.TXcount, 2);
}

TEST_F(OstraMessengerTest, BatchesEndOnItemBoundaries)
{
    sock->connect();
    struct Case {
        const char* what;
        std::string queued;
        std::vector<std::string> batches;
    };
    std::string tenItems;
    for (int i = 0; i < 26; ++i) tenItems += Item(10);
    const Case cases[] = {
        {"boot-loader synchronisation alone", Bytes({0x55, 0x55}), {Bytes({0x55, 0x55})}},
        // 0x02 is one byte of its own, then 0x03 starts a four-byte item.
        {"boot-loader byte then a frame", Bytes({0x02, 0x03, 0x1E, 0x00, 0x21}), {Bytes({0x02, 0x03, 0x1E, 0x00, 0x21})}},
        // 25 items make 250 bytes, below the cut, so the 26th goes along.
        {"cut after the item that passes 255", tenItems + Item(10), {tenItems, Item(10)}},
    };
    for (const auto& c : cases) {
        sock->sent.clear();
        link.SendEthernet(c.queued);
        while (link.SendBufferedOutput()) {}
        EXPECT_EQ(sock->sent, c.batches) << c.what;
    }
}

TEST_F(OstraMessengerTest, AnItemCutShortIsSentAsFarAsItGoesAndReported)
{
    sock->connect();
    link.SendEthernet(Bytes({0x09, 1, 2, 3}));
    EXPECT_TRUE(link.SendBufferedOutput());
    EXPECT_EQ(sock->allSent(), Bytes({0x09, 1, 2, 3}));
    EXPECT_EQ(log.back(), "** Ostra 2 Tx buffer error: length 10 not complete");
}

TEST_F(OstraMessengerTest, BytesTheSocketDoesNotTakeAreKeptForTheNextWriteReady)
{
    sock->connect();
    sock->sendResults = {-platform::kSocketWouldBlock, 3};
    link.SendEthernet(Item(12));
    EXPECT_FALSE(link.SendBufferedOutput()); // would block: nothing reported, nothing lost
    EXPECT_EQ(log.size(), 1u);
    EXPECT_FALSE(link.SendBufferedOutput()); // takes 3 of 12
    EXPECT_EQ(log.back(), "** Ostra 2 Tx length error: sent 3 of 12");
    sock->handlers.writable();
    EXPECT_EQ(sock->allSent(), Item(12));
    EXPECT_EQ(link.OutgoingCount(), 0);
}

TEST_F(OstraMessengerTest, SendErrorIsLogged)
{
    sock->connect();
    sock->sendResults = {-10054};
    link.SendEthernet(Item(4));
    EXPECT_FALSE(link.SendBufferedOutput());
    EXPECT_EQ(log.back(), "** Ostra 2 Tx error 10054");
}

TEST_F(OstraMessengerTest, AFullQueueWaitsTwoSecondsThenGivesUp)
{
    // No connection, so nothing drains the queue: 16383 bytes fit.
    const std::string big(16384, '\x07');
    EXPECT_FALSE(link.SendEthernet(big));
    EXPECT_EQ(loop.sleptMs(), 2000);
    EXPECT_EQ(link.TXFailCount, 1);
    EXPECT_EQ(link.TXcount, 0);
    EXPECT_EQ(log.back(), "** Ostra 2 Tx queue overflow");
    EXPECT_EQ(std::count(log.begin(), log.end(), "** Ostra 2 Tx queue full"), 20);
    EXPECT_EQ(link.OutgoingCount(), 16383);
}

TEST_F(OstraMessengerTest, ReadsAtMost254BytesPerNoticeAndReportsOverflow)
{
    sock->connect();
    sock->deliver(std::string(300, 'x'));
    EXPECT_EQ(sock->receiveSizes, std::vector<int>{254});
    EXPECT_EQ(link.ReceiveBufferedInput().size(), 254u);
    link.ClientSocketRead();
    EXPECT_EQ(link.ReceiveBufferedInput(), std::string(46, 'x'));
    EXPECT_EQ(link.RXcount, 2);

    // 65 full reads are more than the 16383 bytes the queue holds.
    for (int i = 0; i < 65; ++i) sock->deliver(std::string(254, 'y'));
    EXPECT_EQ(link.RXFailCount, 1);
    EXPECT_EQ(log.back(), "** Ostra 2 Rx queue overflow");
    uint8_t raw[20000];
    EXPECT_EQ(link.ReceiveBuffer(raw, sizeof raw), 16383);
}

TEST_F(OstraMessengerTest, RawBootLoaderBytesBypassTheQueue)
{
    uint8_t ping[] = {0x03, 0x20, 0x20};
    EXPECT_EQ(link.SendBuffer(ping, 3), 0); // not connected
    sock->connect();
    link.SendEthernet(Item(4));
    EXPECT_EQ(link.SendBuffer(ping, 3), 3);
    EXPECT_EQ(sock->allSent(), Bytes({0x03, 0x20, 0x20}));
    EXPECT_EQ(link.OutgoingCount(), 4);
}

TEST_F(OstraMessengerTest, RefusedStaysDownTimedOutRetriesAtOnce)
{
    sock->handlers.error(platform::kSocketRefused);
    EXPECT_EQ(log, (std::vector<std::string>{"** Ostra 2 Client socket error 10061",
                                             "** Ostra 2 Cannot connect to Ostra 2 at 10.0.0.5"}));
    EXPECT_EQ(sock->opens, 1);

    log.clear();
    sock->handlers.error(platform::kSocketTimedOut);
    EXPECT_EQ(log, (std::vector<std::string>{"** Ostra 2 Client socket error 10060",
                                             "** Ostra 2 Connection to Ostra 2 at 10.0.0.5 timed out. Retrying"}));
    EXPECT_EQ(sock->opens, 2);
}

TEST_F(OstraMessengerTest, DisconnectStopsSending)
{
    sock->connect();
    sock->isConnected = false;
    sock->handlers.disconnected();
    EXPECT_EQ(log.back(), "Ostra 2 Client disconnected");
    link.SendEthernet(Item(4));
    EXPECT_FALSE(link.SendBufferedOutput());
    EXPECT_TRUE(sock->sent.empty());
}

} // namespace
