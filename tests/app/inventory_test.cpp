// What the refresh decides: whether a row may be updated and whether it must.
#include "app/main_form_fixture.h"

namespace ravelin::app::testing {
namespace {

class InventoryTest : public MainFormTest {
protected:
    void SetUp() override {
        MainFormTest::SetUp();
        Kr60("[KR60]\r\nEngineIPAddress=10.0.0.1\r\nEngineComPort=5\r\n");
        newHost = [this](int) {
            auto h = std::make_unique<host::CorvaneHost>();
            hostBoard = h.get();
            return h;
        };
        newOstraSlot = [this](int i, const cards::OstraSlotServices&) {
            auto s = std::make_unique<cards::tOstraSlot>();
            s->SlotNumber = uint8_t(i);
            slots[i] = s.get();
            return s;
        };
    }
    host::CorvaneHost* hostBoard = nullptr;
    cards::tOstraSlot* slots[2] = {nullptr, nullptr};
};

TEST_F(InventoryTest, HostRowsFollowTheBoardsReportsAndUsbAudioRidesOnTheMicrocontroller) {
    WriteFile(folder / "CorvaneTiva.dfu", std::string("..version\x00\x09", 11));
    WriteFile(folder / "xmos.bin", "");
    WriteFile(folder / "Corvane_Interface_FPGA.bit", std::string(20, 'x') + "2019/05/14" + std::string(20, 'x'));
    Create();
    Run(600);
    EXPECT_EQ(Cell(ColUpdate, 5), "");
    EXPECT_EQ(Cell(ColUpdate, 7), "");

    hostBoard->FirmwareVersion = 7;
    hostBoard->FPGAVersion = "13/05/2019";
    Run(500);
    EXPECT_EQ(Cell(ColRunning, 5), "7");
    EXPECT_EQ(Cell(ColUpdate, 5), UpdateCellText);
    EXPECT_TRUE(form->UpdateRequired(5));
    EXPECT_EQ(Cell(ColUpdate, 7), UpdateCellText);
    EXPECT_FALSE(form->UpdateRequired(7));  // "OK" is never required
    EXPECT_EQ(Cell(ColAvailable, 6), "14/05/2019");
    EXPECT_TRUE(form->UpdateRequired(6));

    hostBoard->FPGAVersion = "14/05/2019";
    hostBoard->FirmwareVersion = 9;
    Run(500);
    EXPECT_FALSE(form->UpdateRequired(6));
    EXPECT_FALSE(form->UpdateRequired(5));
    EXPECT_TRUE(form->UpdateValid(5));
}

TEST_F(InventoryTest, CardReportingFirmwareZeroShowsZeroAndNeedsTheUpdate) {
    WriteFile(folder / "ostra" / "tarvola_ostra_madi.bin", std::string("version\x20\x03", 9));
    Create();
    slots[0]->CardType = 20;
    slots[0]->CardVersion = 0;
    Run(500);
    EXPECT_EQ(Cell(ColFile, 15), "tarvola_ostra_madi.bin");
    EXPECT_EQ(Cell(ColRunning, 15), "0");
    EXPECT_EQ(Cell(ColAvailable, 15), "3");
    EXPECT_TRUE(form->UpdateRequired(15));
    EXPECT_EQ(Cell(ColRunning, 17), "");
    EXPECT_EQ(Cell(ColFile, 18), "");
}

TEST_F(InventoryTest, ACardFileNameLongerThanAGridNameIsShownWhole) {
    WriteFile(folder / "Ostra" / "tarvola_ostra_dante6496_fpga.bit", "");
    Create();
    slots[1]->CardType = 31;
    Run(500);
    EXPECT_EQ(Cell(ColFile, 17), "tarvola_ostra_dante6496.bin");
    EXPECT_EQ(Cell(ColFile, 18), "tarvola_ostra_dante6496_fpga.bit");
}

struct DecisionCase {
    int row;
    const char* running;
    const char* available;
    bool valid;
    bool required;
};

class DecisionTest : public MainFormTest, public ::testing::WithParamInterface<DecisionCase> {};

// The rules are read off the cells alone, so the cells are written directly.
TEST_P(DecisionTest, RunningAgainstAvailable) {
    Create();
    const auto& c = GetParam();
    auto& grid = const_cast<DeviceTable&>(form->Grid());
    grid.SetCell(ColRunning, c.row, c.running);
    grid.SetCell(ColAvailable, c.row, c.available);
    EXPECT_EQ(form->UpdateValid(c.row), c.valid);
    EXPECT_EQ(form->UpdateRequired(c.row), c.required);
}

INSTANTIATE_TEST_SUITE_P(
    Rules, DecisionTest,
    ::testing::Values(
        DecisionCase{12, "11", "12", true, true}, DecisionCase{12, "12", "12", true, false},
        DecisionCase{12, "9", "10", true, true},  // numbers, not texts
        DecisionCase{12, "11", "", false, false}, DecisionCase{12, "", "12", false, false},
        DecisionCase{12, "x", "12", true, false},  // no number: not required, still updatable
        DecisionCase{13, "        ", "14/05/2019", false, false},  // FPGA date not reported yet
        DecisionCase{13, "13/05/2019", "14/05/2019", true, true},
        DecisionCase{13, "31/12/2019", "02/01/2020", true, true},  // dates, not texts
        DecisionCase{13, "02/01/2020", "31/12/2019", true, false},
        DecisionCase{2, "garbage", "14/05/2019", true, false},
        DecisionCase{24, "1.10", "1.9", true, true},  // Zynq versions compare by characters
        DecisionCase{7, "", "OK", false, false}, DecisionCase{0, "1", "2", false, false}));

TEST_F(MainFormTest, KR40WithoutItsWorkSurfaceFileShowsOnlyTheRemoteOnPort4) {
    WriteFile(folder / "KR40.EXE", "");
    Create();
    for (int r = 9; r <= 11; ++r) {
        EXPECT_EQ(Cell(ColFile, r), "") << r;
        EXPECT_EQ(Cell(ColDescription, r), "") << "no panel there: " << r;
    }
    EXPECT_EQ(Cell(ColDescription, 12), "KR40 RE");
    EXPECT_EQ(Cell(ColFile, 12), "KR40REGpioTimecode.hex");
}

TEST_F(MainFormTest, AnEmptyPortNumberGivesTheRowNoPort) {
    Kr60();
    WriteFile(folder / "Serial.ini", "[SerialPorts]\r\nComPort2=\r\nComPort4=14\r\n");
    Create();
    EXPECT_EQ(Cell(ColDevice, 10), "serial 2");
    EXPECT_EQ(Cell(ColDevice, 12), "COM14");
    for (const auto& o : ports.opens) EXPECT_NE(o.com, 0) << "port 0 opened";
}

TEST_F(MainFormTest, LocalIOReportingNewCodeSwitchesToTheMicrocontrollerRowOnlyWithItsImage) {
    Kr60();
    SerialPorts({{3, 13}});
    Panel(13, 150, 120);
    Create();
    Run(1200);
    EXPECT_EQ(Cell(ColRunning, 11), "120");
    EXPECT_EQ(Cell(ColFile, 11), "tarvola_local_io_mk2.bin");
    EXPECT_FALSE(form->LocalIOIsTiva);
    EXPECT_EQ(Cell(ColDescription, 13), "");

    WriteFile(folder / "tarvola_local_io_mk2.bin", "version 7");
    Run(500);
    EXPECT_TRUE(form->LocalIOIsTiva);
    EXPECT_EQ(Cell(ColDevice, 13), "COM13");
    EXPECT_EQ(Cell(ColDescription, 13), "Local I/O FPGA");
    EXPECT_EQ(Cell(ColRunning, 13), "        ");
    EXPECT_TRUE(surface::InSlotSet(form->Surface().TivaPorts, 3));
    EXPECT_FALSE(surface::InSlotSet(form->Surface().AutoBaudPorts, 3));
}

} // namespace
} // namespace ravelin::app::testing

namespace ravelin::app::testing {
namespace {

// Racks get two rows each from row 20 on, in record order, once the engine
// has reported them; card-slot racks only while their card is a MADI or Cat5 card.
class RackRowsTest : public MainFormTest {
protected:
    void SetUp() override {
        MainFormTest::SetUp();
        Kr60("[KR60]\r\nEngineIPAddress=10.0.0.1\r\n");
        newOstraSlot = [this](int i, const cards::OstraSlotServices&) {
            auto s = std::make_unique<cards::tOstraSlot>();
            slots[i] = s.get();
            return s;
        };
        WriteFile(folder / "Racks" / "NRack.bin", std::string("version \x01\x09", 10));
        Create();
    }
    // Racks are named by the engine link from their port: "Rack 1", "Rack 2.1".
    void AddRack(int i, uint8_t port, uint8_t type) {
        form->Racks.Records[i][1] = port;
        form->Racks.Records[i][108] = type;
    }
    cards::tOstraSlot* slots[2] = {nullptr, nullptr};
};

TEST_F(RackRowsTest, SixRacksFitTheGridASeventhGrowsIt) {
    for (int i = 3; i <= 8; ++i) AddRack(i, static_cast<uint8_t>(30 + i), 2);
    form->RefreshRacks();
    EXPECT_EQ(form->Grid().RowCount(), 32);
    EXPECT_EQ(form->RackRows[3], 20);
    EXPECT_EQ(form->RackRows[8], 30);
    AddRack(9, 40, 2);
    form->RefreshRacks();
    EXPECT_EQ(form->Grid().RowCount(), 34);
    EXPECT_EQ(form->RackOfRow(33), 9);
}

TEST_F(RackRowsTest, ARackThatGoesLeavesItsRowsToTheRacksStillShown) {
    AddRack(3, 1, 0);
    AddRack(4, 2, 0);
    form->RefreshRacks();
    ASSERT_EQ(Cell(ColDevice, 22), "madi 2");
    AddRack(3, 0, 0);  // the rack on port 1 is gone
    form->RefreshRacks();
    EXPECT_EQ(form->RackRows[4], 20);
    EXPECT_EQ(form->RackOfRow(20), 4);
    EXPECT_EQ(form->RackOfRow(21), 4);
    EXPECT_EQ(Cell(ColDevice, 20), "madi 2");
    for (int r : {22, 23}) {
        EXPECT_EQ(form->RackOfRow(r), 0) << r;
        for (int c = 0; c < ColCount; ++c) EXPECT_EQ(Cell(c, r), "") << r << "/" << c;
    }
}

TEST_F(RackRowsTest, CardSlotRacksShowOnlyBehindAMadiOrCat5Card) {
    form->RefreshRacks();
    EXPECT_EQ(form->RackRows[1], 0);
    slots[0]->CardType = 21;
    EXPECT_FALSE(form->RackShown(1));
    slots[0]->CardType = 24;
    EXPECT_TRUE(form->RackShown(1));
    form->RefreshRacks();
    EXPECT_EQ(form->RackRows[1], 20);
    EXPECT_EQ(Cell(ColDevice, 20).substr(0, 6), "ostra ");
}

TEST_F(RackRowsTest, RowTextsFollowTheRackTypeAndPort) {
    AddRack(3, 1, 0);
    AddRack(4, 64, 9);
    AddRack(5, 33, 7);
    form->RefreshRacks();
    EXPECT_EQ(Cell(ColDevice, 20), "madi 1");
    EXPECT_EQ(Cell(ColDescription, 20), "Sharc");
    EXPECT_EQ(Cell(ColFile, 20), "Rack.bin");
    EXPECT_EQ(Cell(ColDescription, 21), "FPGA");
    EXPECT_EQ(Cell(ColFile, 21), "Rack.bit");
    EXPECT_EQ(Cell(ColDevice, 22), "opto 2.1");
    EXPECT_EQ(Cell(ColDescription, 22), "Zynq");
    EXPECT_EQ(Cell(ColAvailable, 22), "1.9");
    for (int c = 0; c < ColCount; ++c) EXPECT_EQ(Cell(c, 23), "") << c;  // a Zynq rack has no FPGA row
    EXPECT_EQ(Cell(ColFile, 24), "");  // rack type 7 has no files
    EXPECT_EQ(Cell(ColFile, 25), "");
    EXPECT_EQ(Cell(ColAvailable, 24), "");
}

} // namespace
} // namespace ravelin::app::testing
