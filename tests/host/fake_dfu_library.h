#pragma once
// A DFU library with devices made up by the test: what is found, what opens,
// what the image check says, and the notifications a download sends, which
// the test delivers itself.

#include <string>
#include <vector>

#include "platform/dfu_library.h"

namespace ravelin::host::testing {

struct FakeDfuLibrary : platform::DfuLibrary {
    struct Device {
        uint16_t vid = platform::kDfuVendorId;
        uint16_t pid = platform::kDfuProductId;
        std::string product = "Device Firmware Upgrade", manufacturer = "Maker", serial = "0.1";
    };
    int initResult = 0;
    int openFailure = platform::DFU_ERR_NOT_FOUND;  // what opening past the last device says
    int failOpenAt = 0;                             // this open call (from 1) fails ...
    int failOpenResult = platform::DFU_ERR_UNKNOWN; // ... with this
    int validResult = 0;
    int downloadResult = 0;
    std::vector<Device> devices;

    int opens = 0;
    std::vector<bool> closes;  // reset flag of every close
    int downloads = 0;
    platform::DfuNotify notify;
    std::vector<uint8_t> image;

    int Init() override { return initResult; }
    int DeviceOpen(int index, platform::DfuDeviceInfo& info, platform::DfuHandle& handle) override {
        ++opens;
        if (index < 0 || size_t(index) >= devices.size()) return openFailure;
        if (opens == failOpenAt) return failOpenResult;
        info = {};
        info.idVendor = devices[size_t(index)].vid;
        info.idProduct = devices[size_t(index)].pid;
        info.iManufacturer = 1;
        info.iProduct = 2;
        info.iSerialNumber = 3;
        handle = index + 1;
        return 0;
    }
    int DeviceClose(platform::DfuHandle, bool reset) override {
        closes.push_back(reset);
        return 0;
    }
    int DeviceASCIIStringGet(platform::DfuHandle handle, uint8_t index, std::string& text) override {
        const Device& d = devices[size_t(handle - 1)];
        text = index == 1 ? d.manufacturer : index == 2 ? d.product : d.serial;
        return 0;
    }
    int IsValidImage(platform::DfuHandle, const std::vector<uint8_t>&) override { return validResult; }
    int Download(platform::DfuHandle, std::vector<uint8_t> bytes, bool verify, bool ignoreIDs,
                 platform::DfuNotify n) override {
        ++downloads;
        if (!verify || ignoreIDs) return platform::DFU_ERR_UNKNOWN;
        image = std::move(bytes);
        notify = std::move(n);
        return downloadResult;
    }
};

} // namespace ravelin::host::testing
