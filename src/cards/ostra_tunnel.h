#pragma once
#include <cstdint>
#include <string_view>

#include "cards/ostra_slot.h"
#include "engine/engine_message.h"

// The tunnel that lets a rack behind an interface card be addressed like a
// rack on an engine port: engine messages for ports 16 and 17 go to the card
// of slot 0 or 1 as MADI control messages, and what the card reports comes
// back as engine messages.
namespace ravelin::cards {

// An engine message (module 11, Band 16 or 17) for the rack behind a card:
// the header, the data bytes from byte 10 and their count. The MADI transmit
// mode (0x0B1B) sets the slot's mode; anything else goes as card message 31.
// Dropped while the slot knows of no card running its firmware (no card has
// reported yet, it waits in its boot loader, or its firmware is being
// updated). False when the slot does not exist.
bool SendToOstraSlot(const tOstraSlots& OstraSlots, engine::tEngineHeader Header, const uint8_t* Data, int Count);

// The engine's device-data message (0x0B15) for the rack on `port`, carrying
// the device data the card collected.
engine::tEngineMessage RackDeviceDataMessage(uint8_t port, const tIODeviceData& DeviceData);

} // namespace ravelin::cards
