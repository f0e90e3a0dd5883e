#include "surface/hex_update.h"

#include <stdexcept>

#include "surface/isa_serial.h"

namespace ravelin::surface {

void HexFileUpdate::Start() {
    auto size = platform::files::size(fileName_);
    if (!size || !HexFile.open(fileName_)) throw std::runtime_error("Cannot open " + fileName_);
    control_.SetDownloadFileSize(static_cast<int32_t>(*size));
    // The panels take their code without flow control and must not be polled meanwhile.
    link_.CloseSurfaceLink();
    link_.Start_ISAS(false);
    HexFileRetries = 0;
    Continue_UpdateHexFile(0);
}

void HexFileUpdate::SurfaceMessage(int slot, const std::string& body) {
    if (slot != slot_ || body.empty() || static_cast<uint8_t>(body[0]) != kSurfaceHexLine) return;
    // A reply without its result byte accepts nothing.
    Continue_UpdateHexFile(body.size() > 1 ? static_cast<uint8_t>(body[1]) : 255);
}

void HexFileUpdate::Continue_UpdateHexFile(uint8_t prevAck) {
    if (ended_) return;
    if (!HexFile.isOpen()) {
        // No file in flight (it could not be opened): nothing was delivered,
        // so this is no success.
        ended_ = true;
        control_.CancelUpdate("no response");
        return;
    }
    // The last line's answer is checked like any other: a rejected
    // end-of-file record is sent again, and is no success.
    if (HexFile.atEnd() && prevAck == 0) {
        End_UpdateHexFile(afterRetries_);
        return;
    }
    if (prevAck != 0 && HexFileRetries > 3) {
        control_.SetMessagePanel(" Error " + std::to_string(prevAck) + " received from port " +
                                 std::to_string(slot_));
        End_UpdateHexFile(FailureFor(prevAck));
        return;
    }
    if (control_.PacketCount() == 0) control_.SetMessagePanel(" updating...");
    if (prevAck != 0) {
        ++HexFileRetries;
        afterRetries_ = FailureFor(prevAck);
        control_.DisplayMessage(" Error " + std::to_string(prevAck) + ": " + std::to_string(HexFileRetries) +
                                " retries on packet " + std::to_string(control_.PacketCount()));
        control_.ProgressUpdate();
    } else {
        std::string line = HexFile.readLine();
        // A frame carries at most 254 body bytes: the type and 253 characters.
        // A longer line cannot reach the panel whole, and half a record must
        // never be programmed: the update stops here.
        if (line.size() > 253) {
            control_.SetMessagePanel(" Error: line " + std::to_string(control_.PacketCount() + 1) +
                                     " is too long for a panel message");
            End_UpdateHexFile(Outcome::ErrorReceived);
            return;
        }
        HexFileBuffer = line;
        HexFileRetries = 0;
        control_.StepProgress(static_cast<int32_t>(line.size()) + 2);
    }
    control_.SetWatchdog(6);
    link_.SendSurfaceMessage(slot_, std::string(1, static_cast<char>(kSurfaceHexLine)) + HexFileBuffer);
}

void HexFileUpdate::End_UpdateHexFile(Outcome outcome) {
    ended_ = true;
    HexFile.close();
    link_.CloseSurfaceLink();
    link_.Start_ISAS(true);
    switch (outcome) {
    case Outcome::Success: control_.FinishUpdate(); break;
    case Outcome::ErrorReceived: control_.CancelUpdate("Error received"); break;
    case Outcome::NoResponse: control_.CancelUpdate("no response"); break;
    }
}

} // namespace ravelin::surface
