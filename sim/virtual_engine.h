#pragma once
// The audio engine of the virtual console: a TCP server on port 52000 of a
// loopback address that speaks the engine's message protocol from the
// engine's side. It answers the program's start-up and version requests,
// reports the racks on its ports, takes engine code downloads and programs
// them into its (pretend) flash, relays rack code transfers to virtual racks,
// and confirms an engine reset. Faults are switched on in its configuration.

#include "update_files.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace ravelin::sim {

inline constexpr int kEngineTcpPort = 52000;

struct VirtualRackConfig {
    int port = 42;                 // engine port
    uint8_t kind = 0;              // device kind
    uint16_t rackType = 1;         // selects the rack's files
    Date assembly{2015, 3, 1};
    Date codeDate{2017, 1, 10};    // reported for items 5 and 30
    Date fpgaDate{2017, 1, 10};    // reported for items 9 and 31
    uint8_t versionMajor = 1;      // reported for item 6 (Zynq racks)
    uint8_t versionMinor = 7;
    // Faults.
    int refuseStart = 0;           // the first N start messages are refused
    int refusePacket = -1;         // this packet (from 0) is refused ...
    int refusePacketTimes = 0;     // ... this many times
    bool wrongCheck = false;       // the transfer check reports a wrong checksum
    uint32_t flashResult = 1;      // 1 successful
    // A packet left unanswered counts as taken by the program, and the rack's
    // check decides; so a rack silent for good would cost 2.5 s a packet.
    int silentPacket = -1;         // this packet (from 0) is neither answered nor taken (once)
    int dropAtPacket = -1;         // the link to the rack (engine or card connection) closes at this packet
};

struct VirtualEngineConfig {
    uint16_t fileSet = 1;
    uint64_t serialNumber = 1234;
    // Which image runs: host, effects, (unused), FPGA; 1 = downloaded.
    std::array<uint8_t, 4> running{1, 1, 0, 1};
    // Dates by engine file type (2 host, 3 effects, 5 FPGA).
    std::map<int, Date> flashDates{{2, {2019, 5, 2}}, {3, {2019, 5, 2}}, {5, {2019, 5, 2}}};
    std::map<int, Date> codeDates{{2, {2021, 9, 30}}, {3, {2021, 9, 30}}, {5, {2021, 9, 30}}};
    // The date a type's code reports once a download of it has been programmed.
    std::map<int, Date> newCodeDates{{2, {2023, 6, 12}}, {3, {2022, 2, 3}}, {5, {2023, 6, 12}}};
    std::vector<VirtualRackConfig> racks{VirtualRackConfig{}};

    // Faults.
    int refuseMs = 0;              // no listening socket for this long after start
    int dropAfterMessages = 0;     // the first connection is closed after N messages
    int silentPacket = -1;         // this packet of an engine download gets no answer (once)
    int sendAgainPacket = -1;      // this packet is answered "send again" ...
    int sendAgainTimes = 1;        // ... this many times
    int checksumErrorPacket = -1;  // this packet is answered "checksum error" (once)
    uint8_t flashError = 0;        // 9..17: the flash programming fails with it
    bool refuseDownload = false;   // start of an engine download refused (status 6)
    bool silentDownload = false;   // no engine download start is ever answered
    int replyDelayMs = 0;          // every answer leaves this much later
};

class VirtualEngine {
public:
    explicit VirtualEngine(VirtualEngineConfig config = {});
    ~VirtualEngine();
    VirtualEngine(const VirtualEngine&) = delete;
    VirtualEngine& operator=(const VirtualEngine&) = delete;

    // Binds the engine port on a loopback address of its own (127.x.y.z,
    // chosen from the process id and a counter; another one is tried while
    // an address is taken). False when none could be bound.
    bool bindLoopback();
    // Binds the engine port on the given address.
    bool bind(const std::string& address);
    const std::string& address() const { return address_; }

    void start();
    void stop();

    // The engine has been reset (by the host board): it numbers its messages
    // afresh and confirms with system message 7.
    void reset();

    VirtualEngineConfig& config() { return config_; }
    // What was received and kept.
    std::vector<uint8_t> engineImage(int type) const;   // the last download of a type, as received
    int flashedCount(int type) const;
    std::vector<uint8_t> rackImage(int port) const;     // the last image a rack programmed
    int rackFileType(int port) const;
    int connections() const { return connections_; }
    int messagesReceived() const { return messages_; }
    std::vector<std::string> lines() const;            // what it did, one line per event

private:
    struct Rack;
    struct Pending {
        int64_t due;  // microseconds
        std::vector<uint8_t> bytes;
    };
    void run();
    bool listenNow();
    void onBytes(const uint8_t* data, size_t n);
    void handle(const std::vector<uint16_t>& w);
    void handleRack(const std::vector<uint16_t>& w, uint32_t header, Rack& rack);
    void dropConnection();
    void reply(uint8_t status, uint32_t header, const std::vector<uint8_t>& data);
    void flushDue();
    void flushDueLocked();
    void note(const std::string& line);
    Rack* rackOnPort(int port);

    VirtualEngineConfig config_;
    std::string address_;
    int listenFd_ = -1;
    int clientFd_ = -1;
    int wake_[2] = {-1, -1};
    std::thread thread_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> resetRequested_{false};
    int64_t startedAt_ = 0;

    mutable std::mutex lock_;
    std::vector<uint16_t> words_;
    int oddByte_ = -1;
    std::vector<Pending> pending_;
    uint16_t sequence_ = 0;
    std::atomic<int> connections_{0};
    std::atomic<int> messages_{0};
    bool dropped_ = false;
    std::vector<std::string> lines_;

    struct Download {
        int type = 0;
        int nextPacket = 0;
        uint16_t sum = 0;
        std::vector<uint8_t> image;
        bool complete = false;
        bool silentDone = false, checksumDone = false;
        int sendAgainLeft = 0;
    } download_;
    std::map<int, std::vector<uint8_t>> engineImages_;
    std::map<int, int> flashed_;
    std::vector<std::unique_ptr<Rack>> racks_;
};

} // namespace ravelin::sim
