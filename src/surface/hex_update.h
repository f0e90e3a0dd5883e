#pragma once
#include <cstdint>
#include <string>

#include "platform/files.h"
#include "platform/update_control.h"
#include "surface/surface_update.h"

namespace ravelin::surface {

class SurfaceLink;

// Panel code for panels without a boot loader: the Intel-HEX file goes out
// line by line, unparsed, one line per message of type 0x09, and the panel
// answers each line before the next goes out. A line is sent at most five
// times.
class HexFileUpdate : public platform::RunningUpdate, public SurfaceUpdate {
public:
    HexFileUpdate(platform::UpdateControl& control, SurfaceLink& link, std::string fileName, int slot)
        : control_(control), link_(link), fileName_(std::move(fileName)), slot_(slot) {}

    // Start_UpdateHexFile. Throws std::runtime_error when the file cannot be
    // opened; the link is then left as it was and the watchdog ends the update.
    void Start() override;
    // No answer within the watchdog's time counts as answer 255.
    void NoAnswer(platform::UpdateControl&) override { Continue_UpdateHexFile(255); }
    // The panel's reply to a line: type 0x09 from the slot being updated.
    void SurfaceMessage(int slot, const std::string& body) override;

    // The panel's reply to the previous line: 0 accepted, anything else
    // rejected; 255 also stands for no reply.
    void Continue_UpdateHexFile(uint8_t prevAck);

    platform::files::LineReader HexFile;
    std::string HexFileBuffer;
    int32_t HexFileRetries = 0;

private:
    // How the update ends, decided from what it saw itself: the link restart
    // that follows may write its own messages, and they change nothing.
    enum class Outcome { Success, ErrorReceived, NoResponse };
    void End_UpdateHexFile(Outcome outcome);
    static Outcome FailureFor(uint8_t ack) { return ack == 255 ? Outcome::NoResponse : Outcome::ErrorReceived; }

    platform::UpdateControl& control_;
    SurfaceLink& link_;
    std::string fileName_;
    int slot_;
    // A rejected or unanswered line makes the end a failure even when the
    // line got through later: the panel's answer said something went wrong.
    Outcome afterRetries_ = Outcome::Success;
    bool ended_ = false;
};

} // namespace ravelin::surface
