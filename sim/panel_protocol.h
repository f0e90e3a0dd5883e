#pragma once
// What a surface panel's running application does with the bytes the console
// program sends it, free of any line or thread: bytes in, reply bytes out.

#include "boot_loader.h"
#include "file_update_device.h"

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace ravelin::sim {

// How a panel answers the hex lines of a code update.
struct HexReplyBehaviour {
    bool silent = false;      // never answers a hex line (it still records them)
    int rejectLine = 0;       // line of the update (1-based) to reject; 0 = none
    int rejectTimes = 0;      // how often that line is rejected before it is taken
    uint8_t rejectCode = 1;   // result byte of a rejection
    int silentAfterLines = 0; // answers no hex line once it has taken this many in an update; 0 = never
};

struct PanelConfig {
    int slot = 1;              // surface slot 0..7 ("ComPort<slot>" in Serial.ini)
    int comNumber = 0;         // COM number in Serial.ini; 0 = 10 + slot
    uint8_t type = 64;         // panel type code of the identity
    uint8_t version1 = 7;      // first version byte of the identity
    uint8_t version2 = 0;      // second version byte (only some panel types use it)
    std::string fpgaDate;      // "ddmmyyyy": what a local I/O unit answers to "W"; empty = no answer
    HexReplyBehaviour hex;
    bool answerAutoBaud = true;   // a running application answers "UU" with 0xAA
    bool adoptHexVersion = true;  // after a whole hex file, report the version the new code carries
    BootLoaderBehaviour bootLoader; // a microcontroller panel's ROM boot loader
    FileUpdateBehaviour fileUpdate; // the local I/O unit's FPGA file update (messages 0x0B)
    // Fault: the pseudo-terminal closes for good once the panel has taken this
    // many update messages (hex lines, boot-loader data packets, FPGA packets); 0 = never.
    int dropAfterUpdateMessages = 0;
};

bool isLocalIOType(uint8_t type);
// The COM number the panel is given in Serial.ini.
inline int panelComNumber(const PanelConfig& c) { return c.comNumber > 0 ? c.comNumber : 10 + c.slot; }

// Everything a panel has received, for tests and for the log.
struct PanelRecord {
    std::vector<std::string> hexLines;         // accepted hex lines, in order, each once
    std::vector<std::string> receivedHexLines; // every hex line as it came, repeats included
    int polls = 0;
    int autoBauds = 0;          // "UU" pairs
    int fpgaDateRequests = 0;   // "W" messages
    int rejections = 0;         // hex lines answered with a reject code
    int badFrames = 0;          // frames whose checksum did not match
    int completedUpdates = 0;   // hex files taken up to their end-of-file record
    std::map<uint8_t, int> messages; // every valid frame, counted by type
};

class PanelProtocol {
public:
    using LogFn = std::function<void(const std::string&)>;

    explicit PanelProtocol(PanelConfig config, LogFn log = {});

    // Bytes from the line; returns the bytes the panel sends back.
    std::vector<uint8_t> receive(const uint8_t* data, std::size_t size);
    std::vector<uint8_t> receive(const std::vector<uint8_t>& data) { return receive(data.data(), data.size()); }

    // The line has gone quiet with part of a frame buffered: the rest is not
    // coming (a bootloader packet, line noise), so the panel forgets it.
    void lineIdle();
    bool hasPartialInput() const { return !input_.empty() || bootLoader_.hasPartialInput(); }

    const PanelConfig& config() const { return config_; }
    const PanelRecord& record() const { return record_; }
    void clearRecord();

    uint8_t version1() const { return version1_; }
    uint8_t version2() const { return version2_; }
    void setVersion(uint8_t v1, uint8_t v2);
    void setHexBehaviour(const HexReplyBehaviour& behaviour);
    const BootLoader& bootLoader() const { return bootLoader_; }
    const FileUpdateDevice& fileUpdate() const { return fileUpdate_; }
    // Hex lines, boot-loader data packets and FPGA packets taken so far.
    int updateMessagesTaken() const
    {
        return int(record_.hexLines.size()) + bootLoader_.record().dataPackets + fileUpdate_.record().packets;
    }

private:
    // Bytes while the boot loader runs; the application takes over after its reset.
    void receiveInBootLoader(const uint8_t* data, std::size_t size, std::vector<uint8_t>& out);
    void handleMessage(uint8_t type, const uint8_t* data, std::size_t size, std::vector<uint8_t>& out);
    void handleHexLine(const std::string& line, std::vector<uint8_t>& out);
    void endHexSession();
    bool validFrameAt(std::size_t pos) const;
    void log(const std::string& text) const;

    PanelConfig config_;
    LogFn log_;
    PanelRecord record_;
    std::vector<uint8_t> input_;
    uint8_t version1_;
    uint8_t version2_;

    // One code update, from its first hex line until polling resumes.
    int sessionAccepted_ = 0;
    int sessionRejects_ = 0;
    uint32_t sessionUpperAddress_ = 0;
    std::optional<uint8_t> sessionVersion_;

    BootLoader bootLoader_;
    FileUpdateDevice fileUpdate_;
};

} // namespace ravelin::sim
