// One update at a time: the watchdog, the clicks, closing, and the overload
// notices, all in virtual time.
#include "app/main_form_fixture.h"
#include "surface/overloaded.h"

namespace ravelin::app::testing {
namespace {

// An engine link that only remembers what it was asked.
struct RecordingEngine : engine::EngineLink {
    int* restarts;
    std::vector<std::pair<int, int>>* system;
    void RestartEngine() override { ++*restarts; }
    void SendSystemMessage(int p, int d) override { system->push_back({p, d}); }
};

// Host rows: a board that reports a version but whose updates do nothing,
// so the update stalls the way a missing device does.
class UpdateControlTest : public MainFormTest {
protected:
    void SetUp() override {
        MainFormTest::SetUp();
        Kr60("[KR60]\r\nEngineComPort=6\r\n");
        WriteFile(folder / "CorvaneTiva.dfu", "version 9");
        WriteFile(folder / "xmos.bin", "");
        newHost = [](int) {
            auto h = std::make_unique<host::CorvaneHost>();
            h->FirmwareVersion = 3;
            return h;
        };
        newEngineLink = [this](platform::UpdateControl&, engine::EngineWindow&, engine::RackTable&) {
            auto e = std::make_unique<RecordingEngine>();
            e->restarts = &restarts;
            e->system = &systemMessages;
            return e;
        };
        Create();
        Run(500);
        ASSERT_EQ(Cell(ColUpdate, 5), UpdateCellText);
    }
    int restarts = 0;
    std::vector<std::pair<int, int>> systemMessages;
};

TEST_F(UpdateControlTest, StalledUpdateEndsAfterSixtyTicksAndKeepsItsMessageFiftySeconds) {
    form->GridMouseDown(ColUpdate, 5);
    EXPECT_EQ(form->UpdatingRow(), 5);
    EXPECT_EQ(form->Display().Device, "to COM6");
    EXPECT_EQ(form->Display().Filename, "CorvaneTiva.dfu");
    EXPECT_FALSE(form->Display().CloseEnabled);

    // Sixty refresh ticks after the click: the last one comes 30 s later.
    Run(29990);
    EXPECT_EQ(form->UpdatingRow(), 5);
    Run(10);
    EXPECT_EQ(form->UpdatingRow(), 0);
    EXPECT_EQ(form->Display().Progress, "no response");
    EXPECT_EQ(form->Display().Status, "update aborted");
    EXPECT_TRUE(form->Display().CloseEnabled);
    auto log = LogLines();
    EXPECT_EQ(log[log.size() - 2].substr(31), "updating CorvaneTiva.dfu to COM6");
    EXPECT_EQ(log.back().substr(31), "no response:  starting update");

    Run(49000);
    EXPECT_EQ(form->Display().Message, " starting update");
    Run(500);
    EXPECT_EQ(form->Display().Message, " select a file to update");
}

TEST_F(UpdateControlTest, MessagesDuringAnUpdateCountAsProgress) {
    form->GridMouseDown(ColUpdate, 5);
    Run(20000);
    app::DisplayMessage("erasing");
    Run(20000);
    EXPECT_EQ(form->UpdatingRow(), 5);
    EXPECT_EQ(form->Display().Message, " erasing");
    Run(10500);
    EXPECT_EQ(form->UpdatingRow(), 0);
}

TEST_F(UpdateControlTest, ALinksOwnErrorsAreShownButDoNotKeepAnUpdateAlive) {
    // The board's port is gone: its worker reports the failed poll every second.
    form->GridMouseDown(ColUpdate, 5);
    for (int s = 0; s < 29; ++s) {
        Run(1000);
        app::DisplayLinkError("COM6 Tx error: (5)");
    }
    EXPECT_EQ(form->Display().Message, " COM6 Tx error: (5)");
    Run(1000);
    EXPECT_EQ(form->UpdatingRow(), 0);
    EXPECT_EQ(form->Display().Progress, "no response");
}

TEST_F(UpdateControlTest, ProgressMovesTheMetersInStepWithTheAmountDone) {
    form->GridMouseDown(ColUpdate, 5);
    form->SetDownloadFileSize(3);
    form->StepProgress(1);
    EXPECT_EQ(form->Display().DestMeter, 333);
    EXPECT_EQ(form->Display().SourceMeter, 666);
    EXPECT_EQ(form->Display().Progress, "1");
    form->SetDownloadFileSize(2000000000);
    form->StepProgress(1999999998);
    EXPECT_EQ(form->Display().Progress, "2");
    EXPECT_EQ(form->Display().DestMeter, 999);
    EXPECT_EQ(form->Display().SourceMeter, 0);
    form->FinishUpdate();
    EXPECT_EQ(form->Display().Progress, "update successful");
    EXPECT_FALSE(form->Display().MetersVisible);
    EXPECT_EQ(LogLines().back().substr(31), "update successful");
}

TEST_F(UpdateControlTest, ClicksStartOnlyFromAnUpdateCellAndOnlyOneAtATime) {
    form->GridMouseDown(ColAvailable, 5);
    form->GridMouseDown(ColUpdate, 6);  // no "  update" there
    EXPECT_EQ(form->UpdatingRow(), 0);
    form->GridMouseDown(ColUpdate, 7);
    form->GridMouseDown(ColUpdate, 5);
    EXPECT_EQ(form->UpdatingRow(), 7);
    EXPECT_FALSE(form->GridSelectCell(1, 2));
}

TEST_F(UpdateControlTest, ClosingWaitsForAnUpdateAndRestartsTheEngineAfterEngineCode) {
    form->GridMouseDown(ColUpdate, 5);
    EXPECT_FALSE(form->FormCloseQuery());
    form->FinishUpdate();
    EXPECT_TRUE(form->FormCloseQuery());

    form->UpdatedRows.set(2);
    EXPECT_FALSE(form->FormCloseQuery());
    EXPECT_EQ(restarts, 1);
    EXPECT_EQ(form->Display().Message, " Please wait - restarting engine...");
    EXPECT_TRUE(form->FormCloseQuery());

    form->FormClose();
    ASSERT_FALSE(systemMessages.empty());
    EXPECT_EQ(systemMessages.back(), std::make_pair(22, 0));
    EXPECT_EQ(LogLines().back().substr(31), "closing");
}

struct OverloadCase {
    uint16_t code;
    uint32_t detail;
    const char* text;
};

class OverloadTextTest : public ::testing::TestWithParam<OverloadCase> {};

TEST_P(OverloadTextTest, Text) { EXPECT_EQ(OverloadText(GetParam().code, GetParam().detail), GetParam().text); }

INSTANTIATE_TEST_SUITE_P(
    Codes, OverloadTextTest,
    ::testing::Values(OverloadCase{32, 0, "Overload\r\nEngine DSP  Queue overflow"},
                      OverloadCase{130, 0xAB12, "Overload\r\nSerial Port 0000AB12 Queue overflow"},
                      OverloadCase{133, 3, "Overload\r\nSerial Port 3 Output Queue overflow"},
                      OverloadCase{136, 17, "Overload\r\nISA Input Queue overflow 17 free"},
                      OverloadCase{138, (3u << 16) | 2u, "Serial Port 2 NAK 3 received"},
                      OverloadCase{139, 4, "Overload\r\nunknown message 139"}));

TEST_F(UpdateControlTest, OverloadNoticeIsShownLoggedAndCanComeAgain) {
    surface::PostOverload(138, (3u << 16) | 2u);
    surface::PostOverload(138, (9u << 16) | 2u);  // still pending: not posted again
    loop.runPosted();
    EXPECT_EQ(form->Display().Status, "Serial Port 2 NAK 3 received");
    EXPECT_EQ(LogLines().back().substr(31), "Serial Port 2 NAK 3 received");
    surface::PostOverload(138, (9u << 16) | 2u);
    loop.runPosted();
    EXPECT_EQ(form->Display().Status, "Serial Port 2 NAK 9 received");
}

} // namespace
} // namespace ravelin::app::testing
