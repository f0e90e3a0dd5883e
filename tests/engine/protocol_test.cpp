// The engine's wire format, numbering, framing and the reports the protocol
// itself acts on.

#include "engine_fixture.h"

namespace ravelin::engine::testing {
namespace {

using Protocol = EngineFixture;

TEST_F(Protocol, StandardRequestQueuesExactlySixteenBytes) {
    unit->Engine().SendEngineCommand(stRequest, MakeHeader(0x0026), 0);
    const std::vector<uint8_t> expected = {0x07, 0x03, 0x01, 0x00, 0x00, 0x00, 0x26, 0x00,
                                           0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x2E, 0x03};
    EXPECT_EQ(connection->sent, expected);
}

TEST_F(Protocol, RestartMessageIsUnnumberedAndNumberingWrapsPastZero) {
    auto& e = unit->Engine();
    e.InitialiseEngineComms();
    auto m = Sent();
    ASSERT_EQ(m.size(), 1u);
    EXPECT_EQ(m[0].Header(), 0x0015u);
    EXPECT_EQ(m[0].Data32(), 1u);
    EXPECT_EQ(m[0].Sequence(), 0);
    EXPECT_EQ(e.TxSequence, 0);
    EXPECT_EQ(e.SentEntry(0).WordCount, 0);

    e.TxSequence = 65534;
    e.SendEngineLong(MakeHeader(0x0002), 0);
    e.SendEngineLong(MakeHeader(0x0002), 0);
    m = Sent();
    ASSERT_EQ(m.size(), 2u);
    EXPECT_EQ(m[0].Sequence(), 65535);
    EXPECT_EQ(m[1].Sequence(), 1);
}

TEST_F(Protocol, DataMessagesFillWholeUnitsAndOverlongOnesAreRefused) {
    struct Case { int length; int wordCount; };
    for (Case c : {Case{1, 7}, Case{5, 11}, Case{500, 255}}) {
        std::vector<uint8_t> data(size_t(c.length), 0xAB);
        unit->Engine().SendEngineData(MakeHeader(0x0B00, 14, 0), data.data(), c.length, true);
        auto m = Sent();
        ASSERT_EQ(m.size(), 1u) << c.length;
        EXPECT_EQ(m[0].WordCount(), c.wordCount) << c.length;
    }
    std::vector<uint8_t> big(501, 0);
    unit->Engine().SendEngineData(MakeHeader(0x0B00, 14, 0), big.data(), 501, true);
    EXPECT_TRUE(Sent().empty());
    EXPECT_EQ(control.messages.back(), "Illegal engine message data length = 501");
}

TEST_F(Protocol, RackBehindACardGoesToItsSlotUnnumbered) {
    unit->Engine().SendEngineLong(MakeHeader(0x0B25, 16, 0), 0);
    EXPECT_TRUE(Sent().empty());
    ASSERT_EQ(window.slotHeaders.size(), 1u);
    EXPECT_EQ(window.slotHeaders[0], 0x00100B25u);
    EXPECT_EQ(unit->Engine().TxSequence, 0);
}

TEST_F(Protocol, FramingSkipsJunkAndWaitsForWholeMessages) {
    tEngineMessage reply = EngineReply(stRequestOK, 0x0026, {1, 0, 0, 0}, 5);  // 8 words
    std::vector<uint8_t> bytes = {0x01, 0x00, 0xFF, 0x02};
    auto b = Bytes(reply);
    bytes.insert(bytes.end(), b.begin(), b.end());
    // All but the checksum word: nothing is taken yet.
    connection->in.assign(bytes.begin(), bytes.end() - 2);
    tEngineMessage out;
    EXPECT_EQ(unit->Messenger()->ReceiveEngineMessage(out), 0);
    connection->in.assign(bytes.end() - 2, bytes.end());
    EXPECT_EQ(unit->Messenger()->ReceiveEngineMessage(out), 8);
    EXPECT_EQ(out.Header(), 0x0026u);
    EXPECT_TRUE(control.logged("Engine Rx data error: discarded first 2 words of 10"));
    EXPECT_TRUE(control.logged("Engine ** EngineMessenger Rx data error: discarded first 2 words of 10: 0001 02FF"));
    EXPECT_EQ(unit->Messenger()->InputQueued(), 0);

    // Two back to back come out in order; odd byte boundaries do not matter.
    auto a1 = Bytes(EngineReply(0, 0x0002, {}, 6)), a2 = Bytes(EngineReply(0, 0x0005, {}, 7));
    a1.insert(a1.end(), a2.begin(), a2.end());
    connection->in.assign(a1.begin(), a1.begin() + 5);
    EXPECT_EQ(unit->Messenger()->ReceiveEngineMessage(out), 0);
    connection->in.assign(a1.begin() + 5, a1.end());
    ASSERT_EQ(unit->Messenger()->ReceiveEngineMessage(out), 8);
    EXPECT_EQ(out.Header(), 0x0002u);
    ASSERT_EQ(unit->Messenger()->ReceiveEngineMessage(out), 8);
    EXPECT_EQ(out.Header(), 0x0005u);
}

TEST_F(Protocol, AFailedCandidateStaysDiscardedWhenTheMessageComesInALaterRead) {
    // Seven words that look like a message but fail their checksum, then
    // junk that claims a long message: neither may hide the reply behind it.
    std::vector<uint8_t> bytes = {0x06, 0, 1, 0, 2, 0, 3, 0, 4, 0, 5, 0, 0x99, 0x99, 0xFF, 0x00};
    connection->in = bytes;
    tEngineMessage out;
    EXPECT_EQ(unit->Messenger()->ReceiveEngineMessage(out), 0);
    EXPECT_EQ(unit->Messenger()->ReceiveEngineMessage(out), 0);
    connection->in = Bytes(EngineReply(stRequestOK, 0x0026, {1, 0, 0, 0}, 5));
    ASSERT_EQ(unit->Messenger()->ReceiveEngineMessage(out), 8);
    EXPECT_EQ(out.Header(), 0x0026u);
    EXPECT_TRUE(control.logged("Engine Rx data error: discarded first 8 words of 16"));
}

TEST_F(Protocol, GarbageWithoutAMessageDoesNotGrowTheQueueForever) {
    std::vector<uint8_t> junk(2 * 70000, 0x01);
    connection->in = junk;
    tEngineMessage out;
    EXPECT_EQ(unit->Messenger()->ReceiveEngineMessage(out), 0);
    EXPECT_LE(unit->Messenger()->InputQueued(), kMaxMessageWords);
    Reply(0, 0x0026, {0, 0, 0, 0});
    EXPECT_EQ(unit->Info.EngineFileSet, 0);
}

TEST_F(Protocol, SequenceGapsAreLoggedExceptARestartFromOne) {
    auto& e = unit->Engine();
    e.SkipSequenceCheck = true;
    Reply(EngineReply(0, 0x0002, {}, 10));
    Reply(EngineReply(0, 0x0002, {}, 11));
    Reply(EngineReply(0, 0x0002, {}, 13));
    Reply(EngineReply(0, 0x0002, {}, 1));
    EXPECT_EQ(std::count_if(control.log.begin(), control.log.end(),
                            [](auto& l) { return l.rfind("Streamer sequence error", 0) == 0; }),
              1);
    EXPECT_TRUE(control.logged("Streamer sequence error: 000D received instead of 000C"));
}

TEST_F(Protocol, LostMessagesAreSentAgainAcrossTheWrap) {
    auto& e = unit->Engine();
    e.InitialiseEngineComms();
    Sent();
    for (int s : {65530, 65535, 1, 3}) e.RecordSent(uint16_t(s), {7, uint32_t(0x0100 + (s & 0xFF)), 0});
    e.RecordSent(2, {11, 0x0200, 0});  // a longer message is not sent again
    e.RecordSent(100, {7, 0x0300, 0});  // outside the range
    std::vector<uint8_t> range = {0xFA, 0xFF, 3, 0};
    Reply(0, 0x0015, range);
    auto m = Sent();
    ASSERT_EQ(m.size(), 4u);
    EXPECT_EQ(m[0].Header(), 0x01FAu);
    EXPECT_EQ(m[3].Header(), 0x0103u);
    EXPECT_TRUE(control.logged("Sequence Error between 65530 and 3"));
}

TEST_F(Protocol, StatusReportsAndErrorStatusesAreLogged) {
    Reply(0, MakeHeader(0x001C, 72, 0), {});
    Reply(0, MakeHeader(0x001C, 5, 0), {0x34, 0x12, 0, 0});
    EXPECT_TRUE(control.logged("Status message 0x 5 from Eng: 0005001C Data = 1234 0000"));
    EXPECT_EQ(control.log.size(), 1u);
    Reply(stChecksumError, MakeHeader(0x0004, 2, 0), {});
    ASSERT_EQ(control.log.size(), 2u);
    EXPECT_EQ(control.log[1].rfind("status 5: Checksum Error:  07  05  ", 0), 0u) << control.log[1];
}

TEST_F(Protocol, StartupRepliesFillTheEngineInformation) {
    unit->InitialiseEngineComms();
    unit->SendStartupRequests();
    auto m = Sent();
    ASSERT_GE(m.size(), 13u);
    EXPECT_EQ(m[1].Header(), 0x0026u);
    EXPECT_EQ(m[1].Status(), stRequest);
    Reply(stRequestOK, 0x0026, {0, 0, 0, 0});
    EXPECT_FALSE(window.serialVisible);
    Reply(stRequestOK, 0x0027, {0xD2, 0x04, 0, 0, 0, 0, 0, 0});
    EXPECT_EQ(window.serial, "00000000000000001234");
    Reply(stRequestOK, MakeHeader(0x0002, 0, 0), {0, 1, 0, 1});
    Reply(stRequestOK, MakeHeader(0x0002, 2, 0), {0x02, 0x05, 0x19, 0x20});
    Reply(stRequestOK, MakeHeader(0x0002, 18, 0), {0x30, 0x09, 0x21, 0x20});
    Reply(stRequestOK, MakeHeader(0x0002, 21, 0), {0x30, 0x09, 0x21, 0x20});
    EXPECT_EQ(unit->Info.EngineCodeDates[2], (std::array<uint8_t, 4>{0x30, 0x09, 0x21, 0x20}));
    EXPECT_TRUE(control.logged("** Engine host dates: 02/05/2019 (permanent, running), 30/09/2021 (downloaded)"));
    EXPECT_EQ(window.engIn, "0x00150002 539035952");
}

TEST_F(Protocol, RestartWaitsForTheEngineAndClosesOnItsConfirmation) {
    control.panel = EngineDispatch::kRestarting;
    bool done = false;
    unit->Dispatch().RestartEngine([&] { done = true; });
    loop.advance(20);
    EXPECT_EQ(window.resets, 1);
    Sent();
    unit->Engine().SendEngineLong(MakeHeader(0x0002), 0);  // dropped while the reply is awaited
    EXPECT_TRUE(Sent().empty());
    Reply(0, 0x0007, {});
    EXPECT_TRUE(done);
    EXPECT_EQ(control.messages.back(), "Engine Reset status 2: Message Acknowledged OK");
    loop.advance(1000);
    EXPECT_EQ(window.closes, 1);
    auto m = Sent();
    ASSERT_FALSE(m.empty());
    EXPECT_EQ(m[0].Header(), 0x0015u);  // numbering starts again

    // Without an answer the wait ends after 10 s and names status 0.
    control.panel = "other";
    done = false;
    unit->Dispatch().RestartEngine([&] { done = true; });
    loop.advance(10100);
    EXPECT_TRUE(done);
    EXPECT_EQ(control.messages.back(), "Engine Reset status 0: Timed out waiting for acknowledge");
    EXPECT_EQ(window.closes, 1);
}

} // namespace
} // namespace ravelin::engine::testing
