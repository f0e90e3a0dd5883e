#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "engine/audio_engine.h"
#include "engine/engine_message.h"
#include "engine/engine_window.h"
#include "engine/rack_table.h"
#include "platform/update_control.h"

// The rack reports that are not file transfers: device data (a rack comes or
// goes on a port), version reports (column 3 of its rows) and boot reports;
// the start-up message to the racks behind the card slots; and the Optocore
// device messages. Only racks the window shows have rows: a rack that is no
// longer shown gets no cell written, though its record stays.
namespace ravelin::engine {

class RackMessages {
public:
    RackMessages(RackTable& racks, EngineWindow& window, platform::UpdateControl& control, AudioEngine& engine)
        : racks_(racks), window_(window), control_(control), engine_(engine) {}

    void DeviceData(const tEngineMessage& m);
    void VersionReport(const tEngineMessage& m);
    void BootReport(const tEngineMessage& m);
    void InitialiseLocalRacks();
    // The periodic version requests of one rack record.
    void RequestRackVersions(int i);

    // Completes the checksum (byte L) and sends the message to the engine.
    void SendOptocoreMessage(std::vector<uint8_t>& message);
    void SetOptocoreDeviceMode(uint8_t device, uint8_t parameter, uint8_t value);

private:
    RackTable& racks_;
    EngineWindow& window_;
    platform::UpdateControl& control_;
    AudioEngine& engine_;
};

// "Rack boot successful", "Rack boot error: ..."; empty for other codes.
std::string RackBootText(uint32_t code);

} // namespace ravelin::engine
