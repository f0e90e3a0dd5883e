// Card firmware and card FPGA on a card slot's TCP link, and rack code
// through a card (the MADI card's tunnel: the engine link's rack messages for
// port 16 go to the card of slot 0, the rack's answers come back from it),
// against cards played byte for byte that can be told to fail. A dropped
// link is a socket the card closed; the slot makes it again once the update
// has ended. The card of the other slot is polled all along, and a card whose
// own protocol goes on during its update keeps answering its polls.

#include <filesystem>
#include <fstream>

#include "app/ostra_racks.h"
#include "cards/card_messages.h"
#include "cards/fake_tcp.h"
#include "cards/madi_control.h"
#include "cards/ostra_fpga_update.h"
#include "cards/ostra_tiva_update.h"
#include "cards/ostra_tunnel.h"
#include "cards/played_card.h"
#include "engine/engine_fixture.h"
#include "engine/rack_download.h"
#include "faults/matrix.h"
#include "mcu/tiva_file_updater.h"

namespace ravelin::faults {
namespace {

using namespace cards::test;

constexpr int kImageBytes = 1000;  // five boot-loader packets, eight FPGA packets, eight rack packets
constexpr int kBootLoaderPackets = 5;
constexpr int kRackRow = 20;
constexpr int kRack = 1;  // the rack behind the card of slot 0, on port 16

// The MADI control messages of the rack's exchange.
constexpr uint16_t kMADIRackAck = 0x2020, kMADIRackStart = 0x2021, kMADIRackPacket = 0x2022,
                   kMADIRackEnd = 0x2023, kMADIRackProgram = 0x2024, kMADIFlashResult = 0x2025,
                   kMADIVersionReport = 0x2029, kMADITransferCheck = 0x202A;

// A MADI control message in the card frame that carries it: the words go
// little-endian after the code and n, and the sum of all of them ends it.
std::string MADIFrame(uint16_t code, std::vector<uint16_t> data) {
    std::vector<uint16_t> words{code, uint16_t(data.size() + 2)};
    words.insert(words.end(), data.begin(), data.end());
    uint16_t sum = 0;
    for (uint16_t w : words) sum = uint16_t(sum + w);
    words.push_back(sum);
    std::string body = Bytes({31, 0});
    for (uint16_t w : words) body += Bytes({w & 0xFF, w >> 8});
    return CardFrame(body);
}

// The engine link's window: what the engine link sends to ports 16 and 17
// goes to the card slots.
class CardWindow : public engine::testing::FakeWindow {
public:
    bool SendToOstraSlot(engine::tEngineHeader h, const uint8_t* data, int length) override {
        return cards::SendToOstraSlot(*slots, h, data, length);
    }
    cards::tOstraSlots* slots = nullptr;
};

class CardPaths : public ::testing::TestWithParam<Fault> {
protected:
    void SetUp() override {
        folder = std::filesystem::temp_directory_path() / ("faults_cards_" + std::to_string(::getpid()));
        std::filesystem::create_directories(folder / "Ostra");
        std::filesystem::create_directories(folder / "Racks");
        for (size_t i = 0; i < image.size(); ++i) image[i] = uint8_t(i * 7 + 3);
        for (auto name : {"Ostra/tarvola_ostra_madi.bin", "Ostra/tarvola_ostra_MADI_fpga.bit", "Racks/Rack.bin"})
            std::ofstream(folder / name, std::ios::binary)
                .write(reinterpret_cast<const char*>(image.data()), std::streamsize(image.size()));

        racks.AddOstraRacks();
        window.rows[kRack] = kRackRow;
        window.slots = &slots;
        unit = std::make_unique<engine::EngineUnit>(loop, loop, log, window, racks, [](const std::string&, int) {
            return std::make_unique<engine::testing::FakeConnection>();
        });
        unit->OpenEngineLinks("10.0.0.1");
        ostraRacks = std::make_unique<app::OstraRacks>(racks, unit->Info);
        for (int i = 0; i < 2; ++i) {
            cards::OstraSlotServices s;
            s.engineAddress = "10.0.0.5";
            s.link = FakeLink(sock[i], linkLog, &loop);
            s.racks = ostraRacks.get();
            slots[size_t(i)] = cards::NewOstraSlot(i, s);
            // As the main window hands a rack's answers to the engine link.
            slots[size_t(i)]->OnMADIMessageReceived = [this](int nRack, int nSlot, const std::string& m) {
                engine::tEngineMessage e;
                if (nRack > 0 && cards::MADIToEngineMessage(m, nSlot, e)) unit->ProcessEngineMessage(e);
            };
            card[i].sock = sock[i];
            sock[i]->connect();
        }
        // Both cards answer the synchronisation and their first poll.
        for (int t = 0; t < 210; ++t) {
            Serve();
            loop.advance(10);
        }
        ASSERT_EQ(slots[0]->CardType, 20);
        ASSERT_EQ(slots[1]->CardType, 20);
    }
    void TearDown() override {
        slots = {};
        std::filesystem::remove_all(folder);
    }

    // The main window's communications tick for the cards; a dropped link is
    // made again once the update has ended and the slot asks for it.
    void Serve() {
        if (dropped && matrix.Endings() > 0 && sock[0]->opens > opensAtDrop && !sock[0]->isConnected) {
            card[0].silent = false;
            card[0].seen = sock[0]->sent.size();
            sock[0]->connect();
        }
        for (int i = 0; i < 2; ++i) {
            card[i].Answer();
            slots[size_t(i)]->Service();
        }
    }
    // The card closes its link: nothing more reaches it or comes from it.
    void Drop() {
        dropped = true;
        opensAtDrop = sock[0]->opens;
        card[0].silent = true;
        sock[0]->isConnected = false;
        sock[0]->incoming.clear();
        sock[0]->handlers.disconnected();
    }
    void Reply(const std::string& frame) {
        if (!card[0].silent) sock[0]->deliver(frame);
    }

    // The running firmware's file update of the FPGA, card frames with
    // header 39; its polls go on being answered.
    void FPGAFrame(const std::string& body, Fault fault) {
        if (body.size() < 2 || uint8_t(body[0]) != cards::cm_UpdateFPGA) return;
        if (fault == Fault::SilentFromStart || fileSilent) return;
        const uint8_t kind = uint8_t(body[1]);
        if (kind == mcu::kFileUpdateStart) {
            Reply(CardFrame({39, 0, 0}));
        } else if (kind == mcu::kFileUpdateData && body.size() >= 4) {
            const int n = uint8_t(body[2]) << 8 | uint8_t(body[3]);
            if (n == 2 && fault == Fault::SilentMidTransfer) {
                fileSilent = true;
                return;
            }
            if (n == 2 && fault == Fault::LinkDropped) return Drop();
            // The packet's sum did not match what came.
            if (n == 2 && fault == Fault::Corrupted) return Reply(CardFrame({39, 1, 2, n >> 8, n & 0xFF}));
            if (size_t(n) * mcu::kFileUpdatePacketSize == taken.size())
                taken.insert(taken.end(), body.begin() + 4, body.end());
            Reply(CardFrame({39, 1, 0, n >> 8, n & 0xFF}));
        } else if (kind == mcu::kFileUpdateFinish) {
            confirmed = fault != Fault::ErrorAtLastStep && taken == image;
            Reply(CardFrame({39, 2, confirmed ? 0 : 4}));
        }
    }

    // The rack behind the card: MADI control messages in card frames with
    // header 31, each answered the same way.
    void RackFrame(const std::string& body, Fault fault) {
        if (body.size() < 6 || uint8_t(body[0]) != cards::cm_TarvolaControl) return;
        std::vector<uint16_t> w;
        for (size_t i = 2; i + 1 < body.size(); i += 2)
            w.push_back(uint16_t(uint8_t(body[i]) | uint8_t(body[i + 1]) << 8));
        const uint16_t code = w[0];
        const size_t n = w[1];
        if (n < 2 || n >= w.size() || fault == Fault::SilentFromStart || fileSilent) return;
        auto ack = [&](uint16_t v) { Reply(MADIFrame(kMADIRackAck, {v, 0})); };
        if (code == kMADIRackStart) {
            ack(1);
        } else if (code == kMADIRackPacket) {
            ++rackPackets;
            if (rackPackets == 2 && fault == Fault::SilentMidTransfer) {
                fileSilent = true;
                return;
            }
            if (rackPackets == 2 && fault == Fault::LinkDropped) return Drop();
            for (size_t i = 2; i < n; ++i) {
                rackWords.push_back(w[i]);
                rackSum = uint16_t(rackSum + w[i]);
            }
            if (rackPackets == 2 && fault == Fault::Corrupted) {
                // The acknowledgement comes with a byte changed on the way.
                std::string f = MADIFrame(kMADIRackAck, {1, 0});
                f[4] = char(f[4] ^ 0x40);
                return Reply(f);
            }
            ack(1);
            if (rackPackets == 1) {
                Reply(MADIFrame(kMADIVersionReport, {0x0103, 0, 6}));
                versionSent = true;
            }
        } else if (code == kMADIRackEnd) {
            ack(1);
            Reply(MADIFrame(kMADITransferCheck, {uint16_t(rackWords.size()), 0, rackSum, 1}));
        } else if (code == kMADIRackProgram) {
            std::vector<uint8_t> got;
            for (uint16_t x : rackWords) got.insert(got.end(), {uint8_t(x), uint8_t(x >> 8)});
            confirmed = fault != Fault::ErrorAtLastStep && got == image;
            Reply(MADIFrame(kMADIFlashResult, {uint16_t(confirmed ? 1 : 2), 0}));
        }
    }

    // Whatever the ending, the slot looks for its card again and finds out
    // where it stands (running, or waiting in its boot loader), and the other
    // slot's card was polled every second.
    void ExpectCardsServed(const Ending& e, int otherPollsBefore) {
        if (card[0].silent) {
            const size_t from = sock[0]->sent.size();
            for (int t = 0; t < 100; ++t) {
                Serve();
                loop.advance(10);
            }
            std::string sent;
            for (size_t i = from; i < sock[0]->sent.size(); ++i) sent += sock[0]->sent[i];
            EXPECT_NE(sent.find(kSync), std::string::npos) << "the silent card is synchronised every second";
        } else {
            EXPECT_TRUE(slots[0]->CardType == 20 || slots[0]->InBootLoader) << "the card of the slot is found again";
        }
        EXPECT_FALSE(slots[0]->CodeUpdating());
        EXPECT_EQ(slots[0]->FPGAUpdater, nullptr);
        EXPECT_GE(card[1].polls - otherPollsBefore, e.ms / 1000 - 1) << "the other slot's card was polled";
        EXPECT_EQ(slots[1]->CardType, 20);
    }

    platform::VirtualEventLoop loop;
    engine::testing::FakeControl log;
    CardWindow window;
    engine::RackTable racks;
    std::unique_ptr<engine::EngineUnit> unit;
    std::unique_ptr<app::OstraRacks> ostraRacks;
    std::shared_ptr<FakeTcpState> sock[2] = {std::make_shared<FakeTcpState>(), std::make_shared<FakeTcpState>()};
    std::vector<std::string> linkLog;
    cards::tOstraSlots slots;
    PlayedCard card[2];
    std::filesystem::path folder;
    std::vector<uint8_t> image = std::vector<uint8_t>(kImageBytes);
    std::vector<uint8_t> taken;
    std::vector<uint16_t> rackWords;
    uint16_t rackSum = 0;
    int rackPackets = 0, opensAtDrop = 0;
    MatrixControl matrix;
    bool dropped = false, fileSilent = false, confirmed = false, versionSent = false;
};

TEST_P(CardPaths, CardFirmware) {
    const Fault fault = GetParam();
    matrix.row = 15;
    if (fault == Fault::SilentFromStart) card[0].silent = true;
    if (fault == Fault::Corrupted) card[0].nakDataPacket = 2;
    if (fault == Fault::ErrorAtLastStep) card[0].failDataPacket = kBootLoaderPackets;
    cards::OstraTivaUpdate update(matrix, slots[0].get(), folder.string(), "Ostra\\tarvola_ostra_madi.bin");
    const int otherPolls = card[1].polls;
    bool cameBack = false;
    const Ending e = RunUpdate(
        loop, matrix, update,
        [&] {
            if (card[0].dataPackets == 2 && fault == Fault::SilentMidTransfer) card[0].silent = true;
            if (card[0].dataPackets == 2 && fault == Fault::LinkDropped && !dropped) Drop();
            Serve();
        },
        60000, 35000, [&] {
            const int before = matrix.finishes;
            update.BackOnline();
            if (matrix.finishes > before) cameBack = slots[0]->CardType == 20 && !slots[0]->InBootLoader;
        });
    // Only a reset the boot loader acknowledged, of a card that took the
    // whole image and has reported from its new firmware, is a new firmware.
    ExpectCell("card firmware", fault, e, card[0].resets == 1 && card[0].image == image && cameBack, 31000);
    ExpectCardsServed(e, otherPolls);
}

TEST_P(CardPaths, CardFPGA) {
    const Fault fault = GetParam();
    matrix.row = 16;
    card[0].onFrame = [&](const std::string& body) { FPGAFrame(body, fault); };
    cards::OstraFPGAUpdate update(matrix, slots[0].get(), folder.string(), "Ostra\\tarvola_ostra_MADI_fpga.bit");
    const int otherPolls = card[1].polls, ownPolls = card[0].polls;
    const Ending e = RunUpdate(loop, matrix, update, [&] { Serve(); }, 60000);
    ExpectCell("card FPGA", fault, e, confirmed, 31000 + 1000);
    ExpectCardsServed(e, otherPolls);
    if (!dropped) { EXPECT_GE(card[0].polls - ownPolls, e.ms / 1000 - 1) << "the card's polls went on"; }
}

TEST_P(CardPaths, RackThroughACard) {
    const Fault fault = GetParam();
    matrix.row = kRackRow;
    card[0].onFrame = [&](const std::string& body) { RackFrame(body, fault); };
    engine::RackDownload update(unit->Dispatch(), matrix, kRack, (folder / "Racks/Rack.bin").string());
    const int otherPolls = card[1].polls, ownPolls = card[0].polls;
    const Ending e = RunUpdate(loop, matrix, update, [&] { Serve(); }, 60000);
    // A rack that stops answering mid-file: every packet counts as taken
    // after 2.5 s, then its silence at the end ends the update.
    ExpectCell("rack through a card", fault, e, confirmed, 8 * 2500 + 31000);
    if (fault == Fault::Corrupted) { EXPECT_EQ(e.finishes, 1) << "the packet whose answer was lost was taken"; }
    if (versionSent) { EXPECT_EQ(window.running[kRackRow], "1.3") << "the rack's version report was handled meanwhile"; }
    ExpectCardsServed(e, otherPolls);
    if (!dropped) { EXPECT_GE(card[0].polls - ownPolls, e.ms / 1000 - 1) << "the card's polls went on"; }
}

INSTANTIATE_TEST_SUITE_P(Faults, CardPaths, ::testing::ValuesIn(AllFaults()), FaultParamName);

} // namespace
} // namespace ravelin::faults
