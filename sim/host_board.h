#pragma once
// The engine host board on its own pseudo-terminal: framed messages (a
// length byte counting what follows, the header, data, and an 8-bit sum of
// everything before it), poll replies, its status with the firmware version
// and the FPGA date text, sample-rate reports, Restart, ResetEngine and Boot,
// which sends it into its USB boot loader (a DfuServer on a Unix socket)
// until the boot loader is told to reset; it then runs the image it was
// given and reports that image's version. It takes its FPGA image (type 39)
// and the USB-audio processor's image (type 40) by the file-update exchange;
// a new FPGA runs, and its date is reported, once the board has restarted.

#include "dfu_server.h"
#include "file_update_device.h"
#include "update_files.h"

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace ravelin::sim {

struct HostBoardConfig {
    int comPort = 5;                    // "EngineComPort" of the settings file
    uint8_t deviceId = 1;
    uint8_t firmware = 13;              // against 14 in "CorvaneTiva.dfu"
    Date fpgaDate{2021, 9, 1};          // against 2022/03/08 in the FPGA file
    std::array<uint32_t, 4> sampleRates{48000, 48000, 48000, 44100};  // reported after each status
    int restartMs = 300;                // silence while the board restarts
    bool silent = false;                // answers nothing at all
    bool bootLoaderAbsent = false;      // on Boot the board goes quiet but its boot loader never opens
    std::string dfuSocketPath;          // empty: a fresh path under the temporary folder
    DfuDeviceConfig dfu;
    // The file updates of the FPGA and the USB-audio image, with their faults
    // (a drop closes the board's pseudo-terminal for good).
    FileUpdateBehaviour fpgaUpdate{.enabled = true};
    FileUpdateBehaviour usbAudioUpdate{.enabled = true};
};

struct HostBoardRecord {
    int polls = 0;
    int statusRequests = 0;
    int restarts = 0;
    int engineResets = 0;
    int boots = 0;
    int badFrames = 0;
    std::vector<std::vector<uint8_t>> messages;  // every frame's header and data, in order
    FileUpdateRecord fpgaUpdate;                 // the images taken whole are kept here
    FileUpdateRecord usbAudioUpdate;
    Date fpgaDate;                               // the date the board reports now
    std::vector<uint8_t> bootLoaderImage;        // the application its boot loader was last given
};

class HostBoard {
public:
    using LogFn = std::function<void(const std::string&)>;

    explicit HostBoard(HostBoardConfig config, LogFn log = {});
    ~HostBoard();
    HostBoard(const HostBoard&) = delete;
    HostBoard& operator=(const HostBoard&) = delete;

    void start();  // throws std::system_error when no pseudo-terminal can be had
    void stop();
    std::string devicePath() const;
    const std::string& dfuSocketPath() const { return dfuPath_; }
    int comNumber() const { return config_.comPort; }

    // The engine's side of ResetEngine: the byte the board answers with
    // (1: the FPGAs run again). Without it the board answers 1.
    void setEngineReset(std::function<uint8_t()> reset);
    void reportSampleRate(int port, uint32_t rate);

    uint8_t firmware() const;
    bool inBootLoader() const;
    HostBoardRecord record() const;
    bool waitFor(const std::function<bool(const HostBoardRecord&)>& pred, std::chrono::milliseconds timeout) const;
    // The boot loader, while the board is in it.
    const DfuServer& dfuServer() const { return *dfu_; }

private:
    void run();
    void receive(const uint8_t* data, size_t n);
    void handle(const std::vector<uint8_t>& message);
    void send(uint8_t header, const std::vector<uint8_t>& data);
    void restartFor(int ms);
    void bootLoaderReset(const std::vector<uint8_t>& application);
    void dropLine();

    HostBoardConfig config_;
    LogFn log_;
    std::string dfuPath_;
    std::string tempDir_;
    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    HostBoardRecord record_;
    std::vector<uint8_t> input_;
    std::vector<uint8_t> output_;
    uint8_t firmware_;
    bool bootLoader_ = false;
    std::chrono::steady_clock::time_point quietUntil_{};
    std::chrono::steady_clock::time_point bootAt_{};  // the boot loader opens its socket then
    std::atomic<bool> stopping_{false};
    std::function<uint8_t()> engineReset_;
    FileUpdateDevice fpgaUpdate_;
    FileUpdateDevice usbAudioUpdate_;
    int fpgaImagesRun_ = 0;  // completed FPGA images the board has restarted into
    Date fpgaDate_;
    std::unique_ptr<DfuServer> dfu_;
    int master_ = -1, slave_ = -1, wake_ = -1;
    std::string path_;
    std::thread thread_;
};

} // namespace ravelin::sim
