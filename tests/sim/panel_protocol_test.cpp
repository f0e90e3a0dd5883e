// The panel's side of the surface line, byte for byte, without a terminal.

#include "panel_protocol.h"

#include <gtest/gtest.h>

#include "sim/hex_frame.h"

#include <string>
#include <vector>

namespace ravelin::sim {
namespace {

using Bytes = std::vector<uint8_t>;

using test_bytes::hexLineFrame;

Bytes concat(std::initializer_list<Bytes> parts)
{
    Bytes out;
    for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

const Bytes kPoll{0x02, 0x04, 0x06};
const Bytes kAccept{0x03, 0x09, 0x00, 0x0C};

PanelConfig panel(uint8_t type, uint8_t v1, uint8_t v2 = 0)
{
    PanelConfig c;
    c.type = type;
    c.version1 = v1;
    c.version2 = v2;
    return c;
}

// ---- identity ----

struct IdentityCase {
    const char* name;
    uint8_t type, v1, v2;
    Bytes reply;
};

class Identity : public testing::TestWithParam<IdentityCase> {};

TEST_P(Identity, PollIsAnsweredWithTypeAndVersionBytes)
{
    const auto& c = GetParam();
    PanelProtocol p(panel(c.type, c.v1, c.v2));
    EXPECT_EQ(p.receive(kPoll), c.reply);
    EXPECT_EQ(p.record().polls, 1);
}

INSTANTIATE_TEST_SUITE_P(
    Panels, Identity,
    testing::Values(
        // 0x06 0x04 0x00 type v1 v2, checksum = sum of the six bytes before it
        IdentityCase{"Kr60Right", 64, 7, 0, {0x06, 0x04, 0x00, 0x40, 0x07, 0x00, 0x51}},
        IdentityCase{"LocalIO", 150, 120, 0, {0x06, 0x04, 0x00, 0x96, 0x78, 0x00, 0x18}},
        IdentityCase{"TwoVersionBytes", 80, 1, 2, {0x06, 0x04, 0x00, 0x50, 0x01, 0x02, 0x5D}}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- what the line carries besides polls ----

struct LineCase {
    const char* name;
    Bytes in;
    Bytes reply;
    int polls;
};

class LineInput : public testing::TestWithParam<LineCase> {};

TEST_P(LineInput, RepliesOnlyToPollsAndAutoBaud)
{
    const auto& c = GetParam();
    PanelProtocol p(panel(64, 7));
    EXPECT_EQ(p.receive(c.in), c.reply);
    EXPECT_EQ(p.record().polls, c.polls);
    EXPECT_FALSE(p.hasPartialInput());
}

const Bytes kIdentity64{0x06, 0x04, 0x00, 0x40, 0x07, 0x00, 0x51};

INSTANTIATE_TEST_SUITE_P(
    Bytes, LineInput,
    testing::Values(
        LineCase{"LeadingZeros", concat({{0, 0, 0}, kPoll}), kIdentity64, 1},
        LineCase{"ZerosAfterNak", concat({Bytes(128, 0), kPoll}), kIdentity64, 1},
        LineCase{"AutoBaudAnsweredAsApplication", {0x55, 0x55}, {0xAA}, 0},
        LineCase{"AutoBaudThenPoll", concat({{0x55, 0x55}, kPoll}), concat({{0xAA}, kIdentity64}), 1},
        LineCase{"PollTimeMessagesIgnored",
                 // 0x44 0x3D, 0x58, 0x5C, 0x0A, NAK code 0, 0x51 1, empty body
                 {0x03, 0x44, 0x3D, 0x84, 0x02, 0x58, 0x5A, 0x02, 0x5C, 0x5E, 0x02, 0x0A, 0x0C,
                  0x03, 0x01, 0x00, 0x04, 0x03, 0x51, 0x01, 0x55, 0x00},
                 {}, 0},
        LineCase{"BadChecksumSkippedThenPoll", concat({{0x03, 0x09, 0x00, 0x0D}, kPoll}), kIdentity64, 1},
        LineCase{"PollInsideADamagedFrameIsFound",
                 {0x05, 0x02, 0x04, 0x06, 0x00, 0x00}, kIdentity64, 1},
        LineCase{"EnterBootLoaderIgnored", concat({{0x02, 0x03, 0x05}, kPoll}), kIdentity64, 1}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(PanelLine, FrameSplitOverReadsIsAnsweredOnceWhenComplete)
{
    PanelProtocol p(panel(64, 7));
    EXPECT_TRUE(p.receive(Bytes{0x02}).empty());
    EXPECT_TRUE(p.receive(Bytes{0x04}).empty());
    EXPECT_EQ(p.receive(Bytes{0x06}), kIdentity64);
    EXPECT_EQ(p.record().polls, 1);
}

TEST(PanelLine, SingleUIsKeptUntilItsPartnerArrives)
{
    PanelProtocol p(panel(64, 7));
    EXPECT_TRUE(p.receive(Bytes{0x55}).empty());
    EXPECT_EQ(p.receive(Bytes{0x55}), Bytes{0xAA});
}

TEST(PanelLine, IncompleteFrameIsForgottenWhenTheLineGoesQuiet)
{
    // A bootloader ping is three bytes that read as the start of a longer frame.
    PanelProtocol p(panel(64, 7));
    EXPECT_TRUE(p.receive(Bytes{0x03, 0x20, 0x20}).empty());
    EXPECT_TRUE(p.hasPartialInput());
    p.lineIdle();
    EXPECT_EQ(p.receive(kPoll), kIdentity64);
}

TEST(PanelLine, BadFramesAreCounted)
{
    PanelProtocol p(panel(64, 7));
    p.receive(Bytes{0x03, 0x09, 0x00, 0x0D});
    EXPECT_GE(p.record().badFrames, 1);
    EXPECT_TRUE(p.record().hexLines.empty());
}

// ---- FPGA date ----

TEST(PanelFpgaDate, LocalIOAnswersWWithItsDate)
{
    PanelConfig c = panel(150, 120);
    c.fpgaDate = "14052019";
    PanelProtocol p(c);
    // 0x0A 0x54 "14052019" checksum
    Bytes expect{0x0A, 0x54, '1', '4', '0', '5', '2', '0', '1', '9'};
    unsigned sum = 0;
    for (uint8_t b : expect) sum += b;
    expect.push_back(uint8_t(sum));
    EXPECT_EQ(p.receive(Bytes{0x02, 0x57, 0x59}), expect);
    EXPECT_EQ(p.record().fpgaDateRequests, 1);
}

TEST(PanelFpgaDate, OtherPanelsIgnoreW)
{
    PanelConfig c = panel(134, 11);
    c.fpgaDate = "14052019";
    PanelProtocol p(c);
    EXPECT_TRUE(p.receive(Bytes{0x02, 0x57, 0x59}).empty());
}

// ---- hex lines ----

const std::vector<std::string> kFile = {
    ":020000040000FA",
    ":10080000020810000C9C300A9DA8E746ADACB673F8",
    ":10081000A7B84679EC45E6C08E8639641D6A1E7716",
    ":00000001FF",
};

// Sends every line as the program does: the same line again after a reject,
// at most five times. Returns the reply bytes per send.
std::vector<Bytes> sendFile(PanelProtocol& p, const std::vector<std::string>& lines)
{
    std::vector<Bytes> replies;
    for (const auto& line : lines) {
        for (int attempt = 0; attempt < 5; ++attempt) {
            Bytes r = p.receive(hexLineFrame(line));
            replies.push_back(r);
            if (r.empty() || r == kAccept) break;
        }
    }
    return replies;
}

TEST(PanelHex, HexLineIsAcknowledgedWithResultZero)
{
    PanelProtocol p(panel(134, 11));
    EXPECT_EQ(p.receive(hexLineFrame(kFile[0])), kAccept);
    EXPECT_EQ(p.record().hexLines, std::vector<std::string>{kFile[0]});
}

struct HexCase {
    const char* name;
    HexReplyBehaviour behaviour;
    std::vector<Bytes> replies;
    int received;   // lines on the line, repeats included
    int accepted;
};

class HexBehaviourTest : public testing::TestWithParam<HexCase> {};

TEST_P(HexBehaviourTest, RepliesAndRecord)
{
    const auto& c = GetParam();
    PanelConfig cfg = panel(134, 11);
    cfg.hex = c.behaviour;
    PanelProtocol p(cfg);
    EXPECT_EQ(sendFile(p, kFile), c.replies);
    EXPECT_EQ(int(p.record().receivedHexLines.size()), c.received);
    EXPECT_EQ(int(p.record().hexLines.size()), c.accepted);
}

const Bytes kReject5{0x03, 0x09, 0x05, 0x11};

INSTANTIATE_TEST_SUITE_P(
    Behaviours, HexBehaviourTest,
    testing::Values(
        HexCase{"AcceptAll", {}, {kAccept, kAccept, kAccept, kAccept}, 4, 4},
        HexCase{"RejectLineTwoTwiceThenTake", {false, 2, 2, 5},
                {kAccept, kReject5, kReject5, kAccept, kAccept, kAccept}, 6, 4},
        HexCase{"RejectFirstLineOnce", {false, 1, 1, 5},
                {kReject5, kAccept, kAccept, kAccept, kAccept}, 5, 4},
        HexCase{"Silent", {true, 0, 0, 1}, {{}, {}, {}, {}}, 4, 0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(PanelHex, AcceptedLinesAreTheFileOnceInOrder)
{
    PanelConfig cfg = panel(134, 11);
    cfg.hex = {false, 3, 2, 7};
    PanelProtocol p(cfg);
    sendFile(p, kFile);
    EXPECT_EQ(p.record().hexLines, kFile);
    EXPECT_EQ(p.record().rejections, 2);
}

TEST(PanelHex, WholeFileMakesThePanelReportTheNewVersion)
{
    PanelProtocol p(panel(134, 11));
    sendFile(p, kFile);
    EXPECT_EQ(p.record().completedUpdates, 1);
    // Version byte 0x0C from the 0800 record.
    EXPECT_EQ(p.receive(kPoll), (Bytes{0x06, 0x04, 0x00, 0x86, 0x0C, 0x00, 0x9C}));
}

TEST(PanelHex, UnfinishedFileKeepsTheOldVersion)
{
    PanelProtocol p(panel(134, 11));
    sendFile(p, {kFile[0], kFile[1], kFile[2]});
    EXPECT_EQ(p.receive(kPoll), (Bytes{0x06, 0x04, 0x00, 0x86, 0x0B, 0x00, 0x9B}));
}

TEST(PanelHex, NextUpdateAfterPollingCountsLinesFromOneAgain)
{
    // A cancelled update leaves the panel mid-file; the program resumes
    // polling and a new attempt starts again at line 1, which is rejected
    // again on its own line number.
    PanelConfig cfg = panel(134, 11);
    cfg.hex = {false, 2, 1, 5};
    PanelProtocol p(cfg);
    EXPECT_EQ(p.receive(hexLineFrame(kFile[0])), kAccept);
    EXPECT_EQ(p.receive(hexLineFrame(kFile[1])), kReject5);
    p.receive(Bytes{0x02, 0x0A, 0x0C}); // polling starts again
    p.receive(kPoll);
    EXPECT_EQ(p.receive(hexLineFrame(kFile[0])), kAccept);
    EXPECT_EQ(p.receive(hexLineFrame(kFile[1])), kReject5);
    EXPECT_EQ(p.receive(hexLineFrame(kFile[1])), kAccept);
}

} // namespace
} // namespace ravelin::sim
