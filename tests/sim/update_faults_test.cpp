// The faults the virtual devices play in the middle of an update: silence
// after some packets, a link that goes away, an error at the last step.
#include <gtest/gtest.h>

#include "dfu_device.h"
#include "file_update_device.h"
#include "madi_rack.h"

namespace ravelin::sim {
namespace {

using Bytes = std::vector<uint8_t>;

// One file-update message body (kind, number most significant byte first, data).
Bytes Body(uint8_t kind, int number, Bytes data = {})
{
    Bytes b = {kind, uint8_t(number >> 8), uint8_t(number)};
    for (uint8_t x : data) b.push_back(x);
    return b;
}

std::vector<Bytes> Send(FileUpdateDevice& d, const Bytes& body) { return d.receive(body.data(), body.size()); }

TEST(UpdateFaults, FileUpdateFallsSilentDropsOrFailsTheFinishAsConfigured)
{
    FileUpdateDevice silent({.enabled = true, .silentAfterPackets = 2}, 39);
    EXPECT_FALSE(Send(silent, Body(0, 4)).empty());
    EXPECT_EQ(Send(silent, Body(1, 0, {1})).size(), 1u);
    EXPECT_EQ(Send(silent, Body(1, 1, {2})).size(), 1u);
    EXPECT_TRUE(Send(silent, Body(1, 2, {3})).empty());
    EXPECT_TRUE(Send(silent, Body(2, 6)).empty());

    FileUpdateDevice drop({.enabled = true, .dropAfterPackets = 1}, 39);
    Send(drop, Body(0, 2));
    EXPECT_FALSE(drop.linkDropDue());
    Send(drop, Body(1, 0, {1}));
    EXPECT_TRUE(drop.linkDropDue());

    // The whole file with a matching sum, and still the error at the finish.
    FileUpdateDevice finish({.enabled = true, .finishError = 2}, 40);
    Send(finish, Body(0, 1));
    Send(finish, Body(1, 0, {5}));
    EXPECT_EQ(Send(finish, Body(2, 5)), (std::vector<Bytes>{{40, 2, 2}}));
    EXPECT_EQ(finish.record().completed, 0);
}

// A program download of `blocks` 1 KiB blocks: the command block, then data.
std::vector<DfuReply> Download(DfuDevice& d, int blocks)
{
    std::vector<DfuReply> replies;
    const uint32_t length = uint32_t(blocks) * 1024 - 8;
    Bytes first{1, 0, 0x0A, 0, uint8_t(length), uint8_t(length >> 8), uint8_t(length >> 16), 0};
    first.resize(1024, 0x5A);
    replies.push_back(d.control(0x21, 1, 0, 0, first, 1024));
    for (int i = 1; i < blocks; ++i) {
        for (int p = 0; p < 3 && replies.back().outcome == DfuOutcome::Done; ++p) d.control(0xA1, 3, 0, 0, {}, 6);
        replies.push_back(d.control(0x21, 1, uint16_t(i), 0, Bytes(1024, 0x5A), 1024));
    }
    return replies;
}

TEST(UpdateFaults, DfuBlockFaultsCountTheProgramDownloadsBlocks)
{
    struct Case {
        const char* what;
        DfuDeviceConfig config;
        int block;              // the first block with the outcome, from 1
        DfuOutcome outcome;
    } cases[] = {
        {"silent", {.silentAtBlock = 3}, 3, DfuOutcome::Silent},
        {"gone", {.goneAtBlock = 2}, 2, DfuOutcome::Gone},
        {"clean", {}, 0, DfuOutcome::Done},
    };
    for (const auto& c : cases) {
        DfuDevice d(c.config);
        const auto replies = Download(d, 4);
        for (int i = 0; i < 4; ++i)
            EXPECT_EQ(replies[size_t(i)].outcome, c.block && i + 1 >= c.block ? c.outcome : DfuOutcome::Done)
                << c.what << " block " << i + 1;
        // Silence and absence last: nothing answers any more.
        if (c.block) { EXPECT_EQ(d.control(0xA1, 3, 0, 0, {}, 6).outcome, c.outcome) << c.what; }
    }

    DfuDevice last({.lastBlockStatus = 6});
    Download(last, 3);
    const DfuReply status = last.control(0xA1, 3, 0, 0, {}, 6);
    ASSERT_EQ(status.data.size(), 6u);
    EXPECT_EQ(status.data[0], 6);   // errWRITE
    EXPECT_EQ(status.data[4], 10);  // dfuERROR
}

// A MADI control message: code, n, data words, sum of words 0 .. n - 1.
Bytes Madi(uint16_t code, std::vector<uint16_t> data)
{
    std::vector<uint16_t> w{code, uint16_t(data.size() + 2)};
    w.insert(w.end(), data.begin(), data.end());
    uint16_t sum = 0;
    for (uint16_t x : w) sum = uint16_t(sum + x);
    w.push_back(sum);
    Bytes b;
    for (uint16_t x : w) b.insert(b.end(), {uint8_t(x), uint8_t(x >> 8)});
    return b;
}

std::vector<MadiRack::Message> Send(MadiRack& r, const Bytes& m) { return r.receive(m.data(), m.size()); }

TEST(UpdateFaults, CardRackPlaysTheFaultsOfAnEngineRack)
{
    const Bytes start = Madi(0x2021, {1, 0}), packet = Madi(0x2022, {7, 8}), end = Madi(0x2023, {});
    const Bytes refused = Madi(0x2020, {0, 0}), taken = Madi(0x2020, {1, 0});

    MadiRack refuse({.refuseStart = 1, .refusePacket = 1, .refusePacketTimes = 1});
    EXPECT_EQ(Send(refuse, start), std::vector<MadiRack::Message>{refused});
    EXPECT_EQ(Send(refuse, start), std::vector<MadiRack::Message>{taken});
    EXPECT_EQ(Send(refuse, packet), std::vector<MadiRack::Message>{taken});
    EXPECT_EQ(Send(refuse, packet), std::vector<MadiRack::Message>{refused});
    EXPECT_EQ(Send(refuse, packet), std::vector<MadiRack::Message>{taken});

    MadiRack wrong({.wrongCheck = true});
    Send(wrong, start);
    Send(wrong, packet);
    // Length 2 words, sum 15 + 1, type 1.
    EXPECT_EQ(Send(wrong, end), (std::vector<MadiRack::Message>{taken, Madi(0x202A, {2, 0, 16, 1})}));

    // The unanswered packet is lost: the check finds one packet's words.
    MadiRack silent({.silentPacket = 1});
    Send(silent, start);
    EXPECT_FALSE(Send(silent, packet).empty());
    EXPECT_TRUE(Send(silent, packet).empty());
    EXPECT_EQ(Send(silent, end), (std::vector<MadiRack::Message>{taken, Madi(0x202A, {2, 0, 15, 1})}));

    MadiRack drop({.dropAtPacket = 0});
    Send(drop, start);
    EXPECT_TRUE(Send(drop, packet).empty());
    EXPECT_TRUE(drop.linkDropDue());
}

} // namespace
} // namespace ravelin::sim
