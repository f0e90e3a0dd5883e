// A rack on the MADI ports of an interface card, through the program as an
// engineer runs it: its rows in the inventory, and its code sent through the
// card byte for byte.
#include <gtest/gtest.h>

#include <fstream>
#include <nlohmann/json.hpp>

#include "integration/console_fixture.h"
#include "integration/process.h"

namespace ravelin::testing {
namespace {

class CardRackRun : public ConsoleFixture {
protected:
    void SetUp() override {
        ConsoleFixture::SetUp();
        config.engine = true;
        config.engineConfig.racks.clear();
        sim::CardConfig madi = sim::ConsoleConfig::defaultCards().front();
        madi.madiRack = sim::VirtualRackConfig{};
        config.cards = {madi};
    }
    // The card's rack is the only rack: its rows follow the card rows.
    static constexpr int kRackRow = 20;
};

TEST_F(CardRackRun, TheRackBehindTheCardGetsRowsWithItsVersions) {
    Serve();
    auto r = RunProgram(Ravelin({"list", "--json", "--wait", "4"}), 20000);
    ASSERT_EQ(r.status, 0) << r.err;
    auto rows = nlohmann::json::parse(r.out)["rows"];
    const int row = kRackRow;
    ASSERT_GT(rows.size(), size_t(row)) << r.out;
    auto cell = [&](int rw, int col) { return rows[rw - 1]["cells"][col].get<std::string>(); };
    EXPECT_EQ(cell(row, 0), "ostra D1");
    EXPECT_EQ(cell(row, 2), "Rack.bin");
    EXPECT_EQ(cell(row, 3), "10/01/2017");
    EXPECT_EQ(cell(row + 1, 1), "FPGA");
    EXPECT_EQ(cell(row + 1, 3), "10/01/2017");
    EXPECT_TRUE(rows[row - 1]["required"].get<bool>()) << rows[row - 1].dump();
}

TEST_F(CardRackRun, RackCodeGoesThroughTheCardByteForByte) {
    Serve();
    // A short file that keeps the generated one's date, of an odd number of words.
    std::string image = ReadFile(folder / "Racks" / "Rack.bin").substr(0, 2002);
    std::ofstream(folder / "Racks" / "Rack.bin", std::ios::binary | std::ios::trunc) << image;
    auto r = RunProgram(Ravelin({"update", std::to_string(kRackRow), "--wait", "4"}), 60000);
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    std::vector<uint8_t> received = console->card(0)->rackImage();
    // One filler word completes the last packet.
    ASSERT_EQ(received.size(), image.size() + 2);
    received.resize(image.size());
    EXPECT_EQ(received, std::vector<uint8_t>(image.begin(), image.end()));
    EXPECT_EQ(console->card(0)->rackFlashed(), 1);
    EXPECT_TRUE(LogHas("update successful"));
}

} // namespace
} // namespace ravelin::testing
