#pragma once
// The local I/O unit's firmware taking a file (its FPGA) through the
// file-update exchange carried in surface messages of type 0x0B: start with
// the packet count, erase (progress in percent), numbered 128-byte packets each
// acknowledged, finish with the 16-bit byte sum. Numbers are most significant
// byte first both ways. Bodies in, reply bodies out (type byte first).

#include <cstdint>
#include <string>
#include <vector>

namespace ravelin::sim {

struct FileUpdateBehaviour {
    static constexpr uint8_t kEraseSteps[] = {0, 45, 100};
    bool enabled = false;       // the unit takes file updates
    // Erase progress reports before the start is acknowledged (made from an
    // array: GCC 12 warns falsely about a braced list here).
    std::vector<uint8_t> eraseSteps = std::vector<uint8_t>(std::begin(kEraseSteps), std::end(kEraseSteps));
    int errorPacket = -1;       // packet number to answer with errorCode; -1 = none
    int eraseError = 0;         // error code reported during the erase; 0 = none
    uint8_t errorCode = 4;
    bool silent = false;        // never answers
    int silentAfterPackets = -1; // answers nothing more once it has taken this many packets; -1 = never
    int dropAfterPackets = 0;   // the link goes away once it has taken this many packets; 0 = never
    uint8_t finishError = 0;    // the finish is answered with this error, whatever came; 0 = none
};

struct FileUpdateRecord {
    int starts = 0;
    int packets = 0;            // data packets taken
    int finishes = 0;
    int completed = 0;          // files taken whole with a matching sum
    std::vector<uint8_t> file;  // the last file taken whole
};

class FileUpdateDevice {
public:
    static constexpr uint8_t kType = 0x0B;
    // `type`: the message type the exchange travels under (the host board
    // takes its two images under types of their own).
    explicit FileUpdateDevice(FileUpdateBehaviour behaviour = {}, uint8_t type = kType)
        : behaviour_(std::move(behaviour)), type_(type) {}

    // `body` is the message after its type byte.
    std::vector<std::vector<uint8_t>> receive(const uint8_t* body, std::size_t size);
    const FileUpdateRecord& record() const { return record_; }
    const FileUpdateBehaviour& behaviour() const { return behaviour_; }
    // The device's owner closes the link now (a fault): the device cannot.
    bool linkDropDue() const
    {
        return behaviour_.dropAfterPackets > 0 && record_.packets >= behaviour_.dropAfterPackets;
    }

private:
    std::vector<uint8_t> answer(uint8_t kind, uint8_t error, int value = -1) const;

    FileUpdateBehaviour behaviour_;
    uint8_t type_;
    FileUpdateRecord record_;
    std::vector<uint8_t> file_;
    int count_ = 0;
    int next_ = 0;
};

} // namespace ravelin::sim
