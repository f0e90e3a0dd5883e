#pragma once
// The host board's USB boot loader as a device: DFU 1.1 class requests with
// the boot loader's own commands, its flash as bytes and its quirks (no
// DNBUSY, a busy DNLOAD-SYNC with a 5 ms poll time, stalls that leave the
// state alone, dfuERROR with the status still OK). The socket server and
// the protocol tests drive it one control transfer at a time; it has no
// thread of its own.

#include <cstdint>
#include <string>
#include <vector>

namespace ravelin::sim {

struct DfuDeviceConfig {
    uint16_t vendorId = 0x1CBE;
    uint16_t productId = 0x00FF;
    uint16_t transferSize = 1024;
    uint16_t flashBlockSize = 1024;
    uint16_t flashBlocks = 256;          // flash top = blocks x block size
    uint32_t appStart = 0x2800;
    uint32_t partInfo = 0x10A1606E;
    uint32_t classInfo = 0x00050001;     // class 5, revision 0.1
    int busyPolls = 2;                   // status polls that report DNLOAD-SYNC after each write
    bool extensions = true;              // answers the maker's query and commands
    std::string manufacturer = "Ravelin Virtual Console";
    std::string product = "Device Firmware Upgrade";
    std::string serial = "0.1";

    // Faults, counted in control transfers from 1; 0 = never.
    int stallAt = 0;       // that transfer stalls
    int timeoutAt = 0;     // that transfer gets no answer
    int goneAt = 0;        // the device disappears from that transfer on
    long flipOffset = -1;  // this flash byte (from the application start) reads back changed
    // Faults of a program download, counted in its blocks from 1 (the block
    // with the program command is 1); 0 = never.
    int silentAtBlock = 0;        // from that block on the device answers nothing
    int goneAtBlock = 0;          // the device disappears at that block
    uint8_t lastBlockStatus = 0;  // the download's last block ends in dfuERROR with this status
};

// Silent never goes on the wire: the server sends no reply at all.
enum class DfuOutcome : uint8_t { Done = 0, Stall = 1, Timeout = 2, Gone = 3, Silent = 4 };

struct DfuReply {
    DfuOutcome outcome = DfuOutcome::Done;
    std::vector<uint8_t> data;  // what an IN transfer returns
};

// One control transfer as the device saw it.
struct DfuTransfer {
    uint8_t requestType = 0;
    uint8_t request = 0;
    uint16_t value = 0;
    uint16_t index = 0;
    uint16_t length = 0;
    std::vector<uint8_t> dataOut;
};

class DfuDevice {
public:
    explicit DfuDevice(DfuDeviceConfig config = {});

    DfuReply control(uint8_t requestType, uint8_t request, uint16_t value, uint16_t index,
                     const std::vector<uint8_t>& dataOut, uint16_t length);

    std::vector<uint8_t> deviceDescriptor() const;
    std::vector<uint8_t> configurationDescriptor() const;

    const DfuDeviceConfig& config() const { return config_; }
    // Faults may be changed between transfers.
    DfuDeviceConfig& settings() { return config_; }
    int transferCount() const { return int(log_.size()); }
    uint32_t flashTop() const { return uint32_t(config_.flashBlocks) * config_.flashBlockSize; }
    // The application area as programmed (erased bytes are 0xFF).
    std::vector<uint8_t> application(uint32_t length) const;
    // Bytes programmed by the last complete download, and whether a RESET came.
    uint32_t programmedLength() const { return programmed_; }
    bool wasReset() const { return reset_; }
    uint8_t state() const { return state_; }
    uint8_t status() const { return status_; }
    const std::vector<DfuTransfer>& transfers() const { return log_; }

private:
    DfuReply classRequest(uint8_t request, uint16_t value, const std::vector<uint8_t>& dataOut, uint16_t length);
    DfuReply download(const std::vector<uint8_t>& data);
    DfuReply command(const std::vector<uint8_t>& data);
    DfuReply upload(uint16_t length);
    DfuReply getStatus();
    DfuReply fail(uint8_t status);
    void program(const uint8_t* data, size_t n);
    void busyThen(uint8_t state);
    // Counts a block of a program download; a fault's outcome, or Done.
    DfuOutcome programBlock();

    DfuDeviceConfig config_;
    std::vector<uint8_t> flash_;
    std::vector<DfuTransfer> log_;
    uint8_t state_ = 2;   // dfuIDLE
    uint8_t status_ = 0;
    uint8_t after_ = 2;   // the state once the device is no longer busy
    int busyLeft_ = 0;
    bool binary_ = false;
    bool infoNext_ = false;
    bool reset_ = false;
    int blocks_ = 0;
    bool silent_ = false, gone_ = false;
    uint32_t progAt_ = 0, progLeft_ = 0, progTotal_ = 0, programmed_ = 0;
    uint32_t readStart_ = 0, readLength_ = 0, readDone_ = 0;
    bool readHeaderDue_ = true;
};

} // namespace ravelin::sim
