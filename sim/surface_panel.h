#pragma once
// One surface panel on its own pseudo-terminal. The console program opens the
// terminal's slave path as if it were the panel's serial port; the panel's
// thread answers on the master side.

#include "panel_protocol.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

namespace ravelin::sim {

class SurfacePanel {
public:
    explicit SurfacePanel(PanelConfig config, PanelProtocol::LogFn log = {});
    ~SurfacePanel();
    SurfacePanel(const SurfacePanel&) = delete;
    SurfacePanel& operator=(const SurfacePanel&) = delete;

    // Opens the pseudo-terminal and starts answering. Throws std::system_error
    // when no pseudo-terminal can be had. Starting twice changes nothing.
    void start();
    // Stops answering and closes the terminal; its path disappears.
    void stop();
    bool running() const { return thread_.joinable(); }

    // The path the program opens; empty while stopped.
    std::string devicePath() const;
    int slot() const { return config_.slot; }
    int comNumber() const;
    const PanelConfig& config() const { return config_; }

    // Thread-safe views of what the panel has received.
    PanelRecord record() const;
    std::vector<std::string> hexLines() const;
    int pollCount() const;
    void clearRecord();
    // Waits until the record satisfies pred, or the timeout passes.
    bool waitFor(const std::function<bool(const PanelRecord&)>& pred,
                 std::chrono::milliseconds timeout) const;

    // Waits until pred holds for the panel's protocol state (its boot loader,
    // its file update), or the timeout passes.
    bool waitForDevice(const std::function<bool(const PanelProtocol&)>& pred,
                       std::chrono::milliseconds timeout) const;
    BootLoaderRecord bootLoaderRecord() const;
    FileUpdateRecord fileUpdateRecord() const;
    bool inBootLoader() const;

    // The version the panel reports in its identity.
    uint8_t version1() const;
    uint8_t version2() const;
    void setVersion(uint8_t v1, uint8_t v2 = 0);
    void setHexBehaviour(const HexReplyBehaviour& behaviour);

private:
    void run();
    void writeAll(const std::vector<uint8_t>& bytes);

    PanelConfig config_;
    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    PanelProtocol protocol_;
    int master_ = -1;
    int slave_ = -1;
    int wake_ = -1;
    std::string path_;
    std::thread thread_;
};

} // namespace ravelin::sim
