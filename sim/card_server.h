#pragma once
// One interface card in an engine slot, listening on TCP port 52001 + slot at
// the virtual engine's address. One connection at a time: a new one replaces
// the old, as when the program reopens its link.

#include "card_protocol.h"

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

namespace ravelin::sim {

constexpr int kCardBasePort = 52001;

class VirtualCard {
public:
    VirtualCard(CardConfig config, std::string bindAddress, CardProtocol::LogFn log = {});
    ~VirtualCard();
    VirtualCard(const VirtualCard&) = delete;
    VirtualCard& operator=(const VirtualCard&) = delete;

    // Listens and starts answering. Throws std::system_error when the
    // address and port cannot be had. Starting twice changes nothing.
    void start();
    void stop();
    bool running() const { return thread_.joinable(); }

    int slot() const { return config_.slot; }
    int port() const { return kCardBasePort + config_.slot; }
    const std::string& address() const { return address_; }

    // Thread-safe views and changes.
    CardRecord record() const;
    bool inBootLoader() const;
    bool connected() const;
    void setVersion(uint8_t v);
    void setSilent(bool on);
    BootLoaderRecord bootLoaderRecord() const;
    FileUpdateRecord fpgaRecord() const;
    uint8_t version() const;
    // The image the rack on the MADI ports programmed last, and how often it
    // programmed one; empty and 0 without a rack.
    std::vector<uint8_t> rackImage() const;
    int rackFlashed() const;
    bool waitFor(const std::function<bool(const CardRecord&)>& pred, std::chrono::milliseconds timeout) const;

private:
    void run();
    void closeClient();

    const CardConfig config_;
    const std::string address_;
    CardProtocol::LogFn log_;
    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    CardProtocol protocol_;
    int listen_ = -1;
    int client_ = -1;
    int wake_ = -1;
    std::thread thread_;
};

} // namespace ravelin::sim
