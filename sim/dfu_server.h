#pragma once
// The virtual boot loader on a Unix stream socket, for the program's socket
// transport (described in README.md, "The host board's USB boot loader").
// One connection at a time is one opened device.

#include "dfu_device.h"

#include <functional>
#include <mutex>
#include <string>
#include <thread>

namespace ravelin::sim {

class DfuServer {
public:
    // Called on the server's thread once the device has taken the RESET
    // command, with the application area as programmed; the server has then
    // stopped listening, as a device that leaves its boot loader vanishes.
    using ResetFn = std::function<void(const std::vector<uint8_t>& application)>;

    DfuServer(std::string socketPath, DfuDeviceConfig config, ResetFn onReset);
    ~DfuServer();
    DfuServer(const DfuServer&) = delete;
    DfuServer& operator=(const DfuServer&) = delete;

    // Starts listening (a fresh device in dfuIDLE); throws std::system_error.
    void start();
    void stop();
    bool listening() const;
    const std::string& path() const { return path_; }
    // Every transfer the device has seen since start().
    std::vector<DfuTransfer> transfers() const;

private:
    void run();
    bool serve(int fd);
    // One request of a connection: false when the connection ends.
    bool answer(int fd, const std::vector<uint8_t>& request);

    std::string path_;
    DfuDeviceConfig config_;
    ResetFn onReset_;
    mutable std::mutex mutex_;
    DfuDevice device_;
    int listen_ = -1;
    int wake_ = -1;
    bool listening_ = false;
    std::thread thread_;
};

// A DFU file as the maker's wrapper writes it: the program command prefix
// (when address is not 0), the payload and the 16-byte suffix with its CRC.
std::vector<uint8_t> dfuFileImage(const std::vector<uint8_t>& payload, uint32_t address, uint16_t vendorId,
                                  uint16_t productId);

} // namespace ravelin::sim
