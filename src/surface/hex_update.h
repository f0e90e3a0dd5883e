#pragma once
#include <cstdint>
#include <string>

#include "platform/files.h"

namespace ravelin::app {
class UpdateControl;
}

namespace ravelin::surface {

class SurfaceLink;

// Panel code for panels without a bootloader: the Intel-HEX file goes out line
// by line, unparsed, one line per message of type 0x09, and the panel answers
// each line before the next goes out. A line is sent at most five times.
class HexFileUpdate {
public:
    HexFileUpdate(app::UpdateControl& control, SurfaceLink& link) : control_(control), link_(link) {}

    // Throws std::runtime_error when the file cannot be opened; the link is
    // then left as it was.
    void Start_UpdateHexFile(const std::string& fileName);
    // The panel's reply to the previous line: 0 accepted, anything else
    // rejected; 255 also stands for no reply.
    void Continue_UpdateHexFile(uint8_t prevAck);
    void End_UpdateHexFile();
    bool Running() const { return HexFile.isOpen(); }

    platform::files::LineReader HexFile;
    std::string HexFileBuffer;
    int32_t HexFileRetries = 0;

private:
    app::UpdateControl& control_;
    SurfaceLink& link_;
};

} // namespace ravelin::surface
