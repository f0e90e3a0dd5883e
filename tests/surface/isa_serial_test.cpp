#include "surface/isa_serial.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "platform/ini.h"
#include "surface/fake_com.h"
#include "surface/overloaded.h"

namespace ravelin::surface {
namespace {

using testing::FakeLine;
using testing::FakePorts;

// ---- helpers -------------------------------------------------------------

// "02 04 06" <-> bytes, so the tables read like a line trace.
std::string Unhex(const std::string& text) {
    std::istringstream in(text);
    std::string out, tok;
    while (in >> tok) out.push_back(static_cast<char>(std::stoi(tok, nullptr, 16)));
    return out;
}

std::string Hex(const std::string& bytes) {
    std::string out;
    char buf[4];
    for (unsigned char c : bytes) {
        std::snprintf(buf, sizeof buf, out.empty() ? "%02X" : " %02X", c);
        out += buf;
    }
    return out;
}

// A frame as a panel would send it.
std::string Frame(const std::string& body) {
    std::string f(1, static_cast<char>(body.size() + 1));
    f += body;
    uint8_t sum = 0;
    for (unsigned char c : f) sum = static_cast<uint8_t>(sum + c);
    f.push_back(static_cast<char>(sum));
    return f;
}

// Splits what the program wrote into frames; fails on anything that is not one.
std::vector<std::string> SplitFrames(const std::string& wire) {
    std::vector<std::string> bodies;
    size_t i = 0;
    while (i < wire.size()) {
        const size_t len = static_cast<uint8_t>(wire[i]);
        if (len < 2 || i + len >= wire.size()) {
            ADD_FAILURE() << "no whole frame at offset " << i;
            break;
        }
        uint8_t sum = 0;
        for (size_t k = i; k < i + len; ++k) sum = static_cast<uint8_t>(sum + static_cast<uint8_t>(wire[k]));
        EXPECT_EQ(sum, static_cast<uint8_t>(wire[i + len])) << "bad checksum at offset " << i;
        bodies.push_back(wire.substr(i + 1, len - 1));
        i += len + 1;
    }
    return bodies;
}

class FakeClock : public platform::Clock {
public:
    uint32_t tickCount() override { return now; }
    void sleep(int ms) override { now += static_cast<uint32_t>(ms); }
    uint32_t now = 0;
};

// A timer that ticks only when the test says so.
struct FakeTimerState {
    int starts = 0;
    int period = 0;
    bool running = false;
    std::function<void()> onTick;
    std::vector<std::string>* events = nullptr;
};

class FakeTimer : public platform::TimerThread {
public:
    explicit FakeTimer(std::shared_ptr<FakeTimerState> s) : s_(std::move(s)) {}
    void start(int periodMs, std::function<void()> onTick) override {
        if (s_->running) return;
        ++s_->starts;
        s_->running = true;
        s_->period = periodMs;
        s_->onTick = std::move(onTick);
    }
    void stop() override {
        if (!s_->running) return;
        s_->running = false;
        if (s_->events) s_->events->push_back("timer stopped");
    }
    bool running() const override { return s_->running; }

private:
    std::shared_ptr<FakeTimerState> s_;
};

struct Notice {
    uint8_t number;
    uint32_t detail;
    bool operator==(const Notice&) const = default;
};
std::ostream& operator<<(std::ostream& os, const Notice& n) {
    return os << "{" << int(n.number) << ", " << n.detail << "}";
}

// Five configured slots on ports 10..14, as a console with panels on the
// first five lines; slot 1 = 64 (work surface, bootloader-capable), slot 2 =
// 65 (work surface, bootloader-capable), slot 3 = 150 (local I/O), slot 4 = 134.
class SurfaceLinkTest : public ::testing::Test {
protected:
    static constexpr int kCom0 = 10;

    void SetUp() override {
        ports = FakePorts{};
        timerState = std::make_shared<FakeTimerState>();
        events.clear();
        messages.clear();
        notices.clear();
        posted = 0;
        for (uint8_t n : {kOverloadSurfaceSend, kOverloadSurfaceNak, kOverloadSurfaceType2}) ClearOverload(n);
        SetOverloadReceiver(
            [this](uint8_t n, uint32_t d) {
                notices.push_back({n, d});
                return true;
            },
            true);
        for (int s = 0; s < 5; ++s) lines[s] = ports.add(kCom0 + s);
        timerState->events = &events;
        SurfaceLinkServices sv;
        sv.openPort = ports.opener();
        sv.newTimer = [this] { return std::make_unique<FakeTimer>(timerState); };
        sv.clock = &clock;
        sv.displayMessage = [this](const std::string& m) { messages.push_back(m); };
        sv.postTimerTick = [this] { ++posted; };
        link = std::make_unique<SurfaceLink>(std::move(sv));
        for (int s = 0; s < 5; ++s) link->Slots[s].ComPortNumber = static_cast<int16_t>(kCom0 + s);
    }

    void TearDown() override {
        link.reset();
        SetOverloadReceiver([](uint8_t, uint32_t) { return false; }, true);
        for (uint8_t n : {kOverloadSurfaceSend, kOverloadSurfaceNak, kOverloadSurfaceType2}) ClearOverload(n);
    }

    // Ports open, timer started, no start-of-polling bytes on the lines.
    void Open() {
        link->OpenSurfaceLink(true);
        ClearLines();
    }
    void ClearLines() {
        for (auto& l : lines) l->takeWritten();
    }

    FakePorts ports;
    std::shared_ptr<FakeLine> lines[5];
    FakeClock clock;
    std::shared_ptr<FakeTimerState> timerState = std::make_shared<FakeTimerState>();
    std::vector<std::string> events;
    std::vector<std::string> messages;
    std::vector<Notice> notices;
    int posted = 0;
    std::unique_ptr<SurfaceLink> link;
};

// ---- framing -------------------------------------------------------------

struct FramingCase {
    const char* name;
    std::string body;
    std::string wire;
};

class SurfaceFramingTest : public SurfaceLinkTest, public ::testing::WithParamInterface<FramingCase> {};

TEST_P(SurfaceFramingTest, BodyGoesOutAsOneFrame) {
    Open();
    ASSERT_TRUE(link->SendSurfaceMessage(3, GetParam().body));
    EXPECT_EQ(Hex(lines[3]->takeWritten()), Hex(GetParam().wire));
    EXPECT_TRUE(notices.empty());
}

const std::string kHexLine = ":10010000214601360121470136007EFE09D2190140";

std::string HexLineWire() {
    std::string w = Unhex("2D 09") + kHexLine;
    uint8_t sum = 0;
    for (unsigned char c : w) sum = static_cast<uint8_t>(sum + c);
    return w + std::string(1, static_cast<char>(sum));
}

INSTANTIATE_TEST_SUITE_P(
    Bodies, SurfaceFramingTest,
    ::testing::Values(FramingCase{"Poll", Unhex("04"), Unhex("02 04 06")},
                      FramingCase{"WorkSurfaceAfterPoll", Unhex("44 3D"), Unhex("03 44 3D 84")},
                      FramingCase{"NakInvalidLength", Unhex("01 01"), Unhex("03 01 01 05")},
                      FramingCase{"NakChecksum", Unhex("01 00"), Unhex("03 01 00 04")},
                      FramingCase{"EnterBootLoader", Unhex("03"), Unhex("02 03 05")},
                      FramingCase{"EmptyBodyIsTypeZero", "", Unhex("02 00 02")},
                      FramingCase{"HexLine43Chars", Unhex("09") + kHexLine, HexLineWire()},
                      FramingCase{"Longest254", std::string(254, '\x80'),
                                  Frame(std::string(254, '\x80'))}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(SurfaceLinkTest, SurfaceFramingLongestFrameHasLengthFF) {
    Open();
    ASSERT_TRUE(link->SendSurfaceMessage(0, std::string(254, 'x')));
    const std::string wire = lines[0]->takeWritten();
    ASSERT_EQ(wire.size(), 256u);
    EXPECT_EQ(static_cast<uint8_t>(wire[0]), 0xFF);
}

// ---- when a send goes out, and what it returns ---------------------------

TEST_F(SurfaceLinkTest, SurfaceSendGatesAndResults) {
    struct Case {
        const char* name;
        std::function<void(SurfaceLink&)> setup;
        int slot;
        std::string body;
        bool result;
        bool written;
        std::vector<Notice> notices;
    };
    const Case cases[] = {
        {"link closed", [](SurfaceLink& l) { l.CloseSurfaceLink(); }, 0, "\x04", false, false, {}},
        {"slot not enabled", [](SurfaceLink& l) { l.EnabledMask = 0xFF & ~SlotBit(3); }, 3, "\x04", false, false, {}},
        {"slot above 15", nullptr, 16, "\x04", false, false, {}},
        {"negative slot", nullptr, -1, "\x04", false, false, {}},
        {"enabled slot without a port", nullptr, 12, "\x04", true, false, {}},
        {"body too long for a frame", nullptr, 3, std::string(255, 'x'), false, false, {}},
        {"port takes part of the frame", [this](SurfaceLink&) { lines[3]->acceptLimit = 2; }, 3, "\x04", false, true,
         {{kOverloadSurfaceSend, 3}}},
        {"port takes nothing", [this](SurfaceLink&) { lines[4]->acceptLimit = 0; }, 4, "\x04", false, false,
         {{kOverloadSurfaceSend, 4}}},
        {"ordinary send", nullptr, 3, "\x04", true, true, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TearDown();
        SetUp();
        link->EnabledMask = 0xFFFF;
        Open();
        if (c.setup) c.setup(*link);
        EXPECT_EQ(link->SendSurfaceMessage(c.slot, c.body), c.result);
        bool any = false;
        for (auto& l : lines) any |= !l->takeWritten().empty();
        EXPECT_EQ(any, c.written);
        EXPECT_EQ(notices, c.notices);
    }
}

TEST_F(SurfaceLinkTest, SurfaceSendToSlotWhosePortFailedSucceedsWithoutEffect) {
    ports.lines.erase(kCom0 + 4);
    Open();
    EXPECT_TRUE(link->SendSurfaceMessage(4, "\x04"));
    EXPECT_TRUE(lines[4]->takeWritten().empty());
    EXPECT_TRUE(notices.empty());
}

// ---- receiving -----------------------------------------------------------

struct ReceiveCase {
    const char* name;
    int slot;
    std::string incoming;
    std::string body;     // expected message, "" for none
    std::string answer;   // what goes back to the panel
    size_t left;          // bytes still queued afterwards
};

class SurfaceReceiveTest : public SurfaceLinkTest, public ::testing::WithParamInterface<ReceiveCase> {};

TEST_P(SurfaceReceiveTest, OneCall) {
    const auto& c = GetParam();
    Open();
    lines[c.slot]->feed(c.incoming);
    EXPECT_EQ(Hex(link->ReceiveSurfaceMessage(c.slot)), Hex(c.body));
    EXPECT_EQ(Hex(lines[c.slot]->takeWritten()), Hex(c.answer));
    EXPECT_EQ(lines[c.slot]->pending(), c.left);
}

// Slot 1 holds a work-surface panel (64), slot 3 a local I/O (150).
INSTANTIATE_TEST_SUITE_P(
    Bytes, SurfaceReceiveTest,
    ::testing::Values(
        ReceiveCase{"HexLineReply", 3, Unhex("03 09 00 0C"), Unhex("09 00"), "", 0},
        ReceiveCase{"ShortestFrame", 3, Unhex("02 04 06"), Unhex("04"), "", 0},
        ReceiveCase{"LongestFrame", 3, Frame(std::string(127, '\x11')), std::string(127, '\x11'), "", 0},
        ReceiveCase{"OnlyOneFramePerCall", 3, Unhex("02 04 06 02 04 06"), Unhex("04"), "", 3},
        ReceiveCase{"BadChecksumWorkSurface", 1, Unhex("03 09 00 0D"), "", Unhex("03 01 00 04 03 44 39 80"), 0},
        ReceiveCase{"BadChecksumOtherPanel", 3, Unhex("03 09 00 0D"), "", Unhex("03 01 00 04"), 0},
        ReceiveCase{"BadChecksumDropsWhatFollows", 3, Unhex("03 09 00 0D 02 04 06"), "", Unhex("03 01 00 04"), 0},
        ReceiveCase{"ImpossibleLength", 3, Unhex("90 01 02"), "", Unhex("03 01 01 05"), 0},
        ReceiveCase{"ImpossibleLengthWorkSurface", 1, Unhex("81"), "", Unhex("03 01 01 05 03 44 39 80"), 0},
        ReceiveCase{"LeadingFillerSkipped", 3, Unhex("00 00 00 03 09 00 0C"), Unhex("09 00"), "", 0},
        ReceiveCase{"LengthOneSkipped", 3, Unhex("01 02 04 06"), Unhex("04"), "", 0},
        ReceiveCase{"PartialFrameWaits", 3, Unhex("03 09 00"), "", "", 3},
        ReceiveCase{"AliveByteThenFrame", 3, Unhex("AA 02 04 06"), Unhex("04"), "", 0},
        ReceiveCase{"NothingQueued", 3, "", "", "", 0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(SurfaceLinkTest, SurfaceReceiveSplitFrameIsDeliveredOnceWhenComplete) {
    const std::string wire = Unhex("00 00 03 09 00 0C");
    Open();
    for (size_t cut = 1; cut < wire.size(); ++cut) {
        SCOPED_TRACE("cut after " + std::to_string(cut));
        lines[3]->feed(wire.substr(0, cut));
        EXPECT_EQ(link->ReceiveSurfaceMessage(3), "");
        lines[3]->feed(wire.substr(cut));
        EXPECT_EQ(Hex(link->ReceiveSurfaceMessage(3)), "09 00");
        EXPECT_EQ(link->ReceiveSurfaceMessage(3), "");
        EXPECT_EQ(lines[3]->takeWritten(), "") << "a partial frame must not draw a NAK";
    }
}

TEST_F(SurfaceLinkTest, SurfaceReceiveBootLoaderAndAliveBytes) {
    Open();
    link->Slots[1].ResponseCount = 7;
    lines[1]->feed(Unhex("CC"));
    EXPECT_EQ(link->ReceiveSurfaceMessage(1), "");
    EXPECT_EQ(link->BootLoaderPorts.load(), SlotBit(1));
    EXPECT_EQ(link->Slots[1].ResponseCount.load(), 7) << "the bootloader's answer is not the application's";

    lines[2]->feed(Unhex("CC"));
    link->ReceiveSurfaceMessage(2);
    EXPECT_EQ(link->BootLoaderPorts.load(), SlotBit(1) | SlotBit(2));

    lines[1]->feed(Unhex("AA"));
    EXPECT_EQ(link->ReceiveSurfaceMessage(1), "");
    EXPECT_EQ(link->BootLoaderPorts.load(), SlotBit(2));
    EXPECT_EQ(link->Slots[1].ResponseCount.load(), 0);
    EXPECT_EQ(lines[1]->pending(), 0u);
}

// ---- what received messages do -------------------------------------------

struct IdentityCase {
    int type, v1, v2;
    uint16_t version;
    int localIOPort, switcherPort; // expected afterwards (both start at 0)
};

class SurfaceIdentityTest : public SurfaceLinkTest, public ::testing::WithParamInterface<IdentityCase> {};

TEST_P(SurfaceIdentityTest, SetsTypeVersionAndRole) {
    const auto& c = GetParam();
    Open();
    lines[2]->feed(Frame(std::string{0x04, 0x00, static_cast<char>(c.type), static_cast<char>(c.v1),
                                     static_cast<char>(c.v2)}));
    int slot = -1;
    std::string body;
    ASSERT_TRUE(link->ReceiveAnySurfaceMessage(slot, body, 255));
    EXPECT_EQ(slot, 2);
    EXPECT_EQ(link->Slots[2].PanelType.load(), c.type);
    EXPECT_EQ(link->Slots[2].PanelVersion, c.version);
    EXPECT_EQ(link->LocalIOPort.load(), c.localIOPort);
    EXPECT_EQ(link->SwitcherPort.load(), c.switcherPort);
}

INSTANTIATE_TEST_SUITE_P(Types, SurfaceIdentityTest,
                         ::testing::Values(IdentityCase{80, 1, 2, 258, 0, 0}, IdentityCase{81, 1, 2, 258, 0, 0},
                                           IdentityCase{85, 2, 0, 512, 0, 0}, IdentityCase{86, 0, 7, 7, 0, 0},
                                           IdentityCase{64, 1, 2, 1, 0, 0}, IdentityCase{2, 200, 9, 200, 0, 0},
                                           IdentityCase{144, 5, 1, 5, 2, 0}, IdentityCase{147, 120, 3, 120, 2, 0},
                                           IdentityCase{152, 9, 9, 9, 2, 0}, IdentityCase{153, 4, 4, 4, 0, 0},
                                           IdentityCase{143, 4, 4, 4, 0, 0}, IdentityCase{160, 3, 1, 3, 0, 2},
                                           IdentityCase{161, 6, 0, 6, 0, 2}, IdentityCase{162, 6, 0, 6, 0, 0}));

TEST_F(SurfaceLinkTest, SurfaceIdentityRaisesHoldoffAndClearsSilence) {
    const struct {
        uint16_t before, after;
    } holdoffs[] = {{0, 10}, {3, 10}, {10, 10}, {25, 25}};
    Open();
    for (const auto& h : holdoffs) {
        SCOPED_TRACE(h.before);
        link->Slots[1].PollHoldoff = h.before;
        link->Slots[1].ResponseCount = 5;
        lines[1]->feed(Frame(Unhex("04 00 40 01 00")));
        int slot;
        std::string body;
        ASSERT_TRUE(link->ReceiveAnySurfaceMessage(slot, body, 255));
        EXPECT_EQ(link->Slots[1].PollHoldoff.load(), h.after);
        EXPECT_EQ(link->Slots[1].ResponseCount.load(), 0);
    }
}

TEST_F(SurfaceLinkTest, SurfaceIdentityTooShortChangesNothing) {
    Open();
    lines[2]->feed(Frame(Unhex("04 00 50")));
    int slot;
    std::string body;
    ASSERT_TRUE(link->ReceiveAnySurfaceMessage(slot, body, 255));
    EXPECT_EQ(link->Slots[2].PanelType.load(), 65);
    EXPECT_EQ(link->Slots[2].PanelVersion, 0);
}

TEST_F(SurfaceLinkTest, SurfaceLocalIOIdentityMovesTheLocalIOPoll) {
    Open();
    link->PollTick();
    // Until a local I/O unit identifies itself, slot 0 gets its poll (and the switcher's).
    EXPECT_EQ(Hex(lines[0]->takeWritten()), "02 04 06 02 5C 5E 02 58 5A");
    EXPECT_EQ(Hex(lines[3]->takeWritten()), "02 04 06");

    lines[3]->feed(Frame(Unhex("04 00 93 05 00"))); // type 147
    int slot;
    std::string body;
    ASSERT_TRUE(link->ReceiveAnySurfaceMessage(slot, body, 255));
    ASSERT_EQ(link->LocalIOPort.load(), 3);

    link->PollTick();
    EXPECT_EQ(Hex(lines[3]->takeWritten()), "02 04 06 02 58 5A");
    EXPECT_EQ(Hex(lines[0]->takeWritten()), "02 04 06 02 5C 5E");
}

struct EffectCase {
    const char* name;
    int slot;
    std::string body;
    std::string answer;
    std::vector<Notice> notices;
    std::string fpgaDate;
};

class SurfaceEffectTest : public SurfaceLinkTest, public ::testing::WithParamInterface<EffectCase> {};

TEST_P(SurfaceEffectTest, MessageFromPanel) {
    const auto& c = GetParam();
    Open();
    lines[c.slot]->feed(Frame(c.body));
    int slot = -1;
    std::string body;
    ASSERT_TRUE(link->ReceiveAnySurfaceMessage(slot, body, 255));
    EXPECT_EQ(slot, c.slot);
    EXPECT_EQ(Hex(body), Hex(c.body));
    EXPECT_EQ(Hex(lines[c.slot]->takeWritten()), Hex(c.answer));
    EXPECT_EQ(notices, c.notices);
    EXPECT_EQ(link->LocalIOFPGADate, c.fpgaDate);
}

INSTANTIATE_TEST_SUITE_P(
    Types, SurfaceEffectTest,
    ::testing::Values(
        EffectCase{"PanelNak", 2, Unhex("01 03"), std::string(128, '\0'), {{kOverloadSurfaceNak, 3 * 65536 + 2}},
                   "        "},
        EffectCase{"PanelOverload", 4, Unhex("02"), "", {{kOverloadSurfaceType2, 4}}, "        "},
        EffectCase{"FPGADate", 3, "\x54" "15032024", "", {}, "15032024"},
        EffectCase{"FPGADateTooShort", 3, "\x54" "1503", "", {}, "        "},
        EffectCase{"HexReply", 1, Unhex("09 00"), "", {}, "        "},
        EffectCase{"AcceptedWithoutEffect", 0, Unhex("3D 01 02"), "", {}, "        "}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(SurfaceLinkTest, SurfaceReceiveAnyTakesSlotsInOrderAndCutsBodies) {
    Open();
    lines[3]->feed(Frame(Unhex("3D 01 02 03 04")));
    lines[1]->feed(Frame(Unhex("09 00")));
    int slot = -1;
    std::string body;
    ASSERT_TRUE(link->ReceiveAnySurfaceMessage(slot, body, 2));
    EXPECT_EQ(slot, 1);
    EXPECT_EQ(Hex(body), "09 00");
    ASSERT_TRUE(link->ReceiveAnySurfaceMessage(slot, body, 2));
    EXPECT_EQ(slot, 3);
    EXPECT_EQ(Hex(body), "3D 01");
    EXPECT_FALSE(link->ReceiveAnySurfaceMessage(slot, body, 2));
}

// ---- the poll tick ---------------------------------------------------------

TEST_F(SurfaceLinkTest, SurfaceSilentBootLoaderSlotGetsAutoBaudAfterThreePolls) {
    link->AutoBaudPorts = SlotBit(1); // slot 2 bootloader-capable but not probed
    Open();
    const std::string poll1 = "02 04 06 03 44 3D 84";
    const struct {
        std::string slot1, slot2;
    } ticks[] = {{poll1, poll1}, {poll1, poll1}, {poll1, poll1}, {"55 55", ""}, {"55 55", ""}, {"55 55", ""}};
    int tick = 0;
    for (const auto& t : ticks) {
        SCOPED_TRACE("tick " + std::to_string(++tick));
        link->PollTick();
        EXPECT_EQ(Hex(lines[1]->takeWritten()), t.slot1);
        EXPECT_EQ(Hex(lines[2]->takeWritten()), t.slot2);
    }
    // Each auto-baud tick starts from empty queues.
    EXPECT_EQ(lines[1]->outputClears, 3);
    EXPECT_EQ(lines[1]->inputClears, 3);
    EXPECT_EQ(lines[2]->outputClears, 3);

    lines[1]->feed(Unhex("CC"));
    int slot;
    std::string body;
    EXPECT_FALSE(link->ReceiveAnySurfaceMessage(slot, body, 255));
    EXPECT_EQ(link->BootLoaderPorts.load(), SlotBit(1));
    link->PollTick();
    EXPECT_EQ(Hex(lines[1]->takeWritten()), "55 55") << "a bootloader's answer does not end the probing";

    lines[1]->feed(Unhex("AA"));
    EXPECT_FALSE(link->ReceiveAnySurfaceMessage(slot, body, 255));
    EXPECT_EQ(link->BootLoaderPorts.load(), 0);
    link->PollTick();
    EXPECT_EQ(Hex(lines[1]->takeWritten()), poll1) << "an alive application is polled again";
}

TEST_F(SurfaceLinkTest, SurfaceHoldoffDelaysTheSilenceCount) {
    Open();
    link->Slots[1].PollHoldoff = 2;
    for (int tick = 1; tick <= 5; ++tick) {
        link->PollTick();
        EXPECT_EQ(Hex(lines[1]->takeWritten()), "02 04 06 03 44 3D 84") << "tick " << tick;
    }
    link->PollTick();
    EXPECT_EQ(Hex(lines[1]->takeWritten()), "55 55");
}

TEST_F(SurfaceLinkTest, SurfacePanelsWithoutBootLoaderArePolledThroughHoldoff) {
    Open();
    EXPECT_EQ(link->Slots[3].PollHoldoff.load(), 10);
    for (int tick = 1; tick <= 15; ++tick) {
        link->PollTick();
        EXPECT_EQ(Hex(lines[3]->takeWritten()), "02 04 06") << "tick " << tick;
        EXPECT_EQ(link->Slots[3].PollHoldoff.load(), std::max(0, 10 - tick));
    }
    EXPECT_EQ(lines[3]->outputClears, 0);
}

TEST_F(SurfaceLinkTest, SurfacePollSkipsHaltedLinkDisabledSlotsAndSlotsBeyondNumPorts) {
    ports.add(kCom0 + 5);
    link->Slots[5].ComPortNumber = kCom0 + 5;
    link->EnabledMask = 0xFF & ~SlotBit(4);
    Open();
    EXPECT_EQ(link->GetSurfaceComPort(5), nullptr);
    EXPECT_EQ(link->GetSurfaceComPort(4), nullptr);
    link->PollHalt = true;
    link->PollTick();
    for (auto& l : lines) EXPECT_EQ(l->takeWritten(), "");
    link->PollHalt = false;
    link->PollTick();
    EXPECT_NE(lines[3]->takeWritten(), "");
    EXPECT_EQ(lines[4]->takeWritten(), "");
}

TEST_F(SurfaceLinkTest, SurfaceTimerTicksCountAndPollEvery101Ticks) {
    link->Start_ISAS(true);
    ClearLines();
    ASSERT_TRUE(timerState->running);
    EXPECT_EQ(timerState->period, 10);
    std::vector<int> pollTicks;
    for (int tick = 1; tick <= 210; ++tick) {
        timerState->onTick();
        if (!lines[3]->takeWritten().empty()) pollTicks.push_back(tick);
    }
    EXPECT_EQ(pollTicks, (std::vector<int>{1, 102, 203}));
    EXPECT_EQ(link->TickCount(), 210u);
    EXPECT_EQ(posted, 210);
}

// ---- configuration -------------------------------------------------------

class SurfaceConfigTest : public SurfaceLinkTest {
protected:
    std::filesystem::path Write(const std::string& text) {
        std::string pattern = (std::filesystem::temp_directory_path() / "ravelin_surface_XXXXXX").string();
        const char* made = ::mkdtemp(pattern.data());
        EXPECT_NE(made, nullptr);
        std::filesystem::path dir = made ? made : pattern;
        auto path = dir / "Serial.ini";
        std::ofstream(path) << text;
        dirs.push_back(dir);
        return path;
    }
    void TearDown() override {
        for (auto& d : dirs) std::filesystem::remove_all(d);
        SurfaceLinkTest::TearDown();
    }
    std::vector<std::filesystem::path> dirs;
};

TEST_F(SurfaceConfigTest, SurfaceSerialIniIsRead) {
    const auto path = Write("[SerialPorts]\r\n"
                            "EnabledMask=31\r\n"
                            "ComPort0=3\r\nBaudRate0=57600\r\n"
                            "ComPort1=4\r\n"
                            "ComPort2=5\r\nBaudRate2=abc\r\n"
                            "ComPort3=\r\n"
                            "ComPort4=9\r\nBaudRate4=\r\n"
                            "ComPort5=12\r\n"
                            "VCPreconnectionDelay=250\r\n");
    link->LoadConfig(platform::IniFile(path.string()));
    EXPECT_EQ(link->EnabledMask.load(), 31);
    EXPECT_EQ(link->VCPreconnectionDelay, 250);
    const struct {
        int com;
        int baud;
    } expected[8] = {{3, 57600}, {4, 115200}, {5, 115200}, {-1, 115200}, {9, 115200}, {12, 115200}, {-1, 115200},
                     {-1, 115200}};
    for (int s = 0; s < 8; ++s) {
        SCOPED_TRACE("slot " + std::to_string(s));
        EXPECT_EQ(link->Slots[s].ComPortNumber, expected[s].com);
        EXPECT_EQ(link->Slots[s].PortBaudRate, expected[s].baud);
    }

    // Slot 3's empty number is no port, slot 5 lies beyond the slots in use.
    for (int com : {3, 4, 5, 9, 12}) ports.add(com);
    link->Start_ISAS(true);
    std::vector<int> opened;
    for (const auto& o : ports.opens) opened.push_back(o.com);
    EXPECT_EQ(opened, (std::vector<int>{3, 4, 5, 9}));
    EXPECT_EQ(ports.opens[0].baudRate, 57600);
    EXPECT_EQ(ports.opens[2].baudRate, 115200);
    EXPECT_EQ(link->GetSurfaceComPort(3), nullptr);
}

TEST_F(SurfaceConfigTest, SurfaceEmptyValuesGiveTheKeysDefaults) {
    link->LoadConfig(platform::IniFile(Write("[SerialPorts]\r\nEnabledMask=\r\nComPort2=\r\nComPort4=x\r\n").string()));
    EXPECT_EQ(link->EnabledMask.load(), 255);
    EXPECT_EQ(link->Slots[2].ComPortNumber, -1);
    EXPECT_EQ(link->Slots[4].ComPortNumber, -1);
}

TEST_F(SurfaceConfigTest, SurfaceMissingSerialIniGivesDefaults) {
    link->LoadConfig(platform::IniFile((std::filesystem::temp_directory_path() / "ravelin_no_such_dir" / "Serial.ini").string()));
    EXPECT_EQ(link->EnabledMask.load(), 255);
    EXPECT_EQ(link->VCPreconnectionDelay, 4000);
    for (int s = 0; s < 8; ++s) {
        EXPECT_EQ(link->Slots[s].ComPortNumber, -1);
        EXPECT_EQ(link->Slots[s].PortBaudRate, 115200);
    }
    EXPECT_EQ(link->TivaPorts.load(), SlotBit(1) | SlotBit(2));
    EXPECT_EQ(link->AutoBaudPorts.load(), SlotBit(1) | SlotBit(2));
    const int16_t types[8] = {-1, 64, 65, 150, 134, -1, -1, -1};
    for (int s = 0; s < 8; ++s) EXPECT_EQ(link->PanelType(s), types[s]);
    EXPECT_EQ(link->LocalIOFPGADate, "        ");
}

// ---- opening, starting, closing ------------------------------------------

TEST_F(SurfaceLinkTest, SurfacePortThatFailsToOpenIsReportedAndOthersOpen) {
    ports.lines.erase(kCom0 + 2);
    EXPECT_TRUE(link->OpenSurfacePorts(true));
    EXPECT_EQ(messages, (std::vector<std::string>{"Cannot open ComPort 12"}));
    for (int s : {0, 1, 3, 4}) EXPECT_NE(link->GetSurfaceComPort(s), nullptr) << s;
    EXPECT_EQ(link->GetSurfaceComPort(2), nullptr);
    // Every panel but the KR60 local I/O (slot 3) gets its DTR pulse.
    const int pulses[5] = {1, 1, 0, 0, 1};
    for (int s = 0; s < 5; ++s) EXPECT_EQ(lines[s]->dtrPulses, pulses[s]) << s;
    EXPECT_EQ(clock.now, 500u) << "100 ms after each attempted port";
}

TEST_F(SurfaceLinkTest, SurfaceNoPortOpensLeavesLinkClosed) {
    ports.lines.clear();
    link->OpenSurfaceLink(true);
    EXPECT_FALSE(link->PortsOpen.load());
    EXPECT_EQ(messages.size(), 5u);
    EXPECT_FALSE(link->SendSurfaceMessage(0, "\x04"));
    EXPECT_TRUE(notices.empty());
}

TEST_F(SurfaceLinkTest, SurfaceStartIsas) {
    const struct {
        bool runMain;
        bool pollHalt;
        std::string wire[5];
    } cases[] = {
        {true, false, {"02 0A 0C", "55 55", "55 55", "02 0A 0C", "02 0A 0C"}},
        {false, true, {"", "", "", "", ""}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.runMain);
        TearDown();
        SetUp();
        link->Start_ISAS(c.runMain);
        EXPECT_TRUE(link->PortsOpen.load());
        EXPECT_EQ(link->PollHalt.load(), c.pollHalt);
        ASSERT_EQ(ports.opens.size(), 5u);
        for (const auto& o : ports.opens) EXPECT_EQ(o.flowControl, c.runMain);
        EXPECT_TRUE(timerState->running);
        for (int s = 0; s < 5; ++s) EXPECT_EQ(Hex(lines[s]->takeWritten()), c.wire[s]) << "slot " << s;
        const uint16_t holdoffs[5] = {10, 0, 0, 10, 10};
        for (int s = 0; s < 5; ++s) EXPECT_EQ(link->Slots[s].PollHoldoff.load(), holdoffs[s]) << "slot " << s;
        link->PollTick();
        EXPECT_EQ(lines[3]->takeWritten().empty(), c.pollHalt);
    }
}

TEST_F(SurfaceLinkTest, SurfaceCloseStopsTimerBeforePortsGo) {
    for (auto& l : lines) l->onClose = [this] { events.push_back("port closed"); };
    link->Start_ISAS(true);
    link->CloseSurfaceLink();
    ASSERT_EQ(events.size(), 6u);
    EXPECT_EQ(events.front(), "timer stopped");
    for (auto& l : lines) EXPECT_FALSE(l->open);
    EXPECT_FALSE(link->PortsOpen.load());
    EXPECT_EQ(link->GetSurfaceComPort(0), nullptr);
    EXPECT_FALSE(link->SendSurfaceMessage(0, "\x04"));
    int slot;
    std::string body;
    EXPECT_FALSE(link->ReceiveAnySurfaceMessage(slot, body, 255));
    EXPECT_TRUE(notices.empty());

    // Reopening starts the same timer again, counting on from where it was.
    timerState->onTick = nullptr;
    link->Start_ISAS(true);
    EXPECT_EQ(timerState->starts, 2);
    EXPECT_TRUE(lines[0]->open);
}

TEST_F(SurfaceLinkTest, SurfaceDestructorClosesTheLink) {
    link->Start_ISAS(true);
    link.reset();
    EXPECT_FALSE(timerState->running);
    for (auto& l : lines) EXPECT_FALSE(l->open);
}

TEST_F(SurfaceLinkTest, SurfaceRestartReopensPulsesWaitsAndPolls) {
    link->Start_ISAS(true);
    ClearLines();
    clock.now = 0;
    link->RestartSurfaceLink();
    EXPECT_EQ(ports.opens.size(), 10u);
    EXPECT_TRUE(ports.opens.back().flowControl);
    // The restart pulses every open port, the KR60 local I/O too.
    const int pulses[5] = {3, 3, 3, 1, 3};
    for (int s = 0; s < 5; ++s) EXPECT_EQ(lines[s]->dtrPulses, pulses[s]) << s;
    EXPECT_EQ(clock.now, 5 * 100u + 55 + 2000 + 55);
    EXPECT_EQ(Hex(lines[1]->takeWritten()), "55 55");
    EXPECT_EQ(Hex(lines[3]->takeWritten()), "02 0A 0C");
    EXPECT_EQ(timerState->starts, 2);
}

TEST_F(SurfaceLinkTest, SurfaceComPortLookup) {
    Open();
    for (int s = 0; s < 5; ++s) {
        ASSERT_NE(link->GetSurfaceComPort(s), nullptr);
        EXPECT_EQ(link->GetSurfaceComPort(s)->comNumber(), kCom0 + s);
    }
    for (int s : {5, 7, 8, 15, -1}) EXPECT_EQ(link->GetSurfaceComPort(s), nullptr) << s;
}

TEST_F(SurfaceLinkTest, SurfaceRawBurstsGoOutUnframed) {
    Open();
    link->SendSurfaceRaw(1, "UU");
    link->SendSurfaceRaw(9, "UU"); // no such slot: nothing, no crash
    EXPECT_EQ(Hex(lines[1]->takeWritten()), "55 55");
}

// ---- both threads on one port --------------------------------------------

TEST_F(SurfaceLinkTest, SurfaceFramesFromBothThreadsStayWhole) {
    Open();
    link->Slots[3].PollHoldoff = 0;
    constexpr int kPolls = 300, kLines = 300;
    std::thread timerThread([&] {
        for (int i = 0; i < kPolls; ++i) link->PollTick();
    });
    for (int i = 0; i < kLines; ++i) link->SendSurfaceMessage(3, "\x09" + kHexLine);
    timerThread.join();

    const auto bodies = SplitFrames(lines[3]->takeWritten());
    int polls = 0, hexLines = 0;
    for (const auto& b : bodies) {
        if (b == "\x04") ++polls;
        else if (b == "\x09" + kHexLine) ++hexLines;
        else ADD_FAILURE() << "unexpected body " << Hex(b);
    }
    EXPECT_EQ(polls, kPolls);
    EXPECT_EQ(hexLines, kLines);
}

TEST_F(SurfaceLinkTest, SurfaceRealTimerTicksAndStopsBeforeClose) {
    SurfaceLinkServices sv;
    sv.openPort = ports.opener();
    sv.newTimer = [] { return platform::newSystemTimerThread(); };
    sv.clock = &clock;
    std::atomic<int> ticks{0};
    sv.postTimerTick = [&] { ++ticks; };
    SurfaceLink real(std::move(sv));
    for (int s = 0; s < 5; ++s) real.Slots[s].ComPortNumber = static_cast<int16_t>(kCom0 + s);
    real.Start_ISAS(true);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (ticks < 3 && std::chrono::steady_clock::now() < deadline) {
        real.SendSurfaceMessage(3, "\x09" + kHexLine);
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    real.CloseSurfaceLink();
    const int afterClose = ticks;
    EXPECT_GE(afterClose, 3);
    EXPECT_EQ(real.TickCount(), static_cast<uint32_t>(afterClose));
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_EQ(ticks.load(), afterClose) << "no tick after the link is closed";
    for (const auto& b : SplitFrames(lines[3]->takeWritten().substr(0)))
        EXPECT_TRUE(b == "\x04" || b == "\x0A" || b == "\x09" + kHexLine) << Hex(b);
}

// ---- panel types -----------------------------------------------------------

TEST(SurfacePanelTypes, Names) {
    const struct {
        int code;
        const char* name;
    } cases[] = {{0, "Upper Master"},     {27, "Fader Pod"},       {64, "KR60 Right"},     {86, "MX6 Right"},
                 {129, "GPIO/MIDI"},      {150, "KR60 Local IO"},  {151, "MX7 Local IO Mk2"},
                 {161, "KR70 PowerCon"},  {255, ""},               {3, "3"},               {-1, ""},
                 {200, "200"}};
    for (const auto& c : cases) EXPECT_EQ(PanelTypeName(c.code), c.name) << c.code;
}

TEST(SurfacePanelTypes, Families) {
    for (int t = -1; t <= 256; ++t) {
        const bool work = (t >= 0 && t <= 2) || (t >= 8 && t <= 10) || t == 16 || t == 17 ||
                          (t >= 24 && t <= 27) || t == 32 || t == 40 || t == 41 || t == 64 || t == 65 ||
                          t == 80 || t == 81 || t == 85 || t == 86;
        EXPECT_EQ(IsWorkSurfaceType(t), work) << t;
        EXPECT_EQ(IsLocalIOType(t), t >= 144 && t <= 152) << t;
        EXPECT_EQ(IsSwitcherType(t), t == 160 || t == 161) << t;
    }
}

} // namespace
} // namespace ravelin::surface
