// Panel code through the panels' boot loaders, as a service engineer runs it
// against the virtual console.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "integration/console_fixture.h"
#include "integration/process.h"

namespace ravelin::testing {
namespace {

class BootLoaderRun : public ConsoleFixture {
protected:
    // Serves the console with a short work-surface image that names version 8.
    void Serve() {
        ConsoleFixture::Serve();
        std::string text(2000, '\x5A');
        text.replace(300, 9, std::string("version ") + char(8));
        image.assign(text.begin(), text.end());
        std::ofstream(folder / "KR60worksurface.bin", std::ios::binary) << text;
    }
    ProcessResult Update(const char* row, const char* wait = "1.5") {
        return RunProgram(Ravelin({"update", row, "--wait", wait}), 30000);
    }

    std::vector<uint8_t> image;
};

TEST_F(BootLoaderRun, UpdateOfARunningPanelGoesThroughItsBootLoader) {
    Serve();
    auto r = Update("9");
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("update successful"), std::string::npos) << r.out;
    sim::SurfacePanel* panel = console->panel(1);
    EXPECT_EQ(panel->record().messages[0x03], 1) << "asked once to enter its boot loader";
    const auto bl = panel->bootLoaderRecord();
    ASSERT_FALSE(bl.commands.empty());
    EXPECT_EQ(bl.commands.front(), 0x20) << "the ping is the first packet";
    EXPECT_EQ(bl.image, image);
    EXPECT_EQ(panel->version1(), 8);
    EXPECT_TRUE(panel->hexLines().empty());
}

TEST_F(BootLoaderRun, PanelWaitingInItsBootLoaderIsUpdatedWhileTheCommandWaits) {
    config.panelOnSlot(2)->bootLoader.startInBootLoader = true;
    Serve();
    // The link finds it after three unanswered polls, with the auto-baud bytes.
    auto r = Update("10", "4.5");
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    sim::SurfacePanel* panel = console->panel(2);
    EXPECT_EQ(panel->record().messages.count(0x03), 0u) << "it was in its boot loader already";
    EXPECT_EQ(panel->bootLoaderRecord().image, image);
    EXPECT_EQ(panel->version1(), 8);
}

} // namespace
} // namespace ravelin::testing
