// The panel code update line by line, against a panel model on a fake line,
// in virtual time: the answers, the retries and the outcome.
#include "app/main_form_fixture.h"

namespace ravelin::app::testing {
namespace {

class HexUpdateTest : public MainFormTest {
protected:
    void SetUp() override {
        MainFormTest::SetUp();
        Kr60();
        SerialPorts({{4, 14}});
        panel = &Panel(14, 134, 11);
    }
    // A file of `count` lines; line 1 carries version 12 at address 0800.
    std::vector<std::string> HexFile(int count) {
        std::vector<std::string> lines;
        lines.push_back(":10080000000000000C000000000000000000000000DC");
        for (int i = 1; i < count - 1; ++i) lines.push_back(":0400000" + std::to_string(i % 10) + "00112233XX");
        if (count > 1) lines.push_back(":00000001FF");
        std::string text;
        for (auto& l : lines) text += l + "\r\n";
        WriteFile(folder / "KR60GPIO.hex", text);
        return lines;
    }
    void StartRow12() {
        Create();
        Run(1500);
        ASSERT_EQ(Cell(ColUpdate, 12), UpdateCellText) << Cell(ColRunning, 12) << "/" << Cell(ColAvailable, 12);
        panel->hexLines.clear();
        form->GridMouseDown(ColUpdate, 12);
    }
    PanelModel* panel = nullptr;
};

TEST_F(HexUpdateTest, EveryLineGoesOutOnceInOrderAndTheUpdateFinishes) {
    auto lines = HexFile(5);
    StartRow12();
    Run(2000);
    EXPECT_EQ(form->UpdatingRow(), 0);
    EXPECT_EQ(panel->hexLines, lines);
    EXPECT_EQ(form->Display().Progress, "update successful");
    EXPECT_TRUE(form->UpdatedRows.test(12)) << "a finished row is recorded";
    EXPECT_EQ(form->LastResult().row, 12);
    EXPECT_TRUE(form->LastResult().succeeded);
    EXPECT_EQ(form->PacketCount(), 5);
    int total = 0;
    for (auto& l : lines) total += static_cast<int>(l.size()) + 2;
    EXPECT_EQ(form->DownloadProgress(), total);
    auto log = LogLines();
    EXPECT_EQ(log[log.size() - 2].substr(31), "updating KR60GPIO.hex to COM14");
    EXPECT_EQ(log.back().substr(31), "update successful");
    // Back to normal running: polls with flow control again.
    EXPECT_TRUE(ports.opens.back().flowControl);
    EXPECT_TRUE(form->Surface().PollHalt == false);
}

TEST_F(HexUpdateTest, LinesTravelWithoutFlowControlAndWithoutPolls) {
    HexFile(3);
    StartRow12();
    EXPECT_FALSE(ports.opens.back().flowControl);
    EXPECT_TRUE(form->Surface().PollHalt);
}

TEST_F(HexUpdateTest, ALineRejectedOnceIsSentAgainAndTheRetryTextMakesTheEndACancel) {
    auto lines = HexFile(4);
    panel->hexResult = [](int line, int attempt) { return line == 2 && attempt == 0 ? 5 : 0; };
    StartRow12();
    Run(2000);
    ASSERT_EQ(panel->hexLines.size(), 5u);
    EXPECT_EQ(panel->hexLines[1], lines[1]);
    EXPECT_EQ(panel->hexLines[2], lines[1]);
    EXPECT_EQ(form->UpdatingRow(), 0);
    EXPECT_EQ(form->Display().Progress, "Error received");
    EXPECT_EQ(form->Display().Status, "update aborted");
    EXPECT_EQ(LogLines().back().substr(31), "Error received:   Error 5: 1 retries on packet 2");
}

// The end-of-file record is the line whose answer says the panel took the
// whole file: a rejection of it is retried like any other and never ends as
// a success.
struct LastLineCase {
    const char* name;
    int rejections;
    size_t sent;
};
class HexLastLineTest : public HexUpdateTest, public ::testing::WithParamInterface<LastLineCase> {};

TEST_P(HexLastLineTest, ARejectedLastLineIsSentAgainAndTheUpdateEndsAborted) {
    const auto& c = GetParam();
    auto lines = HexFile(4);
    panel->hexResult = [&c](int line, int attempt) { return line == 4 && attempt < c.rejections ? 7 : 0; };
    StartRow12();
    Run(2000);
    EXPECT_EQ(panel->hexLines.size(), c.sent);
    EXPECT_EQ(panel->hexLines.back(), lines.back());
    EXPECT_EQ(form->UpdatingRow(), 0);
    EXPECT_EQ(form->Display().Status, "update aborted");
    EXPECT_FALSE(form->LastResult().succeeded);
}

INSTANTIATE_TEST_SUITE_P(Rejections, HexLastLineTest,
                         ::testing::Values(LastLineCase{"Once", 1, 5}, LastLineCase{"EveryTime", 99, 8}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(HexUpdateTest, ALineRejectedFiveTimesEndsWithErrorReceived) {
    HexFile(4);
    panel->hexResult = [](int line, int) { return line == 2 ? 7 : 0; };
    StartRow12();
    Run(3000);
    EXPECT_EQ(std::count(panel->hexLines.begin(), panel->hexLines.end(), panel->hexLines[1]), 5);
    EXPECT_EQ(form->Display().Progress, "Error received");
    EXPECT_EQ(form->Display().Message, " Error 7 received from port 4");
}

TEST_F(HexUpdateTest, ASilentPanelGetsTheFirstLineFiveTimesThreeSecondsApartThenNoResponse) {
    auto lines = HexFile(4);
    panel->hexResult = [](int, int) { return -1; };
    StartRow12();
    std::vector<int64_t> sentAt;
    size_t seen = 0;
    for (int t = 0; t < 20000 && form->UpdatingRow() != 0; t += 10) {
        Run(10);
        if (panel->hexLines.size() > seen) {
            seen = panel->hexLines.size();
            sentAt.push_back(loop.now());
        }
    }
    ASSERT_EQ(panel->hexLines.size(), 5u);
    for (auto& l : panel->hexLines) EXPECT_EQ(l, lines[0]);
    for (size_t i = 1; i < sentAt.size(); ++i) {
        EXPECT_GE(sentAt[i] - sentAt[i - 1], 2500);
        EXPECT_LE(sentAt[i] - sentAt[i - 1], 3020);
    }
    EXPECT_EQ(form->UpdatingRow(), 0);
    EXPECT_EQ(form->Display().Progress, "no response");
    EXPECT_EQ(form->Display().Message, " Error 255 received from port 4");
}

TEST_F(HexUpdateTest, AnEmptyFileFinishesWithoutSendingAnything) {
    HexFile(4);
    Create();
    Run(1500);
    WriteFile(folder / "KR60GPIO.hex", "");
    // The row keeps its last available version until the next refresh.
    form->GridMouseDown(ColUpdate, 12);
    Run(500);
    EXPECT_TRUE(panel->hexLines.empty());
    EXPECT_EQ(form->Display().Progress, "update successful");
}

TEST_F(HexUpdateTest, ALineTooLongForAFrameStopsTheUpdateBeforeItGoesOut) {
    std::string text = ":10080000000000000C000000000000000000000000DC\r\n:" + std::string(260, 'A') + "\r\n:00000001FF\r\n";
    WriteFile(folder / "KR60GPIO.hex", text);
    StartRow12();
    Run(1000);
    EXPECT_EQ(panel->hexLines.size(), 1u);
    EXPECT_EQ(form->Display().Progress, "Error received");
}

TEST_F(HexUpdateTest, AFileThatCannotBeOpenedIsNeverReportedAsSuccess) {
    HexFile(4);
    Create();
    Run(1500);
    ASSERT_EQ(Cell(ColUpdate, 12), UpdateCellText);
    fs::remove(folder / "KR60GPIO.hex");  // gone between the refresh and the click
    form->GridMouseDown(ColUpdate, 12);
    Run(31000);
    EXPECT_EQ(form->UpdatingRow(), 0);
    EXPECT_EQ(form->Display().Progress, "no response");
    EXPECT_EQ(form->Display().Status, "update aborted");
    auto log = LogLines();
    EXPECT_NE(std::find_if(log.begin(), log.end(),
                           [](const std::string& l) { return l.find("*** Exception: Cannot open KR60GPIO.hex") != std::string::npos; }),
              log.end());
    EXPECT_TRUE(panel->hexLines.empty());
}

TEST_F(HexUpdateTest, AReplyWithoutItsResultByteAcceptsNothing) {
    auto lines = HexFile(3);
    StartRow12();
    // The panel answers the first line with a bare type byte, then stays silent.
    panel->hexResult = [](int, int) { return -1; };
    Run(20);
    panel->line->feed(PanelModel::Frame(std::string(1, '\x09')));
    Run(100);
    EXPECT_EQ(form->Display().Message, "  Error 255: 1 retries on packet 1");
    ASSERT_EQ(panel->hexLines.size(), 2u);
    EXPECT_EQ(panel->hexLines[1], lines[0]);
}

TEST_F(HexUpdateTest, OnlyTheUpdatedPanelsLineReplyAnswersALine) {
    SerialPorts({{3, 13}, {4, 14}});
    Panel(13, 150, 120);
    panel = &Panel(14, 134, 11);
    HexFile(4);
    panel->hexResult = [](int, int) { return -1; };
    StartRow12();
    Run(100);
    ASSERT_EQ(panel->hexLines.size(), 1u);
    // An acceptance from another panel, and another kind of message from
    // the updated one, accept nothing.
    ports.lines.at(13)->feed(PanelModel::Frame(std::string{0x09, 0x00}));
    ports.lines.at(14)->feed(PanelModel::Frame(std::string{0x0A, 0x00}));
    Run(500);
    EXPECT_EQ(panel->hexLines.size(), 1u);
    EXPECT_EQ(form->UpdatingRow(), 12);
}

TEST_F(HexUpdateTest, APanelWithABootLoaderIsNeverSentHexLines) {
    SerialPorts({{1, 11}});
    PanelModel& right = Panel(11, 64, 7);
    WriteFile(folder / "KR60worksurface.bin", std::string("version") + '\0' + char(8));
    Create();
    Run(1500);
    ASSERT_EQ(Cell(ColUpdate, 9), UpdateCellText);
    form->GridMouseDown(ColUpdate, 9);
    Run(3000);
    EXPECT_TRUE(right.hexLines.empty()) << "a binary image went out as hex lines";
}

// A panel that goes away mid-file: its line stops answering and its port
// cannot be opened again. The restart's message must not turn the failure
// into a success, and the other panels are polled on.
TEST_F(HexUpdateTest, APanelThatDisappearsMidFileEndsAbortedAndTheOthersArePolledOn) {
    SerialPorts({{3, 13}, {4, 14}});
    PanelModel& localIO = Panel(13, 150, 120);
    panel = &Panel(14, 134, 11);
    HexFile(40);
    panel->hexResult = [this](int line, int) {
        if (line < 15) return 0;
        ports.lines.erase(14);
        return -1;
    };
    StartRow12();
    Run(20000);
    EXPECT_EQ(form->UpdatingRow(), 0);
    EXPECT_EQ(form->Display().Status, "update aborted");
    EXPECT_EQ(form->Display().Progress, "no response");
    EXPECT_FALSE(form->LastResult().succeeded);
    auto log = LogLines();
    EXPECT_EQ(std::count_if(log.begin(), log.end(),
                            [](const std::string& l) { return l.find("update successful") != std::string::npos; }),
              0);
    const int polls = localIO.polls;
    Run(3000);
    EXPECT_GT(localIO.polls, polls);
}

TEST_F(HexUpdateTest, ASilentPanelBesideAPortWithoutDeviceEndsWithNoResponse) {
    SerialPorts({{2, 10}, {4, 14}});
    ports.lines.erase(10);
    panel = &Panel(14, 134, 11);
    HexFile(4);
    panel->hexResult = [](int, int) { return -1; };
    StartRow12();
    Run(20000);
    EXPECT_EQ(form->UpdatingRow(), 0);
    EXPECT_EQ(form->Display().Progress, "no response");
    EXPECT_EQ(form->Display().Status, "update aborted");
    EXPECT_EQ(form->Display().Message, " Cannot open ComPort 10") << "the restart spoke last";
}

TEST_F(HexUpdateTest, ALineTooLongEndsAsErrorReceivedWhateverItsNumber) {
    std::string text = ":10080000000000000C000000000000000000000000DC\r\n";
    for (int i = 2; i < 255; ++i) text += ":0400000000112233XX\r\n";
    text += ":" + std::string(260, 'A') + "\r\n:00000001FF\r\n";
    WriteFile(folder / "KR60GPIO.hex", text);
    StartRow12();
    Run(10000);
    EXPECT_EQ(panel->hexLines.size(), 254u);
    EXPECT_EQ(form->Display().Message, " Error: line 255 is too long for a panel message");
    EXPECT_EQ(form->Display().Progress, "Error received");
}

} // namespace
} // namespace ravelin::app::testing
