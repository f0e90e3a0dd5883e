#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/event_loop.h"

// The host microcontroller's USB boot loader as the update sees it: devices
// opened by index, their strings, the image check and a download with
// read-back verification that runs in the background and reports through
// numbered notifications on the user-interface thread.
namespace ravelin::platform {

// Results; 0 is success.
enum DfuResult : int {
    DFU_OK = 0,
    DFU_ERR_HANDLE = -1,
    DFU_ERR_MEMORY = -2,
    DFU_ERR_NOT_FOUND = -3,
    DFU_ERR_UNKNOWN = -4,
    DFU_ERR_UNSUPPORTED = -5,   // the suffix names another device
    DFU_ERR_INVALID_FORMAT = -6,
    DFU_ERR_INVALID_ADDR = -7,
    DFU_ERR_INVALID_SIZE = -8,
    DFU_ERR_DISCONNECTED = -9,
    DFU_ERR_TIMEOUT = -10,
    DFU_ERR_STALL = -11,
    DFU_ERR_DNLOAD_FAIL = -12,
    DFU_ERR_CANT_VERIFY = -13,
    DFU_ERR_VERIFY_FAIL = -14,
    DFU_ERR_ACCESS = -15,       // the system refused us the device: no udev rule
};

// The notifications of a download, with what their parameter carries.
constexpr int kDfuMsgDownload = 1536;  // bytes of the download phase
constexpr int kDfuMsgUpload = 1537;    // bytes of a read-back phase
constexpr int kDfuMsgVerify = 1538;    // bytes of the verification phase
constexpr int kDfuMsgErase = 1539;     // bytes of an erase phase
constexpr int kDfuMsgComplete = 1540;
constexpr int kDfuMsgError = 1541;     // the failed result
constexpr int kDfuMsgProgress = 1542;  // bytes done in the current phase

// The boot loader's own USB IDs.
constexpr uint16_t kDfuVendorId = 0x1CBE;
constexpr uint16_t kDfuProductId = 0x00FF;

// Where the udev rule that lets a user open the boot loader is installed from.
constexpr const char* kDfuUdevRule = "packaging/udev/70-ravelin-dfu.rules";

struct DfuDeviceInfo {
    uint16_t idVendor = 0;
    uint16_t idProduct = 0;
    uint16_t bcdDevice = 0;
    uint16_t transferSize = 0;
    uint8_t attributes = 0;
    uint8_t interfaceNumber = 0;
    uint8_t iManufacturer = 0;
    uint8_t iProduct = 0;
    uint8_t iSerialNumber = 0;
    bool dfuMode = false;         // in the boot loader (not a run-time interface)
    bool tivaExtensions = false;  // answers the maker's query: commands, INFO, read-back
    uint16_t flashBlockSize = 0;
    uint16_t flashBlocks = 0;
    uint32_t partInfo = 0;
    uint32_t classInfo = 0;       // bits 23:16 class, 15:8 major, 7:0 minor revision
    uint32_t flashTop = 0;        // one byte past the highest address the boot loader writes
    uint32_t appStart = 0;
};

using DfuHandle = int;  // 0: none
// A notification (message number, parameter), delivered on the UI thread.
using DfuNotify = std::function<void(int message, uint32_t param)>;

class DfuLibrary {
public:
    virtual ~DfuLibrary() = default;
    virtual int Init() = 0;
    // Opens the index-th DFU device; DFU_ERR_NOT_FOUND past the last one.
    virtual int DeviceOpen(int index, DfuDeviceInfo& info, DfuHandle& handle) = 0;
    virtual int DeviceClose(DfuHandle handle, bool reset) = 0;
    virtual int DeviceASCIIStringGet(DfuHandle handle, uint8_t index, std::string& text) = 0;
    virtual int IsValidImage(DfuHandle handle, const std::vector<uint8_t>& image) = 0;
    // Starts download (and verification) in the background: 0 when started.
    // Progress, then exactly one of COMPLETE or ERROR, reach `notify` on the
    // loop's thread. A close of the handle waits for the download behind it.
    virtual int Download(DfuHandle handle, std::vector<uint8_t> image, bool verify, bool ignoreIDs,
                         DfuNotify notify) = 0;
};

class Clock;
class UsbBus;

// The library over a USB bus: every transfer runs on the library's own
// worker thread; notifications are posted to `loop`.
std::unique_ptr<DfuLibrary> NewDfuLibrary(std::unique_ptr<UsbBus> bus, EventLoop& loop, Clock& clock);
// The library the program uses: the virtual console's device when the folder
// names its socket, the machine's USB otherwise. `why` explains an Init
// failure (libusb missing or not starting).
std::unique_ptr<DfuLibrary> OpenDfuLibrary(const std::string& socketPath, EventLoop& loop, std::string& why);

} // namespace ravelin::platform
