// Interface-card firmware and FPGA updates against the virtual console's
// cards over loopback sockets, as a service engineer runs them.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "app/main_unit.h"
#include "app/system_services.h"
#include "integration/console_fixture.h"
#include "integration/process.h"
#include "platform/plain_event_loop.h"
#include "virtual_console.h"

namespace ravelin::testing {
namespace {

namespace fs = std::filesystem;

class CardUpdateRun : public ConsoleFixture {
protected:
    void SetUp() override {
        ConsoleFixture::SetUp();
        const std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
        // An address of this test's own: the cards' ports are fixed. The cards
        // report their type two seconds after the link opens (synchronisation,
        // then the first poll), hence the default wait.
        config.engineIPAddress = "127." + std::to_string(100 + ::getpid() % 100) + "." +
                                 std::to_string(std::hash<std::string>{}(name) % 250 + 1) + ".1";
    }
    // A short MADI card image naming version 8, and a short FPGA file that
    // keeps the generated one's header (its date).
    void Serve() {
        ConsoleFixture::Serve();
        std::string text(2000, '\x3C');
        text.replace(300, 9, std::string("version ") + char(8));
        image.assign(text.begin(), text.end());
        for (const char* name : {"tarvola_ostra_madi.bin", "tarvola_ostra.bin"})
            std::ofstream(folder / "Ostra" / name, std::ios::binary) << text;
        const fs::path bit = folder / "Ostra" / "tarvola_ostra_MADI_fpga.bit";
        std::ifstream in(bit, std::ios::binary);
        bitFile.assign(std::istreambuf_iterator<char>(in), {});
        bitFile.resize(1500);
        in.close();
        std::ofstream(bit, std::ios::binary | std::ios::trunc)
            .write(reinterpret_cast<const char*>(bitFile.data()), std::streamsize(bitFile.size()));
    }
    ProcessResult Update(const char* row, const char* wait = "3") {
        return RunProgram(Ravelin({"update", row, "--wait", wait}), 30000);
    }

    std::vector<uint8_t> image, bitFile;
};

TEST_F(CardUpdateRun, CardFPGAFileArrivesWhole) {
    config.cards[0].fpgaText = "01/01/2020";
    config.cards[0].fpga.eraseSteps = {0, 100};
    Serve();
    auto r = Update("16");
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("update successful"), std::string::npos) << r.out;
    const auto rec = console->card(0)->fpgaRecord();
    EXPECT_EQ(rec.completed, 1);
    EXPECT_EQ(rec.file, bitFile);
}

TEST_F(CardUpdateRun, CardFirmwareGoesThroughTheBootLoaderAndCountsOnceTheCardIsBack) {
    Serve();
    auto r = Update("15");
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    sim::VirtualCard* card = console->card(0);
    const auto rec = card->record();
    EXPECT_EQ(rec.restarts, 1);
    const std::vector<uint8_t> restart = {4, 0};
    EXPECT_NE(std::find(rec.frames.begin(), rec.frames.end(), restart), rec.frames.end());
    const auto bl = card->bootLoaderRecord();
    ASSERT_FALSE(bl.commands.empty());
    EXPECT_EQ(bl.commands.front(), 0x20) << "the ping is the first packet after the restart";
    EXPECT_EQ(bl.image, image);
    EXPECT_EQ(card->version(), 8);
    // The wait for the restarted card comes before the result.
    const auto wait = r.out.find("Please wait - restarting Ostra card...");
    ASSERT_NE(wait, std::string::npos) << r.out;
    EXPECT_GT(r.out.find("update successful"), wait);
}

TEST_F(CardUpdateRun, CardWaitingInItsBootLoaderIsUpdatedWithoutAClick) {
    config.cards[0].startInBootLoader = true;
    Serve();
    auto r = Update("15", "2.5");
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    sim::VirtualCard* card = console->card(0);
    EXPECT_EQ(card->record().restarts, 0);
    EXPECT_EQ(card->bootLoaderRecord().image, image);
    EXPECT_EQ(card->version(), 8);
}

// One program run: the first download fails on a flash error, the card stays
// in its boot loader, and the slot takes the next update.
TEST_F(CardUpdateRun, FailedFirmwareUpdateThenASecondAttemptSucceeds) {
    config.cards[0].bootLoader.badStatusData = 2;
    config.cards[0].bootLoader.badStatus = 0x44;
    Serve();
    ::setenv("RAVELIN_INSTANCE_NAME", ("ravelin-card-test-" + std::to_string(::getpid())).c_str(), 1);
    platform::PlainEventLoop loop;
    app::TMainForm form(app::SystemServices(loop, folder.string()), folder.string());
    form.FormCreate();
    form.StartTimers();
    auto until = [&](auto done, int ms) {
        for (int waited = 0; waited < ms && !done(); waited += 50) loop.runFor(50);
        return done();
    };
    ASSERT_TRUE(until([&] { return form.Grid().Cell(app::ColUpdate, 15) == app::UpdateCellText; }, 3000));
    form.GridMouseDown(app::ColUpdate, 15);
    ASSERT_TRUE(until([&] { return form.LastResult().row == 15; }, 5000));
    EXPECT_FALSE(form.LastResult().succeeded);
    EXPECT_NE(form.Display().Message.find("error: Flash Failure"), std::string::npos) << form.Display().Message;
    // The card waits in its boot loader: the refresh tick starts the next update by itself.
    ASSERT_TRUE(until([&] { return form.LastResult().succeeded; }, 8000)) << form.Display().Message;
    EXPECT_EQ(form.LastResult().row, 15);
    EXPECT_EQ(console->card(0)->bootLoaderRecord().image, image);
    EXPECT_EQ(console->card(0)->version(), 8);
    form.FormClose();
}

} // namespace
} // namespace ravelin::testing
