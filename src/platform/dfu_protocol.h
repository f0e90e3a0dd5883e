#pragma once
#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/dfu_library.h"
#include "platform/usb_control.h"

// USB DFU 1.1 with the boot loader maker's extensions, on one opened
// interface: identification, the image check, download in transfer-size
// blocks, read-back verification and the reset that starts the new code.
namespace ravelin::platform::dfu {

// Class requests to the interface.
constexpr uint8_t DFU_DETACH = 0;
constexpr uint8_t DFU_DNLOAD = 1;
constexpr uint8_t DFU_UPLOAD = 2;
constexpr uint8_t DFU_GETSTATUS = 3;
constexpr uint8_t DFU_CLRSTATUS = 4;
constexpr uint8_t DFU_GETSTATE = 5;
constexpr uint8_t DFU_ABORT = 6;
constexpr uint8_t kRequestOut = 0x21;
constexpr uint8_t kRequestIn = 0xA1;

// Device states.
enum : uint8_t {
    appIDLE = 0, appDETACH = 1, dfuIDLE = 2, dfuDNLOAD_SYNC = 3, dfuDNBUSY = 4, dfuDNLOAD_IDLE = 5,
    dfuMANIFEST_SYNC = 6, dfuMANIFEST = 7, dfuMANIFEST_WAIT_RESET = 8, dfuUPLOAD_IDLE = 9, dfuERROR = 10,
};
// Status codes.
constexpr uint8_t STATUS_OK = 0;
constexpr uint8_t STATUS_errADDRESS = 8;
constexpr uint8_t STATUS_errNOTDONE = 9;
constexpr uint8_t STATUS_errVENDOR = 11;
constexpr uint8_t STATUS_errCHECK_ERASED = 5;

// The maker's commands: the first byte of an 8-byte DNLOAD sent in dfuIDLE.
constexpr uint8_t TIVA_PROG = 0x01;
constexpr uint8_t TIVA_READ = 0x02;
constexpr uint8_t TIVA_CHECK = 0x03;
constexpr uint8_t TIVA_ERASE = 0x04;
constexpr uint8_t TIVA_INFO = 0x05;
constexpr uint8_t TIVA_BIN = 0x06;
constexpr uint8_t TIVA_RESET = 0x07;
constexpr size_t kTivaCommandLength = 8;
constexpr size_t kTivaInfoLength = 20;
// The query that tells the maker's boot loader from other DFU devices.
constexpr uint8_t kTivaQueryRequest = 0x42;
constexpr uint16_t kTivaQueryValue = 0x23;
constexpr uint16_t kTivaMarker = 0x4C4D;
constexpr uint16_t kTivaVersion = 0x0001;

constexpr unsigned kControlTimeoutMs = 8000;
// The longest the device may stay busy after one block.
constexpr uint32_t kBusyCapMs = 5000;
constexpr uint16_t kUploadLength = 1024;

struct DfuStatus {
    uint8_t bStatus = 0;
    uint32_t bwPollTimeout = 0;
    uint8_t bState = 0;
    uint8_t iString = 0;
};

// What goes to the device for one image: the stream (program command and
// payload padded to whole words) and where it lands.
struct DfuImagePlan {
    std::vector<uint8_t> stream;
    std::vector<uint8_t> payload;  // padded, as the device will hold it
    uint32_t address = 0;
    bool withCommand = false;      // the stream starts with the program command
};

class DfuProtocol {
public:
    using Report = std::function<void(int message, uint32_t param)>;

    DfuProtocol(ControlPipe& pipe, const UsbDfuEntry& entry, Clock& clock);

    // Brings the device to dfuIDLE, asks for the maker's extensions and, when
    // present, the flash geometry. Fills `info`.
    int Identify(DfuDeviceInfo& info);
    // A string descriptor (language 0x0409) as 8-bit text.
    int GetString(uint8_t index, std::string& text);
    // Checks a whole DFU file against the device and plans its stream.
    int Plan(const std::vector<uint8_t>& file, bool ignoreIDs, DfuImagePlan& plan) const;
    // Download, then (with `verify`) read-back; `report` gets the phases and
    // progress. Stops between blocks when *abort turns true.
    int Download(const std::vector<uint8_t>& file, bool verify, bool ignoreIDs, const Report& report,
                 const std::atomic<bool>* abort = nullptr);
    // Starts the application: the RESET command. Failures of the transfers
    // that follow the reset are what a resetting device does, not errors.
    int Reset();

    const DfuDeviceInfo& info() const { return info_; }
    // The first offset that read back wrong after DFU_ERR_VERIFY_FAIL.
    uint32_t verifyFailOffset() const { return verifyFailOffset_; }

    int GetStatus(DfuStatus& status);

private:
    UsbResult control(uint8_t requestType, uint8_t request, uint16_t value, uint8_t* data, uint16_t length);
    int out(uint8_t request, uint16_t value, const uint8_t* data, uint16_t length);
    int command(uint8_t cmd, uint8_t byte1, uint16_t start, uint32_t length);
    // Polls the status until `state`, sleeping as the device asks while it is busy.
    int waitFor(uint8_t state);
    int toIdle();
    int verify(const DfuImagePlan& plan, const Report& report);

    ControlPipe& pipe_;
    UsbDfuEntry entry_;
    Clock& clock_;
    DfuDeviceInfo info_;
    uint32_t verifyFailOffset_ = 0;
};

int ResultOf(UsbOutcome outcome);

} // namespace ravelin::platform::dfu
