// The program as a service engineer runs it, against the virtual console:
// real processes, pseudo-terminals and the program folder the console leaves.
#include <gtest/gtest.h>

#include <atomic>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>

#include "integration/console_fixture.h"
#include "integration/process.h"
#include "platform/instance_lock.h"
#include "virtual_console.h"

namespace ravelin::testing {
namespace {

using ConsoleRun = ConsoleFixture;

TEST_F(ConsoleRun, ListShowsWhatThePanelsReportAndTheLocalIOFpgaDate) {
    Serve();
    auto r = RunProgram(Ravelin({"list", "--json", "--wait", "2"}), 20000);
    ASSERT_EQ(r.status, 0) << r.err;
    auto j = nlohmann::json::parse(r.out);
    auto row = [&](int n) { return j["rows"][n - 1]; };
    EXPECT_EQ(row(9)["cells"][1], "KR60 Right");
    EXPECT_EQ(row(9)["cells"][3], "7");
    EXPECT_EQ(row(9)["cells"][4], "8");
    EXPECT_EQ(row(10)["cells"][1], "KR60 Left");
    EXPECT_EQ(row(11)["cells"][1], "KR60 Local IO");
    EXPECT_EQ(row(11)["cells"][2], "tarvola_local_io_mk2.bin");
    EXPECT_EQ(row(11)["cells"][3], "120");
    EXPECT_EQ(row(12)["cells"][0], "COM14");
    EXPECT_EQ(row(12)["cells"][3], "11");
    EXPECT_EQ(row(12)["cells"][4], "12");
    EXPECT_EQ(row(12)["cells"][6], "  update");
    EXPECT_TRUE(row(12)["required"]);
    EXPECT_EQ(row(13)["cells"][0], "COM13");
    EXPECT_EQ(row(13)["cells"][3], "14/05/2019");
    EXPECT_EQ(row(13)["cells"][4], "03/11/2020");
    EXPECT_TRUE(row(13)["updatable"]);
    EXPECT_EQ(j["message"], " select a file to update");

    auto log = Log();
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.back().substr(31), "closing");
    EXPECT_NE(log.back().substr(20, 10), "0000000000");  // the surface link's tick
}

TEST_F(ConsoleRun, UpdateOfTheGpioPanelSendsEveryLineOnceInOrderAndSucceeds) {
    Serve();
    auto r = RunProgram(Ravelin({"update", "12", "--wait", "1.5"}), 30000);
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    std::vector<std::string> file = Lines(ReadFile(folder / "KR60GPIO.hex"));
    EXPECT_EQ(console->panel(4)->record().receivedHexLines, file);
    EXPECT_TRUE(LogHas("updating KR60GPIO.hex to COM14"));
    EXPECT_TRUE(LogHas("update successful"));
    EXPECT_NE(r.out.find("update successful"), std::string::npos);
}

TEST_F(ConsoleRun, ALineRejectedTwiceShowsTheRetriesAndEndsAsErrorReceived) {
    config.panelOnSlot(4)->hex.rejectLine = 3;
    config.panelOnSlot(4)->hex.rejectTimes = 2;
    config.panelOnSlot(4)->hex.rejectCode = 5;
    Serve();
    auto r = RunProgram(Ravelin({"update", "12", "--wait", "1.5"}), 30000);
    EXPECT_EQ(r.status, 1) << r.out << r.err;
    EXPECT_NE(r.out.find("Error 5: 1 retries on packet 3"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Error 5: 2 retries on packet 3"), std::string::npos) << r.out;
    EXPECT_TRUE(LogHas("Error received:   Error 5: 2 retries on packet 3"));
    auto received = console->panel(4)->record().receivedHexLines;
    EXPECT_EQ(received.size(), Lines(ReadFile(folder / "KR60GPIO.hex")).size() + 2);
}

// A half-written panel would be left without code: Ctrl-C and SIGTERM are
// refused while the update runs, and it goes on to its end.
TEST_F(ConsoleRun, CtrlCAndTermDuringAnUpdateAreRefusedAndTheUpdateEnds) {
    config.hexLines = 150;
    Serve();
    Process run(Ravelin({"update", "12", "--wait", "1.5"}));
    ASSERT_TRUE(run.waitForOutput("updating KR60GPIO.hex", 10000));
    run.signal(SIGINT);
    run.signal(SIGTERM);
    auto r = run.finish(30000);
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_NE(r.err.find("cannot be interrupted"), std::string::npos) << r.err;
    EXPECT_EQ(console->panel(4)->record().receivedHexLines.size(), 150u);
    EXPECT_TRUE(LogHas("update successful"));
}

TEST_F(ConsoleRun, APortWithNoDeviceIsReportedAndTheOtherPanelsAreStillServed) {
    Serve();
    // Slot 2's port number now leads nowhere.
    std::string ini = ReadFile(folder / "Serial.ini");
    std::string key = "COM12=";
    auto at = ini.find(key);
    ASSERT_NE(at, std::string::npos) << ini;
    ini.replace(at, ini.find('\r', at) - at, "COM12=/dev/ravelin-no-such-port");
    std::ofstream(folder / "Serial.ini", std::ios::binary) << ini;

    auto r = RunProgram(Ravelin({"list", "--json", "--wait", "1.5"}), 20000);
    ASSERT_EQ(r.status, 0) << r.err;
    auto j = nlohmann::json::parse(r.out);
    EXPECT_EQ(j["rows"][8]["cells"][3], "7");
    EXPECT_EQ(j["rows"][9]["cells"][3], "");
    EXPECT_EQ(j["rows"][11]["cells"][3], "11");
    for (auto& l : Log()) EXPECT_EQ(l.find("Exception"), std::string::npos) << l;
    EXPECT_TRUE(LogHas("Cannot open ComPort 12"));
}

TEST_F(ConsoleRun, MessageOfAPortThatCannotOpenReachesTheMessageLine) {
    config.panels.clear();
    Serve();
    std::ofstream(folder / "Serial.ini", std::ios::binary)
        << "[SerialPorts]\r\nComPort3=7\r\n[DevicePaths]\r\nCOM7=/dev/ravelin-no-such-port\r\n";
    auto r = RunProgram(Ravelin({"list", "--json", "--wait", "0"}), 20000);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(nlohmann::json::parse(r.out)["message"], " Cannot open ComPort 7");
}

TEST_F(ConsoleRun, ASecondStartWhileOneRunsEndsWithStatusThree) {
    config.panels.clear();
    Serve();
    // The test itself holds the name the program's children will ask for.
    const std::string name = "ravelin-test-held-" + std::to_string(::getpid());
    ::setenv("RAVELIN_INSTANCE_NAME", name.c_str(), 1);
    auto held = platform::InstanceLock::acquire(name);
    ASSERT_NE(held, nullptr);
    std::atomic<int> knocks{0};
    held->onKnock([&] { ++knocks; });
    auto second = RunProgram(Ravelin({"list", "--wait", "0"}), 10000);
    ::unsetenv("RAVELIN_INSTANCE_NAME");
    EXPECT_EQ(second.status, 3) << second.out << second.err;
    for (int i = 0; i < 100 && knocks == 0; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(knocks.load(), 1) << "the holder is asked to come forward";
}

TEST_F(ConsoleRun, ARowThatCannotBeUpdatedAndWrongArgumentsEndWithStatusTwo) {
    config.panels.clear();
    Serve();
    EXPECT_EQ(RunProgram(Ravelin({"update", "12", "--wait", "0"}), 10000).status, 2);
    EXPECT_EQ(RunProgram(Ravelin({"update", "twelve"}), 10000).status, 2);
    EXPECT_EQ(RunProgram(Ravelin({"frobnicate"}), 10000).status, 2);
    auto help = RunProgram(Ravelin({"--help"}), 10000);
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("update"), std::string::npos);
}

} // namespace
} // namespace ravelin::testing
