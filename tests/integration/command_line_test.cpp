// The command line's runs of several updates, its progress line on a
// terminal and the demo, against the virtual console.
#include <gtest/gtest.h>

#include <filesystem>
#include <nlohmann/json.hpp>
#include <regex>

#include "integration/console_fixture.h"
#include "integration/process.h"
#include "integration/terminal.h"
#include "virtual_console.h"

namespace ravelin::testing {
namespace {

class CommandLine : public ConsoleFixture {
protected:
    void SetUp() override {
        ConsoleFixture::SetUp();
        config.hexLines = 30;
        // Two code updates ticked: the local I/O unit of the hex kind (row 11,
        // "KR60LocalIO.hex" is one version ahead) and the GPIO panel (row 12).
        // The work surfaces are up to date.
        config.panelOnSlot(1)->version1 = config.files.worksurface;
        config.panelOnSlot(2)->version1 = config.files.worksurface;
        config.panelOnSlot(3)->version1 = config.files.localIOHex - 1;
    }
    void Serve() {
        ConsoleFixture::Serve();
        // Without the microcontroller image the local I/O unit stays of the hex kind.
        fs::remove(folder / "tarvola_local_io_mk2.bin");
    }
    size_t HexLinesOf(const std::string& file) { return Lines(ReadFile(folder / file)).size(); }
};

TEST_F(CommandLine, RequiredRunsEveryTickedRowInTableOrderAndSumsUp) {
    Serve();
    auto r = RunProgram(Ravelin({"update", "--required", "--wait", "1.5"}), 30000);
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(console->panel(3)->record().receivedHexLines.size(), HexLinesOf("KR60LocalIO.hex"));
    EXPECT_EQ(console->panel(4)->record().receivedHexLines.size(), HexLinesOf("KR60GPIO.hex"));
    EXPECT_TRUE(std::regex_search(r.out, std::regex("\n11 +\\S.*KR60LocalIO\\.hex +successful +0:0\\d\n")))
        << r.out;
    EXPECT_TRUE(std::regex_search(r.out, std::regex("\n12 +\\S.*KR60GPIO\\.hex +successful +0:0\\d\n"))) << r.out;

    // One after the other, each to its end, and the program closed once.
    std::vector<std::string> seen;
    for (auto& l : Log()) {
        const std::string t = l.size() > 31 ? l.substr(31) : "";
        if (t.rfind("updating ", 0) == 0 || t.rfind("update ", 0) == 0 || t == "closing") seen.push_back(t);
    }
    EXPECT_EQ(seen, (std::vector<std::string>{"updating KR60LocalIO.hex to COM13", "update successful",
                                              "updating KR60GPIO.hex to COM14", "update successful", "closing"}));
}

// A failed update stops the run unless it is told to keep going; either way
// the exit status says that not everything was brought up to date.
TEST_F(CommandLine, AFailedUpdateStopsTheRunOrNotAndTheStatusSaysSo) {
    struct Case {
        bool keepGoing;
        const char* gpioOutcome;
        size_t gpioLines;
    };
    for (const Case& c : {Case{false, "not run", 0}, Case{true, "successful", 30}}) {
        SCOPED_TRACE(c.keepGoing);
        TearDown();
        SetUp();
        config.panelOnSlot(3)->hex.rejectLine = 3;
        config.panelOnSlot(3)->hex.rejectTimes = 1;
        config.panelOnSlot(3)->hex.rejectCode = 5;
        Serve();
        std::vector<std::string> args = {"update", "--required", "--json", "--wait", "1.5"};
        if (c.keepGoing) args.push_back("--keep-going");
        auto r = RunProgram(Ravelin(args), 30000);
        EXPECT_EQ(r.status, 1) << r.out << r.err;
        auto j = nlohmann::json::parse(r.out);
        ASSERT_EQ(j["updates"].size(), 2u) << r.out;
        EXPECT_EQ(j["updates"][0]["row"], 11);
        EXPECT_EQ(j["updates"][0]["file"], "KR60LocalIO.hex");
        EXPECT_EQ(j["updates"][0]["outcome"], "aborted");
        EXPECT_EQ(j["updates"][1]["row"], 12);
        EXPECT_EQ(j["updates"][1]["outcome"], c.gpioOutcome);
        EXPECT_FALSE(j["succeeded"]);
        EXPECT_EQ(console->panel(4)->record().receivedHexLines.size(), c.gpioLines);
        // The progress went to the error stream, the summary alone to the output.
        EXPECT_NE(r.err.find("updating KR60LocalIO.hex (row 11)"), std::string::npos) << r.err;
    }
}

TEST_F(CommandLine, RequiredWithARowOrJsonWithoutRequiredIsAWrongArgument) {
    config.panels.clear();
    Serve();
    EXPECT_EQ(RunProgram(Ravelin({"update", "12", "--required"}), 10000).status, 2);
    EXPECT_EQ(RunProgram(Ravelin({"update", "12", "--json"}), 10000).status, 2);
    EXPECT_EQ(RunProgram(Ravelin({"update"}), 10000).status, 2);
}

TEST_F(CommandLine, OnATerminalTheProgressLineIsRedrawnInPlaceAndInAPipeItIsNot) {
    config.panelOnSlot(3)->version1 = config.files.localIOHex;
    config.hexLines = 40;
    Serve();
    auto tty = RunOnTerminal(Ravelin({"update", "12", "--wait", "1.5"}), 30000);
    EXPECT_EQ(tty.status, 0) << tty.out;
    EXPECT_TRUE(std::regex_search(tty.out, std::regex("\r\\[#+\\.*\\] +\\d+%  packet \\d+  0:0\\d")))
        << tty.out;
    EXPECT_TRUE(std::regex_search(tty.out, std::regex(" left\x1b\\[K\r\\[")));
    EXPECT_NE(tty.out.find("update successful"), std::string::npos);

    auto pipe = RunProgram(Ravelin({"update", "12", "--wait", "1.5"}), 30000);
    EXPECT_EQ(pipe.status, 0);
    EXPECT_EQ(pipe.out.find('\x1b'), std::string::npos);
    EXPECT_EQ(pipe.out.find('\r'), std::string::npos);
    EXPECT_NE(pipe.out.find("\n[##########..........] 50%  20\n"), std::string::npos) << pipe.out;
}

TEST_F(CommandLine, DemoWithoutADisplayListsAndUpdatesTheGpioPanelAndCleansUp) {
    auto r = RunProgram({RAVELIN_EXE, "demo", "--wait", "1.5", "--hex-lines", "30"}, 30000);
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    std::smatch m;
    ASSERT_TRUE(std::regex_search(r.out, m, std::regex("virtual console ready in (\\S+)\n"))) << r.out;
    EXPECT_FALSE(fs::exists(m[1].str())) << "the demo's folder is removed at the end";
    EXPECT_TRUE(std::regex_search(r.out, std::regex("\n 12 COM14 +KR60 GPIO +KR60GPIO\\.hex +11 +12 +yes +update\n")))
        << r.out;
    EXPECT_NE(r.out.find("updating KR60GPIO.hex (row 12)"), std::string::npos);
    EXPECT_NE(r.out.find("update successful"), std::string::npos);
}

} // namespace
} // namespace ravelin::testing
