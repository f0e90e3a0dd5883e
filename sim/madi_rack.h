#pragma once
// A rack on the MADI ports of an interface card. The card passes the rack's
// control messages both ways inside its message 31 and reports what it knows
// of the rack (connection, rack type, assembly date) in messages of its own.
//
// A MADI control message is a run of 16-bit little-endian words: the control
// code, n (the index of the checksum word), the data words, and the sum of
// words 0 .. n - 1. The rack takes a code transfer as a rack on an engine
// port does (start with the file type, packets of file words, end, its check
// of length, checksum and type, then the flash programming) and keeps the
// image it programmed. It plays the faults of a rack on an engine port.

#include "virtual_engine.h"

#include <cstdint>
#include <vector>

namespace ravelin::sim {

class MadiRack {
public:
    using Message = std::vector<uint8_t>;
    explicit MadiRack(VirtualRackConfig config) : config_(config) {}

    // The card's own frame bodies (header first) that report the rack.
    std::vector<Message> deviceDataFrames() const;
    // The rack's version reports, unasked: the card's racks are not polled.
    std::vector<Message> versionReports() const;
    // A control message from the program; the rack's answers. A message that
    // is cut short or whose checksum is wrong gets none.
    std::vector<Message> receive(const uint8_t* data, size_t n);

    const std::vector<uint8_t>& image() const { return image_; }
    int imageType() const { return imageType_; }
    int flashed() const { return flashed_; }
    int messages() const { return messages_; }
    // The card closes its connection now (a fault the rack cannot play itself).
    bool linkDropDue() const { return dropDue_; }

private:
    Message versionReport(uint16_t item) const;

    VirtualRackConfig config_;
    int type_ = 0;
    uint16_t sum_ = 0;
    std::vector<uint16_t> received_;
    std::vector<uint8_t> image_;
    int imageType_ = 0;
    int flashed_ = 0;
    int messages_ = 0;
    int startsRefused_ = 0;
    int packetIndex_ = 0;
    int packetRefusals_ = 0;
    bool silentDone_ = false;
    bool dropDue_ = false;
};

} // namespace ravelin::sim
