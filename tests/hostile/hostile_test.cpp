// Hostile bytes on every link while the inventory fills: the panels, the host
// board, the engine and both cards all talk garbage (random bytes, frames cut
// short, frames longer than any frame can be, good frames with a wrong sum)
// to a main window on virtual time. The program answers as each protocol
// says, finds the good frames behind the garbage, and stays flat in memory
// and descriptors however long the garbage goes on.
#include <malloc.h>

#include <filesystem>
#include <random>

#include "app/main_form_fixture.h"
#include "cards/card_messages.h"
#include "cards/fake_tcp.h"
#include "engine/engine_fixture.h"
#include "host/host_messages.h"
#include "surface/frame.h"
#include "surface/isa_serial.h"

namespace ravelin::app::testing {
namespace {

using engine::testing::EngineReply;
using engine::testing::FakeConnection;

enum class Garbage { Random, Truncated, Oversized, WrongSum };

const char* Name(Garbage g) {
    switch (g) {
    case Garbage::Random: return "Random";
    case Garbage::Truncated: return "Truncated";
    case Garbage::Oversized: return "Oversized";
    case Garbage::WrongSum: return "WrongSum";
    }
    return "";
}

// A length-byte frame (panels, host board, cards) spoiled the given way.
std::string SpoiltFrame(Garbage g, const std::string& body, std::mt19937& rng) {
    std::string f = surface::EncodeFrame(body);
    switch (g) {
    case Garbage::Random: {
        std::string r(40 + rng() % 200, '\0');
        for (auto& c : r) c = char(rng());
        return r;
    }
    case Garbage::Truncated: return f.substr(0, f.size() / 2);
    case Garbage::Oversized: return std::string(1, char(0xFF)) + std::string(300, char(0x7E));
    case Garbage::WrongSum: f.back() = char(f.back() + 1); return f;
    }
    return f;
}

// The same for the engine's word stream.
std::vector<uint8_t> SpoiltEngine(Garbage g, const engine::tEngineMessage& m, std::mt19937& rng) {
    auto b = engine::testing::Bytes(m);
    switch (g) {
    case Garbage::Random: {
        std::vector<uint8_t> r(2 * (20 + rng() % 100));
        for (auto& c : r) c = uint8_t(rng());
        return r;
    }
    case Garbage::Truncated: b.resize(b.size() / 2 & ~size_t(1)); return b;
    case Garbage::Oversized: {
        // A word count of 255 and a long run of words behind it that never sum up.
        std::vector<uint8_t> r(2 * 4000, 0x11);
        r[0] = 0xFF;
        return r;
    }
    case Garbage::WrongSum: b.back() ^= 0x40; return b;
    }
    return b;
}

// A card as its link shows it: "UU" answered with 0xAA, every poll with the
// card's status. Only what the program sent since the last call is read.
struct CardModel {
    std::shared_ptr<cards::test::FakeTcpState> tcp = std::make_shared<cards::test::FakeTcpState>();
    int type = 20, version = 5;
    std::string heard;  // what the program sent, while kept
    bool keep = true;
    void Serve() {
        const std::string fresh = tcp->allSent();
        tcp->sent.clear();
        tcp->receiveSizes.clear();
        if (keep) heard += fresh;
        if (!tcp->isConnected) return;
        if (fresh.find("UU") != std::string::npos) tcp->deliver(std::string(1, char(cards::kCardFirmwareRunning)));
        if (fresh.find(surface::EncodeFrame(std::string{char(cards::cm_OstraStatus), char(0)})) != std::string::npos)
            tcp->deliver(Status());
    }
    std::string Status() const {
        return surface::EncodeFrame(std::string{char(cards::cm_OstraStatus), char(0), char(type), char(version), char(40)} +
                                    "2021/04/22" + std::string{char(0x80), char(0xBB), 0, 0});
    }
};

class HostileTest : public MainFormTest {
protected:
    void SetUp() override {
        MainFormTest::SetUp();
        Kr60("[KR60]\r\nEngineIPAddress=10.0.0.1\r\nEngineComPort=6\r\n");
        WriteFile(folder / "CorvaneTiva.dfu", std::string("..version\x00\x0E", 11));
        WriteFile(folder / "KR60GPIO.hex", "");
        WriteFile(folder / "ostra" / "tarvola_ostra_madi.bin", std::string("version\x06", 8));
        SerialPorts({{1, 11}, {4, 14}});
        Panel(11, 64, 7);
        Panel(14, 134, 11);
        hostLine = ports.add(6);
        realHost = true;
        newEngineLink = [this](platform::UpdateControl& c, engine::EngineWindow& w, engine::RackTable& r) {
            return std::make_unique<engine::EngineUnit>(loop, loop, c, w, r, [this](const std::string&, int) {
                auto conn = std::make_unique<FakeConnection>();
                engineConn = conn.get();
                return conn;
            });
        };
        newOstraSlot = [this](int i, const cards::OstraSlotServices& services) {
            cards::OstraSlotServices s = services;
            auto tcp = cards[i].tcp;
            s.link.newClient = [tcp](const std::string&, int, platform::TcpClient::Handlers h) {
                tcp->handlers = std::move(h);
                return std::make_unique<cards::test::FakeTcpClient>(tcp);
            };
            s.link.clock = &loop;
            auto slot = cards::NewOstraSlot(i, s);
            slots[i] = slot.get();
            return slot;
        };
        cards[1].type = 21;
    }

    // Virtual time in 10 ms steps with every device answering between them:
    // the host board its polls and status request, the engine its version
    // dates once a second, the cards their polls.
    void Serve(int ms) {
        for (int t = 0; t < ms; t += 10) {
            for (auto& [com, p] : panels) {
                std::string w = p.line->takeWritten();
                if (keepRecords) panelWritten[com] += w;
                p.pending += w;
            }
            std::string fromProgram = hostLine->takeWritten();
            if (keepRecords) hostWritten += fromProgram;
            if (hostLine->open && fromProgram.find(surface::EncodeFrame(std::string(1, char(host::kHostAYT)))) !=
                                      std::string::npos)
                hostLine->feed(surface::EncodeFrame(std::string(1, char(host::kHostAYT))));
            if (hostLine->open &&
                fromProgram.find(surface::EncodeFrame(std::string(1, char(host::kHostStatus)))) != std::string::npos)
                hostLine->feed(surface::EncodeFrame(std::string(1, char(host::kHostStatus)) + "\x01\x0E" "2021/09/01"));
            for (auto& c : cards) {
                if (!c.tcp->isConnected && c.tcp->opens > c.tcp->closes) c.tcp->connect();
                c.Serve();
            }
            if (engineConn) engineConn->sent.clear();
            if (engineConn && (elapsed_ += 10) % 1000 == 0) engineConn->push(engine::testing::Bytes(Dates()));
            Run(10);
        }
    }
    engine::tEngineMessage Dates() {
        return EngineReply(0, engine::MakeHeader(0x0002, 18, 0).IDfull, {0x12, 0x06, 0x23, 0x20}, ++engineSequence);
    }

    // The garbage of one kind on every link at once.
    void Spoil(Garbage g) {
        for (auto& [com, p] : panels)
            p.line->feed(SpoiltFrame(g, std::string{0x04, 0x00, char(p.type), char(p.version), 0}, rng));
        hostLine->feed(SpoiltFrame(g, std::string(1, char(host::kHostAYT)), rng));
        for (auto& c : cards)
            if (c.tcp->isConnected) c.tcp->deliver(SpoiltFrame(g, c.Status().substr(1, c.Status().size() - 2), rng));
        if (engineConn) engineConn->push(SpoiltEngine(g, Dates(), rng));
    }

    bool Logged(const std::string& start) {
        for (const auto& l : LogLines())
            if (l.size() > 31 && l.compare(31, start.size(), start) == 0) return true;
        return false;
    }
    bool InventoryFilled() {
        return Cell(ColRunning, 1) == "12/06/2023" && Cell(ColRunning, 5) == "14" && Cell(ColRunning, 9) == "7" &&
               Cell(ColRunning, 12) == "11" && Cell(ColRunning, 15) == "5" && Cell(ColRunning, 17) == "5";
    }

    std::mt19937 rng{12};
    std::shared_ptr<surface::testing::FakeLine> hostLine;
    std::string hostWritten;
    std::map<int, std::string> panelWritten;
    bool keepRecords = true;  // what the program sent to the panels and the host board
    FakeConnection* engineConn = nullptr;
    uint16_t engineSequence = 0;
    int elapsed_ = 0;
    CardModel cards[2];
    cards::tOstraSlot* slots[2] = {nullptr, nullptr};
};

class GarbageTest : public HostileTest, public ::testing::WithParamInterface<Garbage> {};

// The garbage comes first on every link, before the devices' first good
// answers: each protocol answers it its own way, and the rows still fill.
TEST_P(GarbageTest, EachLinkAnswersAsItsProtocolSaysAndTheInventoryStillFills) {
    const Garbage g = GetParam();
    for (auto& c : cards) c.tcp->isConnected = false;
    Create();
    for (auto& c : cards) c.tcp->connect();
    Spoil(g);
    // A card waits for the rest of a frame as long as the garbage claimed;
    // at worst its silence count (five polls) clears the link.
    Serve(8000);
    ASSERT_TRUE(InventoryFilled()) << "engine " << Cell(ColRunning, 1) << ", host " << Cell(ColRunning, 5)
                                   << ", panels " << Cell(ColRunning, 9) << "/" << Cell(ColRunning, 12) << ", cards "
                                   << Cell(ColRunning, 15) << "/" << Cell(ColRunning, 17);

    // Panels: a frame that cannot be one is answered with a NAK (0: a bad
    // frame, 1: a length no frame has).
    const std::string nak = surface::EncodeFrame(std::string{char(surface::kSurfaceNak), 0});
    const std::string nakTooLong = surface::EncodeFrame(std::string{char(surface::kSurfaceNak), 1});
    for (auto& [com, sent] : panelWritten) {
        if (g == Garbage::Oversized) EXPECT_NE(sent.find(nakTooLong), std::string::npos) << "COM" << com;
        else EXPECT_TRUE(sent.find(nak) != std::string::npos || sent.find(nakTooLong) != std::string::npos)
            << "COM" << com;
    }

    // Host board: its Error frame, with the length or the checksum error.
    const std::string lengthError =
        surface::EncodeFrame(std::string{char(host::kHostError), char(host::tu_LengthError)});
    const std::string sumError =
        surface::EncodeFrame(std::string{char(host::kHostError), char(host::tu_ChecksumError)});
    const bool errorSent = hostWritten.find(lengthError) != std::string::npos ||
                           hostWritten.find(sumError) != std::string::npos;
    if (g == Garbage::Oversized) {
        EXPECT_NE(hostWritten.find(lengthError), std::string::npos);
    } else if (g == Garbage::Random) {
        EXPECT_TRUE(errorSent);
    } else {
        EXPECT_NE(hostWritten.find(sumError), std::string::npos);
    }

    // Engine: the words before the next good message are dropped, and said so.
    EXPECT_TRUE(Logged("Engine Rx data error: discarded first ")) << Name(g);
}

INSTANTIATE_TEST_SUITE_P(Kinds, GarbageTest,
                         ::testing::Values(Garbage::Random, Garbage::Truncated, Garbage::Oversized, Garbage::WrongSum),
                         [](const auto& info) { return std::string(Name(info.param)); });

// A card that lost its place in the program's stream says so with Message
// Error, and gets the run of zeros that walks it back to a frame start. A
// card frame with a wrong sum is never believed, even one that looks like a
// status: the slot waits for as many bytes as the bytes in it claim, and at
// worst its silence count (five polls) clears the link, after which the
// card's next status fills the row again.
TEST_F(HostileTest, CardMessageErrorIsAnsweredWithZerosAndAFrameWithAWrongSumIsNeverBelieved) {
    Create();
    Serve(4000);
    ASSERT_TRUE(InventoryFilled()) << Cell(ColRunning, 15);

    cards[0].heard.clear();
    cards[0].tcp->deliver(surface::EncodeFrame(std::string{char(cards::cm_MessageError), char(0)}));
    Serve(20);
    EXPECT_NE(cards[0].heard.find(std::string(cards::tOstraSlot::MessageErrorZeros, '\0')), std::string::npos);
    bool reported = false;
    for (const auto& l : LogLines()) reported = reported || l.find("Ostra 1 reports message error") != std::string::npos;
    EXPECT_TRUE(reported);

    CardModel liar;
    liar.version = 9;
    std::string status = liar.Status();
    status.back() = char(status.back() ^ 0x01);
    bool believed = false;
    cards[0].tcp->deliver(status);
    for (int t = 0; t < 8000; t += 100) {
        Serve(100);
        believed = believed || Cell(ColRunning, 15) == "9";
    }
    EXPECT_FALSE(believed);
    EXPECT_TRUE(InventoryFilled()) << Cell(ColRunning, 15);
}

int OpenDescriptors() {
    int n = 0;
    for (auto& e : std::filesystem::directory_iterator("/proc/self/fd")) {
        (void)e;
        ++n;
    }
    return n;
}

// Round after round of every kind of garbage on every link: queues stay
// bounded, the heap and the descriptors stay where they were after the
// first rounds, and the rows are still filled at the end.
TEST_F(HostileTest, RoundsOfGarbageLeaveMemoryDescriptorsAndQueuesFlat) {
    keepRecords = false;
    for (auto& c : cards) c.keep = false;
    Create();
    auto round = [&] {
        for (Garbage g : {Garbage::Random, Garbage::Truncated, Garbage::Oversized, Garbage::WrongSum}) {
            Spoil(g);
            Serve(1500);
        }
    };
    for (int i = 0; i < 3; ++i) round();
    ASSERT_TRUE(InventoryFilled());
    // The engine link's memo keeps the latest lines, each dump of discarded
    // words as long as the garbage was: it is filled to its bound first, with
    // lines the size of the rounds' own.
    engine::EngineMessenger& messenger = *static_cast<engine::EngineUnit&>(form->Engine()).Messenger();
    const std::vector<uint8_t> words(2 * 400, 0x11);
    while (messenger.MemoBytes() + 4096 < engine::EngineMessenger::kMemoBytes) {
        engineConn->push(words);
        engineConn->push(engine::testing::Bytes(Dates()));
        Serve(10);
    }
    round();
    const size_t heap = mallinfo2().uordblks;
    const int fds = OpenDescriptors();
    size_t maxQueue = 0;
    for (int i = 0; i < 20; ++i) {
        round();
        for (auto* s : slots) maxQueue = std::max(maxQueue, s->ReceiveBuffer.size());
        maxQueue = std::max(maxQueue, size_t(messenger.InputQueued()));
        maxQueue = std::max(maxQueue, engineConn->in.size());
        for (auto& [com, l] : ports.lines) maxQueue = std::max(maxQueue, l->pending());
    }
    EXPECT_LT(maxQueue, 4096u);
    EXPECT_LE(messenger.MemoBytes(), engine::EngineMessenger::kMemoBytes);
    EXPECT_EQ(OpenDescriptors(), fds);
    const long growth = long(mallinfo2().uordblks) - long(heap);
    // Allocator slack comes and goes by some tens of kB; each round's dumps
    // alone are over 20 kB, so anything kept per round shows.
    EXPECT_LT(growth, 256 * 1024) << "heap grew by " << growth << " bytes";
    EXPECT_TRUE(InventoryFilled());
}

} // namespace
} // namespace ravelin::app::testing
