#pragma once
// A panel microcontroller's ROM boot loader, as the panel plays it: packets of
// a size byte, a checksum (the sum of command and data) and a command; every
// good packet is answered with ACK 0xCC, a damaged one with NAK 0x33; get
// status adds a status packet. Free of any line or thread: bytes in, reply
// bytes out. Faults to play are chosen in BootLoaderBehaviour.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace ravelin::sim {

struct BootLoaderBehaviour {
    bool capable = false;          // the panel has a boot loader (message 0x03 enters it)
    bool startInBootLoader = false; // the panel sits in its boot loader from the start
    int nakPacket = 0;             // packet (1-based, every packet counted) to NAK; 0 = none
    int nakTimes = 0;              // how often, before it is taken
    int badStatusData = 0;         // data packet (1-based) whose status reports badStatus; 0 = none
    uint8_t badStatus = 0x44;      // flash failure
    int silentAfterData = 0;       // answers nothing more after this many data packets; 0 = never
    bool silentFromStart = false;  // answers nothing at all, not even the synchronisation
};

struct BootLoaderRecord {
    int entries = 0;        // times the boot loader was entered
    int autoBauds = 0;      // "UU" pairs answered
    int packets = 0;        // well-formed packets received
    int naks = 0;           // NAKs sent (damaged or chosen)
    int dataPackets = 0;
    int resets = 0;
    std::vector<uint8_t> image;  // the image of the last completed download
    std::vector<uint8_t> commands; // every command byte received, in order
};

class BootLoader {
public:
    explicit BootLoader(BootLoaderBehaviour behaviour = {});

    bool active() const { return active_; }
    void enter();
    // Bytes from the line; replies are appended to `out`.
    void receive(const uint8_t* data, std::size_t size, std::vector<uint8_t>& out);
    // The version the new image carries (the byte after "version "), once the
    // device has been reset after a whole download; taken only once.
    std::optional<uint8_t> takeNewVersion();
    // Part of a packet that never got its rest (a poll frame that came in
    // before the boot loader was spoken to) is forgotten once the line is quiet.
    bool hasPartialInput() const { return !input_.empty(); }
    void lineIdle() { input_.clear(); }

    const BootLoaderRecord& record() const { return record_; }
    const BootLoaderBehaviour& behaviour() const { return behaviour_; }
    void setBehaviour(const BootLoaderBehaviour& b) { behaviour_ = b; }

private:
    void handlePacket(uint8_t command, const uint8_t* data, std::size_t size, std::vector<uint8_t>& out);

    BootLoaderBehaviour behaviour_;
    BootLoaderRecord record_;
    std::vector<uint8_t> input_;
    std::vector<uint8_t> download_;
    uint32_t expected_ = 0;
    uint8_t status_ = 0x40;
    int naksDone_ = 0;
    bool active_ = false;
    bool silent_ = false;
    std::optional<uint8_t> newVersion_;
};

} // namespace ravelin::sim
