// Start-up as the console's service engineer meets it: which console the
// folder belongs to, what the log says, and what the table shows from the
// files alone.
#include "app/main_form_fixture.h"

#include <csignal>
#include <sys/resource.h>

namespace ravelin::app::testing {
namespace {

TEST_F(MainFormTest, Kr60FolderStartsLogAndListsFilesWithoutRunningVersions) {
    Kr60();
    WriteFile(folder / "CorvaneTiva.dfu", std::string("abc version\x01\x05 rest", 18));
    WriteFile(folder / "xmos.bin", "x");
    WriteFile(folder / "SP6v.bin", "code");
    Create();
    form->FormClose();

    auto log = LogLines();
    ASSERT_GE(log.size(), 4u);
    EXPECT_EQ(log[0], "KR60 Log");
    EXPECT_EQ(log[1], "");
    EXPECT_EQ(log[2], "09/12/2026 14:05:07 0000000000 starting Ravelin version 5.4 on KR60");
    EXPECT_EQ(log.back(), "09/12/2026 14:05:07 0000000000 closing");

    EXPECT_EQ(form->Display().Caption, "KR60 Ravelin Utility 5.4");
    EXPECT_EQ(Cell(ColFile, 1), "SP6v.bin");
    EXPECT_EQ(Cell(ColDescription, 1), "Host");
    EXPECT_EQ(Cell(ColFile, 2), "SP6e.bit");
    EXPECT_EQ(Cell(ColFile, 3), "FX1.bin");
    EXPECT_FALSE(Cell(ColAvailable, 1).empty());  // the file's date
    EXPECT_EQ(Cell(ColAvailable, 2), "");
    EXPECT_EQ(Cell(ColAvailable, 5), "5");
    EXPECT_EQ(Cell(ColAvailable, 7), "OK");
    EXPECT_EQ(Cell(ColDescription, 9), "KR60 Right");
    EXPECT_EQ(Cell(ColFile, 12), "KR60GPIO.hex");
    EXPECT_EQ(Cell(ColDevice, 9), "serial 1");
    EXPECT_EQ(Cell(ColDevice, 5), "");
    EXPECT_EQ(Cell(ColFile, 15), "tarvola_ostra.bin");
    for (int r = 1; r < form->Grid().RowCount(); ++r) {
        EXPECT_EQ(Cell(ColRunning, r), "") << "row " << r;
        EXPECT_EQ(Cell(ColUpdate, r), "") << "row " << r;
    }
    EXPECT_EQ(form->Display().Message, " select a file to update");
}

TEST_F(MainFormTest, FolderWithoutConsoleStartsWithBareHeaderAndNoModelInStartLine) {
    Create();
    Run(100);
    auto log = LogLines();
    ASSERT_GE(log.size(), 3u);
    EXPECT_EQ(log[0], " Log");
    EXPECT_EQ(log[2].substr(20), "0000000000 starting Ravelin version 5.4");
    EXPECT_EQ(form->Config().ConsoleModel, 0);
    // The console message is replaced by the normal text once the update display is hidden.
    EXPECT_EQ(form->Display().Message, " select a file to update");
    for (int r = 9; r <= 12; ++r) EXPECT_EQ(Cell(ColFile, r), "") << r;
}

TEST_F(MainFormTest, TwoConsoleProgramsSelectTheLowerCode) {
    WriteFile(folder / "kr60.exe", "");
    WriteFile(folder / "KR50.EXE", "");
    Create();
    EXPECT_EQ(form->Config().ConsoleModel, 14);
    EXPECT_EQ(form->Config().ConsoleSection, "KR50");
    EXPECT_EQ(Cell(ColDescription, 9), "Channel Surface");  // port 1 of that console
}

TEST_F(MainFormTest, DeletedLogComesBackWithItsHeader) {
    Kr60();
    Create();
    fs::remove(folder / "Log.txt");
    form->FormClose();
    auto log = LogLines();
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[0], "KR60 Log");
    EXPECT_EQ(log[1].substr(20), "0000000000 closing");
}

// A line that cannot be added to a log that is there (a full disk, a size
// limit) is dropped: the log is never started again over what it holds.
TEST_F(MainFormTest, ALogThatCannotTakeALineKeepsWhatItHolds) {
    Kr60();
    Create();
    const std::string before = ReadFile(folder / "Log.txt");
    ASSERT_FALSE(before.empty());
    ::signal(SIGXFSZ, SIG_IGN);
    rlimit old{};
    ::getrlimit(RLIMIT_FSIZE, &old);
    rlimit small = old;
    small.rlim_cur = 4;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    form->Log().WriteLog("this line finds no room");
    ::setrlimit(RLIMIT_FSIZE, &old);
    EXPECT_EQ(ReadFile(folder / "Log.txt"), before);
}

struct SettingsCase {
    const char* ini;
    const char* address;
    int comPort;
};

class SettingsTest : public MainFormTest, public ::testing::WithParamInterface<SettingsCase> {};

TEST_P(SettingsTest, SettingsAreReadWithTheirDefaultsAndLimits) {
    Kr60(GetParam().ini);
    Create();
    EXPECT_EQ(form->Config().EngineIPAddress, GetParam().address);
    EXPECT_EQ(form->Config().EngineComPort, GetParam().comPort);
    EXPECT_EQ(Cell(ColDevice, 5), GetParam().comPort ? "COM" + std::to_string(GetParam().comPort) : "");
}

INSTANTIATE_TEST_SUITE_P(
    Keys, SettingsTest,
    ::testing::Values(SettingsCase{"", "", 0}, SettingsCase{"[Other]\r\nEngineComPort=4\r\n", "", 0},
                      SettingsCase{"[KR60]\r\nEngineComPort=0x10\r\n", "", 16},
                      SettingsCase{"[KR60]\r\nEngineComPort=abc\r\n", "", 0},
                      SettingsCase{"[kr60]\r\nenginecomport = 3\r\n", "", 3},
                      SettingsCase{"[KR60]\r\nEngineIPAddress=192.168.100.200.192.168.100.200.1\r\n",
                                   "192.168.100.200.192.168.100.200", 0}));

TEST_F(MainFormTest, ProgramFolderIsTakenInLowerCaseButFilesComeFromTheFolderGiven) {
    Kr60();
    std::string lower = folder.string();
    for (auto& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    // A sibling that differs only in case holds another console.
    WriteFile(fs::path(lower) / "KR20.EXE", "");
    Create();
    EXPECT_EQ(form->Config().ProgramFolder, lower);
    EXPECT_EQ(form->Config().ConsoleSection, "KR60");
    fs::remove_all(lower);
}

} // namespace
} // namespace ravelin::app::testing
