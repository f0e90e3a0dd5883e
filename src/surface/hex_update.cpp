#include "surface/hex_update.h"

#include <stdexcept>

#include "app/globals.h"
#include "app/update_control.h"
#include "surface/isa_serial.h"

namespace ravelin::surface {

void HexFileUpdate::Start_UpdateHexFile(const std::string& fileName) {
    auto size = platform::files::size(fileName);
    if (!size || !HexFile.open(fileName)) throw std::runtime_error("Cannot open " + fileName);
    control_.DownloadFileSize = static_cast<int32_t>(*size);
    // The panels take their code without flow control and must not be polled meanwhile.
    link_.CloseSurfaceLink();
    link_.Start_ISAS(false);
    HexFileRetries = 0;
    Continue_UpdateHexFile(0);
}

void HexFileUpdate::Continue_UpdateHexFile(uint8_t prevAck) {
    if (!HexFile.isOpen()) {
        // No file in flight (it could not be opened, or another kind of update
        // stalled on a surface row): nothing was delivered, so this is no success.
        if (control_.UpdatingRow != 0) {
            control_.SetProgressLabel("no response");
            control_.CancelUpdate();
        }
        return;
    }
    if (HexFile.atEnd()) {
        End_UpdateHexFile();
        return;
    }
    const int slot = control_.UpdatingRow - 8;
    if (prevAck != 0 && HexFileRetries > 3) {
        control_.SetMessagePanel(" Error " + std::to_string(prevAck) + " received from port " +
                                 std::to_string(slot));
        End_UpdateHexFile();
        return;
    }
    if (control_.PacketCount == 0) control_.SetMessagePanel(" updating...");
    if (prevAck != 0) {
        ++HexFileRetries;
        app::DisplayMessage(" Error " + std::to_string(prevAck) + ": " + std::to_string(HexFileRetries) +
                            " retries on packet " + std::to_string(control_.PacketCount));
    } else {
        std::string line = HexFile.readLine();
        ++control_.PacketCount;
        // A frame carries at most 254 body bytes: the type and 253 characters.
        // A longer line cannot reach the panel whole, and half a record must
        // never be programmed: the update stops here.
        if (line.size() > 253) {
            control_.SetMessagePanel(" Error: line " + std::to_string(control_.PacketCount) +
                                     " is too long for a panel message");
            End_UpdateHexFile();
            return;
        }
        HexFileBuffer = line;
        control_.DownloadProgress += static_cast<int32_t>(line.size() > 255 ? 255 : line.size()) + 2;
        HexFileRetries = 0;
    }
    control_.ProgressUpdate();
    control_.UpdateTimeoutCount = 6;
    link_.SendSurfaceMessage(slot, std::string(1, '\x09') + HexFileBuffer);
}

void HexFileUpdate::End_UpdateHexFile() {
    HexFile.close();
    link_.CloseSurfaceLink();
    link_.Start_ISAS(true);
    const std::string& msg = control_.MessagePanelText();
    if (msg.find("Error") != std::string::npos) {
        control_.SetProgressLabel(msg.find("255") != std::string::npos ? "no response" : "Error received");
        control_.CancelUpdate();
    } else {
        control_.FinishUpdate();
    }
}

} // namespace ravelin::surface
