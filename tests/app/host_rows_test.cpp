// The host rows fed from the board's own link, and an update of the host
// FPGA whose port has gone: the link's Tx errors come every second, yet the
// watchdog still ends the update with "no response".
#include "app/main_form_fixture.h"
#include "host/host_messages.h"
#include "surface/frame.h"

namespace ravelin::app::testing {
namespace {

class HostRowsTest : public MainFormTest {
protected:
    void SetUp() override {
        MainFormTest::SetUp();
        Kr60("[KR60]\r\nEngineComPort=6\r\n");
        WriteFile(folder / "Corvane_Interface_FPGA.bit", std::string(20, 'x') + "2022/03/08" + std::string(400, 'x'));
        WriteFile(folder / "xmos.bin", "USB audio");
        line = ports.add(6);
        realHost = true;
        Create();
    }
    // The board answers the first poll and then its status request.
    void BoardReports() {
        Run(1010);
        line->feed(surface::EncodeFrame(std::string(1, char(host::kHostAYT))));
        Run(20);
        line->feed(surface::EncodeFrame(std::string(1, char(host::kHostStatus)) + "\x07\x0E" "2022/13/01"));
        Run(500);
    }
    std::shared_ptr<surface::testing::FakeLine> line;
};

TEST_F(HostRowsTest, RowsShowTheBoardsVersionsUntilTenPollsGoUnanswered) {
    EXPECT_EQ(Cell(ColRunning, 5), "");
    EXPECT_EQ(Cell(ColUpdate, 7), "") << "USB audio waits for the firmware version";
    BoardReports();
    EXPECT_EQ(Cell(ColRunning, 5), "14");
    EXPECT_EQ(Cell(ColRunning, 6), "01/13/2022");
    EXPECT_EQ(Cell(ColUpdate, 7), UpdateCellText);
    Run(10 * 1000);
    EXPECT_EQ(Cell(ColRunning, 5), "");
    EXPECT_EQ(Cell(ColRunning, 6), "");
}

TEST_F(HostRowsTest, FpgaUpdateOnAGonePortEndsWithNoResponse) {
    BoardReports();
    ASSERT_EQ(Cell(ColUpdate, 6), UpdateCellText);
    line->acceptLimit = 0;
    form->GridMouseDown(ColUpdate, 6);
    ASSERT_EQ(form->UpdatingRow(), 6);
    Run(29 * 1000);
    EXPECT_EQ(form->UpdatingRow(), 6);
    int txErrors = 0;
    for (const auto& l : LogLines()) txErrors += l.find("KR60 Host Tx error: 0 sent instead of") != std::string::npos;
    EXPECT_GE(txErrors, 28);
    Run(2 * 1000);
    EXPECT_EQ(form->UpdatingRow(), 0);
    EXPECT_EQ(form->Display().Progress, "no response");
    EXPECT_EQ(form->Display().Status, "update aborted");
    EXPECT_FALSE(form->UpdateBusy());
}

} // namespace
} // namespace ravelin::app::testing
