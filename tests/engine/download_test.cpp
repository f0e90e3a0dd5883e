// Engine code and rack code transfers in virtual time, the test playing the
// engine and the rack.

#include <filesystem>
#include <fstream>

#include "engine/engine_download.h"
#include "engine/rack_download.h"
#include "engine_fixture.h"

namespace ravelin::engine::testing {
namespace {

class Downloads : public EngineFixture {
protected:
    Downloads() {
        dir = std::filesystem::temp_directory_path() / ("engine_dl_" + std::to_string(::getpid()));
        std::filesystem::create_directories(dir / "Racks");
    }
    ~Downloads() override { std::filesystem::remove_all(dir); }
    std::string Write(const std::string& name, size_t size) {
        std::vector<uint8_t> data(size);
        for (size_t i = 0; i < size; ++i) data[i] = uint8_t(i * 7 + 3);
        std::ofstream(dir / name, std::ios::binary).write(reinterpret_cast<char*>(data.data()), long(size));
        return (dir / name).string();
    }
    std::unique_ptr<EngineDownload> Engine(const std::string& file) {
        return std::make_unique<EngineDownload>(unit->Dispatch(), control, file, 2, "Host");
    }
    // An engine code download of `size` bytes whose start the engine has accepted.
    std::unique_ptr<EngineDownload> StartAccepted(size_t size) {
        auto d = Engine(Write("SP6v.bin", size));
        d->Start();
        Sent();
        Reply(stAckOK, 0x00020003);
        return d;
    }
    // Answers every packet with `status` and returns what was sent.
    std::vector<tEngineMessage> RunPackets(uint8_t status = stAckOK) {
        std::vector<tEngineMessage> packets;
        for (;;) {
            auto m = Sent();
            if (m.empty()) return packets;
            for (auto& x : m) {
                if (x.Header().IDlo() != idPacket) {
                    after = x;
                    return packets;
                }
                packets.push_back(x);
            }
            Reply(status, m.back().Header(), {});
        }
    }
    std::filesystem::path dir;
    tEngineMessage after;  // what came after the packets
};

TEST_F(Downloads, EngineFileGoesOutInPacketsThenItsChecksumThenFlash) {
    auto d = Engine(Write("SP6v.bin", 1000));
    d->Start();
    auto m = Sent();
    ASSERT_EQ(m.size(), 1u);
    EXPECT_EQ(m[0].Header(), 0x00020003u);
    EXPECT_EQ(m[0].Status(), stAckRequest);
    EXPECT_EQ(control.fileSize, 3);
    Reply(stAckOK, 0x00020003);
    auto packets = RunPackets();
    ASSERT_EQ(packets.size(), 4u);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(packets[size_t(i)].WordCount(), 133);
        EXPECT_EQ(packets[size_t(i)].Header(), uint32_t(i) << 16 | 4);
        EXPECT_EQ(packets[size_t(i)].Sequence(), 0);
    }
    EXPECT_EQ(packets[3].WordCount(), 121);
    EXPECT_EQ(control.packets, 4);
    EXPECT_EQ(after.Header(), 0x0005u);  // the last answer brought the end of the download
}

TEST_F(Downloads, OddFileEndsWithAPaddedPacketAndTheWholeFileChecksum) {
    auto d = StartAccepted(257);
    auto m = Sent();
    ASSERT_EQ(m.size(), 1u);
    Reply(stAckOK, m[0].Header());
    Sent();
    Reply(stAckOK, 0x00010004);
    m = Sent();
    ASSERT_EQ(m.size(), 1u);
    EXPECT_EQ(m[0].Header(), 0x0005u);
    uint16_t sum = 0;
    for (size_t i = 0; i < 257; i += 2) sum = uint16_t(sum + (uint8_t(i * 7 + 3) | (i + 1 < 257 ? uint8_t((i + 1) * 7 + 3) << 8 : 0)));
    EXPECT_EQ(m[0].Data32(), sum);
}

TEST_F(Downloads, ShortPacketIsQueuedAsWholeLongs) {
    auto d = StartAccepted(257);
    Sent();
    Reply(stAckOK, 0x00000004);
    EXPECT_EQ(connection->sent.size(), 16u);  // six words, the checksum and one filler
    auto m = Parse(connection->sent);
    ASSERT_EQ(m.size(), 1u);
    EXPECT_EQ(m[0].WordCount(), 6);
    EXPECT_EQ(m[0].Word(5), uint16_t(uint8_t(256 * 7 + 3)));
}

TEST_F(Downloads, EmptyFileSendsTheEndAtOnceAndFlashReportsFinish) {
    auto d = StartAccepted(0);
    auto m = Sent();
    ASSERT_EQ(m.size(), 1u);
    EXPECT_EQ(m[0].Header(), 0x0005u);
    EXPECT_EQ(m[0].Data32(), 0u);
    Reply(stAckOK, 0x0005);
    m = Sent();
    ASSERT_EQ(m.size(), 1u);
    EXPECT_EQ(m[0].Header(), 0x00020006u);
    EXPECT_EQ(control.status, "programming flash");
    for (uint8_t s : {21, 21, 22}) Reply(s, 0x00020006);
    EXPECT_EQ(control.finished, 0);
    Reply(stFlashSuccess, 0x00020006);
    EXPECT_EQ(control.finished, 1);
    EXPECT_EQ(control.messages.back(), "Host Program Flash status 18: Flash Program Successful 3");
    Reply(stFlashSuccess, 0x00020006);
    EXPECT_EQ(control.finished, 1);
}

TEST_F(Downloads, SendAgainSixTimesAtMostThenCancel) {
    auto d = StartAccepted(600);
    Sent();
    for (int i = 0; i < 6; ++i) {
        Reply(stRequestOK, 0x00000004);
        auto m = Sent();
        ASSERT_EQ(m.size(), 1u) << i;
        EXPECT_EQ(m[0].Header(), 0x00000004u);
    }
    Reply(stRequestOK, 0x00000004);
    EXPECT_TRUE(Sent().empty());
    EXPECT_EQ(control.cancelled, 1);
    EXPECT_EQ(control.finished, 0);
}

TEST_F(Downloads, ChecksumErrorRecoversAndResendsThePacket) {
    auto d = StartAccepted(600);
    Sent();
    Reply(stChecksumError, 0x00000004);
    auto m = Sent();
    ASSERT_EQ(m.size(), 1u);
    EXPECT_EQ(m[0].Header(), 0x0012u);
    EXPECT_EQ(m[0].Status(), stRequest);
    Reply(stAckOK, 0x00010004);  // a late answer to something else changes nothing
    EXPECT_TRUE(Sent().empty());
    Reply(stRequestOK, 0x0012);
    m = Sent();
    ASSERT_EQ(m.size(), 1u);
    EXPECT_EQ(m[0].Header(), 0x00000004u);
    Reply(stAckOK, 0x00000004);
    m = Sent();
    ASSERT_EQ(m.size(), 1u);
    EXPECT_EQ(m[0].Header(), 0x00010004u);

    // A recovery the engine keeps refusing ends the update.
    Reply(stChecksumError, 0x00010004);
    Sent();
    for (int i = 0; i < 6; ++i) Reply(6, 0x0012);
    EXPECT_EQ(control.cancelled, 1);
}

TEST_F(Downloads, MissingFileEndsBeforeAnythingIsSent) {
    auto d = Engine((dir / "none.bin").string());
    d->Start();
    EXPECT_TRUE(Sent().empty());
    EXPECT_EQ(control.cancelled, 1);
}

TEST_F(Downloads, FlashErrorCancels) {
    auto d = Engine(Write("SP6v.bin", 0));
    d->Start();
    Reply(stAckOK, 0x00020003);
    Reply(stAckOK, 0x0005);
    Reply(17, 0x00020006);
    EXPECT_EQ(control.cancelled, 1);
    EXPECT_EQ(control.finished, 0);
}

// Rack downloads.

class RackDownloads : public Downloads {
protected:
    RackDownloads() {
        racks.Records[5][rbPort] = 42;
        window.rows[5] = 20;
        control.row = 20;
    }
    std::unique_ptr<RackDownload> Rack(const std::string& name, size_t size) {
        Write("Racks/" + name, size);
        return std::make_unique<RackDownload>(unit->Dispatch(), control, 5, (dir / "Racks" / name).string());
    }
    void Ack(uint32_t value) { Reply(0, 0x002A0BC0, Le32(value)); }
};

TEST_F(RackDownloads, FileTypesFollowTheNames) {
    struct Case { const char* name; int type; };
    for (Case c : {Case{"Rack.bin", 1}, Case{"rack.bin", 0}, Case{"Rack.bit", 2}, Case{"NRack.bin", 6},
                   Case{"LRack8B.BIN", 30}, Case{"L2Rack.bit", 31}, Case{"pdif1.bin", 21}, Case{"udifx", 23},
                   Case{"Racks\\Rack8b.bit", 31}, Case{"other.bin", 0}})
        EXPECT_EQ(RackFileTypeOf(c.name), c.type) << c.name;
}

TEST_F(RackDownloads, OddFileSendsItsLastByteInAPaddedWord) {
    auto d = Rack("Rack.bin", 131);
    d->Start();
    auto m = Sent();
    ASSERT_EQ(m.size(), 1u);
    EXPECT_EQ(m[0].Header(), 0x002A0BC1u);
    EXPECT_EQ(m[0].Data32(), 1u);
    EXPECT_EQ(control.fileSize, 66);
    Ack(1);
    m = Sent();
    ASSERT_EQ(m.size(), 1u);
    EXPECT_EQ(m[0].WordCount(), 69);
    EXPECT_EQ(control.watchdog, RackDownload::kPacketWatchdogTicks);
    Ack(1);
    m = Sent();
    ASSERT_EQ(m.size(), 1u);
    // Bytes 128 and 129, then the last byte in a word of its own, high byte zero.
    EXPECT_EQ(m[0].WordCount(), 7);
    EXPECT_EQ(m[0].Word(5), uint16_t(uint8_t(128 * 7 + 3) | uint8_t(129 * 7 + 3) << 8));
    EXPECT_EQ(m[0].Word(6), uint16_t(uint8_t(130 * 7 + 3)));
    EXPECT_EQ(control.messages.back(), "Rack file transfer 66 of 66");
    Ack(1);
    m = Sent();
    ASSERT_EQ(m.size(), 1u);
    EXPECT_EQ(m[0].Header(), 0x002A0BC3u);
    EXPECT_EQ(control.messages.back(), "Rack end file transfer");
    Ack(1);
    std::vector<uint8_t> check = Le32(66);
    const uint16_t sum = d->RackChecksum;
    check.insert(check.end(), {uint8_t(sum), uint8_t(sum >> 8), 1, 0});
    Reply(0, 0x002A0BCA, check);
    m = Sent();
    ASSERT_EQ(m.size(), 1u);
    EXPECT_EQ(m[0].Header(), 0x002A0BC4u);
    EXPECT_EQ(m[0].Data32(), 5u);
    loop.advance(3000);
    EXPECT_EQ(control.messages.back(), " Programming flash: |||");
    Reply(0, 0x002A0BC5, Le32(1));
    EXPECT_EQ(control.finished, 1);
    EXPECT_EQ(control.messages.back(),
              "Rack flash programming successful - rack will need resetting when all updates complete ");
}

TEST_F(RackDownloads, RefusalsRetryFourTimesThenFail) {
    auto d = Rack("Rack.bin", 300);
    d->Start();
    Sent();
    Ack(0);  // a refused start asks again with the start
    auto m = Sent();
    ASSERT_EQ(m.size(), 1u);
    EXPECT_EQ(m[0].Header(), 0x002A0BC1u);
    Ack(1);
    Sent();
    for (int i = 0; i < 4; ++i) {
        Ack(0);
        m = Sent();
        ASSERT_EQ(m.size(), 1u);
        EXPECT_EQ(m[0].Header(), 0x002A0BC2u);
    }
    Ack(7);
    EXPECT_EQ(control.messages.back(), "Rack file transfer error 7: retries exceeded");
    EXPECT_EQ(control.cancelled, 1);
}

TEST_F(RackDownloads, UnansweredPacketCountsAsTakenOnlyForTheShownRack) {
    auto d = Rack("Rack.bin", 300);
    d->Start();
    Ack(1);
    Sent();
    d->NoAnswer(control);
    auto m = Sent();
    ASSERT_EQ(m.size(), 1u);
    EXPECT_EQ(m[0].Header(), 0x002A0BC2u);
    EXPECT_EQ(d->RackAckFailCount, 1);
    EXPECT_EQ(control.cancelled, 0);

    // The rack is no longer shown: its old row finds nothing.
    window.rows[5] = 0;
    d->NoAnswer(control);
    EXPECT_EQ(control.cancelled, 1);
    EXPECT_EQ(control.cancelText, "no response");
    EXPECT_TRUE(Sent().empty());
}

TEST_F(RackDownloads, WrongTypeInTheCheckCancels) {
    auto d = Rack("Rack.bin", 4);
    d->Start();
    Ack(1);
    Ack(1);
    Ack(1);
    std::vector<uint8_t> check = Le32(2);
    const uint16_t sum = d->RackChecksum;
    check.insert(check.end(), {uint8_t(sum), uint8_t(sum >> 8), 2, 0});
    Reply(0, 0x002B0BCA, check);  // another port: ignored
    EXPECT_EQ(control.cancelled, 0);
    Reply(0, 0x002A0BCA, check);
    EXPECT_EQ(control.cancelled, 1);
    EXPECT_EQ(control.messages.back(), "Rack file transfer check failed. Update aborted. " + std::to_string(sum) +
                                           " " + std::to_string(sum) + " 1 2");
}

TEST_F(RackDownloads, SilentFlashEndsInsteadOfWaitingForever) {
    auto d = Rack("Rack.bin", 4);
    d->Start();
    Ack(1);
    Ack(1);
    Ack(1);
    std::vector<uint8_t> check = Le32(2);
    check.insert(check.end(), {uint8_t(d->RackChecksum), uint8_t(d->RackChecksum >> 8), 1, 0});
    Reply(0, 0x002A0BCA, check);
    loop.advance(1000 * (RackDownload::kMaxFlashBars + 10));
    EXPECT_EQ(int(control.messages.back().size()), 20 + RackDownload::kMaxFlashBars);
}

} // namespace
} // namespace ravelin::engine::testing
