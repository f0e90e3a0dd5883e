#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "fake_dfu_library.h"
#include "fake_update_control.h"
#include "host/host_dfu_update.h"
#include "platform/virtual_event_loop.h"

using namespace ravelin;
using namespace ravelin::host;
using namespace ravelin::host::testing;

namespace {

struct DfuWindow : ::testing::Test {
    platform::VirtualEventLoop loop;
    FakeUpdateControl control;
    FakeDfuLibrary library;
    int boots = 0, closes = 0, reopens = 0;
    std::filesystem::path folder;
    std::unique_ptr<HostDfuUpdate> update;

    void SetUp() override {
        folder = std::filesystem::temp_directory_path() /
                 ("ravelin_dfu_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "_" +
                  ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::create_directories(folder);
        library.devices.push_back({});
    }
    void TearDown() override {
        update.reset();
        std::filesystem::remove_all(folder);
    }
    void writeImage() { std::ofstream(folder / "CorvaneTiva.dfu") << "image bytes"; }
    void start() {
        update = std::make_unique<HostDfuUpdate>(
            control, loop, library,
            HostDfuLinks{[this] { ++boots; }, [this] { ++closes; }, [this] { ++reopens; }}, folder.string());
        control.attach(loop, *update);
        update->Start();
    }
    const std::string& label() const { return update->view().message; }
};

TEST_F(DfuWindow, BootsClosesTheLinksAndSearchesEverySecond) {
    library.devices.clear();
    writeImage();
    start();
    EXPECT_EQ(boots, 1);
    EXPECT_EQ(closes, 0);
    EXPECT_EQ(control.total, 100);
    loop.advance(1000);
    EXPECT_EQ(closes, 1);
    EXPECT_EQ(library.opens, 0);
    loop.advance(1000);
    EXPECT_EQ(label(), "No USB DFU devices found");
    EXPECT_EQ(library.opens, 1);
    loop.advance(3000);
    EXPECT_EQ(library.opens, 4) << "one look at the device list a second";
    EXPECT_EQ(control.packets, 0) << "searching is no progress";

    // The board appears: found, read, checked and downloading in one tick.
    library.devices.push_back({});
    loop.advance(1000);
    EXPECT_EQ(library.downloads, 1);
    EXPECT_EQ(label(), "Please wait - downloading firmware");
    EXPECT_EQ(update->view().details,
              (std::vector<std::string>{"Device found:   Vendor ID: 0x1CBE", "Device Name:   Device Firmware Upgrade",
                                        "Manufacturer:  Maker", "Serial Number:  0.1"}));
    EXPECT_EQ(library.image, std::vector<uint8_t>({'i', 'm', 'a', 'g', 'e', ' ', 'b', 'y', 't', 'e', 's'}));
    EXPECT_TRUE(library.closes.back()) << "closed with reset after a started download";
}

TEST_F(DfuWindow, PhasesFillTheBarAndSuccessReopensTheLinks) {
    writeImage();
    start();
    loop.advance(2000);
    ASSERT_TRUE(library.notify);
    library.notify(platform::kDfuMsgDownload, 1000);
    library.notify(platform::kDfuMsgProgress, 1000);
    EXPECT_FLOAT_EQ(control.fractions.back(), 0.5f) << "the download fills half the bar";
    EXPECT_EQ(control.panel, " Please wait - downloading firmware");
    library.notify(platform::kDfuMsgVerify, 1000);
    EXPECT_EQ(control.panel, " Please wait - verifying firmware");
    library.notify(platform::kDfuMsgProgress, 1000);
    EXPECT_FLOAT_EQ(control.fractions.back(), 1.0f);
    library.notify(platform::kDfuMsgComplete, 0);
    EXPECT_EQ(label(), "Device updated successfully");
    EXPECT_EQ(update->view().cancelCaption, "Close");
    EXPECT_FALSE(update->view().confirmVisible);
    EXPECT_FALSE(control.ended());

    loop.advance(5999);
    EXPECT_EQ(reopens, 0) << "the board restarts from its new firmware first";
    loop.advance(1);
    EXPECT_EQ(reopens, 1);
    EXPECT_EQ(control.finished, 1);
    EXPECT_EQ(control.cancelled, 0);
    EXPECT_EQ(control.panel, " Device updated successfully");
    library.notify(platform::kDfuMsgComplete, 0);
    EXPECT_EQ(control.finished, 1) << "the update ends once";
}

TEST_F(DfuWindow, DeadEndsCancelAndReopenTheLinks) {
    struct Case {
        const char* name;
        std::function<void(DfuWindow&)> arrange;
        std::function<void(DfuWindow&)> act;
        std::string label;
    } cases[] = {
        {"library error", [](DfuWindow&) {},
         [](DfuWindow& t) { t.library.notify(platform::kDfuMsgDownload, 10), t.library.notify(platform::kDfuMsgError, 0); },
         "Please wait - downloading firmware - error"},
        {"open error", [](DfuWindow& t) { t.library.failOpenAt = 4; t.library.failOpenResult = -9; },
         [](DfuWindow&) {}, "Open error -9"},
        {"download not started", [](DfuWindow& t) { t.library.downloadResult = -11; }, [](DfuWindow&) {},
         "Download error -11"},
        {"no library", [](DfuWindow& t) { t.library.initResult = -1; }, [](DfuWindow&) {},
         "DFU library not initialised"},
        {"cancel", [](DfuWindow& t) { t.library.validResult = -6; },
         [](DfuWindow& t) { t.update->CancelButtonClick(); }, "Please wait - cancelling"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TearDown();
        control = FakeUpdateControl();
        library = FakeDfuLibrary();
        reopens = 0;
        SetUp();
        writeImage();
        c.arrange(*this);
        start();
        loop.advance(2000);
        c.act(*this);
        EXPECT_EQ(label(), c.label);
        loop.advance(6000);
        EXPECT_EQ(control.cancelled, 1);
        EXPECT_EQ(control.finished, 0);
        EXPECT_EQ(reopens, 1);
    }
    EXPECT_TRUE(library.closes.back()) << "cancelling resets the device";
}

TEST_F(DfuWindow, SearchTexts) {
    struct Case {
        const char* name;
        std::function<void(DfuWindow&)> arrange;
        std::string label;
    } cases[] = {
        {"no file", [](DfuWindow&) {}, "File CorvaneTiva.dfu not found in local folder"},
        {"incompatible", [](DfuWindow& t) { t.writeImage(), t.library.validResult = -5; },
         "File CorvaneTiva.dfu is not compatible with this device"},
        {"permissions", [](DfuWindow& t) { t.library.devices.clear(), t.library.openFailure = -15; },
         "No permission to open the USB DFU device: install packaging/udev/70-ravelin-dfu.rules"},
        {"other product", [](DfuWindow& t) { t.library.devices[0].pid = 0x00FE; }, "No USB DFU devices found"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TearDown();
        library = FakeDfuLibrary();
        SetUp();
        c.arrange(*this);
        start();
        loop.advance(2000);
        EXPECT_EQ(label(), c.label);
        EXPECT_EQ(library.downloads, 0);
    }
    EXPECT_EQ(library.closes, std::vector<bool>{false}) << "a foreign device is closed again without reset";
}

TEST_F(DfuWindow, TwoDevicesTheFirstIsUsedAndCompletionWithoutVerifyDoesNotFinish) {
    library.devices.push_back({});
    library.devices[1].serial = "second";
    writeImage();
    start();
    update->ConfirmRequired = true;
    loop.advance(2000);
    EXPECT_EQ(label(), "Please confirm you want to update this device");
    EXPECT_EQ(update->view().details.size(), 8u);
    EXPECT_TRUE(update->view().confirmEnabled);
    update->ConfirmButtonClick();
    library.notify(platform::kDfuMsgDownload, 100);
    library.notify(platform::kDfuMsgComplete, 0);
    EXPECT_EQ(label(), "Please wait - downloading firmware - completed");
    loop.advance(10000);
    EXPECT_FALSE(control.ended());
}

} // namespace
