#include <gtest/gtest.h>

#include "fake_update_control.h"
#include "host/host_dfu_update.h"
#include "platform/virtual_event_loop.h"

using namespace ravelin;

namespace {

// On a machine without the host board's boot loader attached, the real USB
// bus lists no device and the window says so.
TEST(LibusbBus, NoBootLoaderOnThisMachine) {
    platform::VirtualEventLoop loop;
    std::string why;
    auto library = platform::OpenDfuLibrary("", loop, why);
    if (library->Init() != platform::DFU_OK) GTEST_SKIP() << "no USB here: " << why;
    platform::DfuDeviceInfo info;
    platform::DfuHandle handle = 0;
    const int rc = library->DeviceOpen(0, info, handle);
    if (rc == platform::DFU_OK && info.idVendor == platform::kDfuVendorId) GTEST_SKIP() << "a boot loader is attached";
    host::testing::FakeUpdateControl control;
    host::HostDfuUpdate update(control, loop, *library, {}, "/nonexistent");
    update.Start();
    loop.advance(2000);
    EXPECT_EQ(update.view().message, "No USB DFU devices found");
}

} // namespace
