// The engine and its racks through the program as an engineer runs it:
// the inventory from the virtual engine, and engine and rack code sent byte
// for byte over a real loopback connection.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "integration/console_fixture.h"
#include "integration/process.h"

namespace ravelin::testing {
namespace {

class EngineRun : public ConsoleFixture {
protected:
    void SetUp() override {
        ConsoleFixture::SetUp();
        config.engine = true;
        config.cards.clear();
    }
    // The engine and the racks take 16-bit words: an odd last byte travels
    // with a zero beside it, and a rack packet of an odd number of words gets
    // a filler word (up to `slack` bytes after the file). The file itself
    // must arrive unchanged.
    static void ExpectWordImage(std::vector<uint8_t> received, const std::string& file, size_t slack) {
        ASSERT_GE(received.size(), file.size());
        ASSERT_LE(received.size(), file.size() + slack);
        if (file.size() % 2) { EXPECT_EQ(received[file.size()], 0) << "the pad byte"; }
        received.resize(file.size());
        EXPECT_EQ(received, std::vector<uint8_t>(file.begin(), file.end()));
    }
};

TEST_F(EngineRun, TheInventoryShowsTheEnginesCodeDatesAndItsRacks) {
    Serve();
    auto r = RunProgram(Ravelin({"list", "--json", "--wait", "2"}), 20000);
    ASSERT_EQ(r.status, 0) << r.err;
    auto rows = nlohmann::json::parse(r.out)["rows"];
    auto cell = [&](int row, int col) { return rows[row - 1]["cells"][col].get<std::string>(); };
    for (int row = 1; row <= 3; ++row) EXPECT_EQ(cell(row, 3), "30/09/2021") << row;
    EXPECT_EQ(cell(1, 4), "12/06/2023");
    EXPECT_TRUE(rows[0]["required"].get<bool>());
    // The default rack hangs on the first optical loop, port 42.
    EXPECT_EQ(cell(20, 0), "opto 1.11");
    EXPECT_EQ(cell(20, 2), "Rack.bin");
    EXPECT_EQ(cell(20, 3), "10/01/2017");
    EXPECT_EQ(cell(21, 1), "FPGA");
    bool datesLogged = false;
    for (auto& l : Log()) datesLogged |= l.find("Engine host dates: 02/05/2019 (permanent), 30/09/2021") != std::string::npos;
    EXPECT_TRUE(datesLogged);
}

TEST_F(EngineRun, EngineCodeOfOddLengthArrivesWholeIsProgrammedAndTheEngineRestartsAtClosing) {
    // The host board resets the engine when the program closes after new engine code.
    sim::HostBoardConfig board;
    board.comPort = 6;
    config.hostBoard = board;
    Serve();
    std::string image(100001, '\0');
    for (size_t i = 0; i < image.size(); ++i) image[i] = static_cast<char>(i * 7 + 3);
    std::ofstream(folder / "SP6v.bin", std::ios::binary) << image;
    auto r = RunProgram(Ravelin({"update", "1", "--wait", "1.5"}), 60000);
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    ExpectWordImage(console->engine()->engineImage(2), image, 1);
    EXPECT_EQ(console->engine()->flashedCount(2), 1);
    EXPECT_TRUE(LogHas("updating SP6v.bin to Engine"));
    EXPECT_TRUE(LogHas("update successful"));
    const auto log = Log();
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.back().substr(31), "closing");
    EXPECT_NE(r.out.find("Engine restarted successfully"), std::string::npos) << r.out;
}

TEST_F(EngineRun, RackCodeGoesThroughTheEngineToTheRackByteForByte) {
    Serve();
    // The file keeps its date (which makes the row updatable) and gets an odd length.
    std::string image = ReadFile(folder / "Racks" / "Rack.bin");
    if (image.size() % 2 == 0) image += '\x5A';
    std::ofstream(folder / "Racks" / "Rack.bin", std::ios::binary | std::ios::trunc) << image;
    auto r = RunProgram(Ravelin({"update", "20", "--wait", "2"}), 60000);
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    ExpectWordImage(console->engine()->rackImage(42), image, 3);
    EXPECT_TRUE(LogHas("update successful"));
}

// While the engine refuses the connection, the program keeps trying, says so
// in the log, and the panels go on being polled and shown.
TEST_F(EngineRun, ARefusedEngineIsTriedAgainWhileThePanelsAreServed) {
    config.engineConfig.refuseMs = 1000;
    Serve();
    // The dates come with the version requests of every fifth second.
    auto r = RunProgram(Ravelin({"list", "--json", "--wait", "6"}), 20000);
    ASSERT_EQ(r.status, 0) << r.err;
    auto rows = nlohmann::json::parse(r.out)["rows"];
    EXPECT_EQ(rows[11]["cells"][3], "11") << "the GPIO panel reported meanwhile";
    EXPECT_EQ(rows[0]["cells"][3], "30/09/2021") << "the engine answered once it took the connection";
    int refused = 0, connected = 0;
    for (auto& l : Log()) {
        refused += l.find("Engine ** EngineMessenger Cannot connect to Engine at ") != std::string::npos;
        connected += l.find("Engine Client connected to engine") != std::string::npos;
    }
    EXPECT_GE(refused, 1);
    EXPECT_EQ(connected, 1);
}

} // namespace
} // namespace ravelin::testing
