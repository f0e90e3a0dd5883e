#pragma once
// The interface card's side of its link, without any I/O: bytes from the
// console program go in, the card's answers come out.
//
// Frames both ways: a length byte (the bytes after it), a header, data, and a
// checksum, the 8-bit sum of every byte before it. Outside frames the program
// sends "UU" (0x55 0x55) to synchronise; a card running its firmware answers
// 0xAA, a card waiting in its boot loader answers 0x00 0xCC.
//
// The restart message (header 4, data 0) sends the card to its boot loader,
// which then takes the whole connection: ping, download, data, status, reset.
// After the reset the card runs again and reports the version the new image
// names. The running card takes its FPGA file in frames with header 39.

#include "boot_loader.h"
#include "file_update_device.h"
#include "madi_rack.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace ravelin::sim {

struct CardConfig {
    int slot = 0;                      // 0 or 1: TCP port 52001 + slot
    uint8_t type = 20;                 // 20 MADI, 21 ADC, ... as the card reports it
    uint8_t version = 5;               // firmware version
    uint8_t temperature = 41;
    std::string fpgaText = "22/04/2021"; // ten characters
    uint32_t sampleRate = 48000;
    bool startInBootLoader = false;    // the card waits in its boot loader from the start
    bool silent = false;               // fault: the card answers nothing at all
    int dropAfterPolls = 0;            // fault: the card closes the connection at this poll (0: never)
    bool grantClearToSend = true;      // "ClearToSend" after every read of 255 bytes or more
    BootLoaderBehaviour bootLoader;    // faults of the boot loader (refusals, statuses, silence)
    int dropAfterDataPackets = 0;      // fault: the boot loader closes the connection after this many data packets
    FileUpdateBehaviour fpga{.enabled = true}; // the FPGA file update and its faults
    // A rack on the card's MADI ports (its port is not used); a drop of the
    // rack's link closes the card's connection.
    std::optional<VirtualRackConfig> madiRack;
};

// What the card has received, for tests and the log.
struct CardRecord {
    int syncs = 0;          // "UU" pairs
    int polls = 0;          // status polls (header 30)
    int statusRequests = 0; // header 38
    int restarts = 0;       // header 4: restart into the boot loader
    int badFrames = 0;      // checksum errors
    int zeros = 0;          // resynchronisation zero bytes
    std::vector<std::vector<uint8_t>> frames; // every good frame's header and data
};

class CardProtocol {
public:
    using LogFn = std::function<void(const std::string&)>;
    explicit CardProtocol(CardConfig config, LogFn log = {});

    // Takes bytes the program sent; returns the card's answers. `dropLink` is
    // set when the card ends the connection now (a fault).
    std::vector<uint8_t> receive(const uint8_t* data, size_t n, bool& dropLink);

    bool inBootLoader() const { return bootLoader_; }
    const CardRecord& record() const { return record_; }
    void clearRecord() { record_ = {}; }
    const CardConfig& config() const { return config_; }
    void setVersion(uint8_t v) { config_.version = v; }
    void setSilent(bool on) { config_.silent = on; }
    const BootLoaderRecord& bootLoaderRecord() const { return boot_.record(); }
    const FileUpdateRecord& fpgaRecord() const { return fpga_.record(); }
    // The rack on the MADI ports, or null.
    const MadiRack* madiRack() const { return rack_ ? &*rack_ : nullptr; }

    // The status frame the card sends for a poll.
    std::vector<uint8_t> statusFrame() const;

private:
    void handleFrame(const std::vector<uint8_t>& body, std::vector<uint8_t>& out, bool& dropLink);
    void enterBootLoader();
    void serveBootLoader(std::vector<uint8_t>& out, bool& dropLink);
    void log(const std::string& text) const;

    CardConfig config_;
    LogFn log_;
    std::vector<uint8_t> buffer_;
    bool bootLoader_ = false;
    CardRecord record_;
    BootLoader boot_;
    FileUpdateDevice fpga_;
    std::optional<MadiRack> rack_;
    bool rackVersionsDue_ = false;
    bool dropped_ = false;
};

// A card frame around header and data.
std::vector<uint8_t> cardFrame(const std::vector<uint8_t>& body);

} // namespace ravelin::sim
