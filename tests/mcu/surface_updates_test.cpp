#include "mcu/local_io_fpga_update.h"
#include "mcu/surface_tiva_update.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "mcu/fake_control.h"
#include "mcu/tiva_test_support.h"
#include "surface/fake_clock.h"
#include "surface/fake_com.h"

namespace ravelin::mcu {
namespace {

namespace fs = std::filesystem;
using surface::testing::FakeClock;
using surface::testing::FakeLine;
using surface::testing::FakePorts;
using testing::FakeControl;
using testing::Hex;
using testing::Pattern;
using testing::Unhex;

// The surface link on in-memory lines (no poll timer: the tests play the
// communications tick themselves), a program folder with the update files.
class SurfaceUpdatesTest : public ::testing::Test {
protected:
    void SetUp() override {
        folder = fs::temp_directory_path() / ("mcu_updates_" + std::to_string(::getpid()));
        fs::create_directories(folder);
        Write("panel.bin", Pattern(500));
        Write("empty.bin", {});
        Write("fpga.bit", Pattern(300));
        for (int s = 0; s < 4; ++s) lines[s] = ports.add(11 + s);
        surface::SurfaceLinkServices sv;
        sv.openPort = ports.opener();
        sv.clock = &clock;
        link = std::make_unique<surface::SurfaceLink>(std::move(sv));
        for (int s = 0; s < 4; ++s) link->Slots[s].ComPortNumber = static_cast<int16_t>(11 + s);
        link->LocalIOPort = 3;
        link->OpenSurfaceLink(true);
        for (auto& l : lines) l->takeWritten();
    }
    void TearDown() override {
        link.reset();
        fs::remove_all(folder);
    }
    void Write(const std::string& name, const std::vector<uint8_t>& bytes) {
        std::ofstream(folder / name, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                             static_cast<std::streamsize>(bytes.size()));
    }
    std::string Path(const std::string& name) { return (folder / name).string(); }

    std::unique_ptr<SurfaceTivaUpdate> Panel(const std::string& file, int slot = 1) {
        auto u = std::make_unique<SurfaceTivaUpdate>(control, *link, clock, "KR60 Right", Path(file), slot);
        u->Start();
        return u;
    }

    // A boot loader on the line of `slot`: every packet is acknowledged, a
    // get status is answered with `status`. Runs the communications tick.
    void Tick(SurfaceTivaUpdate& u, int ticks, uint8_t status = 0x40, int slot = 1) {
        for (int i = 0; i < ticks && control.ends() == 0; ++i) {
            std::string w = lines[slot]->takeWritten();
            image += Reply(w, status, slot);
            u.CommsTick();
        }
    }
    std::string Reply(const std::string& w, uint8_t status, int slot) {
        std::string data;
        size_t i = 0;
        while (i < w.size()) {
            const uint8_t size = uint8_t(w[i]);
            if (size == 0xCC) { ++i; continue; }
            if (size < 3 || i + size > w.size()) break;
            const uint8_t cmd = uint8_t(w[i + 2]);
            std::string reply = "\xCC";
            if (cmd == COMMAND_GET_STATUS) reply += std::string{char(3), char(status), char(status)};
            if (cmd == COMMAND_SEND_DATA) data += w.substr(i + 3, size - 3);
            lines[slot]->feed(reply);
            i += size;
        }
        return data;
    }

    fs::path folder;
    FakePorts ports;
    std::shared_ptr<FakeLine> lines[4];
    FakeClock clock;
    FakeControl control;
    std::unique_ptr<surface::SurfaceLink> link;
    std::string image;
};

TEST_F(SurfaceUpdatesTest, ClickedPanelEntersItsBootLoaderAndTakesTheImage) {
    auto u = Panel("panel.bin");
    EXPECT_EQ(Hex(lines[1]->takeWritten()), "02 03 05");
    EXPECT_TRUE(link->PollHalt);
    EXPECT_TRUE(u->HoldsLine());
    const int64_t before = clock.sleptMs();
    for (int i = 0; i < kBootLoaderEntryTicks - 1; ++i) u->CommsTick();
    EXPECT_EQ(lines[1]->pending(), 0u);
    EXPECT_EQ(Hex(lines[1]->written), "");
    u->CommsTick();
    EXPECT_EQ(Hex(lines[1]->written), "03 20 20");
    EXPECT_EQ(clock.sleptMs() - before, 10);

    Tick(*u, 400);
    const auto expected = Pattern(500);
    EXPECT_EQ(image, std::string(expected.begin(), expected.end()));
    EXPECT_EQ(control.panel, " KR60 Right updating 100%");
    EXPECT_EQ(control.fileSize, 100);
    EXPECT_EQ(control.progress, 100);
    EXPECT_EQ(control.finishes, 1) << "ended after the reset was acknowledged and the 1 s pause";
    EXPECT_TRUE(control.cancels.empty());
    EXPECT_FALSE(link->PollHalt);
    EXPECT_EQ(u->Updater(), nullptr);
    u->NoAnswer(control);
    EXPECT_EQ(control.ends(), 1);
}

TEST_F(SurfaceUpdatesTest, FailingStatusCancelsAfterThePause) {
    auto u = Panel("panel.bin");
    lines[1]->takeWritten();
    for (int i = 0; i < kBootLoaderEntryTicks; ++i) u->CommsTick();
    Tick(*u, 6, COMMAND_RET_FLASH_FAIL);
    EXPECT_EQ(control.panel, " KR60 Right updating 0% error: Flash Failure");
    EXPECT_EQ(control.ends(), 0) << "the result stays on screen for a second";
    EXPECT_TRUE(link->PollHalt);
    Tick(*u, kSurfaceTivaEndTicks);
    ASSERT_EQ(control.cancels.size(), 1u);
    EXPECT_EQ(control.finishes, 0);
    EXPECT_FALSE(link->PollHalt);
}

TEST_F(SurfaceUpdatesTest, PanelThatNeverAnswersEndsOnTheWatchdog) {
    auto u = Panel("panel.bin");
    for (int i = 0; i < 3000; ++i) u->CommsTick(); // 30 s of pings into silence
    EXPECT_EQ(control.ends(), 0);
    EXPECT_EQ(control.rearms, 0) << "pings are no progress";
    u->NoAnswer(control);
    ASSERT_EQ(control.cancels.size(), 1u);
    EXPECT_EQ(control.cancels[0], "no response");
    EXPECT_EQ(u->Updater(), nullptr);
    EXPECT_FALSE(link->PollHalt) << "polling resumes";
    lines[1]->takeWritten();
    u->CommsTick();
    EXPECT_EQ(Hex(lines[1]->takeWritten()), "") << "nothing more goes to the panel";
}

TEST_F(SurfaceUpdatesTest, PanelWaitingInItsBootLoaderIsUpdatedWithoutTheEnterMessage) {
    link->BootLoaderPorts = surface::SlotBit(1) | surface::SlotBit(4);
    link->TivaPorts = surface::SlotBit(1) | surface::SlotBit(2);
    EXPECT_EQ(SurfaceTiva_CheckBootLoader(*link), 9);
    EXPECT_EQ(link->BootLoaderPorts, surface::SlotBit(4));
    EXPECT_TRUE(link->PollHalt);
    auto u = Panel("panel.bin");
    EXPECT_EQ(Hex(lines[1]->takeWritten()), "03 20 20");
    // A slot outside TivaPorts keeps its bit and starts nothing.
    link->PollHalt = false;
    EXPECT_EQ(SurfaceTiva_CheckBootLoader(*link), 0);
    EXPECT_EQ(link->BootLoaderPorts, surface::SlotBit(4));
}

TEST_F(SurfaceUpdatesTest, EmptyOrMissingImageNeverReachesThePanel) {
    for (const char* file : {"empty.bin", "missing.bin"}) {
        control = FakeControl{};
        auto u = Panel(file);
        EXPECT_EQ(Hex(lines[1]->takeWritten()), "") << file;
        ASSERT_EQ(control.cancels.size(), 1u) << file;
        EXPECT_EQ(control.finishes, 0);
        EXPECT_FALSE(link->PollHalt);
    }
    EXPECT_EQ(control.panel, " KR60 Right error: cannot open " + Path("missing.bin"));
}

TEST_F(SurfaceUpdatesTest, LocalIOTivaNeedsItsCodeFile) {
    link->TivaPorts = surface::SlotBit(1) | surface::SlotBit(2);
    link->AutoBaudPorts = surface::SlotBit(1) | surface::SlotBit(2) | surface::SlotBit(3);
    EXPECT_FALSE(SetLocalIOTiva(*link, 3, folder.string()));
    EXPECT_EQ(link->TivaPorts, surface::SlotBit(1) | surface::SlotBit(2));
    Write("Tarvola_Local_IO_mk2.bin", Pattern(10)); // names are matched without regard to case
    EXPECT_TRUE(SetLocalIOTiva(*link, 3, folder.string()));
    EXPECT_EQ(link->TivaPorts, surface::SlotBit(1) | surface::SlotBit(2) | surface::SlotBit(3));
    EXPECT_EQ(link->AutoBaudPorts, surface::SlotBit(1) | surface::SlotBit(2));
}

// ---- local I/O FPGA --------------------------------------------------------

class LocalIOFPGATest : public SurfaceUpdatesTest {
protected:
    void Begin(const char* file = "fpga.bit") {
        control.row = 13;
        u = std::make_unique<LocalIOFPGAUpdate>(control, *link, Path(file));
        u->Start();
    }
    void Answer(const std::string& hex) { u->ReceiveSurfaceMessage(3, Unhex(hex)); }
    std::unique_ptr<LocalIOFPGAUpdate> u;
};

TEST_F(LocalIOFPGATest, FileGoesInSurfaceMessagesAndTheLinkRestartsAfterTheReload) {
    Begin();
    EXPECT_EQ(Hex(lines[3]->takeWritten()), "05 0B 00 00 03 13");
    Answer("0B 03 00 2D");
    EXPECT_EQ(control.panel, " Local I/O FPGA erasing..." + std::string(45, '.'));
    u->ReceiveSurfaceMessage(2, Unhex("0B 00 00"));
    EXPECT_EQ(lines[3]->takeWritten(), "") << "messages of another slot are not the unit's";
    Answer("0B 00 00");
    Answer("0B 01 00 00 00");
    EXPECT_EQ(control.panel, " Local I/O FPGA updating 67%");
    Answer("0B 01 00 00 01");
    Answer("0B 01 00 00 02");
    const std::string wire = lines[3]->takeWritten();
    EXPECT_EQ(wire.size(), (1u + 4 + 128 + 1) * 2 + (1 + 4 + 44 + 1) + (1 + 4 + 1)) << Hex(wire.substr(0, 8));
    Answer("0B 02 00");
    const int dtrBefore = lines[3]->dtrPulses;
    for (int i = 0; i < kLocalIOReloadTicks - 1; ++i) u->CommsTick();
    EXPECT_EQ(control.ends(), 0) << "the unit reloads its FPGA meanwhile";
    u->CommsTick();
    EXPECT_EQ(control.finishes, 1);
    EXPECT_GT(lines[3]->dtrPulses, dtrBefore) << "the surface link was restarted";
}

TEST_F(LocalIOFPGATest, DeviceErrorCancelsAfterTheReload) {
    Begin();
    Answer("0B 03 04");
    EXPECT_EQ(control.displayed.back(), "Tiva file updater Flash error during erase\r\nUpdate aborted");
    for (int i = 0; i < kLocalIOReloadTicks; ++i) u->CommsTick();
    ASSERT_EQ(control.cancels.size(), 1u);
    EXPECT_EQ(control.finishes, 0);
}

TEST_F(LocalIOFPGATest, EmptyFileEndsAtOnceWithoutTellingTheUnit) {
    Begin("empty.bin");
    EXPECT_EQ(Hex(lines[3]->takeWritten()), "");
    ASSERT_EQ(control.cancels.size(), 1u);
    EXPECT_FALSE(u->Pausing());
}

} // namespace
} // namespace ravelin::mcu
